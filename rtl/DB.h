// The generic dataset base: datasets with their states, typed fields and field definitions, the
// record window through which views see a few rows around the active one, and the data sources
// and data links through which grids follow a dataset. Knows nothing of any database: the
// dataset classes of the layer fill its record buffers and answer its field reads.
#pragma once

#include "Classes.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

class TDataSet;
class TDataSource;
class TDataLink;

enum TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftADT,
    ftArray,
    ftReference,
    ftDataSet,
    ftOraBlob,
    ftOraClob,
    ftVariant,
    ftInterface,
    ftIDispatch,
    ftGuid,
    ftTimeStamp,
    ftFMTBcd,
    ftFixedWideChar,
    ftWideMemo,
    ftShortint,
    ftByte,
};

// The name a type has in the binding messages ("String", "SmallInt", "LargeInt", …).
QString FieldTypeName(TFieldType type);
// Types that are compared by group when a field is bound to its column.
int FieldTypeGroup(TFieldType type);

enum TDataSetState {
    dsInactive,
    dsBrowse,
    dsEdit,
    dsInsert,
    dsSetKey,
    dsCalcFields,
    dsFilter,
    dsNewValue,
    dsOldValue,
    dsCurValue,
    dsBlockRead,
    dsInternalCalc,
    dsOpening,
};

enum TDataEvent {
    deFieldChange,
    deRecordChange,
    deDataSetChange,
    deDataSetScroll,
    deLayoutChange,
    deUpdateRecord,
    deUpdateState,
    deCheckBrowseMode,
    dePropertyChange,
    deFieldListChange,
    deFocusControl,
    deParentScroll,
    deConnectChange,
    deReconcileError,
    deDisabledStateChange,
};

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };

using TDataSetNotifyEvent = std::function<void(TDataSet* DataSet)>;

// Raises EDatabaseError with the message prefixed by the component's name: "ds: …", or for a
// component owned by another "Owner.ds: …".
[[noreturn]] void DatabaseError(const QString& Message, const TComponent* Component = nullptr);

// ---------------------------------------------------------------------------------------------
// Field definitions

class TFieldDef {
public:
    QString Name;
    TFieldType DataType = ftUnknown;
    qint32 Size = 0;
    qint32 FieldNo = 0;
    qint32 Precision = 0;
    bool Required = false;
    bool InternalCalcField = false;
};

class TFieldDefs {
public:
    qint32 Count() const { return qint32(FItems.size()); }
    const TFieldDef& Items(qint32 Index) const { return FItems.at(size_t(Index)); }
    TFieldDef& Add(const QString& Name, TFieldType DataType, qint32 Size, qint32 FieldNo);
    void Clear() { FItems.clear(); }
    // Position of the definition of that name (compared case-insensitively), or -1.
    qint32 IndexOf(const QString& Name) const;

private:
    std::vector<TFieldDef> FItems;
};

// ---------------------------------------------------------------------------------------------
// Fields

class TField : public TComponent {
public:
    explicit TField(TComponent* AOwner = nullptr);
    ~TField() override;

    const QString& FieldName() const { return FFieldName; }
    void SetFieldName(const QString& Value);
    TFieldType DataType() const { return FDataType; }
    qint32 Size() const { return FSize; }
    void SetSize(qint32 Value);
    qint32 FieldNo() const { return FFieldNo; }
    // Position in the dataset's Fields, -1 without a dataset.
    qint32 Index() const;
    TFieldKind FieldKind() const { return FFieldKind; }
    void SetFieldKind(TFieldKind Value) { FFieldKind = Value; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value) { FReadOnly = Value; }
    bool Required() const { return FRequired; }
    void SetRequired(bool Value) { FRequired = Value; }
    const QString& DisplayLabel() const { return FDisplayLabel; }
    void SetDisplayLabel(const QString& Value) { FDisplayLabel = Value; }
    // DisplayLabel, or FieldName when that is empty.
    QString DisplayName() const;
    const QString& Origin() const { return FOrigin; }
    void SetOrigin(const QString& Value) { FOrigin = Value; }
    TDataSet* DataSet() const { return FDataSet; }
    // Attaches the field to a dataset (appended to its Fields), or detaches it with nullptr.
    void SetDataSet(TDataSet* Value);
    bool Bound() const { return FFieldNo != 0; }

