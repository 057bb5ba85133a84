// Statements against the tests' private server: the bank change run's own statements with the
// database contents they leave, the prepares the server sees, NULL comparisons, macros, the
// transaction's and the connection's ends, the error hook, blobs and the statement's messages.
#include "CountingClientLibrary.h"
#include "FIBQuery.h"
#include "MotDePasse.h"
#include "Programme.h"
#include "TestSupport.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"

#include "ServerTestMain.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const char* const Scratch = "RAVELIN_ESSAI_REQ";

void Configure(TFIBDatabase& db) {
    ConfigureProgramConnection(db);
    db.SetSynchronizeTime(false);
}

using TCountingQuery = TCountingStatement<TpFIBQuery>;

// A second attachment that looks at what the tested one left behind, and writes the fixtures.
struct TObserver {
    TFIBDatabase db;
    TFIBTransaction tr;
    TFIBQuery q;
    TObserver() {
        Configure(db);
        tr.SetDefaultDatabase(&db);
        tr.TRParams().SetStringList(
            {S("write"), S("read_committed"), S("rec_version"), S("nowait")});
        q.SetDatabase(&db);
        q.SetTransaction(&tr);
        db.Open(true);
    }
    // The first column of the first row as text ("" for no row).
    QString Str(const QString& sql) {
        if (!tr.Active()) tr.StartTransaction();
        q.SQL().SetText(sql);
        q.ExecQuery();
        const QString value = q.Eof() ? QString() : q.Fields(0)->AsString();
        q.Close();
        tr.Commit();
        return value;
    }
    qint64 Int(const QString& sql) {
        if (!tr.Active()) tr.StartTransaction();
        q.SQL().SetText(sql);
        q.ExecQuery();
        const qint64 value = q.Eof() ? -1 : q.Fields(0)->AsInt64();
        q.Close();
        tr.Commit();
        return value;
    }
    void Exec(const QString& sql) {
        if (!tr.Active()) tr.StartTransaction();
        q.SQL().SetText(sql);
        q.ExecQuery();
        tr.Commit();
    }
};

// The main window's objects as the bank change run uses them.
class Statement : public ::testing::Test {
protected:
    void SetUp() override {
        Form.SetName(S("frmPrincipale"));
        Db = new TpFIBDatabase(&Form);
        Db->SetName(S("dbSource"));
        Configure(*Db);
        Tr = new TpFIBTransaction(&Form);
        Tr->SetName(S("transLocale"));
        ConfigureProgramWriteTransaction(*Tr, Db);
        Q = new TCountingQuery(&Form);
        Q->SetName(S("qryLocale"));
        Q->SetDatabase(Db);
        Q->SetTransaction(Tr);
        Db->Open(true);
    }
    void TearDown() override {
        if (Tr->Active()) Tr->Rollback();
    }

    static void SetUpTestSuite() {
        TObserver o;
        o.Exec(Format(S("CREATE TABLE %s (ID INTEGER NOT NULL PRIMARY KEY, V INTEGER, "
                        "T VARCHAR(20), B BLOB SUB_TYPE TEXT)"),
                      S(Scratch)));
        o.Exec(S("CREATE PROCEDURE RAVELIN_ESSAI_DOUBLE (X INTEGER) RETURNS (R INTEGER) AS "
                 "BEGIN R = :X * 2; END"));
    }
    static void TearDownTestSuite() {
        TObserver o;
        o.Exec(S("DROP PROCEDURE RAVELIN_ESSAI_DOUBLE"));
        o.Exec(Format(S("DROP TABLE %s"), S(Scratch)));
    }

    // Scratch rows: 1 with V NULL, 2 with V 5, 3 with V 7.
    static void FillScratch() {
        TObserver o;
        o.Exec(Format(S("DELETE FROM %s"), S(Scratch)));
        o.Exec(Format(S("INSERT INTO %s (ID, V, T) VALUES (1, NULL, 'un')"), S(Scratch)));
        o.Exec(Format(S("INSERT INTO %s (ID, V, T) VALUES (2, 5, 'deux')"), S(Scratch)));
        o.Exec(Format(S("INSERT INTO %s (ID, V, T) VALUES (3, 7, 'trois')"), S(Scratch)));
    }

    // The IDs a select returns, in order.
    std::vector<qint32> Ids(TFIBQuery& q) {
        std::vector<qint32> ids;
        if (!Tr->Active()) Tr->StartTransaction();
        q.ExecQuery();
        while (!q.Eof()) {
            ids.push_back(q.FieldByName(S("ID"))->AsInteger());
            q.Next();
        }
        q.Close();
        return ids;
    }

    TComponent Form;
    TpFIBDatabase* Db = nullptr;
    TpFIBTransaction* Tr = nullptr;
    TCountingQuery* Q = nullptr;
};

// ---------------------------------------------------------------------------------------------
// The bank change run's statements

