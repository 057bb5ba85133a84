// Connections and transactions against the tests' private server: connecting and its failures,
// the alias store, dialects, parameter blocks, ends, timeouts and the links' notifications.
#include "FIBDatabase.h"
#include "FIBSafeTimer.h"
#include "MotDePasse.h"
#include "Programme.h"
#include "TestSupport.h"
#include "pFIBDatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const Scratch = "RAVELIN_ESSAI_CNX";
QTemporaryDir* AliasFolder = nullptr;

// Statements go straight through the client library: the layer's own statements are built on
// these classes, not the other way round.
void Exec(TFIBDatabase& db, TFIBTransaction& tr, const QString& sql) {
    const QByteArray text = StringToAnsi(sql);
    tr.Call(db.ClientLibrary()->isc_dsql_execute_immediate(StatusVector(), db.Handle(), tr.Handle(),
                                                           0, text.constData(), 3, nullptr),
            true);
}

// The integer of a one-row, one-column select.
qint32 SelectInt(TFIBDatabase& db, TFIBTransaction& tr, const QString& sql) {
    const QByteArray text = StringToAnsi(sql);
    alignas(XSQLDA) std::array<char, XSQLDA_LENGTH(1)> storage{};
    auto* out = reinterpret_cast<XSQLDA*>(storage.data());
    out->version = SQLDA_VERSION1;
    out->sqln = 1;
    out->sqld = 1;
    qint32 value = 0;
    short null = 0;
    out->sqlvar[0].sqltype = SQL_LONG + 1;
    out->sqlvar[0].sqllen = 4;
    out->sqlvar[0].sqldata = reinterpret_cast<ISC_SCHAR*>(&value);
    out->sqlvar[0].sqlind = &null;
    tr.Call(db.ClientLibrary()->isc_dsql_exec_immed2(StatusVector(), db.Handle(), tr.Handle(), 0,
                                                     text.constData(), 3, nullptr, out),
            true);
    return null ? -1 : value;
}

// The main window's objects, as far as these tests need them.
class Window : public ::testing::Test {
protected:
    void SetUp() override {
        Form.SetName(S("frmPrincipale"));
        Db = new TpFIBDatabase(&Form);
        Db->SetName(S("dbSource"));
        Configure(*Db, S("127.0.0.1:TALVIK_GESTION"));
        Tr = new TpFIBTransaction(&Form);
        Tr->SetName(S("transLocale"));
        ConfigureProgramWriteTransaction(*Tr, Db);
    }

    static void Configure(TFIBDatabase& db, const QString& name) {
        ConfigureProgramConnection(db, name);
    }

    // A second attachment from which the tests look at what the first one left behind.
    struct TObserver {
        TFIBDatabase db;
        TFIBTransaction tr;
        TObserver() {
            Configure(db, S("127.0.0.1:TALVIK_GESTION"));
            db.SetSynchronizeTime(false);
            tr.SetDefaultDatabase(&db);
            tr.TRParams().SetStringList({S("read"), S("read_committed"), S("rec_version")});
            db.Open(true);
            tr.StartTransaction();
        }
        qint32 Int(const QString& sql) { return SelectInt(db, tr, sql); }
    };

    static void CreateScratch() {
        TObserver o;
        o.tr.Rollback();
        o.tr.TRParams().SetStringList({S("write"), S("concurrency")});
        o.tr.StartTransaction();
        Exec(o.db, o.tr,
             Format(S("CREATE TABLE %s (ID INTEGER NOT NULL PRIMARY KEY, VAL INTEGER)"),
                    S(Scratch)));
        o.tr.Commit();
        o.tr.StartTransaction();
        Exec(o.db, o.tr, Format(S("INSERT INTO %s VALUES (1, 0)"), S(Scratch)));
        o.tr.Commit();
    }
    static void DropScratch() {
        TObserver o;
        o.tr.Rollback();
        o.tr.TRParams().SetStringList({S("write"), S("concurrency")});
        o.tr.StartTransaction();
        Exec(o.db, o.tr, Format(S("DROP TABLE %s"), S(Scratch)));
        o.tr.Commit();
    }

