#include "FIBDataSet.h"

#include "IB_Intf.h"
#include "fib.h"

#include <algorithm>
#include <cstring>

namespace {

QString S(const char* text) {
    return QString::fromUtf8(text);
}

// 10^n for the scales a column may have, so that reading a scaled integer needs no pow().
double PowerOfTen(int n) {
    static const double powers[37] = {
        1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6,
        1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,  1e5,  1e6,  1e7,
        1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17, 1e18};
    if (n < -18 || n > 18) return n < 0 ? 0.0 : 1e18;
    return powers[n + 18];
}

} // namespace

// =============================================================================================
// Life

TFIBCustomDataSet::TFIBCustomDataSet(TComponent* AOwner)
    : TFIBCustomDataSet(AOwner, [](TComponent* owner) { return new TFIBQuery(owner); }) {}

TFIBCustomDataSet::TFIBCustomDataSet(TComponent* AOwner, const TStatementFactory& MakeStatement)
    : TDataSet(AOwner) {
    FBase = std::make_unique<TFIBBase>(this);
    FBase->OnTransactionEnding = [this](TObject* Sender) { TransactionEnding(Sender); };
    FBase->OnTransactionEnded = [this](TObject* Sender) {
        if (OnTransactionEnded) OnTransactionEnded(Sender);
    };
    FBase->OnDatabaseDisconnecting = [this](TObject* Sender) { DatabaseDisconnecting(Sender); };
    FBase->OnDatabaseDisconnected = [this](TObject* Sender) {
        if (OnDatabaseDisconnected) OnDatabaseDisconnected(Sender);
    };
    FBase->OnDatabaseFree = [this](TObject* Sender) {
        if (OnDatabaseFree) OnDatabaseFree(Sender);
    };
    FBase->OnTransactionFree = [this](TObject* Sender) {
        if (OnTransactionFree) OnTransactionFree(Sender);
    };
    const auto makeStatement = [this, &MakeStatement](const char* name) {
        TFIBQuery* q = MakeStatement(this);
        q->SetName(S(name));
        q->SetParamCheck(true);
        q->SetGoToFirstRecordOnExecute(false);
        q->SetOptions(0);
        q->OnSQLChanging = [this, q](TObject*) { SQLChanging(q); };
        return q;
    };
    FQSelect = makeStatement("SelectQuery");
    FQInsert = makeStatement("InsertQuery");
    FQUpdate = makeStatement("UpdateQuery");
    FQDelete = makeStatement("DeleteQuery");
    FQRefresh = makeStatement("RefreshQuery");
    ApplyStatementOptions();
}

TFIBCustomDataSet::~TFIBCustomDataSet() {
    BeginDestroy();
    try {
        Close();
    } catch (...) {
        // Nothing a closing dataset could report would reach anyone any more.
    }
    FreeCache();
    // Fields that outlive this part of the dataset (owned by it or by a window) must not call
    // back into it.
    for (qint32 i = 0; i < FieldCount(); ++i)
        if (auto* s = dynamic_cast<TFIBStringField*>(Fields(i))) s->Detaching();
    FBase.reset();
}

std::vector<TFIBQuery*> TFIBCustomDataSet::Statements() const {
    return {FQSelect, FQDelete, FQInsert, FQUpdate, FQRefresh};
}

void TFIBCustomDataSet::SetDatabase(TFIBDatabase* Value) {
    if (Value == Database()) return;
    if (Active()) Close();
    FBase->SetDatabase(Value);
    for (TFIBQuery* q : Statements())
        q->SetDatabase(Value);
}

void TFIBCustomDataSet::SetTransaction(TFIBTransaction* Value) {
    if (Value == Transaction()) return;
    FBase->SetTransaction(Value);
    for (TFIBQuery* q : Statements())
        q->SetTransaction(Value);
}

// =============================================================================================
// Options

void TFIBCustomDataSet::ApplyStatementOptions() {
    for (TFIBQuery* q : {FQSelect, FQUpdate, FQDelete, FQInsert}) {
        TpFIBQueryOptions o =
            q->Options() & ~TpFIBQueryOptions(qoStartTransaction | qoNoForceIsNull);
        if (FOptions & poStartTransaction) o |= qoStartTransaction;
        if (FOptions & poNoForceIsNull) o |= qoNoForceIsNull;
        q->SetOptions(o);
    }
    FQSelect->SetAutoCloseOnTransactionEnd(!KeepsRowsAtEnd());
}

bool TFIBCustomDataSet::KeepsRowsAtEnd() const {
    return CachedUpdates() || (FOptions & poDontCloseAfterEndTransaction);
}

void TFIBCustomDataSet::SetOptions(TpFIBDsOptions Value) {
    FOptions = Value;
    ApplyStatementOptions();
}

