// libFuzzer target for the parameter scan: any text must either raise one of the scan's own
// errors or give a server text of the input's length whose parameters sit at "?" marks.
//
// Build and run (needs clang++; the target is never part of ctest):
//   - a Clang build of the project builds it directly:
//       cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++
//       ninja -C build-fuzz fuzz_parseparams
//       build-fuzz/tests/fuzz_parseparams -max_total_time=60 -max_len=512
//   - from a g++ build, -DRAVELIN_FUZZ=ON configures tests/fuzz as a separate clang++ project:
//       cmake -S . -B build -G Ninja -DRAVELIN_FUZZ=ON && ninja -C build fuzz_parseparams_build
//       build/fuzz/fuzz_parseparams -max_total_time=60 -max_len=512
// The first input byte picks the mode, the macro character and whether the statement is being
// loaded; the rest is read as UTF-8, so code units past Latin-1 are reached too.
#include "SqlTxtRtns.h"

#include "Classes.h"
#include "fib.h"

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
    } catch (const EFIBClientError& e) {
        Require(e.SQLCode() == 51);
    }
    return 0;
}
