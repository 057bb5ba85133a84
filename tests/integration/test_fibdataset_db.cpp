// Datasets against the tests' private server: what Open fetches, how the record window and the
// cache follow moves, what a bound view is told, typed fields on real columns, and the
// reactions to the ends of transactions, SQL changes and failures.
#include "CountingClientLibrary.h"
#include "Programme.h"
#include "ServerRows.h"
#include "TestSupport.h"
#include "fib.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"

#include "ServerTestMain.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// N rows numbered from 1, with a text, a null every tenth row and a few typed columns.
QString Numbers(int n) {
    return S("WITH RECURSIVE N AS (SELECT 1 AS I FROM RDB$DATABASE UNION ALL "
             "SELECT I + 1 FROM N WHERE I < %1) "
             "SELECT I, CAST('Ligne ' || I AS VARCHAR(40)) AS TEXTE, "
             "IIF(MOD(I, 10) = 0, NULL, I * 2) AS DOUBLE_OU_NUL FROM N")
        .arg(n);
}

using TCountingQuery = TCountingStatement<TFIBQuery>;

class TCountingDataSet : public TpFIBDataSet {
public:
    explicit TCountingDataSet(TComponent* owner = nullptr)
        : TpFIBDataSet(owner, [](TComponent* o) { return new TCountingQuery(o); }) {}
    TCountingClientLibrary& Counter() const {
        return static_cast<TCountingQuery*>(QSelect())->Counts();
    }
};

// A view that notes what the dataset tells it.
class TRecordingLink : public TDataLink {
public:
    std::vector<std::string> Events;

protected:
    void ActiveChanged() override { Events.push_back(Active() ? "active" : "inactive"); }
    void DataSetChanged() override { Events.push_back("changed"); }
    void DataSetScrolled(qint32 distance) override {
        Events.push_back("scrolled " + std::to_string(distance));
    }
    void LayoutChanged() override { Events.push_back("layout"); }
};

class DataSetTest : public ::testing::Test {
protected:
    TpFIBDatabase db;
    TpFIBTransaction tr;
    TCountingDataSet ds;

    void SetUp() override {
        ConfigureProgramConnection(db);
        OpenForLists(db, tr, ds);
    }
    void TearDown() override {
        ds.Close();
        if (tr.Active()) tr.Rollback();
        db.Close();
    }
    void OpenOn(const QString& sql) {
        ds.SelectSQL().SetText(sql);
        ds.Prepare();
        ds.Open();
    }
};

TEST_F(DataSetTest, OpenFetchesOnlyWhatTheViewsShow) {
    // Without views one row is read, and only it.
    OpenOn(Numbers(100));
    EXPECT_EQ(ds.Counter().Fetches, 1);
    EXPECT_EQ(ds.RecordCount(), 1);
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ds.FieldByName(S("i"))->AsInteger(), 1);
    ds.Close();

    // A view of 20 rows: exactly 20 fetches, then one more per row past them.
    TDataSource source;
    source.SetDataSet(&ds);
    TRecordingLink link;
    link.SetBufferCount(20);
    link.SetDataSource(&source);
    ds.Counter().Fetches = 0;
    ds.Open();
    EXPECT_EQ(ds.Counter().Fetches, 20);
    EXPECT_EQ(ds.RecordCount(), 20);
    EXPECT_EQ(link.RecordCount(), 20);
    link.Events.clear();
    for (int i = 1; i < 20; ++i)
        ds.Next();
    EXPECT_EQ(ds.Counter().Fetches, 20);
    EXPECT_EQ(ds.FieldByName(S("I"))->AsString(), S("20"));
    ds.Next();
    EXPECT_EQ(ds.Counter().Fetches, 21);
    EXPECT_EQ(link.FirstRecord(), 0);
    EXPECT_EQ(link.Events.back(), "scrolled 1");
    EXPECT_EQ(ds.FieldByName(S("I"))->AsInteger(), 21);
    while (!ds.Eof())
        ds.Next();
    // The 100 rows and the fetch that found the end.
    EXPECT_EQ(ds.Counter().Fetches, 101);
    EXPECT_EQ(ds.RecordCount(), 100);
    EXPECT_EQ(ds.FieldByName(S("I"))->AsInteger(), 100);
    EXPECT_EQ(ds.RecNo(), 100);
    // Going back comes from the cache.
    ds.First();
    EXPECT_EQ(ds.Counter().Fetches, 101);
    EXPECT_EQ(ds.FieldByName(S("I"))->AsInteger(), 1);
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(link.Events.back(), "changed");
    ds.MoveBy(45);
    EXPECT_EQ(ds.RecNo(), 46);
    EXPECT_EQ(ds.FieldByName(S("TEXTE"))->AsString(), S("Ligne 46"));
    EXPECT_TRUE(ds.FieldByName(S("DOUBLE_OU_NUL"))->IsNull() == false);
    ds.MoveBy(-6);
    EXPECT_EQ(ds.RecNo(), 40);
    EXPECT_TRUE(ds.FieldByName(S("DOUBLE_OU_NUL"))->IsNull());
    EXPECT_EQ(ds.FieldByName(S("DOUBLE_OU_NUL"))->AsString(), QString());
    EXPECT_EQ(ds.Counter().Fetches, 101);
}

