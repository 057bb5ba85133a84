// Statement texts: kinds, the parameter scan in both modes, the server text, the scan errors,
// and a generated corpus that holds the scan to its position promises.
#include "SqlTxtRtns.h"
#include "TestSupport.h"

#include "Classes.h"
#include "Programme.h"
#include "fib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

namespace {

const QString CRLF = QStringLiteral("\r\n");

TSQLParser Parsed(const QString& text) {
    TSQLParser parser;
    parser.SetSQLText(text);
    return parser;
}

TSQLKind KindOf(const char* text) {
    return Parsed(S(text)).SQLKind();
}

// The scan as the statement runs it: kind and permission from the parser of the same text.
TParseParamsResult Scan(const QString& text, bool listMode, const TComponent* statement = nullptr) {
    const TSQLParser parser = Parsed(text);
    auto result = ParseParams(text, QChar(u'@'), parser.SQLKind(), parser.CanParamsCheck(),
                              listMode, statement);
    EXPECT_TRUE(result.has_value());
    return result.value_or(TParseParamsResult{});
}

std::vector<TParamOccurrence> List(const QString& text) {
    return Scan(text, true).Params;
}

QString ServerText(const QString& text) {
    return Scan(text, false).ServerText;
}

QStringList Names(const std::vector<TParamOccurrence>& params) {
    QStringList names;
    for (const auto& p : params)
        names << p.Name;
    return names;
}

QString ParseErrorOf(const QString& text, const TComponent* statement = nullptr,
                     bool listMode = true) {
    try {
        Scan(text, listMode, statement);
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), 51);
        return e.Message();
    }
    ADD_FAILURE() << "no parse error for " << text.toStdString();
    return {};
}

// A statement named as the program names its own: frmPrincipale.qryLocale.
struct TStatementOnWindow {
    TComponent window;
    TComponent* query;
    TStatementOnWindow() : query(new TComponent(&window)) {
        window.SetName(S("frmPrincipale"));
        query->SetName(S("qryLocale"));
    }
};

QString ParseMessage(const char* what) {
    return S("SQL Parse Error in :frmPrincipale.qryLocale \r\n\r\n") + S(what);
}

} // namespace

static_assert(skUnknown == 0 && skSelect == 1 && skUpdate == 2 && skInsert == 3 && skDelete == 4 &&
              skExecuteProc == 5 && skDDL == 6 && skExecuteBlock == 7 && skUpdateOrInsert == 8 &&
              sizeof(TSQLKind) == 1);

// ---------------------------------------------------------------------------------------------
// Keywords, leading comments, kinds

TEST(SqlKeywords, WordBoundariesAndCase) {
    EXPECT_TRUE(IsKeywordAt(QLatin1String("WHERE"), u"where", 1));
    EXPECT_TRUE(IsKeywordAt(QLatin1String("WHERE"), u"a)WhErE(b", 3));
    EXPECT_TRUE(IsKeywordAt(QLatin1String("WHERE"), u"a\"WHERE;", 3));
    EXPECT_FALSE(IsKeywordAt(QLatin1String("WHERE"), u"aWHERE b", 2));
    EXPECT_FALSE(IsKeywordAt(QLatin1String("WHERE"), u"(WHERE b", 2));
    EXPECT_FALSE(IsKeywordAt(QLatin1String("WHERE"), u" WHERES", 2));
    EXPECT_FALSE(IsKeywordAt(QLatin1String("WHERE"), u" WHER", 2));
    EXPECT_FALSE(IsKeywordAt(QLatin1String("WHERE"), u" WHERE,", 2));
    EXPECT_FALSE(IsKeywordAt(QLatin1String("WHERE"), u" WHERE", 0));
}

TEST(SqlParser, NewParserAndLeadingComments) {
    TSQLParser fresh;
    EXPECT_EQ(fresh.FirstPos(), 1);
    EXPECT_EQ(fresh.SQLKind(), skUnknown);
    EXPECT_FALSE(fresh.CanParamsCheck());

    const TSQLParser commented = Parsed(S("-- liste\r\n/* a */ (SELECT 1 FROM RDB$DATABASE)\r\n"));
    EXPECT_EQ(commented.Len(), 48);
    EXPECT_EQ(commented.FirstPos(), 20);
    EXPECT_EQ(commented.SQLKind(), skUnknown); // "(" is filler but no keyword predecessor

    const TSQLParser lineComment = Parsed(S("-- x\r\n  select 1\r\n"));
    EXPECT_EQ(lineComment.FirstPos(), 9);
    EXPECT_EQ(lineComment.SQLKind(), skSelect);
    EXPECT_TRUE(lineComment.CanParamsCheck());

    const TSQLParser loneHyphen = Parsed(S("- SELECT 1"));
    EXPECT_EQ(loneHyphen.FirstPos(), 1);
    EXPECT_EQ(loneHyphen.SQLKind(), skUnknown);
}

