#include "SqlTxtRtns.h"

#include "Classes.h"
#include "fib.h"

#include <QVarLengthArray>

#include <algorithm>
#include <array>

namespace {

constexpr char16_t NUL = 0;
constexpr char16_t TAB = 9;
constexpr char16_t LF = 10;
constexpr char16_t CR = 13;

constexpr int SQLParseErrorMessage = 51;

// Character classes work on single bytes: anything past Latin-1 is never a delimiter, never a
// name character, so national letters in literals and comments cannot end or start anything.
bool IsBlank(char16_t c) {
    return c == TAB || c == LF || c == CR || c == u' ';
}

bool IsNameChar(char16_t c) {
    return c == u'#' || c == u'$' || c == u'%' || c == u'.' || (c >= u'0' && c <= u'9') ||
           (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
}

bool IsKeywordPredecessor(char16_t c) {
    return IsBlank(c) || c == u'"' || c == u')';
}

bool IsMacroTerminator(char16_t c) {
    return c == LF || c == CR || c == u' ';
}

bool IsLineCommentEnd(char16_t c) {
    return c == NUL || c == LF || c == CR;
}

bool IsLeadingFiller(char16_t c) {
    return c == NUL || IsBlank(c) || c == u'(' || c == u';' || c == u'^';
}

} // namespace

bool IsKeywordDelimiter(char16_t c) {
    return c == NUL || IsBlank(c) || c == u'"' || c == u'(' || c == u'-' || c == u'/' ||
           c == u';' || c == u'^';
}

namespace {

// 1-based access; outside the text every position reads as NUL, which is what the scan's
// "next character" is at the end.
class TCharAt {
public:
    explicit TCharAt(QStringView text) : FText(text), FLen(qint32(text.size())) {}
    char16_t operator()(qint32 pos) const {
        return pos >= 1 && pos <= FLen ? FText[pos - 1].unicode() : NUL;
    }
    qint32 Len() const { return FLen; }

private:
    QStringView FText;
    qint32 FLen;
};

bool IsLoading(const TComponent* component) {
    for (; component; component = component->Owner())
        if (component->HasState(csLoading)) return true;
    return false;
}

[[noreturn]] void RaiseParseError(const TComponent* statement, const char* what) {
    RaiseClientError(SQLParseErrorMessage, ComponentPath(statement), QString::fromUtf8(what));
}

// Whether the clause that a WHERE opened ends at pos: the keywords that may follow a WHERE
// clause, picked by their first letter so that most positions cost one comparison.
bool WhereClauseEndsAt(QStringView text, qint32 pos, char16_t c) {
    switch (AsciiUpperCase(c)) {
    case u'F':
        return IsKeywordAt(QLatin1String("FOR"), text, pos);
    case u'G':
        return IsKeywordAt(QLatin1String("GROUP"), text, pos);
    case u'H':
        return IsKeywordAt(QLatin1String("HAVING"), text, pos);
    case u'O':
        return IsKeywordAt(QLatin1String("ORDER"), text, pos);
    case u'P':
        return IsKeywordAt(QLatin1String("PLAN"), text, pos);
    case u'S':
        return IsKeywordAt(QLatin1String("START"), text, pos);
    case u'U':
        return IsKeywordAt(QLatin1String("UNION"), text, pos);
    default:
        return false;
    }
}

// "= :P" may become "IS NULL" only when the parameter is a whole operand, not the first term
// of an expression such as ":P + 1" or ":P || 'x'".
bool CanForceIsNullAt(const TCharAt& at, qint32 pos) {
    while (pos <= at.Len() && IsBlank(at(pos)))
        ++pos;
    if (pos > at.Len()) return true;
    const char16_t c = at(pos);
    if (c == u'*' || c == u'+' || c == u'|') return false;
    if (c == u'-' && at(pos + 1) != u'-') return false;
    if (c == u'/' && at(pos + 1) != u'*') return false;
    return true;
}

bool IsDDLAt(QStringView text, qint32 pos) {
    const TCharAt at(text);
    switch (AsciiUpperCase(at(pos))) {
    case u'A':
        return IsKeywordAt(QLatin1String("ALTER"), text, pos);
    case u'C':
        return IsKeywordAt(QLatin1String("CREATE"), text, pos) ||
               IsKeywordAt(QLatin1String("COMMENT"), text, pos);
    case u'D':
        return IsKeywordAt(QLatin1String("DROP"), text, pos) ||
               IsKeywordAt(QLatin1String("DECLARE"), text, pos);
    case u'G':
        return IsKeywordAt(QLatin1String("GRANT"), text, pos);
    case u'R':
        return IsKeywordAt(QLatin1String("RECREATE"), text, pos) ||
               IsKeywordAt(QLatin1String("REVOKE"), text, pos);
    case u'S': {
        // SET TRANSACTION, SET STATISTICS and the like are run as ordinary statements; only
        // SET GENERATOR changes metadata.
        if (!IsKeywordAt(QLatin1String("SET"), text, pos)) return false;
        qint32 p = pos + 4;
        while (p <= at.Len() && (IsBlank(at(p)) || at(p) == u'"' || at(p) == u')'))
            ++p;
        return IsKeywordAt(QLatin1String("GENERATOR"), text, p);
    }
    default:
        return false;
    }
}

TSQLKind ClassifyAt(QStringView text, qint32 firstPos) {
    if (IsKeywordAt(QLatin1String("SELECT"), text, firstPos) ||
        IsKeywordAt(QLatin1String("MERGE"), text, firstPos))
        return skSelect;
    if (IsKeywordAt(QLatin1String("UPDATE"), text, firstPos)) {
        const qint32 next = SkipBlanksAndComments(text, firstPos + 6);
        return IsKeywordAt(QLatin1String("OR"), text, next) ? skUpdateOrInsert : skUpdate;
    }
    if (IsKeywordAt(QLatin1String("DELETE"), text, firstPos)) return skDelete;
    if (IsKeywordAt(QLatin1String("INSERT"), text, firstPos)) return skInsert;
    if (IsKeywordAt(QLatin1String("EXECUTE"), text, firstPos)) {
        const qint32 next = SkipBlanksAndComments(text, firstPos + 7);
        if (IsKeywordAt(QLatin1String("PROCEDURE"), text, next)) return skExecuteProc;
        if (IsKeywordAt(QLatin1String("BLOCK"), text, next)) return skExecuteBlock;
    }
    const TCharAt at(text);
    if (at.Len() > 0 && (firstPos == 1 || IsKeywordPredecessor(at(firstPos - 1))) &&
        IsDDLAt(text, firstPos))
        return skDDL;
    return skUnknown;
}

enum class TScanState { Normal, Quote, LineComment, BlockComment, Param, Macro };

// One run of the scan; its fields are the state the algorithm carries from one character to
// the next, so that each step reads as the rule it applies.
class TParamScanner {
public:
    // The scan writes into result, taking over its vector, names and server text buffer: a
    // text scanned again with the same shapes allocates nothing.
    TParamScanner(TParseParamsResult& result, const QString& text, QChar macroChar, TSQLKind kind,
                  bool paramsAllowed, bool paramListMode, const TComponent* statement)
        : FText(text), at(text), FMacroChar(macroChar.unicode()), FParamsAllowed(paramsAllowed),
          FParamListMode(paramListMode), FIsBlock(kind == skExecuteBlock),
          FTrackWhere(kind != skExecuteProc && kind != skExecuteBlock), FStatement(statement),
          FPlain(PlainCharacters(FMacroChar, FIsBlock)), FResult(result) {
        if (FParamListMode)
            FResult.ServerText.clear();
        else
            AssignKept(FResult.ServerText, text);
    }