    // Values of the active record. A closed or empty dataset, or a null column, has no value:
    // texts are empty and numbers 0.
    virtual bool IsNull();
    virtual QString AsString();
    virtual qint32 AsInteger();
    virtual qint64 AsLargeInt();
    virtual double AsFloat();
    virtual bool AsBoolean();
    virtual QDateTime AsDateTime();
    virtual QVariant AsVariant();
    QVariant Value() { return AsVariant(); }
    // The text a grid shows.
    virtual QString DisplayText();
    // The field's value read from the active record buffer into Buffer (the layout depends on
    // the field class); false when there is none. With Buffer null only the answer is given.
    bool GetData(void* Buffer);

    // The size a field of this class must be given: refusals raise before anything changes.
    virtual void CheckSize(qint32 Value) const;

protected:
    friend class TDataSet;

    void SetDataType(TFieldType Value) { FDataType = Value; }
    // The dataset binds a field to its column number, 0 unbinds it.
    virtual void Bind(qint32 FieldNo) { FFieldNo = FieldNo; }
    // Raised for a conversion the field's class does not offer.
    [[noreturn]] void AccessError(const QString& TypeName) const;
    // Told after the field joined a dataset's Fields and before it leaves them.
    virtual void Attached() {}
    virtual void Detaching() {}
    virtual void SizeChanged() {}

private:
    QString FFieldName;
    TFieldType FDataType = ftUnknown;
    qint32 FSize = 0;
    qint32 FFieldNo = 0;
    TFieldKind FFieldKind = fkData;
    bool FReadOnly = false;
    bool FRequired = false;
    QString FDisplayLabel;
    QString FOrigin;
    TDataSet* FDataSet = nullptr;
};

class TStringField : public TField {
public:
    explicit TStringField(TComponent* AOwner = nullptr);
    bool FixedChar() const { return FFixedChar; }
    void SetFixedChar(bool Value) { FFixedChar = Value; }
    bool Transliterate() const { return FTransliterate; }
    void SetTransliterate(bool Value) { FTransliterate = Value; }

    qint32 AsInteger() override;
    qint64 AsLargeInt() override;
    double AsFloat() override;
    bool AsBoolean() override;
    QVariant AsVariant() override;
    void CheckSize(qint32 Value) const override;

private:
    bool FFixedChar = false;
    bool FTransliterate = true;
};

class TWideStringField : public TStringField {
public:
    explicit TWideStringField(TComponent* AOwner = nullptr);
};

class TGuidField : public TStringField {
public:
    explicit TGuidField(TComponent* AOwner = nullptr);
    void CheckSize(qint32 Value) const override;
};

// Numbers shown through DisplayFormat (for display) and EditFormat (for editing).
class TNumericField : public TField {
public:
    explicit TNumericField(TComponent* AOwner = nullptr);
    const QString& DisplayFormat() const { return FDisplayFormat; }
    void SetDisplayFormat(const QString& Value) { FDisplayFormat = Value; }
    const QString& EditFormat() const { return FEditFormat; }
    void SetEditFormat(const QString& Value) { FEditFormat = Value; }
    // The value for editing: EditFormat when set, else the plain text.
    virtual QString EditText();

private:
    QString FDisplayFormat;
    QString FEditFormat;
};

class TIntegerField : public TNumericField {
public:
    explicit TIntegerField(TComponent* AOwner = nullptr);
    bool IsNull() override;
    QString AsString() override;
    qint32 AsInteger() override;
    qint64 AsLargeInt() override;
    double AsFloat() override;
    // Above 0 is true: the program's -1 flags read false.
    bool AsBoolean() override;
    QVariant AsVariant() override;
    QString DisplayText() override;
    QString EditText() override;

protected:
    // The value, false when there is none.
    virtual bool ReadValue(qint64& Value);
};

