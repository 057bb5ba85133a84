// Parameter and column values of a statement: one descriptor area in the client library's XSQLDA
// form per list (application parameters, server parameters, result columns) and one object per
// entry that converts values between the program's types and the server's layouts.
//
// Qt types carry the values the program sees: texts are QString (8-bit texts QByteArray),
// date-times QDateTime in Qt::UTC (a plain calendar value: no time zone or daylight saving ever
// shifts a stored timestamp), dates QDate, times QTime; variants are QVariant, where NULL is a
// variant holding nullptr (isNull() true, isValid() true) and "unassigned" is the invalid
// QVariant(), so that saved old values can tell the two apart.
#pragma once

#include "Conversions.h"
#include "SysUtils.h"

#include <ibase.h>

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVariant>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class TComponent;
class TFIBDatabase;
class TFIBXSQLDA;
class IIBClientLibrary;

// The type code InterBase servers use for booleans (16-bit, 1 meaning true).
constexpr int SQL_IB_BOOLEAN = 590;

// What a list asks of, or tells, the statement that owns it. The statement implements it, so
// that the values never need the statement's own unit. A list without an owner behaves as if no
// statement were there: no connection, rows counted as present, options off, notices dropped.
class IFIBXSQLDAOwner {
public:
    virtual ~IFIBXSQLDAOwner() = default;

    // The connection side; nullptr when there is none.
    virtual TFIBDatabase* Database() const = 0;
    virtual IIBClientLibrary* ClientLibrary() const = 0;
    // After the statement's checks (no connection, no transaction, inactive transaction raise).
    virtual isc_db_handle* DBHandle() = 0;
    virtual isc_tr_handle* TRHandle() = 0;
    // The statement as messages name it and as server errors report it.
    virtual TComponent* StatementComponent() = 0;

    // The statement's state.
    virtual bool Prepared() const = 0;
    virtual qint32 RecordCount() const = 0;
    virtual bool IsExecProcedure() const = 0;
    virtual bool TrimCharFields() const = 0;
    virtual bool NoForceIsNull() const = 0;
    virtual bool MacroChanged() const = 0;
    virtual void SetMacroChanged(bool value) = 0;
    virtual void SetNeedForceIsNull(bool value) = 0;
    virtual void SetHaveStreamParams(bool value) = 0;
    // Rebuilds the server text now (a macro value changed).
    virtual void ApplyMacro() = 0;
    // The server's parameter list, which each new preparation may replace.
    virtual TFIBXSQLDA* SQLParams() const = 0;
};

// A stand-in owner made of functions, for lists used without a statement (tools, tests). An
// empty member answers as a list without owner would.
struct TFIBQueryHooks {
    std::function<bool()> Prepared;
    std::function<qint32()> RecordCount;
    std::function<bool()> IsExecProcedure;
    std::function<bool()> TrimCharFields;
    std::function<bool()> NoForceIsNull;
    std::function<void()> SetNeedForceIsNull;
    std::function<bool()> MacroChanged;
    std::function<void()> SetMacroChanged;
    std::function<void()> SetHaveStreamParams;
    std::function<void()> ApplyMacro;
    // Set only for an application parameter list: the server list it falls back on.
    std::function<TFIBXSQLDA*()> ServerParams;
};

// A CHAR in a multi-byte character set arrives padded with blanks to its length in bytes: the
// blanks past its declared number of characters are dropped from the decoded text.
void DropPaddingBeyond(QString& text, qsizetype characters);

// The contents of blob `id`, read segment by segment in the transaction `tr`; false when the
// server refused, its error then in the calling thread's status vector.
bool ReadBlobContents(IIBClientLibrary& lib, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD id,
                      QByteArray& contents);

// ---------------------------------------------------------------------------------------------
// One entry: a parameter occurrence or a column

class TFIBXSQLVAR {
public:
    explicit TFIBXSQLVAR(TFIBXSQLDA* Parent);
    ~TFIBXSQLVAR();
    TFIBXSQLVAR(const TFIBXSQLVAR&) = delete;
    TFIBXSQLVAR& operator=(const TFIBXSQLVAR&) = delete;

