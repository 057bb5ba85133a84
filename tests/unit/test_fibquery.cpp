// Statements without a server: the rewriting of NULL comparisons and macros, the parameter list
// built at each text change, and the messages raised before any server is asked.
#include "FIBQuery.h"
#include "TestSupport.h"
#include "pFIBQuery.h"

#include <gtest/gtest.h>

namespace {

class Query : public ::testing::Test {
protected:
    void SetUp() override {
        Form.SetName(S("frmPrincipale"));
        Q = new TpFIBQuery(&Form);
        Q->SetName(S("qryLocale"));
    }
    QString Ready(const char* text) {
        Q->SQL().SetText(S(text));
        return Q->ReadySQLText(false);
    }
    TComponent Form;
    TpFIBQuery* Q = nullptr;
};

TEST_F(Query, NullComparisonsBecomeIsNullTests) {
    EXPECT_EQ(Ready("SELECT * FROM T WHERE A = :P ORDER BY A"),
              S("SELECT * FROM T WHERE A  IS NULL  ORDER BY A\r\n"));
    EXPECT_EQ(Ready("SELECT * FROM T WHERE A=:P"), S("SELECT * FROM T WHERE A IS NULL \r\n"));
    EXPECT_EQ(Ready("SELECT * FROM T WHERE A <> :P AND B != :Q AND C ^= :R"),
              S("SELECT * FROM T WHERE A  IS NOT NULL  AND B  IS NOT NULL  AND C  IS NOT NULL "
                "\r\n"));
    // The second rewrite lands where the first one's length change put its parameter.
    EXPECT_EQ(Ready("SELECT * FROM T WHERE A = :LONGNAME AND B = (:Q)"),
              S("SELECT * FROM T WHERE A  IS NULL  AND B  IS NULL )\r\n"));
}

TEST_F(Query, ComparisonsThatMustStayAreLeftAlone) {
    for (const char* text :
         {"SELECT * FROM T WHERE A >= :P", "SELECT * FROM T WHERE A <= :P",
          "SELECT * FROM T WHERE A > :P", "SELECT * FROM T WHERE A = :P + 1",
          "SELECT :P FROM T WHERE A IS NULL", "SELECT * FROM T WHERE A STARTING :P"}) {
        EXPECT_EQ(Ready(text), S(text) + S("\r\n")) << text;
    }
    // A parameter with a value compares as written.
    Q->SQL().SetText(S("SELECT * FROM T WHERE A = :P"));
    Q->ParamByName(S("P"))->SetAsInteger(3);
    EXPECT_EQ(Q->ReadySQLText(false), S("SELECT * FROM T WHERE A = :P\r\n"));
    // And with the option nothing is ever rewritten.
    Q->ParamByName(S("P"))->Clear();
    Q->SetOptions(qoNoForceIsNull);
    EXPECT_EQ(Q->ReadySQLText(false), S("SELECT * FROM T WHERE A = :P\r\n"));
}

TEST_F(Query, MacrosAreExpandedWithTheirValues) {
    Q->SQL().SetText(S("SELECT * FROM T WHERE @@C%A = 1@ AND N = @N%#x ORDER BY @ORD%ID"));
    EXPECT_EQ(Q->ReadySQLText(false), S("SELECT * FROM T WHERE A = 1 AND N = 'x' ORDER BY ID\r\n"));
    EXPECT_EQ(Q->DefMacroValue(S("c")), S("A = 1"));

    Q->ParamByName(S("C"))->SetAsString(S("LONGER_COLUMN <> 22"));
    Q->ParamByName(S("N"))->SetAsString(S("'already quoted'"));
    Q->ParamByName(S("ORD"))->SetAsString(S("2 DESC"));
    EXPECT_TRUE(Q->MacroChanged());
    EXPECT_EQ(Q->ReadySQLText(false),
              S("SELECT * FROM T WHERE LONGER_COLUMN <> 22 AND N = 'already quoted' ORDER BY 2 "
                "DESC\r\n"));

    Q->RestoreMacroDefaultValues();
    EXPECT_EQ(Q->ReadySQLText(false), S("SELECT * FROM T WHERE A = 1 AND N = 'x' ORDER BY ID\r\n"));
}

TEST_F(Query, MacroLeftOpenIsRefusedNotDropped) {
    // The closing "@" is missing: the condition must not vanish from the server's text.
    try {
        Q->SQL().SetText(S("DELETE FROM T WHERE ID = :ID @@C%AND X = 1"));
        ADD_FAILURE() << "an open macro was accepted";
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.Message(), S("SQL Parse Error in :frmPrincipale.qryLocale \r\n\r\n"
                                 "EOF in macro detected"));
    }
    EXPECT_TRUE(Q->ProcessedSQL().isEmpty());
    Q->SQL().SetText(S("DELETE FROM T WHERE ID = :ID @@C%AND X = 1@"));
    Q->ParamByName(S("ID"))->SetAsInteger(4);
    EXPECT_EQ(Q->ReadySQLText(false), S("DELETE FROM T WHERE ID = :ID AND X = 1\r\n"));
}

