#include "fib.h"

#include "IB_Intf.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

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

// A line "name=value" as the bytes the block will carry; names are matched in any letter case,
// so the name comes back in lower case.
void SplitParameter(const QString& line, QByteArray& name, QByteArray& value) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) {
        name = StringToAnsi(AsciiLowerCase(line));
        value.clear();
    } else {
        name = StringToAnsi(AsciiLowerCase(line.left(eq)));
        value = ServerAnsiText(line.mid(eq + 1));
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

// Every character before the one refused is Latin-1, so its index gives its position.
[[noreturn]] void RaiseUnsendable(const QString& text, qsizetype index) {
    char32_t code = text[index].unicode();
    if (text[index].isHighSurrogate() && index + 1 < text.size() &&
        text[index + 1].isLowSurrogate())
        code = QChar::surrogateToUcs4(text[index], text[index + 1]);
    const QString hex = QString::number(quint32(code), 16).toUpper().rightJustified(4, u'0');
    RaiseClientErrorFmt(
        QStringLiteral("Character U+%s at position %d cannot be sent in the connection's "
                       "character set."),
        hex, qint32(index + 1));
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
    {"no_db_triggers", isc_dpb_no_db_triggers},
    {"set_db_charset", isc_dpb_set_db_charset},
    {"utf8_filename", isc_dpb_utf8_filename},
    {"config", isc_dpb_config},
};

// Appends one clump; the caller checks the total.
struct TDPBWriter {
    QByteArray block;

    void Clump(int code, const QByteArray& value) {
        block.append(char(code));
        block.append(char(value.size()));
        block.append(value);
    }
    void Byte(int code, int value) { Clump(code, QByteArray(1, char(value & 0xFF))); }
};

void AppendDPBParameter(TDPBWriter& dpb, int code, const QByteArray& name, QByteArray value,
                        bool isFirebird) {
    switch (code) {
    case isc_dpb_num_buffers:
    case isc_dpb_verify:
    case isc_dpb_dbkey_scope:
    case isc_dpb_damaged:
    case isc_dpb_force_write:
    case isc_dpb_no_reserve:
    case isc_dpb_online_dump:
    case isc_dpb_old_file_size:
    case isc_dpb_shutdown_delay:
    case isc_dpb_overwrite:
    case isc_dpb_connect_timeout:
    case isc_dpb_dummy_packet_interval:
        dpb.Byte(code, ValueToInt(value));
        return;
    case isc_dpb_sql_dialect:
        // The dialect digit travels as its number, "3" as the byte 3. An empty value has no
        // digit to convert: it is refused as the integer it should have been.
        if (value.isEmpty()) throw EConvertError(InvalidIntegerMessage(QString()));
        value[0] = char(value[0] - '0');
        [[fallthrough]];
    case isc_dpb_license:
    case isc_dpb_sys_user_name:
    case isc_dpb_encrypt_key:
    case isc_dpb_user_name:
    case isc_dpb_password:
    case isc_dpb_password_enc:
    case isc_dpb_old_file:
    case isc_dpb_lc_messages:
    case isc_dpb_lc_ctype:
    case isc_dpb_sql_role_name:
        CheckValueLength("DPB", name, value);
        dpb.Clump(code, value);
        return;
    case isc_dpb_set_db_charset:
        if (!isFirebird) return;
        CheckValueLength("DPB", name, value);
        dpb.Clump(code, value);
        return;
    case dpbInstanceName:
        if (isFirebird) return;
        CheckValueLength("DPB", name, value);
        dpb.Clump(code, value);
        return;
    case isc_dpb_sweep:
        dpb.Byte(code, 2);
        return;
    case isc_dpb_sweep_interval: {
        const quint32 v = quint32(ValueToInt(value));
        QByteArray bytes;
        for (int i = 0; i < 4; ++i)
            bytes.append(char((v >> (8 * i)) & 0xFF));
        dpb.Clump(code, bytes);
        return;
    }
    case isc_dpb_activate_shadow:
    case isc_dpb_delete_shadow:
    case isc_dpb_begin_log:
    case isc_dpb_quit_log:
        dpb.Byte(code, 0);
        return;
    case isc_dpb_garbage_collect:
    case isc_dpb_no_garbage_collect:
        dpb.Byte(code, 1);
        return;
    case isc_dpb_no_db_triggers:
        if (isFirebird) dpb.Byte(code, 1);
        return;
    case isc_dpb_online:
        dpb.Clump(code, QByteArray());
        return;
    case isc_dpb_utf8_filename:
        if (isFirebird) dpb.Clump(code, QByteArray());
        return;
    case isc_dpb_shutdown:
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
    {"autocommit", isc_tpb_autocommit},
    {"commit_time", isc_tpb_commit_time},
    {"concurrency", isc_tpb_concurrency},
    {"consistency", isc_tpb_consistency},
    {"exclusive", isc_tpb_exclusive},
    {"ignore_limbo", isc_tpb_ignore_limbo},
    {"lock_read", isc_tpb_lock_read},
    {"lock_timeout", isc_tpb_lock_timeout},
    {"lock_write", isc_tpb_lock_write},
    {"no_auto_undo", isc_tpb_no_auto_undo},
    {"no_rec_version", isc_tpb_no_rec_version},
    // InterBase's name for the code Firebird calls lock_timeout.
    {"no_savepoint", isc_tpb_lock_timeout},
    {"nowait", isc_tpb_nowait},
    {"protected", isc_tpb_protected},
    {"read", isc_tpb_read},
    {"read_committed", isc_tpb_read_committed},
    {"rec_version", isc_tpb_rec_version},
    {"restart_requests", isc_tpb_restart_requests},
    {"shared", isc_tpb_shared},
    {"verb_time", isc_tpb_verb_time},
    {"wait", isc_tpb_wait},
    {"write", isc_tpb_write},
};

int CompareTextAZ(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t ca = AsciiLowerCase(char16_t(uchar(a[i])));
        const char16_t cb = AsciiLowerCase(char16_t(uchar(b[i])));
        if (ca != cb) return ca < cb ? -1 : 1;
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

namespace {

// The codes of the error clusters, read within the vector's bounds: a vector the client
// library filled wrongly must not send us past its end.
std::vector<qint32> StatusErrorCodes(const ISC_STATUS* status) {
    std::vector<qint32> codes;
    int i = 0;
    while (i < StatusVectorLength - 1 && status[i] != isc_arg_end) {
        if (status[i] == isc_arg_gds && status[i + 1] != 0) codes.push_back(qint32(status[i + 1]));
        i += status[i] == isc_arg_cstring ? 3 : 2;
    }
    return codes;
}

} // namespace

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
            sqlMessage[0] = AsciiUpperCase(sqlMessage.front());
            // Its own line, as each server message has: run into the next one, the two would
            // read as one sentence ("…object.No permission…").
            if (!sqlMessage.endsWith(QLatin1Char('.'))) sqlMessage += QLatin1Char('.');
            sqlMessage += CRLF;
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

    EFIBInterBaseError error(sqlCode, ibMessage, sqlMessage, QString(), Sender);
    error.SetIBErrorCodes(StatusErrorCodes(status));
    throw error;
}

namespace {

template <size_t N> bool HasAnyCode(const EFIBError& error, const qint32 (&codes)[N]) {
    for (const qint32 code : error.IBErrorCodes())
        if (std::find(std::begin(codes), std::end(codes), code) != std::end(codes)) return true;
    return false;
}

} // namespace

bool IsConnectionLost(const EFIBError& error) {
    static constexpr qint32 lost[] = {isc_network_error,      isc_net_read_err, isc_net_write_err,
                                      isc_lost_db_connection, isc_conn_lost,    isc_shutdown,
                                      isc_att_shutdown};
    return HasAnyCode(error, lost);
}

bool IsLockConflict(const EFIBError& error) {
    static constexpr qint32 conflict[] = {isc_lock_conflict, isc_update_conflict, isc_deadlock,
                                          isc_lock_timeout};
    return HasAnyCode(error, conflict);
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
        {"attachment", isc_dpb_shut_attachment},
        {"cache", isc_dpb_shut_cache},
        {"force", isc_dpb_shut_force},
        {"full", isc_dpb_shut_full},
        {"mode_mask", isc_dpb_shut_mode_mask},
        {"multi", isc_dpb_shut_multi},
        {"normal", isc_dpb_shut_normal},
        {"single", isc_dpb_shut_single},
        {"transaction", isc_dpb_shut_transaction},
    };
    // The words are known in any letter case; the single-byte text survives the round trip.
    const QByteArray words = StringToAnsi(AsciiLowerCase(AnsiToString(value)));
    qint32 result = 0;
    qsizetype start = 0;
    while (start <= words.size()) {
        qsizetype end = start;
        while (end < words.size() && words[end] != ',' && words[end] != ';')
            ++end;
        const QByteArray piece = words.mid(start, end - start);
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

namespace {

bool IsAccountText(int code) {
    return code == isc_dpb_user_name || code == isc_dpb_password || code == isc_dpb_sql_role_name;
}

bool BeyondAscii(const QByteArray& bytes) {
    return std::any_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) >= 0x80; });
}

// A password line loses only the blanks in front of its name: blanks typed in a password are
// part of it, and a password trimmed here could never log in.
QString TrimParameterLine(const QString& line) {
    qsizetype start = 0;
    while (start < line.size() && line[start].unicode() <= 32)
        ++start;
    const qsizetype eq = line.indexOf(QLatin1Char('='), start);
    if (eq >= 0) {
        QByteArray name = StringToAnsi(AsciiLowerCase(line.mid(start, eq - start)));
        if (name.startsWith("isc_dpb_")) name.remove(0, 8);
        if (name == "password") return line.mid(start);
    }
    return Trim(line);
}

} // namespace