// A copy of a real mandate (one with every copied column filled, if there is one), made for the
// test and removed after it, so that the demo data stay as they are.
class BankChange : public Statement {
protected:
    void SetUp() override {
        Statement::SetUp();
        Source = O.Int(S("SELECT FIRST 1 CMAN_ID FROM CLIENTS_MANDAT WHERE CMAN_IBAN STARTING 'FR' "
                         "ORDER BY (CASE WHEN CMAN_PAYEUR IS NULL OR CMAN_ADRESSE1 IS NULL OR "
                         "CMAN_ADRESSE2 IS NULL OR CMAN_CPVILLE IS NULL OR CMAN_CREATION_IDCTR IS "
                         "NULL THEN 1 ELSE 0 END), CMAN_ID"));
        ASSERT_GT(Source, 0);
        Mandate = O.Int(S("SELECT GEN_ID(IDGENERIQUE, 1) FROM RDB$DATABASE"));
        O.Exec(Format(S("INSERT INTO CLIENTS_MANDAT (CMAN_ID,CMAN_IDCLI,CMAN_ACTIF,CMAN_SIGNATURE,"
                        "CMAN_IDBANQ,CMAN_IBAN,CMAN_BIC,CMAN_MANDAT,CMAN_PAYEUR,CMAN_NOMBANQUE,"
                        "CMAN_ADRESSE1,CMAN_ADRESSE2,CMAN_CPVILLE,CMAN_CREATION_IDCTR) SELECT %s,"
                        "CMAN_IDCLI,-1,CMAN_SIGNATURE,CMAN_IDBANQ,CMAN_IBAN,CMAN_BIC,"
                        "CMAN_MANDAT,CMAN_PAYEUR,CMAN_NOMBANQUE,CMAN_ADRESSE1,CMAN_ADRESSE2,"
                        "CMAN_CPVILLE,CMAN_CREATION_IDCTR FROM CLIENTS_MANDAT WHERE CMAN_ID = %s"),
                      IntToStr(Mandate), IntToStr(Source)));
        NewBankId =
            O.Int(S("SELECT FIRST 1 BANQ_ID FROM BANQUE WHERE BANQ_ID <> "
                    "(SELECT COALESCE(CMAN_IDBANQ, 0) FROM CLIENTS_MANDAT WHERE CMAN_ID = ") +
                  IntToStr(Mandate) + S(") ORDER BY BANQ_ID"));
        NewBic = O.Str(S("SELECT BANQ_BIC FROM BANQUE WHERE BANQ_ID = ") + IntToStr(NewBankId));
        NewName =
            O.Str(S("SELECT BANQ_SOCIETE FROM BANQUE WHERE BANQ_ID = ") + IntToStr(NewBankId));
    }
    void TearDown() override {
        Statement::TearDown();
        O.Exec(Format(S("DELETE FROM CLIENTS_MANDAT WHERE CMAN_ID = %s OR CMAN_ID > %s AND "
                        "CMAN_IDCLI = (SELECT CMAN_IDCLI FROM CLIENTS_MANDAT WHERE CMAN_ID = %s)"),
                      IntToStr(Mandate), IntToStr(Mandate), IntToStr(Source)));
    }
    QString Column(const char* column, qint64 id) {
        return O.Str(
            Format(S("SELECT %s FROM CLIENTS_MANDAT WHERE CMAN_ID = %s"), S(column), IntToStr(id)));
    }
    // The mandate's account as a listing reads it.
    TCompteMandat Compte(qint64 id) {
        const auto valeur = [&](const char* column) -> std::optional<QString> {
            if (O.Int(Format(S("SELECT COUNT(*) FROM CLIENTS_MANDAT WHERE CMAN_ID = %s AND %s IS "
                               "NULL"),
                             IntToStr(id), S(column))) != 0)
                return std::nullopt;
            return Column(column, id);
        };
        TCompteMandat compte{valeur("CMAN_IBAN"), valeur("CMAN_BIC"), std::nullopt};
        if (const auto banque = valeur("CMAN_IDBANQ")) compte.banque = banque->toLongLong();
        return compte;
    }

    TObserver O;
    qint64 Source = 0;
    qint64 Mandate = 0;
    qint64 NewBankId = 0;
    QString NewBic;
    QString NewName;
    const QString NewIban = S("FR7612345678901234567890104");
};