TEST_F(DataSetTest, EmptyAndOneRowResults) {
    OpenOn(S("SELECT CMAN_ID, CMAN_IBAN FROM CLIENTS_MANDAT WHERE 1 = 0"));
    EXPECT_TRUE(ds.Active());
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_TRUE(ds.Eof());
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_TRUE(ds.FieldByName(S("CMAN_IBAN"))->IsNull());
    EXPECT_EQ(ds.FieldByName(S("CMAN_IBAN"))->AsString(), QString());
    EXPECT_EQ(ds.FieldByName(S("CMAN_ID"))->AsInteger(), 0);
    ds.First();
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_EQ(ds.MoveBy(1), 0);
    ds.Close();

    OpenOn(Numbers(1));
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ds.RecordCount(), 1);
    ds.Next();
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.FieldByName(S("I"))->AsInteger(), 1);
    ds.Next();
    EXPECT_EQ(ds.FieldByName(S("I"))->AsInteger(), 1);
    EXPECT_EQ(ds.RecordCount(), 1);

    // Never opened: empty, no error.
    TpFIBDataSet never;
    EXPECT_TRUE(never.IsEmpty());
    EXPECT_EQ(never.RecordCount(), 0);
    const auto closed = Raised<EDatabaseError>([&] { never.Next(); });
    EXPECT_EQ(closed.Message(),
              S("Impossible d'effectuer cette opération sur un ensemble de données fermé"));
}

TEST_F(DataSetTest, LastFetchesTheRestAndCloseOpenExecutesAgain) {
    OpenOn(Numbers(100));
    const int prepares = int(ds.Counter().PreparedTexts.size());
    ds.Last();
    EXPECT_EQ(ds.RecordCount(), 100);
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.FieldByName(S("I"))->AsInteger(), 100);
    EXPECT_EQ(ds.RecNo(), 100);
    ds.Prior();
    EXPECT_EQ(ds.FieldByName(S("I"))->AsInteger(), 99);

    // Close and Open: the same prepared select executed again, the cache started afresh.
    const int executes = ds.Counter().Executes;
    ds.Close();
    EXPECT_TRUE(ds.Prepared());
    ds.Open();
    EXPECT_EQ(int(ds.Counter().PreparedTexts.size()), prepares);
    EXPECT_EQ(ds.Counter().Executes, executes + 1);
    EXPECT_EQ(ds.RecordCount(), 1);
    EXPECT_EQ(ds.FieldByName(S("I"))->AsInteger(), 1);

    ds.FetchAll();
    EXPECT_EQ(ds.RecordCount(), 100);
    EXPECT_EQ(ds.FieldByName(S("I"))->AsInteger(), 1);
}