class TSmallintField : public TIntegerField {
public:
    explicit TSmallintField(TComponent* AOwner = nullptr);

protected:
    bool ReadValue(qint64& Value) override;
};

class TWordField : public TIntegerField {
public:
    explicit TWordField(TComponent* AOwner = nullptr);

protected:
    bool ReadValue(qint64& Value) override;
};

class TAutoIncField : public TIntegerField {
public:
    explicit TAutoIncField(TComponent* AOwner = nullptr);
};

class TLargeintField : public TIntegerField {
public:
    explicit TLargeintField(TComponent* AOwner = nullptr);
    // The low 32 bits, read as a signed 32-bit integer.
    qint32 AsInteger() override;

protected:
    bool ReadValue(qint64& Value) override;
};

class TFloatField : public TNumericField {
public:
    explicit TFloatField(TComponent* AOwner = nullptr);
    bool IsNull() override;
    QString AsString() override;
    qint32 AsInteger() override;
    qint64 AsLargeInt() override;
    double AsFloat() override;
    bool AsBoolean() override;
    QVariant AsVariant() override;
    QString DisplayText() override;
    QString EditText() override;
    qint32 Precision() const { return FPrecision; }
    void SetPrecision(qint32 Value) { FPrecision = Value; }

protected:
    virtual bool ReadValue(double& Value);

private:
    qint32 FPrecision = 15;
};

class TCurrencyField : public TFloatField {
public:
    explicit TCurrencyField(TComponent* AOwner = nullptr);
};

// A scaled decimal: the integer Value stands for Value ÷ 10^Scale.
struct TBcd {
    qint64 Value = 0;
    qint32 Scale = 0;
};

// A decimal number held as a scaled 64-bit integer; Size is its number of decimals.
class TBCDField : public TNumericField {
public:
    explicit TBCDField(TComponent* AOwner = nullptr);
    bool Currency() const { return FCurrency; }
    void SetCurrency(bool Value) { FCurrency = Value; }
    qint32 Precision() const { return FPrecision; }
    void SetPrecision(qint32 Value) { FPrecision = Value; }

    bool IsNull() override;
    QString AsString() override;
    qint32 AsInteger() override;
    qint64 AsLargeInt() override;
    double AsFloat() override;
    bool AsBoolean() override;
    QVariant AsVariant() override;
    QString DisplayText() override;
    QString EditText() override;
    void CheckSize(qint32 Value) const override;

protected:
    // The value as a decimal, false when there is none.
    virtual bool ReadBcd(TBcd& Value);

private:
    bool FCurrency = false;
    qint32 FPrecision = 0;
};

class TBooleanField : public TField {
public:
    explicit TBooleanField(TComponent* AOwner = nullptr);
    bool IsNull() override;
    QString AsString() override;
    bool AsBoolean() override;
    qint32 AsInteger() override;
    QVariant AsVariant() override;
    // "True;False" by default: the texts shown for true and false.
    const QString& DisplayValues() const { return FDisplayValues; }
    void SetDisplayValues(const QString& Value) { FDisplayValues = Value; }

private:
    QString FDisplayValues = QStringLiteral("True;False");
};

// Dates and times, read from the record buffer as milliseconds since the start of 1 January of
// year 1 (a 64-bit float) for date-times, day numbers for dates and milliseconds since
// midnight for times.
class TDateTimeField : public TField {
public:
    explicit TDateTimeField(TComponent* AOwner = nullptr);
    const QString& DisplayFormat() const { return FDisplayFormat; }
    void SetDisplayFormat(const QString& Value) { FDisplayFormat = Value; }

    bool IsNull() override;
    QString AsString() override;
    QDateTime AsDateTime() override;
    double AsFloat() override;
    QVariant AsVariant() override;
    QString DisplayText() override;

protected:
    virtual bool ReadValue(QDateTime& Value);
    // The format used when DisplayFormat is empty.
    virtual QString DefaultFormat() const;

private:
    QString FDisplayFormat;
};