TEST_F(BankChange, ModifierWritesIbanBicAndBankOnlyWithTwoPrepares) {
    const QString name = Column("CMAN_NOMBANQUE", Mandate);
    const QString reference = Column("CMAN_MANDAT", Mandate);
    const QString sql = ModifierSQL(IntToStr(Mandate));
    TCountingClientLibrary& counts = Q->Counts();

    const TCompteMandat liste = Compte(Mandate);
    Tr->StartTransaction();
    Q->SQL().SetText(sql);
    Q->Prepare();
    ASSERT_EQ(Q->Params()->Count(), 6);
    EXPECT_EQ(Q->ParamName(0), S("P0"));
    EXPECT_EQ(Q->ParamName(2), S("P2"));
    // Unset parameters carry the server's description and stay NULL.
    EXPECT_TRUE(Q->Params()->Vars(0)->IsNull());
    EXPECT_EQ(Q->Params()->Vars(0)->SQLType(), SQL_VARYING);
    EXPECT_EQ(Q->Params()->Vars(2)->SQLType(), SQL_INT64);
    EXPECT_EQ(Q->SQLType(), SQLUpdate);

    Q->ParamByName(S("P0"))->SetAsString(NewIban);
    Q->ParamByName(S("P1"))->SetAsString(NewBic);
    Q->ParamByName(S("P2"))->SetAsInteger(qint32(NewBankId));
    SetCompteAttendu(*Q, liste);
    Q->ExecQuery();
    ASSERT_EQ(counts.LastInput.size(), 6u);
    EXPECT_EQ(std::vector<short>(counts.LastInput.begin(), counts.LastInput.begin() + 3),
              (std::vector<short>{SQL_TEXT, SQL_TEXT, SQL_LONG}));
    EXPECT_EQ(Q->RowsAffected(), 1);
    Q->Close();
    EXPECT_TRUE(Q->Prepared());
    Q->FreeHandle();
    EXPECT_FALSE(Q->Prepared());
    EXPECT_FALSE(Q->HandleAllocated());
    Tr->Commit();

    // Explicit prepare, then the re-preparation at the first execution, with the same text.
    ASSERT_EQ(counts.PreparedTexts.size(), 2);
    EXPECT_EQ(counts.PreparedTexts[0], counts.PreparedTexts[1]);
    EXPECT_EQ(counts.PreparedTexts[0],
              StringToAnsi(S("UPDATE CLIENTS_MANDAT SET CMAN_IBAN = ?  , CMAN_BIC = ?  , "
                             "CMAN_IDBANQ = ?   WHERE CMAN_ID = ") +
                           IntToStr(Mandate) + S(" AND CMAN_IBAN IS NOT DISTINCT FROM ?") +
                           QString(12, u' ') + S(" AND CMAN_BIC IS NOT DISTINCT FROM ?") +
                           QString(11, u' ') + S(" AND CMAN_IDBANQ IS NOT DISTINCT FROM ?") +
                           QString(14, u' ') + S("\r\n")));

    EXPECT_EQ(Column("CMAN_IBAN", Mandate), NewIban);
    EXPECT_EQ(Column("CMAN_BIC", Mandate), NewBic);
    EXPECT_EQ(Column("CMAN_IDBANQ", Mandate), IntToStr(NewBankId));
    EXPECT_EQ(Column("CMAN_NOMBANQUE", Mandate), name);
    EXPECT_EQ(Column("CMAN_ACTIF", Mandate), S("-1"));
    EXPECT_EQ(Column("CMAN_MANDAT", Mandate), reference);
}

TEST_F(BankChange, RecreerDeactivatesAndInsertsTheCopy) {
    const QString oldIban = Column("CMAN_IBAN", Mandate);
    const QString newReference = RecreerReference(Column("CMAN_MANDAT", Mandate));
    TCountingClientLibrary& counts = Q->Counts();

    const TCompteMandat liste = Compte(Mandate);
    Tr->StartTransaction();
    Q->SQL().SetText(RecreerDeactivateSQL(IntToStr(Mandate)));
    Q->Prepare();
    EXPECT_EQ(Q->Params()->Count(), 3);
    SetCompteAttendu(*Q, liste);
    Q->ExecQuery();
    EXPECT_EQ(Q->RowsAffected(), 1);
    Q->Close();
    Q->FreeHandle();
    // Prepared again at its first execution, as every statement with parameters.
    EXPECT_EQ(counts.PreparedTexts.size(), 2);

    const QString insert = RecreerInsertSQL(IntToStr(Mandate), NewBankId, NewIban, NewBic, NewName);
    Q->SQL().SetText(insert);
    Q->Prepare();
    Q->ParamByName(S("CMAN_MANDAT"))->SetAsString(newReference);
    Q->ExecQuery();
    EXPECT_EQ(Q->SQLType(), SQLInsert);
    EXPECT_EQ(Q->RowsAffected(), 1);
    Q->Close();
    Q->FreeHandle();
    Tr->Commit();
    EXPECT_EQ(counts.PreparedTexts.size(), 4);

    const qint64 created = O.Int(S("SELECT GEN_ID(IDGENERIQUE, 0) FROM RDB$DATABASE"));
    ASSERT_GT(created, Mandate);
    EXPECT_EQ(Column("CMAN_IDCLI", created), Column("CMAN_IDCLI", Mandate));
    EXPECT_EQ(Column("CMAN_ACTIF", created), S("-1"));
    EXPECT_EQ(Column("CMAN_IDBANQ", created), IntToStr(NewBankId));
    EXPECT_EQ(Column("CMAN_IBAN", created), NewIban);
    EXPECT_EQ(Column("CMAN_BIC", created), NewBic);
    EXPECT_EQ(Column("CMAN_MANDAT", created), newReference);
    EXPECT_EQ(Column("CMAN_NOMBANQUE", created), NewName);
    EXPECT_EQ(O.Int(Format(S("SELECT COUNT(*) FROM CLIENTS_MANDAT N, CLIENTS_MANDAT O WHERE "
                             "N.CMAN_ID = %s AND O.CMAN_ID = %s AND "
                             "N.CMAN_SIGNATURE = CURRENT_DATE AND "
                             "N.CMAN_PAYEUR IS NOT DISTINCT FROM O.CMAN_PAYEUR AND "
                             "N.CMAN_ADRESSE1 IS NOT DISTINCT FROM O.CMAN_ADRESSE1 AND "
                             "N.CMAN_ADRESSE2 IS NOT DISTINCT FROM O.CMAN_ADRESSE2 AND "
                             "N.CMAN_CPVILLE IS NOT DISTINCT FROM O.CMAN_CPVILLE AND "
                             "N.CMAN_CREATION_IDCTR IS NOT DISTINCT FROM O.CMAN_CREATION_IDCTR"),
                           IntToStr(created), IntToStr(Mandate))),
              1);
    EXPECT_EQ(Column("CMAN_ACTIF", Mandate), S("0"));
    EXPECT_EQ(Column("CMAN_IBAN", Mandate), oldIban);
}