void TFIBCustomDataSet::CheckPrepareOptionChange(TpPrepareOptions Value) {
    const TpPrepareOptions changed = Value ^ FPrepareOptions;
    const bool loading = HasState(csLoading);
    const bool guarded = (changed & psUseLargeIntField) ||
                         (!loading && (changed & (psUseBooleanField | psSQLINT64ToBCD)));
    if (guarded && Active())
        RaiseClientError(28,
                         S("change psUseBooleanField or psSQLINT64ToBCD or psUseLargeIntField\n"),
                         ComponentPath(this));
}

void TFIBCustomDataSet::SetPrepareOptions(TpPrepareOptions Value) {
    if (Value == FPrepareOptions) return;
    CheckPrepareOptionChange(Value);
    const TpPrepareOptions changed = Value ^ FPrepareOptions;
    FPrepareOptions = Value;
    const bool typeRules = changed & (psUseBooleanField | psSQLINT64ToBCD | psUseLargeIntField);
    if (typeRules && FPrepared) BuildFieldDefs();
}

void TFIBCustomDataSet::SetStoredOption(const QString& Name, bool Value) {
    const TStoredDataSetOption* option = FindStoredDataSetOption(Name);
    if (!option) throw Exception(Format(S("Propriété %s inexistante"), Name));
    if (option->IsPrepareOption)
        SetPrepareOptions(Value ? FPrepareOptions | option->Flag : FPrepareOptions & ~option->Flag);
    else
        SetOptions(Value ? FOptions | option->Flag : FOptions & ~option->Flag);
}

void TFIBCustomDataSet::SetCacheModelKind(TCacheModelKind Value) {
    if (Value == FCacheModelKind) return;
    if (Active()) {
        if (!HasState(csDesigning) && !HasState(csLoading))
            DatabaseError(
                S("Impossible d'effectuer cette opération sur un ensemble de données ouvert"),
                this);
        Close();
    }
    FCacheModelKind = Value;
    if (FCacheModelKind == cmkLimitedBufferSize) FBufferChunks = std::max(FBufferChunks, 100);
}

void TFIBCustomDataSet::SetBufferChunks(qint32 Value) {
    if (Active()) {
        if (!HasState(csDesigning) && !HasState(csLoading))
            DatabaseError(
                S("Impossible d'effectuer cette opération sur un ensemble de données ouvert"),
                this);
        Close();
    }
    FBufferChunks = Value <= 0 ? 32 : Value;
    if (FCacheModelKind == cmkLimitedBufferSize) FBufferChunks = std::max(FBufferChunks, 100);
}

// =============================================================================================
// Parameters

TFIBXSQLVAR* TFIBCustomDataSet::ParamByName(const QString& ParamName) {
    TFIBXSQLVAR* p = FQSelect->FindParam(ParamName);
    if (!p)
        throw Exception(
            Format(S("Parameter \"%s\" does not exist in %s"), ParamName, ComponentPath(this)));
    return p;
}

TFIBXSQLVAR* TFIBCustomDataSet::FindParam(const QString& ParamName) {
    StartTransaction();
    return FQSelect->FindParam(ParamName);
}

// =============================================================================================
// The SQL text and the ends of transaction and connection

void TFIBCustomDataSet::SQLChanging(TFIBQuery* Statement) {
    if (Statement != FQSelect) return;
    vSelectSQLTextChanged = true;
    if (HasState(csDesigning))
        Close();
    else if (FOpen)
        RaiseClientError(28, S(" change SelectSQL "), ComponentPath(this));
    FieldDefs().Clear();
    FPrepared = false;
}

void TFIBCustomDataSet::TransactionEnding(TObject* Sender) {
    if (OnTransactionEnding) OnTransactionEnding(Sender);
    TFIBTransaction* tr = Transaction();
    if (!tr || !Active()) return;
    if (tr->State() != tsDoRollback && tr->State() != tsDoCommit) return;
    EndReading();
}

void TFIBCustomDataSet::EndReading() {
    if (KeepsRowsAtEnd() && !HasState(csDestroying) && !HasState(csDesigning)) {
        FetchAll();
        // A text field learns its column's character set from the statement on its first read;
        // a disconnect drops the statement's columns, so they are learnt now while they exist.
        for (qint32 i = 0; i < FieldCount(); ++i)
            if (auto* text = dynamic_cast<TFIBStringField*>(Fields(i)); text && !text->FPrepared)
                text->PrepareColumnInfo();
        // Only the server's cursor ends: the dataset still shows these rows, so it keeps its
        // cursor flag and refuses a new select until it is closed.
        FQSelect->Close();
        return;
    }
    Close();
}