    // false: the scan stopped silently (missing name while loading); the result then holds
    // nothing of use.
    bool Run();

private:
    // Positions in the server text are positions in the input: "emitting" is overwriting the
    // copy in place, so the length can never drift.
    void Put(qint32 pos, char16_t c) {
        if (!FParamListMode && pos >= 1 && pos <= at.Len()) FResult.ServerText[pos - 1] = QChar(c);
    }

    // Moves p over the characters at which a step would change nothing.
    void SkipPlain(qint32& p) const;
    bool IsPlain(char16_t c) const { return c < FPlain.size() && FPlain[c]; }
    // IsPlain's answers for ASCII, one look-up a character.
    static std::array<bool, 0x80> PlainCharacters(char16_t macroChar, bool isBlock) {
        std::array<bool, 0x80> plain;
        plain.fill(true);
        for (const char16_t c : {u'\'', u'"', u'-', u'/', u':', u'?', u'(', u')'})
            plain[c] = false;
        if (macroChar < plain.size()) plain[macroChar] = false;
        if (isBlock) plain[u'A'] = plain[u'a'] = false;
        return plain;
    }
    void TrackWhere(qint32& p);
    void Record(qint32 endPos, qint32 operatorPos);
    bool StepNormal(qint32& p);
    // false: the scan stops silently (missing name while loading).
    bool StepName(qint32& p);
    // An occurrence open at the end of the text: recorded, refused, or (false) the silent stop
    // of a missing name while loading.
    bool FinishAtEnd();

