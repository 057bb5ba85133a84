// Connections, transactions and the links through which statements and datasets follow them.
// The three refer to each other with plain pointers and never own one another: whichever goes
// first unregisters itself from the others, so no side is ever left pointing at a dead object.
#pragma once

#include "Classes.h"
#include "IB_Intf.h"
#include "fib.h"
#include "pFIBProps.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <bitset>
#include <functional>
#include <memory>
#include <vector>

class TFIBDatabase;
class TFIBTransaction;
class TFIBBase;
class TFIBCustomTimer;

// ---------------------------------------------------------------------------------------------
// Shared types

enum TTransactionAction {
    TARollback = 0,
    TARollbackRetaining = 1,
    TACommit = 2,
    TACommitRetaining = 3,
};

enum TTransactionState {
    tsActive = 0,
    tsClosed = 1,
    tsDoRollback = 2,
    tsDoRollbackRetaining = 3,
    tsDoCommit = 4,
    tsDoCommitRetaining = 5,
};

enum TTPBMode {
    tpbDefault = 0,
    tpbReadCommitted = 1,
    tpbRepeatableRead = 2,
};

enum TpFIBTrEventType {
    tetBeforeStartTransaction,
    tetAfterStartTransaction,
    tetBeforeEndTransaction,
    tetAfterEndTransaction,
    tetBeforeDestroy,
};

enum TpFIBDBEventType {
    detOnConnect,
    detBeforeDisconnect,
    detBeforeDestroy,
};

enum TKindOnOperation {
    koBefore = 0,
    koAfter = 1,
    koOther = 2,
};

enum TUseRepository : unsigned {
    urFieldsInfo = 1u << 0,
    urDataSetInfo = 1u << 1,
    urErrorMessagesInfo = 1u << 2,
};
using TUseRepositories = unsigned;

enum TDesignDBOption : unsigned {
    ddoIsDefaultDatabase = 1u << 0,
    ddoStoreConnected = 1u << 1,
    ddoNotSavePassword = 1u << 2,
};
using TDesignDBOptions = unsigned;

// The statement types are defined with the statements; a transaction only passes them on.
enum TFIBSQLTypes : quint8;

// What a transaction asks of the statement that reports an execution to it. Statements
// implement it so that the transaction's SQL events can name the statement's type without this
// unit knowing the statement classes.
class IFIBStatementInfo {
public:
    virtual ~IFIBStatementInfo() = default;
    virtual TFIBSQLTypes SQLType() const = 0;
};

using TEndTrEvent =
    std::function<void(TFIBTransaction* EndingTR, TTransactionAction Action, bool Force)>;

// A listener of a connection's or transaction's list: the handler and the object it belongs to,
// which is how a listener is found again to be removed.
template <typename Handler> struct TFIBListener {
    Handler handler;
    TObject* owner = nullptr;
};

// Takes the link at `index` out of a connection's or transaction's list without leaving a gap:
// the last link moves into its place. `detach` clears the leaving link's side of the pair,
// `renumber` tells the moved link its new position.
template <typename Link, typename Detach, typename Renumber>
void RemoveLinkAt(std::vector<Link*>& links, int index, Detach detach, Renumber renumber) {
    if (index < 0 || index >= int(links.size())) return;
    if (Link* leaving = links[size_t(index)]) detach(leaving);
    const int last = int(links.size()) - 1;
    if (index != last) {
        Link* moved = links[size_t(last)];
        links[size_t(index)] = moved;
        if (moved) renumber(moved, index);
    }
    links.pop_back();
}

// Tells the listeners of an object that is going away, from the last to the first. None of them
// may stop the others, and a listener may take itself off the list while it is called.
template <typename Handler, typename... Args>
void CallDestroyListeners(const std::vector<TFIBListener<Handler>>& listeners, Args... args) {
    for (int i = int(listeners.size()) - 1; i >= 0; --i) {
        if (i >= int(listeners.size())) continue;
        try {
            listeners[size_t(i)].handler(args...);
        } catch (...) {
        }
    }
}