TEST_F(BankChange, ExecutingAgainDoesNotPrepareAgain) {
    TCountingClientLibrary& counts = Q->Counts();
    Tr->StartTransaction();
    Q->SQL().SetText(S("UPDATE CLIENTS_MANDAT SET CMAN_BIC = :P1 WHERE CMAN_ID = ") +
                     IntToStr(Mandate));
    Q->Prepare();
    Q->ParamByName(S("P1"))->SetAsString(S("AAAAFRPP"));
    Q->ExecQuery();
    Q->ParamByName(S("P1"))->SetAsString(NewBic);
    Q->ExecQuery();
    Tr->Commit();
    EXPECT_EQ(counts.PreparedTexts.size(), 2);
    EXPECT_EQ(counts.Executes, 2);
    EXPECT_EQ(Column("CMAN_BIC", Mandate), NewBic);
}

// ---------------------------------------------------------------------------------------------
// Rows, columns and NULL comparisons

class Rows : public Statement {
protected:
    void SetUp() override {
        Statement::SetUp();
        FillScratch();
    }
};

TEST_F(Rows, WalksASelectAndReadsItsColumns) {
    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("SELECT ID, V, T AS LIBELLE FROM %s ORDER BY ID"), S(Scratch)));
    EXPECT_TRUE(Q->Eof());
    Q->ExecQuery();
    ASSERT_EQ(Q->FieldCount(), 3);
    EXPECT_EQ(Q->Fields(2)->Name(), S("LIBELLE"));
    EXPECT_EQ(Q->FieldIndex(S("V")), 1);
    EXPECT_EQ(Q->FieldIndex(S("NONE")), -1);
    EXPECT_EQ(Q->RecordCount(), 1);
    EXPECT_TRUE(Q->FieldByName(S("V"))->IsNull());
    EXPECT_EQ(Q->FieldByName(S("LIBELLE"))->AsString(), S("un"));
    ASSERT_NE(Q->Next(), nullptr);
    EXPECT_EQ(Q->FieldByName(S("V"))->AsInteger(), 5);
    ASSERT_NE(Q->Next(), nullptr);
    EXPECT_EQ(Q->Current()->Vars(0)->AsInteger(), 3);
    EXPECT_EQ(Q->Next(), nullptr);
    EXPECT_TRUE(Q->Eof());
    EXPECT_EQ(Q->RecordCount(), 3);
    // The buffers keep the last row; a further Next does not reach the server.
    EXPECT_EQ(Q->FieldByName(S("LIBELLE"))->AsString(), S("trois"));
    EXPECT_EQ(Q->Next(), nullptr);
    EXPECT_EQ(Q->RowsAffected(), 3);

    // Executing an open select starts over.
    Q->ExecQuery();
    EXPECT_EQ(Q->RecordCount(), 1);
    EXPECT_EQ(Q->Fields(0)->AsInteger(), 1);
    Q->Close();
    EXPECT_FALSE(Q->Open());
    EXPECT_TRUE(Q->Prepared());
}

TEST_F(Rows, NullParameterComparisonsAreRewritten) {
    const QString table = S(Scratch);
    TCountingClientLibrary& counts = Q->Counts();
    Q->SQL().SetText(Format(S("SELECT ID FROM %s WHERE V = :P ORDER BY ID"), table));
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{1});
    EXPECT_EQ(Q->SQLParams()->Count(), 0);
    EXPECT_TRUE(counts.PreparedTexts.back().contains(" IS NULL "));

    Q->ParamByName(S("p"))->SetAsInteger(5);
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{2});
    EXPECT_TRUE(counts.PreparedTexts.back().contains("V = ?"));

    Q->ParamByName(S("P"))->Clear();
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{1});

    Q->SQL().SetText(Format(S("SELECT ID FROM %s WHERE V <> :P ORDER BY ID"), table));
    EXPECT_EQ(Ids(*Q), (std::vector<qint32>{2, 3}));
    EXPECT_TRUE(counts.PreparedTexts.back().contains(" IS NOT NULL "));

    Q->SQL().SetText(Format(S("SELECT ID FROM %s WHERE V >= :P ORDER BY ID"), table));
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{});

    Q->SQL().SetText(Format(S("SELECT ID FROM %s WHERE V = :P + 0 ORDER BY ID"), table));
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{});

    Q->SetOptions(qoNoForceIsNull);
    Q->SQL().SetText(Format(S("SELECT ID FROM %s WHERE V = :P ORDER BY ID"), table));
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{});
}

TEST_F(Rows, MacrosChangeTheText) {
    Q->SQL().SetText(S("SELECT ID FROM ") + S(Scratch) + S(" WHERE @@COND%V IS NULL@ ORDER BY ID"));
    EXPECT_EQ(Q->DefMacroValue(S("COND")), S("V IS NULL"));
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{1});
    Q->ParamByName(S("COND"))->SetAsString(S("V > :LIMITE"));
    // The parameter only the expanded macro brings in is reached by name.
    Q->ParamByName(S("LIMITE"))->SetAsInteger(5);
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{3});
    Q->RestoreMacroDefaultValues();
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{1});
}