QByteArray GenerateDPB(TStrings& params, bool isFirebird, bool* textsInUtf8) {
    TDPBWriter dpb;
    dpb.block.append(char(isc_dpb_version1));
    // The account's texts and where each clump starts, should they have to go in UTF-8.
    struct TAccountClump {
        qsizetype offset;
        int code;
        QByteArray value;
    };
    std::vector<TAccountClump> account;
    bool accountBeyondAscii = false;
    qsizetype configOffset = -1;
    QByteArray config;
    for (int i = 0; i < params.Count(); ++i) {
        const QString line = TrimParameterLine(params.Strings(i));
        params.SetStrings(i, line);
        if (line.isEmpty()) continue;
        QByteArray name;
        QByteArray value;
        SplitParameter(line, name, value);
        if (name.startsWith("isc_dpb_")) name.remove(0, 8);
        const int code = DPBConstantCode(name);
        if (code == isc_dpb_config) {
            if (configOffset < 0) configOffset = dpb.block.size();
            if (!config.isEmpty()) config.append('\n');
            config.append(value);
            CheckValueLength("DPB", name, config);
            CheckBlockLength("DPB", int(dpb.block.size() + config.size() + 2));
            continue;
        }
        if (IsAccountText(code)) {
            account.push_back({dpb.block.size(), code, value});
            accountBeyondAscii = accountBeyondAscii || BeyondAscii(value);
        }
        AppendDPBParameter(dpb, code, name, value, isFirebird);
        CheckBlockLength("DPB", int(dpb.block.size() + (configOffset < 0 ? 0 : config.size() + 2)));
    }
    if (configOffset >= 0) {
        QByteArray clump;
        clump.append(char(isc_dpb_config));
        clump.append(char(config.size()));
        clump.append(config);
        dpb.block.insert(configOffset, clump);
        for (TAccountClump& a : account)
            if (a.offset >= configOffset) a.offset += clump.size();
    }
    bool utf8 = false;
#ifndef Q_OS_WIN
    if (isFirebird && accountBeyondAscii) {
        utf8 = true;
        // From the last clump to the first, so that the offsets before each stay true.
        for (auto it = account.rbegin(); it != account.rend(); ++it) {
            const QByteArray text = AnsiToString(it->value).toUtf8();
            CheckValueLength("DPB", StringToAnsi(DPBConstantName(it->code)), text);
            QByteArray clump;
            clump.append(char(it->code));
            clump.append(char(text.size()));
            clump.append(text);
            dpb.block.replace(it->offset, it->value.size() + 2, clump);
        }
        dpb.Clump(isc_dpb_utf8_filename, QByteArray());
        CheckBlockLength("DPB", int(dpb.block.size()));
    }
#endif
    if (textsInUtf8) *textsInUtf8 = utf8;
    return dpb.block;
}

