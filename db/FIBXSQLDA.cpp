#include "FIBXSQLDA.h"

#include "FIBDatabase.h"
#include "IB_Intf.h"
#include "fib.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

// ---------------------------------------------------------------------------------------------
// What the values need of their statement

namespace {

TFIBDatabase* OwnerDatabase(const IFIBXSQLDAOwner* o) {
    return o ? o->Database() : nullptr;
}
IIBClientLibrary* OwnerLibrary(const IFIBXSQLDAOwner* o) {
    return o ? o->ClientLibrary() : nullptr;
}
TComponent* OwnerComponent(IFIBXSQLDAOwner* o) {
    return o ? o->StatementComponent() : nullptr;
}

// The owner made of functions that SetQueryHooks installs.
class THooksOwner final : public IFIBXSQLDAOwner {
public:
    THooksOwner(TFIBQueryHooks hooks, IFIBXSQLDAOwner* connection)
        : FHooks(std::move(hooks)), FConnection(connection) {}

    TFIBDatabase* Database() const override { return OwnerDatabase(FConnection); }
    IIBClientLibrary* ClientLibrary() const override { return OwnerLibrary(FConnection); }
    isc_db_handle* DBHandle() override { return FConnection->DBHandle(); }
    isc_tr_handle* TRHandle() override { return FConnection->TRHandle(); }
    TComponent* StatementComponent() override { return OwnerComponent(FConnection); }

    bool Prepared() const override { return !FHooks.Prepared || FHooks.Prepared(); }
    qint32 RecordCount() const override { return FHooks.RecordCount ? FHooks.RecordCount() : 1; }
    bool IsExecProcedure() const override { return Ask(FHooks.IsExecProcedure); }
    bool TrimCharFields() const override { return Ask(FHooks.TrimCharFields); }
    bool NoForceIsNull() const override { return Ask(FHooks.NoForceIsNull); }
    bool MacroChanged() const override { return Ask(FHooks.MacroChanged); }
    void SetMacroChanged(bool value) override {
        if (value && FHooks.SetMacroChanged) FHooks.SetMacroChanged();
    }
    void SetNeedForceIsNull(bool value) override {
        if (value && FHooks.SetNeedForceIsNull) FHooks.SetNeedForceIsNull();
    }
    void SetHaveStreamParams(bool value) override {
        if (value && FHooks.SetHaveStreamParams) FHooks.SetHaveStreamParams();
    }
    void ApplyMacro() override {
        if (FHooks.ApplyMacro) FHooks.ApplyMacro();
    }
    TFIBXSQLDA* SQLParams() const override {
        return FHooks.ServerParams ? FHooks.ServerParams() : nullptr;
    }

private:
    static bool Ask(const std::function<bool()>& f) { return f && f(); }

