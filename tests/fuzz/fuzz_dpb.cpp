// libFuzzer target for the database parameter block: arbitrary parameter lines (the input split
// at LF) must either raise one of the layer's own errors or give a block that an independent
// reading walks item by item (version byte, then code, length, value) to its exact end. Every
// line is also built alone and checked against a table of value kinds kept here, written from
// the block format rather than taken from the builder; the whole list must give the version
// byte followed by the single lines' items, or fail exactly where its first failing line fails.
// Both variants of the builder, Firebird and not, see every input.
//
// Build and run: scripts/fuzz (see tests/fuzz/README.md).
#include "FuzzSupport.h"
#include "fib.h"

#include <ibase.h>

#include <QByteArray>
#include <QHash>

#include <algorithm>
#include <optional>

namespace {

enum class TKind { Byte, Text, Dialect, Sweep, FourBytes, ZeroFlag, OneFlag, Empty, Shutdown };

struct TEntry {
    int code;
    TKind kind;
    // 1: only with the Firebird variant; -1: only without it; 0: both.
    int firebird = 0;
};

const QHash<QByteArray, TEntry>& Kinds() {
    static const QHash<QByteArray, TEntry> kinds = {
        {"num_buffers", {isc_dpb_num_buffers, TKind::Byte}},
        {"verify", {isc_dpb_verify, TKind::Byte}},
        {"dbkey_scope", {isc_dpb_dbkey_scope, TKind::Byte}},
        {"damaged", {isc_dpb_damaged, TKind::Byte}},
        {"force_write", {isc_dpb_force_write, TKind::Byte}},
        {"no_reserve", {isc_dpb_no_reserve, TKind::Byte}},
        {"online_dump", {isc_dpb_online_dump, TKind::Byte}},
        {"old_file_size", {isc_dpb_old_file_size, TKind::Byte}},
        {"shutdown_delay", {isc_dpb_shutdown_delay, TKind::Byte}},
        {"overwrite", {isc_dpb_overwrite, TKind::Byte}},
        {"connect_timeout", {isc_dpb_connect_timeout, TKind::Byte}},
        {"dummy_packet_interval", {isc_dpb_dummy_packet_interval, TKind::Byte}},
        {"license", {isc_dpb_license, TKind::Text}},
        {"sys_user_name", {isc_dpb_sys_user_name, TKind::Text}},
        {"encrypt_key", {isc_dpb_encrypt_key, TKind::Text}},
        {"user_name", {isc_dpb_user_name, TKind::Text}},
        {"password", {isc_dpb_password, TKind::Text}},
        {"password_enc", {isc_dpb_password_enc, TKind::Text}},
        {"old_file", {isc_dpb_old_file, TKind::Text}},
        {"lc_messages", {isc_dpb_lc_messages, TKind::Text}},
        {"lc_ctype", {isc_dpb_lc_ctype, TKind::Text}},
        {"sql_role_name", {isc_dpb_sql_role_name, TKind::Text}},
        {"sql_dialect", {isc_dpb_sql_dialect, TKind::Dialect}},
        {"set_db_charset", {isc_dpb_set_db_charset, TKind::Text, 1}},
        {"instance_name", {75, TKind::Text, -1}},
        {"sweep", {isc_dpb_sweep, TKind::Sweep}},
        {"sweep_interval", {isc_dpb_sweep_interval, TKind::FourBytes}},
        {"activate_shadow", {isc_dpb_activate_shadow, TKind::ZeroFlag}},
        {"delete_shadow", {isc_dpb_delete_shadow, TKind::ZeroFlag}},
        {"begin_log", {isc_dpb_begin_log, TKind::ZeroFlag}},
        {"quit_log", {isc_dpb_quit_log, TKind::ZeroFlag}},
        {"garbage_collect", {isc_dpb_garbage_collect, TKind::OneFlag}},
        {"no_garbage_collect", {isc_dpb_no_garbage_collect, TKind::OneFlag}},
        {"no_db_triggers", {isc_dpb_no_db_triggers, TKind::OneFlag, 1}},
        {"online", {isc_dpb_online, TKind::Empty}},
        {"utf8_filename", {isc_dpb_utf8_filename, TKind::Empty, 1}},
        {"shutdown", {isc_dpb_shutdown, TKind::Shutdown}},
        // The InterBase names of the three codes Firebird took over: the code decides.
        {"gbak_ods_version", {isc_dpb_set_db_charset, TKind::Text, 1}},
        {"client_interbase_var", {isc_dpb_no_db_triggers, TKind::OneFlag, 1}},
        {"archive_database", {isc_dpb_utf8_filename, TKind::Empty, 1}},
    };
    return kinds;
}

// What one line must give: an item (possibly none), or a failure of the given kind.
struct TExpected {
    TOutcome outcome = TOutcome::Result;
    QByteArray item;
};

TExpected Fails(TOutcome outcome) {
    return {outcome, {}};
}

TExpected Item(int code, const QByteArray& value) {
    QByteArray item;
    item.append(char(code));
    item.append(char(value.size()));
    item.append(value);
    return {TOutcome::Result, item};
}

std::optional<qint32> Integer(const QByteArray& value) {
    qint32 v = 0;
    if (!TryStrToInt(AnsiToString(value), v)) return std::nullopt;
    return v;
}

// The shutdown flags, read piece by piece between "," and ";".
std::optional<qint32> ShutdownFlags(const QByteArray& value, TOutcome& failure) {
    static const QHash<QByteArray, qint32> words = {
        {"attachment", 2}, {"cache", 1},   {"force", 8},   {"full", 64},       {"mode_mask", 112},
        {"multi", 32},     {"normal", 16}, {"single", 48}, {"transaction", 4},
    };
    qint32 flags = 0;
    for (QByteArray piece : value.toLower().replace(';', ',').split(',')) {
        if (piece.isEmpty()) continue;
        if (piece[0] >= '0' && piece[0] <= '9') {
            const auto v = Integer(piece);
            if (!v) return failure = TOutcome::ConvertError, std::nullopt;
            flags |= *v;
        } else if (words.contains(piece)) {
            flags |= words.value(piece);
        } else {
            return failure = TOutcome::ClientError, std::nullopt;
        }
    }
    return flags;
}

TExpected ExpectedItem(const QString& trimmed, bool isFirebird) {
    if (trimmed.isEmpty()) return {};
    const qsizetype eq = trimmed.indexOf(QLatin1Char('='));
    QByteArray name = StringToAnsi(eq < 0 ? trimmed : trimmed.left(eq));
    // A value the connection's 8-bit set cannot carry is refused before its name is looked at.
    if (eq >= 0 && HasWideCharacter(QStringView(trimmed).mid(eq + 1)))
        return Fails(TOutcome::ClientError);
    const QByteArray value = eq < 0 ? QByteArray() : StringToAnsi(trimmed.mid(eq + 1));
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    if (name.startsWith("isc_dpb_")) name.remove(0, 8);
    const auto found = Kinds().constFind(name);
    // Unsupported codes and unknown names alike are refused by the layer.
    if (found == Kinds().constEnd()) return Fails(TOutcome::ClientError);
    const TEntry e = *found;
    if ((e.firebird == 1 && !isFirebird) || (e.firebird == -1 && isFirebird)) return {};
    switch (e.kind) {
    case TKind::Byte: {
        const auto v = Integer(value);
        if (!v) return Fails(TOutcome::ConvertError);
        return Item(e.code, QByteArray(1, char(*v & 0xFF)));
    }
    case TKind::Dialect: {
        if (value.isEmpty()) return Fails(TOutcome::ConvertError);
        QByteArray carried = value;
        carried[0] = char(carried[0] - '0');
        return carried.size() > 255 ? Fails(TOutcome::ClientError) : Item(e.code, carried);
    }
    case TKind::Text:
        return value.size() > 255 ? Fails(TOutcome::ClientError) : Item(e.code, value);
    case TKind::Sweep:
        return Item(e.code, QByteArray(1, char(2)));
    case TKind::FourBytes: {
        const auto v = Integer(value);
        if (!v) return Fails(TOutcome::ConvertError);
        const quint32 u = quint32(*v);
        QByteArray bytes;
        for (int shift = 0; shift < 32; shift += 8)
            bytes.append(char((u >> shift) & 0xFF));
        return Item(e.code, bytes);
    }
    case TKind::ZeroFlag:
        return Item(e.code, QByteArray(1, char(0)));
    case TKind::OneFlag:
        return Item(e.code, QByteArray(1, char(1)));
    case TKind::Empty:
        return Item(e.code, QByteArray());
    case TKind::Shutdown: {
        if (value.isEmpty()) return Item(e.code, QByteArray());
        TOutcome failure = TOutcome::Result;
        const auto flags = ShutdownFlags(value, failure);
        if (!flags) return Fails(failure);
        return Item(e.code, QByteArray(1, char(*flags & 0xFF)));
    }
    }
    return {};
}

// Version byte 1, then items of code, length and value ending exactly at the block's end.
void RequireWellFormed(const QByteArray& block) {
    Require(!block.isEmpty() && block[0] == char(isc_dpb_version1));
    qsizetype at = 1;
    while (at < block.size()) {
        Require(at + 2 <= block.size());
        const int code = uchar(block[at]);
        Require(code >= 1 && code <= 83);
        at += 2 + uchar(block[at + 1]);
        Require(at <= block.size());
    }
}

// A line as the layer stores it back: trimmed, but a password line only in front of its name.
QString Stored(const QString& line) {
    qsizetype start = 0;
    while (start < line.size() && line[start].unicode() <= 32)
        ++start;
    const QString left = line.mid(start);
    const qsizetype eq = left.indexOf(QLatin1Char('='));
    QByteArray name = StringToAnsi(eq < 0 ? QString() : left.left(eq)).toLower();
    if (name.startsWith("isc_dpb_")) name.remove(0, 8);
    return name == "password" ? left : Trim(line);
}

// Config lines (merged into one clump) and account texts beyond ASCII (re-encoded in UTF-8 and
// marked) are held by the unit tests' exact blocks, not by this item-by-item oracle.
bool OutsideTheOracle(const QStringList& lines) {
    for (const QString& line : lines) {
        const QString s = Stored(line);
        const qsizetype eq = s.indexOf(QLatin1Char('='));
        QByteArray name = StringToAnsi(eq < 0 ? s : s.left(eq)).toLower();
        if (name.startsWith("isc_dpb_")) name.remove(0, 8);
        if (name == "config") return true;
        const bool account = name == "user_name" || name == "password" || name == "sql_role_name";
        if (account && eq >= 0 &&
            std::any_of(s.begin() + eq + 1, s.end(), [](QChar c) { return c.unicode() >= 0x80; }))
            return true;
    }
    return false;
}

void Check(const QStringList& lines, bool isFirebird) {
    if (OutsideTheOracle(lines)) return;
    QByteArray expectedBlock(1, char(isc_dpb_version1));
    qsizetype failingLine = -1;
    TExpected failure;
    for (qsizetype i = 0; i < lines.size() && failingLine < 0; ++i) {
        const TExpected e = ExpectedItem(Stored(lines[i]), isFirebird);
        if (e.outcome != TOutcome::Result) {
            failingLine = i;
            failure = e;
        }
        expectedBlock += e.item;
    }

    TStringList params;
    FillList(params, lines);
    QByteArray block;
    QString message;
    const TOutcome outcome =
        Run<EFIBClientError>([&] { block = GenerateDPB(params, isFirebird); }, message);
    Require(params.Count() == lines.size());
    if (failingLine < 0) {
        // A block past the 16-bit count is refused as a whole; nothing else may fail.
        if (outcome == TOutcome::ClientError && expectedBlock.size() > 32767) return;
        Require(outcome == TOutcome::Result);
        RequireWellFormed(block);
        Require(block == expectedBlock);
        for (qsizetype i = 0; i < lines.size(); ++i)
            Require(params.Strings(int(i)) == Stored(lines[i]));
        return;
    }
    Require(outcome == failure.outcome);
    // The lines up to the failing one are stored trimmed, the rest as they were.
    for (qsizetype i = 0; i < lines.size(); ++i)
        Require(params.Strings(int(i)) == (i <= failingLine ? Stored(lines[i]) : lines[i]));
    // The failing line alone fails with the same message.
    TStringList alone;
    alone.Add(lines[failingLine]);
    QString aloneMessage;
    Require(Run<EFIBClientError>([&] { GenerateDPB(alone, isFirebird); }, aloneMessage) ==
                outcome &&
            aloneMessage == message);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList lines = FuzzLines(FuzzText(data, size));
    Check(lines, true);
    Check(lines, false);
    return 0;
}