    const QString& FText;
    const TCharAt at;
    const char16_t FMacroChar;
    const bool FParamsAllowed;
    const bool FParamListMode;
    const bool FIsBlock;
    const bool FTrackWhere;
    const TComponent* FStatement;
    const std::array<bool, 0x80> FPlain;

    TScanState FState = TScanState::Normal;
    char16_t FQuoteChar = 0;
    bool FAsSeen = false;
    bool FInWhere = false;
    int FDepth = 0;
    // Names are short: they are gathered on the stack and copied once into the result.
    QVarLengthArray<QChar, 64> FName;
    bool FNameQuoted = false;
    bool FBracketed = false;
    qint32 FBeginPos = 0;
    TParseParamsResult& FResult;
    // Occurrences recorded so far; the result's vector may hold more from an earlier scan.
    size_t FCount = 0;
};

// Returns with p moved past WHERE when the keyword opens a clause; the caller then restarts at p.
void TParamScanner::TrackWhere(qint32& p) {
    const char16_t c = at(p);
    if (!FInWhere) {
        if (p > 1 && IsKeywordPredecessor(at(p - 1)) &&
            IsKeywordAt(QLatin1String("WHERE"), FText, p)) {
            FInWhere = true;
            FDepth = 0;
            p += 5;
        }
        return;
    }
    if (c == u'(')
        ++FDepth;
    else if (c == u')')
        --FDepth;
    if (FDepth < 0) {
        // The closing bracket of a sub-select whose WHERE we were in.
        FInWhere = false;
        return;
    }
    const qint32 L = at.Len();
    if (p == L ||
        (p <= L - 2 && p > 1 && IsKeywordPredecessor(at(p - 1)) && WhereClauseEndsAt(FText, p, c)))
        FInWhere = false;
}

void TParamScanner::Record(qint32 endPos, qint32 operatorPos) {
    const bool isMacro = FState == TScanState::Macro;
    if (!isMacro || FParamListMode) {
        if (FCount == FResult.Params.size()) FResult.Params.emplace_back();
        TParamOccurrence& o = FResult.Params[FCount++];
        o.InWhereClause = FInWhere;
        o.CanForceIsNull = FInWhere && CanForceIsNullAt(at, operatorPos);
        o.BeginPosInText = FBeginPos;
        o.EndPosInText = endPos;
        const QStringView name(FName.constData(), FName.size());
        if (isMacro) {
            TMacroParts parts = SplitMacro(name.toString(), QChar(FMacroChar));
            o.Name = std::move(parts.Name);
            o.DefMacroValue = std::move(parts.DefMacroValue);
            o.Quoted = parts.Quoted;
            o.IsMacro = true;
        } else {
            AssignKept(o.Name, name);
            if (!o.DefMacroValue.isNull()) o.DefMacroValue = QString();
            o.Quoted = FNameQuoted;
            o.IsMacro = false;
        }
    }
    FState = TScanState::Normal;
    if (!isMacro && !FNameQuoted) {
        // The character after the name is skipped by the caller, so a comment that starts
        // right there would otherwise go unnoticed and its text be scanned for markers.
        const char16_t a = at(endPos + 1);
        const char16_t b = at(endPos + 2);
        if (endPos + 2 < at.Len()) {
            if (a == u'-' && b == u'-')
                FState = TScanState::LineComment;
            else if (a == u'/' && b == u'*')
                FState = TScanState::BlockComment;
        }
    }
    FName.clear();
    FNameQuoted = false;
}

bool TParamScanner::StepNormal(qint32& p) {
    const char16_t c = at(p);
    const char16_t n = at(p + 1);
    if (c == u'\'' || c == u'"') {
        FQuoteChar = c;
        FState = TScanState::Quote;
    } else if (c == u'-' && n == u'-') {
        ++p;
        FState = TScanState::LineComment;
    } else if (c == u'/' && n == u'*') {
        ++p;
        FState = TScanState::BlockComment;
    } else if ((c == u':' || c == u'?') && FParamsAllowed && !FAsSeen) {
        FState = TScanState::Param;
        FBeginPos = p;
        Put(p, u'?');
        ++p;
        return false;
    } else if ((c == u'A' || c == u'a') && FIsBlock && !FAsSeen) {
        // An EXECUTE BLOCK takes parameters only in its header; its body uses ":" for its own
        // variables, which the server must see unchanged.
        if (p + 2 <= at.Len() && (n == u'S' || n == u's') && IsKeywordDelimiter(at(p + 2)))
            FAsSeen = true;
    } else if (c == FMacroChar) {
        FState = TScanState::Macro;
        FBracketed = n == FMacroChar;
        FName.clear();
        if (!FBracketed) FName.append(FMacroChar);
        FBeginPos = p;
        Put(p, u' ');
        ++p;
        return false;
    }
    return true;
}

bool TParamScanner::StepName(qint32& p) {
    const char16_t c = at(p);
    const char16_t n = at(p + 1);
    const bool isMacro = FState == TScanState::Macro;
    if (c == u'"' && !FNameQuoted) {
        FNameQuoted = true;
        Put(p, u' ');
        ++p;
        return true;
    }
    if (FNameQuoted || IsNameChar(c) || (isMacro && (FBracketed || !IsMacroTerminator(c)))) {
        FName.append(c);
    } else {
        // A window definition may hold a text that its stored properties complete later; the
        // scan runs again once they are all set.
        if (IsLoading(FStatement)) return false;
        RaiseParseError(FStatement, "Parameter name expected");
    }

    Put(p, u' ');
    if (FNameQuoted && n == u'"') {
        Record(p + 1, p + 2);
        Put(p + 1, u' ');
        p += 2;
    } else if (!isMacro && !FNameQuoted && !IsNameChar(n)) {
        Record(p, p + 1);
        if (FInWhere && n == u')') --FDepth;
        // The character after a name is copied as it stands and never examined: it can
        // neither open a literal nor start another parameter.
        p += 2;
    } else if (isMacro && !FBracketed && IsMacroTerminator(n)) {
        Record(p, p + 1);
        p += 2;
    } else if (isMacro && FBracketed && n == FMacroChar && !FNameQuoted) {
        // The closing macro character belongs to the occurrence, so it is replaced with it.
        Record(p + 1, p + 2);
        Put(p + 1, u' ');
        p += 2;
    } else {
        ++p;
    }
    return true;
}

// The steps stay the rule; this only spares them where they would do nothing, so that a text
// costs a few instructions per character. In the normal state that is any character that opens
// nothing, changes no bracket depth and cannot start a keyword the WHERE tracking looks for (a
// letter after a keyword predecessor: outside a clause only a "W" can, WHERE itself); ASCII
// only, since the keyword match looks at low bytes.
void TParamScanner::SkipPlain(qint32& p) const {
    const QChar* text = FText.constData();
    const qint32 L = at.Len();
    switch (FState) {
    case TScanState::Normal: {
        // A clause whose depth went below zero, or the text's last character, ends the clause.
        if (FInWhere && FDepth < 0) return;
        const qint32 last = FInWhere ? L - 1 : L;
        while (p <= last) {
            const char16_t c = text[p - 1].unicode();
            if (!IsPlain(c)) return;
            if (p > 1 && FTrackWhere &&
                (FInWhere ? (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')
                          : c == u'W' || c == u'w') &&
                IsKeywordPredecessor(text[p - 2].unicode()))
                return;
            ++p;
        }
        return;
    }
    case TScanState::Quote:
        // Up to the closing quote, or to the character before the text's end (or a NUL).
        while (p < L && text[p - 1].unicode() != FQuoteChar && text[p].unicode() != NUL)
            ++p;
        return;
    case TScanState::BlockComment:
        while (p < L && text[p].unicode() != NUL &&
               !(text[p - 1].unicode() == u'*' && text[p].unicode() == u'/'))
            ++p;
        return;
    case TScanState::LineComment:
        while (p <= L && !IsLineCommentEnd(text[p - 1].unicode()))
            ++p;
        return;
    default:
        return;
    }
}

bool TParamScanner::Run() {
    qint32 p = 1;
    while (p <= at.Len()) {
        SkipPlain(p);
        if (p > at.Len()) break;
        if (FState == TScanState::Normal && FTrackWhere) {
            const qint32 before = p;
            TrackWhere(p);
            if (p != before) continue;
        }
        const char16_t c = at(p);
        const char16_t n = at(p + 1);
        switch (FState) {
        case TScanState::Normal:
            if (!StepNormal(p)) continue;
            break;
        case TScanState::BlockComment:
            if (n == NUL) RaiseParseError(FStatement, "EOF in comment detected");
            if (c == u'*' && n == u'/') FState = TScanState::Normal;
            break;
        case TScanState::Quote:
            if (c == FQuoteChar) {
                if (n == FQuoteChar)
                    ++p;
                else
                    FState = TScanState::Normal;
            } else if (n == NUL) {
                RaiseParseError(FStatement, "EOF in string detected");
            }
            break;
        case TScanState::LineComment:
            if (IsLineCommentEnd(c)) FState = TScanState::Normal;
            break;
        case TScanState::Param:
        case TScanState::Macro:
            if (!StepName(p)) return false;
            continue;
        }
        ++p;
    }
    if (FState == TScanState::Param || FState == TScanState::Macro) {
        if (!FinishAtEnd()) return false;
    }
    FResult.Params.resize(FCount);
    return true;
}

bool TParamScanner::FinishAtEnd() {
    // An occurrence still open when the text ends would otherwise be dropped from the list
    // while the server text already has it blanked out: the statement would run without it.
    if (FNameQuoted) RaiseParseError(FStatement, "EOF in string detected");
    if (FState == TScanState::Macro && FBracketed)
        RaiseParseError(FStatement, "EOF in macro detected");
    // The end of the text ends a plain macro as a blank would.
    const bool named = FState == TScanState::Macro ? FName.size() > 1 : !FName.isEmpty();
    if (named) {
        Record(at.Len(), at.Len() + 1);
        return true;
    }
    if (IsLoading(FStatement)) return false;
    RaiseParseError(FStatement, "Parameter name expected");
}

} // namespace

void TSQLParser::SetSQLText(const QString& value) {
    FSQLText = value;
    FLen = qint32(FSQLText.size());
    FFirstPos = SkipBlanksAndComments(FSQLText, 1);
    FSQLKind = ClassifyAt(FSQLText, FFirstPos);
    FCanParamsCheck = FSQLKind != skDDL;
}

bool IsKeywordAt(QLatin1String Keyword, QStringView Text, qint32 Pos) {
    const TCharAt at(Text);
    if (Pos < 1) return false;
    if (Pos > 1 && !IsKeywordPredecessor(at(Pos - 1))) return false;
    const qint32 klen = qint32(Keyword.size());
    if (klen > at.Len() - Pos + 1) return false;
    for (qint32 i = 0; i < klen; ++i) {
        const char16_t k = char16_t(uchar(Keyword[i].toLatin1()));
        const char16_t t = at(Pos + i);
        if (t != k && (t & 0xFF) - 32 != k) return false;
    }
    const qint32 after = Pos + klen;
    return after > at.Len() || IsKeywordDelimiter(at(after));
}

qint32 SkipBlanksAndComments(QStringView Text, qint32 Pos) {
    const TCharAt at(Text);
    const qint32 L = at.Len();
    qint32 p = Pos;
    while (p < L && (IsLeadingFiller(at(p)) || at(p) == u'-' || at(p) == u'/')) {
        const qint32 start = p;
        while (p <= L && IsLeadingFiller(at(p)))
            ++p;
        if (p < L && at(p) == u'-' && at(p + 1) == u'-') {
            while (p <= L && at(p) != LF && at(p) != CR)
                ++p;
        }
        if (p < L && at(p) == u'/' && at(p + 1) == u'*') {
            p += 2;
            while (p < L && !(at(p) == u'*' && at(p + 1) == u'/'))
                ++p;
            p += 2;
        }
        if (p == start) break;
    }
    return p;
}

bool HasParamMarkers(QStringView Text, QChar MacroChar) {
    // Every text set on a statement passes here, the long insert of every recreated mandate
    // too: a text with no marker character at all is told at the speed of a search, and the
    // walk below jumps over quotes and comments in one search each. The first character is
    // never a marker, and a comment or a quote opens where the character before it says, as
    // the character-by-character reading always had it.
    const char16_t macro = MacroChar.unicode();
    if (!Text.contains(u':') && !Text.contains(u'?') && !Text.contains(QChar(macro))) return false;
    const char16_t* const s = Text.utf16();
    const qsizetype n = Text.size();
    // The ASCII characters that open something or may be a marker.
    static constexpr auto Opens = [] {
        std::array<bool, 0x80> opens{};
        for (const char16_t c : {u'\'', u'"', u'*', u'-', u':', u'?'})
            opens[c] = true;
        return opens;
    }();
    qsizetype i = 1;
    while (i < n) {
        const char16_t c = s[i];
        if (c < Opens.size() && !Opens[c] && c != macro) {
            ++i;
            continue;
        }
        qsizetype end;
        if (c == u'\'' || c == u'"') {
            end = Text.indexOf(QChar(c), i + 1);
        } else if (c == u'*' && s[i - 1] == u'/') {
            // Closed by a "/" right after a "*", the opening one included.
            end = i;
            do
                end = Text.indexOf(u'/', end + 1);
            while (end > 0 && s[end - 1] != u'*');
        } else if (c == u'-' && s[i - 1] == u'-') {
            end = Text.indexOf(QChar(CR), i + 1);
        } else if (c == u':' || c == u'?' || c == macro) {
            return true;
        } else {
            ++i;
            continue;
        }
        if (end < 0) return false;
        i = end + 1;
    }
    return false;
}

std::optional<TParseParamsResult> ParseParams(const QString& Text, QChar MacroChar, TSQLKind Kind,
                                              bool ParamsAllowed, bool ParamListMode,
                                              const TComponent* Statement) {
    TParseParamsResult result;
    if (!ParseParamsInto(result, Text, MacroChar, Kind, ParamsAllowed, ParamListMode, Statement))
        return std::nullopt;
    return result;
}

namespace {

bool IsAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// What may stand before a number that no scan could read as part of a name, a marker or a
// comment opener, whatever the digits: blanks, "=", "(", ",", "<" and ">".
bool OpensNumber(QChar c) {
    return IsBlank(c.unicode()) || c == u'=' || c == u'(' || c == u',' || c == u'<' || c == u'>';
}

// And after it: blanks, ")", "," and ";", or the end of the text.
bool ClosesNumber(QChar c) {
    return IsBlank(c.unicode()) || c == u')' || c == u',' || c == u';';
}

} // namespace

bool MoveScanToOtherNumber(TParseParamsResult& Scan, const QString& Before, const QString& After,
                           QChar MacroChar) {
    if (IsAsciiDigit(MacroChar) || OpensNumber(MacroChar) || ClosesNumber(MacroChar)) return false;
    if (!Scan.ServerText.isEmpty() && Scan.ServerText.size() != Before.size()) return false;
    const qsizetype shorter = std::min(Before.size(), After.size());
    qsizetype prefix = 0;
    while (prefix < shorter && Before[prefix] == After[prefix])
        ++prefix;
    if (prefix == Before.size() && prefix == After.size()) return true;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           Before[Before.size() - 1 - suffix] == After[After.size() - 1 - suffix])
        ++suffix;
    // The whole number around the difference, in both texts: digits from just after an opener
    // to just before a closer, nothing else changed.
    qsizetype begin = prefix;
    while (begin > 0 && IsAsciiDigit(Before[begin - 1]))
        --begin;
    qsizetype endBefore = Before.size() - suffix, endAfter = After.size() - suffix;
    while (endBefore < Before.size() && IsAsciiDigit(Before[endBefore])) {
        ++endBefore;
        ++endAfter;
    }
    if (begin == 0 || !OpensNumber(Before[begin - 1])) return false;
    if (endBefore < Before.size() && !ClosesNumber(Before[endBefore])) return false;
    for (qsizetype i = begin; i < endBefore; ++i)
        if (!IsAsciiDigit(Before[i])) return false;
    for (qsizetype i = begin; i < endAfter; ++i)
        if (!IsAsciiDigit(After[i])) return false;
    if (endBefore == begin || endAfter == begin) return false;