// Takes every listener that `owner` registered off the list.
template <typename List> void RemoveListeners(List& list, TObject* owner) {
    list.erase(std::remove_if(list.begin(), list.end(),
                              [owner](const auto& l) { return l.owner == owner; }),
               list.end());
}

// Tells every link of an object that is going away, from the last to the first, and lets each
// leave. A handler that raises stops nobody, and a link may leave on its own inside it.
template <typename Link, typename Notify, typename Leave>
void ReleaseLinks(const std::vector<Link*>& links, Notify notify, Leave leave) {
    for (int i = int(links.size()) - 1; i >= 0; --i) {
        if (i >= int(links.size())) continue;
        Link* link = links[size_t(i)];
        if (!link) continue;
        try {
            notify(link);
        } catch (...) {
        }
        leave(link);
    }
}

// The memo subtypes of a connection: the published text and the numbers read from it.
class TMemoSubtypes {
public:
    const QString& Text() const { return FText; }
    void SetText(const QString& value);
    bool Active() const { return FActive; }
    const std::vector<qint8>& Subtypes() const { return FSubtypes; }
    bool Contains(qint16 subtype) const;

private:
    QString FText;
    std::vector<qint8> FSubtypes;
    bool FActive = false;
};

// ---------------------------------------------------------------------------------------------
// Connection

class TFIBDatabase : public TComponent, public IDBParamsOwner, public IConnectParamsOwner {
public:
    explicit TFIBDatabase(TComponent* AOwner = nullptr);
    ~TFIBDatabase() override;

    // Properties
    bool Connected() const { return FHandle != 0; }
    void SetConnected(bool value);
    QString DBName() const;
    void SetDBName(const QString& value);
    QString DatabaseName() const { return DBName(); }
    void SetDatabaseName(const QString& value) { SetDBName(value); }
    TDBParams& DBParams() override { return *FDBParams; }
    const TDBParams& DBParams() const { return *FDBParams; }
    void SetDBParams(const TStrings& value);
    TConnectParams& ConnectParams() { return *FConnectParams; }
    const TConnectParams& ConnectParams() const { return *FConnectParams; }
    const QString& LibraryName() const { return FLibraryName; }
    void SetLibraryName(const QString& value);
    qint32 SQLDialect() const { return FSQLDialect; }
    void SetSQLDialect(qint32 value);
    TFIBTransaction* DefaultTransaction() const { return FDefaultTransaction; }
    void SetDefaultTransaction(TFIBTransaction* value);
    TFIBTransaction* DefaultUpdateTransaction() const { return FDefaultUpdateTransaction; }
    void SetDefaultUpdateTransaction(TFIBTransaction* value);
    quint32 Timeout() const { return FTimeout; }
    void SetTimeout(quint32 value);
    bool SynchronizeTime() const { return FSynchronizeTime; }
    void SetSynchronizeTime(bool value) { FSynchronizeTime = value; }
    bool UseLoginPrompt() const { return FUseLoginPrompt; }
    void SetUseLoginPrompt(bool value) { FUseLoginPrompt = value; }
    bool AutoReconnect() const { return FAutoReconnect; }
    void SetAutoReconnect(bool value) { FAutoReconnect = value; }
    bool UpperOldNames() const { return FUpperOldNames; }
    void SetUpperOldNames(bool value) { FUpperOldNames = value; }
    TDesignDBOptions DesignDBOptions() const { return FDesignDBOptions; }
    void SetDesignDBOptions(TDesignDBOptions value) { FDesignDBOptions = value; }
    TUseRepositories UseRepositories() const { return FUseRepositories; }
    void SetUseRepositories(TUseRepositories value) { FUseRepositories = value; }
    // Local time minus the server's, in days; 0 unless SynchronizeTime read it at the connect.
    double DifferenceTime() const { return FDifferenceTime; }