TEST(SqlParser, Kinds) {
    EXPECT_EQ(KindOf("SELECT * FROM T"), skSelect);
    EXPECT_EQ(KindOf("merge into T using U on 1=1"), skSelect);
    EXPECT_EQ(KindOf("SELECTION"), skUnknown);
    EXPECT_EQ(KindOf("UPDATE T SET A = 1"), skUpdate);
    EXPECT_EQ(KindOf("UPDATE ORDERS SET A = 1"), skUpdate);
    EXPECT_EQ(KindOf("update /* c */\r\n or INSERT INTO T"), skUpdateOrInsert);
    EXPECT_EQ(KindOf("INSERT INTO T VALUES (1)"), skInsert);
    EXPECT_EQ(KindOf("DELETE FROM T"), skDelete);
    EXPECT_EQ(KindOf("EXECUTE PROCEDURE P(1)"), skExecuteProc);
    EXPECT_EQ(KindOf("execute -- x\r\nblock as begin end"), skExecuteBlock);
    EXPECT_EQ(KindOf("EXECUTE STATEMENT 'x'"), skUnknown);
    for (const char* ddl :
         {"ALTER TABLE T ADD C INT", "CREATE TABLE T (C INT)", "COMMENT ON TABLE T IS 'x'",
          "DROP TABLE T", "DECLARE EXTERNAL FUNCTION F", "GRANT ALL ON T TO U",
          "RECREATE VIEW V AS SELECT 1 FROM T", "REVOKE ALL ON T FROM U", "set generator G to 5",
          "SET \"GENERATOR G TO 5"}) {
        const TSQLParser parser = Parsed(S(ddl));
        EXPECT_EQ(parser.SQLKind(), skDDL) << ddl;
        EXPECT_FALSE(parser.CanParamsCheck()) << ddl;
    }
    EXPECT_EQ(KindOf("SET TRANSACTION READ COMMITTED"), skUnknown);
    EXPECT_EQ(KindOf("SAVEPOINT S1"), skUnknown);
    EXPECT_EQ(KindOf("ALTERED"), skUnknown);
    EXPECT_EQ(KindOf(""), skUnknown);
}

TEST(SqlParamMarkers, PreCheck) {
    const QChar at(u'@');
    EXPECT_FALSE(HasParamMarkers(u":", at));
    EXPECT_TRUE(HasParamMarkers(u"SELECT :P", at));
    EXPECT_TRUE(HasParamMarkers(u"SELECT ?P", at));
    EXPECT_TRUE(HasParamMarkers(u"ORDER BY @ORD", at));
    EXPECT_FALSE(HasParamMarkers(u"ORDER BY @ORD", QChar(u'!')));
    EXPECT_FALSE(HasParamMarkers(u"SELECT ':P', \"a:b\" FROM T", at));
    EXPECT_FALSE(HasParamMarkers(u"SELECT 1 /* :P */ FROM T -- :Q\r\n", at));
    EXPECT_TRUE(HasParamMarkers(u"SELECT 1 -- x\r\nWHERE A = :Q\r\n", at));
    EXPECT_TRUE(HasParamMarkers(u"SELECT 1 /* x */ + :Q", at));
}

// The pre-check read character by character, as a reference for the one that searches.
bool MarkersOneByOne(QStringView text, char16_t macro) {
    enum { Normal, InQuotes, InBlockComment, InLineComment } state = Normal;
    char16_t quote = 0;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const char16_t prev = text[i - 1].unicode();
        if (state == Normal) {
            if (c == u'\'' || c == u'"')
                quote = c, state = InQuotes;
            else if (c == u'*' && prev == u'/')
                state = InBlockComment;
            else if (c == u'-' && prev == u'-')
                state = InLineComment;
            else if (c == u':' || c == u'?' || c == macro)
                return true;
        } else if ((state == InQuotes && c == quote) ||
                   (state == InBlockComment && c == u'/' && prev == u'*') ||
                   (state == InLineComment && c == u'\r')) {
            state = Normal;
        }
    }
    return false;
}

TEST(SqlParamMarkers, PreCheckAgreesWithACharacterByCharacterReading) {
    // Every text of up to six characters over the characters that matter, then longer random
    // ones: quotes, comments and markers meeting at their edges.
    const char16_t alphabet[] = u"'\"/*-\r:?@x";
    const int size = int(std::size(alphabet)) - 1;
    QString text;
    auto check = [&] {
        for (const char16_t macro : {u'@', u'*', u'-'})
            ASSERT_EQ(HasParamMarkers(text, QChar(macro)), MarkersOneByOne(text, macro))
                << text.toStdString() << " macro " << char(macro);
    };
    for (int length = 0; length <= 6; ++length) {
        long long total = 1;
        for (int i = 0; i < length; ++i)
            total *= size;
        for (long long code = 0; code < total; ++code) {
            text.resize(length);
            for (long long k = code, i = 0; i < length; ++i, k /= size)
                text[i] = QChar(alphabet[k % size]);
            check();
        }
    }
    std::mt19937 random(20261210);
    for (int round = 0; round < 20000; ++round) {
        text.resize(int(random() % 80));
        for (QChar& c : text)
            c = QChar(
                char16_t(random() % 4 == 0 ? alphabet[random() % size] : u'A' + random() % 26));
        check();
    }
}

// ---------------------------------------------------------------------------------------------
// The program's own texts