void TFIBCustomDataSet::DatabaseDisconnecting(TObject* Sender) {
    if (OnDatabaseDisconnecting) OnDatabaseDisconnecting(Sender);
    if (Active()) EndReading();
    FPrepared = false;
}

// =============================================================================================
// Prepare

void TFIBCustomDataSet::StartTransaction() {
    TFIBDatabase* db = Database();
    TFIBTransaction* tr = Transaction();
    if (!db && tr && tr->DefaultDatabase()) {
        SetDatabase(tr->DefaultDatabase());
        db = Database();
    }
    if (!tr && db && db->DefaultTransaction()) {
        SetTransaction(db->DefaultTransaction());
        tr = Transaction();
    }
    if (!tr || tr->Active()) return;
    if (tr->DatabaseCount() == 0 && db) tr->SetDefaultDatabase(db);
    if (FOptions & poStartTransaction) tr->StartTransaction();
}

void TFIBCustomDataSet::Prepare() {
    FBase->CheckDatabase();
    StartTransaction();
    FBase->CheckTransaction();
    bool blank = true;
    for (qint32 i = 0; i < SelectSQL().Count() && blank; ++i)
        blank = Trim(SelectSQL().Strings(i)).isEmpty();
    if (blank) RaiseClientError(37, S("Prepare ") + ComponentPath(this));
    if (!FQSelect->Open()) FQSelect->Prepare();
    FPrepared = true;
    BuildFieldDefs();
    if (HasState(csDesigning))
        for (TFIBQuery* q : {FQUpdate, FQInsert, FQDelete})
            if (!Trim(q->SQL().Text()).isEmpty()) q->Prepare();
}

void TFIBCustomDataSet::UnPrepare() {
    for (TFIBQuery* q : {FQSelect, FQDelete, FQInsert, FQUpdate, FQRefresh})
        q->FreeHandle();
    FPrepared = false;
}

void TFIBCustomDataSet::BuildFieldDefs() {
    if (!FPrepared) {
        Prepare(); // which ends by building them
        return;
    }
    FieldDefs().Clear();
    TFIBDatabase* db = Database();
    const std::bitset<256> unicodeSets = db ? db->UnicodeCharSets() : std::bitset<256>();
    const bool unicodeConnect = db && db->IsUnicodeConnect();
    for (qint32 i = 0; i < FQSelect->FieldCount(); ++i) {
        const XSQLVAR& v = *FQSelect->Fields(i)->Data();
        const int type = v.sqltype & ~1;
        const int scale = v.sqlscale;
        const QByteArray aliasBytes(v.aliasname, v.aliasname_length);
        const QString name =
            unicodeConnect ? QString::fromUtf8(aliasBytes) : AnsiToString(aliasBytes);
        TField* existing = FindField(name);
        TFieldType dataType = ftUnknown;
        qint32 size = 0;
        switch (type) {
        case SQL_VARYING:
        case SQL_TEXT: {
            const int charSet = v.sqlsubtype & 0xFF;
            if (unicodeSets.test(size_t(charSet))) {
                dataType = ftWideString;
                const int bytes = db ? std::max(1, db->BytesInUnicodeChar(charSet)) : 1;
                size = v.sqllen / bytes;
            } else {
                dataType = ftString;
                size = v.sqllen;
            }
            break;
        }
        case SQL_DOUBLE:
        case SQL_FLOAT:
        case SQL_D_FLOAT:
            dataType = ftFloat;
            break;
        case SQL_LONG:
        case SQL_SHORT:
            if (scale < 0)
                dataType = ftFloat;
            else if (existing && existing->DataType() == ftBoolean)
                dataType = ftBoolean;
            else if (type == SQL_LONG)
                dataType = ftInteger;
            else if (!existing || dynamic_cast<TSmallintField*>(existing))
                dataType = ftSmallint;
            else
                dataType = ftInteger;
            break;
        case SQL_TIMESTAMP:
            dataType = ftDateTime;
            break;
        case SQL_TYPE_DATE:
            dataType = ftDate;
            break;
        case SQL_TYPE_TIME:
            dataType = ftTime;
            break;
        case SQL_BLOB: {
            const bool memo = v.sqlsubtype == 1 ||
                              (db && db->MemoSubTypesActive() && db->IsMemoSubtype(v.sqlsubtype));
            dataType = ftBlob;
            if (memo) {
                const bool wide = db && db->NeedUTFEncodeDDL() && unicodeConnect &&
                                  unicodeSets.test(size_t(v.sqlscale & 0xFF));
                dataType = wide ? ftWideMemo : ftMemo;
            }
            size = 8;
            break;
        }
        case SQL_ARRAY:
            dataType = ftBytes;
            size = 8;
            break;
        case SQL_INT64:
            if (scale == 0) {
                dataType = (FPrepareOptions & psUseLargeIntField) ? ftLargeint : ftBCD;
            } else if (scale >= -4) {
                dataType = ftBCD;
                size = -scale;
            } else if (FPrepareOptions & psSQLINT64ToBCD) {
                dataType = ftBCD;
                size = -scale;
            } else {
                dataType = ftFloat;
            }
            break;
        case SQL_IB_BOOLEAN:
            dataType = ftBoolean;
            break;
        default:
            break;
        }
        if (dataType == ftUnknown) continue;
        FieldDefs().Add(name, dataType, size, i + 1);
        if (!existing) continue;
        // A persistent field takes the size its column fixes.
        const bool sizedText = dataType == ftString || dataType == ftWideString;
        const bool scaledBcd = dataType == ftBCD && type == SQL_INT64 && scale != 0;
        if ((sizedText || scaledBcd) && existing->Size() != size) existing->SetSize(size);
        if (dataType == ftGuid && existing->Size() != 38) existing->SetSize(38);
    }
}

