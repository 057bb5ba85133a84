#include "DB.h"

#include "Conversions.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

QString S(const char* text) {
    return QString::fromUtf8(text);
}

// Day numbers count 1 January of year 1 as day 1.
QDate DateFromDayNumber(qint64 day) {
    return QDate(1, 1, 1).addDays(day - 1);
}

constexpr qint64 MSecsPerDayCount = 86400000;

// A copy of a short list that a walk can rely on while handlers change the list itself; kept
// on the stack up to a size no window of the program reaches.
template <typename T> class TSnapshot {
public:
    explicit TSnapshot(const std::vector<T>& items) : FSize(items.size()) {
        if (FSize <= FLocal.size())
            std::copy(items.begin(), items.end(), FLocal.begin());
        else
            FHeap = items;
    }
    const T* begin() const { return FHeap.empty() ? FLocal.data() : FHeap.data(); }
    const T* end() const { return begin() + FSize; }
    std::reverse_iterator<const T*> rbegin() const { return std::reverse_iterator(end()); }
    std::reverse_iterator<const T*> rend() const { return std::reverse_iterator(begin()); }

private:
    size_t FSize;
    std::array<T, 16> FLocal{};
    std::vector<T> FHeap;
};

// A field's value as the record buffer stores it (Stored), widened to what the field hands out.
template <typename Stored, typename Out> bool ReadStored(TField& field, Out& value) {
    Stored v{};
    if (!field.GetData(&v)) return false;
    value = Out(v);
    return true;
}

// A value buffer large enough for any fixed-size slot a field reads.
struct TValueBuffer {
    alignas(8) unsigned char bytes[16] = {};
};

} // namespace

[[noreturn]] void DatabaseError(const QString& Message, const TComponent* Component) {
    if (Component && !Component->Name().isEmpty())
        throw EDatabaseError(Component->Name() + QStringLiteral(": ") + Message);
    throw EDatabaseError(Message);
}

QString FieldTypeName(TFieldType type) {
    switch (type) {
    case ftString:
        return S("String");
    case ftSmallint:
        return S("SmallInt");
    case ftInteger:
        return S("Integer");
    case ftWord:
        return S("Word");
    case ftBoolean:
        return S("Boolean");
    case ftFloat:
        return S("Float");
    case ftCurrency:
        return S("Currency");
    case ftBCD:
        return S("BCD");
    case ftDate:
        return S("Date");
    case ftTime:
        return S("Time");
    case ftDateTime:
        return S("DateTime");
    case ftBytes:
        return S("Bytes");
    case ftVarBytes:
        return S("VarBytes");
    case ftAutoInc:
        return S("AutoInc");
    case ftBlob:
        return S("Blob");
    case ftMemo:
        return S("Memo");
    case ftGraphic:
        return S("Graphic");
    case ftFmtMemo:
        return S("FmtMemo");
    case ftParadoxOle:
        return S("ParadoxOle");
    case ftDBaseOle:
        return S("DBaseOle");
    case ftTypedBinary:
        return S("TypedBinary");
    case ftCursor:
        return S("Cursor");
    case ftFixedChar:
        return S("FixedChar");
    case ftWideString:
        return S("WideString");
    case ftLargeint:
        return S("LargeInt");
    case ftADT:
        return S("ADT");
    case ftArray:
        return S("Array");
    case ftReference:
        return S("Reference");
    case ftDataSet:
        return S("DataSet");
    case ftOraBlob:
        return S("OraBlob");
    case ftOraClob:
        return S("OraClob");
    case ftVariant:
        return S("Variant");
    case ftInterface:
        return S("Interface");
    case ftIDispatch:
        return S("IDispatch");
    case ftGuid:
        return S("Guid");
    case ftTimeStamp:
        return S("TimeStamp");
    case ftFMTBcd:
        return S("FMTBcd");
    case ftFixedWideChar:
        return S("FixedWideChar");
    case ftWideMemo:
        return S("WideMemo");
    case ftShortint:
        return S("Shortint");
    case ftByte:
        return S("Byte");
    case ftUnknown:
        break;
    }
    return S("Unknown");
}

int FieldTypeGroup(TFieldType type) {
    switch (type) {
    case ftString:
    case ftFixedChar:
    case ftGuid:
        return 1000;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftShortint:
    case ftByte:
        return 1001;
    case ftFloat:
    case ftCurrency:
        return 1002;
    case ftWideString:
    case ftFixedWideChar:
        return 1003;
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
    case ftWideMemo:
        return 1004;
    case ftIDispatch:
    case ftInterface:
        return 1005;
    default:
        return int(type); // a group by itself
    }
}

// =============================================================================================
// Field definitions

TFieldDef& TFieldDefs::Add(const QString& Name, TFieldType DataType, qint32 Size, qint32 FieldNo) {
    TFieldDef def;
    def.Name = Name;
    def.DataType = DataType;
    def.Size = Size;
    def.FieldNo = FieldNo;
    FItems.push_back(std::move(def));
    return FItems.back();
}

qint32 TFieldDefs::IndexOf(const QString& Name) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Name.compare(Name, Qt::CaseInsensitive) == 0) return qint32(i);
    return -1;
}

// =============================================================================================
// TField

TField::TField(TComponent* AOwner) : TComponent(AOwner) {}

TField::~TField() {
    Destroying();
    SetDataSet(nullptr);
}

void TField::SetFieldName(const QString& Value) {
    if (FDataSet && FDataSet->Active())
        DatabaseError(S("Impossible d'effectuer cette opération sur un ensemble de données ouvert"),
                      FDataSet);
    FFieldName = Value;
}

void TField::SetSize(qint32 Value) {
    if (Value == FSize) return;
    CheckSize(Value);
    FSize = Value;
    SizeChanged();
}