TEST(SqlProgramTexts, ModifierUpdate) {
    const QString text = ModifierSQL(S("1234")) + CRLF;
    const auto params = List(text);
    const QStringList attendus = {S("ATTENDU_IBAN"), S("ATTENDU_BIC"), S("ATTENDU_BANQUE")};
    ASSERT_EQ(Names(params), QStringList({S("P0"), S("P1"), S("P2")}) + attendus);
    QString expected = text;
    for (const auto& p : params) {
        // The new values are set, the listed ones compared null-safe: none is ever rewritten
        // into IS NULL.
        EXPECT_EQ(p.InWhereClause, attendus.contains(p.Name)) << p.Name.toStdString();
        EXPECT_FALSE(p.Quoted || p.IsMacro);
        EXPECT_EQ(text.mid(p.BeginPosInText - 1, p.Name.size() + 1), S(":") + p.Name);
        EXPECT_EQ(p.EndPosInText, p.BeginPosInText + p.Name.size());
        expected.replace(S(":") + p.Name, S("?") + QString(p.Name.size(), u' '));
    }
    EXPECT_EQ(ServerText(text), expected);
    EXPECT_EQ(Parsed(text).SQLKind(), skUpdate);
}

TEST(SqlProgramTexts, RecreerStatements) {
    const QString deactivate = RecreerDeactivateSQL(S("77")) + CRLF;
    EXPECT_EQ(Names(List(deactivate)),
              QStringList({S("ATTENDU_IBAN"), S("ATTENDU_BIC"), S("ATTENDU_BANQUE")}));

    // A bank name whose quotes hide a colon and a question mark: neither may become a marker.
    const QString insert = RecreerInsertSQL(S("77"), 4294967301, S("FR7630004000031234567890143"),
                                            S("BNPAFRPP"), S("CRÉDIT D':ARMOR '?x'")) +
                           CRLF;
    EXPECT_EQ(Parsed(insert).SQLKind(), skInsert);
    const auto params = List(insert);
    ASSERT_EQ(Names(params), QStringList({S("CMAN_MANDAT")}));
    EXPECT_FALSE(params[0].InWhereClause);
    EXPECT_EQ(params[0].BeginPosInText, insert.indexOf(S(":CMAN")) + 1);
    EXPECT_EQ(params[0].EndPosInText, params[0].BeginPosInText + 11);
    QString expected = insert;
    expected.replace(S(":CMAN_MANDAT"), S("?           "));
    EXPECT_EQ(ServerText(insert), expected);
}

TEST(SqlProgramTexts, MandateSelects) {
    const QString select =
        S("SELECT CMAN_ID, CMAN_IDCLI, CLI_NOM || ' ' || CLI_PRENOM AS NP, CMAN_ACTIF, "
          "CMAN_IDBANQ, CMAN_IBAN, CMAN_BIC, CMAN_NOMBANQUE, CMAN_MANDAT, BANQ_SOCIETE FROM "
          "CLIENTS_MANDAT INNER JOIN CLIENTS ON (CLI_ID = CMAN_IDCLI) LEFT JOIN BANQUE ON "
          "(BANQ_ID = CMAN_IDBANQ) WHERE (CMAN_IBAN STARTING WITH 'FR') AND ((CMAN_IDBANQ = 12) "
          "OR (SUBSTRING(CMAN_IBAN FROM 5 FOR 5) = '3000''4')) ") +
        CRLF + S("AND (SUBSTRING(CMAN_IBAN FROM 10 FOR 5) = '00031')") + CRLF +
        S("AND (CMAN_ACTIF = -1) ") + CRLF;
    EXPECT_EQ(Parsed(select).SQLKind(), skSelect);
    EXPECT_FALSE(HasParamMarkers(select, QChar(u'@')));
    EXPECT_TRUE(List(select).empty());
    EXPECT_EQ(ServerText(select), select);

    const auto byClient =
        List(S("SELECT * FROM CLIENTS_MANDAT") + CRLF + S("WHERE CMAN_IDCLI = :P") + CRLF);
    ASSERT_EQ(byClient.size(), 1u);
    EXPECT_EQ(byClient[0].Name, S("P"));
    EXPECT_TRUE(byClient[0].InWhereClause);
    EXPECT_TRUE(byClient[0].CanForceIsNull);
}

TEST(SqlProgramTexts, BankSearch) {
    const QString p = S("'%S:O''C?%'");
    const QString text =
        S("SELECT BANQ_ID, BANQ_SOCIETE, BANQ_BIC, COALESCE(BANQ_BANQUE, BANQ_BE_DEBUT || '-' || "
          "BANQ_BE_FIN) AS CODE, BANQ_CODE_PAYS, BANQ_BANQUE, BANQ_BE_DEBUT, BANQ_BE_FIN FROM "
          "BANQUE WHERE (BANQ_ID <> 7) ") +
        CRLF + S("AND ((BANQ_SOCIETE LIKE ") + p + S(") OR (BANQ_BIC LIKE ") + p +
        S(") OR (BANQ_BANQUE LIKE ") + p + S(") OR (BANQ_BE_DEBUT LIKE ") + p +
        S(") OR (BANQ_BE_FIN LIKE ") + p + S(") OR (:P0 BETWEEN BANQ_BE_DEBUT AND BANQ_BE_FIN)) ") +
        CRLF + S("ORDER BY BANQ_SOCIETE") + CRLF;
    const auto params = List(text);
    ASSERT_EQ(Names(params), QStringList({S("P0")}));
    EXPECT_TRUE(params[0].InWhereClause);
    EXPECT_TRUE(params[0].CanForceIsNull);
    EXPECT_EQ(params[0].BeginPosInText, text.indexOf(S(":P0")) + 1);
    QString expected = text;
    expected.replace(S(":P0"), S("?  "));
    EXPECT_EQ(ServerText(text), expected);
}