    TComponent Form;
    TpFIBDatabase* Db = nullptr;
    TpFIBTransaction* Tr = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Connecting

TEST_F(Window, ConnectsReadsServerFactsAndDisconnects) {
    Db->Open(true);
    ASSERT_TRUE(Db->Connected());
    EXPECT_GT(Db->AttachmentID(), 0);
    EXPECT_EQ(Db->DBSQLDialect(), 3);
    EXPECT_EQ(Db->SQLDialect(), 3);
    EXPECT_EQ(Db->InternalTransaction()->Timeout(), 1000u);
    // SynchronizeTime is on for a connection made at run time; server and tests share a clock.
    EXPECT_LT(std::abs(Db->DifferenceTime()), 1.0 / 24);

    EXPECT_TRUE(Db->IsFirebirdConnect());
    EXPECT_TRUE(Db->IsFB21OrMore());
    EXPECT_FALSE(Db->IsIB2007Connect());
    EXPECT_EQ(Db->ServerMajorVersion(), 3);
    EXPECT_GT(Db->ServerBuild(), 0);
    EXPECT_TRUE(Db->FBVersion().contains(S("Firebird 3")));
    EXPECT_EQ(Db->FBAttachCharsetID(), 21);
    EXPECT_FALSE(Db->IsUnicodeConnect());
    EXPECT_FALSE(Db->NeedUnicodeFieldsTranslation());
    EXPECT_FALSE(Db->NeedUTFEncodeDDL());
    EXPECT_FALSE(Db->NeedUnicodeFieldTranslation(4));
    EXPECT_FALSE(Db->ReturnDeclaredFieldSize());
    EXPECT_FALSE(Db->EasyFormatsStr());
    EXPECT_EQ(Db->BytesInUnicodeChar(4), 4);
    EXPECT_TRUE(Db->UnicodeCharSets().test(4));

    // Connected := true on an open TpFIBDatabase is nothing; Open on a plain one is message 13.
    Db->SetConnected(true);
    EXPECT_TRUE(Db->Connected());

    Db->Close();
    EXPECT_FALSE(Db->Connected());
    EXPECT_EQ(Db->AttachmentID(), -1);
    EXPECT_EQ(Db->InternalTransaction()->Timeout(), 0u);
    EXPECT_EQ(Raised<EFIBClientError>([&] { Db->ServerMajorVersion(); }).SQLCode(), 12);
    // Without a connection the parameter lines decide.
    EXPECT_FALSE(Db->IsUnicodeConnect());
    EXPECT_EQ(Db->BytesInUnicodeChar(4), 1);
    // A forced close (a lost server) forgets the attachment too: the next one is the server's
    // new one, which numbers its attachments upwards.
    Db->Open(true);
    const qint32 avant = Db->AttachmentID();
    Db->ForceClose();
    EXPECT_EQ(Db->AttachmentID(), -1);
    Db->Open(true);
    EXPECT_GT(Db->AttachmentID(), avant);
    Db->Close();

    TFIBDatabase plain;
    Configure(plain, Db->DBName());
    plain.SetSynchronizeTime(false);
    plain.Open(true);
    EXPECT_EQ(plain.DifferenceTime(), 0.0);
    EXPECT_EQ(Raised<EFIBClientError>([&] { plain.Open(true); }).SQLCode(), 13);
}

TEST_F(Window, RefusedAttachmentsRaiseWithThePathAndStayClosed) {
    Db->DBParams().Delete(2);
    Db->DBParams().Add(S("password=pas-le-bon"));
    const EFIBInterBaseError refused = Raised<EFIBInterBaseError>([&] { Db->Open(true); });
    EXPECT_TRUE(refused.Message().startsWith(S("frmPrincipale.dbSource:\r\n"))) << refused.what();
    EXPECT_FALSE(Db->Connected());
    // Without raising, the failure is silent.
    EXPECT_NO_THROW(Db->Open(false));
    EXPECT_FALSE(Db->Connected());

    Configure(*Db, S("127.0.0.1/1:TALVIK_GESTION"));
    const EFIBInterBaseError unreachable = Raised<EFIBInterBaseError>([&] { Db->Open(true); });
    EXPECT_TRUE(unreachable.Message().startsWith(S("frmPrincipale.dbSource:\r\n")));
    EXPECT_FALSE(Db->Connected());
}

TEST_F(Window, OpenConnectionRefusesChangesWithMessage13) {
    Db->Open(true);
    for (const char* name : {"fbClient.dll", "gds32.dll"}) {
        const EFIBClientError e = Raised<EFIBClientError>([&] { Db->SetLibraryName(S(name)); });
        EXPECT_EQ(e.Msg(), S("Cannot perform operation -- DB is currently open."));
    }
    EXPECT_EQ(Db->LibraryName(), S("fbClient.dll"));
    const QStringList lines = Db->DBParams().ToStringList();
    EXPECT_EQ(Raised<EFIBClientError>([&] { Db->DBParams().Add(S("sql_role_name=R")); }).SQLCode(),
              13);
    EXPECT_EQ(Db->DBParams().ToStringList(), lines);
    EXPECT_EQ(Raised<EFIBClientError>([&] { Db->SetDBName(S("ailleurs")); }).SQLCode(), 13);
    Db->SetDBName(Db->DBName()); // the same name is no change
    EXPECT_EQ(Raised<EFIBClientError>([&] { Db->SetAliasName(S("AUTRE")); }).SQLCode(), 13);
}

// ---------------------------------------------------------------------------------------------
// Alias store

QByteArray AliasFileBytes() {
    QFile file(
        QSettings(QSettings::IniFormat, QSettings::UserScope, S("Orvane_Software"), S("Aliases"))
            .fileName());
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.readAll();
}

TEST_F(Window, AliasIsWrittenAfterEachConnectWithoutThePassword) {
    const QString file =
        QSettings(QSettings::IniFormat, QSettings::UserScope, S("Orvane_Software"), S("Aliases"))
            .fileName();
    ASSERT_TRUE(file.startsWith(AliasFolder->path())) << file.toStdString();

    Db->SetAliasName(S("ESSAI_ECRITURE"));
    bool refused = false;
    Db->BeforeConnect = [&](TFIBDatabase* database, TDBParams& params, bool& doConnect) {
        EXPECT_EQ(database, Db);
        EXPECT_EQ(&params, &Db->DBParams());
        doConnect = !refused;
    };
    refused = true;
    EXPECT_NO_THROW(Db->Open(true));
    EXPECT_FALSE(Db->Connected());
    EXPECT_FALSE(AliasFileBytes().contains("ESSAI_ECRITURE"));

    refused = false;
    Db->Open(true);
    ASSERT_TRUE(Db->Connected());
    const QByteArray bytes = AliasFileBytes();
    // QSettings keeps the first key of the path as the INI section, the rest in the key names.
    const QByteArray key("Orvane_Software\\Aliases\\ESSAI_ECRITURE\\");
    EXPECT_TRUE(bytes.startsWith("[Software]")) << bytes.constData();
    EXPECT_TRUE(bytes.contains(key + "Database%20Name=127.0.0.1:TALVIK_GESTION"));
    EXPECT_TRUE(bytes.contains(key + "user_name=SYSDBA"));
    EXPECT_TRUE(bytes.contains(key + "lc_ctype=ISO8859_1"));
    EXPECT_TRUE(bytes.contains(key + "sql_role_name=\n"));
    EXPECT_TRUE(bytes.contains(key + "SQL_DIALECT=3"));
    EXPECT_TRUE(bytes.contains(key + "CLIENT_LIB=fbClient.dll"));
    EXPECT_FALSE(bytes.contains("password"));
    EXPECT_FALSE(bytes.contains(MotDePasseGestion().toLatin1()));

    // What was written is read back by a new connection naming the alias.
    Db->Close();
    TpFIBDatabase reader;
    reader.SetAliasName(S("ESSAI_ECRITURE"));
    EXPECT_EQ(reader.DBName(), S("127.0.0.1:TALVIK_GESTION"));
    EXPECT_EQ(reader.SQLDialect(), 3);
    EXPECT_EQ(reader.LibraryName(), S("fbClient.dll"));
    EXPECT_EQ(reader.DBParams().ToStringList(),
              QStringList({S("user_name=SYSDBA"), S("lc_ctype=ISO8859_1")}));
}

TEST(AliasStore, MissingAliasChangesNothingAndPartialAliasStillApplies) {
    TpFIBDatabase db;
    db.SetAliasName(S("JAMAIS_ECRIT"));
    EXPECT_EQ(db.DBName(), QString());
    EXPECT_EQ(db.DBParams().Count(), 0);
    EXPECT_EQ(db.SQLDialect(), 1);
    EXPECT_EQ(db.LibraryName(), S("gds32.dll"));

    {
        QSettings store(QSettings::IniFormat, QSettings::UserScope, S("Orvane_Software"),
                        S("Aliases"));
        store.beginGroup(S("Software/Orvane_Software/Aliases/SANS_NOM"));
        store.setValue(S("user_name"), S("LECTEUR"));
        store.setValue(S("sql_role_name"), S(""));
        store.setValue(S("SQL_DIALECT"), 3);
        store.setValue(S("CLIENT_LIB"), S("fbClient.dll"));
    }
    TpFIBDatabase partial;
    partial.DBParams().Add(S("sql_role_name=ANCIEN"));
    partial.DBParams().Add(S("lc_ctype=WIN1252"));
    partial.SetAliasName(S("SANS_NOM"));
    EXPECT_FALSE(partial.ReadParamsFromAlias());
    EXPECT_EQ(partial.DBName(), QString());
    // A present empty text removes the line; an absent value leaves its line alone.
    EXPECT_EQ(partial.DBParams().ToStringList(),
              QStringList({S("lc_ctype=WIN1252"), S("user_name=LECTEUR")}));
    EXPECT_EQ(partial.SQLDialect(), 3);
    EXPECT_EQ(partial.LibraryName(), S("fbClient.dll"));
}

// ---------------------------------------------------------------------------------------------
// Dialect

TEST(Dialect, DialectOneDatabaseLowersTheDialectAndRefusesThreeAfterwards) {
    TpFIBDatabase db;
    db.SetDBName(S("127.0.0.1:TALVIK_DIALECTE1"));
    db.DBParams().SetStringList(
        {S("user_name=SYSDBA"), S("lc_ctype=ISO8859_1"), S("password=") + MotDePasseGestion()});
    db.SetLibraryName(S("fbClient.dll"));
    db.SetSQLDialect(3);
    db.Open(true); // SynchronizeTime on: the time is read as a dialect-1 DATE
    EXPECT_EQ(db.DBSQLDialect(), 1);
    EXPECT_EQ(db.SQLDialect(), 1);
    EXPECT_TRUE(db.EasyFormatsStr());
    EXPECT_LT(std::abs(db.DifferenceTime()), 1.0 / 24);
    EXPECT_EQ(Raised<EFIBClientError>([&] { db.SetSQLDialect(3); }).SQLCode(), 61);
    EXPECT_NO_THROW(db.SetSQLDialect(1));
    db.Close();
    EXPECT_NO_THROW(db.SetSQLDialect(3));
}

// ---------------------------------------------------------------------------------------------
// Transactions

TEST_F(Window, ParameterBlocksOfTheProgramsThreeSets) {
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    Tr->StartTransaction();
    EXPECT_EQ(Tr->TPB(), QByteArray("\x03\x09\x07\x11\x0f", 5));
    EXPECT_GT(Tr->TransactionID(), 0);
    Tr->Commit();
    EXPECT_EQ(Tr->TransactionID(), 0);

    TpFIBTransaction source;
    source.SetDefaultDatabase(Db);
    source.SetTPBMode(tpbDefault);
    source.TRParams().SetStringList({S("write"), S("nowait"), S("concurrency")});
    source.StartTransaction();
    EXPECT_EQ(source.TPB(), QByteArray("\x03\x09\x07\x02", 4));
    source.Rollback();

    // Created at run time a TpFIBTransaction takes the internal transaction's lines.
    TpFIBTransaction runTime;
    runTime.SetDefaultDatabase(Db);
    runTime.TRParams().SetStringList({S("read")});
    runTime.StartTransaction();
    EXPECT_EQ(runTime.TPB(), QByteArray("\x03\x09\x07\x0f\x11", 5));
    EXPECT_TRUE(runTime.IsReadCommitedTransaction());
    runTime.Commit();
    TFIBTransaction* internal = Db->InternalTransaction();
    internal->StartTransaction();
    EXPECT_EQ(internal->TPB(), QByteArray("\x03\x09\x07\x0f\x11", 5));
    internal->Commit();
}

TEST_F(Window, ActiveAndInactiveChecks) {
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    EXPECT_EQ(Raised<EFIBClientError>([&] { Tr->Commit(); }).Msg(),
              S("frmPrincipale.transLocale :Transaction is not active."));
    EXPECT_EQ(Raised<EFIBClientError>([&] { Tr->RollbackRetaining(); }).SQLCode(), 15);
    Tr->StartTransaction();
    const isc_tr_handle handle = *Tr->Handle();
    Tr->StartTransaction(); // nothing on an active TpFIBTransaction
    EXPECT_EQ(*Tr->Handle(), handle);
    const QStringList lines = Tr->TRParams().ToStringList();
    EXPECT_EQ(Raised<EFIBClientError>([&] { Tr->TRParams().Add(S("wait")); }).Msg(),
              S("frmPrincipale.transLocale :Transaction is active."));
    EXPECT_EQ(Tr->TRParams().ToStringList(), lines);
    EXPECT_EQ(Raised<EFIBClientError>([&] { Tr->SetDefaultDatabase(nullptr); }).SQLCode(), 16);
    Tr->Rollback();

    TFIBTransaction* internal = Db->InternalTransaction();
    internal->StartTransaction();
    EXPECT_EQ(Raised<EFIBClientError>([&] { internal->StartTransaction(); }).SQLCode(), 16);
    internal->Rollback();
}

TEST_F(Window, RetainingEndsKeepTheHandle) {
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    Tr->StartTransaction();
    const isc_tr_handle handle = *Tr->Handle();
    const qint32 id = Tr->TransactionID();
    Tr->CommitRetaining();
    EXPECT_TRUE(Tr->Active());
    EXPECT_EQ(Tr->State(), tsActive);
    EXPECT_EQ(*Tr->Handle(), handle);
    // The server gives the retained context a number of its own; it is asked for afresh.
    EXPECT_GE(Tr->TransactionID(), id);
    Tr->RollbackRetaining();
    EXPECT_EQ(*Tr->Handle(), handle);
    Tr->Commit();
    EXPECT_FALSE(Tr->Active());
    EXPECT_EQ(Tr->State(), tsClosed);
}

class Scratched : public Window {
protected:
    static void SetUpTestSuite() { CreateScratch(); }
    static void TearDownTestSuite() { DropScratch(); }
};

TEST_F(Scratched, NowaitLockConflictRaisesAtOnce) {
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    TpFIBDatabase second;
    second.SetName(S("dbSecond"));
    Configure(second, Db->DBName());
    second.SetSynchronizeTime(false);
    second.Open(true);
    TpFIBTransaction other;
    other.SetDefaultDatabase(&second);
    other.SetTPBMode(tpbDefault);
    other.TRParams().SetStringList(Tr->TRParams().ToStringList());

    Tr->StartTransaction();
    Exec(*Db, *Tr, Format(S("UPDATE %s SET VAL = 1 WHERE ID = 1"), S(Scratch)));
    other.StartTransaction();
    const EFIBInterBaseError e = Raised<EFIBInterBaseError>(
        [&] { Exec(second, other, Format(S("UPDATE %s SET VAL = 2 WHERE ID = 1"), S(Scratch))); });
    EXPECT_TRUE(e.Message().contains(S("deadlock"), Qt::CaseInsensitive) &&
                e.Message().contains(S("Update conflicts with concurrent update")))
        << e.what();
    other.Rollback();
    Tr->Rollback();
}

TEST_F(Scratched, DisconnectEndsTransactionsByTheirTimeoutAction) {
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    TpFIBTransaction kept, dropped;
    for (TpFIBTransaction* t : {&kept, &dropped}) {
        t->SetDefaultDatabase(Db);
        t->SetTPBMode(tpbDefault);
        t->TRParams().SetStringList(Tr->TRParams().ToStringList());
    }
    kept.SetTimeoutAction(TACommitRetaining);
    dropped.SetTimeoutAction(TARollbackRetaining);
    std::vector<std::pair<TTransactionAction, bool>> ends;
    kept.BeforeEnd = [&](TFIBTransaction*, TTransactionAction action, bool force) {
        ends.emplace_back(action, force);
    };
    Tr->StartTransaction();
    kept.StartTransaction();
    dropped.StartTransaction();
    Exec(*Db, *Tr, Format(S("INSERT INTO %s VALUES (10, 0)"), S(Scratch)));
    Exec(*Db, kept, Format(S("INSERT INTO %s VALUES (11, 0)"), S(Scratch)));
    Exec(*Db, dropped, Format(S("INSERT INTO %s VALUES (12, 0)"), S(Scratch)));

    Db->Close();
    EXPECT_FALSE(Tr->Active());
    EXPECT_EQ(kept.State(), tsClosed);
    EXPECT_FALSE(dropped.Active());
    // Retaining actions become hard ends when forced by the disconnect.
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], std::make_pair(TACommit, true));

    TObserver o;
    EXPECT_EQ(o.Int(Format(S("SELECT COUNT(*) FROM %s WHERE ID = 10"), S(Scratch))), 1);
    EXPECT_EQ(o.Int(Format(S("SELECT COUNT(*) FROM %s WHERE ID = 11"), S(Scratch))), 1);
    EXPECT_EQ(o.Int(Format(S("SELECT COUNT(*) FROM %s WHERE ID = 12"), S(Scratch))), 0);
    o.tr.Commit();
    o.tr.TRParams().SetStringList({S("write"), S("concurrency")});
    o.tr.StartTransaction();
    Exec(o.db, o.tr, Format(S("DELETE FROM %s WHERE ID > 1"), S(Scratch)));
    o.tr.Commit();
}