void TField::CheckSize(qint32 Value) const {
    if (Value != 0) DatabaseError(Format(S("Taille de champ incorrecte (%d)"), Value));
}

qint32 TField::Index() const {
    if (!FDataSet) return -1;
    const auto& fields = FDataSet->FFields;
    const auto it = std::find(fields.begin(), fields.end(), this);
    return it == fields.end() ? -1 : qint32(it - fields.begin());
}

QString TField::DisplayName() const {
    return FDisplayLabel.isEmpty() ? FFieldName : FDisplayLabel;
}

void TField::SetDataSet(TDataSet* Value) {
    if (Value == FDataSet) return;
    if (FDataSet) FDataSet->RemoveField(this);
    if (Value) Value->AddField(this);
}

bool TField::GetData(void* Buffer) {
    return FDataSet ? FDataSet->GetFieldData(this, Buffer) : false;
}

bool TField::IsNull() {
    return !GetData(nullptr);
}

[[noreturn]] void TField::AccessError(const QString& TypeName) const {
    DatabaseError(
        Format(S("Champ '%s' ne peut pas être utilisé comme %s"), DisplayName(), TypeName));
}

QString TField::AsString() {
    AccessError(S("String"));
}
qint32 TField::AsInteger() {
    AccessError(S("Integer"));
}
qint64 TField::AsLargeInt() {
    AccessError(S("LargeInt"));
}
double TField::AsFloat() {
    AccessError(S("Float"));
}
bool TField::AsBoolean() {
    AccessError(S("Boolean"));
}
QDateTime TField::AsDateTime() {
    AccessError(S("DateTime"));
}
QVariant TField::AsVariant() {
    AccessError(S("Variant"));
}
QString TField::DisplayText() {
    return AsString();
}

// ---------------------------------------------------------------------------------------------
// Texts

TStringField::TStringField(TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftString);
    SetSize(20);
}

void TStringField::CheckSize(qint32 Value) const {
    if (Value < 0) DatabaseError(Format(S("Taille de champ incorrecte (%d)"), Value));
}

qint32 TStringField::AsInteger() {
    const QString s = AsString();
    return s.isEmpty() ? 0 : StrToInt(s);
}

qint64 TStringField::AsLargeInt() {
    const QString s = AsString();
    return s.isEmpty() ? 0 : StrToInt64(s);
}

double TStringField::AsFloat() {
    const QString s = AsString();
    if (s.isEmpty()) return 0;
    double v = 0;
    if (!TryTextToDouble(s, v))
        throw EConvertError(
            Format(S("'%s' n'est pas une valeur en virgule flottante correcte"), s));
    return v;
}

bool TStringField::AsBoolean() {
    const QString s = AsString();
    if (s.isEmpty()) return false;
    const QChar c = s.at(0).toUpper();
    return c == QLatin1Char('T') || c == QLatin1Char('Y') || c == QLatin1Char('O') ||
           c == QLatin1Char('1');
}

QVariant TStringField::AsVariant() {
    if (IsNull()) return QVariant::fromValue(nullptr);
    return AsString();
}

TWideStringField::TWideStringField(TComponent* AOwner) : TStringField(AOwner) {
    SetDataType(ftWideString);
}

TGuidField::TGuidField(TComponent* AOwner) : TStringField(AOwner) {
    SetDataType(ftGuid);
    SetSize(38);
}

void TGuidField::CheckSize(qint32 Value) const {
    if (Value != 38) DatabaseError(Format(S("Taille de champ incorrecte (%d)"), Value));
}

// ---------------------------------------------------------------------------------------------
// Numbers

TNumericField::TNumericField(TComponent* AOwner) : TField(AOwner) {}

QString TNumericField::EditText() {
    return AsString();
}

TIntegerField::TIntegerField(TComponent* AOwner) : TNumericField(AOwner) {
    SetDataType(ftInteger);
}

bool TIntegerField::ReadValue(qint64& Value) {
    return ReadStored<qint32>(*this, Value);
}

bool TIntegerField::IsNull() {
    // Whether there is a value, without reading one that this field's class may not hold.
    return !GetData(nullptr);
}

QString TIntegerField::AsString() {
    qint64 v = 0;
    return ReadValue(v) ? QString::number(v) : QString();
}

qint32 TIntegerField::AsInteger() {
    qint64 v = 0;
    return ReadValue(v) ? qint32(v) : 0;
}

qint64 TIntegerField::AsLargeInt() {
    qint64 v = 0;
    return ReadValue(v) ? v : 0;
}

double TIntegerField::AsFloat() {
    return double(AsLargeInt());
}

bool TIntegerField::AsBoolean() {
    return AsLargeInt() > 0;
}

QVariant TIntegerField::AsVariant() {
    qint64 v = 0;
    if (!ReadValue(v)) return QVariant::fromValue(nullptr);
    return DataType() == ftLargeint ? QVariant(v) : QVariant(qint32(v));
}

QString TIntegerField::DisplayText() {
    qint64 v = 0;
    if (!ReadValue(v)) return QString();
    if (!DisplayFormat().isEmpty()) return FormatFloat(DisplayFormat(), double(v));
    return QString::number(v);
}

QString TIntegerField::EditText() {
    qint64 v = 0;
    if (!ReadValue(v)) return QString();
    if (!EditFormat().isEmpty()) return FormatFloat(EditFormat(), double(v));
    return QString::number(v);
}

TSmallintField::TSmallintField(TComponent* AOwner) : TIntegerField(AOwner) {
    SetDataType(ftSmallint);
}

bool TSmallintField::ReadValue(qint64& Value) {
    return ReadStored<qint16>(*this, Value);
}

TWordField::TWordField(TComponent* AOwner) : TIntegerField(AOwner) {
    SetDataType(ftWord);
}

bool TWordField::ReadValue(qint64& Value) {
    return ReadStored<quint16>(*this, Value);
}

