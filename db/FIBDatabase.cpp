// The connection: properties, connecting, disconnecting, destruction, and the process-wide
// registry of connections with its connect lock.
#include "FIBDatabase.h"

#include "FIBSafeTimer.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

// Connecting is serialised process-wide: two threads never run the checks, the library loading
// and the attach call at the same time.
std::mutex& ConnectLock() {
    static std::mutex lock;
    return lock;
}

// Holds the connect lock. The lock is not recursive and the link handlers run under it, so a
// handler that connects again would wait for itself for ever; debug builds stop there instead.
class TConnectScope {
public:
    TConnectScope() {
        assert(!FInside && "a connect handler connected again on the same thread");
        ConnectLock().lock();
        FInside = true;
    }
    ~TConnectScope() {
        FInside = false;
        ConnectLock().unlock();
    }
    TConnectScope(const TConnectScope&) = delete;
    TConnectScope& operator=(const TConnectScope&) = delete;

private:
    static thread_local bool FInside;
};

thread_local bool TConnectScope::FInside = false;

// Every connection alive; at program end whatever is still attached is closed, so the server
// does not wait for an attachment that will never be detached.
class TDatabaseRegistry {
public:
    // The registry itself outlives the client library (it was made before the library was
    // loaded, so it is freed after the library has torn itself down): closing from here would
    // call into a library that is gone. The closing at exit is done by CloseLeftConnections.
    ~TDatabaseRegistry() = default;
    void Add(TFIBDatabase* db) {
        std::lock_guard guard(FLock);
        FList.push_back(db);
    }
    void Remove(TFIBDatabase* db) {
        std::lock_guard guard(FLock);
        FList.erase(std::remove(FList.begin(), FList.end(), db), FList.end());
    }
    void CloseAll() {
        std::vector<TFIBDatabase*> left;
        {
            std::lock_guard guard(FLock);
            left = FList;
        }
        for (TFIBDatabase* db : left) {
            try {
                if (db->Connected()) db->ForceClose();
            } catch (...) {
                // Nobody is left to report it to.
            }
        }
    }

    // Exit handlers run in the reverse order of their registration, the client library's own
    // among them: registered once a library is loaded, the closing runs while that library can
    // still detach. A library loaded later registers its own handlers after it, so each newly
    // loaded library gets one more.
    void CloseAtExitWhileLoaded(const IIBClientLibrary* library) {
        std::lock_guard guard(FLock);
        if (std::find(FCovered.begin(), FCovered.end(), library) != FCovered.end()) return;
        FCovered.push_back(library);
        std::atexit(CloseLeftConnections);
    }

private:
    static void CloseLeftConnections();

    std::mutex FLock;
    std::vector<TFIBDatabase*> FList;
    std::vector<const IIBClientLibrary*> FCovered;
};

TDatabaseRegistry& DatabaseRegistry() {
    static TDatabaseRegistry registry;
    return registry;
}

void TDatabaseRegistry::CloseLeftConnections() {
    DatabaseRegistry().CloseAll();
}