TEST_F(Window, AttachmentEndedOnTheServerClosesQuietly) {
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    // Another attachment ends this one on the server; closing must still end cleanly (the
    // refused detach itself is watched with a stand-in library in the unit tests).
    {
        TObserver o;
        o.tr.Commit();
        o.tr.TRParams().SetStringList({S("write"), S("concurrency")});
        o.tr.StartTransaction();
        Exec(o.db, o.tr,
             Format(S("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = %d"),
                    Db->AttachmentID()));
        o.tr.Commit();
    }
    EXPECT_NO_THROW(Db->Close());
    EXPECT_FALSE(Db->Connected());
    Db->Open(true);
    EXPECT_TRUE(Db->Connected());
}

TEST_F(Window, IdleTransactionEndsAfterOneToTwoIntervals) {
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    Tr->SetTimeout(300);
    Tr->SetTimeoutAction(TARollback);
    int timeouts = 0;
    Tr->OnTimeout = [&](TObject* sender) {
        EXPECT_EQ(sender, Tr);
        ++timeouts;
    };
    QElapsedTimer clock;
    Tr->StartTransaction();
    clock.start();
    while (Tr->Active() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 elapsed = clock.elapsed();
    EXPECT_FALSE(Tr->Active());
    EXPECT_EQ(timeouts, 1);
    EXPECT_GE(elapsed, 250);
    EXPECT_FALSE(Tr->Timer()->Enabled());
}

TEST_F(Window, TimeoutNeverEndsATransactionBeforeItsFullIdleInterval) {
    // The start is the transaction's last call and its timer starts with it: the first tick only
    // finds it idle, the second ends it, so the end comes two whole intervals after the start at
    // the earliest. A statement run after a tick has marked it idle puts the end a whole interval
    // after that statement at the earliest. A timer allowed to fire a little early breaks both.
    constexpr qint64 Interval = 400;
    constexpr qint64 Slack = 2000;
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    Tr->SetTimeout(quint32(Interval));
    Tr->SetTimeoutAction(TARollback);
    QElapsedTimer clock;
    qint64 end = -1;
    Tr->OnTimeout = [&](TObject*) { end = clock.elapsed(); };
    const auto waitForTheEnd = [&] {
        while (Tr->Active() && clock.elapsed() < 10 * Interval)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        ASSERT_FALSE(Tr->Active());
    };

    for (int round = 0; round < 3; ++round) {
        clock.start();
        Tr->StartTransaction();
        waitForTheEnd();
        EXPECT_GE(end, 2 * Interval) << "round " << round;
        EXPECT_LE(end, 2 * Interval + Slack) << "round " << round;
    }

    // The statement runs at the first tick, just after the tick has marked the transaction idle.
    const TNotifyEvent tick = Tr->Timer()->OnTimer;
    int ticks = 0;
    qint64 lastCall = -1;
    Tr->Timer()->OnTimer = [&](TObject* sender) {
        tick(sender);
        if (++ticks != 1) return;
        EXPECT_EQ(SelectInt(*Db, *Tr, S("SELECT 1 FROM RDB$DATABASE")), 1);
        lastCall = clock.elapsed();
    };
    clock.start();
    Tr->StartTransaction();
    waitForTheEnd();
    Tr->Timer()->OnTimer = tick;
    ASSERT_GE(lastCall, Interval);
    EXPECT_GE(end, 3 * Interval);
    EXPECT_GE(end - lastCall, Interval);
    EXPECT_LE(end - lastCall, 2 * Interval + Slack);
}

// ---------------------------------------------------------------------------------------------
// Notifications through links

struct TLog {
    std::vector<std::string> lines;
    TNotifyEvent Note(std::string what) {
        return [this, what](TObject*) { lines.push_back(what); };
    }
};

TEST_F(Window, LinksHearConnectAndDisconnectInOrder) {
    TLog log;
    Db->SetSynchronizeTime(false);
    Db->SetDefaultTransaction(Tr);
    TFIBBase a(nullptr), b(nullptr);
    for (auto [link, name] : {std::pair{&a, "a"}, std::pair{&b, "b"}}) {
        link->SetDatabase(Db);
        link->SetTransaction(Tr);
        const std::string n = name;
        link->OnDatabaseConnecting = log.Note(n + ".connecting");
        link->OnDatabaseConnected = log.Note(n + ".connected");
        link->OnDatabaseDisconnecting = log.Note(n + ".disconnecting");
        link->OnDatabaseDisconnected = log.Note(n + ".disconnected");
        link->OnTransactionEnding = log.Note(n + ".ending");
    }
    Db->OnConnect = log.Note("OnConnect");
    Db->AddEvent(detOnConnect, log.Note("listener.connect"), nullptr);
    Db->BeforeDisconnect = log.Note("BeforeDisconnect");
    Db->AddEvent(detBeforeDisconnect, log.Note("listener.beforeDisconnect"), nullptr);
    Db->AfterDisconnect = log.Note("AfterDisconnect");

    Db->Open(true);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"a.connecting", "b.connecting", "OnConnect",
                                        "listener.connect", "a.connected", "b.connected"}));
    log.lines.clear();
    Tr->StartTransaction();
    log.lines.clear();
    Db->Close();
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"BeforeDisconnect", "listener.beforeDisconnect", "b.ending",
                                        "a.ending", "a.disconnecting", "b.disconnecting",
                                        "a.disconnected", "b.disconnected", "AfterDisconnect"}));

    // A raising before-disconnect handler keeps the connection open, with the wrapped message.
    Db->Open(true);
    Db->BeforeDisconnect = [](TObject*) { throw Exception(S("occupé")); };
    const Exception e = Raised<Exception>([&] { Db->Close(); });
    EXPECT_EQ(e.Message(), S("Error of frmPrincipale.dbSource.BeforeDisconnect. occupé"));
    EXPECT_TRUE(Db->Connected());
    Db->BeforeDisconnect = nullptr;
    Db->AfterDisconnect = [](TObject*) { throw Exception(S("trop tard")); };
    EXPECT_EQ(Raised<Exception>([&] { Db->Close(); }).Message(),
              S("Error of frmPrincipale.dbSource.AfterDisconnect. trop tard"));
    EXPECT_FALSE(Db->Connected());
    Db->AfterDisconnect = nullptr;
}

