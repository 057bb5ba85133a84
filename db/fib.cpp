#include "fib.h"

#include "IB_Intf.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

const QLatin1String CRLF("\r\n");

// ---------------------------------------------------------------------------------------------
// The numbered messages

const char* const FIBMessages[FIBErrorMessageCount] = {
    /* 0 */ "Unknown error.",
    /* 1 */ "Unsupported feature.",
    /* 2 */ "Not permitted.",
    /* 3 */ "Temporary file access error.",
    /* 4 */ "Database connection timed out.",
    /* 5 */ "Cannot set database.",
    /* 6 */ "Cannot set transaction.",
    /* 7 */ "Operation cancelled at user's request.",
    /* 8 */ "DPB Constant (isc_dpb_%s) is unsupported.",
    /* 9 */ "DPB Constant (%s) is unknown.",
    /* 10 */ "TPB Constant (isc_tpb_%s) is unsupported.",
    /* 11 */ "TPB Constant (%s) is unknown.",
    /* 12 */ "%s: Cannot perform operation -- DB is not open.",
    /* 13 */ "Cannot perform operation -- DB is currently open.",
    /* 14 */ "Database name is missing.",
    /* 15 */ "%s :Transaction is not active.",
    /* 16 */ "%s :Transaction is active.",
    /* 17 */ "Timeout values cannot be negative.",
    /* 18 */ "%s :No databases are listed in transaction component.",
    /* 19 */ "%s :Updating wrong database.",
    /* 20 */ "%s :Updating wrong transaction.",
    /* 21 */ "Database not assigned for %s.",
    /* 22 */ "Transaction not assigned for %s.",
    /* 23 */ "XSQLDA index out of range.",
    /* 24 */ "XSQLDA name does not exist (%s).",
    /* 25 */ "End of file.",
    /* 26 */ "Beginning of file.",
    /* 27 */ "%s:Invalid statement handle.",
    /* 28 */ "Can't %s because %s dataset open.",
    /* 29 */ "Can't %s because %s dataset closed.",
    /* 30 */ "Unknown SQL Data type (%d).",
    /* 31 */ "Invalid column index (index exceeds permitted range).",
    /* 32 */ "Invalid parameter index (index exceeds permitted range).",
    /* 33 */ "Invalid data conversion.",
    /* 34 */ "Column cannot be set to null (%s)",
    /* 35 */ "Blob stream cannot be read.",
    /* 36 */ "Blob stream cannot be written.",
    /* 37 */ "Can't %s , because  query is empty",
    /* 38 */ "Can't \"open\" a non-select statement. Use ExecQuery.",
    /* 39 */ "No access to field \"%s\".",
    /* 40 */ "Field \"%s\" is read-only.",
    /* 41 */ "Field \"%s\" not found.",
    /* 42 */ "DataSet not in Edit or Insert mode.(%s)",
    /* 43 */ "Not editing.",
    /* 44 */ "Can't insert into dataset. (%s)",
    /* 45 */ "Can't post. (%s) ",
    /* 46 */ "Can't update. (%s)",
    /* 47 */ "Can't delete from dataset. (%s)",
    /* 48 */ "Can't refresh row. (%s)",
    /* 49 */ "Buffer not set.",
    /* 50 */ "Circular references not permitted.(%s)",
    /* 51 */ "SQL Parse Error in :%s \r\n\r\n%s",
    /* 52 */ "User abort.",
    /* 53 */ "Data set is uni-directional.",
    /* 54 */ "Cannot create shared resource. (Windows error %d)",
    /* 55 */ "Windows API error. (Windows error %d [$%.8x])",
    /* 56 */ "Column lists do not match.",
    /* 57 */ "Column types don't match. (From index: %d, To index: %d)",
    /* 58 */
    "Can't end a shared transaction unless it is forced and equal to the transaction's "
    "TimeoutAction.",
    /* 59 */ "Column types \"%s\" is not array field",
    /* 60 */ "Dimension %d don't exist in \"%s\" ",
    /* 61 */ "SQL Dialect invalid",
    /* 62 */
    "InterBase library gds32.dll not found in the path. Please install InterBase to use "
    "this functionality",
    /* 63 */ "%s is an InterBase6 function. Please upgrade to InterBase6 to use this functonality",
    /* 64 */
    "InterBase Install DLL ibinstall.dll not found in the path. Please install InterBase 6 "
    "to use this functionality",
    /* 65 */ "Cannot perform operation -- service is not attached",
    /* 66 */ "Cannot perform operation -- service is attached",
    /* 67 */ "Server Name Missing",
    /* 68 */ "Query Parameters missing or incorrect",
    /* 69 */ "Start Parameters missing or incorrect",
    /* 70 */ "Unexpected Output buffer value",
    /* 71 */
    "Generic ServiceStart not applicable: Use Specific Procedures to set configuration "
    "params",
    /* 72 */ "SPB Constant Not supported",
    /* 73 */ "SPB Constant Unknown",
    /* 74 */ "Field Size too small. Field %s.%s",
    /* 75 */
    "%s. Can't use limited cache. The dataset must meet every condition below:\r\n"
    "- its select has an ORDER BY over a unique key, and the key fields are fetched;\r\n"
    "- it can be read in one direction only and has no client-side filter;\r\n"
    "- cached updates are off;\r\n"
    "- its rows are not sorted locally;\r\n"
    "- the cache size of CacheModelOptions is at least the number of visible rows.",
    /* 76 */ "Error in %s. FieldList is empty.",
    /* 77 */ "%s can't use field \"%s\"",
    /* 78 */ "%s is an Firebird 2 function. Please upgrade to Firebird 2 to use this functonality",
    /* 79 */ "MDT. Socket of database \"%s\" not found",
    /* 80 */ "MDT. MDT transaction already opened",
    /* 81 */ "MDT. FIBXSQLDA and MDTDataRecord are incompatible",
    /* 82 */ "MDT. Unexpected error in \"%s\"",
    /* 83 */ "MDT. MDT savepoint \"%s\" already set",
    /* 84 */ "MDT. Savepoint \"%s\" not found",
};

