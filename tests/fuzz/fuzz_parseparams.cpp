// libFuzzer target for the parameter scan: any text must either raise one of the scan's own
// errors or give a server text of the input's length whose parameters sit at "?" marks.
// The first input byte picks the mode, the macro character and whether the statement is being
// loaded; the rest is read as UTF-8, so code units past Latin-1 are reached too. Every "?" of
// the server text that stands where the input had no "?" must be a listed parameter's marker.
//
// Build and run: scripts/fuzz (see tests/fuzz/README.md).
#include "SqlTxtRtns.h"

#include "Classes.h"
#include "fib.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

struct TStatements {
    TComponent window;
    TComponent loadingWindow;
    TComponent* statement = new TComponent(&window);
    TComponent* loadingStatement = new TComponent(&loadingWindow);
    TStatements() {
        window.SetName(QStringLiteral("frmPrincipale"));
        statement->SetName(QStringLiteral("qryLocale"));
        loadingWindow.BeginLoading();
    }
};

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TStatements statements;
    if (size == 0) return 0;
    const uint8_t options = data[0];
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QChar macroChar = (options & 4) ? QChar(u':') : QChar(u'@');
    const TComponent* statement =
        (options & 2) ? statements.loadingStatement : statements.statement;

    TSQLParser parser;
    parser.SetSQLText(text);
    Require(parser.Len() == text.size() && parser.FirstPos() >= 1);
    Require(parser.CanParamsCheck() == (parser.SQLKind() != skDDL));
    HasParamMarkers(text, macroChar);

    const bool listMode = options & 1;
    try {
        const auto result = ParseParams(text, macroChar, parser.SQLKind(), parser.CanParamsCheck(),
                                        listMode, statement);
        if (!result) return 0;
        Require(listMode ? result->ServerText.isEmpty() : result->ServerText.size() == text.size());
        qint32 lastEnd = 0;
        for (const TParamOccurrence& o : result->Params) {
            Require(o.BeginPosInText > lastEnd && o.EndPosInText > o.BeginPosInText &&
                    o.EndPosInText <= text.size());
            Require(!o.CanForceIsNull || o.InWhereClause);
            Require(listMode || !o.IsMacro);
            if (!listMode) Require(result->ServerText.at(o.BeginPosInText - 1) == u'?');
            lastEnd = o.EndPosInText;
        }
        // Every marker the server will see belongs to a listed parameter.
        if (!listMode) {
            for (qsizetype i = 0; i < text.size(); ++i) {
                if (result->ServerText.at(i) != u'?' || text.at(i) == u'?') continue;
                Require(std::any_of(
                    result->Params.begin(), result->Params.end(),
                    [&](const TParamOccurrence& o) { return o.BeginPosInText == i + 1; }));
            }
        }
    } catch (const EFIBClientError& e) {
        Require(e.SQLCode() == 51);
    }
    return 0;
}