TAutoIncField::TAutoIncField(TComponent* AOwner) : TIntegerField(AOwner) {
    SetDataType(ftAutoInc);
}

TLargeintField::TLargeintField(TComponent* AOwner) : TIntegerField(AOwner) {
    SetDataType(ftLargeint);
}

bool TLargeintField::ReadValue(qint64& Value) {
    return ReadStored<qint64>(*this, Value);
}

qint32 TLargeintField::AsInteger() {
    return qint32(quint32(quint64(AsLargeInt()) & 0xFFFFFFFFu));
}

TFloatField::TFloatField(TComponent* AOwner) : TNumericField(AOwner) {
    SetDataType(ftFloat);
}

bool TFloatField::ReadValue(double& Value) {
    return ReadStored<double>(*this, Value);
}

bool TFloatField::IsNull() {
    double v = 0;
    return !ReadValue(v);
}

QString TFloatField::AsString() {
    double v = 0;
    return ReadValue(v) ? FloatToStrGeneral(v) : QString();
}

qint32 TFloatField::AsInteger() {
    return qint32(AsLargeInt());
}

qint64 TFloatField::AsLargeInt() {
    double v = 0;
    if (!ReadValue(v)) return 0;
    return qint64(std::llround(v));
}

double TFloatField::AsFloat() {
    double v = 0;
    return ReadValue(v) ? v : 0;
}

bool TFloatField::AsBoolean() {
    return AsFloat() != 0;
}

QVariant TFloatField::AsVariant() {
    double v = 0;
    if (!ReadValue(v)) return QVariant::fromValue(nullptr);
    return v;
}

QString TFloatField::DisplayText() {
    double v = 0;
    if (!ReadValue(v)) return QString();
    return DisplayFormat().isEmpty() ? FloatToStrGeneral(v) : FormatFloat(DisplayFormat(), v);
}

QString TFloatField::EditText() {
    double v = 0;
    if (!ReadValue(v)) return QString();
    return EditFormat().isEmpty() ? FloatToStrGeneral(v) : FormatFloat(EditFormat(), v);
}

TCurrencyField::TCurrencyField(TComponent* AOwner) : TFloatField(AOwner) {
    SetDataType(ftCurrency);
}

TBCDField::TBCDField(TComponent* AOwner) : TNumericField(AOwner) {
    SetDataType(ftBCD);
    SetSize(4);
}

void TBCDField::CheckSize(qint32 Value) const {
    if (Value < 0 || Value > 32) DatabaseError(Format(S("Taille de champ incorrecte (%d)"), Value));
}

bool TBCDField::ReadBcd(TBcd& Value) {
    return GetData(&Value);
}

bool TBCDField::IsNull() {
    TBcd v;
    return !ReadBcd(v);
}

QString TBCDField::AsString() {
    TBcd v;
    if (!ReadBcd(v)) return QString();
    return ScaledToText(v.Value, -v.Scale);
}

qint64 TBCDField::AsLargeInt() {
    TBcd v;
    if (!ReadBcd(v)) return 0;
    return ScaledTruncate(v.Value, -v.Scale);
}

qint32 TBCDField::AsInteger() {
    return qint32(AsLargeInt());
}

double TBCDField::AsFloat() {
    TBcd v;
    if (!ReadBcd(v)) return 0;
    return ScaledToDouble(v.Value, -v.Scale);
}

bool TBCDField::AsBoolean() {
    TBcd v;
    return ReadBcd(v) && v.Value != 0;
}

QVariant TBCDField::AsVariant() {
    TBcd v;
    if (!ReadBcd(v)) return QVariant::fromValue(nullptr);
    if (v.Scale == 0) return QVariant(v.Value);
    return ScaledToDouble(v.Value, -v.Scale);
}

QString TBCDField::DisplayText() {
    TBcd v;
    if (!ReadBcd(v)) return QString();
    if (!DisplayFormat().isEmpty())
        return FormatFloat(DisplayFormat(), ScaledToDouble(v.Value, -v.Scale));
    return ScaledToText(v.Value, -v.Scale);
}

QString TBCDField::EditText() {
    TBcd v;
    if (!ReadBcd(v)) return QString();
    if (!EditFormat().isEmpty())
        return FormatFloat(EditFormat(), ScaledToDouble(v.Value, -v.Scale));
    return ScaledToText(v.Value, -v.Scale);
}

// ---------------------------------------------------------------------------------------------
// Booleans, dates, bytes, blobs

TBooleanField::TBooleanField(TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftBoolean);
}

bool TBooleanField::IsNull() {
    TValueBuffer b;
    return !GetData(b.bytes);
}

bool TBooleanField::AsBoolean() {
    TValueBuffer b;
    if (!GetData(b.bytes)) return false;
    return std::any_of(std::begin(b.bytes), std::end(b.bytes), [](unsigned char c) { return c; });
}

qint32 TBooleanField::AsInteger() {
    return AsBoolean() ? 1 : 0;
}

QString TBooleanField::AsString() {
    if (IsNull()) return QString();
    const qsizetype semicolon = FDisplayValues.indexOf(QLatin1Char(';'));
    const QString yes = semicolon < 0 ? FDisplayValues : FDisplayValues.left(semicolon);
    const QString no = semicolon < 0 ? QString() : FDisplayValues.mid(semicolon + 1);
    return AsBoolean() ? yes : no;
}

QVariant TBooleanField::AsVariant() {
    if (IsNull()) return QVariant::fromValue(nullptr);
    return AsBoolean();
}

TDateTimeField::TDateTimeField(TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftDateTime);
}

bool TDateTimeField::ReadValue(QDateTime& Value) {
    double ms = 0;
    if (!GetData(&ms)) return false;
    const qint64 whole = qint64(ms);
    const qint64 day = whole / MSecsPerDayCount;
    const qint64 time = whole % MSecsPerDayCount;
    Value = QDateTime(DateFromDayNumber(day), QTime::fromMSecsSinceStartOfDay(int(time)), Qt::UTC);
    return true;
}