// ---------------------------------------------------------------------------------------------
// Transaction parameter block

QByteArray GenerateTPB(TStrings& params, bool lockTimeoutAllowed) {
    if (params.Count() == 0) return QByteArray();
    QByteArray tpb(1, char(isc_tpb_version3));
    for (int i = 0; i < params.Count(); ++i) {
        const QString line = Trim(params.Strings(i));
        params.SetStrings(i, line);
        if (line.isEmpty()) continue;
        QByteArray name;
        QByteArray value;
        SplitParameter(line, name, value);
        if (name.startsWith("isc_tpb_")) name.remove(0, 8);
        const int code = TPBConstantCode(name);
        switch (code) {
        case isc_tpb_consistency:
        case isc_tpb_concurrency:
        case isc_tpb_shared:
        case isc_tpb_protected:
        case isc_tpb_exclusive:
        case isc_tpb_wait:
        case isc_tpb_nowait:
        case isc_tpb_read:
        case isc_tpb_write:
        case isc_tpb_ignore_limbo:
        case isc_tpb_read_committed:
        case isc_tpb_rec_version:
        case isc_tpb_no_rec_version:
        case isc_tpb_no_auto_undo:
            tpb.append(char(code));
            break;
        case isc_tpb_lock_read:
        case isc_tpb_lock_write:
            CheckValueLength("TPB", name, value);
            tpb.append(char(code));
            tpb.append(char(value.size()));
            tpb.append(value);
            break;
        case isc_tpb_lock_timeout:
            tpb.append(char(code));
            if (lockTimeoutAllowed) {
                const qint32 seconds = StrToIntDef(AnsiToString(value), 10);
                tpb.append(char(2));
                tpb.append(char(seconds & 0xFF));
                tpb.append(char((seconds >> 8) & 0xFF));
            }
            break;
        case 0:
            RaiseClientError(11, AnsiToString(name));
        default:
            RaiseClientError(10, TPBConstantName(code));
        }
    }
    CheckBlockLength("TPB", int(tpb.size()));
    return tpb;
}