// =============================================================================================
// Open and close

void TFIBCustomDataSet::DoBeforeOpen() {
    StartTransaction();
    TDataSet::DoBeforeOpen();
    for (const TDataSetHandler& h : std::vector<TDataSetHandler>(BeforeOpenHandlers))
        h.handler(this);
}

void TFIBCustomDataSet::InternalOpen() {
    if (!FPrepared || !FQSelect->Prepared()) Prepare();
    // Fields defined since the prepare take their columns' sizes too.
    if (FieldDefs().Count() == 0 || !DefaultFields()) BuildFieldDefs();
    if (FQSelect->SQLType() != SQLSelect && FQSelect->SQLType() != SQLSelectForUpdate) {
        FQSelect->ExecQuery();
        FLayout = TRecordLayout();
        return;
    }
    if (DefaultFields()) CreateFields();
    BindFields(true);
    FCurrentRecord = -1;
    SetAllRecordCount(0);
    FQSelect->ExecQuery();
    FOpen = FQSelect->Open();

    TRecordLayoutOptions options;
    options.SQLINT64ToBCD = FPrepareOptions & psSQLINT64ToBCD;
    options.CacheCalcFields = FOptions & poCacheCalcFields;
    options.Added.assign(size_t(FQSelect->FieldCount()), atfStandard);
    for (qint32 i = 0; i < FieldDefs().Count(); ++i) {
        const TFieldDef& def = FieldDefs().Items(i);
        const size_t column = size_t(def.FieldNo - 1);
        if (column >= options.Added.size()) continue;
        if (def.DataType == ftGuid) options.Added[column] = atfGuidField;
        if (def.DataType == ftWideString) options.Added[column] = atfWideStringField;
    }
    for (qint32 i = 0; i < FieldCount(); ++i)
        if (FieldTypeGroup(Fields(i)->DataType()) == FieldTypeGroup(ftBlob))
            ++options.BlobFieldCount;
    FLayout = ComputeRecordLayout(*FQSelect->Current()->AsXSQLDA(), options);
    FRecordsCache = CreateRecordsCache(FLayout, FBufferChunks, options);
    FRecordCount = 0;
    FieldPropertyStep();
}

void TFIBCustomDataSet::DoAfterOpen() {
    ResetEditingState();
    if (!HasState(csDesigning)) FillOrigins();
    TDataSet::DoAfterOpen();
    if (FOptions & poFetchAll) FetchAll();
    vSelectSQLTextChanged = false;
    for (const TDataSetHandler& h : std::vector<TDataSetHandler>(AfterOpenHandlers))
        h.handler(this);
}

void TFIBCustomDataSet::FillOrigins() {
    FRelationTables.clear();
    for (qint32 i = 0; i < FieldCount(); ++i) {
        TField* f = Fields(i);
        if (f->FieldKind() != fkData || f->FieldNo() < 1 || f->FieldNo() > FQSelect->FieldCount())
            continue;
        const XSQLVAR& v = *FQSelect->Fields(f->FieldNo() - 1)->Data();
        const QString relation = AnsiToString(QByteArray(v.relname, v.relname_length));
        QString column = AnsiToString(QByteArray(v.sqlname, v.sqlname_length));
        if (column == QLatin1String("DB_KEY")) column = S("RDB$DB_KEY");
        if (!relation.isEmpty())
            f->SetOrigin(relation + QLatin1Char('.') + column);
        else
            f->SetOrigin(column);
        if (!relation.isEmpty() && !FRelationTables.contains(relation))
            FRelationTables.append(relation);
    }
    FRelationTables.sort();
}

void TFIBCustomDataSet::DoBeforeClose() {
    TDataSet::DoBeforeClose();
    for (const TDataSetHandler& h : std::vector<TDataSetHandler>(BeforeCloseHandlers))
        h.handler(this);
}