class TDateField : public TDateTimeField {
public:
    explicit TDateField(TComponent* AOwner = nullptr);

protected:
    bool ReadValue(QDateTime& Value) override;
    QString DefaultFormat() const override;
};

class TTimeField : public TDateTimeField {
public:
    explicit TTimeField(TComponent* AOwner = nullptr);

protected:
    bool ReadValue(QDateTime& Value) override;
    QString DefaultFormat() const override;
};

// Raw bytes of the record buffer's slot.
class TBinaryField : public TField {
public:
    explicit TBinaryField(TComponent* AOwner = nullptr);
    bool IsNull() override;
    QString AsString() override;
    QVariant AsVariant() override;
    QByteArray AsBytes();
    void CheckSize(qint32 Value) const override;
};

class TBytesField : public TBinaryField {
public:
    explicit TBytesField(TComponent* AOwner = nullptr);
};

class TVarBytesField : public TBinaryField {
public:
    explicit TVarBytesField(TComponent* AOwner = nullptr);
};

// Blobs reach a field as the identifier of the blob (8 bytes); their contents are read by the
// layer's blob fields.
class TBlobField : public TField {
public:
    explicit TBlobField(TComponent* AOwner = nullptr);
    bool IsNull() override;
    QString AsString() override;
    QVariant AsVariant() override;
    QString DisplayText() override;
    void CheckSize(qint32 Value) const override;
    // The blob's contents; empty without a value.
    virtual QByteArray AsBytes();
};

class TMemoField : public TBlobField {
public:
    explicit TMemoField(TComponent* AOwner = nullptr);
    QString AsString() override;
    QString DisplayText() override;
};

class TGraphicField : public TBlobField {
public:
    explicit TGraphicField(TComponent* AOwner = nullptr);
};

// ---------------------------------------------------------------------------------------------
// Dataset

class TDataSet : public TComponent {
public:
    explicit TDataSet(TComponent* AOwner = nullptr);
    ~TDataSet() override;

    // ---- State
    TDataSetState State() const { return FState; }
    bool Active() const { return FState != dsInactive && FState != dsOpening; }
    void SetActive(bool Value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    virtual bool IsUniDirectional() const { return false; }

    // ---- Fields
    TFieldDefs& FieldDefs() { return FFieldDefs; }
    const TFieldDefs& FieldDefs() const { return FFieldDefs; }
    qint32 FieldCount() const { return qint32(FFields.size()); }
    // Raises "Argument hors limites" outside 0..FieldCount − 1.
    TField* Fields(qint32 Index) const;
    TField* FindField(const QString& FieldName) const;
    // FindField, raising "Champ '%s' non trouvé" (prefixed by the dataset's name) for a name no
    // field has.
    TField* FieldByName(const QString& FieldName) const;
    bool DefaultFields() const { return FDefaultFields; }
    // The field's value read from the active record buffer; see TField::GetData.
    virtual bool GetFieldData(TField* Field, void* Buffer);

    // ---- Record window and navigation
    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    qint32 MoveBy(qint32 Distance);
    bool Eof() const { return FEOF; }
    bool Bof() const { return FBOF; }
    bool IsEmpty() const { return FActiveRecord >= FRecordCount; }
    virtual qint32 RecNo() const { return 0; }
    virtual qint32 RecordCount() const { return 0; }
    // The active record's buffer; nullptr without one.
    char* ActiveBuffer() const;
    void UpdateCursorPos();
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return FDisableCount != 0; }
    qint32 BufferCount() const { return FBufferCount; }
    // The window as the views see it.
    qint32 WindowRecordCount() const { return FRecordCount; }
    qint32 ActiveRecord() const { return FActiveRecord; }
    qint32 CurrentRecord() const { return FCurrentRecord; }
    char* Buffers(qint32 Index) const { return FBuffers.at(size_t(Index)); }