// ---------------------------------------------------------------------------------------------
// Text for the server

QByteArray ServerAnsiText(const QString& text) {
    QByteArray bytes;
    ServerAnsiTextInto(text, bytes);
    return bytes;
}

void ServerAnsiTextInto(const QString& text, QByteArray& bytes) {
    const char16_t* data = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    if (n == 0 && !bytes.isDetached()) {
        bytes.clear();
        return;
    }
    bytes.resize(n);
    char* out = bytes.data();
    // One pass that copies and gathers the high bits; the rare refusal looks for its character.
    // A statement's text comes here at every prepare: sixteen units at a time where the
    // processor packs them (a unit over 0xFF saturates, and the check refuses the text anyway).
    qsizetype i = 0;
    char16_t high = 0;
#if defined(__SSE2__)
    __m128i wide = _mm_setzero_si128();
    for (; n - i >= 16; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 8));
        wide = _mm_or_si128(wide, _mm_or_si128(a, b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
    }
    const __m128i highBytes = _mm_and_si128(wide, _mm_set1_epi16(qint16(0xFF00)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(highBytes, _mm_setzero_si128())) != 0xFFFF) high = 0x100;
#endif
    for (; i < n; ++i) {
        high |= data[i];
        out[i] = char(data[i]);
    }
    if (high > 0xFF) {
        bytes.clear();
        for (qsizetype k = 0; k < n; ++k)
            if (data[k] > 0xFF) RaiseUnsendable(text, k);
    }
}