// ---------------------------------------------------------------------------------------------
// The scan

TEST(SqlScan, WhereClauseFlags) {
    struct TCase {
        const char* text;
        bool inWhere;
        bool canForce;
    };
    const TCase cases[] = {
        {"SELECT :P FROM T WHERE A = 1\r\n", false, false},
        {"SELECT A FROM T WHERE B = :P + 1\r\n", true, false},
        {"SELECT A FROM T WHERE B = :P||'x'\r\n", true, false},
        {"SELECT A FROM T WHERE B = :P * 2\r\n", true, false},
        {"SELECT A FROM T WHERE B = :P - 2\r\n", true, false},
        {"SELECT A FROM T WHERE B = :P / 2\r\n", true, false},
        {"SELECT A FROM T WHERE B = :P -- c\r\n", true, true},
        {"SELECT A FROM T WHERE B = :P /* c */\r\n", true, true},
        {"SELECT A FROM T WHERE B = :P ORDER BY A\r\n", true, true},
        {"SELECT A FROM T WHERE B = :\"p\" + 1\r\n", true, false},
        {"SELECT A FROM T WHERE B = :\"p\"\r\n", true, true},
        {"SELECT A FROM T where (B = :P)\r\n", true, true},
        {"SELECT A FROM T WHERE B = 1 ORDER BY :P\r\n", false, false},
        {"SELECT A FROM T WHERE B = 1 GROUP BY A HAVING COUNT(*) > :P\r\n", false, false},
        {"SELECT A FROM T WHERE B = 1 UNION SELECT :P FROM U\r\n", false, false},
        {"SELECT (SELECT MAX(B) FROM U WHERE U.C = T.C) + :P FROM T\r\n", false, false},
        {"SELECT A FROM T WHERE B IN (SELECT C FROM U WHERE D = 1) AND E = :P\r\n", true, true},
        {"SELECT A FROM T WHERE(B = 1) AND ((C = :P))\r\n", true, true},
        {"SELECT 'WHERE' FROM T /* WHERE */ WHERE_NOT = :P\r\n", false, false},
        {"EXECUTE PROCEDURE P_WHERE (1) WHERE :P\r\n", false, false},
    };
    for (const TCase& c : cases) {
        const auto params = List(S(c.text));
        ASSERT_EQ(params.size(), 1u) << c.text;
        EXPECT_EQ(params[0].InWhereClause, c.inWhere) << c.text;
        EXPECT_EQ(params[0].CanForceIsNull, c.canForce) << c.text;
    }
    // A bracket right after a name closes a level even though the scan never looks at it.
    const auto nested = List(S("SELECT A FROM T WHERE (B = :P) ) + :Q ORDER BY A\r\n"));
    ASSERT_EQ(nested.size(), 2u);
    EXPECT_FALSE(nested[1].InWhereClause);
}

TEST(SqlScan, NamesQuotesAndComments) {
    const QString text =
        S("SELECT :A, ?b, :\"Mixed Case\", :A, 'x'':Y', \"Col:Z\", :C--:D\r\n/* :E */ :F/*:G*/") +
        CRLF;
    const auto params = List(text);
    ASSERT_EQ(Names(params),
              QStringList({S("A"), S("b"), S("Mixed Case"), S("A"), S("C"), S("F")}));
    EXPECT_TRUE(params[2].Quoted);
    EXPECT_FALSE(params[1].Quoted);
    EXPECT_EQ(params[2].BeginPosInText, text.indexOf(S(":\"Mixed")) + 1);
    EXPECT_EQ(params[2].EndPosInText, params[2].BeginPosInText + 12);
    EXPECT_EQ(text.at(params[2].EndPosInText - 1), QChar(u'"'));

    QString expected = text;
    expected.replace(S(":A"), S("? ")).replace(S("?b"), S("? "));
    expected.replace(S(":\"Mixed Case\""), S("?            "));
    expected.replace(S(":C--"), S("? --")).replace(S(":F/*"), S("? /*"));
    EXPECT_EQ(ServerText(text), expected);
}

TEST(SqlScan, ExecuteBlockParametersOnlyBeforeAs) {
    const QString text = S("EXECUTE BLOCK (P INTEGER = :P)") + CRLF + S("RETURNS (R INTEGER) As") +
                         CRLF + S("DECLARE X INTEGER;") + CRLF +
                         S("BEGIN X = :P; R = :X; SUSPEND; END") + CRLF;
    const auto params = List(text);
    ASSERT_EQ(Names(params), QStringList({S("P")}));
    EXPECT_FALSE(params[0].InWhereClause);
    const QString server = ServerText(text);
    EXPECT_EQ(server.mid(params[0].BeginPosInText - 1, 2), S("? "));
    EXPECT_EQ(server.mid(server.indexOf(S("BEGIN"))), text.mid(text.indexOf(S("BEGIN"))));
}

TEST(SqlScan, DDLKeepsColonsAsText) {
    const QString text = S("CREATE PROCEDURE SP (A INT) RETURNS (B INT) AS") + CRLF +
                         S("BEGIN B = :A + ? ; SUSPEND; END") + CRLF;
    EXPECT_TRUE(List(text).empty());
    EXPECT_EQ(ServerText(text), text);
}