QString TDateTimeField::DefaultFormat() const {
    return FormatSettings().ShortDateFormat + QLatin1Char(' ') + FormatSettings().LongTimeFormat;
}

bool TDateTimeField::IsNull() {
    QDateTime v;
    return !ReadValue(v);
}

QDateTime TDateTimeField::AsDateTime() {
    QDateTime v;
    return ReadValue(v) ? v : QDateTime();
}

double TDateTimeField::AsFloat() {
    QDateTime v;
    return ReadValue(v) ? DateTimeToDayCount(v) : 0;
}

QString TDateTimeField::AsString() {
    QDateTime v;
    return ReadValue(v) ? FormatDateTime(DefaultFormat(), v) : QString();
}

QString TDateTimeField::DisplayText() {
    QDateTime v;
    if (!ReadValue(v)) return QString();
    return FormatDateTime(FDisplayFormat.isEmpty() ? DefaultFormat() : FDisplayFormat, v);
}

QVariant TDateTimeField::AsVariant() {
    QDateTime v;
    if (!ReadValue(v)) return QVariant::fromValue(nullptr);
    if (DataType() == ftDate) return v.date();
    if (DataType() == ftTime) return v.time();
    return v;
}

TDateField::TDateField(TComponent* AOwner) : TDateTimeField(AOwner) {
    SetDataType(ftDate);
}

bool TDateField::ReadValue(QDateTime& Value) {
    qint32 day = 0;
    if (!GetData(&day)) return false;
    Value = QDateTime(DateFromDayNumber(day), QTime(0, 0), Qt::UTC);
    return true;
}

QString TDateField::DefaultFormat() const {
    return FormatSettings().ShortDateFormat;
}

TTimeField::TTimeField(TComponent* AOwner) : TDateTimeField(AOwner) {
    SetDataType(ftTime);
}

bool TTimeField::ReadValue(QDateTime& Value) {
    qint32 ms = 0;
    if (!GetData(&ms)) return false;
    Value = QDateTime(QDate(1899, 12, 30), QTime::fromMSecsSinceStartOfDay(ms % MSecsPerDayCount),
                      Qt::UTC);
    return true;
}

QString TTimeField::DefaultFormat() const {
    return FormatSettings().LongTimeFormat;
}

TBinaryField::TBinaryField(TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftBytes);
    SetSize(16);
}

void TBinaryField::CheckSize(qint32 Value) const {
    if (Value < 0) DatabaseError(Format(S("Taille de champ incorrecte (%d)"), Value));
}

QByteArray TBinaryField::AsBytes() {
    QByteArray bytes(std::max<qint32>(Size(), 8), '\0');
    if (!GetData(bytes.data())) return QByteArray();
    bytes.truncate(Size());
    return bytes;
}

bool TBinaryField::IsNull() {
    return AsBytes().isNull();
}

QString TBinaryField::AsString() {
    return QString::fromLatin1(AsBytes().toHex());
}

QVariant TBinaryField::AsVariant() {
    const QByteArray bytes = AsBytes();
    return bytes.isNull() ? QVariant::fromValue(nullptr) : QVariant(bytes);
}

TBytesField::TBytesField(TComponent* AOwner) : TBinaryField(AOwner) {
    SetDataType(ftBytes);
}

TVarBytesField::TVarBytesField(TComponent* AOwner) : TBinaryField(AOwner) {
    SetDataType(ftVarBytes);
}

TBlobField::TBlobField(TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftBlob);
}

void TBlobField::CheckSize(qint32 Value) const {
    if (Value < 0) DatabaseError(Format(S("Taille de champ incorrecte (%d)"), Value));
}

bool TBlobField::IsNull() {
    return !GetData(nullptr);
}

QByteArray TBlobField::AsBytes() {
    return QByteArray();
}

QString TBlobField::AsString() {
    return AnsiToString(AsBytes());
}

QVariant TBlobField::AsVariant() {
    if (IsNull()) return QVariant::fromValue(nullptr);
    return AsBytes();
}

QString TBlobField::DisplayText() {
    return IsNull() ? S("(blob)") : S("(BLOB)");
}

TMemoField::TMemoField(TComponent* AOwner) : TBlobField(AOwner) {
    SetDataType(ftMemo);
}

QString TMemoField::AsString() {
    return AnsiToString(AsBytes());
}

QString TMemoField::DisplayText() {
    return IsNull() ? S("(memo)") : S("(MEMO)");
}

TGraphicField::TGraphicField(TComponent* AOwner) : TBlobField(AOwner) {
    SetDataType(ftGraphic);
}

// =============================================================================================
// TDataSet

TDataSet::TDataSet(TComponent* AOwner) : TComponent(AOwner) {}

TDataSet::~TDataSet() {
    // Only what needs no virtual call: the concrete dataset has closed itself already.
    BeginDestroy();
    FInternalOpenComplete = false;
    FreeBuffers();
    // Views let go of a dataset that disappears; persistent fields forget it.
    while (!FDataSources.empty())
        FDataSources.back()->SetDataSet(nullptr);
    for (TField* f : std::vector<TField*>(FFields))
        f->FDataSet = nullptr;
    FFields.clear();
}

void TDataSet::BeginDestroy() {
    FDestroyed = true;
    Destroying();
}

void TDataSet::SetActive(bool Value) {
    if (Value == Active()) return;
    if (Value) {
        OpenCursor();
        return;
    }
    if (!FDestroyed) DoBeforeClose();
    SetState(dsInactive);
    CloseCursor();
    if (!FDestroyed) DoAfterClose();
}