TEST_F(Window, LinksHearStartsAndEndsWithThePendingState) {
    TLog log;
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    TFIBBase a(nullptr), b(nullptr);
    for (auto [link, name] : {std::pair{&a, "a"}, std::pair{&b, "b"}}) {
        link->SetTransaction(Tr);
        const std::string n = name;
        link->OnTransactionStarting = log.Note(n + ".starting");
        link->OnTransactionStarted = log.Note(n + ".started");
        link->OnTransactionEnding = [&log, n, this](TObject* sender) {
            EXPECT_EQ(sender, Tr);
            log.lines.push_back(n + ".ending:" + std::to_string(int(Tr->State())));
        };
        link->OnTransactionEnded = log.Note(n + ".ended");
    }
    Tr->AddEvent(tetBeforeStartTransaction, log.Note("before1"), nullptr);
    Tr->AddEvent(tetBeforeStartTransaction, log.Note("before2"), nullptr);
    Tr->AddEvent(tetAfterStartTransaction, log.Note("after1"), nullptr);
    Tr->AddEvent(tetAfterStartTransaction, log.Note("after2"), nullptr);
    Tr->AddEndEvent(
        tetBeforeEndTransaction,
        [&](TFIBTransaction*, TTransactionAction action, bool) {
            log.lines.push_back("beforeEnd:" + std::to_string(int(action)));
        },
        nullptr);
    Tr->BeforeStart = log.Note("BeforeStart");
    Tr->AfterStart = log.Note("AfterStart");
    Db->BeforeStartTransaction = log.Note("db.BeforeStart");
    Db->AfterStartTransaction = log.Note("db.AfterStart");
    Db->BeforeEndTransaction = [&](TFIBTransaction*, TTransactionAction, bool) {
        log.lines.push_back("db.BeforeEnd");
    };
    Tr->AfterEnd = [&](TFIBTransaction*, TTransactionAction, bool) {
        log.lines.push_back("AfterEnd");
    };

    Tr->StartTransaction();
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"db.BeforeStart", "BeforeStart", "a.starting", "b.starting",
                                        "before2", "before1", "after2", "after1", "a.started",
                                        "b.started", "AfterStart", "db.AfterStart"}));
    log.lines.clear();
    Tr->CommitRetaining();
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"db.BeforeEnd", "b.ending:5", "a.ending:5", "beforeEnd:3",
                                        "b.ended", "a.ended", "AfterEnd"}));
    log.lines.clear();
    Tr->Rollback();
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"db.BeforeEnd", "b.ending:2", "a.ending:2", "beforeEnd:0",
                                        "b.ended", "a.ended", "AfterEnd"}));
    Tr->RemoveEndEvent(tetBeforeEndTransaction, nullptr);
}

} // namespace