TEST_F(DataSetTest, TransactionEndsAndSqlChanges) {
    OpenOn(Numbers(5));
    tr.CommitRetaining();
    EXPECT_TRUE(ds.Active());
    tr.Commit();
    EXPECT_FALSE(ds.Active());
    EXPECT_TRUE(ds.IsEmpty());

    tr.StartTransaction();
    ds.Open();
    tr.Rollback();
    EXPECT_FALSE(ds.Active());

    // With the rows kept at the end, they stay readable.
    tr.StartTransaction();
    ds.SetStoredOption(S("oDontAutoClose"), true);
    ds.Open();
    tr.Commit();
    ASSERT_TRUE(ds.Active());
    EXPECT_EQ(ds.RecordCount(), 5);
    ds.Last();
    EXPECT_EQ(ds.FieldByName(S("I"))->AsInteger(), 5);
    ds.Close();
    ds.SetStoredOption(S("oDontAutoClose"), false);

    tr.StartTransaction();
    ds.Open();
    const auto refused = Raised<EFIBClientError>([&] { ds.SelectSQL().SetText(Numbers(3)); });
    EXPECT_TRUE(refused.Message().startsWith(S("Can't change sql text because")))
        << refused.Message().toStdString();
    EXPECT_EQ(ds.SelectSQL().Text(), Numbers(5) + S("\r\n"));
    ds.Close();
    ds.UnPrepare();
    ds.SelectSQL().SetText(Numbers(3));
    EXPECT_FALSE(ds.Prepared());

    ds.SelectSQL().SetStringList({S("  "), QString()});
    const auto blank = Raised<EFIBClientError>([&] { ds.Prepare(); });
    EXPECT_EQ(blank.Message(), S("Can't Prepare idsEssai , because  query is empty"));
    EXPECT_FALSE(ds.Prepared());
}

TEST_F(DataSetTest, RowsKeptAtTheEndKeepTheirSelect) {
    ds.SetStoredOption(S("oDontAutoClose"), true);
    const QString refusal = S("Can't  change SelectSQL  because idsEssai dataset open.");
    auto checkKept = [&](const char* how) {
        SCOPED_TRACE(how);
        ASSERT_TRUE(ds.Active());
        EXPECT_EQ(ds.State(), dsBrowse);
        const auto refused = Raised<EFIBClientError>([&] { ds.SelectSQL().SetText(Numbers(3)); });
        EXPECT_EQ(refused.Message(), refusal);
        EXPECT_EQ(ds.SelectSQL().Text(), Numbers(5) + S("\r\n"));
        // The rows and their fields are still those of the first select, texts included.
        QStringList texts;
        for (ds.First(); !ds.Eof(); ds.Next())
            texts << ds.FieldByName(S("TEXTE"))->AsString();
        EXPECT_EQ(texts, QStringList({S("Ligne 1"), S("Ligne 2"), S("Ligne 3"), S("Ligne 4"),
                                      S("Ligne 5")}));
        ds.Close();
        ds.SelectSQL().SetText(Numbers(3));
        ds.SelectSQL().SetText(Numbers(5));
    };

    OpenOn(Numbers(5));
    tr.Commit();
    checkKept("transaction ended");

    tr.StartTransaction();
    OpenOn(Numbers(5));
    db.Close();
    checkKept("database disconnected");
}

TEST_F(DataSetTest, OpenDatasetRefusalsReadAsWritten) {
    OpenOn(Numbers(2));
    const QString open = S("idsEssai: Impossible d'effectuer cette opération sur un ensemble de "
                           "données ouvert");
    EXPECT_EQ(Raised<EDatabaseError>([&] { ds.SetBufferChunks(10); }).Message(), open);
    EXPECT_EQ(Raised<EDatabaseError>([&] { ds.SetCacheModelKind(cmkLimitedBufferSize); }).Message(),
              open);
    EXPECT_EQ(Raised<Exception>([&] { ds.SetStoredOption(S("oInconnue"), true); }).Message(),
              S("Propriété oInconnue inexistante"));
}