TEST_F(Rows, RowsAffectedCountsTheStatementsRows) {
    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("UPDATE %s SET T = 'x' WHERE V IS NOT NULL"), S(Scratch)));
    Q->ExecQuery();
    EXPECT_EQ(Q->RowsAffected(), 2);
    const TAllRowsAffected all = Q->AllRowsAffected();
    EXPECT_EQ(all.Updates, 2);
    EXPECT_EQ(all.Inserts, 0);
    EXPECT_EQ(all.Deletes, 0);
    Q->SQL().SetText(Format(S("DELETE FROM %s WHERE ID = 3"), S(Scratch)));
    Q->ExecQuery();
    EXPECT_EQ(Q->RowsAffected(), 1);
    Tr->Rollback();
}

// ---------------------------------------------------------------------------------------------
// Ends of the transaction and of the connection

TEST_F(Rows, CommitClosesAnOpenSelectCommitRetainingDoesNot) {
    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("SELECT ID FROM %s ORDER BY ID"), S(Scratch)));
    Q->ExecQuery();
    Tr->CommitRetaining();
    EXPECT_TRUE(Q->Open());
    ASSERT_NE(Q->Next(), nullptr);
    EXPECT_EQ(Q->Fields(0)->AsInteger(), 2);
    Tr->Commit();
    EXPECT_FALSE(Q->Open());
    EXPECT_TRUE(Q->Eof());
    // The prepared statement outlives the transaction.
    Tr->StartTransaction();
    Q->ExecQuery();
    EXPECT_EQ(Q->Fields(0)->AsInteger(), 1);
}

TEST_F(Rows, DisconnectDropsTheServerStatement) {
    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("SELECT ID FROM %s ORDER BY ID"), S(Scratch)));
    Q->ExecQuery();
    Db->Close();
    EXPECT_FALSE(Q->Open());
    EXPECT_FALSE(Q->Prepared());
    EXPECT_FALSE(Q->HandleAllocated());
    Db->Open(true);
    EXPECT_EQ(Ids(*Q), (std::vector<qint32>{1, 2, 3}));
}

TEST_F(Rows, TextChangeWhileOpenIsRefusedAndKeepsTheText) {
    Tr->StartTransaction();
    const QString text = Format(S("SELECT ID FROM %s ORDER BY ID"), S(Scratch));
    Q->SQL().SetText(text);
    Q->ExecQuery();
    const auto e =
        Raised<EFIBClientError>([&] { Q->SQL().SetText(S("SELECT 1 FROM RDB$DATABASE")); });
    EXPECT_EQ(e.Message(),
              S("Can't change sql text because frmPrincipale.qryLocale dataset open."));
    EXPECT_EQ(e.SQLCode(), 28);
    EXPECT_EQ(Q->SQL().Text(), text + S("\r\n"));
    EXPECT_TRUE(Q->Open());
}

// A statement whose transaction was taken away still tells the end of its rows from a row.
TEST_F(Rows, WithoutTransactionTheEndOfTheRowsIsNoRow) {
    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("SELECT ID FROM %s ORDER BY ID"), S(Scratch)));
    Q->ExecQuery();
    Q->SetTransaction(nullptr);
    EXPECT_EQ(Q->Call(isc_segstr_eof, false), isc_segstr_eof);
    int rows = 1;
    while (Q->Next() && rows < 10)
        ++rows;
    EXPECT_EQ(rows, 3);
    EXPECT_TRUE(Q->Eof());
    EXPECT_EQ(Q->RecordCount(), 3);
    EXPECT_EQ(Q->Fields(0)->AsInteger(), 3);
    Q->Close();
}

// The previous statement must not run under a text that could not be read.
TEST_F(Rows, AFailedTextChangeLeavesNothingToRun) {
    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("DELETE FROM %s WHERE ID = 3"), S(Scratch)));
    Q->Prepare();
    const QString broken = Format(S("DELETE FROM %s WHERE ID = :P AND T = 'x"), S(Scratch));
    const auto scan = Raised<EFIBClientError>([&] { Q->SQL().SetText(broken); });
    EXPECT_TRUE(scan.Message().endsWith(S("EOF in string detected")));
    EXPECT_FALSE(Q->Prepared());
    EXPECT_TRUE(Q->ProcessedSQL().isEmpty());
    const auto again = Raised<EFIBClientError>([&] { Q->ExecQuery(); });
    EXPECT_EQ(again.Message(), scan.Message());
    Tr->Commit();
    EXPECT_EQ(TObserver().Int(Format(S("SELECT COUNT(*) FROM %s"), S(Scratch))), 3);

    // A good text afterwards works as ever.
    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("DELETE FROM %s WHERE ID = :P"), S(Scratch)));
    Q->ParamByName(S("P"))->SetAsInteger(3);
    Q->ExecQuery();
    Tr->Commit();
    EXPECT_EQ(TObserver().Int(Format(S("SELECT COUNT(*) FROM %s"), S(Scratch))), 2);
}