    // A quoted parameter name or a macro's default may hold blanks and digits: the number must
    // lie outside every occurrence, and a macro's extent is not looked into at all.
    for (const TParamOccurrence& o : Scan.Params)
        if (o.IsMacro || (o.BeginPosInText <= endBefore && o.EndPosInText > begin)) return false;
    // The server text does not list its macros: one that holds the number has blanked it.
    if (!Scan.ServerText.isEmpty() &&
        QStringView(Scan.ServerText).sliced(begin, endBefore - begin) !=
            QStringView(Before).sliced(begin, endBefore - begin))
        return false;
    // Those behind the number move by the change of length.
    const qint32 moved = qint32(endAfter - endBefore);
    for (TParamOccurrence& o : Scan.Params) {
        if (o.BeginPosInText > endBefore) {
            o.BeginPosInText += moved;
            o.EndPosInText += moved;
        }
    }
    if (!Scan.ServerText.isEmpty())
        Scan.ServerText.replace(begin, endBefore - begin, After.constData() + begin,
                                endAfter - begin);
    return true;
}

bool ParseParamsInto(TParseParamsResult& Result, const QString& Text, QChar MacroChar,
                     TSQLKind Kind, bool ParamsAllowed, bool ParamListMode,
                     const TComponent* Statement) {
    return TParamScanner(Result, Text, MacroChar, Kind, ParamsAllowed, ParamListMode, Statement)
        .Run();
}

TMacroParts SplitMacro(const QString& MacroText, QChar MacroChar) {
    TMacroParts parts;
    const qsizetype percent = MacroText.indexOf(u'%');
    if (percent >= 0) {
        parts.Name = MacroText.left(percent);
        parts.DefMacroValue = MacroText.mid(percent + 1);
    } else {
        parts.Name = MacroText;
    }
    if (!parts.Name.startsWith(MacroChar)) parts.Name.prepend(MacroChar);
    parts.Name = parts.Name.mid(1, 255);
    if (parts.DefMacroValue.startsWith(u'#')) {
        parts.Quoted = true;
        parts.DefMacroValue.remove(0, 1);
    }
    return parts;
}