void TDataSet::DoBeforeOpen() {
    if (BeforeOpen) BeforeOpen(this);
}

void TDataSet::DoAfterOpen() {
    if (AfterOpen) AfterOpen(this);
}

void TDataSet::DoBeforeClose() {
    if (BeforeClose) BeforeClose(this);
}

void TDataSet::DoAfterClose() {
    if (AfterClose) AfterClose(this);
}

void TDataSet::OpenCursor() {
    DoBeforeOpen();
    FDefaultFields = FFields.empty();
    FInternalOpenComplete = false;
    try {
        InternalOpen();
    } catch (...) {
        // The open did not happen: whatever it built goes again.
        try {
            CloseCursor();
        } catch (...) {
        }
        throw;
    }
    // From here on the open counts as done, even when filling the window fails.
    FInternalOpenComplete = true;
    FBuffers.assign(1, nullptr);
    FBuffers[0] = static_cast<char*>(std::calloc(1, size_t(GetRecordBufferSize())));
    FBufferCount = 0;
    ClearBuffers();
    std::exception_ptr failure;
    try {
        UpdateBufferCount();
    } catch (...) {
        failure = std::current_exception();
    }
    FBOF = true;
    SetState(dsBrowse);
    DoAfterOpen();
    if (failure) std::rethrow_exception(failure);
}

void TDataSet::CloseCursor() {
    FInternalOpenComplete = false;
    FreeBuffers();
    InternalClose();
}

void TDataSet::SetState(TDataSetState Value) {
    if (FState == Value) return;
    FState = Value;
    DataEvent(deUpdateState, 0);
}

void TDataSet::CheckActive() const {
    if (!Active())
        DatabaseError(S("Impossible d'effectuer cette opération sur un ensemble de données fermé"),
                      this);
}

void TDataSet::CheckBiDirectional() const {
    if (IsUniDirectional())
        DatabaseError(S("Opération non autorisée sur un ensemble de données unidirectionnel"),
                      this);
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
}

// ---------------------------------------------------------------------------------------------
// Fields

TField* TDataSet::Fields(qint32 Index) const {
    if (Index < 0 || Index >= FieldCount()) throw Exception(S("Argument hors limites"));
    return FFields[size_t(Index)];
}

TField* TDataSet::FindField(const QString& FieldName) const {
    for (TField* f : FFields)
        if (f->FieldName().compare(FieldName, Qt::CaseInsensitive) == 0) return f;
    return nullptr;
}

TField* TDataSet::FieldByName(const QString& FieldName) const {
    TField* f = FindField(FieldName);
    if (!f) DatabaseError(Format(S("Champ '%s' non trouvé"), FieldName), this);
    return f;
}

bool TDataSet::GetFieldData(TField*, void*) {
    return false;
}

void TDataSet::AddField(TField* Field) {
    FFields.push_back(Field);
    Field->FDataSet = this;
    Field->Attached();
    FieldsChanged();
}

void TDataSet::RemoveField(TField* Field) {
    Field->Detaching();
    const auto it = std::find(FFields.begin(), FFields.end(), Field);
    if (it != FFields.end()) FFields.erase(it);
    Field->FDataSet = nullptr;
    Field->FFieldNo = 0;
    FieldsChanged();
}

void TDataSet::FieldsChanged() {
    if (!FDestroyed && Active()) DataEvent(deLayoutChange, 0);
}

void TDataSet::CreateFields() {
    for (qint32 i = 0; i < FFieldDefs.Count(); ++i) {
        const TFieldDef& def = FFieldDefs.Items(i);
        TField* field = CreateFieldOfType(def.DataType);
        if (!field)
            throw EDatabaseError(Format(S("Le champ '%s' est d'un type inconnu"), def.Name));
        try {
            field->SetSize(def.Size);
            field->SetFieldName(def.Name);
            field->SetDataType(def.DataType);
            if (auto* bcd = dynamic_cast<TBCDField*>(field)) bcd->SetPrecision(def.Precision);
            field->SetDataSet(this);
        } catch (...) {
            delete field;
            throw;
        }
    }
}

void TDataSet::DestroyDefaultFields() {
    if (!FDefaultFields) return;
    while (!FFields.empty())
        delete FFields.back(); // its destructor detaches it
    FDefaultFields = false;
}

void TDataSet::BindFields(bool Binding) {
    for (TField* field : FFields) {
        if (!Binding) {
            field->Bind(0);
            continue;
        }
        if (field->FieldKind() != fkData) continue;
        const qint32 index = FFieldDefs.IndexOf(field->FieldName());
        if (index < 0)
            DatabaseError(Format(S("Champ '%s' non trouvé"), field->DisplayName()), this);
        const TFieldDef& def = FFieldDefs.Items(index);
        const TFieldType fieldType = field->DataType();
        const bool dateKind = fieldType == ftDate || fieldType == ftTime || fieldType == ftDateTime;
        const bool compatible = dateKind
                                    ? fieldType == def.DataType
                                    : FieldTypeGroup(fieldType) == FieldTypeGroup(def.DataType);
        if (!compatible)
            DatabaseError(Format(S("Type inadéquat pour le champ '%s', attendu : %s actuel : %s"),
                                 field->DisplayName(), FieldTypeName(fieldType),
                                 FieldTypeName(def.DataType)),
                          this);
        const bool sized = fieldType == ftBCD || fieldType == ftBytes || fieldType == ftVarBytes ||
                           fieldType == ftReference;
        if (sized && field->Size() != def.Size)
            DatabaseError(
                Format(S("Taille inadéquate pour le champ '%s', attendue : %d actuelle  : %d"),
                       field->DisplayName(), field->Size(), def.Size),
                this);
        const bool text = fieldType == ftString || fieldType == ftFixedChar ||
                          fieldType == ftWideString || fieldType == ftFixedWideChar;
        if (text && field->Size() > def.Size && !field->ReadOnly()) field->SetSize(def.Size);
        field->Bind(index + 1);
    }
}