TEST_F(Rows, TextsGoOutWholeOrNotAtAll) {
    const QString table = S(Scratch);
    auto refus = [](const char* code, qsizetype index) {
        return Format(S("Character U+%s at position %d cannot be sent in the connection's "
                        "character set."),
                      S(code), qint32(index + 1));
    };
    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("DELETE FROM %s WHERE ID = 3"), table));
    Q->Prepare();

    // No parameter: refused as the text is set; neither it nor the previous text runs after.
    const QString plain = Format(S("DELETE FROM %s WHERE T = 'Ω' OR ID > 0"), table);
    const auto e = Raised<EFIBClientError>([&] { Q->SQL().SetText(plain); });
    EXPECT_EQ(e.Message(), refus("03A9", plain.indexOf(u'Ω')));
    EXPECT_FALSE(Q->Prepared());
    EXPECT_EQ(Raised<EFIBClientError>([&] { Q->ExecQuery(); }).Message(), e.Message());

    // With a parameter the text is sent at the prepare; its marker keeps the name's width.
    const QString marked = Format(S("DELETE FROM %s WHERE ID = :P OR T = '中'"), table);
    Q->SQL().SetText(marked);
    EXPECT_EQ(Raised<EFIBClientError>([&] { Q->Prepare(); }).Message(),
              refus("4E2D", marked.indexOf(u'中')));
    EXPECT_FALSE(Q->Prepared());

    // A text value: refused as it is set, the value before it kept and used.
    Q->SQL().SetText(Format(S("DELETE FROM %s WHERE T = :T"), table));
    Q->Prepare();
    TFIBXSQLVAR* t = Q->ParamByName(S("T"));
    t->SetAsString(S("trois"));
    EXPECT_EQ(Raised<EFIBClientError>([&] { t->SetAsString(S("trois 😀")); }).Message(),
              refus("1F600", 6));
    EXPECT_EQ(t->AsString(), S("trois"));
    Q->ExecQuery();
    EXPECT_EQ(Q->RowsAffected(), 1);
    Tr->Commit();
    EXPECT_EQ(TObserver().Int(Format(S("SELECT COUNT(*) FROM %s"), table)), 2);

    // Latin-1's last letter and a NUL inside a quoted value go out whole.
    const QString valeur = S("ÿ") + QChar(0) + S("µ'x");
    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("UPDATE %s SET T = 'ÿ"), table) + QChar(0) +
                     Format(S("µ''x' WHERE ID = 1")));
    Q->ExecQuery();
    Tr->Commit();
    EXPECT_EQ(TObserver().Str(Format(S("SELECT T FROM %s WHERE ID = 1"), table)), valeur);
}

TEST_F(Rows, ParameterDescriptorsSurviveATextChange) {
    const QString table = S(Scratch);
    Q->SQL().SetText(Format(S("SELECT ID FROM %s WHERE V = :P AND ID > :LO ORDER BY ID"), table));
    TFIBXSQLVAR* p = Q->ParamByName(S("P"));
    p->SetAsInteger(7);
    Q->ParamByName(S("LO"))->SetAsInteger(0);
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{3});

    // P moves to another place of the new text with its value; X is new.
    Q->SQL().SetText(Format(S("SELECT ID FROM %s WHERE ID <> :X AND V = :p ORDER BY ID"), table));
    ASSERT_EQ(Q->ParamCount(), 2);
    EXPECT_EQ(Q->ParamByName(S("P")), p);
    EXPECT_EQ(Q->Params()->Vars(1), p);
    EXPECT_EQ(p->Index(), 1);
    EXPECT_EQ(p->AsInteger(), 7);
    EXPECT_TRUE(Q->ParamByName(S("X"))->IsNull());
    Q->ParamByName(S("X"))->SetAsInteger(0);
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{3});
    // Its positions are the new text's: a NULL becomes "IS NULL" at the right place.
    p->Clear();
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{1});

    // A name written twice: the descriptor keeps one place, the other takes its value.
    p->SetAsInteger(5);
    Q->SQL().SetText(Format(S("SELECT ID FROM %s WHERE V = :P OR ID = :P + 0 ORDER BY ID"), table));
    ASSERT_EQ(Q->ParamCount(), 2);
    EXPECT_EQ(Q->Params()->Vars(0), p);
    EXPECT_EQ(Q->Params()->Vars(1)->AsInteger(), 5);
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{2});
    Q->Params()->Vars(1)->SetAsInteger(3);
    EXPECT_EQ(p->AsInteger(), 3);
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{3});
}

