// libFuzzer target for the transaction parameter block: arbitrary parameter lines (the input
// split at LF) must either raise one of the layer's own errors or give a block that an
// independent reading walks to its exact end: version byte 3, then items that are a bare code,
// a code with a counted table name (lock_read, lock_write) or, when a lock timeout is allowed,
// the lock timeout with its two bytes. Every line is also checked against a table of item kinds
// kept here, and the whole list must give the version byte followed by the single lines' items,
// or fail where its first failing line fails. Both settings of the lock timeout flag see every
// input.
//
// Build and run: scripts/fuzz (see tests/fuzz/README.md).
#include "FuzzSupport.h"
#include "fib.h"

#include <ibase.h>

#include <QByteArray>
#include <QHash>

namespace {

enum class TKind { Bare, Table, LockTimeout, Unsupported };

const QHash<QByteArray, QPair<int, TKind>>& Kinds() {
    static const QHash<QByteArray, QPair<int, TKind>> kinds = {
        {"consistency", {isc_tpb_consistency, TKind::Bare}},
        {"concurrency", {isc_tpb_concurrency, TKind::Bare}},
        {"shared", {isc_tpb_shared, TKind::Bare}},
        {"protected", {isc_tpb_protected, TKind::Bare}},
        {"exclusive", {isc_tpb_exclusive, TKind::Bare}},
        {"wait", {isc_tpb_wait, TKind::Bare}},
        {"nowait", {isc_tpb_nowait, TKind::Bare}},
        {"read", {isc_tpb_read, TKind::Bare}},
        {"write", {isc_tpb_write, TKind::Bare}},
        {"ignore_limbo", {isc_tpb_ignore_limbo, TKind::Bare}},
        {"read_committed", {isc_tpb_read_committed, TKind::Bare}},
        {"rec_version", {isc_tpb_rec_version, TKind::Bare}},
        {"no_rec_version", {isc_tpb_no_rec_version, TKind::Bare}},
        {"no_auto_undo", {isc_tpb_no_auto_undo, TKind::Bare}},
        {"lock_read", {isc_tpb_lock_read, TKind::Table}},
        {"lock_write", {isc_tpb_lock_write, TKind::Table}},
        {"lock_timeout", {isc_tpb_lock_timeout, TKind::LockTimeout}},
        {"no_savepoint", {isc_tpb_lock_timeout, TKind::LockTimeout}},
        {"verb_time", {isc_tpb_verb_time, TKind::Unsupported}},
        {"commit_time", {isc_tpb_commit_time, TKind::Unsupported}},
        {"autocommit", {isc_tpb_autocommit, TKind::Unsupported}},
        {"restart_requests", {isc_tpb_restart_requests, TKind::Unsupported}},
    };
    return kinds;
}

// The item one trimmed line must give; false when the line must be refused.
bool ExpectedItem(const QString& trimmed, bool lockTimeoutAllowed, QByteArray& item) {
    item.clear();
    if (trimmed.isEmpty()) return true;
    const qsizetype eq = trimmed.indexOf(QLatin1Char('='));
    QByteArray name = StringToAnsi(eq < 0 ? trimmed : trimmed.left(eq));
    // A value the 8-bit set cannot carry is refused before its name is looked at.
    if (eq >= 0 && HasWideCharacter(QStringView(trimmed).mid(eq + 1))) return false;
    const QByteArray value = eq < 0 ? QByteArray() : StringToAnsi(trimmed.mid(eq + 1));
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    if (name.startsWith("isc_tpb_")) name.remove(0, 8);
    const auto found = Kinds().constFind(name);
    if (found == Kinds().constEnd() || found->second == TKind::Unsupported) return false;
    item.append(char(found->first));
    switch (found->second) {
    case TKind::Table:
        if (value.size() > 255) return false;
        item.append(char(value.size()));
        item.append(value);
        break;
    case TKind::LockTimeout:
        if (lockTimeoutAllowed) {
            qint32 seconds = 10;
            if (!TryStrToInt(AnsiToString(value), seconds)) seconds = 10;
            item.append(char(2));
            item.append(char(seconds & 0xFF));
            item.append(char((seconds >> 8) & 0xFF));
        }
        break;
    default:
        break;
    }
    return true;
}

void RequireWellFormed(const QByteArray& block, bool lockTimeoutAllowed) {
    Require(!block.isEmpty() && block[0] == char(isc_tpb_version3));
    qsizetype at = 1;
    while (at < block.size()) {
        const int code = uchar(block[at++]);
        switch (code) {
        case isc_tpb_lock_read:
        case isc_tpb_lock_write:
            Require(at < block.size());
            at += 1 + uchar(block[at]);
            break;
        case isc_tpb_lock_timeout:
            if (!lockTimeoutAllowed) break;
            Require(at < block.size() && block[at] == 2);
            at += 3;
            break;
        default:
            Require((code >= 1 && code <= 9) || code == 14 || code == 15 || code == 17 ||
                    code == 18 || code == 20);
        }
        Require(at <= block.size());
    }
}

void Check(const QStringList& lines, bool lockTimeoutAllowed) {
    QByteArray expectedBlock(1, char(isc_tpb_version3));
    qsizetype failingLine = -1;
    for (qsizetype i = 0; i < lines.size() && failingLine < 0; ++i) {
        QByteArray item;
        if (!ExpectedItem(Trim(lines[i]), lockTimeoutAllowed, item)) failingLine = i;
        expectedBlock += item;
    }

    TStringList params;
    FillList(params, lines);
    QByteArray block;
    QString message;
    const TOutcome outcome =
        Run<EFIBClientError>([&] { block = GenerateTPB(params, lockTimeoutAllowed); }, message);
    Require(params.Count() == lines.size());
    if (failingLine >= 0) {
        Require(outcome == TOutcome::ClientError);
        for (qsizetype i = 0; i < lines.size(); ++i)
            Require(params.Strings(int(i)) == (i <= failingLine ? Trim(lines[i]) : lines[i]));
        TStringList alone;
        alone.Add(lines[failingLine]);
        QString aloneMessage;
        Require(Run<EFIBClientError>([&] { GenerateTPB(alone, lockTimeoutAllowed); },
                                     aloneMessage) == TOutcome::ClientError &&
                aloneMessage == message);
        return;
    }
    Require(outcome == TOutcome::Result);
    RequireWellFormed(block, lockTimeoutAllowed);
    Require(block == expectedBlock);
    for (qsizetype i = 0; i < lines.size(); ++i)
        Require(params.Strings(int(i)) == Trim(lines[i]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList lines = FuzzLines(FuzzText(data, size));
    Check(lines, true);
    Check(lines, false);
    // No lines at all: an empty block, so that the client library's defaults apply.
    TStringList none;
    Require(GenerateTPB(none, true).isEmpty());
    return 0;
}
