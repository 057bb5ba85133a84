// libFuzzer target for the rewriting of statement texts: macros replaced by their values and
// comparisons with NULL parameters in a WHERE clause turned into IS NULL / IS NOT NULL tests.
// The rewritten text is rebuilt here independently, piece by piece from the original text and
// the occurrences the scan reported: the text between occurrences is copied unchanged, a macro
// becomes its value (between apostrophes when quoted and not already starting with one), and a
// NULL parameter after "=", "!=", "^=", "~=" or "<>" (blanks and other keyword delimiters in
// between) takes the operator with it into the test; ">=", "<=" and anything else stay. A text
// without macros and without rewriting goes to the server with "?" at each parameter and blanks
// over the rest of its name, everything else in place. Restoring the defaults gives each macro
// written once its default again, and the text is rebuilt from them.
//
// Input: byte 0 holds the options (bit 0: ":" as macro character instead of "@"; bit 1: no
// NULL rewriting), byte 1 says which plain parameters get a value (bit i for the i-th, modulo
// 8); the rest, read as UTF-8 without the characters past Latin-1 and cut at the character 0x1E, is
// the statement text followed by the values given to its macros in order of occurrence.
//
// Build and run: scripts/fuzz (see tests/fuzz/README.md).
#include "FuzzSupport.h"
#include "fib.h"
#include "pFIBQuery.h"

#include <QHash>

#include <memory>