// ---------------------------------------------------------------------------------------------
// Helpers on 8-bit text

char LowerAZ(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

QByteArray LowerAZ(QByteArray s) {
    for (char& c : s)
        c = LowerAZ(c);
    return s;
}

bool IsLowerAZ(QChar c) {
    return c >= QLatin1Char('a') && c <= QLatin1Char('z');
}

// A line "name=value" as the bytes the block will carry.
void SplitParameter(const QString& line, QByteArray& name, QByteArray& value) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) {
        name = StringToAnsi(line);
        value.clear();
    } else {
        name = StringToAnsi(line.left(eq));
        value = StringToAnsi(line.mid(eq + 1));
    }
}

// The block's length travels as a signed 16-bit count and every clump's value length as one
// byte: a longer value would be cut to its low bits and the server would read the rest of the
// block out of step, so such values are refused before anything is built.
constexpr int MaxValueLength = 255;
constexpr int MaxBlockLength = 32767;

void CheckValueLength(const char* blockKind, const QByteArray& name, const QByteArray& value) {
    if (value.size() > MaxValueLength)
        RaiseClientErrorFmt(
            QStringLiteral("%s parameter %s: value too long (%d bytes, at most %d)"),
            QString::fromLatin1(blockKind), AnsiToString(name), value.size(), MaxValueLength);
}

void CheckBlockLength(const char* blockKind, int length) {
    if (length > MaxBlockLength)
        RaiseClientErrorFmt(QStringLiteral("%s too long (%d bytes, at most %d)"),
                            QString::fromLatin1(blockKind), length, MaxBlockLength);
}

// The system's integer conversion of an 8-bit value, with its own message on failure.
qint32 ValueToInt(const QByteArray& value) {
    return StrToInt(AnsiToString(value));
}

// ---------------------------------------------------------------------------------------------
// DPB names