void TFIBCustomDataSet::FreeCache() {
    FRecordsCache.reset();
    FLayout = TRecordLayout();
    FCurrentRecord = -1;
    FRecordCount = 0;
}

void TFIBCustomDataSet::InternalClose() {
    FreeCache();
    FOpen = false;
    BindFields(false);
    DestroyDefaultFields();
    // The fields and the window are gone whatever the server says about the cursor.
    FQSelect->Close();
    if (HasState(csDesigning)) UnPrepare();
}

void TFIBCustomDataSet::DoAfterClose() {
    TDataSet::DoAfterClose();
    for (const TDataSetHandler& h : std::vector<TDataSetHandler>(AfterCloseHandlers))
        h.handler(this);
    if (FOptions & poFreeHandlesAfterClose) UnPrepare();
}

void TFIBCustomDataSet::CloseOpen(bool DoFetchAll) {
    if (Active()) Close();
    Open();
    if (DoFetchAll) FetchAll();
}

void TFIBCustomDataSet::RegisterHandler(std::vector<TDataSetHandler>& list, const void* owner,
                                        std::function<void(TDataSet*)> handler) {
    list.push_back(TDataSetHandler{std::move(handler), owner});
}

void TFIBCustomDataSet::UnregisterHandlers(const void* owner) {
    for (auto* list :
         {&BeforeOpenHandlers, &AfterOpenHandlers, &BeforeCloseHandlers, &AfterCloseHandlers})
        list->erase(std::remove_if(list->begin(), list->end(),
                                   [owner](const TDataSetHandler& h) { return h.owner == owner; }),
                    list->end());
}

// =============================================================================================
// Rows

void TFIBCustomDataSet::FetchRowToCache(TFIBQuery* Statement, qint32 Index) {
    ::FetchRowToCache(*Statement->Current()->AsXSQLDA(), FLayout, *FRecordsCache, Index,
                      FPrepareOptions & psSQLINT64ToBCD);
}

void TFIBCustomDataSet::ReadCachedRow(qint32 Index, char* Buffer) {
    ::ReadCachedRow(*FRecordsCache, FLayout, Index, Buffer);
}

bool TFIBCustomDataSet::FetchOneRow() {
    if (FQSelect->Eof()) return false;
    if (!FQSelect->Next() || FQSelect->Eof()) return false;
    // A row is counted only once it is stored.
    FetchRowToCache(FQSelect, FRecordCount);
    ++FRecordCount;
    return true;
}

bool TFIBCustomDataSet::RowVisible(const char* Buffer) const {
    return FUpdateRecordTypes & (1u << RecordUpdateStatus(Buffer));
}

TGetResult TFIBCustomDataSet::ReadRowToBuffer(char* Buffer, TGetMode GetMode) {
    if (!FRecordsCache) return GetMode == gmPrior ? grBOF : grEOF;
    for (;;) {
        TGetResult result = grOK;
        switch (GetMode) {
        case gmNext:
            if (FCurrentRecord < FRecordCount - 1) {
                ++FCurrentRecord;
                ReadCachedRow(FCurrentRecord, Buffer);
            } else if (FCurrentRecord >= FRecordCount) {
                result = grEOF;
            } else if (FQSelect->Eof() || !FQSelect->Next()) {
                result = grEOF;
            } else {
                ++FCurrentRecord;
                if (FQSelect->Eof()) {
                    result = grEOF;
                } else {
                    FetchRowToCache(FQSelect, FCurrentRecord);
                    ReadCachedRow(FCurrentRecord, Buffer);
                    ++FRecordCount;
                }
            }
            break;
        case gmPrior:
            if (FCurrentRecord >= 1 && FCurrentRecord <= FRecordCount) {
                --FCurrentRecord;
                ReadCachedRow(FCurrentRecord, Buffer);
            } else {
                if (FCurrentRecord == 0) FCurrentRecord = -1;
                result = grBOF;
            }
            break;
        case gmCurrent:
            if (FCurrentRecord < 0) {
                result = grBOF;
            } else if (FCurrentRecord < FRecordCount) {
                ReadCachedRow(FCurrentRecord, Buffer);
            } else {
                while (FCurrentRecord >= FRecordCount && FetchOneRow()) {
                }
                --FCurrentRecord;
                if (FCurrentRecord >= 0) ReadCachedRow(FCurrentRecord, Buffer);
            }
            break;
        }
        if (result != grOK) {
            SetRecordBookmarkFlag(Buffer, result == grBOF ? bfBOF : bfEOF);
            return result;
        }
        if (!RowVisible(Buffer)) {
            if (GetMode == gmCurrent) GetMode = gmNext;
            continue;
        }
        SetRecordBookmarkFlag(Buffer, bfCurrent);
        return grOK;
    }
}