TEST(SqlScan, Macros) {
    const QString text = S("SELECT @FIELDS FROM T @@COND%WHERE A = 1@ ORDER BY @ORD%#B\r\n");
    const auto params = List(text);
    ASSERT_EQ(params.size(), 3u);
    ASSERT_EQ(Names(params), QStringList({S("FIELDS"), S("COND"), S("ORD")}));
    EXPECT_TRUE(params[0].IsMacro && params[1].IsMacro && params[2].IsMacro);
    EXPECT_EQ(params[1].DefMacroValue, S("WHERE A = 1"));
    EXPECT_TRUE(params[2].Quoted);
    // Each occurrence spans its whole text, closing macro character included.
    const char* const macros[] = {"@FIELDS", "@@COND%WHERE A = 1@", "@ORD%#B"};
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(text.mid(params[i].BeginPosInText - 1,
                           params[i].EndPosInText - params[i].BeginPosInText + 1),
                  S(macros[i]));

    const TParseParamsResult server = Scan(text, false);
    EXPECT_TRUE(server.Params.empty());
    QString expected = text;
    for (const char* macro : macros)
        expected.replace(S(macro), QString(int(strlen(macro)), u' '));
    EXPECT_EQ(server.ServerText, expected);
}

TEST(SqlScan, SplitMacro) {
    struct TCase {
        QString text;
        QString name;
        QString def;
        bool quoted;
    };
    const TCase cases[] = {
        {S("@NAME"), S("NAME"), QString(), false},
        {S("NAME%a%b"), S("NAME"), S("a%b"), false},
        {S("@N%#x#"), S("N"), S("x#"), true},
        {S("@") + QString(300, u'N') + S("%#"), QString(255, u'N'), QString(), true},
    };
    for (const TCase& c : cases) {
        const TMacroParts parts = SplitMacro(c.text, QChar(u'@'));
        EXPECT_EQ(parts.Name, c.name) << c.text.toStdString();
        EXPECT_EQ(parts.DefMacroValue, c.def) << c.text.toStdString();
        EXPECT_EQ(parts.Quoted, c.quoted) << c.text.toStdString();
    }
    EXPECT_EQ(SplitMacro(S("!@X"), QChar(u'!')).Name, S("@X"));
}

// ---------------------------------------------------------------------------------------------
// Scan errors

void ExpectSameScan(const TParseParamsResult& kept, const TParseParamsResult& fresh) {
    EXPECT_EQ(kept.ServerText, fresh.ServerText);
    ASSERT_EQ(kept.Params.size(), fresh.Params.size());
    for (size_t i = 0; i < kept.Params.size(); ++i) {
        const TParamOccurrence& k = kept.Params[i];
        const TParamOccurrence& f = fresh.Params[i];
        EXPECT_EQ(k.Name, f.Name);
        EXPECT_EQ(k.DefMacroValue, f.DefMacroValue);
        EXPECT_EQ(k.DefMacroValue.isNull(), f.DefMacroValue.isNull());
        EXPECT_EQ(k.Quoted, f.Quoted);
        EXPECT_EQ(k.IsMacro, f.IsMacro);
        EXPECT_EQ(k.InWhereClause, f.InWhereClause);
        EXPECT_EQ(k.CanForceIsNull, f.CanForceIsNull);
        EXPECT_EQ(k.BeginPosInText, f.BeginPosInText);
        EXPECT_EQ(k.EndPosInText, f.EndPosInText);
    }
}

// A result kept from one scan to the next holds exactly what a fresh scan of each text gives,
// whatever the previous text left in it: more or fewer occurrences, macros with defaults,
// quoted names, a failed or silently stopped scan in between.
TEST(SqlScan, AKeptResultReadsAsAFreshOne) {
    const char* const texts[] = {
        "UPDATE T SET A = :P0, B = :P1, C = :\"p2\" WHERE ID = 1",
        "SELECT @@COLS%A, B@ FROM T WHERE X = :X ORDER BY @ORD%#ID",
        "UPDATE T SET A = :P0 WHERE ID = 2",
        "SELECT 'it''s :no' FROM T /* :no */ WHERE Y = ?Y -- :no\r\n",
        "SELECT :",
        "SELECT A FROM T",
        "UPDATE T SET A = :P0, B = :P1, C = :\"p2\" WHERE ID = 123456",
    };
    for (const bool listMode : {true, false}) {
        TParseParamsResult kept;
        for (const char* t : texts) {
            const QString text = S(t);
            SCOPED_TRACE(t);
            const TSQLParser parser = Parsed(text);
            std::optional<TParseParamsResult> fresh;
            QString freshError, keptError;
            bool scanned = false;
            try {
                fresh = ParseParams(text, QChar(u'@'), parser.SQLKind(), parser.CanParamsCheck(),
                                    listMode, nullptr);
            } catch (const EFIBClientError& e) {
                freshError = e.Message();
            }
            try {
                scanned = ParseParamsInto(kept, text, QChar(u'@'), parser.SQLKind(),
                                          parser.CanParamsCheck(), listMode, nullptr);
            } catch (const EFIBClientError& e) {
                keptError = e.Message();
            }
            ASSERT_EQ(keptError, freshError);
            if (!freshError.isEmpty()) continue;
            ASSERT_TRUE(fresh && scanned);
            ExpectSameScan(kept, *fresh);
        }
    }
}