const std::array<const char*, DPBConstantCount> DPBNames = {
    "cdd_pathname",
    "allocation",
    "journal",
    "page_size",
    "num_buffers",
    "buffer_length",
    "debug",
    "garbage_collect",
    "verify",
    "sweep",
    "enable_journal",
    "disable_journal",
    "dbkey_scope",
    "number_of_users",
    "trace",
    "no_garbage_collect",
    "damaged",
    "license",
    "sys_user_name",
    "encrypt_key",
    "activate_shadow",
    "sweep_interval",
    "delete_shadow",
    "force_write",
    "begin_log",
    "quit_log",
    "no_reserve",
    "user_name",
    "password",
    "password_enc",
    "sys_user_name_enc",
    "interp",
    "online_dump",
    "old_file_size",
    "old_num_files",
    "old_file",
    "old_start_page",
    "old_start_seqno",
    "old_start_file",
    "drop_walfile",
    "old_dump_id",
    "wal_backup_dir",
    "wal_chkptlen",
    "wal_numbufs",
    "wal_bufsize",
    "wal_grp_cmt_wait",
    "lc_messages",
    "lc_ctype",
    "cache_manager",
    "shutdown",
    "online",
    "shutdown_delay",
    "reserved",
    "overwrite",
    "sec_attach",
    "disable_wal",
    "connect_timeout",
    "dummy_packet_interval",
    "gbak_attach",
    "sql_role_name",
    "set_page_buffers",
    "working_directory",
    "sql_dialect",
    "set_db_readonly",
    "set_db_sql_dialect",
    "gfix_attach",
    "gstat_attach",
    "gbak_ods_version",
    "gbak_ods_minor_version",
    "set_group_commit",
    "gbak_validate",
    "client_interbase_var",
    "admin_option",
    "flush_interval",
    "instance_name",
    "old_overwrite",
    "archive_database",
    "archive_journals",
    "archive_sweep",
    "archive_dumps",
    "archive_recover",
    "recover_until",
    "force",
};

// Firebird reuses codes that InterBase had given other names.
struct TExtraName {
    const char* name;
    int code;
};
constexpr TExtraName DPBExtraNames[] = {
    {"no_db_triggers", 72},
    {"set_db_charset", 68},
    {"utf8_filename", 77},
};

enum TDPBCode {
    dpbNumBuffers = 5,
    dpbGarbageCollect = 8,
    dpbVerify = 9,
    dpbSweep = 10,
    dpbDbkeyScope = 13,
    dpbNoGarbageCollect = 16,
    dpbDamaged = 17,
    dpbLicense = 18,
    dpbSysUserName = 19,
    dpbEncryptKey = 20,
    dpbActivateShadow = 21,
    dpbSweepInterval = 22,
    dpbDeleteShadow = 23,
    dpbForceWrite = 24,
    dpbBeginLog = 25,
    dpbQuitLog = 26,
    dpbNoReserve = 27,
    dpbUserName = 28,
    dpbPassword = 29,
    dpbPasswordEnc = 30,
    dpbOnlineDump = 33,
    dpbOldFileSize = 34,
    dpbOldFile = 36,
    dpbLcMessages = 47,
    dpbLcCtype = 48,
    dpbShutdown = 50,
    dpbOnline = 51,
    dpbShutdownDelay = 52,
    dpbOverwrite = 54,
    dpbConnectTimeout = 57,
    dpbDummyPacketInterval = 58,
    dpbSqlRoleName = 60,
    dpbSqlDialect = 63,
    dpbSetDbCharset = 68,
    dpbNoDbTriggers = 72,
    dpbInstanceName = 75,
    dpbUtf8Filename = 77,
};

// Appends one clump and counts it; the caller checks the total.
struct TDPBWriter {
    QByteArray block;
    int length = 0;

    void Clump(int code, const QByteArray& value) {
        block.append(char(code));
        block.append(char(value.size()));
        block.append(value);
        length += int(value.size()) + 2;
    }
    void Byte(int code, int value) { Clump(code, QByteArray(1, char(value & 0xFF))); }
};

