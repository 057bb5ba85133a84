// Connections, transactions and links without a server: version parsing, memo subtypes, the
// checks that come before any client call, link bookkeeping and destruction in either order.
#include "FIBDatabase.h"
#include "TestSupport.h"
#include "pFIBDatabase.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

template <typename F> EFIBClientError ClientError(F&& action) {
    try {
        action();
    } catch (const EFIBClientError& e) {
        return e;
    }
    throw std::logic_error("no EFIBClientError raised");
}

// ---------------------------------------------------------------------------------------------

TEST(ServerVersionText, WalksFromTheFifthCharacterAndStopsAfterTheBuild) {
    qint32 n[4] = {-1, -1, -1, -1};
    TFIBDatabase::ParseServerVersionText(S("XX-V2.5.9.27139 Firebird 2.5"), n);
    EXPECT_EQ(n[0], 2);
    EXPECT_EQ(n[1], 5);
    EXPECT_EQ(n[2], 9);
    EXPECT_EQ(n[3], 27139);

    // The last character is never walked, so a number needs a walked character after it.
    qint32 end[4] = {-1, -1, -1, -1};
    TFIBDatabase::ParseServerVersionText(S("XX-V2.5.9.27139"), end);
    EXPECT_EQ(end[2], 9);
    EXPECT_EQ(end[3], -1);
    qint32 oneAfter[4] = {-1, -1, -1, -1};
    TFIBDatabase::ParseServerVersionText(S("XX-V2.5.9.27139x"), oneAfter);
    EXPECT_EQ(oneAfter[3], -1);
    qint32 twoAfter[4] = {-1, -1, -1, -1};
    TFIBDatabase::ParseServerVersionText(S("XX-V2.5.9.27139xy"), twoAfter);
    EXPECT_EQ(twoAfter[3], 27139);

    // Two separators in a row give an empty number, read as 0.
    qint32 gap[4] = {-1, -1, -1, -1};
    TFIBDatabase::ParseServerVersionText(S("LI-V3..1.2 x"), gap);
    EXPECT_EQ(gap[0], 3);
    EXPECT_EQ(gap[1], 0);
    EXPECT_EQ(gap[2], 1);
    EXPECT_EQ(gap[3], 2);
}

TEST(MemoSubtypes, OnlyNumbersOtherThanOneActivateAndStay) {
    TFIBDatabase db;
    db.SetMemoSubtypes(S("1;1"));
    EXPECT_FALSE(db.MemoSubTypesActive());
    EXPECT_EQ(db.MemoSubtypes(), QString());
    EXPECT_TRUE(db.IsMemoSubtype(1));

    db.SetMemoSubtypes(S("1;6"));
    EXPECT_TRUE(db.MemoSubTypesActive());
    EXPECT_EQ(db.MemoSubtypes(), S("6"));
    EXPECT_TRUE(db.IsMemoSubtype(6));
    EXPECT_FALSE(db.IsMemoSubtype(2));

    // Runs of separators count as one; a piece that is no number counts as 1.
    db.SetMemoSubtypes(S(";;7;;abc;-2"));
    EXPECT_EQ(db.MemoSubtypes(), S("7;-2"));
    EXPECT_TRUE(db.IsMemoSubtype(-2));
    EXPECT_TRUE(db.IsMemoSubtype(1));
}

// ---------------------------------------------------------------------------------------------

class Unconnected : public ::testing::Test {
protected:
    void SetUp() override {
        Form.SetName(S("frmPrincipale"));
        Db = new TpFIBDatabase(&Form);
        Db->SetName(S("dbSource"));
        Tr = new TpFIBTransaction(&Form);
        Tr->SetName(S("transLocale"));
    }
    TComponent Form;
    TpFIBDatabase* Db = nullptr;
    TpFIBTransaction* Tr = nullptr;
};

TEST_F(Unconnected, EmptyNameRaises14BeforeTheLibraryIsLookedFor) {
    // A library that cannot exist: asking for it would raise an operating-system error instead.
    Db->SetLibraryName(S("libravelin-absente.so.9"));
    const EFIBClientError e = ClientError([&] { Db->Open(true); });
    EXPECT_EQ(e.SQLCode(), 14);
    EXPECT_EQ(e.Msg(), S("Database name is missing."));
    EXPECT_EQ(Db->ClientLibrary(), nullptr);
    EXPECT_FALSE(Db->Connected());

    Db->SetDBName(S("127.0.0.1:TALVIK_GESTION"));
    EXPECT_THROW(Db->Open(true), EOSError);
    EXPECT_FALSE(Db->Connected());
}

