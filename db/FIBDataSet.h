// Buffered, navigable result sets over one select statement: rows are fetched one at a time
// when a move or a view reaches past the last fetched row, kept in the row cache, and read
// through typed fields. The generic dataset base gives the record window and the data links.
#pragma once

#include "DB.h"
#include "FIBDataSetCache.h"
#include "FIBQuery.h"
#include "pFIBProps.h"
#include "pFIBQuery.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class TFIBCustomDataSet;

using TFIBGetRecordErrorEvent =
    std::function<void(TDataSet* DataSet, EDatabaseError& E, TDataAction& Action)>;

// Handlers other objects register with a dataset (a string field's before-close, …), found
// again by their owner to be removed.
struct TDataSetHandler {
    std::function<void(TDataSet*)> handler;
    const void* owner;
};

// Makes each of a dataset's five statements, owned by the dataset.
using TStatementFactory = std::function<TFIBQuery*(TComponent* Owner)>;

class TFIBCustomDataSet : public TDataSet {
public:
    explicit TFIBCustomDataSet(TComponent* AOwner = nullptr);
    // With statements of another class (one that watches its client calls, say).
    TFIBCustomDataSet(TComponent* AOwner, const TStatementFactory& MakeStatement);
    ~TFIBCustomDataSet() override;

    // ---- Connection and transaction (through the link object)
    TFIBBase* Base() const { return FBase.get(); }
    TFIBDatabase* Database() const { return FBase->Database(); }
    void SetDatabase(TFIBDatabase* Value);
    TFIBTransaction* Transaction() const { return FBase->Transaction(); }
    void SetTransaction(TFIBTransaction* Value);

    // ---- Statements
    TFIBQuery* QSelect() const { return FQSelect; }
    TFIBQuery* QInsert() const { return FQInsert; }
    TFIBQuery* QUpdate() const { return FQUpdate; }
    TFIBQuery* QDelete() const { return FQDelete; }
    TFIBQuery* QRefresh() const { return FQRefresh; }
    TStrings& SelectSQL() { return FQSelect->SQL(); }
    void SetSelectSQL(const TStrings& Value) { FQSelect->SQL().Assign(Value); }
    TFIBXSQLDA* Params() { return FQSelect->Params(); }
    qint32 ParamCount() { return FQSelect->ParamCount(); }
    // Raises "Parameter "%s" does not exist in %s" for a name no parameter has.
    TFIBXSQLVAR* ParamByName(const QString& ParamName);
    // Starts the transaction first when the options ask for it; nullptr when there is none.
    TFIBXSQLVAR* FindParam(const QString& ParamName);

    // ---- Options
    TpFIBDsOptions Options() const { return FOptions; }
    void SetOptions(TpFIBDsOptions Value);
    TpPrepareOptions PrepareOptions() const { return FPrepareOptions; }
    void SetPrepareOptions(TpPrepareOptions Value);
    // A stored option of the window definition ("oTrimCharFields", "poUseLargeIntField", …).
    void SetStoredOption(const QString& Name, bool Value);
    TCacheModelKind CacheModelKind() const { return FCacheModelKind; }
    void SetCacheModelKind(TCacheModelKind Value);
    qint32 BufferChunks() const { return FBufferChunks; }
    void SetBufferChunks(qint32 Value);
    bool CachedUpdates() const { return false; }

    // ---- Life of the select
    bool Prepared() const { return FPrepared; }
    bool CursorOpen() const { return FOpen; }
    bool SelectSQLTextChanged() const { return vSelectSQLTextChanged; }
    virtual void Prepare();
    void UnPrepare();
    void StartTransaction();
    void FetchAll();
    qint32 FetchNext(qint32 Count);
    void CloseOpen(bool DoFetchAll);
    void BuildFieldDefs();

    // ---- Rows
    qint32 RecNo() const override;
    qint32 RecordCount() const override;
    bool IsSequenced() const;
    bool GetFieldData(TField* Field, void* Buffer) override;
    // Rows fetched so far, and the cache cursor.
    qint32 FetchedRecordCount() const { return FRecordCount; }
    qint32 CacheCursor() const { return FCurrentRecord; }