    // The address of the attachment handle, handed to the client library.
    isc_db_handle* Handle() { return &FHandle; }
    // Installs a handle attached elsewhere; it is never detached by this connection.
    void SetHandle(isc_db_handle value);
    bool HandleIsShared() const { return FHandleIsShared; }
    IIBClientLibrary* ClientLibrary() const { return FClientLibrary.get(); }
    const IIBClientLibraryPtr& ClientLibraryPtr() const { return FClientLibrary; }
    TFIBTransaction* InternalTransaction() const { return vInternalTransaction; }

    // Connecting and disconnecting
    virtual void Open(bool RaiseExcept = true);
    void Close();
    // Takes the password out of the parameter lines and wipes the parameter block built from
    // them, connected or not: once attached, the connection has no further use for it, and a
    // password typed by a user should live no longer than the attach. The next connect needs a
    // password line again.
    void ForgetPassword();
    virtual void ForceClose();
    void CheckActive(bool TryReconnect = false);
    void CheckInactive();
    void CheckDatabaseName();
    void CheckClientLibrary();
    ISC_STATUS Call(ISC_STATUS ErrCode, bool RaiseError);

    void AddEvent(TpFIBDBEventType EventType, TNotifyEvent Handler, TObject* HandlerOwner);
    // Removes every listener of that kind belonging to HandlerOwner.
    void RemoveEvent(TpFIBDBEventType EventType, TObject* HandlerOwner);

    // The same operations on DefaultTransaction.
    void StartTransaction();
    void Commit();
    void Rollback();
    void CommitRetaining();
    void RollbackRetaining();

    TFIBTransaction* GetTransaction(int index) const;
    int TransactionCount() const { return int(FTransactions.size()); }
    int FindTransaction(const TFIBTransaction* transaction) const;
    // Lists the transaction (first empty slot, else at the end) and this connection among its
    // databases; its position, or -1.
    int AddTransaction(TFIBTransaction* transaction);
    TFIBBase* GetFIBBase(int index) const;
    int FIBBaseCount() const { return int(FFIBBases.size()); }

    // Server facts
    qint32 AttachmentID();
    qint32 DBSQLDialect();
    qint32 FBAttachCharsetID();
    qint32 ODSMajorVersion();
    qint32 ODSMinorVersion();
    QString FBVersion();
    QString Version();
    // The number answered for `item`; `found` tells whether the answer named that item.
    qint32 DatabaseInfoInteger(char item, bool* found = nullptr);
    qint32 ServerMajorVersion();
    qint32 ServerMinorVersion();
    qint32 ServerRelease();
    qint32 ServerBuild();
    void ParseServerVersion();
    // The walk of a version text: numbers[0..3] receive major, minor, release and build, each
    // only once a character other than a digit follows it (the text's last character is not
    // walked). Numbers not reached are left untouched.
    static void ParseServerVersionText(const QString& text, qint32 (&numbers)[4]);

    bool IsFirebirdConnect() const { return FIsFireBirdConnect; }
    bool IsIB2007Connect();
    bool IsFB21OrMore() const { return FIsFB21OrMore; }
    bool IsUnicodeConnect() const;
    bool NeedUnicodeFieldsTranslation() const;
    bool NeedUnicodeFieldTranslation(quint8 FieldCharacterSet) const;
    bool NeedUTFEncodeDDL() const { return FNeedUTFDecodeDDL; }
    std::bitset<256> UnicodeCharSets() const;
    int BytesInUnicodeChar(int CharSetId) const;
    bool ReturnDeclaredFieldSize();
    bool EasyFormatsStr() const { return FSQLDialect < 3 || FUpperOldNames; }
    QString MemoSubtypes() const { return FMemoSubtypes.Text(); }
    void SetMemoSubtypes(const QString& value) { FMemoSubtypes.SetText(value); }
    bool MemoSubTypesActive() const { return FMemoSubtypes.Active(); }
    bool IsMemoSubtype(qint16 subtype) const { return FMemoSubtypes.Contains(subtype); }