    // Texts
    QString AsString();
    void SetAsString(const QString& Value);
    QString AsWideString() { return AsString(); }
    void SetAsWideString(const QString& Value);
    QByteArray AsAnsiString();
    void SetAsAnsiString(const QByteArray& Value);

    // Numbers
    qint32 AsInteger();
    void SetAsInteger(qint32 Value);
    qint32 AsLong() { return AsInteger(); }
    void SetAsLong(qint32 Value) { SetAsInteger(Value); }
    qint16 AsShort();
    void SetAsShort(qint16 Value);
    qint64 AsInt64();
    void SetAsInt64(qint64 Value);
    double AsDouble();
    void SetAsDouble(double Value);
    double AsFloat() { return AsDouble(); }
    void SetAsFloat(double Value) { SetAsDouble(Value); }
    float AsSingle();
    void SetAsSingle(float Value);
    // The currency as a double; stored as a 64-bit integer of ten-thousandths (scale -4).
    double AsCurrency();
    void SetAsCurrency(double Value);
    bool AsBoolean();
    void SetAsBoolean(bool Value);

    // Dates and times
    QDateTime AsDateTime();
    void SetAsDateTime(const QDateTime& Value);
    QDate AsDate();
    void SetAsDate(const QDate& Value);
    QTime AsTime();
    void SetAsTime(const QTime& Value);
    TTimeStamp AsTimeStamp();
    void SetAsTimeStamp(const TTimeStamp& Value);

    // Identifiers
    ISC_QUAD AsQuad();
    void SetAsQuad(const ISC_QUAD& Value);

    // Variants
    QVariant AsVariant();
    void SetAsVariant(const QVariant& Value);
    QVariant Value() { return AsVariant(); }
    void SetValue(const QVariant& Value) { SetAsVariant(Value); }

    // The entry itself
    XSQLVAR* AsXSQLVAR() const { return FXSQLVAR; }
    void SetAsXSQLVAR(const XSQLVAR* Value);
    XSQLVAR* Data() const { return FXSQLVAR; }
    void* AsPointer();
    bool IsNull();
    void SetIsNull(bool Value);
    bool IsNullable();
    void SetIsNullable(bool Value);
    void Clear() { SetIsNull(true); }

    int SQLType() const { return FXSQLVAR->sqltype & ~1; }
    int SQLSubtype() const { return FXSQLVAR->sqlsubtype; }
    void SetSQLSubtype(qint16 Value) { FXSQLVAR->sqlsubtype = Value; }
    int Scale() const { return FXSQLVAR->sqlscale; }
    void SetScale(qint16 Value);
    int Size() const { return FXSQLVAR->sqllen; }

    // The server's description (0 while the statement is not prepared).
    int ServerSQLType();
    int ServerSQLSubType();
    int ServerSize();
    int ServerSQLScale();

    const QString& Name() const { return FName; }
    qint32 Index() const { return FIndex; }
    bool Modified() const { return FModified; }
    void SetModified(bool Value) { FModified = Value; }
    const QVariant& OldValue() const { return FOldValue; }
    void SetOldValue(const QVariant& Value) { FOldValue = Value; }
    bool IsMacro() const { return FIsMacro; }
    void SetIsMacro(bool Value) { FIsMacro = Value; }
    bool Quoted() const { return FQuoted; }
    void SetQuoted(bool Value) { FQuoted = Value; }
    const QString& DefMacroValue() const { return FDefMacroValue; }
    void SetDefMacroValue(const QString& Value) { FDefMacroValue = Value; }
    bool InWhereClause() const { return FInWhereClause; }
    void SetInWhereClause(bool Value) { FInWhereClause = Value; }
    bool CanForceIsNull() const { return FCanForceIsNull; }
    void SetCanForceIsNull(bool Value) { FCanForceIsNull = Value; }
    qint32 BeginPosInText() const { return FBeginPosInText; }
    void SetBeginPosInText(qint32 Value) { FBeginPosInText = Value; }
    qint32 EndPosInText() const { return FEndPosInText; }
    void SetEndPosInText(qint32 Value) { FEndPosInText = Value; }
    bool Initialized() const { return FInitialized; }
    bool IsDefferedSetting() const { return FIsDefferedSetting; }