TGetResult TFIBCustomDataSet::GetRecord(char* Buffer, TGetMode GetMode, bool) {
    for (;;) {
        try {
            return ReadRowToBuffer(Buffer, GetMode);
        } catch (EDatabaseError& e) {
            if (!OnGetRecordError) throw;
            TDataAction action = daFail;
            OnGetRecordError(this, e, action);
            if (action == daAbort) Abort();
            if (action != daRetry) throw;
        }
    }
}

void TFIBCustomDataSet::InternalSetToRecord(char* Buffer, bool Inserted) {
    FCurrentRecord = RecordCacheIndex(Buffer) - (Inserted ? 1 : 0);
}

void TFIBCustomDataSet::InternalFirst() {
    FCurrentRecord = -1;
}

void TFIBCustomDataSet::InternalLast() {
    while (FetchOneRow()) {
    }
    FCurrentRecord = FRecordCount > 0 ? FRecordCount : -1;
}

void TFIBCustomDataSet::AfterInternalLast() {
    // The rows fetched before the failure stay; the cursor stands after the last of them.
    FCurrentRecord = FRecordCount;
}

quint8 TFIBCustomDataSet::GetBookmarkFlag(const char* Buffer) const {
    return RecordBookmarkFlag(Buffer);
}

void TFIBCustomDataSet::FetchAll() {
    if (!FRecordsCache || !FQSelect->Open() || FQSelect->Eof()) return;
    // The rows join the cache behind the window, which keeps its rows and its active one.
    TControlsDisabled disabled(*this);
    while (FetchOneRow()) {
    }
}

qint32 TFIBCustomDataSet::FetchNext(qint32 Count) {
    if (!FRecordsCache) return 0;
    qint32 fetched = 0;
    while (fetched < Count && FetchOneRow())
        ++fetched;
    return fetched;
}

qint32 TFIBCustomDataSet::RecNo() const {
    if (IsEmpty() || !ActiveBuffer()) return 0;
    return RecordCacheIndex(ActiveBuffer()) + 1;
}

qint32 TFIBCustomDataSet::RecordCount() const {
    return std::max(FRecordCount, AllRecordCount()) - FDeletedRecords;
}

bool TFIBCustomDataSet::IsSequenced() const {
    if (FCacheModelKind == cmkLimitedBufferSize) return false;
    if (FQSelect->Eof() && !IsUniDirectional()) return true;
    return AllRecordCount() != 0;
}

// =============================================================================================
// Field values