    // Events
    TNotifyEvent OnConnect;
    TNotifyEvent BeforeDisconnect;
    TNotifyEvent AfterDisconnect;

    // IDBParamsOwner
    void DBParamsChanging(TDBParams& params) override;
    void DBParamsChanged(TDBParams& params) override;

protected:
    void Loaded() override;
    virtual void InternalClose(bool Force);
    virtual void SaveAlias() {}

    // Runs the disconnect and the unregistering that destruction needs; a subclass calls it
    // first thing in its own destructor so that its overrides still take part. Safe to repeat.
    void DestroyDatabase();

    void DoBeforeDisconnect();
    void DoAfterDisconnect();
    void DoAfterConnect();

private:
    // Ends the active transactions by their timeout actions; with Force a failure stops nothing.
    void EndTransactions(bool Force);
    // Gives the attachment back; with Force a refusal is not reported.
    void DropAttachment(bool Force);
    // Ends the transactions by their timeout actions and detaches, calling no disconnect handler.
    void EndAttachmentWithoutHandlers();
    friend class TFIBTransaction;
    friend class TFIBBase;

    int RegisterFIBBase(TFIBBase* base);
    void UnregisterFIBBase(int index);
    int InsertTransaction(TFIBTransaction* transaction);
    void RemoveTransaction(int index);
    void RemoveTransactionFromDefaults(TFIBTransaction* transaction);
    void ComputeServerKindFlags();
    void ReadServerTime();
    QString DatabaseInfoText(char item, int bufferSize);

    TUseRepositories FUseRepositories = urFieldsInfo | urDataSetInfo | urErrorMessagesInfo;
    QString FLibraryName;
    bool FClientLibLoaded = false;
    bool FAutoReconnect = false;
    TMemoSubtypes FMemoSubtypes;
    IIBClientLibraryPtr FClientLibrary;
    std::vector<TFIBBase*> FFIBBases;
    std::vector<TFIBTransaction*> FTransactions;
    QByteArray FDBName;
    std::unique_ptr<TDBParams> FDBParams;
    bool FDBParamsChanged = true;
    // Set while ForgetPassword edits the lines of a connected connection.
    bool FForgettingPassword = false;
    QByteArray FDPB;
    // The block carries the account's texts in UTF-8: the database's name goes so as well.
    bool FDPBInUtf8 = false;
    isc_db_handle FHandle = 0;
    bool FHandleIsShared = false;
    bool FUseLoginPrompt = false;
    TFIBTransaction* FDefaultTransaction = nullptr;
    TFIBTransaction* FDefaultUpdateTransaction = nullptr;
    bool FStreamedConnected = false;
    qint32 FSQLDialect = 1;
    bool FUpperOldNames = false;
    std::unique_ptr<TConnectParams> FConnectParams;
    TDesignDBOptions FDesignDBOptions = ddoStoreConnected;
    double FDifferenceTime = 0;
    bool FSynchronizeTime = true;
    quint32 FTimeout = 0;
    TFIBTransaction* vInternalTransaction = nullptr;
    std::vector<TFIBListener<TNotifyEvent>> vOnConnected;
    std::vector<TFIBListener<TNotifyEvent>> vBeforeDisconnect;
    std::vector<TFIBListener<TNotifyEvent>> vOnDestroy;
    qint32 vAttachmentID = -1;
    qint32 FServerMajorVersion = -1;
    qint32 FServerMinorVersion = -1;
    qint32 FServerRelease = -1;
    qint32 FServerBuild = -1;
    bool FNeedUnicodeFieldsTranslation = false;
    bool FIsUnicodeConnect = false;
    bool FIsNoneConnect = false;
    bool FNeedUTFDecodeDDL = false;
    bool FIsFB21OrMore = false;
    bool FIsFireBirdConnect = false;
    bool FIsIB2007Connect = false;
    bool FDestroyed = false;
};

// ---------------------------------------------------------------------------------------------
// Transaction

class TFIBTransaction;