// ---------------------------------------------------------------------------------------------
// The record window

char* TDataSet::ActiveBuffer() const {
    if (FActiveRecord < 0 || size_t(FActiveRecord) >= FBuffers.size()) return nullptr;
    return FBuffers[size_t(FActiveRecord)];
}

void TDataSet::ClearBuffers() {
    FRecordCount = 0;
    FActiveRecord = 0;
    FCurrentRecord = -1;
    FBOF = true;
    FEOF = true;
}

void TDataSet::FreeBuffers() {
    for (char* b : FBuffers)
        std::free(b);
    FBuffers.clear();
    FBufferCount = 0;
    ClearBuffers();
}

void TDataSet::ActivateBuffers() {
    FRecordCount = 1;
    FActiveRecord = 0;
    FBOF = false;
    FEOF = false;
}

// Moves one buffer to another place in the array, shifting those in between.
void TDataSet::MoveBuffer(qint32 CurIndex, qint32 NewIndex) {
    if (CurIndex == NewIndex) return;
    auto first = FBuffers.begin();
    if (CurIndex < NewIndex)
        std::rotate(first + CurIndex, first + CurIndex + 1, first + NewIndex + 1);
    else
        std::rotate(first + NewIndex, first + CurIndex, first + CurIndex + 1);
}

void TDataSet::UpdateBufferCount() {
    if (!IsCursorOpen()) return;
    FDataLinkChain.clear();
    qint32 count = 1;
    for (TDataSource* source : FDataSources)
        for (TDataLink* link : source->FDataLinks) {
            FDataLinkChain.push_back(link);
            count = std::max(count, link->FBufferCount);
        }
    SetBufferCount(count);
}

void TDataSet::SetBufferCount(qint32 Value) {
    if (Value == FBufferCount) return;
    if (Value < FBufferCount && FRecordCount > 0) {
        qint32 start = FActiveRecord;
        for (TDataLink* link : FDataLinkChain)
            if (link->FActive) start = std::min(start, link->FFirstRecord);
        start = std::min(start, FBufferCount - Value);
        if (start > 0) {
            std::rotate(FBuffers.begin(), FBuffers.begin() + start,
                        FBuffers.begin() + FBufferCount);
            FActiveRecord -= start;
            if (FCurrentRecord != -1) FCurrentRecord -= start;
            for (TDataLink* link : FDataLinkChain)
                if (link->FActive) link->FFirstRecord -= start;
        }
        FRecordCount = std::min(FRecordCount, Value);
        if (FCurrentRecord >= Value) FCurrentRecord = -1;
    }
    const size_t wanted = size_t(Value) + 1;
    const size_t size = size_t(GetRecordBufferSize());
    for (size_t i = wanted; i < FBuffers.size(); ++i)
        std::free(FBuffers[i]);
    const size_t old = FBuffers.size();
    FBuffers.resize(wanted, nullptr);
    for (size_t i = old; i < wanted; ++i)
        FBuffers[i] = static_cast<char*>(std::calloc(1, size));
    FBufferCount = Value;
    if (FDestroyed) return;
    while (FRecordCount < FBufferCount && GetNextRecord()) {
    }
    if (IsUniDirectional()) return;
    qint32 backward = 0;
    while (FRecordCount < FBufferCount && GetPriorRecord())
        ++backward;
    if (backward == 0) return;
    for (TDataLink* link : FDataLinkChain)
        if (link->FActive) link->FFirstRecord += backward;
}

void TDataSet::SetCurrentRecord(qint32 Index) {
    if (FCurrentRecord == Index) return;
    char* buffer = FBuffers[size_t(Index)];
    // While browsing a filled window every buffer holds an ordinary row.
    const quint8 flag = FState == dsBrowse && FRecordCount > 0 ? 0 : GetBookmarkFlag(buffer);
    switch (flag) {
    case 1:
        InternalFirst();
        break;
    case 2:
        InternalLast();
        break;
    default:
        InternalSetToRecord(buffer, flag == 3);
        break;
    }
    FCurrentRecord = Index;
}

void TDataSet::UpdateCursorPos() {
    if (FRecordCount > 0) SetCurrentRecord(FActiveRecord);
}

bool TDataSet::GetNextRecord() {
    if (FRecordCount > 0) SetCurrentRecord(FRecordCount - 1);
    TGetResult result = grError;
    try {
        result = GetRecord(FBuffers[size_t(FRecordCount)], gmNext, true);
    } catch (...) {
        FCurrentRecord = -1;
        throw;
    }
    if (result != grOK) {
        FCurrentRecord = -1;
        return false;
    }
    if (FRecordCount == 0)
        ActivateBuffers();
    else if (FRecordCount < FBufferCount)
        ++FRecordCount;
    else
        MoveBuffer(0, FRecordCount); // the first leaves; the spare becomes the last
    FCurrentRecord = FRecordCount - 1;
    return true;
}