bool TFIBCustomDataSet::GetFieldData(TField* Field, void* Buffer) {
    if (!IsCursorOpen() || IsEmpty()) return false;
    const char* record = ActiveBuffer();
    if (!record || !RowVisible(record)) return false;
    const qint32 fieldNo = Field->FieldNo();
    if (fieldNo < 1 || size_t(fieldNo) > FLayout.Fields.size()) return false;
    if (State() == dsBrowse && RecordCacheIndex(record) >= FRecordCount) return false;
    const qint32 column = fieldNo - 1;
    if (RecordFieldIsNull(record, column)) return false;
    if (!Buffer) return true;
    const TFIBFieldDescr& d = FLayout.Fields[size_t(column)];
    const char* slot = record + d.fdDataOfs;
    switch (d.fdDataType) {
    case SQL_VARYING:
    case SQL_TEXT: {
        const bool fixedLength = d.fdAddedFields == atfGuidField;
        qint32 length = 0;
        const char* text = slot;
        if (d.fdIsSeparateString) {
            std::memcpy(&length, slot, sizeof(length));
            text = slot + sizeof(qint32);
        } else if (d.fdIsDBKey) {
            // Every byte of a key counts, zero bytes included.
            length = d.fdDataSize;
        } else if (fixedLength) {
            length = d.fdDataSize - 1;
        } else if (slot[0] != 0) {
            const void* zero = std::memchr(slot, 0, size_t(d.fdDataSize));
            length = zero ? qint32(static_cast<const char*>(zero) - slot) : d.fdDataSize;
        }
        if ((FOptions & poTrimCharFields) && !fixedLength && !d.fdIsDBKey)
            while (length > 0 && text[length - 1] == ' ')
                --length;
        // A text field's buffer is as large as its size (four bytes a character for a wide
        // one): a field sized smaller than its column shows the start of the value. Told by
        // the data type: a cast here would cost every text read of every row.
        switch (Field->DataType()) {
        case ftWideString:
            if (length > Field->Size() * 4) {
                length = Field->Size() * 4;
                // Never the first bytes of a character without the rest.
                while (length > 0 && (quint8(text[length]) & 0xC0) == 0x80)
                    --length;
            }
            break;
        case ftString:
        case ftFixedChar:
        case ftGuid:
            length = std::min(length, Field->Size());
            break;
        default:
            break;
        }
        if (auto* s = dynamic_cast<TFIBStringField*>(Field)) s->SetValueLength(length);
        char* out = static_cast<char*>(Buffer);
        std::memcpy(out, text, size_t(length));
        out[length] = 0;
        return true;
    }
    case SQL_FLOAT: {
        float f = 0;
        std::memcpy(&f, slot, sizeof(f));
        const double v = f;
        std::memcpy(Buffer, &v, sizeof(v));
        return true;
    }
    case SQL_LONG:
    case SQL_SHORT: {
        qint32 value = 0;
        if (d.fdDataType == SQL_SHORT) {
            qint16 s = 0;
            std::memcpy(&s, slot, sizeof(s));
            value = s;
        } else {
            std::memcpy(&value, slot, sizeof(value));
        }
        if (d.fdDataScale != 0) {
            const double v = double(value) * PowerOfTen(d.fdDataScale);
            std::memcpy(Buffer, &v, sizeof(v));
        } else if (d.fdDataType == SQL_SHORT && Field->DataType() != ftInteger &&
                   Field->DataType() != ftAutoInc) {
            const qint16 s = qint16(value);
            std::memcpy(Buffer, &s, sizeof(s));
        } else if (Field->DataType() == ftSmallint || Field->DataType() == ftWord) {
            // A two-byte field on a 32-bit column holds only what fits its two bytes; anything
            // else would be another number.
            const bool fits = Field->DataType() == ftWord ? value >= 0 && value <= 0xFFFF
                                                          : value >= -32768 && value <= 32767;
            if (!fits)
                DatabaseError(Format(S("Valeur %d hors limites pour le champ '%s'"), value,
                                     Field->DisplayName()),
                              this);
            const qint16 s = qint16(value);
            std::memcpy(Buffer, &s, sizeof(s));
        } else {
            // An integer field on a small-integer column gets the value widened.
            std::memcpy(Buffer, &value, sizeof(value));
        }
        return true;
    }
    case SQL_TIMESTAMP:
        std::memcpy(Buffer, slot, 8);
        return true;
    case SQL_TYPE_TIME:
    case SQL_TYPE_DATE:
        std::memcpy(Buffer, slot, 4);
        return true;
    default:
        break;
    }
    if (Field->DataType() == ftBCD) {
        auto* bcd = dynamic_cast<TFIBBCDField*>(Field);
        qint64 value = 0;
        std::memcpy(&value, slot, sizeof(value));
        if (bcd && bcd->DataAsComp()) {
            std::memcpy(Buffer, &value, sizeof(value));
            return true;
        }
        const TBcd v{value, -d.fdDataScale};
        std::memcpy(Buffer, &v, sizeof(v));
        return true;
    }
    std::memcpy(Buffer, slot, size_t(d.fdDataSize));
    return true;
}

TField* TFIBCustomDataSet::CreateFieldOfType(TFieldType DataType) {
    switch (DataType) {
    case ftString:
        return new TFIBStringField(this);
    case ftSmallint:
        return new TFIBSmallIntField(this);
    case ftInteger:
        return new TFIBIntegerField(this);
    case ftWord:
        return new TWordField(this);
    case ftBoolean:
        return new TFIBBooleanField(this);
    case ftFloat:
        return new TFIBFloatField(this);
    case ftCurrency:
        return new TCurrencyField(this);
    case ftBCD:
        return new TFIBBCDField(this);
    case ftDate:
        return new TFIBDateField(this);
    case ftTime:
        return new TFIBTimeField(this);
    case ftDateTime:
        return new TFIBDateTimeField(this);
    case ftBytes:
        return new TFIBArrayField(this);
    case ftVarBytes:
        return new TVarBytesField(this);
    case ftAutoInc:
        return new TAutoIncField(this);
    case ftBlob:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
        return new TFIBBlobField(this);
    case ftMemo:
    case ftWideMemo:
        return new TFIBMemoField(this);
    case ftGraphic:
        return new TGraphicField(this);
    case ftWideString:
        return new TFIBWideStringField(this);
    case ftLargeint:
        return new TFIBLargeIntField(this);
    case ftGuid:
        return new TFIBGuidField(this);
    default:
        return nullptr;
    }
}

// =============================================================================================
// Field classes

TFIBStringField::TFIBStringField(TComponent* AOwner) : TStringField(AOwner) {
    SetTransliterate(false);
}

TFIBStringField::~TFIBStringField() {
    Detaching();
}