// The parameter lines of a transaction: the transaction may refuse a change and learns of each.
class TTRParams : public TStringList {
public:
    explicit TTRParams(TFIBTransaction* AOwner) : FOwner(AOwner) {}

protected:
    void Changing() override;
    void Changed() override;

private:
    TFIBTransaction* FOwner;
};

class TFIBTransaction : public TComponent {
public:
    explicit TFIBTransaction(TComponent* AOwner = nullptr);
    ~TFIBTransaction() override;

    // Properties
    bool Active() const { return FHandle != 0; }
    void SetActive(bool value);
    bool InTransaction() const { return FHandle != 0; }
    TFIBDatabase* DefaultDatabase() const { return FDefaultDatabase; }
    void SetDefaultDatabase(TFIBDatabase* value);
    quint32 Timeout() const;
    void SetTimeout(quint32 value);
    TTransactionAction TimeoutAction() const { return FTimeoutAction; }
    void SetTimeoutAction(TTransactionAction value) { FTimeoutAction = value; }
    TStringList& TRParams() { return FTRParams; }
    const TStringList& TRParams() const { return FTRParams; }
    void SetTRParams(const TStrings& value) { FTRParams.Assign(value); }
    bool WatchUncommitedUpdates() const { return FWatchUpdates; }
    void SetWatchUncommitedUpdates(bool value) { FWatchUpdates = value; }
    bool HasUncommitedUpdates() const { return FHasUncommitedUpdates; }
    TTransactionState State() const { return FState; }
    // The address of the transaction handle, handed to the client library.
    isc_tr_handle* Handle() { return &FHandle; }
    // Installs a transaction started elsewhere; it is forgotten, not ended, by a hard end.
    void SetHandle(isc_tr_handle value);
    bool HandleIsShared() const { return FHandleIsShared; }
    qint32 TransactionID();
    // The last block built from the parameter lines.
    QByteArray TPB() const { return FTPB; }
    TFIBCustomTimer* Timer() const { return FTimer.get(); }

    TNotifyEvent OnTimeout;

    // Operations
    virtual void StartTransaction();
    virtual void Commit();
    virtual void CommitRetaining();
    virtual void Rollback();
    virtual void RollbackRetaining();
    virtual void EndTransaction(TTransactionAction Action, bool Force);
    virtual void DoOnSQLExec(TObject* Query, TKindOnOperation Kind);
    ISC_STATUS Call(ISC_STATUS ErrCode, bool RaiseError);
    void CheckInTransaction();
    void CheckNotInTransaction();
    void CheckDatabasesInList();
    void OnDatabaseDisconnecting(TFIBDatabase* Database);

    int AddDatabase(TFIBDatabase* Database);
    int AddDatabase(TFIBDatabase* Database, const QString& TRParams);
    void RemoveDatabase(int index);
    void ReplaceDatabase(TFIBDatabase* OldDatabase, TFIBDatabase* NewDatabase);
    int FindDatabase(const TFIBDatabase* Database) const;
    TFIBDatabase* GetDatabase(int index) const;
    int DatabaseCount() const { return int(FDatabases.size()); }
    TFIBDatabase* MainDatabase() const;
    int FIBBaseCount() const { return int(FFIBBases.size()); }
    TFIBBase* GetFIBBase(int index) const;

    void AddEvent(TpFIBTrEventType EventType, TNotifyEvent Handler, TObject* HandlerOwner);
    void RemoveEvent(TpFIBTrEventType EventType, TObject* HandlerOwner);
    void AddEndEvent(TpFIBTrEventType EventType, TEndTrEvent Handler, TObject* HandlerOwner);
    void RemoveEndEvent(TpFIBTrEventType EventType, TObject* HandlerOwner);

    bool IsReadCommitedTransaction() const;
    bool IsReadOnly() const;