    // ---- The row cache and the column layout (exist while open)
    const TRecordLayout& Layout() const { return FLayout; }
    const TFIBFieldDescrList& vFieldDescrList() const { return FLayout.Fields; }
    TRecordsCache* RecordsCache() const { return FRecordsCache.get(); }
    // The sorted relation names of the data fields, as of the last open.
    const QStringList& RelationTables() const { return FRelationTables; }

    // ---- Handlers and notifications
    void RegisterHandler(std::vector<TDataSetHandler>& list, const void* owner,
                         std::function<void(TDataSet*)> handler);
    void UnregisterHandlers(const void* owner);
    std::vector<TDataSetHandler> BeforeOpenHandlers;
    std::vector<TDataSetHandler> AfterOpenHandlers;
    std::vector<TDataSetHandler> BeforeCloseHandlers;
    std::vector<TDataSetHandler> AfterCloseHandlers;
    TFIBGetRecordErrorEvent OnGetRecordError;
    TNotifyEvent OnTransactionEnding;
    TNotifyEvent OnTransactionEnded;
    TNotifyEvent OnDatabaseDisconnecting;
    TNotifyEvent OnDatabaseDisconnected;
    TNotifyEvent OnDatabaseFree;
    TNotifyEvent OnTransactionFree;

protected:
    qint32 GetRecordBufferSize() const override { return FLayout.RecordBufferSize; }
    TGetResult GetRecord(char* Buffer, TGetMode GetMode, bool DoCheck) override;
    void InternalSetToRecord(char* Buffer, bool Inserted) override;
    void InternalFirst() override;
    void InternalLast() override;
    void AfterInternalLast() override;
    quint8 GetBookmarkFlag(const char* Buffer) const override;
    void DoBeforeOpen() override;
    void InternalOpen() override;
    void DoAfterOpen() override;
    void DoBeforeClose() override;
    void InternalClose() override;
    void DoAfterClose() override;
    TField* CreateFieldOfType(TFieldType DataType) override;

    // The field-property step after open; nothing here.
    virtual void FieldPropertyStep() {}
    // Per-open editing state of the component class; nothing here.
    virtual void ResetEditingState() {}
    virtual qint32 AllRecordCount() const { return 0; }
    virtual void SetAllRecordCount(qint32) {}

    // ---- Row reading (also used by the record window through GetRecord)
    TGetResult ReadRowToBuffer(char* Buffer, TGetMode GetMode);
    void FetchRowToCache(TFIBQuery* Statement, qint32 Index);
    void ReadCachedRow(qint32 Index, char* Buffer);
    // One more row from the server into the cache; false at the end of the select.
    bool FetchOneRow();

private:
    friend class TFIBStringField;

    void SQLChanging(TFIBQuery* Statement);
    void TransactionEnding(TObject* Sender);
    void DatabaseDisconnecting(TObject* Sender);
    // Whether an ending transaction or a disconnect leaves the rows readable instead of closing.
    bool KeepsRowsAtEnd() const;
    // What an ending transaction or a disconnect does to an open dataset: close it, or keep
    // every row readable without the server cursor.
    void EndReading();
    void ApplyStatementOptions();
    void CheckPrepareOptionChange(TpPrepareOptions Value);
    void FillOrigins();
    void FreeCache();
    bool RowVisible(const char* Buffer) const;
    std::vector<TFIBQuery*> Statements() const;

    std::unique_ptr<TFIBBase> FBase;
    TFIBQuery* FQSelect = nullptr;
    TFIBQuery* FQInsert = nullptr;
    TFIBQuery* FQUpdate = nullptr;
    TFIBQuery* FQDelete = nullptr;
    TFIBQuery* FQRefresh = nullptr;
    TpFIBDsOptions FOptions = DefaultDataSetOptions;
    TpPrepareOptions FPrepareOptions = DefaultPrepareOptions;
    TCacheModelKind FCacheModelKind = cmkStandard;
    qint32 FBufferChunks = 32;
    bool FPrepared = false;
    bool FOpen = false;
    bool vSelectSQLTextChanged = false;
    // The cache position; the window of the generic base keeps members of the same names for
    // its buffers.
    qint32 FCurrentRecord = -1;
    qint32 FRecordCount = 0;
    qint32 FDeletedRecords = 0;
    TRecordLayout FLayout;
    std::unique_ptr<TRecordsCache> FRecordsCache;
    QStringList FRelationTables;
    unsigned FUpdateRecordTypes = (1u << cusUnmodified) | (1u << cusModified) | (1u << cusInserted);
};