    TFIBQueryHooks FHooks;
    IFIBXSQLDAOwner* FConnection;
};

// ---------------------------------------------------------------------------------------------
// Type classes

bool IsNumericType(int t) {
    return t == SQL_DOUBLE || t == SQL_FLOAT || t == SQL_LONG || t == SQL_SHORT ||
           t == SQL_D_FLOAT || t == SQL_INT64;
}
bool IsDateType(int t) {
    return t == SQL_TIMESTAMP || t == SQL_TYPE_TIME || t == SQL_TYPE_DATE;
}
bool IsTextType(int t) {
    return t == SQL_TEXT || t == SQL_VARYING;
}
bool IsScaledType(int t) {
    return t == SQL_SHORT || t == SQL_LONG || t == SQL_INT64;
}
bool IsFloatType(int t) {
    return t == SQL_DOUBLE || t == SQL_FLOAT || t == SQL_D_FLOAT;
}

// The character set of a text value: in the subtype for CHAR and VARCHAR, in the scale for a
// text blob; -1 for anything else.
int TextCharSet(int type, int subType, int scale) {
    if (IsTextType(type)) return subType & 0xFF;
    if (type == SQL_BLOB && subType == 1) return scale & 0xFF;
    return -1;
}

[[noreturn]] void ConversionError() {
    RaiseClientError(33);
}

qint64 TruncateDouble(double d) {
    // Beyond the 64-bit range there is no integer to give.
    if (std::isnan(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0)
        ConversionError();
    return qint64(std::trunc(d));
}

const QVariant& NullVariant() {
    static const QVariant v = QVariant::fromValue(nullptr);
    return v;
}

} // namespace

void DropPaddingBeyond(QString& text, qsizetype characters) {
    qsizetype count = text.size();
    for (const QChar c : text)
        if (c.isLowSurrogate()) --count;
    while (count > characters && text.endsWith(QLatin1Char(' '))) {
        text.chop(1);
        --count;
    }
}

// =============================================================================================
// TFIBXSQLVAR

TFIBXSQLVAR::TFIBXSQLVAR(TFIBXSQLDA* Parent) : FParent(Parent) {}

TFIBXSQLVAR::~TFIBXSQLVAR() {
    if (!FXSQLVAR) return;
    std::free(FXSQLVAR->sqldata);
    std::free(FXSQLVAR->sqlind);
}

TFIBDatabase* TFIBXSQLVAR::Database() const {
    return OwnerDatabase(Owner());
}
IFIBXSQLDAOwner* TFIBXSQLVAR::Owner() const {
    return FParent->FOwner;
}

qint32 TFIBXSQLVAR::Dialect() const {
    // Without a connection the program's own dialect applies.
    TFIBDatabase* db = Database();
    return db ? db->SQLDialect() : 3;
}

bool TFIBXSQLVAR::NeedUnicode(int charSet) const {
    TFIBDatabase* db = Database();
    return charSet >= 0 && db && db->NeedUnicodeFieldsTranslation() &&
           db->NeedUnicodeFieldTranslation(quint8(charSet));
}

bool TFIBXSQLVAR::TrimCharFields() const {
    const IFIBXSQLDAOwner* owner = Owner();
    return owner && owner->TrimCharFields();
}

// ---------------------------------------------------------------------------------------------
// Buffers

void TFIBXSQLVAR::ResizeData(qsizetype length) {
    // Never a null data pointer: the client library gets an addressable byte even for length 0.
    const qsizetype size = std::max<qsizetype>(length, 1);
    // Each preparation sizes the buffers again, mostly to the size they have.
    if (size == FDataSize && FXSQLVAR->sqldata) return;
    void* p = std::realloc(FXSQLVAR->sqldata, size_t(size));
    if (!p) throw std::bad_alloc();
    if (size > FDataSize || !FXSQLVAR->sqldata)
        std::memset(static_cast<char*>(p) + std::min(FDataSize, size), 0,
                    size_t(size - std::min(FDataSize, size)));
    FXSQLVAR->sqldata = static_cast<ISC_SCHAR*>(p);
    FDataSize = size;
}

void TFIBXSQLVAR::AllocateIndicator() {
    if (FXSQLVAR->sqlind) return;
    FXSQLVAR->sqlind = static_cast<ISC_SHORT*>(std::calloc(1, sizeof(ISC_SHORT)));
    if (!FXSQLVAR->sqlind) throw std::bad_alloc();
}

void TFIBXSQLVAR::FreeIndicator() {
    std::free(FXSQLVAR->sqlind);
    FXSQLVAR->sqlind = nullptr;
}

bool TFIBXSQLVAR::IndicatorNull() const {
    return (FXSQLVAR->sqltype & 1) && FXSQLVAR->sqlind && *FXSQLVAR->sqlind == -1;
}

template <typename T> T TFIBXSQLVAR::Read() const {
    T v{};
    if (FXSQLVAR->sqldata)
        std::memcpy(&v, FXSQLVAR->sqldata, size_t(std::min<qsizetype>(sizeof(T), FDataSize)));
    return v;
}

qint64 TFIBXSQLVAR::RawInteger() const {
    switch (SQLType()) {
    case SQL_SHORT:
        return Read<qint16>();
    case SQL_LONG:
        return Read<qint32>();
    default:
        return Read<qint64>();
    }
}

QByteArray TFIBXSQLVAR::RawBytes() const {
    if (!FXSQLVAR->sqldata) return QByteArray();
    if (SQLType() == SQL_VARYING) {
        qint16 len = Read<qint16>();
        const qsizetype n = std::clamp<qsizetype>(len, 0, std::max<qsizetype>(FDataSize - 2, 0));
        return QByteArray(FXSQLVAR->sqldata + 2, n);
    }
    const qsizetype n = std::clamp<qsizetype>(FXSQLVAR->sqllen, 0, FDataSize);
    return QByteArray(FXSQLVAR->sqldata, n);
}

// ---------------------------------------------------------------------------------------------
// The store operations

template <typename Op> void TFIBXSQLVAR::ForEachNamesake(const Op& op) {
    if (FParent->FIsParams && !FName.isEmpty()) {
        auto [first, last] = FParent->FEquelNames.equal_range(FName);
        if (first != last) {
            bool self = false;
            for (auto it = first; it != last; ++it) {
                if (it->second < 0 || it->second >= FParent->FSize) continue;
                TFIBXSQLVAR* v = FParent->FXSQLVARs[size_t(it->second)].get();
                self = self || v == this;
                op(*v);
            }
            if (!self) op(*this);
            return;
        }
    }
    op(*this);
}

template <typename Op> void TFIBXSQLVAR::Store(const Op& op, const QString* rememberedText) {
    IFIBXSQLDAOwner* owner = Owner();
    const bool watchNull = FCanForceIsNull && !(owner && owner->NoForceIsNull());
    const bool wasNull = watchNull && IsNull();
    const bool watchMacro = FIsMacro && !(owner && owner->MacroChanged());
    const QString oldMacroText = watchMacro ? AsString() : QString();

    ForEachNamesake([&](TFIBXSQLVAR& v) {
        op(v);
        if (rememberedText)
            v.FWideTempValue = *rememberedText;
        else if (v.FHasWideTempValue)
            v.FWideTempValue.clear();
        v.FHasWideTempValue = rememberedText != nullptr;
        v.FInitialized = true;
    });

    if (!owner) return;
    if (watchNull && IsNull() != wasNull) owner->SetNeedForceIsNull(true);
    if (watchMacro && AsString() != oldMacroText) owner->SetMacroChanged(true);
}

void TFIBXSQLVAR::DoSetNull(bool value) {
    XSQLVAR& x = *FXSQLVAR;
    if (value) {
        if (x.sqltype < 2) {
            x.sqltype = SQL_TEXT;
            x.sqllen = 0;
            ResizeData(0);
        }
        DoSetNullable(true);
        *x.sqlind = -1;
    } else if ((x.sqltype & 1) && x.sqlind) {
        *x.sqlind = 0;
    }
    FModified = true;
}

void TFIBXSQLVAR::DoSetNullable(bool value) {
    if (value) {
        FXSQLVAR->sqltype |= 1;
        AllocateIndicator();
    } else {
        FXSQLVAR->sqltype &= ~1;
        FreeIndicator();
    }
}

void TFIBXSQLVAR::DoSetData(qint16 type, const char* bytes, qsizetype length) {
    DoSetNull(false);
    FStreamValue.reset();
    XSQLVAR& x = *FXSQLVAR;
    x.sqlscale = 0;
    x.sqllen = ISC_SHORT(length);
    // A buffer already big enough is reused: a value set per row costs no allocation.
    if (length > FDataSize || !x.sqldata) ResizeData(length);
    x.sqltype = ISC_SHORT(type | (x.sqltype & 1));
    if (length > 0) std::memcpy(x.sqldata, bytes, size_t(length));
    FModified = true;
}

void TFIBXSQLVAR::DoCopy(const XSQLVAR& source, qsizetype available) {
    XSQLVAR& x = *FXSQLVAR;
    ISC_SCHAR* data = x.sqldata;
    ISC_SHORT* ind = x.sqlind;
    x = source;
    x.sqldata = data;
    x.sqlind = ind;
    if (source.sqlind) {
        AllocateIndicator();
        *x.sqlind = *source.sqlind;
    } else {
        FreeIndicator();
    }
    const qsizetype length = std::max<qsizetype>(
        0, (source.sqltype & ~1) == SQL_VARYING ? source.sqllen + 2 : source.sqllen);
    ResizeData(length);
    std::memset(x.sqldata, 0, size_t(FDataSize));
    const qsizetype copied = available < 0 ? length : std::min(length, available);
    if (source.sqldata && copied > 0) std::memcpy(x.sqldata, source.sqldata, size_t(copied));
    FStreamValue.reset();
    FModified = true;
}

// ---------------------------------------------------------------------------------------------
// NULL

bool TFIBXSQLVAR::IsNull() {
    if (FIsMacro || FStreamValue) return false;
    if (!FParent->FIsParams) {
        const IFIBXSQLDAOwner* owner = Owner();
        if (owner && owner->RecordCount() == 0 && !owner->IsExecProcedure()) return true;
    }
    if (IndicatorNull()) return true;
    return FXSQLVAR->sqltype < 2;
}

void TFIBXSQLVAR::SetIsNull(bool Value) {
    Store(
        [Value](TFIBXSQLVAR& v) {
            v.DoSetNull(Value);
            if (Value) v.FStreamValue.reset();
        },
        nullptr);
}

bool TFIBXSQLVAR::IsNullable() {
    if (FIsMacro) return false;
    if (!(FXSQLVAR->sqltype & 1)) return false;
    AllocateIndicator();
    return true;
}

void TFIBXSQLVAR::SetIsNullable(bool Value) {
    Store([Value](TFIBXSQLVAR& v) { v.DoSetNullable(Value); }, nullptr);
}

void TFIBXSQLVAR::SetScale(qint16 Value) {
    Store([Value](TFIBXSQLVAR& v) { v.FXSQLVAR->sqlscale = Value; }, nullptr);
}

void* TFIBXSQLVAR::AsPointer() {
    return IsNull() ? nullptr : FXSQLVAR->sqldata;
}

void TFIBXSQLVAR::SetAsXSQLVAR(const XSQLVAR* Value) {
    if (!Value || Value == FXSQLVAR) return;
    const XSQLVAR copy = *Value;
    Store([&copy](TFIBXSQLVAR& v) { v.DoCopy(copy, -1); }, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Server description

TFIBXSQLVAR* TFIBXSQLVAR::ServerNamesake() const {
    if (!FParent->IsUserParams() || FName.isEmpty()) return nullptr;
    IFIBXSQLDAOwner* owner = Owner();
    TFIBXSQLDA* server = owner ? owner->SQLParams() : nullptr;
    if (!server || server == FParent) return nullptr;
    return server->FindRegistered(FName);
}

TFIBXSQLVAR::TDescription TFIBXSQLVAR::ServerDescription() {
    const IFIBXSQLDAOwner* owner = Owner();
    if (owner && !owner->Prepared()) return {};
    if (FSrvRemembered) return {FSrvSQLType, FSrvSQLSubType, FSrvSQLLen, FSrvSQLScale};
    if (FParent->IsUserParams()) {
        if (TFIBXSQLVAR* server = ServerNamesake()) {
            const TDescription d = server->ServerDescription();
            FSrvSQLType = d.type;
            FSrvSQLSubType = d.subType;
            FSrvSQLLen = qint16(d.len);
            FSrvSQLScale = qint16(d.scale);
            FSrvRemembered = true;
            return d;
        }
    }
    return {SQLType(), FXSQLVAR->sqlsubtype, FXSQLVAR->sqllen, FXSQLVAR->sqlscale};
}

int TFIBXSQLVAR::ServerSQLType() {
    return ServerDescription().type;
}
int TFIBXSQLVAR::ServerSQLSubType() {
    return ServerDescription().subType;
}
int TFIBXSQLVAR::ServerSize() {
    return ServerDescription().len;
}
int TFIBXSQLVAR::ServerSQLScale() {
    return ServerDescription().scale;
}

// ---------------------------------------------------------------------------------------------
// Setters

void TFIBXSQLVAR::StoreFixed(qint16 type, const void* data, int length, qint16 scale) {
    const char* bytes = static_cast<const char*>(data);
    Store(
        [&](TFIBXSQLVAR& v) {
            v.DoSetData(type, bytes, length);
            v.FXSQLVAR->sqlscale = scale;
        },
        nullptr);
}

void TFIBXSQLVAR::SetAsInteger(qint32 Value) {
    StoreFixed(SQL_LONG, &Value, 4);
}
void TFIBXSQLVAR::SetAsShort(qint16 Value) {
    StoreFixed(SQL_SHORT, &Value, 2);
}
void TFIBXSQLVAR::SetAsDouble(double Value) {
    StoreFixed(SQL_DOUBLE, &Value, 8);
}
void TFIBXSQLVAR::SetAsSingle(float Value) {
    StoreFixed(SQL_FLOAT, &Value, 4);
}

void TFIBXSQLVAR::SetAsInt64(qint64 Value) {
    // Dialect 1 has no 64-bit integers: the low half is all it can take.
    if (Dialect() > 2)
        StoreFixed(SQL_INT64, &Value, 8);
    else
        SetAsInteger(qint32(quint32(quint64(Value))));
}

void TFIBXSQLVAR::SetAsCurrency(double Value) {
    if (Dialect() <= 2) {
        SetAsDouble(Value);
        return;
    }
    const double scaled = std::round(Value * 10000.0);
    // The whole signed 64-bit range of ten-thousandths, and nothing past it.
    if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0)) ConversionError();
    const qint64 c = qint64(scaled);
    StoreFixed(SQL_INT64, &c, 8, -4);
}

void TFIBXSQLVAR::SetAsBoolean(bool Value) {
    SetAsShort(Value ? 1 : 0);
}

void TFIBXSQLVAR::SetAsTimeStamp(const TTimeStamp& Value) {
    ISC_TIMESTAMP ts;
    ts.timestamp_date = Value.Date - ServerDateToDateNumber;
    ts.timestamp_time = ISC_TIME(quint32(Value.Time) * 10u);
    StoreFixed(SQL_TIMESTAMP, &ts, sizeof ts);
}

void TFIBXSQLVAR::SetAsDateTime(const QDateTime& Value) {
    if (!Value.isValid()) return SetIsNull(true);
    SetAsTimeStamp(ToTimeStamp(Value.date(), Value.time()));
}

void TFIBXSQLVAR::SetAsDate(const QDate& Value) {
    if (!Value.isValid()) return SetIsNull(true);
    SetAsTimeStamp(ToTimeStamp(Value, QTime(0, 0)));
}

void TFIBXSQLVAR::SetAsTime(const QTime& Value) {
    if (!Value.isValid()) return SetIsNull(true);
    SetAsTimeStamp(ToTimeStamp(DayZero(), Value));
}

void TFIBXSQLVAR::SetAsQuad(const ISC_QUAD& Value) {
    StoreFixed(SQLType() == SQL_ARRAY ? SQL_ARRAY : SQL_BLOB, &Value, sizeof Value);
}

void TFIBXSQLVAR::MarkDeferred() {
    FIsDefferedSetting = true;
    FParent->SetHasDefferedSettings();
}

void TFIBXSQLVAR::SetAsString(const QString& Value) {
    SetAsWideString(Value);
}

void TFIBXSQLVAR::SetAsWideString(const QString& Value) {
    SetText(&Value, QByteArray());
}

void TFIBXSQLVAR::SetAsAnsiString(const QByteArray& Value) {
    SetText(nullptr, Value);
}

void TFIBXSQLVAR::StoreStream(const QByteArray& bytes, int subType, int scale,
                              const QString* wide) {
    Store(
        [&](TFIBXSQLVAR& v) {
            v.DoSetNull(false);
            XSQLVAR& x = *v.FXSQLVAR;
            v.ResizeData(sizeof(ISC_QUAD));
            std::memset(x.sqldata, 0, sizeof(ISC_QUAD));
            x.sqllen = sizeof(ISC_QUAD);
            x.sqltype = ISC_SHORT(SQL_BLOB | (x.sqltype & 1));
            x.sqlsubtype = ISC_SHORT(subType);
            x.sqlscale = ISC_SHORT(scale);
            v.FStreamValue = bytes;
            v.FModified = true;
        },
        wide);
    if (IFIBXSQLDAOwner* owner = Owner()) owner->SetHaveStreamParams(true);
}

void TFIBXSQLVAR::SetText(const QString* wide, QByteArray bytes) {
    const TDescription srv = ServerDescription();
    int srvType = srv.type;
    bool utf8 = false;
    bool deferred = false;
    TFIBDatabase* db = Database();
    if (wide) {
        if (db && !FIsMacro && db->NeedUnicodeFieldsTranslation()) {
            if (srvType == 0)
                deferred = true;
            else
                utf8 = NeedUnicode(TextCharSet(srvType, srv.subType, srv.scale));
        }
        bytes = utf8 ? wide->toUtf8() : ServerAnsiText(*wide);
    }

    if (bytes.size() > 32767) srvType = SQL_BLOB;
    if (srvType == SQL_BLOB) {
        StoreStream(bytes, srv.subType, srv.scale, wide);
        if (deferred) MarkDeferred();
        return;
    }

    if (bytes.isEmpty() && (IsNumericType(srvType) || IsDateType(srvType))) {
        SetIsNull(true);
        if (deferred) MarkDeferred();
        return;
    }
    if (!bytes.isEmpty() && IsNumericType(srvType) && !FIsMacro) {
        // The server reads numbers with a full stop whatever the user typed.
        bytes.replace(',', '.');
        const QChar sep = FormatSettings().DecimalSeparator;
        if (sep != QLatin1Char(',') && sep != QLatin1Char('.') && sep.unicode() < 256)
            bytes.replace(char(sep.unicode()), '.');
    }

    // UTF8 where the server has it: UNICODE_FSS stops at three bytes a character, and the
    // server would mangle the longer ones.
    const ISC_SHORT utf8Set = utf8 && db->UnicodeCharSets().test(4) ? 4 : 3;
    qint16 type = SQL_TEXT;
    const QByteArrayView sqlName(FXSQLVAR->sqlname,
                                 std::clamp<int>(FXSQLVAR->sqlname_length, 0, 32));
    if (sqlName == "DB_KEY" || sqlName == "RDB$DB_KEY") {
        // A record key keeps its own layout; the text is its raw bytes.
        type = qint16(SQLType());
        bytes = bytes.leftJustified(std::max<int>(FXSQLVAR->sqllen, 0), '\0', true);
    }
    Store(
        [&](TFIBXSQLVAR& v) {
            v.DoSetData(type, bytes.constData(), bytes.size());
            if (utf8) v.FXSQLVAR->sqlsubtype = utf8Set;
            v.FParDataIsPrepared = utf8;
        },
        wide);
    if (deferred) MarkDeferred();
}

void TFIBXSQLVAR::SetAsVariant(const QVariant& Value) {
    if (FIsMacro) {
        SetAsWideString(Value.isNull() ? QString() : Value.toString());
        return;
    }
    const int srvType = ServerSQLType();
    QVariant v = Value;
    const int id = v.typeId();
    const bool isNumber = id == QMetaType::Int || id == QMetaType::UInt ||
                          id == QMetaType::LongLong || id == QMetaType::ULongLong ||
                          id == QMetaType::Double || id == QMetaType::Float ||
                          id == QMetaType::Short || id == QMetaType::UShort ||
                          id == QMetaType::Char || id == QMetaType::SChar || id == QMetaType::UChar;
    if ((srvType == SQL_TIMESTAMP || srvType == SQL_TYPE_DATE) && isNumber)
        v = DayCountToDateTime(v.toDouble());

    if (!v.isValid() || v.isNull()) {
        SetIsNull(true);
    } else {
        switch (v.typeId()) {
        case QMetaType::Bool:
            SetAsInteger(v.toBool() ? 1 : 0);
            break;
        case QMetaType::Int:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            SetAsInteger(v.toInt());
            break;
        // An unsigned 32-bit value does not always fit the signed 32 bits.
        case QMetaType::UInt:
        case QMetaType::LongLong:
            SetAsInt64(v.toLongLong());
            break;
        case QMetaType::ULongLong:
            // Past the signed range it would arrive as a negative number.
            if (v.toULongLong() > quint64(std::numeric_limits<qint64>::max())) ConversionError();
            SetAsInt64(qint64(v.toULongLong()));
            break;
        case QMetaType::Float:
        case QMetaType::Double:
            SetAsDouble(v.toDouble());
            break;
        case QMetaType::QDateTime:
        case QMetaType::QDate:
        case QMetaType::QTime: {
            QDateTime dt;
            if (v.typeId() == QMetaType::QDate)
                dt = QDateTime(v.toDate(), QTime(0, 0), Qt::UTC);
            else if (v.typeId() == QMetaType::QTime)
                dt = QDateTime(DayZero(), v.toTime(), Qt::UTC);
            else
                dt = v.toDateTime();
            if (srvType == SQL_TYPE_TIME)
                SetAsTime(dt.time());
            else if (srvType == SQL_TYPE_DATE)
                SetAsDate(dt.date());
            else
                SetAsDateTime(dt);
            break;
        }
        case QMetaType::QString:
        case QMetaType::QChar:
            SetAsWideString(v.toString());
            break;
        case QMetaType::QByteArray:
            SetAsAnsiString(v.toByteArray());
            break;
        default:
            RaiseClientError(2);
        }
    }
    if (srvType == 0 && FParent->FIsParams) MarkDeferred();
}

// ---------------------------------------------------------------------------------------------
// Getters

QByteArray TFIBXSQLVAR::AsAnsiString() {
    if (IsNull()) return QByteArray();
    const int type = SQLType();
    switch (type) {
    case SQL_TEXT:
    case SQL_VARYING: {
        QByteArray bytes = RawBytes();
        if (NeedUnicode(CharacterSet())) bytes = StringToAnsi(UnicodeText());
        if (TrimCharFields())
            while (bytes.endsWith(' '))
                bytes.chop(1);
        return bytes;
    }
    case SQL_SHORT:
    case SQL_LONG:
        if (Scale() == 0) return QByteArray::number(RawInteger());
        return StringToAnsi(FloatToStrGeneral(AsDouble()));
    case SQL_INT64:
        if (Scale() == 0) return QByteArray::number(RawInteger());
        return StringToAnsi(ScaledToText(RawInteger(), Scale()));
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_D_FLOAT:
        return StringToAnsi(FloatToStrGeneral(AsDouble()));
    case SQL_TIMESTAMP:
        return StringToAnsi(DateTimeText(AsDateTime()));
    case SQL_TYPE_DATE:
        return StringToAnsi(DateText(AsDate()));
    case SQL_TYPE_TIME:
        return StringToAnsi(TimeText(AsTime()));
    case SQL_BLOB:
        if (FStreamValue) return *FStreamValue;
        return ReadBlob();
    case SQL_ARRAY:
        return QByteArrayLiteral("(ARRAY)");
    case SQL_IB_BOOLEAN:
        return Read<qint16>() ? QByteArrayLiteral("True") : QByteArrayLiteral("False");
    case 0: // a macro no value was given for yet
    case SQL_NULL:
        return QByteArray();
    default:
        ConversionError();
    }
}

QString TFIBXSQLVAR::AsString() {
    if (FHasWideTempValue) return FWideTempValue;
    if (IsNull()) return QString();
    const int type = SQLType();
    if (IsTextType(type) && NeedUnicode(CharacterSet())) {
        QString s = UnicodeText();
        if (TrimCharFields())
            while (s.endsWith(QLatin1Char(' ')))
                s.chop(1);
        return s;
    }
    if (type == SQL_BLOB && NeedUnicode(CharacterSet()) && !FStreamValue)
        return QString::fromUtf8(ReadBlob());
    return AnsiToString(AsAnsiString());
}

QString TFIBXSQLVAR::UnicodeText() const {
    QString s = QString::fromUtf8(RawBytes());
    if (SQLType() == SQL_TEXT)
        DropPaddingBeyond(s, FXSQLVAR->sqllen /
                                 std::max(1, Database()->BytesInUnicodeChar(CharacterSet())));
    return s;
}

qint32 TFIBXSQLVAR::AsInteger() {
    if (IsNull()) return 0;
    const int type = SQLType();
    if (IsScaledType(type)) return qint32(quint32(quint64(ScaledTruncate(RawInteger(), Scale()))));
    if (IsFloatType(type)) return qint32(quint32(quint64(TruncateDouble(AsDouble()))));
    if (IsTextType(type)) {
        qint32 v = 0;
        if (!TryStrToInt(Trim(AsString()), v)) ConversionError();
        return v;
    }
    if (type == SQL_IB_BOOLEAN) return Read<qint16>();
    if (type == SQL_NULL) return 0;
    ConversionError();
}

qint16 TFIBXSQLVAR::AsShort() {
    return qint16(quint16(quint32(AsInteger())));
}

qint64 TFIBXSQLVAR::AsInt64() {
    if (IsNull()) return 0;
    const int type = SQLType();
    if (IsScaledType(type)) return ScaledTruncate(RawInteger(), Scale());
    if (IsFloatType(type)) return TruncateDouble(AsDouble());
    if (IsTextType(type)) {
        qint64 v = 0;
        if (!TryStrToInt64(Trim(AsString()), v)) ConversionError();
        return v;
    }
    if (type == SQL_NULL) return 0;
    ConversionError();
}

double TFIBXSQLVAR::AsDouble() {
    if (IsNull()) return 0;
    switch (SQLType()) {
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return Read<double>();
    case SQL_FLOAT:
        return double(Read<float>());
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        return ScaledToDouble(RawInteger(), Scale());
    case SQL_TEXT:
    case SQL_VARYING: {
        double v = 0;
        if (!TryTextToDouble(AsString(), v)) ConversionError();
        return v;
    }
    case SQL_IB_BOOLEAN:
        return Read<qint16>() ? 1.0 : 0.0;
    case SQL_NULL:
        return 0;
    default:
        ConversionError();
    }
}

float TFIBXSQLVAR::AsSingle() {
    return float(AsDouble());
}
double TFIBXSQLVAR::AsCurrency() {
    return AsDouble();
}
bool TFIBXSQLVAR::AsBoolean() {
    return AsInteger() != 0;
}

QDateTime TFIBXSQLVAR::AsDateTime() {
    if (IsNull()) return ZeroDateTime();
    switch (SQLType()) {
    case SQL_TIMESTAMP: {
        const ISC_TIMESTAMP ts = Read<ISC_TIMESTAMP>();
        return QDateTime(
            DayZero().addDays(ts.timestamp_date - ServerDateToDayCount),
            QTime::fromMSecsSinceStartOfDay(int((ts.timestamp_time / 10u) % MSecsPerDay)), Qt::UTC);
    }
    case SQL_TYPE_DATE:
        return QDateTime(DayZero().addDays(Read<ISC_DATE>() - ServerDateToDayCount), QTime(0, 0),
                         Qt::UTC);
    case SQL_TYPE_TIME:
        return QDateTime(
            DayZero(), QTime::fromMSecsSinceStartOfDay(int((Read<ISC_TIME>() / 10u) % MSecsPerDay)),
            Qt::UTC);
    case SQL_TEXT:
    case SQL_VARYING: {
        QDateTime dt;
        if (!TryParseDateTime(AsString(), dt)) ConversionError();
        return dt;
    }
    default:
        ConversionError();
    }
}

QDate TFIBXSQLVAR::AsDate() {
    return AsDateTime().date();
}
QTime TFIBXSQLVAR::AsTime() {
    return AsDateTime().time();
}

TTimeStamp TFIBXSQLVAR::AsTimeStamp() {
    if (IsNull()) return ToTimeStamp(DayZero(), QTime(0, 0));
    switch (SQLType()) {
    case SQL_TIMESTAMP: {
        const ISC_TIMESTAMP ts = Read<ISC_TIMESTAMP>();
        return {qint32(ts.timestamp_time / 10u), ts.timestamp_date + ServerDateToDateNumber};
    }
    case SQL_TYPE_DATE:
        return {0, Read<ISC_DATE>() + ServerDateToDateNumber};
    case SQL_TYPE_TIME:
        return {qint32(Read<ISC_TIME>() / 10u), DayCountToDateNumber};
    case SQL_TEXT:
    case SQL_VARYING: {
        QDateTime dt;
        if (!TryParseDateTime(AsString(), dt)) ConversionError();
        return ToTimeStamp(dt.date(), dt.time());
    }
    default:
        ConversionError();
    }
}

ISC_QUAD TFIBXSQLVAR::AsQuad() {
    if (IsNull()) return ISC_QUAD{0, 0};
    const int type = SQLType();
    if (type != SQL_BLOB && type != SQL_ARRAY && type != SQL_QUAD) ConversionError();
    return Read<ISC_QUAD>();
}

QVariant TFIBXSQLVAR::AsVariant() {
    if (FIsMacro) return AsString();
    if (IsNull()) return NullVariant();
    switch (SQLType()) {
    case SQL_BLOB:
    case SQL_TEXT:
    case SQL_VARYING:
        return AsString();
    case SQL_SHORT:
    case SQL_LONG:
        if (Scale() == 0) return QVariant(qint32(RawInteger()));
        return AsDouble();
    case SQL_INT64:
        if (Scale() == 0) return QVariant(qlonglong(RawInteger()));
        return AsDouble();
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_D_FLOAT:
        return AsDouble();
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
        return AsDateTime();
    case SQL_ARRAY:
        return QStringLiteral("(Array)");
    case SQL_IB_BOOLEAN:
        return Read<qint16>() != 0;
    case SQL_NULL:
        return NullVariant();
    default:
        ConversionError();
    }
}

// ---------------------------------------------------------------------------------------------
// Whole entries

bool TFIBXSQLVAR::IsBlob() const {
    return SQLType() == SQL_BLOB || SQLType() == SQL_ARRAY;
}
bool TFIBXSQLVAR::IsParam() const {
    return FParent->FIsParams;
}

namespace {
QString NameText(const char* name, short length, TFIBDatabase* db) {
    const QByteArray bytes(name, std::clamp<int>(length, 0, 32));
    return db && db->IsUnicodeConnect() ? QString::fromUtf8(bytes) : AnsiToString(bytes);
}
} // namespace

QString TFIBXSQLVAR::SqlName() const {
    return NameText(FXSQLVAR->sqlname, FXSQLVAR->sqlname_length, Database());
}
QString TFIBXSQLVAR::AliasName() const {
    return NameText(FXSQLVAR->aliasname, FXSQLVAR->aliasname_length, Database());
}
QString TFIBXSQLVAR::RelationName() const {
    return NameText(FXSQLVAR->relname, FXSQLVAR->relname_length, Database());
}

int TFIBXSQLVAR::CharacterSet() const {
    return std::max(0, TextCharSet(SQLType(), FXSQLVAR->sqlsubtype, FXSQLVAR->sqlscale));
}

void TFIBXSQLVAR::Assign(TFIBXSQLVAR* Source) {
    if (!Source || Source == this) return;
    if (FIsMacro) {
        SetAsWideString(Source->AsString());
        return;
    }
    if (Source->IsNull()) {
        SetIsNull(true);
        return;
    }
    const bool sourceBlob = Source->IsBlob();
    const bool targetBlob = IsBlob();
    if (!sourceBlob && !targetBlob) {
        const XSQLVAR copy = *Source->FXSQLVAR;
        const qsizetype available = Source->FDataSize;
        Store([&](TFIBXSQLVAR& v) { v.DoCopy(copy, available); }, nullptr);
        return;
    }
    // Blob contents travel as bytes: a waiting stream is taken over as it is, a written blob by
    // its identifier, and text crosses to or from a blob as its bytes.
    if (sourceBlob && targetBlob) {
        if (Source->FStreamValue)
            StoreStream(*Source->FStreamValue, Source->SQLSubtype(), Source->Scale(), nullptr);
        else
            SetAsQuad(Source->AsQuad());
        return;
    }
    if (sourceBlob) {
        SetAsAnsiString(Source->AsAnsiString());
        return;
    }
    StoreStream(Source->AsAnsiString(), SQLSubtype(), Scale(), nullptr);
}

void TFIBXSQLVAR::TakeServerDescription(const TFIBXSQLVAR& Server) {
    XSQLVAR& x = *FXSQLVAR;
    const XSQLVAR& s = *Server.FXSQLVAR;
    const int type = s.sqltype & ~1;
    x.sqltype = ISC_SHORT(type | 1);
    x.sqlscale = s.sqlscale;
    x.sqllen = s.sqllen;
    x.sqlsubtype = s.sqlsubtype;
    const qsizetype length = type == SQL_VARYING ? s.sqllen + 2 : s.sqllen;
    ResizeData(std::max<qsizetype>(length, 0));
    std::memset(x.sqldata, 0, size_t(FDataSize));
    AllocateIndicator();
    *x.sqlind = -1;
    FStreamValue.reset();
    FHasWideTempValue = false;
    FWideTempValue.clear();
}

void TFIBXSQLVAR::ConvertToBlobParam(const TFIBXSQLVAR& Server) {
    const QByteArray bytes = AsAnsiString();
    XSQLVAR& x = *FXSQLVAR;
    const XSQLVAR& s = *Server.FXSQLVAR;
    if (x.sqlind) *x.sqlind = 0;
    x.sqltype = ISC_SHORT((s.sqltype & ~1) | (x.sqltype & 1));
    x.sqllen = s.sqllen;
    x.sqlsubtype = s.sqlsubtype;
    x.sqlscale = s.sqlscale;
    ResizeData(std::max<qsizetype>(s.sqllen, ISC_SHORT(sizeof(ISC_QUAD))));
    std::memset(x.sqldata, 0, size_t(FDataSize));
    FStreamValue = bytes;
    FInitialized = true;
    if (IFIBXSQLDAOwner* owner = Owner()) owner->SetHaveStreamParams(true);
}

void TFIBXSQLVAR::CopyValueFrom(const TFIBXSQLVAR& Source) {
    if (&Source == this) return;
    XSQLVAR& x = *FXSQLVAR;
    const XSQLVAR& s = *Source.FXSQLVAR;
    x.sqltype = s.sqltype;
    x.sqlscale = s.sqlscale;
    x.sqlsubtype = s.sqlsubtype;
    x.sqllen = s.sqllen;
    ResizeData(Source.FDataSize);
    if (s.sqldata) std::memcpy(x.sqldata, s.sqldata, size_t(Source.FDataSize));
    if (s.sqlind) {
        AllocateIndicator();
        *x.sqlind = *s.sqlind;
    } else {
        FreeIndicator();
    }
    FWideTempValue = Source.FWideTempValue;
    FHasWideTempValue = Source.FHasWideTempValue;
    FStreamValue = Source.FStreamValue;
    FIsDefferedSetting = Source.FIsDefferedSetting;
    if (FIsDefferedSetting) FParent->SetHasDefferedSettings();
    FInitialized = Source.FInitialized;
    FModified = Source.FModified;
    FParDataIsPrepared = Source.FParDataIsPrepared;
    FOldValue = Source.FOldValue;
}

// ---------------------------------------------------------------------------------------------
// Blobs

bool ReadBlobContents(IIBClientLibrary& lib, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD id,
                      QByteArray& contents) {
    ISC_STATUS* status = StatusVector();
    isc_blob_handle handle = 0;
    if (lib.isc_open_blob2(status, db, tr, &handle, &id, 0, nullptr)) return false;
    contents.clear();
    QByteArray segment(32767, '\0');
    for (;;) {
        unsigned short actual = 0;
        const ISC_STATUS r = lib.isc_get_segment(status, &handle, &actual, 32767, segment.data());
        if (r != 0 && status[1] != isc_segment) break;
        contents.append(segment.constData(), actual);
    }
    // The read's outcome stays in the status vector; closing the blob must not overwrite it.
    const bool complete = status[1] == isc_segstr_eof;
    ISC_STATUS local[StatusVectorLength] = {};
    lib.isc_close_blob(local, &handle);
    return complete;
}

QByteArray TFIBXSQLVAR::ReadBlob() {
    static const QByteArray unreadable = QByteArrayLiteral("(BLOB)");
    IFIBXSQLDAOwner* owner = Owner();
    IIBClientLibrary* lib = OwnerLibrary(owner);
    if (!lib) return unreadable;
    QByteArray result;
    if (!ReadBlobContents(*lib, owner->DBHandle(), owner->TRHandle(), Read<ISC_QUAD>(), result))
        return unreadable;
    return result;
}

void TFIBXSQLVAR::WriteStreamValue() {
    IFIBXSQLDAOwner* owner = Owner();
    if (!FStreamValue || !owner) return;
    IIBClientLibrary* lib = OwnerLibrary(owner);
    TComponent* statement = OwnerComponent(owner);
    if (!lib) RaiseClientError(21, ComponentPath(statement));
    ISC_STATUS* status = StatusVector();
    isc_blob_handle handle = 0;
    ISC_QUAD id{0, 0};
    if (lib->isc_create_blob2(status, owner->DBHandle(), owner->TRHandle(), &handle, &id, 0,
                              nullptr))
        RaiseInterBaseError(lib, statement);
    const QByteArray& bytes = *FStreamValue;
    for (qsizetype offset = 0; offset < bytes.size(); offset += 32767) {
        const auto length =
            static_cast<unsigned short>(std::min<qsizetype>(32767, bytes.size() - offset));
        if (lib->isc_put_segment(status, &handle, length, bytes.constData() + offset)) {
            // The failure is reported from the status vector, so the cleanup gets its own.
            ISC_STATUS local[StatusVectorLength] = {};
            lib->isc_cancel_blob(local, &handle);
            RaiseInterBaseError(lib, statement);
        }
    }
    if (lib->isc_close_blob(status, &handle)) RaiseInterBaseError(lib, statement);

    FStreamValue.reset();
    XSQLVAR& x = *FXSQLVAR;
    ResizeData(sizeof id);
    std::memcpy(x.sqldata, &id, sizeof id);
    x.sqllen = sizeof id;
    if ((x.sqltype & 1) && x.sqlind) *x.sqlind = 0;
}

// =============================================================================================
// TFIBXSQLDA

TFIBXSQLDA::TFIBXSQLDA(IFIBXSQLDAOwner* Owner, bool aIsParams, bool aIsUserParams)
    : FOwner(Owner), FCreator(Owner), FIsUserParams(aIsUserParams), FIsParams(aIsParams) {}

void TFIBXSQLDA::SetQueryHooks(TFIBQueryHooks Hooks) {
    FIsUserParams = bool(Hooks.ServerParams);
    FHooksOwner = std::make_unique<THooksOwner>(std::move(Hooks), FCreator);
    FOwner = FHooksOwner.get();
}

TFIBXSQLDA::~TFIBXSQLDA() {
    // The entries free their buffers through pointers that live inside the area.
    FXSQLVARs.clear();
    std::free(FXSQLDA);
}

namespace {
size_t AreaLength(qint32 n) {
    return sizeof(XSQLDA) + size_t(n - 1) * sizeof(XSQLVAR);
}
XSQLVAR* Entry(XSQLDA* area, qint32 i) {
    return reinterpret_cast<XSQLVAR*>(reinterpret_cast<char*>(area) + offsetof(XSQLDA, sqlvar)) + i;
}
} // namespace

void TFIBXSQLDA::SetCount(qint32 Value) {
    FNames.clear();
    FEquelNames.clear();
    FCachedNames.clear();
    const qint32 n = std::max(Value, 0);
    FCount = n;
    if (n > FSize) {
        const size_t oldLength = FSize > 0 ? AreaLength(FSize) : 0;
        const size_t newLength = AreaLength(n);
        void* p = std::realloc(FXSQLDA, newLength);
        if (!p) throw std::bad_alloc();
        std::memset(static_cast<char*>(p) + oldLength, 0, newLength - oldLength);
        FXSQLDA = static_cast<XSQLDA*>(p);
        FXSQLDA->version = SQLDA_VERSION1;
        FXSQLVARs.reserve(size_t(n));
        for (qint32 i = FSize; i < n; ++i) {
            FXSQLVARs.push_back(std::make_unique<TFIBXSQLVAR>(this));
            FXSQLVARs.back()->FIndex = i;
        }
        // The area may have moved: every entry object follows it.
        for (qint32 i = 0; i < n; ++i)
            FXSQLVARs[size_t(i)]->FXSQLVAR = Entry(FXSQLDA, i);
        FSize = n;
    }
    if (FSize > 0) {
        FXSQLDA->sqln = ISC_SHORT(n);
        FXSQLDA->sqld = ISC_SHORT(n);
    }
}

TFIBXSQLVAR* TFIBXSQLDA::GetXSQLVAR(int Idx) const {
    if (Idx < 0 || Idx >= FCount) RaiseClientError(23);
    return FXSQLVARs[size_t(Idx)].get();
}

void TFIBXSQLDA::RegisterName(const QString& Name, int Index, bool Quoted) {
    if (Index < 0 || Index >= FSize) RaiseClientError(23);
    const QString key = Quoted ? Name : AsciiUpperCase(Name);
    if (FIsParams) {
        if (FEquelNames.count(key)) {
            FEquelNames.emplace(key, Index);
        } else if (auto it = FNames.find(key); it != FNames.end()) {
            FEquelNames.emplace(key, it->second);
            FEquelNames.emplace(key, Index);
        }
    }
    FNames.emplace(key, Index);
    TFIBXSQLVAR* v = FXSQLVARs[size_t(Index)].get();
    v->FName = key;
    v->FIndex = Index;
    v->FQuoted = Quoted;
}

TFIBXSQLVAR* TFIBXSQLDA::FindRegistered(const QString& Name) const {
    auto find = [this](const QString& key) -> TFIBXSQLVAR* {
        auto it = FNames.find(key);
        if (it == FNames.end() || it->second < 0 || it->second >= FCount) return nullptr;
        return FXSQLVARs[size_t(it->second)].get();
    };
    if (Name.startsWith(QLatin1Char('"'))) return find(Name.mid(1, Name.size() - 2));
    if (TFIBXSQLVAR* v = find(Name)) return v;
    return find(AsciiUpperCase(Name));
}

TFIBXSQLVAR* TFIBXSQLDA::GetXSQLVARByName(const QString& Name) {
    if (auto it = FCachedNames.find(Name); it != FCachedNames.end()) return it->second;
    TFIBXSQLVAR* found = FindRegistered(Name);
    if (!found && IsUserParams()) {
        if (FOwner && FOwner->MacroChanged()) FOwner->ApplyMacro();
        // The server list is rebuilt at each new preparation, so its entries are not cached here.
        TFIBXSQLDA* server = FOwner ? FOwner->SQLParams() : nullptr;
        return server && server != this ? server->GetXSQLVARByName(Name) : nullptr;
    }
    if (found) FCachedNames[Name] = found;
    return found;
}

TFIBXSQLVAR* TFIBXSQLDA::ParamByName(const QString& Name) {
    TFIBXSQLVAR* v = GetXSQLVARByName(Name);
    if (!v)
        throw Exception(Format(QStringLiteral("Parameter \"%s\" does not exist in %s"), Name,
                               ComponentPath(OwnerComponent(FOwner))));
    return v;
}

void TFIBXSQLDA::InitializeDescribed() {
    const bool naming = FNames.empty();
    TFIBDatabase* db = OwnerDatabase(FOwner);
    const bool utf8Names = db && db->IsUnicodeConnect();
    int unnamed = 0;
    for (qint32 i = 0; i < FCount; ++i) {
        TFIBXSQLVAR* v = FXSQLVARs[size_t(i)].get();
        XSQLVAR& x = *v->FXSQLVAR;
        const int type = x.sqltype & ~1;
        v->FSrvSQLType = type;
        v->FSrvSQLLen = x.sqllen;
        v->FSrvSQLScale = x.sqlscale;
        v->FSrvSQLSubType = x.sqlsubtype;
        v->FSrvRemembered = true;
        v->FInitialized = true;

        if (naming) {
            const QByteArray alias(x.aliasname, std::clamp<int>(x.aliasname_length, 0, 32));
            QString name = utf8Names ? QString::fromUtf8(alias) : AnsiToString(alias);
            bool changed = false;
            if (name.isEmpty()) {
                name = QStringLiteral("F_") + QString::number(++unnamed);
                changed = true;
            }
            if (FindRegistered(name)) {
                for (int k = 1;; ++k) {
                    const QString suffix = QString::number(k);
                    QString candidate = name + suffix;
                    if (candidate.size() >= 31) candidate = name.left(32 - suffix.size()) + suffix;
                    if (!FindRegistered(candidate)) {
                        name = candidate;
                        break;
                    }
                }
                changed = true;
            }
            if (changed) {
                // Written as the alias is read back: UTF-8 on a Unicode connection, never cut
                // inside a character.
                QByteArray bytes = utf8Names ? name.toUtf8() : StringToAnsi(name);
                if (bytes.size() > 32) {
                    qsizetype cut = 32;
                    while (utf8Names && cut > 0 && (quint8(bytes.at(cut)) & 0xC0) == 0x80)
                        --cut;
                    bytes.truncate(cut);
                }
                std::memset(x.aliasname, 0, sizeof x.aliasname);
                std::memcpy(x.aliasname, bytes.constData(), size_t(bytes.size()));
                x.aliasname_length = ISC_SHORT(bytes.size());
            }
            RegisterName(name, i, true);
        }

        switch (type) {
        case SQL_VARYING:
            v->ResizeData(x.sqllen + 2);
            break;
        case SQL_TEXT:
        case SQL_DOUBLE:
        case SQL_FLOAT:
        case SQL_LONG:
        case SQL_SHORT:
        case SQL_TIMESTAMP:
        case SQL_BLOB:
        case SQL_D_FLOAT:
        case SQL_ARRAY:
        case SQL_QUAD:
        case SQL_TYPE_TIME:
        case SQL_TYPE_DATE:
        case SQL_INT64:
        case SQL_IB_BOOLEAN:
            v->ResizeData(std::max<qsizetype>(x.sqllen, 0));
            break;
        case 0:
            if (!IsUserParams()) RaiseClientError(30, type);
            [[fallthrough]];
        case SQL_NULL:
            std::free(x.sqldata);
            x.sqldata = nullptr;
            v->FDataSize = 0;
            break;
        default:
            RaiseClientError(30, type);
        }
        if (x.sqldata) std::memset(x.sqldata, 0, size_t(v->FDataSize));

        if (x.sqltype & 1) {
            v->AllocateIndicator();
            *x.sqlind = 0;
        } else {
            v->FreeIndicator();
        }
    }
}

void TFIBXSQLDA::ClearValues() {
    for (qint32 i = 0; i < FCount; ++i) {
        TFIBXSQLVAR* v = FXSQLVARs[size_t(i)].get();
        if (v->FIsMacro)
            v->SetAsWideString(v->FDefMacroValue);
        else
            v->SetIsNull(true);
    }
}

void TFIBXSQLDA::AssignValues(TFIBXSQLDA* SourceSQLDA) {
    if (!SourceSQLDA || SourceSQLDA == this) return;
    for (qint32 i = 0; i < SourceSQLDA->FCount; ++i) {
        TFIBXSQLVAR* source = SourceSQLDA->FXSQLVARs[size_t(i)].get();
        if (source->FName.isEmpty()) continue;
        TFIBXSQLVAR* target = FindRegistered(source->FName);
        if (!target) continue;
        if (!source->FIsMacro && source->IsNull()) {
            target->SetIsNull(true);
        } else if (source->IsBlob() && target->IsBlob()) {
            if (source->FStreamValue)
                target->StoreStream(*source->FStreamValue, target->SQLSubtype(), target->Scale(),
                                    nullptr);
            else
                target->SetAsQuad(source->AsQuad());
        } else if (source->SQLType() == SQL_INT64) {
            if (target->IsBlob()) target->SetAsInteger(0);
            const XSQLVAR copy = *source->FXSQLVAR;
            const qsizetype available = source->FDataSize;
            target->Store([&](TFIBXSQLVAR& v) { v.DoCopy(copy, available); }, nullptr);
        } else if (source->FIsDefferedSetting && source->FHasWideTempValue) {
            target->SetAsWideString(source->FWideTempValue);
            source->FXSQLVAR->sqltype =
                ISC_SHORT(target->SQLType() | (source->FXSQLVAR->sqltype & 1));
            source->FXSQLVAR->sqlsubtype = ISC_SHORT(target->SQLSubtype());
            source->FXSQLVAR->sqlscale = ISC_SHORT(target->Scale());
            if (source->FXSQLVAR->sqlind) *source->FXSQLVAR->sqlind = 0;
        } else {
            target->SetAsVariant(source->AsVariant());
        }
    }
    WriteStreamValues();
}

void TFIBXSQLDA::ApplyDeferredSettings() {
    TFIBDatabase* db = OwnerDatabase(FOwner);
    for (qint32 i = 0; i < FCount; ++i) {
        TFIBXSQLVAR* v = FXSQLVARs[size_t(i)].get();
        if (!v->FIsDefferedSetting) continue;
        v->FIsDefferedSetting = false;
        const int type = v->SQLType();
        const int server = v->ServerSQLType();
        if (IsTextType(type) && !v->IsNull()) {
            v->SetAsWideString(v->AsString());
        } else if (IsNumericType(type) && IsDateType(server) && !v->IsNull()) {
            const QDateTime dt = DayCountToDateTime(v->AsDouble());
            if (server == SQL_TYPE_TIME)
                v->SetAsTime(dt.time());
            else if (server == SQL_TYPE_DATE)
                v->SetAsDate(dt.date());
            else
                v->SetAsDateTime(dt);
        } else if (type == SQL_BLOB && v->FStreamValue && v->FHasWideTempValue && db &&
                   db->NeedUTFEncodeDDL() && v->NeedUnicode(v->CharacterSet())) {
            v->FStreamValue = v->FWideTempValue.toUtf8();
        }
    }
    FHasDefferedSettings = false;
}

void TFIBXSQLDA::WriteStreamValues() {
    for (qint32 i = 0; i < FCount; ++i)
        FXSQLVARs[size_t(i)]->WriteStreamValue();
}

void TFIBXSQLDA::ReleaseStreamValues() {
    for (qint32 i = 0; i < FSize; ++i)
        FXSQLVARs[size_t(i)]->ReleaseStreamValue();
}

bool TFIBXSQLDA::Modified() const {
    for (qint32 i = 0; i < FCount; ++i)
        if (FXSQLVARs[size_t(i)]->FModified) return true;
    return false;
}

void TFIBXSQLDA::SetModified(bool Value) {
    for (qint32 i = 0; i < FCount; ++i)
        FXSQLVARs[size_t(i)]->FModified = Value;
}

QStringList TFIBXSQLDA::Names() const {
    QStringList names;
    for (const auto& [name, index] : FNames)
        names.append(name);
    return names;
}

qint32 TFIBXSQLDA::RecordSize() const {
    return qint32(AreaLength(FSize)) + 4;
}

void TFIBXSQLDA::KeepEntriesForNewText() {
    FHasDefferedSettings = false;
    for (qint32 i = 0; i < FCount; ++i) {
        TFIBXSQLVAR* v = FXSQLVARs[size_t(i)].get();
        v->FSrvRemembered = false;
        v->FSrvSQLType = v->FSrvSQLSubType = 0;
        v->FSrvSQLLen = v->FSrvSQLScale = 0;
        if (v->FIsDefferedSetting) FHasDefferedSettings = true;
    }
    if (FSize > 0) {
        FXSQLDA->sqln = ISC_SHORT(FCount);
        FXSQLDA->sqld = ISC_SHORT(FCount);
    }
}

void TFIBXSQLDA::RenewEntries() {
    SetCount(FSize);
    FHasDefferedSettings = false;
    for (qint32 i = 0; i < FSize; ++i) {
        TFIBXSQLVAR* v = FXSQLVARs[size_t(i)].get();
        // The destructor frees the buffers; the object is then built again where it stands.
        v->~TFIBXSQLVAR();
        new (v) TFIBXSQLVAR(this);
        v->FIndex = i;
        v->FXSQLVAR = Entry(FXSQLDA, i);
        std::memset(v->FXSQLVAR, 0, sizeof(XSQLVAR));
    }
}

void TFIBXSQLDA::TakeEntry(TFIBXSQLDA& Source, qint32 OldIndex, qint32 Index) {
    if (OldIndex < 0 || OldIndex >= Source.FSize || Index < 0 || Index >= FSize)
        RaiseClientError(23);
    std::unique_ptr<TFIBXSQLVAR>& mine = FXSQLVARs[size_t(Index)];
    std::unique_ptr<TFIBXSQLVAR>& theirs = Source.FXSQLVARs[size_t(OldIndex)];
    // The entries' contents (with the buffer pointers each object owns) change places with the
    // objects, so that every object keeps its own buffers.
    std::swap(*mine->FXSQLVAR, *theirs->FXSQLVAR);
    std::swap(mine, theirs);
    mine->FXSQLVAR = Entry(FXSQLDA, Index);
    mine->FParent = this;
    mine->FIndex = Index;
    theirs->FXSQLVAR = Entry(Source.FXSQLDA, OldIndex);
    theirs->FParent = &Source;
    theirs->FIndex = OldIndex;
    Source.FCachedNames.clear();
    // The new text gets its own server description.
    mine->FSrvRemembered = false;
    mine->FSrvSQLType = mine->FSrvSQLSubType = 0;
    mine->FSrvSQLLen = mine->FSrvSQLScale = 0;
    if (mine->FIsDefferedSetting) FHasDefferedSettings = true;
}