void TFIBStringField::Attached() {
    FPrepared = false;
    auto* ds = dynamic_cast<TFIBCustomDataSet*>(DataSet());
    if (!ds) return;
    FEmptyStrToNull = ds->PrepareOptions() & psSetEmptyStrToNull;
    // The column's character set is read again after every reopen.
    ds->RegisterHandler(ds->BeforeCloseHandlers, this, [this](TDataSet*) { FPrepared = false; });
    FRegisteredWith = ds;
}

void TFIBStringField::Detaching() {
    if (FRegisteredWith) FRegisteredWith->UnregisterHandlers(this);
    FRegisteredWith = nullptr;
}

void TFIBStringField::PrepareColumnInfo() {
    auto* ds = dynamic_cast<TFIBCustomDataSet*>(DataSet());
    FPrepared = true;
    FNeedUnicodeConvert = false;
    FIsDBKey = false;
    if (!ds || FieldNo() < 1) return;
    TFIBQuery* q = ds->QSelect();
    if (!q->Prepared()) q->Prepare();
    if (FieldNo() > q->FieldCount()) return;
    TFIBXSQLVAR* column = q->Fields(FieldNo() - 1);
    const int charSet = column->CharacterSet();
    FCollateNumber = (column->Data()->sqlsubtype >> 8) & 0xFF;
    TFIBDatabase* db = ds->Database();
    FNeedUnicodeConvert = db && db->NeedUnicodeFieldTranslation(quint8(charSet)) &&
                          db->UnicodeCharSets().test(size_t(charSet & 0xFF));
    const QByteArray own(column->Data()->sqlname, column->Data()->sqlname_length);
    FIsDBKey = own == "DB_KEY" || own == "RDB$DB_KEY";
}

QString TFIBStringField::AsString() {
    TDataSet* ds = DataSet();
    if (!ds || !ds->Active()) return QString();
    if (!FPrepared) PrepareColumnInfo();
    if (FReservedBuffer.size() != Size() + 1) FReservedBuffer = QByteArray(Size() + 1, '\0');
    char* buffer = FReservedBuffer.data();
    if (FIsDBKey) {
        if (!GetData(buffer)) return QString();
        QString key;
        for (qint32 i = 0; i + 4 <= Size(); i += 4) {
            quint32 word = 0;
            std::memcpy(&word, buffer + i, sizeof(word));
            key += Format(S("%-8.8x"), word);
        }
        return key;
    }
    if (!GetData(buffer) || buffer[0] == 0) return QString();
    const qsizetype length = qsizetype(qstrnlen(buffer, size_t(FReservedBuffer.size())));
    return FNeedUnicodeConvert ? QString::fromUtf8(buffer, length) : AnsiToString(buffer, length);
}

QString TFIBWideStringField::AsString() {
    QByteArray buffer(Size() * 4 + 1, '\0');
    if (!GetData(buffer.data())) return QString();
    QString text = QString::fromUtf8(buffer.constData());
    DropPaddingBeyond(text, Size());
    return text;
}

QString TFIBGuidField::AsString() {
    QByteArray buffer(Size() + 1, '\0');
    if (!GetData(buffer.data())) return QString();
    return AnsiToString(buffer.constData(),
                        qsizetype(qstrnlen(buffer.constData(), size_t(Size()))));
}

TFIBBCDField::TFIBBCDField(TComponent* AOwner) : TBCDField(AOwner) {
    SetSize(8);
}

void TFIBBCDField::CheckSize(qint32 Value) const {
    // Any number of decimals is accepted; the column decides.
    (void)Value;
}

bool TFIBBCDField::ReadBcd(TBcd& Value) {
    qint64 v = 0;
    FDataAsComp = true;
    const bool has = GetData(&v);
    FDataAsComp = false;
    Value = TBcd{v, Size()};
    return has;
}

namespace {

// The contents of the blob whose identifier the field reads, in its dataset's transaction.
QByteArray ReadBlobField(TField* Field) {
    auto* ds = dynamic_cast<TFIBCustomDataSet*>(Field->DataSet());
    ISC_QUAD id{0, 0};
    if (!ds || !Field->GetData(&id)) return QByteArray();
    TFIBDatabase* db = ds->Database();
    IIBClientLibrary* lib = db ? db->ClientLibrary() : nullptr;
    if (!lib) RaiseClientError(21, ComponentPath(ds));
    QByteArray contents;
    if (!ReadBlobContents(*lib, ds->Base()->DBHandle(), ds->Base()->TRHandle(), id, contents))
        RaiseInterBaseError(lib, ds);
    return contents;
}

} // namespace

QByteArray TFIBBlobField::AsBytes() {
    return ReadBlobField(this);
}

QByteArray TFIBMemoField::AsBytes() {
    return ReadBlobField(this);
}
