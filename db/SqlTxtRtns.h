// Statement texts between the application and the server: the application writes named
// parameters (:P0, ?NAME, :"Mixed") and macros (@NAME, @@NAME%default@), the server only takes
// positional "?". The routines here classify a text, find its parameters and macros, and build
// the server text. Pure text work: nothing here touches the client library.
#pragma once

#include <QChar>
#include <QLatin1String>
#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

class TComponent;

// The ordinal values are stored and compared elsewhere: never reorder.
enum TSQLKind : quint8 {
    skUnknown = 0,
    skSelect = 1,
    skUpdate = 2,
    skInsert = 3,
    skDelete = 4,
    skExecuteProc = 5,
    skDDL = 6,
    skExecuteBlock = 7,
    skUpdateOrInsert = 8,
};

// Holds one statement's text and what can be told about it from its first words.
class TSQLParser {
public:
    TSQLParser() = default;

    const QString& SQLText() const { return FSQLText; }
    // Stores the text and recomputes FirstPos, SQLKind and CanParamsCheck.
    void SetSQLText(const QString& value);

    qint32 Len() const { return FLen; }
    // 1-based position of the first character after leading filler and comments.
    qint32 FirstPos() const { return FFirstPos; }
    TSQLKind SQLKind() const { return FSQLKind; }
    // False for DDL (and before any text is set): ":" and "?" are then ordinary characters.
    bool CanParamsCheck() const { return FCanParamsCheck; }

private:
    QString FSQLText;
    qint32 FLen = 0;
    qint32 FFirstPos = 1;
    TSQLKind FSQLKind = skUnknown;
    bool FCanParamsCheck = false;
};

// One parameter or macro occurrence found by ParseParams, in text order.
struct TParamOccurrence {
    // As written, without the marker, without the quotes of a quoted name, and for a macro
    // without the macro character and without its default value.
    QString Name;
    // A parameter: its name was written in double quotes (case kept). A macro: its default
    // started with "#", so its value goes into the text between apostrophes (SplitMacro).
    bool Quoted = false;
    // Parameter-list mode only: text mode never lists macros.
    bool IsMacro = false;
    // A macro's default (the text after "%", without a leading "#"); empty when none.
    QString DefMacroValue;
    bool InWhereClause = false;
    // In a WHERE clause and not followed by an arithmetic or concatenation operator, so that
    // "= :P" may become "IS NULL" when the value is NULL.
    bool CanForceIsNull = false;
    // 1-based position of the marker character (':', '?' or the macro character).
    qint32 BeginPosInText = 0;
    // 1-based position of the last character: last name character, closing double quote, or
    // closing macro character of a bracketed macro.
    qint32 EndPosInText = 0;
};

struct TParseParamsResult {
    std::vector<TParamOccurrence> Params;
    // Text mode only (empty in parameter-list mode): the input with every parameter marker
    // replaced by "?" and every further character of the parameter by a space, so that it has
    // the input's length and every position in it is the input's position.
    QString ServerText;
};

// The parts of a macro occurrence's text.
struct TMacroParts {
    QString Name;
    QString DefMacroValue;
    // The default started with "#": the value goes into the text between single quotes.
    bool Quoted = false;
};

// The characters that end a keyword (and over which a NULL comparison walks back to its
// operator): NUL, blanks, the double quote, "(", "-", "/", ";" and "^".
bool IsKeywordDelimiter(char16_t c);

// True when the upper-case Keyword stands at the 1-based position Pos of Text as a word of its
// own: preceded by the text start or a keyword predecessor, followed by the text end or a
// keyword delimiter. Lower-case ASCII letters in the text match.
bool IsKeywordAt(QLatin1String Keyword, QStringView Text, qint32 Pos);

// From the 1-based position Pos, the position after leading filler, "--" line comments and
// "/* */" block comments. A lone "-" or "/" stops the skipping.
qint32 SkipBlanksAndComments(QStringView Text, qint32 Pos);

// Cheap pre-check: false when the text cannot hold a parameter or macro marker outside quotes
// and comments. A true answer does not promise a parameter.
bool HasParamMarkers(QStringView Text, QChar MacroChar);

// The parameter scan.
//   Kind, ParamsAllowed: the parser's SQLKind and CanParamsCheck for this text.
//   ParamListMode: true builds the parameters the application sees (macros included, no
//     server text); false builds the server text (macros, already expanded, are not listed).
//   Statement: names the statement in the messages (ComponentPath) and tells, through
//     csLoading on it or any of its owners, that a missing parameter name must be ignored.
// Raises EFIBClientError (message 51) for "EOF in comment detected", "EOF in string detected"
// and "Parameter name expected". Returns nothing when the scan stopped silently on a missing
// name while loading: the caller keeps its previous parameter list.
std::optional<TParseParamsResult> ParseParams(const QString& Text, QChar MacroChar, TSQLKind Kind,
                                              bool ParamsAllowed, bool ParamListMode,
                                              const TComponent* Statement);

// The same scan into a result the caller keeps from one text to the next: its occurrences,
// names and server text buffer are written over, so that a text scanned again with the same
// shapes allocates nothing. False for the silent stop, the result then holding nothing of use.
bool ParseParamsInto(TParseParamsResult& Result, const QString& Text, QChar MacroChar,
                     TSQLKind Kind, bool ParamsAllowed, bool ParamListMode,
                     const TComponent* Statement);

// Turns Scan, a scan of Before in either mode, into the scan of After when After is Before with
// one number written in place of another, standing alone between blanks or punctuation: the
// identifier of a statement made once per row. The occurrences behind the number move by the
// change of length and a server text takes the new number; no scan could read the digits as
// part of a name, a marker or a comment opener, so a fresh scan of After finds the same. False,
// with Scan left as it was, for any other difference; true at once when the texts are equal.
bool MoveScanToOtherNumber(TParseParamsResult& Scan, const QString& Before, const QString& After,
                           QChar MacroChar);

// Splits a macro occurrence's text ("@NAME%default", "NAME%#quoted", …) into its name (macro
// character dropped, at most 255 characters), its default value and its quoted flag.
TMacroParts SplitMacro(const QString& MacroText, QChar MacroChar);