namespace {

const char* const SortieAttache = "--sortie-attache";

// A program that attaches, starts a transaction, writes, and leaves main with all of it still
// there: what it does is printed (the attachment), the rest is the exit's to tidy up.
TpFIBDatabase* GardeeJusquALaFin = nullptr;

int SortirAttache() {
    GardeeJusquALaFin = new TpFIBDatabase;
    ConfigureProgramConnection(*GardeeJusquALaFin);
    GardeeJusquALaFin->SetSynchronizeTime(false);
    GardeeJusquALaFin->Open(true);
    auto* tr = new TpFIBTransaction(GardeeJusquALaFin);
    ConfigureProgramWriteTransaction(*tr, GardeeJusquALaFin);
    tr->StartTransaction();
    std::printf("%d\n", GardeeJusquALaFin->AttachmentID());
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The alias store lives in a folder of the test run, never in the user's configuration.
    QTemporaryDir folder;
    AliasFolder = &folder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
    if (argc > 1 && std::strcmp(argv[1], SortieAttache) == 0) return SortirAttache();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// ---------------------------------------------------------------------------------------------
// The end of the program

TEST_F(Window, AProgramLeavingMainAttachedEndsCleanlyAndDetaches) {
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {S(SortieAttache)});
        ASSERT_TRUE(child.waitForFinished(60000));
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit)
            << child.readAllStandardError().constData();
        EXPECT_EQ(child.exitCode(), 0);
        bool ok = false;
        const qint32 attachment =
            QString::fromLatin1(child.readAllStandardOutput()).trimmed().toInt(&ok);
        ASSERT_TRUE(ok);
        TObserver o;
        EXPECT_EQ(
            o.Int(Format(S("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = %d"),
                         attachment)),
            0);
    }
}