void AppendDPBParameter(TDPBWriter& dpb, int code, const QByteArray& name, QByteArray value,
                        bool isFirebird) {
    switch (code) {
    case dpbNumBuffers:
    case dpbVerify:
    case dpbDbkeyScope:
    case dpbDamaged:
    case dpbForceWrite:
    case dpbNoReserve:
    case dpbOnlineDump:
    case dpbOldFileSize:
    case dpbShutdownDelay:
    case dpbOverwrite:
    case dpbConnectTimeout:
    case dpbDummyPacketInterval:
        dpb.Byte(code, ValueToInt(value));
        return;
    case dpbSqlDialect:
        // The dialect digit travels as its number, "3" as the byte 3. An empty value has no
        // digit to convert: it is refused as the integer it should have been.
        if (value.isEmpty()) throw EConvertError(InvalidIntegerMessage(QString()));
        value[0] = char(value[0] - '0');
        [[fallthrough]];
    case dpbLicense:
    case dpbSysUserName:
    case dpbEncryptKey:
    case dpbUserName:
    case dpbPassword:
    case dpbPasswordEnc:
    case dpbOldFile:
    case dpbLcMessages:
    case dpbLcCtype:
    case dpbSqlRoleName:
        CheckValueLength("DPB", name, value);
        dpb.Clump(code, value);
        return;
    case dpbSetDbCharset:
        if (!isFirebird) return;
        CheckValueLength("DPB", name, value);
        dpb.Clump(code, value);
        return;
    case dpbInstanceName:
        if (isFirebird) return;
        CheckValueLength("DPB", name, value);
        dpb.Clump(code, value);
        return;
    case dpbSweep:
        dpb.Byte(code, 2);
        return;
    case dpbSweepInterval: {
        const quint32 v = quint32(ValueToInt(value));
        QByteArray bytes;
        for (int i = 0; i < 4; ++i)
            bytes.append(char((v >> (8 * i)) & 0xFF));
        dpb.Clump(code, bytes);
        return;
    }
    case dpbActivateShadow:
    case dpbDeleteShadow:
    case dpbBeginLog:
    case dpbQuitLog:
        dpb.Byte(code, 0);
        return;
    case dpbGarbageCollect:
    case dpbNoGarbageCollect:
        dpb.Byte(code, 1);
        return;
    case dpbNoDbTriggers:
        if (isFirebird) dpb.Byte(code, 1);
        return;
    case dpbOnline:
        dpb.Clump(code, QByteArray());
        return;
    case dpbUtf8Filename:
        if (isFirebird) dpb.Clump(code, QByteArray());
        return;
    case dpbShutdown:
        if (value.isEmpty())
            dpb.Clump(code, QByteArray());
        else
            dpb.Byte(code, ParseShutdownMode(value));
        return;
    case 0:
        RaiseClientError(9, AnsiToString(name));
    default:
        RaiseClientError(8, DPBConstantName(code));
    }
}

// ---------------------------------------------------------------------------------------------
// TPB names

// Sorted by name, as the lookup expects.
constexpr TExtraName TPBNames[] = {
    {"autocommit", 16},     {"commit_time", 13},    {"concurrency", 2},
    {"consistency", 1},     {"exclusive", 5},       {"ignore_limbo", 14},
    {"lock_read", 10},      {"lock_timeout", 21},   {"lock_write", 11},
    {"no_auto_undo", 20},   {"no_rec_version", 18}, {"no_savepoint", 21},
    {"nowait", 7},          {"protected", 4},       {"read", 8},
    {"read_committed", 15}, {"rec_version", 17},    {"restart_requests", 19},
    {"shared", 3},          {"verb_time", 12},      {"wait", 6},
    {"write", 9},
};