// A statement made once per row differs from the previous text in a number: the previous scan
// moved past it must be what a fresh scan of the new text finds, in both modes, wherever the
// number stands (in a name, a string, a comment, a macro's default, beside a marker).
TEST(SqlScan, AScanMovedToAnotherNumberReadsAsAFreshOne) {
    std::vector<QString> texts = {
        ModifierSQL(S("3041")),
        RecreerDeactivateSQL(S("7")),
        RecreerInsertSQL(S("12"), 9100000001, S("FR7620041010050500013M02606"), S("PSSTFRPPXXX"),
                         S("Banque 2")),
        S("SELECT 'a 12 b', \"C 3\" FROM T1 /* 4 */ WHERE X = :\"p 5 q\" AND Y=6 -- 7\r\n"),
        S("SELECT @M%8@ FROM T WHERE A = :P9 AND B IN (10,11) AND C > 1.5 ORDER BY 2"),
        S("UPDATE T SET A = :P0 , B = ?, C = @C%#1 WHERE ID = 12;"),
        S("SELECT FIRST 10 SKIP 5 A FROM T WHERE B = -3 AND C = :P10 || 4"),
    };
    const char* const pieces[] = {" ",
                                  "=",
                                  "(",
                                  ")",
                                  ",",
                                  "12",
                                  "7",
                                  ":P1",
                                  ":\"a 3\"",
                                  "?",
                                  "@M%4@",
                                  "'x 5'",
                                  "/* 6 */",
                                  "-- 8\r\n",
                                  " WHERE ",
                                  "X1",
                                  "1.5",
                                  "-",
                                  "||",
                                  "\"Q 9\"",
                                  ";",
                                  "SELECT ",
                                  "UPDATE T SET "};
    std::mt19937 random(4107);
    for (int t = 0; t < 400; ++t) {
        QString text = S(t % 2 ? "SELECT A FROM T WHERE " : "UPDATE T SET A = ");
        for (int k = 2 + int(random() % 12); k > 0; --k)
            text += S(pieces[random() % std::size(pieces)]);
        texts.push_back(text);
    }
    int moved = 0;
    for (const bool listMode : {true, false}) {
        for (const QString& before : texts) {
            const TSQLParser parser = Parsed(before);
            std::optional<TParseParamsResult> scan;
            try {
                scan = ParseParams(before, QChar(u'@'), parser.SQLKind(), parser.CanParamsCheck(),
                                   listMode, nullptr);
            } catch (const EFIBClientError&) {
            }
            if (!scan) continue;
            // Every run of digits in turn, written as other numbers.
            for (qsizetype i = 0; i < before.size(); ++i) {
                if (!before[i].isDigit() || (i > 0 && before[i - 1].isDigit())) continue;
                qsizetype end = i;
                while (end < before.size() && before[end].isDigit())
                    ++end;
                for (const char* number : {"0", "9", "123456", "10"}) {
                    const QString after = QString(before).replace(i, end - i, S(number));
                    SCOPED_TRACE((before + S(" -> ") + after).toStdString());
                    TParseParamsResult kept = *scan;
                    if (!MoveScanToOtherNumber(kept, before, after, QChar(u'@'))) {
                        ExpectSameScan(kept, *scan);
                        continue;
                    }
                    ++moved;
                    const TSQLParser afterParser = Parsed(after);
                    ASSERT_EQ(afterParser.SQLKind(), parser.SQLKind());
                    ExpectSameScan(kept,
                                   *ParseParams(after, QChar(u'@'), afterParser.SQLKind(),
                                                afterParser.CanParamsCheck(), listMode, nullptr));
                }
            }
        }
    }
    EXPECT_GT(moved, 1000);
}

TEST(SqlScanErrors, MessagesNameTheStatement) {
    TStatementOnWindow s;
    EXPECT_EQ(ParseErrorOf(S("SELECT ? FROM T\r\n"), s.query),
              ParseMessage("Parameter name expected"));
    EXPECT_EQ(ParseErrorOf(S("SELECT A FROM T WHERE B = : 1\r\n"), s.query, false),
              ParseMessage("Parameter name expected"));
    EXPECT_EQ(ParseErrorOf(S("SELECT A FROM T WHERE B = @ \r\n"), s.query),
              ParseMessage("Parameter name expected"));
    EXPECT_EQ(ParseErrorOf(S("SELECT A FROM T /* open\r\n"), s.query),
              ParseMessage("EOF in comment detected"));
    EXPECT_EQ(ParseErrorOf(S("SELECT A FROM T WHERE B = 'x''\r\n"), s.query, false),
              ParseMessage("EOF in string detected"));
    EXPECT_EQ(ParseErrorOf(S("SELECT \"A FROM T")),
              S("SQL Parse Error in : \r\n\r\nEOF in string detected"));

    EXPECT_EQ(List(S("SELECT A FROM T WHERE B = 'x'")).size(), 0u);
    EXPECT_EQ(List(S("SELECT A FROM T /* c */")).size(), 0u);
    // A comment opener right after a name opens nothing when it ends the text.
    EXPECT_EQ(List(S("SELECT A FROM T WHERE B = :P/*")).size(), 1u);
}