class TFIBDataSet : public TFIBCustomDataSet {
public:
    using TFIBCustomDataSet::TFIBCustomDataSet;
    TFIBDataSet(TComponent* AOwner = nullptr) : TFIBCustomDataSet(AOwner) {}
    TStrings& InsertSQL() { return QInsert()->SQL(); }
    TStrings& UpdateSQL() { return QUpdate()->SQL(); }
    TStrings& DeleteSQL() { return QDelete()->SQL(); }
    TStrings& RefreshSQL() { return QRefresh()->SQL(); }
};

// ---------------------------------------------------------------------------------------------
// Field classes of the layer

class TFIBStringField : public TStringField {
public:
    explicit TFIBStringField(TComponent* AOwner = nullptr);
    ~TFIBStringField() override;

    QString AsString() override;
    QString DisplayText() override { return AsString(); }
    // Length of the last value read.
    qint32 ValueLength() const { return FValueLength; }
    void SetValueLength(qint32 Value) { FValueLength = Value; }
    bool IsDBKey() const { return FIsDBKey; }
    bool EmptyStrToNull() const { return FEmptyStrToNull; }
    const QString& CharacterSetName() const { return FCharacterSetName; }

protected:
    void Attached() override;
    void Detaching() override;
    void SizeChanged() override { FReservedBuffer = QByteArray(); }

private:
    friend class TFIBCustomDataSet;

    void PrepareColumnInfo();

    bool FPrepared = false;
    qint32 FValueLength = 0;
    QByteArray FReservedBuffer;
    bool FNeedUnicodeConvert = false;
    bool FIsDBKey = false;
    QString FCharacterSetName;
    qint32 FCollateNumber = 0;
    bool FEmptyStrToNull = false;
    bool FDefaultValueEmptyString = false;
    TFIBCustomDataSet* FRegisteredWith = nullptr;
};

class TFIBWideStringField : public TWideStringField {
public:
    using TWideStringField::TWideStringField;
    QString AsString() override;
};

class TFIBGuidField : public TGuidField {
public:
    using TGuidField::TGuidField;
    QString AsString() override;
};

class TFIBSmallIntField : public TSmallintField {
public:
    using TSmallintField::TSmallintField;
};

class TFIBIntegerField : public TIntegerField {
public:
    using TIntegerField::TIntegerField;
};

class TFIBLargeIntField : public TLargeintField {
public:
    using TLargeintField::TLargeintField;
};

class TFIBFloatField : public TFloatField {
public:
    using TFloatField::TFloatField;
};

class TFIBBooleanField : public TBooleanField {
public:
    using TBooleanField::TBooleanField;
};

// A scaled 64-bit integer read as it is stored; Size is the number of decimals.
class TFIBBCDField : public TBCDField {
public:
    explicit TFIBBCDField(TComponent* AOwner = nullptr);
    bool DataAsComp() const { return FDataAsComp; }
    void CheckSize(qint32 Value) const override;

protected:
    bool ReadBcd(TBcd& Value) override;

private:
    bool FDataAsComp = false;
};

class TFIBDateField : public TDateField {
public:
    using TDateField::TDateField;
};

class TFIBTimeField : public TTimeField {
public:
    using TTimeField::TTimeField;
};

class TFIBDateTimeField : public TDateTimeField {
public:
    using TDateTimeField::TDateTimeField;
};

class TFIBArrayField : public TBytesField {
public:
    using TBytesField::TBytesField;
};

// Blob contents are read from the server on demand, in the dataset's transaction.
class TFIBBlobField : public TBlobField {
public:
    using TBlobField::TBlobField;
    QByteArray AsBytes() override;
};

class TFIBMemoField : public TMemoField {
public:
    using TMemoField::TMemoField;
    QByteArray AsBytes() override;
};