// A statement whose texts follow one another, some with the same parameters as the one before
// and some not, answers each time as a statement given that text alone: same server text, same
// parameter and column descriptions (the server's, for the new text), same rows.
TEST_F(Rows, ATextAfterAnotherAnswersAsOnItsOwn) {
    const QString table = S(Scratch);
    struct TStep {
        const char* Text;
        std::vector<std::pair<const char*, QVariant>> Values;
        std::vector<qint32> Expected;
    };
    const QVariant null = QVariant::fromValue(nullptr);
    const std::vector<TStep> steps = {
        {"SELECT ID, V FROM %s WHERE V = :P ORDER BY ID", {{"P", 5}}, {2}},
        // The same parameter, another text.
        {"SELECT ID, V FROM %s WHERE V = :P ORDER BY ID DESC", {{"P", 7}}, {3}},
        // The same name for a text column now.
        {"SELECT ID FROM %s WHERE T = :P ORDER BY ID", {{"P", S("deux")}}, {2}},
        // More parameters and columns; the NULL comparison moved in the text.
        {"SELECT ID, T, V FROM %s WHERE ID > :LO AND V = :P ORDER BY ID",
         {{"LO", 0}, {"P", null}},
         {1}},
        {"SELECT ID, T, V FROM %s WHERE ID > :LO AND (V = :P) ORDER BY ID",
         {{"LO", 1}, {"P", null}},
         {}},
        // A quoted name keeps its case, the same letters unquoted are another parameter.
        {"SELECT ID FROM %s WHERE ID >= :\"lo\" ORDER BY ID", {{"\"lo\"", 2}}, {2, 3}},
        {"SELECT ID FROM %s WHERE ID >= :lo ORDER BY ID", {{"LO", 3}}, {3}},
        // Fewer parameters, then none.
        {"SELECT ID FROM %s WHERE ID = :A OR ID = :B ORDER BY ID", {{"A", 1}, {"B", 3}}, {1, 3}},
        {"SELECT ID FROM %s WHERE ID = :A ORDER BY ID", {{"A", 2}}, {2}},
        {"SELECT ID FROM %s ORDER BY ID", {}, {1, 2, 3}},
        // Parameters again after a text without any.
        {"SELECT ID FROM %s WHERE ID = :A ORDER BY ID", {{"A", 3}}, {3}},
    };
    const auto describe = [](TFIBQuery& q) {
        QStringList d{q.ProcessedSQL()};
        for (int i = 0; i < q.ParamCount(); ++i) {
            TFIBXSQLVAR* p = q.Params()->Vars(i);
            d << Format(S("param %s %d %d"), p->Name(), p->ServerSQLType(), p->ServerSize());
        }
        for (int i = 0; i < q.FieldCount(); ++i) {
            TFIBXSQLVAR* f = q.Fields(i);
            d << Format(S("field %s %d %d"), f->Name(), f->SQLType(), f->Size());
        }
        return d.join(u'\n').toStdString();
    };
    Tr->StartTransaction();
    for (const TStep& step : steps) {
        const QString text = Format(S(step.Text), table);
        SCOPED_TRACE(text.toStdString());
        TpFIBQuery alone;
        alone.SetDatabase(Db);
        alone.SetTransaction(Tr);
        Q->SQL().SetText(text);
        alone.SQL().SetText(text);
        ASSERT_EQ(Q->ParamCount(), int(step.Values.size()));
        for (TFIBQuery* q : {static_cast<TFIBQuery*>(Q), static_cast<TFIBQuery*>(&alone)}) {
            q->Prepare();
            for (const auto& [name, value] : step.Values)
                q->ParamByName(S(name))->SetAsVariant(value);
        }
        EXPECT_EQ(Ids(*Q), step.Expected);
        EXPECT_EQ(Ids(alone), step.Expected);
        EXPECT_EQ(describe(*Q), describe(alone));
    }
    // Nothing of a value set before a text without parameters comes back after it.
    Q->SQL().SetText(Format(S("SELECT ID FROM %s"), table));
    Q->SQL().SetText(S("SELECT ID FROM ") + table + S(" WHERE ID = :A OR ID = @M%2"));
    EXPECT_TRUE(Q->ParamByName(S("A"))->IsNull());
    EXPECT_EQ(Q->ParamByName(S("M"))->AsString(), S("2"));
    EXPECT_EQ(Ids(*Q), std::vector<qint32>{2});
}

TEST_F(Statement, BlankTextAndServerErrors) {
    Tr->StartTransaction();
    Q->SQL().SetText(S("  \r\n  "));
    const auto blank = Raised<EFIBClientError>([&] { Q->Prepare(); });
    EXPECT_EQ(blank.Message(), S("Can't Prepare , because  query is empty"));
    EXPECT_EQ(blank.SQLCode(), 37);

    Q->SQL().SetText(S("SELECT NO_SUCH_COLUMN FROM RDB$DATABASE"));
    const auto server = Raised<EFIBInterBaseError>([&] { Q->Prepare(); });
    EXPECT_EQ(server.SQLCode(), -206);
    EXPECT_FALSE(Q->HandleAllocated());
    EXPECT_FALSE(Q->Prepared());
}

TEST_F(Rows, SelectForUpdateGetsACursorName) {
    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("SELECT ID FROM %s ORDER BY ID FOR UPDATE"), S(Scratch)));
    Q->Prepare();
    EXPECT_EQ(Q->SQLType(), SQLSelectForUpdate);
    EXPECT_EQ(Q->CursorName().size(), 10);
    for (const QChar c : Q->CursorName())
        EXPECT_TRUE(c.isDigit()) << Q->CursorName().toStdString();
    EXPECT_EQ(Ids(*Q), (std::vector<qint32>{1, 2, 3}));
}

TEST_F(Statement, ExecuteProcedureReturnsItsOutputs) {
    Tr->StartTransaction();
    Q->SQL().SetText(S("EXECUTE PROCEDURE RAVELIN_ESSAI_DOUBLE :X"));
    ASSERT_EQ(Q->ParamCount(), 1);
    Q->ParamByName(S("X"))->SetAsInteger(21);
    EXPECT_FALSE(Q->ProcExecuted());
    Q->ExecProc();
    EXPECT_EQ(int(Q->SQLType()), int(SQLExecProcedure));
    EXPECT_TRUE(Q->ProcExecuted());
    // The outputs are reached like parameters, and are not NULL although no row was fetched.
    EXPECT_EQ(Q->ParamByName(S("R"))->AsInteger(), 42);
    EXPECT_FALSE(Q->FieldIsNull(S("R")));
    Q->Close();
    EXPECT_FALSE(Q->ProcExecuted());
}