int CompareTextAZ(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char ca = LowerAZ(a[i]);
        const char cb = LowerAZ(b[i]);
        if (ca != cb) return (unsigned char)ca < (unsigned char)cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// 0 when the name is not in the table.
int TPBConstantCode(const QByteArray& name) {
    const std::string_view key(name.constData(), size_t(name.size()));
    const auto begin = std::begin(TPBNames);
    const auto end = std::end(TPBNames);
    const auto it = std::lower_bound(begin, end, key, [](const TExtraName& e, std::string_view k) {
        return CompareTextAZ(e.name, k) < 0;
    });
    return (it != end && CompareTextAZ(it->name, key) == 0) ? it->code : 0;
}

// The table's name of a code, for the message that refuses it.
QString TPBConstantName(int code) {
    for (const TExtraName& e : TPBNames)
        if (e.code == code) return QString::fromLatin1(e.name);
    return QString();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// EFIBError

EFIBError::EFIBError(qint32 ASQLCode, const QString& aMsg, TObject* Sender)
    : EDatabaseError(QString()) {
    Init(ASQLCode, aMsg, Sender);
}

EFIBError::EFIBError(qint32 ASQLCode, const QString& IBMsg, const QString& SQLMsg,
                     const QString& CstmMsg, TObject* Sender)
    : EDatabaseError(QString()) {
    FSQLMessage = SQLMsg;
    FIBMessage = IBMsg;
    FCustomMessage = CstmMsg;
    Init(ASQLCode, QString(), Sender);
}

void EFIBError::Init(qint32 ASQLCode, const QString& aMsg, TObject* Sender) {
    const auto* component = dynamic_cast<const TComponent*>(Sender);
    FRaiserName = component ? ComponentPath(component) : QString();
    FMsg = aMsg;
    FSQLCode = ASQLCode;
    // The server's own error code, read now: the next client call on this thread overwrites it.
    FIBErrorCode = qint32(StatusVector()[1]);
    SenderObj = Sender;
    ComposeMessage();
}

void EFIBError::ComposeMessage() {
    QString text;
    // A one-letter name tells the reader nothing and would only push the message down a line.
    if (FRaiserName.size() > 1) text += FRaiserName + QLatin1Char(':') + CRLF;
    text += FSQLMessage;
    text += FIBMessage;
    if (!FCustomMessage.isEmpty()) text += FCustomMessage;
    text += FMsg;
    SetMessage(text);
}

void EFIBError::SetRaiserName(const QString& value) {
    FRaiserName = value;
    ComposeMessage();
}

void EFIBError::SetSQLMessage(const QString& value) {
    FSQLMessage = value;
    ComposeMessage();
}

void EFIBError::SetIBMessage(const QString& value) {
    FIBMessage = value;
    ComposeMessage();
}

void EFIBError::SetCustomMessage(const QString& value) {
    FCustomMessage = value;
    ComposeMessage();
}

void EFIBError::SetMsg(const QString& value) {
    FMsg = value;
    ComposeMessage();
}

// ---------------------------------------------------------------------------------------------
// Raising

QString FIBErrorMessage(int number) {
    if (number < 0 || number >= FIBErrorMessageCount) number = 0;
    return QString::fromUtf8(FIBMessages[number]);
}

void RaiseInterBaseError(IIBClientLibrary* ClientLibrary, TObject* Sender) {
    const ISC_STATUS* status = StatusVector();
    const qint32 sqlCode = ClientLibrary->isc_sqlcode(status);

    QString sqlMessage;
    {
        constexpr int size = 1024;
        std::array<ISC_SCHAR, size> buffer{};
        ClientLibrary->isc_sql_interprete(short(sqlCode), buffer.data(), short(size));
        const auto terminator = std::find(buffer.begin(), buffer.end(), '\0');
        sqlMessage = AnsiToString(buffer.data(), terminator - buffer.begin());
        // Some message files carry the line breaks of their source as the two characters
        // backslash and n; they would show as such in a message box.
        sqlMessage.remove(QLatin1String("\\n"));
        if (!sqlMessage.isEmpty()) {
            if (IsLowerAZ(sqlMessage.front())) sqlMessage[0] = sqlMessage.front().toUpper();
            if (!sqlMessage.endsWith(QLatin1Char('.'))) sqlMessage += QLatin1Char('.') + CRLF;
        }
    }

    QString ibMessage;
    {
        constexpr unsigned size = 20480;
        std::vector<ISC_SCHAR> buffer(size);
        const ISC_STATUS* cursor = status;
        for (;;) {
            const ISC_LONG n = ClientLibrary->fb_interpret(buffer.data(), size, &cursor);
            if (n <= 0) break;
            const qsizetype length = std::min<qsizetype>(n, size);
            if (buffer[0] >= 'a' && buffer[0] <= 'z') buffer[0] = char(buffer[0] - ('a' - 'A'));
            ibMessage += AnsiToString(buffer.data(), length);
            if (!ibMessage.endsWith(QLatin1Char('.'))) ibMessage += QLatin1Char('.');
            ibMessage += CRLF;
        }
    }

    throw EFIBInterBaseError(sqlCode, ibMessage, sqlMessage, QString(), Sender);
}

void RaiseInterBaseError(const IIBClientLibraryPtr& ClientLibrary, TObject* Sender) {
    RaiseInterBaseError(ClientLibrary.get(), Sender);
}

QString ComponentPath(const TComponent* component) {
    QStringList names;
    for (const TComponent* c = component; c; c = c->Owner())
        if (!c->Name().isEmpty()) names.prepend(c->Name());
    return names.join(QLatin1Char('.'));
}

// ---------------------------------------------------------------------------------------------
// Database parameter block

QString DPBConstantName(int code) {
    if (code < 1 || code > DPBConstantCount) return QString();
    return QString::fromLatin1(DPBNames[size_t(code - 1)]);
}

int DPBConstantCode(const QByteArray& name) {
    for (size_t i = 0; i < DPBNames.size(); ++i)
        if (name == DPBNames[i]) return int(i) + 1;
    for (const TExtraName& e : DPBExtraNames)
        if (name == e.name) return e.code;
    return 0;
}

qint32 ParseShutdownMode(const QByteArray& value) {
    struct TMode {
        const char* word;
        qint32 flags;
    };
    static constexpr TMode modes[] = {
        {"attachment", 2}, {"cache", 1},   {"force", 8},   {"full", 64},       {"mode_mask", 112},
        {"multi", 32},     {"normal", 16}, {"single", 48}, {"transaction", 4},
    };
    qint32 result = 0;
    qsizetype start = 0;
    while (start <= value.size()) {
        qsizetype end = start;
        while (end < value.size() && value[end] != ',' && value[end] != ';')
            ++end;
        const QByteArray piece = LowerAZ(value.mid(start, end - start));
        start = end + 1;
        if (piece.isEmpty()) continue;
        if (piece[0] >= '0' && piece[0] <= '9') {
            result |= ValueToInt(piece);
            continue;
        }
        const auto it = std::find_if(std::begin(modes), std::end(modes),
                                     [&](const TMode& m) { return piece == m.word; });
        // Counting an unknown word as every flag at once would shut the database down in a mode
        // nobody asked for; a typing error must not do that.
        if (it == std::end(modes))
            RaiseClientErrorFmt(QStringLiteral("Unknown shutdown mode (%s)."), AnsiToString(piece));
        result |= it->flags;
    }
    return result;
}

void GenerateDPB(TStrings& params, QByteArray& block, qint16& length, bool isFirebird) {
    TDPBWriter dpb;
    dpb.block.append(char(isc_dpb_version1));
    dpb.length = 1;
    for (int i = 0; i < params.Count(); ++i) {
        const QString line = Trim(params.Strings(i));
        params.SetStrings(i, line);
        if (line.isEmpty()) continue;
        QByteArray name;
        QByteArray value;
        SplitParameter(line, name, value);
        name = LowerAZ(name);
        if (name.startsWith("isc_dpb_")) name.remove(0, 8);
        AppendDPBParameter(dpb, DPBConstantCode(name), name, value, isFirebird);
        CheckBlockLength("DPB", dpb.length);
    }
    block = dpb.block;
    length = qint16(dpb.length);
}

// ---------------------------------------------------------------------------------------------
// Transaction parameter block

void GenerateTPB(TStrings& params, QByteArray& block, qint16& length, bool lockTimeoutAllowed) {
    if (params.Count() == 0) {
        block.clear();
        length = 0;
        return;
    }
    QByteArray tpb(1, char(isc_tpb_version3));
    // Every line is counted for its code byte up front; lines that produce nothing give it back.
    int count = params.Count() + 1;
    for (int i = 0; i < params.Count(); ++i) {
        const QString line = Trim(params.Strings(i));
        params.SetStrings(i, line);
        if (line.isEmpty()) {
            --count;
            continue;
        }
        QByteArray name;
        QByteArray value;
        SplitParameter(line, name, value);
        name = LowerAZ(name);
        if (name.startsWith("isc_tpb_")) name.remove(0, 8);
        const int code = TPBConstantCode(name);
        switch (code) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 14:
        case 15:
        case 17:
        case 18:
        case 20:
            tpb.append(char(code));
            break;
        case 10:
        case 11:
            CheckValueLength("TPB", name, value);
            tpb.append(char(code));
            tpb.append(char(value.size()));
            tpb.append(value);
            count += int(value.size()) + 1;
            break;
        case 21:
            tpb.append(char(code));
            if (lockTimeoutAllowed) {
                const qint32 seconds = StrToIntDef(AnsiToString(value), 10);
                tpb.append(char(2));
                tpb.append(char(seconds & 0xFF));
                tpb.append(char((seconds >> 8) & 0xFF));
                count += 3;
            }
            break;
        case 0:
            RaiseClientError(11, AnsiToString(name));
        default:
            RaiseClientError(10, TPBConstantName(code));
        }
    }
    CheckBlockLength("TPB", count);
    block = tpb;
    length = qint16(count);
}
