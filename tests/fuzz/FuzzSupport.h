// What the libFuzzer targets share: a failed check stops the run at once, and the input is read
// as UTF-8 so that characters past Latin-1 reach the code as well.
#pragma once

#include "Classes.h"
#include "SysUtils.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>

// A trap rather than an assertion: libFuzzer keeps the input that reached it, whatever the
// build's NDEBUG.
inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// True when a character of the text is past what an 8-bit connection can carry: the layer
// refuses such a text before it reaches the server.
inline bool HasWideCharacter(QStringView text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; });
}

inline QString FuzzText(const uint8_t* data, size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Lines split at LF only, so that a CR or another control character inside a line reaches the
// builders too (a list filled by the program can hold them; SetText would have split them off).
inline QStringList FuzzLines(const QString& text) {
    return text.split(QLatin1Char('\n'));
}

inline void FillList(TStrings& list, const QStringList& lines) {
    for (const QString& line : lines)
        list.Add(line);
}

// The outcome of one call: its result, or which of the expected exceptions it raised, with the
// message. Any other exception escapes and is reported by libFuzzer as a crash.
enum class TOutcome { Result, ClientError, ConvertError };

template <class ClientError> TOutcome Run(const std::function<void()>& call, QString& message) {
    try {
        call();
        return TOutcome::Result;
    } catch (const ClientError& e) {
        message = e.Message();
        return TOutcome::ClientError;
    } catch (const EConvertError& e) {
        message = e.Message();
        return TOutcome::ConvertError;
    }
}