TEST_F(DataSetTest, FieldsFindByNameAndTheirTypes) {
    OpenOn(S("SELECT CAST(-1 AS SMALLINT) AS PETIT, CAST(4294967297 AS BIGINT) AS GRAND, "
             "CAST(-5 AS BIGINT) AS NEGATIF, CAST(123.45 AS NUMERIC(18,2)) AS MONTANT, "
             "CAST(NULL AS SMALLINT) AS RIEN, CAST('A' AS CHAR(10)) AS FIXE "
             "FROM RDB$DATABASE"));
    EXPECT_EQ(ds.FieldCount(), 6);
    EXPECT_EQ(ds.FieldByName(S("petit")), ds.Fields(0));
    const auto missing = Raised<EDatabaseError>([&] { ds.FieldByName(S("ABSENT")); });
    EXPECT_EQ(missing.Message(), S("idsEssai: Champ 'ABSENT' non trouvé"));
    EXPECT_EQ(Raised<Exception>([&] { ds.Fields(6); }).Message(), S("Argument hors limites"));

    TField* petit = ds.Fields(0);
    ASSERT_NE(dynamic_cast<TFIBSmallIntField*>(petit), nullptr);
    EXPECT_EQ(petit->AsInteger(), -1);
    EXPECT_EQ(petit->AsString(), S("-1"));
    EXPECT_FALSE(petit->AsBoolean());
    TField* rien = ds.FieldByName(S("RIEN"));
    EXPECT_TRUE(rien->IsNull());
    EXPECT_EQ(rien->AsInteger(), 0);
    EXPECT_EQ(rien->AsString(), QString());
    // Without the option, unscaled 64-bit columns are BCD fields of no decimals.
    TField* grand = ds.FieldByName(S("GRAND"));
    ASSERT_NE(dynamic_cast<TFIBBCDField*>(grand), nullptr);
    EXPECT_EQ(grand->AsString(), S("4294967297"));
    EXPECT_EQ(ds.FieldByName(S("MONTANT"))->Size(), 2);
    EXPECT_EQ(ds.FieldByName(S("MONTANT"))->AsString(), S("123,45"));
    EXPECT_EQ(ds.FieldByName(S("FIXE"))->AsString(), S("A         "));
    ds.Close();

    ds.SetStoredOption(S("poUseLargeIntField"), true);
    ds.Open();
    grand = ds.FieldByName(S("GRAND"));
    ASSERT_NE(dynamic_cast<TFIBLargeIntField*>(grand), nullptr);
    EXPECT_EQ(grand->AsInteger(), 1);
    EXPECT_EQ(grand->AsString(), S("4294967297"));
    EXPECT_EQ(ds.FieldByName(S("NEGATIF"))->AsInteger(), -5);
    EXPECT_EQ(ds.FieldByName(S("NEGATIF"))->AsString(), S("-5"));
    const auto whileOpen =
        Raised<EFIBClientError>([&] { ds.SetStoredOption(S("poUseLargeIntField"), false); });
    EXPECT_TRUE(whileOpen.Message().contains(S("psUseLargeIntField")));
    ds.Close();
    ds.SetStoredOption(S("oTrimCharFields"), true);
    ds.Open();
    EXPECT_EQ(ds.FieldByName(S("FIXE"))->AsString(), S("A"));
}