TEST_F(Unconnected, ConnectingAgainFromAConnectHandlerStopsDebugBuilds) {
#ifdef NDEBUG
    GTEST_SKIP() << "the re-entry check exists in debug builds only";
#else
    // Without the check the handler would wait for the lock its own thread holds, for ever.
    Db->SetDBName(S("127.0.0.1:TALVIK_GESTION"));
    Db->SetLibraryName(S("fbClient.dll"));
    TFIBBase link(nullptr);
    link.SetDatabase(Db);
    link.OnDatabaseConnecting = [&](TObject*) {
        TpFIBDatabase other;
        other.SetDBName(S("127.0.0.1:TALVIK_GESTION"));
        other.SetLibraryName(S("fbClient.dll"));
        other.Open(true);
    };
    EXPECT_DEATH(Db->Open(true), "connected again");
#endif
}

TEST_F(Unconnected, ChecksNameTheComponentPaths) {
    EXPECT_EQ(ClientError([&] { Db->CheckActive(false); }).Msg(),
              S("frmPrincipale.dbSource: Cannot perform operation -- DB is not open."));
    EXPECT_EQ(ClientError([&] { Db->Commit(); }).Msg(),
              S("Transaction not assigned for frmPrincipale.dbSource."));
    EXPECT_EQ(ClientError([&] { Db->StartTransaction(); }).Msg(),
              S("Transaction not assigned for ."));
    EXPECT_EQ(ClientError([&] { Tr->Commit(); }).Msg(),
              S("frmPrincipale.transLocale :Transaction is not active."));
    EXPECT_EQ(ClientError([&] { Tr->CheckDatabasesInList(); }).SQLCode(), 18);
    EXPECT_EQ(ClientError([&] { Db->SetSQLDialect(0); }).Msg(), S("SQL Dialect invalid"));

    // A listed connection that is not open stops the start with message 12.
    Tr->SetDefaultDatabase(Db);
    EXPECT_EQ(ClientError([&] { Tr->StartTransaction(); }).SQLCode(), 12);
    EXPECT_FALSE(Tr->Active());
}

TEST_F(Unconnected, InternalTransactionServesTheConnection) {
    TFIBTransaction* internal = Db->InternalTransaction();
    ASSERT_NE(internal, nullptr);
    EXPECT_EQ(internal->DefaultDatabase(), Db);
    EXPECT_EQ(internal->Timeout(), 1000u);
    EXPECT_EQ(internal->TimeoutAction(), TACommit);
    EXPECT_EQ(
        internal->TRParams().ToStringList(),
        QStringList({S("write"), S("isc_tpb_nowait"), S("read_committed"), S("rec_version")}));
    EXPECT_EQ(Db->FindTransaction(internal), 0);
    EXPECT_TRUE(internal->IsReadCommitedTransaction());
    EXPECT_FALSE(internal->IsReadOnly());
    // A closed connection keeps it without a timer running.
    Db->Close();
    EXPECT_EQ(internal->Timeout(), 0u);
}