    // The timer's tick; public so that the timer (and a test driving it) can reach it.
    void TimeoutTimerTick(TObject* Sender);

protected:
    void Loaded() override;
    // Ends an active transaction and unregisters from everything; a subclass calls it first
    // thing in its destructor so that its own end handling still runs. Safe to repeat.
    void DestroyTransaction();
    void DoBeforeEndTransaction(TTransactionAction Action, bool Force);
    void DoAfterEndTransaction(TTransactionAction Action, bool Force);
    static TTransactionAction ForcedAction(TTransactionAction action);

private:
    friend class TFIBDatabase;
    friend class TFIBBase;
    friend class TTRParams;

    void TRParamsChanging();
    void TRParamsChanged();
    int RegisterFIBBase(TFIBBase* base);
    void UnregisterFIBBase(int index);
    std::vector<TFIBListener<TNotifyEvent>>* NotifyList(TpFIBTrEventType EventType);
    std::vector<TFIBListener<TEndTrEvent>>* EndList(TpFIBTrEventType EventType);

    bool FCanTimeout = false;
    std::vector<TFIBDatabase*> FDatabases;
    std::vector<TFIBBase*> FFIBBases;
    TFIBDatabase* FDefaultDatabase = nullptr;
    isc_tr_handle FHandle = 0;
    bool FHandleIsShared = false;
    bool FStreamedActive = false;
    QByteArray FTPB;
    std::unique_ptr<TFIBCustomTimer> FTimer;
    TTransactionAction FTimeoutAction = TARollback;
    TTRParams FTRParams{this};
    bool FTRParamsChanged = true;
    // The server generation FTPB was made for: a lock timeout goes out only to Firebird 2.1 on.
    bool FTPBForFB21 = false;
    TTransactionState FState = tsClosed;
    qint32 FTransactionID = 0;
    std::vector<TFIBListener<TNotifyEvent>> vOnDestroy;
    std::vector<TFIBListener<TNotifyEvent>> vBeforeStartTransaction;
    std::vector<TFIBListener<TNotifyEvent>> vAfterStartTransaction;
    std::vector<TFIBListener<TEndTrEvent>> vBeforeEndTransaction;
    std::vector<TFIBListener<TEndTrEvent>> vAfterEndTransaction;
    QStringList vTRParams;
    std::vector<QByteArray> vTPBArray;
    bool FHasUncommitedUpdates = false;
    bool FWatchUpdates = false;
    bool FDestroyed = false;
};

// ---------------------------------------------------------------------------------------------
// Link of a statement or dataset

class TFIBBase : public TObject {
public:
    explicit TFIBBase(TObject* AOwner);
    ~TFIBBase() override;

    TFIBDatabase* Database() const { return FDatabase; }
    void SetDatabase(TFIBDatabase* value);
    TFIBTransaction* Transaction() const { return FTransaction; }
    void SetTransaction(TFIBTransaction* value);
    TObject* Owner() const { return FOwner; }
    qint32 IndexInDatabase() const { return FIndexInDatabase; }
    qint32 IndexInTransaction() const { return FIndexInTransaction; }

    virtual void CheckDatabase();
    virtual void CheckTransaction();
    isc_db_handle* DBHandle();
    isc_tr_handle* TRHandle();

    TNotifyEvent OnDatabaseConnecting;
    TNotifyEvent OnDatabaseConnected;
    TNotifyEvent OnDatabaseDisconnecting;
    TNotifyEvent OnDatabaseDisconnected;
    TNotifyEvent OnDatabaseFree;
    TNotifyEvent OnTransactionEnding;
    TNotifyEvent OnTransactionEnded;
    TNotifyEvent OnTransactionStarting;
    TNotifyEvent OnTransactionStarted;
    TNotifyEvent OnTransactionFree;

private:
    friend class TFIBDatabase;
    friend class TFIBTransaction;

    bool OwnerIsLoading() const;
    QString OwnerPath() const;

    TFIBDatabase* FDatabase = nullptr;
    qint32 FIndexInDatabase = -1;
    TFIBTransaction* FTransaction = nullptr;
    qint32 FIndexInTransaction = -1;
    TObject* FOwner = nullptr;
};