    void Assign(TFIBXSQLVAR* Source);
    bool IsBlob() const;
    bool IsParam() const;
    QString SqlName() const;
    QString AliasName() const;
    QString RelationName() const;
    int CharacterSet() const;

    // Blob values of parameters. A stream value waits here until the statement writes it into a
    // new blob at execution (WriteStreamValue), which leaves the blob identifier in the entry.
    bool HasStreamValue() const { return FStreamValue.has_value(); }
    QByteArray StreamValue() const { return FStreamValue.value_or(QByteArray()); }
    void WriteStreamValue();
    void ReleaseStreamValue() { FStreamValue.reset(); }

    // Used by the statement while it prepares and rebuilds its lists:
    // the server's type, scale, length and subtype with a zero-filled buffer, the entry staying
    // NULL (a parameter no value was given for);
    void TakeServerDescription(const TFIBXSQLVAR& Server);
    // the current value kept as text for a blob the server expects, written at execution;
    void ConvertToBlobParam(const TFIBXSQLVAR& Server);
    // everything that makes up the value (layout, data, indicator, remembered text, stream,
    // server description, flags), for a descriptor that moves into a rebuilt list.
    void CopyValueFrom(const TFIBXSQLVAR& Source);

private:
    friend class TFIBXSQLDA;

    // Runs op on this entry, or on every entry registered under its name when the name is
    // repeated, then the bookkeeping every store ends with. Text setters hand the text that the
    // changed entries remember; every other store makes them forget theirs.
    template <typename Op> void Store(const Op& op, const QString* rememberedText);
    template <typename Op> void ForEachNamesake(const Op& op);
    void DoSetNull(bool value);
    void DoSetNullable(bool value);
    void DoSetData(qint16 type, const char* bytes, qsizetype length);
    void DoCopy(const XSQLVAR& source, qsizetype available);

    void SetText(const QString* wide, QByteArray bytes);
    void StoreStream(const QByteArray& bytes, int subType, int scale, const QString* wide);
    void StoreFixed(qint16 type, const void* data, int length, qint16 scale = 0);
    void MarkDeferred();
    void ResizeData(qsizetype length);
    void AllocateIndicator();
    void FreeIndicator();
    bool IndicatorNull() const;
    bool NeedUnicode(int charSet) const;
    bool TrimCharFields() const;
    qint32 Dialect() const;
    TFIBDatabase* Database() const;
    IFIBXSQLDAOwner* Owner() const;
    TFIBXSQLVAR* ServerNamesake() const;
    struct TDescription {
        int type = 0, subType = 0, len = 0, scale = 0;
    };
    TDescription ServerDescription();

    template <typename T> T Read() const;
    qint64 RawInteger() const;
    QByteArray RawBytes() const;
    // A text in a Unicode character set, decoded (only on a connection that translates it).
    QString UnicodeText() const;
    QByteArray ReadBlob();

    qint32 FIndex = 0;
    bool FModified = false;
    QString FName;
    XSQLVAR* FXSQLVAR = nullptr;
    TFIBXSQLDA* FParent = nullptr;
    bool FIsMacro = false;
    bool FQuoted = false;
    QString FDefMacroValue;
    QVariant FOldValue;
    bool FInWhereClause = false;
    bool FCanForceIsNull = false;
    qint32 FBeginPosInText = 0;
    qint32 FEndPosInText = 0;
    qint32 FSrvSQLType = 0;
    qint32 FSrvSQLSubType = 0;
    qint16 FSrvSQLLen = 0;
    qint16 FSrvSQLScale = 0;
    bool FSrvRemembered = false;
    bool FInitialized = false;
    bool FIsDefferedSetting = false;
    std::optional<QByteArray> FStreamValue;
    QString FWideTempValue;
    bool FHasWideTempValue = false;
    bool FParDataIsPrepared = false;
    qsizetype FDataSize = 0; // bytes allocated at sqldata, which this entry owns
};

// ---------------------------------------------------------------------------------------------
// One list: an XSQLDA area and its entries