    // ---- Data sources
    qint32 DataSourceCount() const { return qint32(FDataSources.size()); }
    TDataSource* DataSources(qint32 Index) const { return FDataSources.at(size_t(Index)); }

    // ---- Notifications (the program sets none; the views rely only on the data events)
    TDataSetNotifyEvent BeforeOpen;
    TDataSetNotifyEvent AfterOpen;
    TDataSetNotifyEvent BeforeClose;
    TDataSetNotifyEvent AfterClose;
    TDataSetNotifyEvent BeforeScroll;
    TDataSetNotifyEvent AfterScroll;

protected:
    friend class TDataSource;
    friend class TDataLink;
    friend class TField;

    // ---- What a concrete dataset supplies
    virtual qint32 GetRecordBufferSize() const = 0;
    // Reads a row for a window buffer (modes next, prior and current).
    virtual TGetResult GetRecord(char* Buffer, TGetMode GetMode, bool DoCheck) = 0;
    // Before the first row, after the last row (the latter may fetch).
    virtual void InternalFirst() = 0;
    virtual void InternalLast() = 0;
    virtual quint8 GetBookmarkFlag(const char* Buffer) const = 0;
    // The cache position of a window buffer: its row, or the row before it for an inserted one.
    virtual void InternalSetToRecord(char* Buffer, bool Inserted) = 0;
    // The open steps of the concrete dataset: field definitions, fields, cursor.
    virtual void DoBeforeOpen();
    virtual void InternalOpen() = 0;
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void InternalClose() = 0;
    virtual void DoAfterClose();
    bool IsCursorOpen() const { return FInternalOpenComplete; }
    // After a failed Last: whether the window refill may ignore its own failure.
    virtual void AfterInternalLast() {}

    void SetState(TDataSetState Value);
    void DataEvent(TDataEvent Event, qint64 Info);
    // The buffer count update of the record window; fills the window.
    void UpdateBufferCount();
    // Empties the window: fill count 0, active 0, current −1, at both ends.
    void ClearBuffers();
    void FreeBuffers();
    void CheckActive() const;
    void CheckBiDirectional() const;
    // The start of every move: the check, the browse-mode event and the before-scroll call.
    void CheckBrowseMode();

    // ---- Fields
    void CreateFields();
    void DestroyDefaultFields();
    void BindFields(bool Binding);
    // The class of a created field; nullptr when the type has none.
    virtual TField* CreateFieldOfType(TFieldType DataType) = 0;
    void SetDefaultFields(bool Value) { FDefaultFields = Value; }
    void AddField(TField* Field);
    void RemoveField(TField* Field);
    void FieldsChanged();

    // Set while the dataset is being destroyed.
    bool Destroyed() const { return FDestroyed; }
    void BeginDestroy();

    bool FInternalOpenComplete = false;

private:
    bool GetNextRecord();
    bool GetPriorRecord();
    void SetCurrentRecord(qint32 Index);
    void SetBufferCount(qint32 Value);
    void ActivateBuffers();
    void MoveBuffer(qint32 CurIndex, qint32 NewIndex);
    void NotifyDataSources(TDataEvent Event, qint64 Info);
    void OpenCursor();
    void CloseCursor();
    void AddDataSource(TDataSource* DataSource);
    void RemoveDataSource(TDataSource* DataSource);

    TDataSetState FState = dsInactive;
    TFieldDefs FFieldDefs;
    std::vector<TField*> FFields;
    bool FDefaultFields = false;
    std::vector<char*> FBuffers;
    qint32 FBufferCount = 0;
    qint32 FRecordCount = 0;
    qint32 FActiveRecord = 0;
    qint32 FCurrentRecord = -1;
    bool FBOF = true;
    bool FEOF = true;
    std::vector<TDataSource*> FDataSources;
    std::vector<TDataLink*> FDataLinkChain; // FFirstDataLink's chain
    qint32 FDisableCount = 0;
    TDataSetState FDisableState = dsInactive;
    TDataEvent FEnableEvent = deDataSetChange;
    bool FDestroyed = false;
};