bool TDataSet::GetPriorRecord() {
    CheckBiDirectional();
    if (FRecordCount > 0) SetCurrentRecord(0);
    TGetResult result = grError;
    try {
        result = GetRecord(FBuffers[size_t(FRecordCount)], gmPrior, true);
    } catch (...) {
        FCurrentRecord = -1;
        throw;
    }
    if (result != grOK) {
        FCurrentRecord = -1;
        return false;
    }
    MoveBuffer(FRecordCount, 0);
    if (FRecordCount == 0) {
        ActivateBuffers();
    } else if (FRecordCount < FBufferCount) {
        ++FRecordCount;
        ++FActiveRecord;
    }
    FCurrentRecord = 0;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Navigation

void TDataSet::First() {
    CheckBrowseMode();
    if (BeforeScroll) BeforeScroll(this);
    ClearBuffers();
    std::exception_ptr failure;
    try {
        InternalFirst();
        if (GetNextRecord())
            while (FRecordCount < FBufferCount && GetNextRecord()) {
            }
    } catch (...) {
        failure = std::current_exception();
    }
    FBOF = true;
    DataEvent(deDataSetChange, 0);
    if (AfterScroll) AfterScroll(this);
    if (failure) std::rethrow_exception(failure);
}

void TDataSet::Last() {
    CheckBiDirectional();
    CheckBrowseMode();
    if (BeforeScroll) BeforeScroll(this);
    ClearBuffers();
    std::exception_ptr failure;
    try {
        InternalLast();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        if (GetPriorRecord())
            while (FRecordCount < FBufferCount && GetPriorRecord()) {
            }
    } catch (...) {
        // After a failed fetch the refill is a best effort; the fetch's error is the one told.
        if (!failure) failure = std::current_exception();
    }
    if (failure) AfterInternalLast();
    FEOF = true;
    DataEvent(deDataSetChange, 0);
    if (AfterScroll) AfterScroll(this);
    if (failure) std::rethrow_exception(failure);
}

qint32 TDataSet::MoveBy(qint32 Distance) {
    CheckBrowseMode();
    if (BeforeScroll) BeforeScroll(this);
    if ((Distance > 0 && FEOF) || (Distance < 0 && FBOF)) return 0;
    FBOF = false;
    FEOF = false;
    const qint32 oldRecordCount = FRecordCount;
    qint32 scrolled = 0;
    qint32 moved = 0;
    std::exception_ptr failure;
    try {
        if (Distance > 0) {
            while (moved < Distance) {
                if (FActiveRecord < FRecordCount - 1) {
                    ++FActiveRecord;
                } else {
                    const bool full = FRecordCount >= FBufferCount;
                    if (!GetNextRecord()) {
                        FEOF = true;
                        break;
                    }
                    if (full)
                        --scrolled;
                    else
                        FActiveRecord = FRecordCount - 1;
                }
                ++moved;
            }
        } else {
            while (moved > Distance) {
                if (FActiveRecord > 0) {
                    --FActiveRecord;
                } else {
                    const bool full = FRecordCount >= FBufferCount;
                    if (!GetPriorRecord()) {
                        FBOF = true;
                        break;
                    }
                    if (full) ++scrolled;
                    FActiveRecord = 0;
                }
                --moved;
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (FRecordCount != oldRecordCount)
        DataEvent(deDataSetChange, 0);
    else
        DataEvent(deDataSetScroll, scrolled);
    if (AfterScroll) AfterScroll(this);
    if (failure) std::rethrow_exception(failure);
    return moved;
}

// ---------------------------------------------------------------------------------------------
// Data events

void TDataSet::DataEvent(TDataEvent Event, qint64 Info) {
    if (FDisableCount == 0) {
        NotifyDataSources(Event, Info);
        return;
    }
    if (Event == deUpdateState) {
        if (FState != dsInactive && FEnableEvent == deLayoutChange) {
            FEnableEvent = deDataSetChange;
            NotifyDataSources(deDisabledStateChange, 1);
        } else if (FState == dsInactive && FEnableEvent == deDataSetChange) {
            FEnableEvent = deLayoutChange;
            NotifyDataSources(deDisabledStateChange, 0);
        }
    } else if (Event == deLayoutChange) {
        FEnableEvent = deLayoutChange;
    }
}

void TDataSet::NotifyDataSources(TDataEvent Event, qint64 Info) {
    // A handler may detach a data source: walk a copy, on the stack, since every move sends
    // events.
    const TSnapshot<TDataSource*> sources(FDataSources);
    for (TDataSource* source : sources)
        if (std::find(FDataSources.begin(), FDataSources.end(), source) != FDataSources.end())
            source->DataEvent(Event, Info);
}

void TDataSet::DisableControls() {
    if (FDisableCount == 0) {
        FDisableState = FState;
        FEnableEvent = deDataSetChange;
    }
    ++FDisableCount;
}

void TDataSet::EnableControls() {
    if (FDisableCount == 0) return;
    if (--FDisableCount != 0) return;
    if (FDisableState != FState) DataEvent(deUpdateState, 0);
    if (FDisableState != dsInactive && FState != dsInactive) DataEvent(FEnableEvent, 0);
}

void TDataSet::AddDataSource(TDataSource* DataSource) {
    FDataSources.push_back(DataSource);
    DataSource->FDataSet = this;
    UpdateBufferCount();
    DataSource->UpdateState();
}

void TDataSet::RemoveDataSource(TDataSource* DataSource) {
    DataSource->FDataSet = nullptr;
    const auto it = std::find(FDataSources.begin(), FDataSources.end(), DataSource);
    if (it != FDataSources.end()) FDataSources.erase(it);
    DataSource->UpdateState();
    if (!FDestroyed) UpdateBufferCount();
}

// =============================================================================================
// TDataSource

TDataSource::TDataSource(TComponent* AOwner) : TComponent(AOwner) {}

TDataSource::~TDataSource() {
    Destroying();
    while (!FDataLinks.empty())
        FDataLinks.back()->SetDataSource(nullptr);
    SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* Value) {
    if (Value == FDataSet) return;
    if (FDataSet) FDataSet->RemoveDataSource(this);
    if (Value) Value->AddDataSource(this);
}

void TDataSource::SetEnabled(bool Value) {
    FEnabled = Value;
    UpdateState();
}

void TDataSource::UpdateState() {
    DataEvent(deUpdateState, 0);
}

void TDataSource::DataEvent(TDataEvent Event, qint64 Info) {
    if (Event == deUpdateState) {
        const TDataSetState newState = FEnabled && FDataSet ? FDataSet->State() : dsInactive;
        if (newState == FState) return;
        const TDataSetState oldState = FState;
        FState = newState;
        NotifyLinks(deUpdateState, 0);
        if (OnStateChange) OnStateChange(this);
        if (oldState == dsInactive && OnDataChange) OnDataChange(this, nullptr);
        return;
    }
    if (FState == dsInactive) return;
    NotifyLinks(Event, Info);
    switch (Event) {
    case deFieldChange:
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
        if (OnDataChange) OnDataChange(this, nullptr);
        break;
    case deUpdateRecord:
        if (OnUpdateData) OnUpdateData(this);
        break;
    default:
        break;
    }
}

// Links that are no visual controls first, then the views; each pass from the last attached.
void TDataSource::NotifyLinks(TDataEvent Event, qint64 Info) {
    const TSnapshot<TDataLink*> links(FDataLinks);
    for (int pass = 0; pass < 2; ++pass)
        for (auto it = links.rbegin(); it != links.rend(); ++it) {
            TDataLink* link = *it;
            if (link->FVisualControl != (pass == 1)) continue;
            if (std::find(FDataLinks.begin(), FDataLinks.end(), link) == FDataLinks.end()) continue;
            link->DataEvent(Event, Info);
        }
}

void TDataSource::AddDataLink(TDataLink* Link) {
    FDataLinks.push_back(Link);
    Link->FDataSource = this;
    if (FDataSet) FDataSet->UpdateBufferCount();
    Link->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* Link) {
    Link->FDataSource = nullptr;
    const auto it = std::find(FDataLinks.begin(), FDataLinks.end(), Link);
    if (it != FDataLinks.end()) FDataLinks.erase(it);
    Link->UpdateState();
    if (FDataSet) FDataSet->UpdateBufferCount();
}

// =============================================================================================
// TDataLink

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
    FActive = false; // no callbacks into a half-destroyed view
    if (FDataSource) {
        TDataSource* source = FDataSource;
        FDataSource = nullptr;
        const auto it = std::find(source->FDataLinks.begin(), source->FDataLinks.end(), this);
        if (it != source->FDataLinks.end()) source->FDataLinks.erase(it);
        if (source->FDataSet) source->FDataSet->UpdateBufferCount();
    }
}

void TDataLink::SetDataSource(TDataSource* Value) {
    if (Value == FDataSource) return;
    if (FDataSource) FDataSource->RemoveDataLink(this);
    if (Value) Value->AddDataLink(this);
}

void TDataLink::UpdateState() {
    SetActive(FDataSource && FDataSource->State() != dsInactive);
}

void TDataLink::SetActive(bool Value) {
    if (Value == FActive) return;
    FActive = Value;
    if (Value)
        UpdateRange();
    else
        FFirstRecord = 0;
    ActiveChanged();
}

void TDataLink::UpdateRange() {
    TDataSet* ds = DataSet();
    if (!ds) return;
    const qint32 active = ds->FActiveRecord;
    const qint32 filled = ds->FRecordCount;
    const qint32 lowest = std::max(active - FBufferCount + 1, 0);
    const qint32 highest = std::min(std::max(filled - FBufferCount, 0), active);
    if (FFirstRecord < lowest) FFirstRecord = lowest;
    if (FFirstRecord > highest) FFirstRecord = highest;
    if (FFirstRecord != 0 && active - FFirstRecord < FBufferCount - 1) --FFirstRecord;
}

void TDataLink::SetBufferCount(qint32 Value) {
    if (Value == FBufferCount) return;
    FBufferCount = Value;
    if (!FActive) return;
    UpdateRange();
    if (TDataSet* ds = DataSet()) ds->UpdateBufferCount();
    UpdateRange();
}

qint32 TDataLink::RecordCount() const {
    const TDataSet* ds = DataSet();
    if (!FActive || !ds) return 0;
    return std::min(FBufferCount, ds->FRecordCount);
}

qint32 TDataLink::ActiveRecord() const {
    const TDataSet* ds = DataSet();
    if (!FActive || !ds) return 0;
    return ds->FActiveRecord - FFirstRecord;
}

void TDataLink::SetActiveRecord(qint32 Value) {
    TDataSet* ds = DataSet();
    if (!FActive || !ds) return;
    ds->FActiveRecord = Value + FFirstRecord;
}

bool TDataLink::Eof() const {
    const TDataSet* ds = DataSet();
    return FActive && ds && ds->Eof();
}

bool TDataLink::Bof() const {
    const TDataSet* ds = DataSet();
    return FActive && ds && ds->Bof();
}

qint32 TDataLink::MoveBy(qint32 Distance) {
    TDataSet* ds = DataSet();
    return FActive && ds ? ds->MoveBy(Distance) : 0;
}

void TDataLink::DataEvent(TDataEvent Event, qint64 Info) {
    if (Event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!FActive) return;
    TDataSet* ds = DataSet();
    switch (Event) {
    case deFieldChange:
    case deRecordChange:
        if (!FUpdating) RecordChanged(reinterpret_cast<TField*>(Info));
        break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
        FFirstRecord += qint32(Info);
        qint32 distance = 0;
        const qint32 active = ds ? ds->FActiveRecord : 0;
        if (active > FFirstRecord + FBufferCount - 1)
            distance = active - (FFirstRecord + FBufferCount - 1);
        else if (active < FFirstRecord)
            distance = active - FFirstRecord;
        FFirstRecord += distance;
        if (Event == deDataSetChange)
            DataSetChanged();
        else if (Event == deDataSetScroll)
            DataSetScrolled(distance);
        else
            LayoutChanged();
        break;
    }
    case deUpdateRecord:
        UpdateData();
        break;
    case deCheckBrowseMode:
        CheckBrowseMode();
        break;
    case deFocusControl:
        FocusControl(reinterpret_cast<TField*>(Info));
        break;
    default:
        break;
    }
}