TEST_F(DataSetTest, PersistentFieldsTakeTheirColumnsSizes) {
    auto* np = new TFIBStringField(&ds);
    np->SetFieldName(S("NP"));
    np->SetSize(71);
    np->SetDataSet(&ds);
    auto* id = new TFIBBCDField(&ds);
    id->SetFieldName(S("ID"));
    id->SetSize(0);
    id->SetDataSet(&ds);
    auto* montant = new TFIBBCDField(&ds);
    montant->SetFieldName(S("MONTANT"));
    montant->SetSize(0);
    montant->SetDataSet(&ds);
    const QString longText = QString(90, QLatin1Char('x'));
    ds.SelectSQL().SetText(S("SELECT CAST('%1' AS VARCHAR(100)) AS NP, CAST(1234567890123 AS "
                             "BIGINT) AS ID, CAST(1.5 AS NUMERIC(18,2)) AS MONTANT "
                             "FROM RDB$DATABASE")
                               .arg(longText));
    ds.Prepare();
    EXPECT_EQ(np->Size(), 100);
    EXPECT_EQ(montant->Size(), 2);
    EXPECT_EQ(id->Size(), 0);
    ds.Open();
    EXPECT_EQ(np->AsString(), longText);
    EXPECT_EQ(id->AsString(), S("1234567890123"));
    EXPECT_EQ(montant->AsString(), S("1,5"));
    // A computed column has no relation to name.
    EXPECT_FALSE(np->Origin().contains(QLatin1Char('.')));
    ds.Close();
    // The fields outlive the open.
    EXPECT_EQ(ds.FieldCount(), 3);
    EXPECT_EQ(np->FieldNo(), 0);

    ds.SetStoredOption(S("poUseLargeIntField"), true);
    const auto mismatch = Raised<EDatabaseError>([&] { ds.Open(); });
    EXPECT_EQ(mismatch.Message(),
              S("idsEssai: Type inadéquat pour le champ 'ID', attendu : BCD actuel : LargeInt"));
    EXPECT_FALSE(ds.Active());
}

TEST_F(DataSetTest, OriginsAndRelations) {
    OpenOn(S("SELECT FIRST 3 CMAN_ID, CMAN_IBAN, BANQ_SOCIETE, "
             "CLI_NOM || ' ' || CLI_PRENOM AS NP FROM CLIENTS_MANDAT "
             "INNER JOIN CLIENTS ON (CLI_ID = CMAN_IDCLI) "
             "LEFT JOIN BANQUE ON (BANQ_ID = CMAN_IDBANQ)"));
    EXPECT_EQ(ds.FieldByName(S("CMAN_IBAN"))->Origin(), S("CLIENTS_MANDAT.CMAN_IBAN"));
    EXPECT_EQ(ds.FieldByName(S("BANQ_SOCIETE"))->Origin(), S("BANQUE.BANQ_SOCIETE"));
    EXPECT_FALSE(ds.FieldByName(S("NP"))->Origin().contains(QLatin1Char('.')));
    EXPECT_EQ(ds.RelationTables(), QStringList({S("BANQUE"), S("CLIENTS_MANDAT")}));
    EXPECT_EQ(ds.FieldByName(S("CMAN_IBAN"))->AsString().left(2), S("FR"));
}

TEST_F(DataSetTest, ParametersAndServerErrors) {
    ds.SelectSQL().SetText(
        S("SELECT BANQ_SOCIETE FROM BANQUE WHERE BANQ_SOCIETE STARTING WITH :P0"));
    ds.Prepare();
    ASSERT_EQ(ds.ParamCount(), 1);
    ds.Params()->Vars(0)->SetAsString(S("CRÉDIT D'ARMOR"));
    ds.Open();
    ASSERT_FALSE(ds.IsEmpty());
    EXPECT_EQ(ds.Fields(0)->AsString(), S("CRÉDIT D'ARMOR"));
    const auto unknown = Raised<Exception>([&] { ds.ParamByName(S("P9")); });
    EXPECT_EQ(unknown.Message(), S("Parameter \"P9\" does not exist in idsEssai"));
    ds.Close();
    ds.UnPrepare();

    ds.SelectSQL().SetText(S("SELECT NO_SUCH_COLUMN FROM BANQUE"));
    EXPECT_THROW(ds.Open(), EFIBInterBaseError);
    EXPECT_FALSE(ds.Active());
    EXPECT_FALSE(ds.Prepared());

    TpFIBDataSet orphan;
    orphan.SetName(S("idsOrphelin"));
    orphan.SelectSQL().SetText(Numbers(1));
    EXPECT_EQ(Raised<EFIBClientError>([&] { orphan.Open(); }).Message(),
              S("Database not assigned for idsOrphelin."));
    orphan.SetDatabase(&db);
    EXPECT_EQ(Raised<EFIBClientError>([&] { orphan.Open(); }).Message(),
              S("Transaction not assigned for idsOrphelin."));
}

} // namespace

int main(int argc, char** argv) {
    return RunServerTests(argc, argv);
}