TEST_F(Query, ValuesOfNamesThatStaySurviveATextChange) {
    Q->SQL().SetText(S("UPDATE T SET A = :P0, B = :P1 WHERE ID = 1"));
    Q->ParamByName(S("P0"))->SetAsString(S("garde"));
    Q->ParamByName(S("P1"))->SetAsInteger(7);
    const qint32 changes = Q->SQLTextChangeCount();
    Q->SQL().SetText(S("UPDATE T SET C = :P9, A = :p0 WHERE ID = 2"));
    EXPECT_EQ(Q->SQLTextChangeCount(), changes + 1);
    ASSERT_EQ(Q->ParamCount(), 2);
    EXPECT_EQ(Q->ParamName(0), S("P9"));
    EXPECT_TRUE(Q->Params()->Vars(0)->IsNull());
    EXPECT_EQ(Q->ParamByName(S("P0"))->AsString(), S("garde"));
    EXPECT_EQ(Q->FindParam(S("P1")), nullptr);

    // A text without markers has no parameters and goes to the server as it stands.
    Q->SQL().SetText(S("UPDATE T SET A = 0 WHERE ID = 3"));
    EXPECT_EQ(Q->ParamCount(), 0);
    EXPECT_EQ(Q->ProcessedSQL(), S("UPDATE T SET A = 0 WHERE ID = 3\r\n"));
}

TEST_F(Query, ModifyBracketDefersTheTextChange) {
    Q->BeginModifySQLText();
    Q->SQL().SetText(S("SELECT * FROM T WHERE A = :P"));
    Q->SQL().Add(S("AND B = :Q"));
    EXPECT_EQ(Q->CountModifySQLText(), 1);
    Q->EndModifySQLText();
    EXPECT_EQ(Q->ParamCount(), 2);
    EXPECT_EQ(Q->ParamName(1), S("Q"));
}

TEST_F(Query, LookupsAndChecksRaiseTheirMessages) {
    Q->SQL().SetText(S("UPDATE T SET A = :P0"));
    EXPECT_EQ(Q->ParamByName(S("p0")), Q->Params()->Vars(0));
    // The base exception type: no SQL code to show.
    try {
        Q->ParamByName(S("P7"));
        ADD_FAILURE() << "no exception";
    } catch (const EFIBError&) {
        ADD_FAILURE() << "EFIBError raised";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), S("Parameter \"P7\" does not exist in frmPrincipale.qryLocale"));
    }
    qint32 index = 5;
    EXPECT_FALSE(Q->ParamExist(S("P7"), index));
    EXPECT_EQ(index, -1);

    EXPECT_EQ(Raised<EFIBClientError>([&] { Q->Fields(0); }).Message(),
              S("Field \"Field No: 0\" not found."));
    EXPECT_EQ(Raised<EFIBClientError>([&] { Q->FieldByName(S("X")); }).Message(),
              S("Field \"X\" not found."));
    EXPECT_TRUE(Q->Eof());
    EXPECT_EQ(Raised<EFIBClientError>([&] { Q->Next(); }).Message(),
              S("Can't fetch next record because frmPrincipale.qryLocale dataset closed."));
    EXPECT_EQ(Raised<EFIBClientError>([&] { Q->Prepare(); }).Message(),
              S("Database not assigned for frmPrincipale.qryLocale."));
    EXPECT_EQ(Raised<EFIBClientError>([&] { Q->ExecQuery(); }).Message(),
              S("Transaction not assigned for frmPrincipale.qryLocale."));
}

TEST_F(Query, ProcedureTexts) {
    Q->SQL().SetText(S("  execute procedure P_CALC :A"));
    EXPECT_TRUE(Q->IsProc());
    // An output of a procedure is looked for among the columns.
    EXPECT_EQ(Raised<EFIBClientError>([&] { Q->ParamByName(S("RESULT")); }).Message(),
              S("Field \"RESULT\" not found."));
    Q->SQL().SetText(S("EXECUTEX"));
    EXPECT_FALSE(Q->IsProc());
    // ExecProc leaves a text that is no procedure call alone.
    Q->ExecProc();
}

TEST_F(Query, OwnerConnectionOrTransactionIsTaken) {
    TFIBDatabase db;
    TFIBQuery onDb(&db);
    EXPECT_EQ(onDb.Database(), &db);
    TFIBTransaction tr;
    TFIBQuery onTr(&tr);
    EXPECT_EQ(onTr.Transaction(), &tr);
}

} // namespace