TEST_F(Unconnected, DefaultTransactionLinksBothWays) {
    Db->SetDefaultTransaction(Tr);
    EXPECT_EQ(Tr->DefaultDatabase(), Db);
    EXPECT_EQ(Tr->FindDatabase(Db), 0);
    EXPECT_GE(Db->FindTransaction(Tr), 0);
    Db->SetDefaultUpdateTransaction(Tr);
    EXPECT_EQ(Tr->DatabaseCount(), 1);

    // A transaction's connections must share one client library.
    TpFIBDatabase other(&Form);
    other.SetLibraryName(S("autre.so"));
    try {
        Tr->AddDatabase(&other);
        FAIL() << "different libraries accepted";
    } catch (const EFIBClientError&) {
        FAIL() << "raised as a client error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), S("frmPrincipale.transLocale.\r\nTransaction can't work with "
                                 "different client library."));
    }
    EXPECT_EQ(Tr->DatabaseCount(), 1);

    // Replacing the default connection takes the transaction away from the old one entirely.
    other.SetLibraryName(Db->LibraryName());
    Tr->SetDefaultDatabase(&other);
    EXPECT_EQ(Db->FindTransaction(Tr), -1);
    EXPECT_EQ(Db->DefaultTransaction(), nullptr);
    EXPECT_EQ(Db->DefaultUpdateTransaction(), nullptr);
    EXPECT_EQ(Tr->DatabaseCount(), 1);
    EXPECT_EQ(Tr->GetDatabase(0), &other);
    Tr->SetDefaultDatabase(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Links

TEST_F(Unconnected, LinkListsStayWithoutGaps) {
    TFIBBase a(nullptr), b(nullptr), c(nullptr);
    for (TFIBBase* link : {&a, &b, &c})
        link->SetDatabase(Db);
    for (TFIBBase* link : {&a, &b, &c})
        link->SetTransaction(Tr);
    EXPECT_EQ(c.IndexInDatabase(), 2);

    a.SetDatabase(nullptr);
    ASSERT_EQ(Db->FIBBaseCount(), 2);
    EXPECT_EQ(Db->GetFIBBase(0), &c);
    EXPECT_EQ(c.IndexInDatabase(), 0);
    EXPECT_EQ(b.IndexInDatabase(), 1);
    EXPECT_EQ(a.IndexInDatabase(), -1);

    // Removing the last one moves nothing.
    b.SetTransaction(nullptr);
    c.SetTransaction(nullptr);
    ASSERT_EQ(Tr->FIBBaseCount(), 1);
    EXPECT_EQ(Tr->GetFIBBase(0), &a);
    EXPECT_EQ(a.IndexInTransaction(), 0);
}

TEST_F(Unconnected, LinkFollowsDefaultsOnlyOutsideLoading) {
    Db->SetDefaultTransaction(Tr);
    TComponent query(&Form);
    query.SetName(S("qryLocale"));
    TFIBBase runTime(&query);
    runTime.SetDatabase(Db);
    EXPECT_EQ(runTime.Transaction(), Tr);

    Form.BeginLoading();
    TFIBBase loading(&query);
    loading.SetDatabase(Db);
    EXPECT_EQ(loading.Transaction(), nullptr);
    Form.EndLoading();

    // A transaction that does not span the link's connection moves the link to its main one.
    TpFIBDatabase other(&Form);
    TpFIBTransaction otherTr(&Form);
    otherTr.SetDefaultDatabase(&other);
    runTime.SetTransaction(&otherTr);
    EXPECT_EQ(runTime.Database(), &other);
    EXPECT_EQ(Db->FIBBaseCount(), 1);
    runTime.SetDatabase(nullptr);
    runTime.SetTransaction(nullptr);
}

TEST_F(Unconnected, LinkChecksNameOwnerOrTransaction) {
    TComponent query(&Form);
    query.SetName(S("qryLocale"));
    TFIBBase link(&query);
    EXPECT_EQ(ClientError([&] { link.DBHandle(); }).Msg(),
              S("Database not assigned for frmPrincipale.qryLocale."));
    EXPECT_EQ(ClientError([&] { link.TRHandle(); }).Msg(),
              S("Transaction not assigned for frmPrincipale.qryLocale."));
    link.SetTransaction(Tr);
    EXPECT_EQ(ClientError([&] { link.TRHandle(); }).Msg(),
              S("frmPrincipale.transLocale :Transaction is not active."));
    TFIBBase orphan(nullptr);
    EXPECT_EQ(ClientError([&] { orphan.DBHandle(); }).Msg(), S("Database not assigned for ."));
}

// ---------------------------------------------------------------------------------------------
// Destruction in either order leaves nobody pointing at the dead object.

struct TRecorder {
    std::vector<std::string> log;
    TNotifyEvent Note(const char* what) {
        return [this, what](TObject*) { log.emplace_back(what); };
    }
};

TEST(Destruction, ConnectionFirstFreesLinksFromTheLastAndLeavesTransactions) {
    TRecorder rec;
    auto* db = new TpFIBDatabase();
    TpFIBTransaction tr;
    db->SetDefaultTransaction(&tr);
    TFIBBase a(nullptr), b(nullptr);
    a.SetDatabase(db);
    b.SetDatabase(db);
    a.SetTransaction(&tr);
    a.OnDatabaseFree = rec.Note("a");
    b.OnDatabaseFree = rec.Note("b");
    db->AddEvent(detBeforeDestroy, rec.Note("listener1"), nullptr);
    db->AddEvent(detBeforeDestroy, rec.Note("listener2"), &tr);
    db->AddEvent(detBeforeDestroy, rec.Note("removed"), &a);
    db->RemoveEvent(detBeforeDestroy, &a);
    ASSERT_EQ(a.Transaction(), &tr);

    delete db;
    EXPECT_EQ(rec.log, (std::vector<std::string>{"listener2", "listener1", "b", "a"}));
    EXPECT_EQ(a.Database(), nullptr);
    EXPECT_EQ(a.Transaction(), nullptr);
    EXPECT_EQ(tr.FIBBaseCount(), 0);
    EXPECT_EQ(tr.DatabaseCount(), 0);
    EXPECT_EQ(tr.DefaultDatabase(), nullptr);
    EXPECT_EQ(tr.MainDatabase(), nullptr);
}

TEST(Destruction, TransactionFirstLeavesAnEmptySlotAndNoDefault) {
    TRecorder rec;
    TpFIBDatabase db;
    auto* tr = new TpFIBTransaction();
    auto* update = new TpFIBTransaction();
    db.SetDefaultTransaction(tr);
    db.SetDefaultUpdateTransaction(update);
    TFIBBase a(nullptr), b(nullptr);
    a.SetTransaction(tr);
    b.SetTransaction(tr);
    EXPECT_EQ(a.Database(), &db);
    a.OnTransactionFree = rec.Note("a");
    b.OnTransactionFree = rec.Note("b");
    tr->AddEvent(tetBeforeDestroy, rec.Note("listener"), nullptr);
    const int slot = db.FindTransaction(tr);

    delete tr;
    EXPECT_EQ(rec.log, (std::vector<std::string>{"listener", "b", "a"}));
    EXPECT_EQ(db.DefaultTransaction(), nullptr);
    EXPECT_EQ(db.DefaultUpdateTransaction(), update);
    EXPECT_EQ(db.GetTransaction(slot), nullptr);
    EXPECT_EQ(a.Transaction(), nullptr);
    EXPECT_EQ(a.Database(), &db);

    // The empty slot is reused by the next transaction.
    TpFIBTransaction next;
    EXPECT_EQ(db.AddTransaction(&next), slot);
    delete update;
    EXPECT_EQ(db.DefaultUpdateTransaction(), nullptr);
}

TEST(Destruction, OwnerDestroysWindowObjectsInEitherOrder) {
    // The window creates the connection first, so it goes last; the reverse must be as clean.
    for (bool connectionFirst : {true, false}) {
        auto* form = new TComponent();
        TpFIBDatabase* db = nullptr;
        TpFIBTransaction* tr = nullptr;
        if (connectionFirst) {
            db = new TpFIBDatabase(form);
            tr = new TpFIBTransaction(form);
        } else {
            tr = new TpFIBTransaction(form);
            db = new TpFIBDatabase(form);
        }
        db->SetDefaultTransaction(tr);
        TFIBBase link(nullptr);
        link.SetTransaction(tr);
        delete form;
        EXPECT_EQ(link.Database(), nullptr);
        EXPECT_EQ(link.Transaction(), nullptr);
    }
}

} // namespace