namespace {

// The characters a NULL comparison walks back over to reach its operator.
bool IsDelimiter(QChar c) {
    static const QString delimiters = QStringLiteral("\t\n\r \"(-/;^");
    return c.unicode() == 0 || delimiters.contains(c);
}

// The replacement of a NULL parameter whose text so far is `out`: the operator and what
// follows it are cut off and the test returned; empty when the comparison stays.
QString CutNullComparison(QString& out) {
    qsizetype k = out.size();
    while (k > 0 && IsDelimiter(out[k - 1]))
        --k;
    if (k == 0) return {};
    const QChar last = out[k - 1];
    const QChar before = k >= 2 ? out[k - 2] : QChar();
    if (last == QLatin1Char('=')) {
        if (before == QLatin1Char('!') || before == QLatin1Char('^') ||
            before == QLatin1Char('~')) {
            out.truncate(k - 2);
            return QStringLiteral(" IS NOT NULL ");
        }
        if (before == QLatin1Char('<') || before == QLatin1Char('>')) return {};
        out.truncate(k - 1);
        return QStringLiteral(" IS NULL ");
    }
    if (last == QLatin1Char('>') && before == QLatin1Char('<')) {
        out.truncate(k - 2);
        return QStringLiteral(" IS NOT NULL ");
    }
    return {};
}

QString ExpectedText(const QString& text, TFIBXSQLDA& params, bool mayForce) {
    QString out;
    qint32 next = 1;
    for (int i = 0; i < params.Count(); ++i) {
        TFIBXSQLVAR* var = params.Vars(i);
        const qint32 begin = var->BeginPosInText();
        const qint32 end = var->EndPosInText();
        out += QStringView(text).mid(next - 1, begin - next);
        next = end + 1;
        const QStringView written = QStringView(text).mid(begin - 1, end - begin + 1);
        if (var->IsMacro()) {
            QString value = var->AsString();
            if (var->Quoted() && !value.startsWith(QLatin1Char('\'')))
                value = QLatin1Char('\'') + value + QLatin1Char('\'');
            out += value;
            continue;
        }
        QString test;
        if (mayForce && var->InWhereClause() && var->CanForceIsNull() && var->IsNull()) {
            QString cut = out;
            test = CutNullComparison(cut);
            if (!test.isEmpty()) out = cut + test;
        }
        if (test.isEmpty()) out += written;
    }
    out += QStringView(text).mid(next - 1);
    return out;
}

// Occurrences in text order, each inside the text and after the previous one.
void RequireOrderedOccurrences(const QString& text, TFIBXSQLDA& params) {
    qint32 lastEnd = 0;
    for (int i = 0; i < params.Count(); ++i) {
        const TFIBXSQLVAR* var = params.Vars(i);
        Require(var->BeginPosInText() > lastEnd && var->EndPosInText() >= var->BeginPosInText() &&
                var->EndPosInText() <= text.size());
        lastEnd = var->EndPosInText();
    }
}

// The server text of an unchanged text: "?" at each marker, blanks over the rest of the name.
void RequireServerText(const QString& text, const QString& server, TFIBXSQLDA& params) {
    Require(server.size() == text.size());
    QString expected = text;
    for (int i = 0; i < params.Count(); ++i) {
        const TFIBXSQLVAR* var = params.Vars(i);
        for (qint32 p = var->BeginPosInText(); p <= var->EndPosInText(); ++p)
            expected[p - 1] = p == var->BeginPosInText() ? QLatin1Char('?') : QLatin1Char(' ');
    }
    Require(server == expected);
}

// Only the scan's own errors are expected from a text.
template <class F> bool Scans(F&& call) {
    try {
        call();
        return true;
    } catch (const EFIBClientError& e) {
        Require(e.SQLCode() == 51);
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TComponent form;
    if (size < 2) return 0;
    const uint8_t options = data[0];
    const uint8_t valued = data[1];
    // Within Latin-1: a wider character makes the layer refuse the text when it is encoded for
    // the server (a rule of its own, tested with the statements), which says nothing about the
    // rewriting this target is about.
    QString input = FuzzText(data + 2, size - 2);
    input.removeIf([](QChar c) { return c.unicode() > 0xFF; });
    const QStringList pieces = input.split(QChar(0x1E));
    const bool noForce = options & 2;

    auto query = std::make_unique<TpFIBQuery>(&form);
    query->SetMacroChar((options & 1) ? QLatin1Char(':') : QLatin1Char('@'));
    if (noForce) query->SetOptions(qoNoForceIsNull);
    if (!Scans([&] { query->SQL().SetText(pieces[0]); })) return 0;
    const QString text = query->SQL().Text();
    TFIBXSQLDA* params = nullptr;
    if (!Scans([&] { params = query->Params(); })) return 0;
    RequireOrderedOccurrences(text, *params);

    qsizetype nextValue = 1;
    for (int i = 0; i < params->Count(); ++i) {
        TFIBXSQLVAR* var = params->Vars(i);
        if (var->IsMacro()) {
            if (nextValue >= pieces.size()) continue;
            var->SetAsString(pieces[nextValue++]);
            Require(var->AsString() == pieces[nextValue - 1]);
        } else if (valued & (1u << (i % 8))) {
            var->SetAsInteger(1);
        }
    }

    const QString ready = query->ReadySQLText(false);
    Require(ready == ExpectedText(text, *params, !noForce));
    // A text whose parameters were listed scanned to its end. A text without any was not scanned
    // at all when the pre-check found no marker (it never looks at the first character), so it
    // may hold an unclosed comment or a macro right at its start.
    const bool unchanged = !query->HaveMacros() && ready == text;
    const bool scanned = params->Count() > 0;
    if (Scans([&] { query->ApplyMacro(); })) {
        if (unchanged && scanned)
            RequireServerText(text, query->ProcessedSQL(), *params);
        else
            Require(query->ProcessedSQL().size() == ready.size());
    } else {
        // Only an expanded macro can bring a fault into a text that scanned.
        Require(!(unchanged && scanned));
    }

    // Occurrences of one name share one value, so a name written twice with two defaults ends
    // with the last one; a macro written once takes its own.
    query->RestoreMacroDefaultValues();
    QHash<QString, int> written;
    for (int i = 0; i < params->Count(); ++i)
        ++written[AsciiUpperCase(params->Vars(i)->Name())];
    for (int i = 0; i < params->Count(); ++i) {
        TFIBXSQLVAR* var = params->Vars(i);
        if (var->IsMacro() && written.value(AsciiUpperCase(var->Name())) == 1)
            Require(var->AsString() == var->DefMacroValue());
    }
    Require(query->ReadySQLText(false) == ExpectedText(text, *params, !noForce));
    return 0;
}
