// The main window against the tests' private server: it connects at creation, reads in its
// snapshot transaction and leaves nothing behind when it closes.
#include "BoxRecorder.h"
#include "Programme.h"
#include "Unit1.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"

#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Every test starts without a stored alias.
void EffacerAlias() {
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Orvane_Software"),
              QStringLiteral("Aliases"))
        .clear();
}

// Runs a statement in a transaction of its own on a second connection.
void Executer(TFIBDatabase& db, const char* sql) {
    TpFIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    tr.StartTransaction();
    const ISC_STATUS status = db.ClientLibrary()->isc_dsql_execute_immediate(
        StatusVector(), db.Handle(), tr.Handle(), 0, sql, 3, nullptr);
    tr.Call(status, true);
    tr.Commit();
}

// A second connection, the way the window makes its own.
std::unique_ptr<TpFIBDatabase> SecondeConnexion() {
    auto db = std::make_unique<TpFIBDatabase>();
    ConfigureProgramConnection(*db);
    db->SetSynchronizeTime(false);
    db->Open(true);
    return db;
}

// Fails with a division by zero when the bank's name is the marker: the check of a committed
// change that needs no statement class.
const char* const VerifierMarqueur =
    "EXECUTE BLOCK AS DECLARE x INTEGER; BEGIN IF (EXISTS(SELECT 1 FROM BANQUE "
    "WHERE BANQ_ID = 1 AND BANQ_SOCIETE = 'MARQUEUR')) THEN x = 1 / 0; END";

} // namespace

TEST(FenetreConnectee, ConnectsAndStartsItsReadingTransactionAtCreation) {
    EffacerAlias();
    BoxRecorder boxes;
    TfrmPrincipale frm;
    EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
    ASSERT_TRUE(frm.dbSource->Connected());
    EXPECT_TRUE(frm.transSource->Active());
    EXPECT_FALSE(frm.transLocale->Active());
    EXPECT_EQ(frm.dbSource->SQLDialect(), 3);
    EXPECT_EQ(frm.dbSource->LibraryName(), QStringLiteral("fbClient.dll"));
    EXPECT_EQ(
        frm.dbSource->DBParams().ToStringList().mid(0, 2),
        QStringList({QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=ISO8859_1")}));
    // The reading transaction is a snapshot that never waits: write, nowait, concurrency.
    EXPECT_EQ(frm.transSource->TPB(), QByteArray("\x03\x09\x07\x02", 4));
    EXPECT_EQ(frm.dbSource->DefaultTransaction(), frm.transSource);
    EXPECT_EQ(frm.dbSource->DefaultUpdateTransaction(), frm.transSource);
    EXPECT_EQ(frm.transLocale->DefaultDatabase(), frm.dbSource);
    EXPECT_EQ(frm.transLocale->TRParams().ToStringList(),
              QStringList({QStringLiteral("write"), QStringLiteral("nowait"),
                           QStringLiteral("rec_version"), QStringLiteral("read_committed")}));
    EXPECT_EQ(frm.transLocale->TimeoutAction(), TACommit);
    // The change run's statement works in the writing transaction, not the reading one that
    // the connection would have given it by default.
    EXPECT_EQ(frm.qryLocale->Database(), frm.dbSource);
    EXPECT_EQ(frm.qryLocale->Transaction(), frm.transLocale);
    EXPECT_EQ(ComponentPath(frm.qryLocale), QStringLiteral("frmPrincipale.qryLocale"));
}

TEST(FenetreConnectee, ClosingRollsBackTheReadingTransactionAndDisconnects) {
    EffacerAlias();
    BoxRecorder boxes;
    auto frm = std::make_unique<TfrmPrincipale>();
    ASSERT_TRUE(frm->dbSource->Connected());
    frm->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frm.get()));
    // A change made in the reading transaction must not survive the window.
    const ISC_STATUS status = frm->dbSource->ClientLibrary()->isc_dsql_execute_immediate(
        StatusVector(), frm->dbSource->Handle(), frm->transSource->Handle(), 0,
        "UPDATE BANQUE SET BANQ_SOCIETE = 'MARQUEUR' WHERE BANQ_ID = 1", 3, nullptr);
    frm->transSource->Call(status, true);

    EXPECT_TRUE(frm->close());
    EXPECT_FALSE(frm->transSource->Active());
    EXPECT_FALSE(frm->dbSource->Connected());
    EXPECT_TRUE(boxes.errors.empty());

    auto autre = SecondeConnexion();
    EXPECT_NO_THROW(Executer(*autre, VerifierMarqueur));
}

TEST(FenetreConnectee, OnlyTheStoredDialectOutlivesTheWindowsCreation) {
    EffacerAlias();
    BoxRecorder boxes;
    {
        // An alias left by another program, every value of it wrong for this one.
        TpFIBDatabase ecrivain;
        ecrivain.SetAliasName(QStringLiteral("TALVIK_GESTION"));
        ecrivain.SetDBName(QStringLiteral("127.0.0.1:/ailleurs/autre.fdb"));
        ecrivain.DBParams().SetStringList(
            {QStringLiteral("user_name=QUELQUUN"), QStringLiteral("lc_ctype=UTF8")});
        ecrivain.SetLibraryName(QStringLiteral("libautre.so"));
        ecrivain.SetSQLDialect(1);
        ecrivain.SaveAlias();
    }
    TfrmPrincipale frm;
    EXPECT_TRUE(boxes.errors.empty());
    ASSERT_TRUE(frm.dbSource->Connected());
    EXPECT_EQ(frm.dbSource->DBName(), QStringLiteral("127.0.0.1:TALVIK_GESTION"));
    EXPECT_EQ(frm.dbSource->LibraryName(), QStringLiteral("fbClient.dll"));
    EXPECT_EQ(frm.dbSource->ConnectParams().UserName(), QStringLiteral("SYSDBA"));
    EXPECT_EQ(frm.dbSource->ConnectParams().CharSet(), QStringLiteral("ISO8859_1"));
    EXPECT_EQ(frm.dbSource->SQLDialect(), 1);
    frm.close();
    // The connect wrote the window's own values back, the dialect included.
    TpFIBDatabase lecteur;
    lecteur.SetAliasName(QStringLiteral("TALVIK_GESTION"));
    EXPECT_EQ(lecteur.DBName(), QStringLiteral("127.0.0.1:TALVIK_GESTION"));
    EXPECT_EQ(lecteur.SQLDialect(), 1);
}