namespace {

// A stand-in library that attaches to anything and refuses every detach.
TEST(FailingDetach, LeavesTheConnectionClosedWithoutError) {
    TComponent form;
    form.SetName(S("frmPrincipale"));
    TpFIBDatabase db(&form);
    db.SetName(S("dbSource"));
    db.SetLibraryName(S(TESTLIB_DETACHFAILS));
    db.SetDBName(S("nulle-part"));
    db.SetSynchronizeTime(false);
    TFIBBase link(nullptr);
    link.SetDatabase(&db);
    std::vector<std::string> log;
    link.OnDatabaseDisconnected = [&](TObject*) { log.emplace_back("disconnected"); };
    db.AfterDisconnect = [&](TObject*) { log.emplace_back(std::to_string(StatusVector()[1])); };
    db.Open(true);
    ASSERT_TRUE(db.Connected());

    EXPECT_NO_THROW(db.Close());
    EXPECT_FALSE(db.Connected());
    // The detach was made and refused; the disconnect carried on to its end.
    EXPECT_EQ(log, (std::vector<std::string>{"disconnected", "335544856"}));

    db.Open(true);
    EXPECT_NO_THROW(db.ForceClose());
    EXPECT_FALSE(db.Connected());
}

} // namespace

TEST(ForgetPassword, TakesEveryPasswordLineAndNothingElse) {
    TpFIBDatabase db;
    db.DBParams().SetStringList({QStringLiteral("user_name=JDUPONT"), QStringLiteral("PASSWORD=un"),
                                 QStringLiteral("lc_ctype=UTF8"),
                                 QStringLiteral("isc_dpb_password=deux"),
                                 QStringLiteral("sql_role_name=PASSWORD")});
    db.ForgetPassword();
    EXPECT_EQ(db.DBParams().ToStringList(),
              QStringList({QStringLiteral("user_name=JDUPONT"), QStringLiteral("lc_ctype=UTF8"),
                           QStringLiteral("sql_role_name=PASSWORD")}));
    EXPECT_TRUE(db.ConnectParams().Password().isEmpty());
    // Nothing left to take: no change, no error.
    db.ForgetPassword();
    EXPECT_EQ(db.DBParams().Count(), 3);
}