// An occurrence still open at the end of the text was once dropped from the list while the
// server text had it blanked out, so the statement ran without it.
TEST(SqlScanErrors, OccurrencesOpenAtTheEnd) {
    TStatementOnWindow s;
    for (const bool listMode : {true, false}) {
        EXPECT_EQ(
            ParseErrorOf(S("DELETE FROM T WHERE ID = :ID @@C%AND X = 1\r\n"), s.query, listMode),
            ParseMessage("EOF in macro detected"));
        EXPECT_EQ(ParseErrorOf(S("SELECT A FROM T WHERE B = :\"open\r\n"), s.query, listMode),
                  ParseMessage("EOF in string detected"));
        EXPECT_EQ(ParseErrorOf(S("SELECT A FROM T WHERE B = ?"), s.query, listMode),
                  ParseMessage("Parameter name expected"));
        EXPECT_EQ(ParseErrorOf(S("SELECT A FROM T ORDER BY @"), s.query, listMode),
                  ParseMessage("Parameter name expected"));
    }
    // A plain macro ends with the text as it would at a blank.
    const QString text = S("SELECT A FROM T WHERE B = :P ORDER BY @ORD%2");
    const auto list = List(text);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[1].IsMacro);
    EXPECT_EQ(list[1].Name, S("ORD"));
    EXPECT_EQ(list[1].DefMacroValue, S("2"));
    EXPECT_EQ(list[1].BeginPosInText, text.size() - 5);
    EXPECT_EQ(list[1].EndPosInText, text.size());
    EXPECT_EQ(ServerText(text), S("SELECT A FROM T WHERE B = ?  ORDER BY       "));
    // While loading, a missing name at the end stops the scan silently, as elsewhere.
    s.window.BeginLoading();
    EXPECT_FALSE(
        ParseParams(S("SELECT :A, ?"), QChar(u'@'), skSelect, true, true, s.query).has_value());
    EXPECT_EQ(ParseErrorOf(S("SELECT :\"A"), s.query), ParseMessage("EOF in string detected"));
}

TEST(SqlScanErrors, LoadingSilencesOnlyTheMissingName) {
    TStatementOnWindow s;
    s.window.BeginLoading();
    const QString text = S("SELECT :A, ? FROM T\r\n");
    EXPECT_FALSE(ParseParams(text, QChar(u'@'), skSelect, true, true, s.query).has_value());
    EXPECT_EQ(ParseErrorOf(S("SELECT A FROM T /* open\r\n"), s.query),
              ParseMessage("EOF in comment detected"));
    s.window.EndLoading();
    EXPECT_EQ(ParseErrorOf(text, s.query), ParseMessage("Parameter name expected"));
}

// ---------------------------------------------------------------------------------------------
// Generated texts

namespace {

// Builds statement-like texts from fragments that exercise every state of the scan, with
// sprinkled random code units (controls, Latin-1, beyond Latin-1) to hit the odd paths.
class TTextGenerator {
public:
    explicit TTextGenerator(unsigned seed) : FRandom(seed) {}

    QString Next() {
        static const char* const starts[] = {"SELECT ",
                                             "select ",
                                             "UPDATE T SET ",
                                             "UPDATE OR INSERT ",
                                             "INSERT INTO T ",
                                             "DELETE FROM T ",
                                             "EXECUTE PROCEDURE P ",
                                             "EXECUTE BLOCK (",
                                             "CREATE ",
                                             "SET GENERATOR ",
                                             "-- c\r\nSELECT ",
                                             "/* c */ MERGE ",
                                             "",
                                             "("};
        static const char* const pieces[] = {
            "WHERE ", "where(",     " ORDER BY ", " GROUP ",    "HAVING ",  " UNION ", "PLAN ",
            "FOR ",   "START ",     " AS ",       " as\r\n",    "AND ",     "OR ",     "A",
            "B1",     "T.C",        "RDB$X",      "(",          ")",        "))",      " + ",
            "-",      "*",          "/",          "||",         " = ",      ", ",      " ",
            "  ",     "\r\n",       "\n",         "\t",         ";",        "^",       ":P",
            ":P0",    "?Q",         ":a_b",       ":\"Qu ot\"", ":\"",      ":",       "?",
            "? ",     "@M",         "@M%d",       "@M%#q",      "@@M%a b@", "@@M",     "@",
            "'lit'",  "'it''s :x'", "''",         "'",          "\"id:y\"", "\"",      "--c :z\r\n",
            "--",     "/* :w */",   "/*",         "*/",         "%",        "#",       "$",
            ".",      ":P--c\r\n",  ":P/*c*/",    ":\"Q\"+"};
        QString text = S(starts[Pick(std::size(starts))]);
        const int count = int(Pick(24));
        for (int i = 0; i < count; ++i) {
            if (Pick(10) == 0)
                text += QChar(char16_t(Pick(8) == 0 ? 0x100 + Pick(0xFF00) : Pick(256)));
            else
                text += S(pieces[Pick(std::size(pieces))]);
        }
        if (Pick(4) != 0) text += CRLF;
        return text;
    }

private:
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(FRandom); }
    std::mt19937 FRandom;
};

