// Exceptions, text formatting, integer parsing and the process-wide format settings that the
// database layer and the windows share.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

#include <concepts>
#include <exception>
#include <type_traits>
#include <variant>
#include <vector>

class Exception : public std::exception {
public:
    explicit Exception(const QString& message);
    ~Exception() override;

    const QString& Message() const { return FMessage; }
    void SetMessage(const QString& message);
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8; // what() must hand out memory that lives as long as the exception
};

// The silent cancel: handlers that catch escaping exceptions show nothing for it.
class EAbort : public Exception {
public:
    using Exception::Exception;
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EOSError : public Exception {
public:
    EOSError(const QString& message, qint32 errorCode);
    qint32 ErrorCode() const { return FErrorCode; }
    void SetErrorCode(qint32 code) { FErrorCode = code; }

private:
    qint32 FErrorCode;
};

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

// Raises EAbort with an empty message.
[[noreturn]] void Abort();

// One argument of Format. Integers remember whether they were 32 or 64 bits wide so that
// "%x" of a negative value shows the same digits as the value's own width.
struct TVarRec {
    enum Kind { vInt32, vInt64, vUInt64, vDouble, vString };
    Kind kind;
    std::variant<qint64, quint64, double, QString> value;

    TVarRec(const QString& s) : kind(vString), value(s) {}
    TVarRec(const char* s) : kind(vString), value(QString::fromUtf8(s)) {}
    TVarRec(QChar c) : kind(vString), value(QString(c)) {}
    TVarRec(double d) : kind(vDouble), value(d) {}
    TVarRec(float d) : kind(vDouble), value(double(d)) {}
    template <std::integral T>
        requires(!std::same_as<T, bool> && !std::same_as<T, char>)
    TVarRec(T v) : kind(vInt32), value(qint64(0)) {
        if constexpr (std::is_signed_v<T>) {
            kind = sizeof(T) <= 4 ? vInt32 : vInt64;
            value = qint64(v);
        } else if constexpr (sizeof(T) < 4) {
            kind = vInt32;
            value = qint64(v);
        } else if constexpr (sizeof(T) == 4) {
            kind = vInt64;
            value = qint64(v);
        } else {
            kind = vUInt64;
            value = quint64(v);
        }
    }
};

// Formats after the system's conventions: "%" ["-"] [width] ["." precision] type, with the
// types d, u, x (upper-case hexadecimal), s, f and "%%". A mismatch between a placeholder and
// its argument, or a missing argument, raises EConvertError.
QString FormatV(const QString& fmt, const std::vector<TVarRec>& args);

template <typename... Args>
QString Format(const QString& fmt, const Args&... args) {
    return FormatV(fmt, std::vector<TVarRec>{TVarRec(args)...});
}

QString IntToStr(qint64 value);

// Letter case changed for a to z (A to Z) only: names of the client's protocol and of SQL are
// ASCII, and an accented letter in a value must stay as typed.
QString AsciiUpperCase(const QString& s);
QString AsciiLowerCase(const QString& s);

// Integer parsing of the system: leading blanks, a sign and the hexadecimal prefixes "$", "x"
// and "0x" are accepted; anything else, including trailing blanks or an overflow, raises
// EConvertError "'%s' n'est pas une valeur entière correcte".
qint32 StrToInt(const QString& s);
qint64 StrToInt64(const QString& s);
bool TryStrToInt(const QString& s, qint32& value);
bool TryStrToInt64(const QString& s, qint64& value);
qint32 StrToIntDef(const QString& s, qint32 def);

// The message of the conversion errors raised by StrToInt and by callers with stricter rules.
QString InvalidIntegerMessage(const QString& s);

// Removes leading and trailing characters up to and including the blank (U+0020), as the
// system's Trim does.
QString Trim(const QString& s);

// The process-wide conventions for numbers, dates and times. The program runs with the French
// ones; tests that change them restore them.
struct TFormatSettings {
    QChar DecimalSeparator = QLatin1Char(',');
    QChar ThousandSeparator = QLatin1Char(' ');
    QChar DateSeparator = QLatin1Char('/');
    QChar TimeSeparator = QLatin1Char(':');
    QString ShortDateFormat = QStringLiteral("dd/mm/yyyy");
    QString LongTimeFormat = QStringLiteral("hh:nn:ss");
};

TFormatSettings& FormatSettings();

// The system's single-byte code page is ISO 8859-1: characters outside it become "?".
QByteArray StringToAnsi(const QString& s);
QString AnsiToString(const QByteArray& bytes);
QString AnsiToString(const char* bytes, qsizetype length);