// ---------------------------------------------------------------------------------------------
// Ends without a connection, destruction under a raising handler

TEST_F(Window, EndingATransactionThatListsNoConnectionRaisesTheClientMessage) {
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    Tr->StartTransaction();
    Tr->RemoveDatabase(0);
    for (auto end : {&TFIBTransaction::Commit, &TFIBTransaction::Rollback,
                     &TFIBTransaction::CommitRetaining}) {
        const EFIBClientError e = Raised<EFIBClientError>([&] { (Tr->*end)(); });
        EXPECT_EQ(
            e.Message(),
            S("frmPrincipale.transLocale :No databases are listed in transaction component."));
    }
    // Nothing was ended: listed again, the transaction rolls back on its own connection.
    EXPECT_TRUE(Tr->Active());
    Tr->AddDatabase(Db);
    Tr->Rollback();
    EXPECT_FALSE(Tr->Active());
}

TEST_F(Scratched, DestroyedConnectionWhoseDisconnectHandlerRaisesStillCommitsAndDetaches) {
    Db->SetSynchronizeTime(false);
    Db->Open(true);
    const qint32 attachment = Db->AttachmentID();
    Tr->StartTransaction();
    Exec(*Db, *Tr, Format(S("INSERT INTO %s VALUES (20, 0)"), S(Scratch)));
    Db->BeforeDisconnect = [](TObject*) { throw Exception(S("refused")); };

    delete Db;
    Db = nullptr;
    EXPECT_FALSE(Tr->Active());

    TObserver o;
    // The transaction's timeout action is a commit; the attachment is gone from the server.
    EXPECT_EQ(o.Int(Format(S("SELECT COUNT(*) FROM %s WHERE ID = 20"), S(Scratch))), 1);
    EXPECT_EQ(o.Int(Format(S("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = %d"),
                           attachment)),
              0);
    o.tr.Commit();
    // nowait: a row left locked by a lost attachment fails the test instead of hanging it.
    o.tr.TRParams().SetStringList({S("write"), S("concurrency"), S("nowait")});
    o.tr.StartTransaction();
    Exec(o.db, o.tr, Format(S("DELETE FROM %s WHERE ID > 1"), S(Scratch)));
    o.tr.Commit();
}