bool IsNameCharacter(QChar c) {
    const char16_t u = c.unicode();
    return u == u'#' || u == u'$' || u == u'%' || u == u'.' || u == u'_' ||
           (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
}

// The position promises of one text, given both scans; returns the first broken one.
std::string Check(const QString& text, const TSQLParser& parser, const TParseParamsResult& list,
                  const TParseParamsResult& server) {
    const qint32 L = qint32(text.size());
    const QString& out = server.ServerText;
    if (out.size() != text.size()) return "server text length";
    std::vector<TParamOccurrence> plain;
    for (const auto& o : list.Params)
        if (!o.IsMacro) plain.push_back(o);
    if (plain.size() != server.Params.size())
        return "text mode lists other parameters than list mode";

    std::vector<bool> covered(size_t(L) + 2, false);
    qint32 lastEnd = 0;
    size_t plainIndex = 0;
    for (const TParamOccurrence& o : list.Params) {
        const qint32 b = o.BeginPosInText, e = o.EndPosInText;
        if (b <= lastEnd || e <= b || e > L) return "occurrence positions out of order or range";
        lastEnd = e;
        if (o.CanForceIsNull && !o.InWhereClause) return "CanForceIsNull outside WHERE";
        if (o.InWhereClause &&
            (parser.SQLKind() == skExecuteProc || parser.SQLKind() == skExecuteBlock))
            return "WHERE tracked in a procedure or block";
        for (qint32 p = b; p <= e; ++p)
            covered[size_t(p)] = true;
        const QChar marker = text.at(b - 1);
        if (o.IsMacro) {
            if (marker != u'@') return "macro does not begin at the macro character";
            if (out.mid(b - 1, e - b + 1) != QString(e - b + 1, u' '))
                return "macro not blanked in the server text";
            continue;
        }
        if (!parser.CanParamsCheck()) return "parameter in a text without parameter check";
        if (marker != u':' && marker != u'?') return "parameter does not begin at a marker";
        if (out.at(b - 1) != u'?' || out.mid(b, e - b) != QString(e - b, u' '))
            return "parameter not replaced by ? and spaces";
        if (o.Quoted) {
            if (text.at(b) != u'"' || text.at(e - 1) != u'"' ||
                text.mid(b + 1, e - b - 2) != o.Name)
                return "quoted name does not match its text";
        } else {
            if (text.mid(b, e - b) != o.Name) return "name does not match its text";
            for (QChar c : o.Name)
                if (!IsNameCharacter(c)) return "name holds a non-name character";
            if (e < L && IsNameCharacter(text.at(e))) return "name cut short";
        }
        const TParamOccurrence& s = server.Params[plainIndex++];
        if (s.Name != o.Name || s.BeginPosInText != b || s.EndPosInText != e ||
            s.Quoted != o.Quoted || s.InWhereClause != o.InWhereClause ||
            s.CanForceIsNull != o.CanForceIsNull)
            return "text mode occurrence differs from list mode";
    }
    // Outside the occurrences the text is copied, except an occurrence still open at the end.
    for (qint32 p = 1; p <= L; ++p) {
        if (covered[size_t(p)] || out.at(p - 1) == text.at(p - 1)) continue;
        // A "?" marker reads the same in both texts, so its open occurrence shows one later.
        const QChar m = text.at(p - 1);
        const bool atMarker = m == u':' || m == u'@';
        if (!atMarker && !(p >= 2 && text.at(p - 2) == u'?' && !covered[size_t(p - 1)]))
            return "character changed outside any occurrence";
        QString tail(L - p + 1, u' ');
        if (m == u':') tail[0] = u'?';
        if (out.mid(p - 1) != tail) return "unfinished occurrence not blanked to the end";
        break;
    }
    // The pre-check may only say "none" where the scan finds none (on texts with the CR LF
    // line ends of statement texts, starting with a letter or a blank: the pre-check never
    // looks at the first character).
    const bool crlfOnly = !text.contains(QChar(0)) &&
                          text.count(QChar(u'\n')) == text.count(CRLF) &&
                          text.count(QChar(u'\r')) == text.count(CRLF);
    if (crlfOnly && L > 0 && (text.at(0).isLetter() || text.at(0) == u' ') &&
        !list.Params.empty() && !HasParamMarkers(text, QChar(u'@')))
        return "pre-check misses a parameter";
    return {};
}

} // namespace

TEST(SqlScanGenerated, PositionPromisesHold) {
    TTextGenerator generator(20240611u);
    int scanned = 0;
    int failed = 0;
    for (int i = 0; i < 20000; ++i) {
        const QString text = generator.Next();
        const TSQLParser parser = Parsed(text);
        std::optional<TParseParamsResult> list, server;
        QString listError, serverError;
        try {
            list = ParseParams(text, QChar(u'@'), parser.SQLKind(), parser.CanParamsCheck(), true,
                               nullptr);
        } catch (const EFIBClientError& e) {
            listError = e.Message();
        }
        try {
            server = ParseParams(text, QChar(u'@'), parser.SQLKind(), parser.CanParamsCheck(),
                                 false, nullptr);
        } catch (const EFIBClientError& e) {
            serverError = e.Message();
        }
        ASSERT_EQ(listError, serverError) << text.toStdString();
        if (!listError.isEmpty()) {
            ++failed;
            continue;
        }
        ASSERT_TRUE(list && server);
        const std::string broken = Check(text, parser, *list, *server);
        ASSERT_EQ(broken, "") << text.toStdString();
        ++scanned;
    }
    // Both outcomes must be well represented, or the corpus tests little.
    EXPECT_GT(scanned, 5000);
    EXPECT_GT(failed, 1000);
}