class TFIBXSQLDA {
public:
    // aIsUserParams: the statement's application parameter list, which falls back on the
    // owner's server list for names of its own it does not hold.
    TFIBXSQLDA(IFIBXSQLDAOwner* Owner, bool aIsParams, bool aIsUserParams = false);
    ~TFIBXSQLDA();
    TFIBXSQLDA(const TFIBXSQLDA&) = delete;
    TFIBXSQLDA& operator=(const TFIBXSQLDA&) = delete;

    qint32 Count() const { return FCount; }
    void SetCount(qint32 Value);
    TFIBXSQLVAR* Vars(int Idx) const { return GetXSQLVAR(Idx); }
    TFIBXSQLVAR* GetXSQLVAR(int Idx) const;
    TFIBXSQLVAR* ByName(const QString& Name) { return GetXSQLVARByName(Name); }
    TFIBXSQLVAR* GetXSQLVARByName(const QString& Name);
    TFIBXSQLVAR* FindParam(const QString& Name) { return GetXSQLVARByName(Name); }
    TFIBXSQLVAR* ParamByName(const QString& Name);

    void RegisterName(const QString& Name, int Index, bool Quoted);
    void InitializeDescribed();
    void ClearValues();
    void AssignValues(TFIBXSQLDA* SourceSQLDA);
    void ApplyDeferredSettings();
    bool HasDefferedSettings() const { return FHasDefferedSettings; }

    // Writes every stream value of the list into a new blob (parameters, before execution) and
    // lets every remaining one go (after execution).
    void WriteStreamValues();
    void ReleaseStreamValues();

    bool Modified() const;
    void SetModified(bool Value);
    QStringList Names() const;
    qint32 RecordSize() const;

    IFIBXSQLDAOwner* Query() const { return FOwner; }
    XSQLDA* AsXSQLDA() const { return FXSQLDA; }
    bool IsParams() const { return FIsParams; }
    qint32 Size() const { return FSize; }

    // Puts a stand-in owner made of these functions in place of the list's owner; the
    // connection side still comes from the owner the list was created with.
    void SetQueryHooks(TFIBQueryHooks Hooks);
    bool HasQueryHooks() const { return FHooksOwner != nullptr; }
    bool IsUserParams() const { return FIsUserParams; }

    // Moves the entry at OldIndex of Source into this list at Index, in place of the entry there,
    // which goes to Source instead: the object, its value and buffers stay the same, so a
    // pointer taken to it before stays good. Names are not registered.
    void TakeEntry(TFIBXSQLDA& Source, qint32 OldIndex, qint32 Index);

    // Keeps every entry at its index for a new text that needs the same ones, as if each had
    // moved there with TakeEntry from a list just like this one: each forgets its server
    // description. The names stay registered.
    void KeepEntriesForNewText();

    // Makes the list what a list just created with SetCount(Size()) would be: every entry a new
    // one, without value, name or buffers, the area cleared; the objects and the area stay.
    void RenewEntries();

    // The registered names and the repeated ones, each with its entry index.
    const std::multimap<QString, int>& RegisteredNames() const { return FNames; }
    const std::multimap<QString, int>& EquelNames() const { return FEquelNames; }

private:
    friend class TFIBXSQLVAR;

    TFIBXSQLVAR* FindRegistered(const QString& Name) const;
    void SetHasDefferedSettings() { FHasDefferedSettings = true; }

    std::multimap<QString, int> FNames;
    std::multimap<QString, int> FEquelNames;
    std::map<QString, TFIBXSQLVAR*> FCachedNames;
    qint32 FCount = 0;
    bool FHasDefferedSettings = false;
    IFIBXSQLDAOwner* FOwner = nullptr;
    IFIBXSQLDAOwner* FCreator = nullptr;
    std::unique_ptr<IFIBXSQLDAOwner> FHooksOwner;
    bool FIsUserParams = false;
    qint32 FSize = 0;
    XSQLDA* FXSQLDA = nullptr;
    std::vector<std::unique_ptr<TFIBXSQLVAR>> FXSQLVARs;
    bool FIsParams = false;
};
