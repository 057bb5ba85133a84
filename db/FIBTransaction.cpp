// Transactions: the parameter block, starting, the four ends and forced ends, the timeout, the
// lists of connections and listeners; and the links of statements and datasets.
#include "FIBDatabase.h"

#include "FIBSafeTimer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// One entry of isc_start_multiple's vector, laid out as the client library reads it.
struct ISC_TEB {
    isc_db_handle* db_ptr;
    long tpb_len;
    char* tpb_ptr;
};

bool HasLine(const TStrings& lines, const char* a, const char* b) {
    for (int i = 0; i < lines.Count(); ++i) {
        const QString line = lines.Strings(i);
        if (line.compare(QLatin1String(a), Qt::CaseInsensitive) == 0 ||
            line.compare(QLatin1String(b), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Parameter lines

void TTRParams::Changing() {
    if (UpdateCount() == 0 && FOwner) FOwner->TRParamsChanging();
    TStringList::Changing();
}

void TTRParams::Changed() {
    if (UpdateCount() == 0 && FOwner) FOwner->TRParamsChanged();
    TStringList::Changed();
}

void TFIBTransaction::TRParamsChanging() {
    CheckNotInTransaction();
}

void TFIBTransaction::TRParamsChanged() {
    FTRParamsChanged = true;
}

// ---------------------------------------------------------------------------------------------
// Creation and destruction

TFIBTransaction::TFIBTransaction(TComponent* AOwner) : TComponent(AOwner) {}

TFIBTransaction::~TFIBTransaction() {
    DestroyTransaction();
}

TTransactionAction TFIBTransaction::ForcedAction(TTransactionAction action) {
    if (action == TACommitRetaining) return TACommit;
    if (action == TARollbackRetaining) return TARollback;
    return action;
}

void TFIBTransaction::DestroyTransaction() {
    if (FDestroyed) return;
    FDestroyed = true;
    Destroying();
    try {
        if (Active()) EndTransaction(ForcedAction(FTimeoutAction), true);
    } catch (...) {
        // A forced end is silent already; whatever a handler raised cannot leave a destructor.
    }
    FHandle = 0;
    CallDestroyListeners(vOnDestroy, static_cast<TObject*>(this));
    ReleaseLinks(
        FFIBBases,
        [](TFIBBase* base) {
            if (base->OnTransactionFree) base->OnTransactionFree(base);
        },
        [this](TFIBBase* base) {
            if (base->FTransaction == this) UnregisterFIBBase(base->FIndexInTransaction);
        });
    while (!FFIBBases.empty())
        UnregisterFIBBase(int(FFIBBases.size()) - 1);
    while (!FDatabases.empty())
        RemoveDatabase(int(FDatabases.size()) - 1);
    FDefaultDatabase = nullptr;
    FTPB.clear();
    FTimer.reset();
}

void TFIBTransaction::Loaded() {
    TComponent::Loaded();
    // The connection starts its default transaction itself once it has connected.
    if (FStreamedActive && !Active()) {
        TFIBDatabase* main = MainDatabase();
        if (main && main->Connected()) StartTransaction();
    }
}

// ---------------------------------------------------------------------------------------------
// Properties

void TFIBTransaction::SetActive(bool value) {
    if (HasState(csLoading)) {
        FStreamedActive = value;
        return;
    }
    if (value && !Active())
        StartTransaction();
    else if (!value && Active())
        Rollback();
}

void TFIBTransaction::SetDefaultDatabase(TFIBDatabase* value) {
    CheckNotInTransaction();
    if (value == FDefaultDatabase) return;
    if (value) value->InsertTransaction(this);
    ReplaceDatabase(FDefaultDatabase, value);
    FDefaultDatabase = value;
}

quint32 TFIBTransaction::Timeout() const {
    return FTimer ? quint32(FTimer->Interval()) : 0;
}

void TFIBTransaction::SetTimeout(quint32 value) {
    if (value == 0) {
        FTimer.reset();
        return;
    }
    if (!FTimer) {
        FTimer = std::make_unique<TFIBCustomTimer>(nullptr);
        FTimer->SetEnabled(false);
        FTimer->OnTimer = [this](TObject* Sender) { TimeoutTimerTick(Sender); };
    }
    FTimer->SetInterval(int(value));
    if (Active()) FTimer->SetEnabled(true);
}

void TFIBTransaction::SetHandle(isc_tr_handle value) {
    if (value == FHandle) return;
    CheckNotInTransaction();
    FHandle = value;
    FHandleIsShared = value != 0;
    FState = value != 0 ? tsActive : tsClosed;
}

qint32 TFIBTransaction::TransactionID() {
    if (FTransactionID != 0 || !Active()) return Active() ? FTransactionID : 0;
    TFIBDatabase* main = MainDatabase();
    if (!main || !main->ClientLibrary()) return 0;
    IIBClientLibrary* lib = main->ClientLibrary();
    const char item = isc_info_tra_id;
    std::array<char, 32> answer{};
    Call(lib->isc_transaction_info(StatusVector(), &FHandle, 1, &item, short(answer.size()),
                                   answer.data()),
         true);
    FTransactionID = qint32(lib->isc_vax_integer(answer.data() + 3, 4));
    return FTransactionID;
}

bool TFIBTransaction::IsReadCommitedTransaction() const {
    return HasLine(FTRParams, "read_committed", "isc_tpb_read_committed");
}

bool TFIBTransaction::IsReadOnly() const {
    return HasLine(FTRParams, "read", "isc_tpb_read");
}

// ---------------------------------------------------------------------------------------------
// Checks and calls

void TFIBTransaction::CheckInTransaction() {
    if (FHandle != 0 || HasState(csDesigning)) return;
    const bool allReconnect =
        !FDatabases.empty() &&
        std::all_of(FDatabases.begin(), FDatabases.end(),
                    [](const TFIBDatabase* db) { return db->AutoReconnect(); });
    if (allReconnect) {
        StartTransaction();
        return;
    }
    RaiseClientError(15, ComponentPath(this));
}

void TFIBTransaction::CheckNotInTransaction() {
    if (FHandle != 0) RaiseClientError(16, ComponentPath(this));
}

void TFIBTransaction::CheckDatabasesInList() {
    if (FDatabases.empty()) RaiseClientError(18, ComponentPath(this));
}

ISC_STATUS TFIBTransaction::Call(ISC_STATUS ErrCode, bool RaiseError) {
    RestoreFPUControlWord();
    FCanTimeout = false;
    for (size_t i = 0; i < FDatabases.size(); ++i)
        FDatabases[i]->Call(ErrCode, false);
    if (RaiseError && ErrCode > 0) {
        TFIBDatabase* first = FDatabases.empty() ? nullptr : FDatabases.front();
        RaiseInterBaseError(first ? first->ClientLibrary() : nullptr, this);
    }
    return ErrCode;
}

// ---------------------------------------------------------------------------------------------
// Starting

void TFIBTransaction::StartTransaction() {
    CheckNotInTransaction();
    CheckDatabasesInList();
    for (size_t i = 0; i < FDatabases.size(); ++i) {
        FDatabases[i]->CheckActive(true);
        if (!FDatabases[i]->Connected()) return;
    }
    TFIBDatabase* main = MainDatabase();
    const bool fb21 = main->IsFB21OrMore();
    if (FTRParamsChanged || fb21 != FTPBForFB21) {
        FTPB = GenerateTPB(FTRParams, fb21);
        FTPBForFB21 = fb21;
        // The generation writes the lines back trimmed, which the list reports as a change: the
        // parameters are the ones the block was just made of.
        FTRParamsChanged = false;
    }
    std::vector<ISC_TEB> vector(FDatabases.size());
    for (size_t i = 0; i < FDatabases.size(); ++i) {
        vector[i].db_ptr = FDatabases[i]->Handle();
        vector[i].tpb_len = long(FTPB.size());
        vector[i].tpb_ptr = FTPB.data();
        if (!vTRParams[i].isEmpty()) {
            TStringList own;
            own.SetText(vTRParams[i]);
            vTPBArray[i] = GenerateTPB(own, FDatabases[i]->IsFB21OrMore());
            if (!vTPBArray[i].isEmpty()) {
                vector[i].tpb_len = long(vTPBArray[i].size());
                vector[i].tpb_ptr = vTPBArray[i].data();
            }
        }
    }
    for (size_t i = 0; i < FFIBBases.size(); ++i) {
        TFIBBase* base = FFIBBases[i];
        if (base && base->OnTransactionStarting) base->OnTransactionStarting(this);
    }
    if (!Active()) {
        for (int i = int(vBeforeStartTransaction.size()) - 1; i >= 0; --i)
            if (i < int(vBeforeStartTransaction.size()))
                vBeforeStartTransaction[size_t(i)].handler(this);
        const ISC_STATUS result =
            Call(main->ClientLibrary()->isc_start_multiple(StatusVector(), &FHandle,
                                                           short(vector.size()), vector.data()),
                 false);
        if (result > 0) {
            FHandle = 0;
            RaiseInterBaseError(main->ClientLibrary(), this);
        }
        for (int i = int(vAfterStartTransaction.size()) - 1; i >= 0; --i)
            if (i < int(vAfterStartTransaction.size()))
                vAfterStartTransaction[size_t(i)].handler(this);
    }
    for (size_t i = 0; i < FFIBBases.size(); ++i) {
        TFIBBase* base = FFIBBases[i];
        if (base && base->OnTransactionStarted) base->OnTransactionStarted(this);
    }
    FState = tsActive;
    if (FTimer && FTimer->Interval() > 0) FTimer->SetEnabled(true);
}

// ---------------------------------------------------------------------------------------------
// Ending

void TFIBTransaction::Commit() {
    EndTransaction(TACommit, false);
}
void TFIBTransaction::CommitRetaining() {
    EndTransaction(TACommitRetaining, false);
}
void TFIBTransaction::Rollback() {
    EndTransaction(TARollback, false);
}
void TFIBTransaction::RollbackRetaining() {
    EndTransaction(TARollbackRetaining, false);
}

void TFIBTransaction::DoBeforeEndTransaction(TTransactionAction Action, bool Force) {
    for (int i = int(FFIBBases.size()) - 1; i >= 0; --i) {
        if (i >= int(FFIBBases.size())) continue;
        TFIBBase* base = FFIBBases[size_t(i)];
        if (base && base->OnTransactionEnding) base->OnTransactionEnding(this);
    }
    for (size_t i = 0; i < vBeforeEndTransaction.size(); ++i)
        vBeforeEndTransaction[i].handler(this, Action, Force);
}

void TFIBTransaction::DoAfterEndTransaction(TTransactionAction Action, bool Force) {
    for (int i = int(FFIBBases.size()) - 1; i >= 0; --i) {
        if (i >= int(FFIBBases.size())) continue;
        TFIBBase* base = FFIBBases[size_t(i)];
        if (base && base->OnTransactionEnded) base->OnTransactionEnded(this);
    }
    for (size_t i = 0; i < vAfterEndTransaction.size(); ++i)
        vAfterEndTransaction[i].handler(this, Action, Force);
    FHasUncommitedUpdates = false;
}

void TFIBTransaction::EndTransaction(TTransactionAction Action, bool Force) {
    CheckInTransaction();
    // Without a connection there is no client library to end it with, nor to report through.
    if (!Force) CheckDatabasesInList();
    TFIBDatabase* main = MainDatabase();
    IIBClientLibrary* lib = main ? main->ClientLibrary() : nullptr;
    switch (Action) {
    case TARollbackRetaining:
    case TACommitRetaining: {
        const bool commit = Action == TACommitRetaining;
        FState = commit ? tsDoCommitRetaining : tsDoRollbackRetaining;
        DoBeforeEndTransaction(Action, Force);
        if (!lib) RaiseClientError(12, ComponentPath(main));
        Call(commit ? lib->isc_commit_retaining(StatusVector(), &FHandle)
                    : lib->isc_rollback_retaining(StatusVector(), &FHandle),
             true);
        DoAfterEndTransaction(Action, Force);
        break;
    }
    case TARollback:
    case TACommit: {
        if (FHandleIsShared && Action != FTimeoutAction && !Force) RaiseClientError(58);
        FState = Action == TACommit ? tsDoCommit : tsDoRollback;
        DoBeforeEndTransaction(Action, Force);
        ISC_STATUS result = 0;
        if (FHandleIsShared) {
            FHandle = 0;
            FHandleIsShared = false;
        } else if (lib) {
            result =
                Call(Action == TACommit ? lib->isc_commit_transaction(StatusVector(), &FHandle)
                                        : lib->isc_rollback_transaction(StatusVector(), &FHandle),
                     false);
            if (Force && result > 0)
                result = Call(lib->isc_rollback_transaction(StatusVector(), &FHandle), false);
        } else {
            result = 1;
        }
        if (Force)
            FHandle = 0;
        else if (result > 0)
            RaiseInterBaseError(lib, this);
        DoAfterEndTransaction(Action, Force);
        break;
    }
    }
    if (FHandle != 0) {
        FState = tsActive;
    } else {
        FState = tsClosed;
        if (FTimer) FTimer->SetEnabled(false);
    }
    FTransactionID = 0;
}

void TFIBTransaction::OnDatabaseDisconnecting(TFIBDatabase*) {
    if (Active()) EndTransaction(ForcedAction(FTimeoutAction), true);
}

void TFIBTransaction::TimeoutTimerTick(TObject*) {
    if (!Active()) return;
    if (!FCanTimeout) {
        FCanTimeout = true;
        return;
    }
    EndTransaction(FTimeoutAction, true);
    if (OnTimeout) OnTimeout(this);
}

void TFIBTransaction::DoOnSQLExec(TObject*, TKindOnOperation) {
    // Update tracking (WatchUncommitedUpdates) is not used by this program.
}

// ---------------------------------------------------------------------------------------------
// Connections

int TFIBTransaction::AddDatabase(TFIBDatabase* Database) {
    return AddDatabase(Database, QString());
}

int TFIBTransaction::AddDatabase(TFIBDatabase* Database, const QString& TRParams) {
    if (!Database) return -1;
    const int listed = FindDatabase(Database);
    if (listed >= 0) return listed;
    if (!FDatabases.empty() && Database->LibraryName() != FDatabases.front()->LibraryName()) {
        if (HasState(csLoading)) return -1;
        throw Exception(Format(QStringLiteral("%s.\r\nTransaction can't work with different client "
                                              "library."),
                               ComponentPath(this)));
    }
    Database->InsertTransaction(this);
    FDatabases.push_back(Database);
    vTRParams.append(TRParams);
    vTPBArray.emplace_back();
    return int(FDatabases.size()) - 1;
}

void TFIBTransaction::RemoveDatabase(int index) {
    if (index < 0 || index >= DatabaseCount()) RaiseListIndexError(index);
    TFIBDatabase* db = FDatabases[size_t(index)];
    FDatabases.erase(FDatabases.begin() + index);
    vTRParams.removeAt(index);
    vTPBArray.erase(vTPBArray.begin() + index);
    db->RemoveTransaction(db->FindTransaction(this));
    db->RemoveTransactionFromDefaults(this);
    if (FDefaultDatabase == db) FDefaultDatabase = nullptr;
}

void TFIBTransaction::ReplaceDatabase(TFIBDatabase* OldDatabase, TFIBDatabase* NewDatabase) {
    const int position = FindDatabase(OldDatabase);
    if (position < 0) {
        AddDatabase(NewDatabase);
        return;
    }
    if (!NewDatabase || FindDatabase(NewDatabase) >= 0) {
        RemoveDatabase(position);
        return;
    }
    // In place, so that the order of the other connections stays as it was.
    OldDatabase->RemoveTransaction(OldDatabase->FindTransaction(this));
    OldDatabase->RemoveTransactionFromDefaults(this);
    NewDatabase->InsertTransaction(this);
    FDatabases[size_t(position)] = NewDatabase;
    vTRParams[position].clear();
    vTPBArray[size_t(position)].clear();
}

int TFIBTransaction::FindDatabase(const TFIBDatabase* Database) const {
    if (!Database) return -1;
    const auto it = std::find(FDatabases.begin(), FDatabases.end(), Database);
    return it == FDatabases.end() ? -1 : int(it - FDatabases.begin());
}

TFIBDatabase* TFIBTransaction::GetDatabase(int index) const {
    if (index < 0 || index >= DatabaseCount()) RaiseListIndexError(index);
    return FDatabases[size_t(index)];
}

TFIBDatabase* TFIBTransaction::MainDatabase() const {
    if (FDefaultDatabase) return FDefaultDatabase;
    return FDatabases.empty() ? nullptr : FDatabases.front();
}

TFIBBase* TFIBTransaction::GetFIBBase(int index) const {
    if (index < 0 || index >= FIBBaseCount()) RaiseListIndexError(index);
    return FFIBBases[size_t(index)];
}

// ---------------------------------------------------------------------------------------------
// Listeners and links

std::vector<TFIBListener<TNotifyEvent>>* TFIBTransaction::NotifyList(TpFIBTrEventType EventType) {
    switch (EventType) {
    case tetBeforeStartTransaction:
        return &vBeforeStartTransaction;
    case tetAfterStartTransaction:
        return &vAfterStartTransaction;
    case tetBeforeDestroy:
        return &vOnDestroy;
    default:
        return nullptr;
    }
}

std::vector<TFIBListener<TEndTrEvent>>* TFIBTransaction::EndList(TpFIBTrEventType EventType) {
    switch (EventType) {
    case tetBeforeEndTransaction:
        return &vBeforeEndTransaction;
    case tetAfterEndTransaction:
        return &vAfterEndTransaction;
    default:
        return nullptr;
    }
}

void TFIBTransaction::AddEvent(TpFIBTrEventType EventType, TNotifyEvent Handler,
                               TObject* HandlerOwner) {
    if (auto* list = NotifyList(EventType); list && Handler)
        list->push_back({std::move(Handler), HandlerOwner});
}

void TFIBTransaction::RemoveEvent(TpFIBTrEventType EventType, TObject* HandlerOwner) {
    if (auto* list = NotifyList(EventType)) RemoveListeners(*list, HandlerOwner);
}

void TFIBTransaction::AddEndEvent(TpFIBTrEventType EventType, TEndTrEvent Handler,
                                  TObject* HandlerOwner) {
    if (auto* list = EndList(EventType); list && Handler)
        list->push_back({std::move(Handler), HandlerOwner});
}

void TFIBTransaction::RemoveEndEvent(TpFIBTrEventType EventType, TObject* HandlerOwner) {
    if (auto* list = EndList(EventType)) RemoveListeners(*list, HandlerOwner);
}

int TFIBTransaction::RegisterFIBBase(TFIBBase* base) {
    const auto empty = std::find(FFIBBases.begin(), FFIBBases.end(), nullptr);
    if (empty != FFIBBases.end()) {
        *empty = base;
        return int(empty - FFIBBases.begin());
    }
    FFIBBases.push_back(base);
    return int(FFIBBases.size()) - 1;
}

void TFIBTransaction::UnregisterFIBBase(int index) {
    RemoveLinkAt(
        FFIBBases, index,
        [](TFIBBase* leaving) {
            leaving->FTransaction = nullptr;
            leaving->FIndexInTransaction = -1;
        },
        [](TFIBBase* moved, int position) { moved->FIndexInTransaction = position; });
}

// ---------------------------------------------------------------------------------------------
// TFIBBase

TFIBBase::TFIBBase(TObject* AOwner) : FOwner(AOwner) {}

TFIBBase::~TFIBBase() {
    SetDatabase(nullptr);
    SetTransaction(nullptr);
}

bool TFIBBase::OwnerIsLoading() const {
    for (const TComponent* c = dynamic_cast<const TComponent*>(FOwner); c; c = c->Owner())
        if (c->HasState(csLoading)) return true;
    return false;
}

QString TFIBBase::OwnerPath() const {
    return ComponentPath(dynamic_cast<TComponent*>(FOwner));
}

void TFIBBase::SetDatabase(TFIBDatabase* value) {
    if (value == FDatabase) return;
    if (FDatabase) FDatabase->UnregisterFIBBase(FIndexInDatabase);
    FDatabase = value;
    if (value) FIndexInDatabase = value->RegisterFIBBase(this);
    if (value && !FTransaction && FOwner && !OwnerIsLoading())
        SetTransaction(value->DefaultTransaction());
}

void TFIBBase::SetTransaction(TFIBTransaction* value) {
    if (value == FTransaction) return;
    if (FTransaction) FTransaction->UnregisterFIBBase(FIndexInTransaction);
    FTransaction = value;
    if (!value) return;
    FIndexInTransaction = value->RegisterFIBBase(this);
    if ((!FDatabase || value->FindDatabase(FDatabase) < 0) && value->DatabaseCount() > 0)
        SetDatabase(value->MainDatabase());
}

void TFIBBase::CheckDatabase() {
    if (!FDatabase) RaiseClientError(21, OwnerPath());
    FDatabase->CheckActive(false);
}

void TFIBBase::CheckTransaction() {
    if (!FTransaction) RaiseClientError(22, OwnerPath());
    FTransaction->CheckInTransaction();
}

isc_db_handle* TFIBBase::DBHandle() {
    CheckDatabase();
    return FDatabase->Handle();
}

isc_tr_handle* TFIBBase::TRHandle() {
    CheckTransaction();
    return FTransaction->Handle();
}