TEST_F(Statement, ExecuteBlockParametersStandBeforeAs) {
    Tr->StartTransaction();
    // The body's :X is a variable of the block, not a parameter of the statement.
    Q->SQL().SetText(S("EXECUTE BLOCK (X INTEGER = :X) RETURNS (R INTEGER) AS "
                       "BEGIN R = :X * 2; SUSPEND; END"));
    ASSERT_EQ(Q->ParamCount(), 1);
    Q->ParamByName(S("X"))->SetAsInteger(4);
    Q->ExecQuery();
    EXPECT_EQ(Q->FieldByName(S("R"))->AsInteger(), 8);
    EXPECT_EQ(Q->Next(), nullptr);
}

TEST_F(Statement, CheckValidStatementLeavesConnectionAsFound) {
    Db->Close();
    Q->SQL().SetText(S("SELECT 1 FROM RDB$DATABASE"));
    Q->CheckValidStatement();
    EXPECT_FALSE(Db->Connected());
    EXPECT_FALSE(Tr->Active());

    Q->SQL().SetText(S("SELECT NO_SUCH_COLUMN FROM RDB$DATABASE"));
    const auto e = Raised<EFIBClientError>([&] { Q->CheckValidStatement(); });
    EXPECT_EQ(e.Message(), S("frmPrincipale.qryLocale:Invalid statement handle."));
    EXPECT_FALSE(Db->Connected());
    EXPECT_FALSE(Tr->Active());
}

// ---------------------------------------------------------------------------------------------
// The error hook

class LockConflict : public Statement {
protected:
    void SetUp() override {
        Statement::SetUp();
        FillScratch();
        // Another attachment holds row 2 with an update it has not committed yet.
        Writer.StartTransaction();
        Writer.Exec(Format(S("UPDATE %s SET V = 50 WHERE ID = 2"), S(Scratch)));
        Q->SQL().SetText(Format(S("UPDATE %s SET V = :V WHERE ID = 2"), S(Scratch)));
        Q->ParamByName(S("V"))->SetAsInteger(60);
        Tr->StartTransaction();
    }
    void TearDown() override {
        if (Writer.Active()) Writer.Rollback();
        Statement::TearDown();
    }
    struct TWriter {
        TObserver o;
        void StartTransaction() { o.tr.StartTransaction(); }
        void Exec(const QString& sql) {
            o.q.SQL().SetText(sql);
            o.q.ExecQuery();
        }
        bool Active() const { return o.tr.Active(); }
        void Commit() { o.tr.Commit(); }
        void Rollback() { o.tr.Rollback(); }
    } Writer;
};

TEST_F(LockConflict, WithoutHookTheServerErrorPasses) {
    EXPECT_THROW(Q->ExecQuery(), EFIBInterBaseError);
}

TEST_F(LockConflict, RetryRunsTheStatementAgain) {
    int calls = 0;
    Q->OnExecuteError = [&](TObject* Sender, EFIBError& e, TDataAction& action) {
        ++calls;
        EXPECT_EQ(Sender, Q);
        EXPECT_NE(dynamic_cast<EFIBInterBaseError*>(&e), nullptr);
        EXPECT_EQ(action, daFail);
        Writer.Commit();
        action = daRetry;
    };
    Q->ExecQuery();
    Tr->Commit();
    EXPECT_EQ(calls, 1);
    TObserver o;
    EXPECT_EQ(o.Int(Format(S("SELECT V FROM %s WHERE ID = 2"), S(Scratch))), 60);
}

TEST_F(LockConflict, AbortEndsSilentlyAndFailPassesTheError) {
    Q->OnExecuteError = [](TObject*, EFIBError&, TDataAction& action) { action = daAbort; };
    const auto aborted = Raised<EAbort>([&] { Q->ExecQuery(); });
    EXPECT_TRUE(aborted.Message().isEmpty());
    Q->OnExecuteError = [](TObject*, EFIBError&, TDataAction&) {};
    EXPECT_THROW(Q->ExecQuery(), EFIBInterBaseError);
}

// ---------------------------------------------------------------------------------------------
// Blobs

TEST_F(Rows, LongTextsAndTextsForBlobsAreWrittenAsBlobs) {
    QString longText;
    for (int i = 0; longText.size() <= 40000; ++i)
        longText += Format(S("ligne %d : été à l'école;"), i);
    ASSERT_GT(StringToAnsi(longText).size(), 32767);

    Tr->StartTransaction();
    // Set before the server has described the parameter: the length alone makes it a blob.
    Q->SQL().SetText(Format(S("INSERT INTO %s (ID, B) VALUES (10, :B)"), S(Scratch)));
    Q->ParamByName(S("B"))->SetAsString(longText);
    Q->ExecQuery();
    // Set after the description: the server's blob type makes it one.
    Q->SQL().SetText(Format(S("INSERT INTO %s (ID, B) VALUES (11, :B)"), S(Scratch)));
    Q->Prepare();
    Q->ParamByName(S("B"))->SetAsString(S("court"));
    Q->ExecQuery();
    Tr->Commit();

    Tr->StartTransaction();
    Q->SQL().SetText(Format(S("SELECT B FROM %s WHERE ID >= 10 ORDER BY ID"), S(Scratch)));
    Q->ExecQuery();
    EXPECT_EQ(Q->FieldByName(S("B"))->SQLType(), SQL_BLOB);
    EXPECT_EQ(Q->FieldByName(S("B"))->AsString(), longText);
    Q->Next();
    EXPECT_EQ(Q->FieldByName(S("B"))->AsString(), S("court"));
    Q->Close();
    Tr->Commit();
}

} // namespace

int main(int argc, char** argv) {
    return RunServerTests(argc, argv);
}