// ---------------------------------------------------------------------------------------------
// Database names the attach call cannot carry

// The attach call takes the name's length as a signed 16-bit count. A name beyond it (a
// configuration's "base" is free text) must be refused whole, never cut to its low bits: cut,
// it names another database, or a negative length the client library reads past.
TEST_F(Window, ADatabaseNameTooLongForTheAttachCallIsRefusedNotCut) {
    Db->SetSynchronizeTime(false);
    const QString real = S("127.0.0.1:TALVIK_GESTION");
    // 65536 more bytes: the low 16 bits of the length are those of the real name.
    const QString wrapped = real + QString(65536, u'X');
    Configure(*Db, wrapped);
    EXPECT_THROW(Db->Open(true), EFIBError);
    EXPECT_FALSE(Db->Connected());
    if (Db->Connected()) {
        TObserver o;
        // Seen from TALVIK_GESTION: the attachment went to the database of the name's first
        // 24 bytes, which nobody asked for.
        EXPECT_EQ(o.Int(Format(S("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID "
                                 "= %d"),
                               Db->AttachmentID())),
                  0);
        Db->Close();
    }
    // Between 32768 and 65535 bytes the count is negative.
    Configure(*Db, real + QString(40000, u'X'));
    EXPECT_THROW(Db->Open(true), EFIBError);
    EXPECT_FALSE(Db->Connected());
}