// Keeps the controls of a dataset disabled for the length of a scope: a walk through its rows
// that the grids must not follow, however it ends.
class TControlsDisabled {
public:
    explicit TControlsDisabled(TDataSet& dataSet) : FDataSet(dataSet) {
        FDataSet.DisableControls();
    }
    ~TControlsDisabled() { FDataSet.EnableControls(); }
    TControlsDisabled(const TControlsDisabled&) = delete;
    TControlsDisabled& operator=(const TControlsDisabled&) = delete;

private:
    TDataSet& FDataSet;
};

// ---------------------------------------------------------------------------------------------
// Data sources and data links

using TDataChangeEvent = std::function<void(TObject* Sender, TField* Field)>;

class TDataSource : public TComponent {
public:
    explicit TDataSource(TComponent* AOwner = nullptr);
    ~TDataSource() override;

    TDataSet* DataSet() const { return FDataSet; }
    void SetDataSet(TDataSet* Value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    TDataSetState State() const { return FState; }
    qint32 DataLinkCount() const { return qint32(FDataLinks.size()); }
    TDataLink* DataLinks(qint32 Index) const { return FDataLinks.at(size_t(Index)); }

    TNotifyEvent OnStateChange;
    TDataChangeEvent OnDataChange;
    TNotifyEvent OnUpdateData;

private:
    friend class TDataSet;
    friend class TDataLink;

    void DataEvent(TDataEvent Event, qint64 Info);
    void NotifyLinks(TDataEvent Event, qint64 Info);
    void UpdateState();
    void AddDataLink(TDataLink* Link);
    void RemoveDataLink(TDataLink* Link);

    TDataSet* FDataSet = nullptr;
    std::vector<TDataLink*> FDataLinks;
    bool FEnabled = true;
    TDataSetState FState = dsInactive;
};

// What a view holds to follow a dataset: how many rows it shows (its buffer count), which
// window row is its first, and callbacks for what changed.
class TDataLink : public TObject {
public:
    TDataLink();
    ~TDataLink() override;

    TDataSource* DataSource() const { return FDataSource; }
    void SetDataSource(TDataSource* Value);
    TDataSet* DataSet() const { return FDataSource ? FDataSource->DataSet() : nullptr; }
    bool Active() const { return FActive; }
    qint32 BufferCount() const { return FBufferCount; }
    void SetBufferCount(qint32 Value);
    qint32 FirstRecord() const { return FFirstRecord; }
    // The rows the link shows: the smaller of its buffer count and the window's fill count.
    qint32 RecordCount() const;
    // The dataset's active row counted from the link's first row; setting it makes another
    // window row the active one (a grid reads each visible row so, then restores it).
    qint32 ActiveRecord() const;
    void SetActiveRecord(qint32 Value);
    bool Eof() const;
    bool Bof() const;
    qint32 MoveBy(qint32 Distance);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value) { FReadOnly = Value; }
    bool Editing() const { return FEditing; }
    bool VisualControl() const { return FVisualControl; }
    void SetVisualControl(bool Value) { FVisualControl = Value; }

protected:
    friend class TDataSource;
    friend class TDataSet;

    virtual void ActiveChanged() {}
    virtual void DataSetChanged() {}
    virtual void DataSetScrolled(qint32 Distance) { (void)Distance; }
    virtual void LayoutChanged() {}
    virtual void RecordChanged(TField* Field) { (void)Field; }
    virtual void CheckBrowseMode() {}
    virtual void UpdateData() {}
    virtual void EditingChanged() {}
    virtual void FocusControl(TField* Field) { (void)Field; }

    void DataEvent(TDataEvent Event, qint64 Info);

private:
    void SetActive(bool Value);
    void UpdateRange();
    void UpdateState();

    TDataSource* FDataSource = nullptr;
    qint32 FBufferCount = 1;
    qint32 FFirstRecord = 0;
    bool FActive = false;
    bool FReadOnly = false;
    bool FEditing = false;
    bool FUpdating = false;
    bool FVisualControl = false;
};