QString ExceptionText(const std::exception& e) {
    if (const auto* ours = dynamic_cast<const Exception*>(&e)) return ours->Message();
    return QString::fromUtf8(e.what());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Creation and destruction

TFIBDatabase::TFIBDatabase(TComponent* AOwner)
    : TComponent(AOwner), FLibraryName(QStringLiteral("gds32.dll")) {
    FDBParams = std::make_unique<TDBParams>(this);
    FConnectParams = std::make_unique<TConnectParams>(this);
    vInternalTransaction = new TFIBTransaction(this);
    vInternalTransaction->SetDefaultDatabase(this);
    vInternalTransaction->SetTimeoutAction(TACommit);
    vInternalTransaction->SetTimeout(1000);
    vInternalTransaction->TRParams().SetStringList(
        {QStringLiteral("write"), QStringLiteral("isc_tpb_nowait"),
         QStringLiteral("read_committed"), QStringLiteral("rec_version")});
    DatabaseRegistry().Add(this);
}

TFIBDatabase::~TFIBDatabase() {
    DestroyDatabase();
}

void TFIBDatabase::DestroyDatabase() {
    if (FDestroyed) return;
    FDestroyed = true;
    Destroying();
    // A destructor cannot report; a refused disconnect is forced below instead.
    try {
        Close();
    } catch (...) {
    }
    DatabaseRegistry().Remove(this);
    if (vInternalTransaction) {
        try {
            if (vInternalTransaction->Active()) vInternalTransaction->Commit();
        } catch (...) {
        }
        TFIBTransaction* internal = vInternalTransaction;
        vInternalTransaction = nullptr;
        delete internal;
    }
    try {
        if (Connected()) TFIBDatabase::ForceClose();
    } catch (...) {
    }
    // A disconnect handler that raised stopped even the forced close before the transactions
    // ended and the attachment was given back: the server would keep both until the process
    // ends, and a transaction meant to commit would be lost.
    if (Connected()) EndAttachmentWithoutHandlers();
    CallDestroyListeners(vOnDestroy, static_cast<TObject*>(this));
    ReleaseLinks(
        FFIBBases,
        [](TFIBBase* base) {
            if (base->OnDatabaseFree) base->OnDatabaseFree(base);
        },
        [this](TFIBBase* base) {
            if (base->FDatabase == this) UnregisterFIBBase(base->FIndexInDatabase);
            if (base->FTransaction)
                base->FTransaction->UnregisterFIBBase(base->FIndexInTransaction);
        });
    while (!FFIBBases.empty())
        UnregisterFIBBase(int(FFIBBases.size()) - 1);
    const std::vector<TFIBTransaction*> transactions = FTransactions;
    for (auto it = transactions.rbegin(); it != transactions.rend(); ++it) {
        TFIBTransaction* tr = *it;
        if (!tr) continue;
        const int position = tr->FindDatabase(this);
        if (position >= 0) tr->RemoveDatabase(position);
        if (tr->FDefaultDatabase == this) tr->FDefaultDatabase = nullptr;
    }
    FTransactions.clear();
    FDefaultTransaction = nullptr;
    FDefaultUpdateTransaction = nullptr;
    FDPB.clear();
    FClientLibrary.reset();
    FClientLibLoaded = false;
}

void TFIBDatabase::Loaded() {
    TComponent::Loaded();
    if (vInternalTransaction)
        vInternalTransaction->SetName(Name() + QStringLiteral("_InternalTransaction"));
    if (FStreamedConnected && !Connected()) {
        Open(true);
        if (FDefaultTransaction && FDefaultTransaction->FStreamedActive &&
            !FDefaultTransaction->Active())
            FDefaultTransaction->StartTransaction();
    }
}

// ---------------------------------------------------------------------------------------------
// Properties

void TFIBDatabase::SetConnected(bool value) {
    if (HasState(csLoading)) {
        FStreamedConnected = value;
        return;
    }
    if (value)
        Open(true);
    else
        Close();
}

QString TFIBDatabase::DBName() const {
    return AnsiToString(FDBName);
}

void TFIBDatabase::SetDBName(const QString& value) {
    const QByteArray name = StringToAnsi(value);
    if (name == FDBName) return;
    CheckInactive();
    FDBName = name;
}

void TFIBDatabase::SetDBParams(const TStrings& value) {
    FDBParams->Assign(value);
}

void TFIBDatabase::SetLibraryName(const QString& value) {
    CheckInactive();
    if (value == FLibraryName) return;
    FLibraryName = value;
    FClientLibrary.reset();
    FClientLibLoaded = false;
}

void TFIBDatabase::SetSQLDialect(qint32 value) {
    if (value < 1 || (Connected() && value > DBSQLDialect())) RaiseClientError(61);
    FSQLDialect = value;
}

void TFIBDatabase::SetDefaultTransaction(TFIBTransaction* value) {
    if (value && value != FDefaultTransaction) {
        value->AddDatabase(this);
        if (!value->FDefaultDatabase) value->FDefaultDatabase = this;
    }
    FDefaultTransaction = value;
}

void TFIBDatabase::SetDefaultUpdateTransaction(TFIBTransaction* value) {
    if (value && value != FDefaultUpdateTransaction) {
        value->AddDatabase(this);
        if (!value->FDefaultDatabase) value->FDefaultDatabase = this;
    }
    FDefaultUpdateTransaction = value;
}

// Only 0 is used: the idle disconnect is not part of this program.
void TFIBDatabase::SetTimeout(quint32 value) {
    FTimeout = value;
}

void TFIBDatabase::SetHandle(isc_db_handle value) {
    if (value == FHandle) return;
    if (FHandle != 0) Close();
    FHandle = value;
    FHandleIsShared = value != 0;
}

void TFIBDatabase::DBParamsChanging(TDBParams&) {
    if (!FForgettingPassword) CheckInactive();
}

void TFIBDatabase::ForgetPassword() {
    FForgettingPassword = true;
    try {
        for (int i = IndexOfDBConst(*FDBParams, DPBConstantName(isc_dpb_password)); i >= 0;
             i = IndexOfDBConst(*FDBParams, DPBConstantName(isc_dpb_password))) {
            QString line = FDBParams->Strings(i);
            FDBParams->Delete(i);
            WipeText(line);
        }
    } catch (...) {
        FForgettingPassword = false;
        throw;
    }
    FForgettingPassword = false;
    if (!FDPB.isEmpty() && FDPB.isDetached()) std::fill(FDPB.begin(), FDPB.end(), '\0');
    FDPB.clear();
    FDBParamsChanged = true;
}

void TFIBDatabase::DBParamsChanged(TDBParams&) {
    FDBParamsChanged = true;
}

// ---------------------------------------------------------------------------------------------
// Checks and calls

void TFIBDatabase::CheckActive(bool TryReconnect) {
    if (FHandle != 0 || HasState(csDesigning)) return;
    if (FAutoReconnect) {
        if (TryReconnect) Open(true);
        return;
    }
    RaiseClientError(12, ComponentPath(this));
}

void TFIBDatabase::CheckInactive() {
    if (FHandle != 0) RaiseClientError(13);
}

void TFIBDatabase::CheckDatabaseName() {
    if (FDBName.isEmpty()) RaiseClientError(14);
    // The attach call takes the name's length as a signed 16-bit count: a longer name would
    // reach the server cut to the low bits of its length, naming another database.
    constexpr qsizetype MaxNameLength = 32767;
    if (FDBName.size() > MaxNameLength)
        RaiseClientErrorFmt(QStringLiteral("Database name too long (%d bytes, at most %d)."),
                            qint32(FDBName.size()), qint32(MaxNameLength));
}

void TFIBDatabase::CheckClientLibrary() {
    if (!FClientLibLoaded) {
        // The registry keys libraries by the name as the program gives it, after the same
        // 8-bit round trip the stored name would take.
        FClientLibrary = GetClientLibrary(AnsiToString(StringToAnsi(FLibraryName)));
        FClientLibLoaded = FClientLibrary != nullptr;
    }
    if (FClientLibrary && !FClientLibrary->LibraryLoaded()) FClientLibrary->LoadIBLibrary();
    if (FClientLibrary && FClientLibrary->LibraryLoaded())
        DatabaseRegistry().CloseAtExitWhileLoaded(FClientLibrary.get());
}

ISC_STATUS TFIBDatabase::Call(ISC_STATUS ErrCode, bool RaiseError) {
    RestoreFPUControlWord();
    if (RaiseError && ErrCode > 0) RaiseInterBaseError(FClientLibrary, this);
    return ErrCode;
}

// ---------------------------------------------------------------------------------------------
// Connecting

void TFIBDatabase::Open(bool RaiseExcept) {
    FServerMajorVersion = -1;
    FServerMinorVersion = -1;
    FServerBuild = -1;
    ISC_STATUS result = 0;
    {
        TConnectScope guard;
        CheckInactive();
        CheckDatabaseName();
        CheckClientLibrary();
        for (size_t i = 0; i < FFIBBases.size(); ++i) {
            TFIBBase* base = FFIBBases[i];
            if (base && base->OnDatabaseConnecting) base->OnDatabaseConnecting(base);
        }
        // No login dialog exists in this program: an enabled prompt counts as cancelled.
        if (FUseLoginPrompt) RaiseClientError(7);
        if (FDBParamsChanged) {
            FDBParamsChanged = false;
            FDPB = GenerateDPB(*FDBParams, FConnectParams->IsFirebird(), &FDPBInUtf8);
        }
        const QByteArray name = FDPBInUtf8 ? AnsiToString(FDBName).toUtf8() : FDBName;
        if (name.size() > 32767)
            RaiseClientErrorFmt(QStringLiteral("Database name too long (%d bytes, at most %d)."),
                                qint32(name.size()), qint32(32767));
        result = FClientLibrary->isc_attach_database(StatusVector(), short(name.size()),
                                                     name.constData(), &FHandle, short(FDPB.size()),
                                                     FDPB.constData());
        Call(result, false);
    }
    if (result > 0) {
        FHandle = 0;
        if (RaiseExcept) RaiseInterBaseError(FClientLibrary, this);
        return;
    }
    if (vInternalTransaction) vInternalTransaction->SetTimeout(1000);
    AttachmentID();
    FDifferenceTime = 0;
    if (DBSQLDialect() < FSQLDialect) FSQLDialect = DBSQLDialect();
    if (FSynchronizeTime && !HasState(csDesigning)) ReadServerTime();
    DoAfterConnect();
    for (size_t i = 0; i < FFIBBases.size() && Connected(); ++i) {
        TFIBBase* base = FFIBBases[i];
        if (base && base->OnDatabaseConnected) base->OnDatabaseConnected(base);
    }
}

void TFIBDatabase::DoAfterConnect() {
    ComputeServerKindFlags();
    if (OnConnect) OnConnect(this);
    for (size_t i = 0; i < vOnConnected.size() && Connected(); ++i)
        vOnConnected[i].handler(this);
}

namespace {

// One result column of the time query, read straight through the client library.
struct TOneColumnArea {
    TOneColumnArea() {
        std::memset(storage.data(), 0, storage.size());
        area()->version = SQLDA_VERSION1;
        area()->sqln = 1;
    }
    XSQLDA* area() { return reinterpret_cast<XSQLDA*>(storage.data()); }
    alignas(XSQLDA) std::array<char, XSQLDA_LENGTH(1)> storage;
};

} // namespace

void TFIBDatabase::ReadServerTime() {
    TFIBTransaction* tr = vInternalTransaction;
    IIBClientLibrary* lib = FClientLibrary.get();
    const bool started = !tr->Active();
    if (started) tr->StartTransaction();
    const QByteArray sql = FSQLDialect >= 2
                               ? QByteArray("SELECT CAST('NOW' AS TIMESTAMP) from RDB$DATABASE")
                               : QByteArray("SELECT CAST('NOW' AS DATE) from RDB$DATABASE");
    const auto dialect = static_cast<unsigned short>(FSQLDialect);
    isc_stmt_handle statement = 0;
    TOneColumnArea out;
    ISC_TIMESTAMP value{};
    ISC_DATE dateOnly = 0;
    short nullIndicator = 0;
    const QDateTime localNow = QDateTime::currentDateTime();
    try {
        Call(lib->isc_dsql_alloc_statement2(StatusVector(), &FHandle, &statement), true);
        tr->Call(lib->isc_dsql_prepare(StatusVector(), tr->Handle(), &statement, 0, sql.constData(),
                                       dialect, out.area()),
                 true);
        XSQLVAR& var = out.area()->sqlvar[0];
        const short type = short(var.sqltype & ~1);
        if (type == SQL_TYPE_DATE)
            var.sqldata = reinterpret_cast<ISC_SCHAR*>(&dateOnly);
        else
            var.sqldata = reinterpret_cast<ISC_SCHAR*>(&value);
        var.sqlind = &nullIndicator;
        tr->Call(lib->isc_dsql_execute(StatusVector(), tr->Handle(), &statement, dialect, nullptr),
                 true);
        Call(lib->isc_dsql_fetch(StatusVector(), &statement, dialect, out.area()), true);
        if (type == SQL_TYPE_DATE) value.timestamp_date = dateOnly;
        std::array<ISC_STATUS, StatusVectorLength> local{};
        lib->isc_dsql_free_statement(local.data(), &statement, DSQL_drop);
        RestoreFPUControlWord();
        statement = 0;
    } catch (...) {
        if (statement != 0) {
            std::array<ISC_STATUS, StatusVectorLength> local{};
            lib->isc_dsql_free_statement(local.data(), &statement, DSQL_drop);
            RestoreFPUControlWord();
        }
        if (started && tr->Active()) tr->EndTransaction(TARollback, true);
        throw;
    }
    if (started) tr->Commit();
    std::tm parts{};
    lib->isc_decode_timestamp(&value, &parts);
    // isc_decode_timestamp drops the fraction of the second; the time word keeps it in units
    // of 1/10000 s.
    const QDateTime server(
        QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
        QTime(parts.tm_hour, parts.tm_min, parts.tm_sec, int(value.timestamp_time % 10000) / 10),
        localNow.timeSpec());
    FDifferenceTime = double(server.msecsTo(localNow)) / 86400000.0;
}

// ---------------------------------------------------------------------------------------------
// Disconnecting

void TFIBDatabase::Close() {
    if (Connected()) InternalClose(false);
    vAttachmentID = -1;
    if (vInternalTransaction) vInternalTransaction->SetTimeout(0);
}

void TFIBDatabase::ForceClose() {
    InternalClose(true);
}

void TFIBDatabase::DropAttachment(bool Force) {
    // The server may already be gone; the attachment is over for us either way.
    try {
        if (!FHandleIsShared && FClientLibrary)
            Call(FClientLibrary->isc_detach_database(StatusVector(), &FHandle), !Force);
    } catch (...) {
    }
    FHandle = 0;
    FHandleIsShared = false;
}

void TFIBDatabase::EndTransactions(bool Force) {
    for (size_t i = 0; i < FTransactions.size(); ++i) {
        TFIBTransaction* tr = FTransactions[i];
        if (!tr) continue;
        try {
            tr->OnDatabaseDisconnecting(this);
        } catch (...) {
            if (!Force) throw;
        }
    }
}

void TFIBDatabase::EndAttachmentWithoutHandlers() {
    EndTransactions(true);
    DropAttachment(true);
}

void TFIBDatabase::DoBeforeDisconnect() {
    if (BeforeDisconnect) {
        try {
            BeforeDisconnect(this);
        } catch (const std::exception& e) {
            const QString fmt =
                HasState(csDestroying)
                    ? QStringLiteral("Error of %s.BeforeDisconnect. Probably you are trying to "
                                     "get access to destroyed components. %s")
                    : QStringLiteral("Error of %s.BeforeDisconnect. %s");
            throw Exception(Format(fmt, ComponentPath(this), ExceptionText(e)));
        }
    }
    for (size_t i = 0; i < vBeforeDisconnect.size(); ++i)
        vBeforeDisconnect[i].handler(this);
}

void TFIBDatabase::DoAfterDisconnect() {
    if (!AfterDisconnect) return;
    try {
        AfterDisconnect(this);
    } catch (const std::exception& e) {
        const QString fmt = HasState(csDestroying)
                                ? QStringLiteral("Error of %s.AfterDisconnect. Probably you are "
                                                 "trying to get access to destroyed components. %s")
                                : QStringLiteral("Error of %s.AfterDisconnect. %s");
        throw Exception(Format(fmt, ComponentPath(this), ExceptionText(e)));
    }
}

void TFIBDatabase::InternalClose(bool Force) {
    CheckActive(false);
    DoBeforeDisconnect();
    EndTransactions(Force);
    for (size_t i = 0; i < FFIBBases.size(); ++i) {
        TFIBBase* base = FFIBBases[i];
        if (!base || !base->OnDatabaseDisconnecting) continue;
        try {
            base->OnDatabaseDisconnecting(base);
        } catch (...) {
            if (!Force) throw;
        }
    }
    DropAttachment(Force);
    // Forced or not: a connection made again is another attachment.
    vAttachmentID = -1;
    for (size_t i = 0; i < FFIBBases.size(); ++i) {
        TFIBBase* base = FFIBBases[i];
        if (base && base->OnDatabaseDisconnected) base->OnDatabaseDisconnected(base);
    }
    DoAfterDisconnect();
}

// ---------------------------------------------------------------------------------------------
// Listeners, default transaction operations, lists

void TFIBDatabase::AddEvent(TpFIBDBEventType EventType, TNotifyEvent Handler,
                            TObject* HandlerOwner) {
    if (!Handler) return;
    switch (EventType) {
    case detOnConnect:
        vOnConnected.push_back({std::move(Handler), HandlerOwner});
        break;
    case detBeforeDisconnect:
        vBeforeDisconnect.push_back({std::move(Handler), HandlerOwner});
        break;
    case detBeforeDestroy:
        vOnDestroy.push_back({std::move(Handler), HandlerOwner});
        break;
    }
}

void TFIBDatabase::RemoveEvent(TpFIBDBEventType EventType, TObject* HandlerOwner) {
    switch (EventType) {
    case detOnConnect:
        RemoveListeners(vOnConnected, HandlerOwner);
        break;
    case detBeforeDisconnect:
        RemoveListeners(vBeforeDisconnect, HandlerOwner);
        break;
    case detBeforeDestroy:
        RemoveListeners(vOnDestroy, HandlerOwner);
        break;
    }
}

void TFIBDatabase::StartTransaction() {
    if (!FDefaultTransaction) RaiseClientError(22, QString());
    FDefaultTransaction->StartTransaction();
}

void TFIBDatabase::Commit() {
    if (!FDefaultTransaction) RaiseClientError(22, ComponentPath(this));
    FDefaultTransaction->Commit();
}

void TFIBDatabase::Rollback() {
    if (!FDefaultTransaction) RaiseClientError(22, ComponentPath(this));
    FDefaultTransaction->Rollback();
}

void TFIBDatabase::CommitRetaining() {
    if (!FDefaultTransaction) RaiseClientError(22, ComponentPath(this));
    FDefaultTransaction->CommitRetaining();
}

void TFIBDatabase::RollbackRetaining() {
    if (!FDefaultTransaction) RaiseClientError(22, ComponentPath(this));
    FDefaultTransaction->RollbackRetaining();
}

TFIBTransaction* TFIBDatabase::GetTransaction(int index) const {
    if (index < 0 || index >= TransactionCount()) RaiseListIndexError(index);
    return FTransactions[size_t(index)];
}

int TFIBDatabase::FindTransaction(const TFIBTransaction* transaction) const {
    if (!transaction) return -1;
    const auto it = std::find(FTransactions.begin(), FTransactions.end(), transaction);
    return it == FTransactions.end() ? -1 : int(it - FTransactions.begin());
}

int TFIBDatabase::AddTransaction(TFIBTransaction* transaction) {
    if (!transaction) return -1;
    // Both sides always know of each other, so either may go first without leaving the other
    // a dangling pointer.
    if (transaction->AddDatabase(this) < 0) return -1;
    return FindTransaction(transaction);
}

int TFIBDatabase::InsertTransaction(TFIBTransaction* transaction) {
    if (!transaction) return -1;
    const int listed = FindTransaction(transaction);
    if (listed >= 0) return listed;
    const auto empty = std::find(FTransactions.begin(), FTransactions.end(), nullptr);
    if (empty != FTransactions.end()) {
        *empty = transaction;
        return int(empty - FTransactions.begin());
    }
    FTransactions.push_back(transaction);
    return int(FTransactions.size()) - 1;
}

void TFIBDatabase::RemoveTransaction(int index) {
    if (index < 0 || index >= TransactionCount()) return;
    FTransactions[size_t(index)] = nullptr;
}

void TFIBDatabase::RemoveTransactionFromDefaults(TFIBTransaction* transaction) {
    if (FDefaultTransaction == transaction) FDefaultTransaction = nullptr;
    if (FDefaultUpdateTransaction == transaction) FDefaultUpdateTransaction = nullptr;
}

TFIBBase* TFIBDatabase::GetFIBBase(int index) const {
    if (index < 0 || index >= FIBBaseCount()) RaiseListIndexError(index);
    return FFIBBases[size_t(index)];
}

int TFIBDatabase::RegisterFIBBase(TFIBBase* base) {
    FFIBBases.push_back(base);
    return int(FFIBBases.size()) - 1;
}

void TFIBDatabase::UnregisterFIBBase(int index) {
    RemoveLinkAt(
        FFIBBases, index,
        [](TFIBBase* leaving) {
            leaving->FDatabase = nullptr;
            leaving->FIndexInDatabase = -1;
        },
        [](TFIBBase* moved, int position) { moved->FIndexInDatabase = position; });
}
