// The server facts of a connection: database information requests, the server version and the
// server-kind flags that tell statements and datasets how to treat dialects and character sets.
#include "FIBDatabase.h"

#include <array>

namespace {

bool IsOneOf(const QString& value, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (value == QLatin1String(name)) return true;
    return false;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Memo subtypes

void TMemoSubtypes::SetText(const QString& value) {
    FSubtypes.clear();
    FActive = false;
    QStringList kept;
    for (const QString& piece : value.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qint8 number = qint8(StrToIntDef(piece, 1));
        FSubtypes.push_back(number);
        if (number != 1) {
            FActive = true;
            kept << piece;
        }
    }
    FText = kept.join(QLatin1Char(';'));
}

bool TMemoSubtypes::Contains(qint16 subtype) const {
    for (qint8 n : FSubtypes)
        if (n == subtype) return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Information requests

qint32 TFIBDatabase::DatabaseInfoInteger(char item, bool* found) {
    // Without a library there is nothing to hand the request to; report it as a closed one.
    if (!FClientLibrary) RaiseClientError(12, ComponentPath(this));
    std::array<char, 512> answer{};
    Call(FClientLibrary->isc_database_info(StatusVector(), &FHandle, 1, &item, short(answer.size()),
                                           answer.data()),
         true);
    if (found) *found = answer[0] == item;
    const short length = short(FClientLibrary->isc_vax_integer(answer.data() + 1, 2));
    if (length < 0 || length > 8) return 0;
    return qint32(FClientLibrary->isc_vax_integer(answer.data() + 3, length));
}

QString TFIBDatabase::DatabaseInfoText(char item, int bufferSize) {
    if (!FClientLibrary) RaiseClientError(12, ComponentPath(this));
    QByteArray answer(bufferSize, '\0');
    Call(FClientLibrary->isc_database_info(StatusVector(), &FHandle, 1, &item, short(bufferSize),
                                           answer.data()),
         true);
    if (answer[0] != item) return QString();
    const int length = quint8(answer[4]);
    return AnsiToString(answer.constData() + 5, std::min(length, bufferSize - 5));
}

qint32 TFIBDatabase::AttachmentID() {
    if (vAttachmentID != -1) return vAttachmentID;
    if (!Connected()) return -1;
    vAttachmentID = DatabaseInfoInteger(isc_info_attachment_id);
    return vAttachmentID;
}

qint32 TFIBDatabase::DBSQLDialect() {
    bool found = false;
    const qint32 value = DatabaseInfoInteger(isc_info_db_sql_dialect, &found);
    return found ? qint32(quint16(value)) : 1;
}

qint32 TFIBDatabase::FBAttachCharsetID() {
    bool found = false;
    const qint32 value = DatabaseInfoInteger(frb_info_att_charset, &found);
    return found ? value : -1;
}

qint32 TFIBDatabase::ODSMajorVersion() {
    return DatabaseInfoInteger(isc_info_ods_version);
}

qint32 TFIBDatabase::ODSMinorVersion() {
    return DatabaseInfoInteger(isc_info_ods_minor_version);
}

QString TFIBDatabase::FBVersion() {
    CheckActive();
    return DatabaseInfoText(isc_info_firebird_version, 512);
}

QString TFIBDatabase::Version() {
    if (!FClientLibrary) RaiseClientError(12, ComponentPath(this));
    QByteArray answer(1024, '\0');
    const char item = isc_info_version;
    Call(FClientLibrary->isc_database_info(StatusVector(), &FHandle, 1, &item, 1024, answer.data()),
         true);
    return AnsiToString(answer.constData() + 5, std::min(int(quint8(answer[4])), 1024 - 5));
}

// ---------------------------------------------------------------------------------------------
// Server version

void TFIBDatabase::ParseServerVersionText(const QString& text, qint32 (&numbers)[4]) {
    QString digits;
    int target = 0;
    for (qsizetype i = 4; i < text.size() - 1 && target < 4; ++i) {
        const QChar c = text.at(i);
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            digits += c;
            continue;
        }
        numbers[target++] = digits.isEmpty() ? 0 : digits.toInt();
        digits.clear();
    }
}

void TFIBDatabase::ParseServerVersion() {
    CheckActive();
    if (FServerMajorVersion != -1) return;
    const QString text = IsFirebirdConnect() ? FBVersion() : Version();
    qint32 numbers[4] = {FServerMajorVersion, FServerMinorVersion, FServerRelease, FServerBuild};
    ParseServerVersionText(text, numbers);
    FServerMajorVersion = numbers[0];
    FServerMinorVersion = numbers[1];
    FServerRelease = numbers[2];
    FServerBuild = numbers[3];
}

qint32 TFIBDatabase::ServerMajorVersion() {
    ParseServerVersion();
    return FServerMajorVersion;
}

qint32 TFIBDatabase::ServerMinorVersion() {
    ParseServerVersion();
    return FServerMinorVersion;
}

qint32 TFIBDatabase::ServerRelease() {
    ParseServerVersion();
    return FServerRelease;
}

qint32 TFIBDatabase::ServerBuild() {
    ParseServerVersion();
    return FServerBuild;
}

// ---------------------------------------------------------------------------------------------
// Server-kind flags and the questions built on them

void TFIBDatabase::ComputeServerKindFlags() {
    FIsFireBirdConnect = !FBVersion().isEmpty();
    const qint32 major = ServerMajorVersion();
    if (!FIsFireBirdConnect) FIsIB2007Connect = major > 7;
    if (FIsFireBirdConnect && major >= 2) {
        const qint32 charset = FBAttachCharsetID();
        FIsUnicodeConnect =
            charset >= 0 && charset < 256 && UnicodeCharSets().test(size_t(charset));
        FIsNoneConnect = charset == 0;
        FNeedUnicodeFieldsTranslation = FIsUnicodeConnect || FIsNoneConnect;
        FIsFB21OrMore = major > 2 || (major == 2 && ServerMinorVersion() >= 1);
        FNeedUTFDecodeDDL = false;
        if (FNeedUnicodeFieldsTranslation && FIsFB21OrMore) {
            const qint32 ods = ODSMajorVersion();
            FNeedUTFDecodeDDL = ods > 11 || (ods == 11 && ODSMinorVersion() >= 1);
        }
        return;
    }
    const QString charset = FConnectParams->CharSet();
    FIsUnicodeConnect = IsOneOf(charset, {"UNICODE_FSS", "UTF8"});
    FIsNoneConnect = charset.isEmpty() || charset == QLatin1String("NONE");
    FNeedUnicodeFieldsTranslation = FIsUnicodeConnect || FIsNoneConnect;
    FNeedUTFDecodeDDL = false;
}

bool TFIBDatabase::IsIB2007Connect() {
    if (FIsFireBirdConnect) return false;
    return ServerMajorVersion() > 7;
}

bool TFIBDatabase::IsUnicodeConnect() const {
    if (Connected()) return FIsUnicodeConnect;
    return IsOneOf(FConnectParams->CharSet(), {"UNICODE_FSS", "UTF8"});
}

bool TFIBDatabase::NeedUnicodeFieldsTranslation() const {
    if (Connected()) return FNeedUnicodeFieldsTranslation;
    const QString charset = FConnectParams->CharSet();
    return charset.isEmpty() || IsOneOf(charset, {"UNICODE_FSS", "NONE", "UTF8"});
}

bool TFIBDatabase::NeedUnicodeFieldTranslation(quint8 FieldCharacterSet) const {
    if (!FNeedUTFDecodeDDL && !FIsNoneConnect) return FIsUnicodeConnect && FieldCharacterSet > 1;
    return UnicodeCharSets().test(FieldCharacterSet);
}

std::bitset<256> TFIBDatabase::UnicodeCharSets() const {
    std::bitset<256> sets;
    sets.set(3);
    if (Connected() && FIsFireBirdConnect) sets.set(4);
    if (Connected() && FIsIB2007Connect) {
        sets.set(8);
        sets.set(59);
        sets.set(64);
    }
    return sets;
}

int TFIBDatabase::BytesInUnicodeChar(int CharSetId) const {
    if (CharSetId == 3) return 3;
    if (!Connected()) return 1;
    if (FIsFireBirdConnect && CharSetId == 4) return 4;
    if (FIsIB2007Connect) {
        if (CharSetId == 8 || CharSetId == 64) return 2;
        if (CharSetId == 59) return 4;
    }
    return 1;
}

bool TFIBDatabase::ReturnDeclaredFieldSize() {
    if (Connected() && FIsFireBirdConnect) return ServerMajorVersion() < 2;
    return true;
}
