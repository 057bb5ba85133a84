// Exceptions, text formatting, integer parsing and the process-wide format settings that the
// database layer and the windows share.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

#include <array>
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
    requires(!std::same_as<T, bool> && !std::same_as<T, char>) TVarRec(T v)
        : kind(vInt32), value(qint64(0)) {
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

template <typename... Args> QString Format(const QString& fmt, const Args&... args) {
    return FormatV(fmt, std::vector<TVarRec>{TVarRec(args)...});
}

QString IntToStr(qint64 value);

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
    QString ShortTimeFormat = QStringLiteral("hh:nn");
    QString TimeAMString = QStringLiteral("AM");
    QString TimePMString = QStringLiteral("PM");
    std::array<QString, 12> ShortMonthNames = {
        QStringLiteral("janv."), QStringLiteral("févr."), QStringLiteral("mars"),
        QStringLiteral("avr."),  QStringLiteral("mai"),   QStringLiteral("juin"),
        QStringLiteral("juil."), QStringLiteral("août"),  QStringLiteral("sept."),
        QStringLiteral("oct."),  QStringLiteral("nov."),  QStringLiteral("déc.")};
    std::array<QString, 12> LongMonthNames = {
        QStringLiteral("janvier"), QStringLiteral("février"),  QStringLiteral("mars"),
        QStringLiteral("avril"),   QStringLiteral("mai"),      QStringLiteral("juin"),
        QStringLiteral("juillet"), QStringLiteral("août"),     QStringLiteral("septembre"),
        QStringLiteral("octobre"), QStringLiteral("novembre"), QStringLiteral("décembre")};
    // Sunday first.
    std::array<QString, 7> ShortDayNames = {QStringLiteral("dim."), QStringLiteral("lun."),
                                            QStringLiteral("mar."), QStringLiteral("mer."),
                                            QStringLiteral("jeu."), QStringLiteral("ven."),
                                            QStringLiteral("sam.")};
    std::array<QString, 7> LongDayNames = {QStringLiteral("dimanche"), QStringLiteral("lundi"),
                                           QStringLiteral("mardi"),    QStringLiteral("mercredi"),
                                           QStringLiteral("jeudi"),    QStringLiteral("vendredi"),
                                           QStringLiteral("samedi")};
};

TFormatSettings& FormatSettings();

// ASCII letter case: only a-z and A-Z change, every other character stays as it is, so that
// names compare the way the server compares unquoted identifiers.
constexpr char16_t AsciiUpperCase(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - (u'a' - u'A')) : c;
}
constexpr char16_t AsciiLowerCase(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}
inline QChar AsciiUpperCase(QChar c) {
    return QChar(AsciiUpperCase(c.unicode()));
}
inline QChar AsciiLowerCase(QChar c) {
    return QChar(AsciiLowerCase(c.unicode()));
}
QString AsciiUpperCase(const QString& s);
QString AsciiLowerCase(const QString& s);
bool SameTextAscii(QStringView a, QStringView b);

// The system's single-byte code page is ISO 8859-1: characters outside it become "?".
QByteArray StringToAnsi(const QString& s);
// True when every character of text has a place in that code page, the one the connection
// sends its texts in.
bool IsLatin1(QStringView text);
QString AnsiToString(const QByteArray& bytes);
QString AnsiToString(const char* bytes, qsizetype length);

// ---------------------------------------------------------------------------------------------
// Texts kept for their buffers, texts that must not linger

// Gives a kept string the value of a view: an unshared buffer big enough is written over, and
// a string that holds the value already is left as it is (shared, if it is).
void AssignKept(QString& target, QStringView value);
// The same for a whole text, which is rather shared than copied when it cannot be written over.
void AssignKept(QString& target, const QString& value);

// Overwrites the characters of a text before letting it go, when it is the text's only holder
// (writing into a shared one would only make a copy to overwrite): a password typed by a user
// should not stay in freed memory.
void WipeText(QString& text);
