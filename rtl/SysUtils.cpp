#include "SysUtils.h"

#include <algorithm>
#include <limits>

Exception::Exception(const QString& message) {
    SetMessage(message);
}

Exception::~Exception() = default;

void Exception::SetMessage(const QString& message) {
    FMessage = message;
    FUtf8 = message.toUtf8();
}

EOSError::EOSError(const QString& message, qint32 errorCode)
    : Exception(message), FErrorCode(errorCode) {}

void Abort() {
    throw EAbort(QString());
}

namespace {

[[noreturn]] void InvalidFormat(const QString& fmt) {
    throw EConvertError(
        QStringLiteral("Format '%1' invalide ou incompatible avec l'argument").arg(fmt));
}

QString Pad(const QString& s, int width, bool leftAlign) {
    if (width <= s.size()) return s;
    const QString fill(width - s.size(), QLatin1Char(' '));
    return leftAlign ? s + fill : fill + s;
}

// Precision on integers is a minimum digit count, zeros going between the sign and the digits.
QString ZeroExtend(QString digits, int precision) {
    const bool negative = digits.startsWith(QLatin1Char('-'));
    if (negative) digits.remove(0, 1);
    if (precision > digits.size())
        digits.prepend(QString(precision - digits.size(), QLatin1Char('0')));
    return negative ? QLatin1Char('-') + digits : digits;
}

QString FormatArg(QChar type, const TVarRec& arg, int precision, const QString& fmt) {
    switch (type.toLower().unicode()) {
    case 'd':
        if (arg.kind == TVarRec::vUInt64)
            return ZeroExtend(QString::number(std::get<quint64>(arg.value)), precision);
        if (arg.kind != TVarRec::vInt32 && arg.kind != TVarRec::vInt64) InvalidFormat(fmt);
        return ZeroExtend(QString::number(std::get<qint64>(arg.value)), precision);
    case 'u': {
        if (arg.kind == TVarRec::vUInt64)
            return ZeroExtend(QString::number(std::get<quint64>(arg.value)), precision);
        if (arg.kind != TVarRec::vInt32 && arg.kind != TVarRec::vInt64) InvalidFormat(fmt);
        const qint64 v = std::get<qint64>(arg.value);
        const quint64 u = arg.kind == TVarRec::vInt32 ? quint64(quint32(v)) : quint64(v);
        return ZeroExtend(QString::number(u), precision);
    }
    case 'x': {
        quint64 u = 0;
        if (arg.kind == TVarRec::vUInt64)
            u = std::get<quint64>(arg.value);
        else if (arg.kind == TVarRec::vInt32)
            u = quint32(std::get<qint64>(arg.value));
        else if (arg.kind == TVarRec::vInt64)
            u = quint64(std::get<qint64>(arg.value));
        else
            InvalidFormat(fmt);
        return ZeroExtend(QString::number(u, 16).toUpper(), precision);
    }
    case 's': {
        if (arg.kind != TVarRec::vString) InvalidFormat(fmt);
        const QString& s = std::get<QString>(arg.value);
        return precision >= 0 ? s.left(precision) : s;
    }
    case 'f': {
        double d = 0;
        if (arg.kind == TVarRec::vDouble)
            d = std::get<double>(arg.value);
        else if (arg.kind == TVarRec::vInt32 || arg.kind == TVarRec::vInt64)
            d = double(std::get<qint64>(arg.value));
        else
            InvalidFormat(fmt);
        QString s = QString::number(d, 'f', precision >= 0 ? precision : 2);
        s.replace(QLatin1Char('.'), FormatSettings().DecimalSeparator);
        return s;
    }
    default:
        InvalidFormat(fmt);
    }
}

} // namespace

QString FormatV(const QString& fmt, const std::vector<TVarRec>& args) {
    QString out;
    out.reserve(fmt.size() + 16);
    size_t next = 0;
    const qsizetype n = fmt.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = fmt.at(i);
        if (c != QLatin1Char('%')) {
            out += c;
            continue;
        }
        if (++i >= n) InvalidFormat(fmt);
        if (fmt.at(i) == QLatin1Char('%')) {
            out += QLatin1Char('%');
            continue;
        }
        bool leftAlign = false;
        if (fmt.at(i) == QLatin1Char('-')) {
            leftAlign = true;
            if (++i >= n) InvalidFormat(fmt);
        }
        int width = 0;
        while (i < n && fmt.at(i).isDigit()) {
            width = width * 10 + fmt.at(i).digitValue();
            if (width > 10000) InvalidFormat(fmt);
            ++i;
        }
        int precision = -1;
        if (i < n && fmt.at(i) == QLatin1Char('.')) {
            precision = 0;
            ++i;
            while (i < n && fmt.at(i).isDigit()) {
                precision = precision * 10 + fmt.at(i).digitValue();
                if (precision > 10000) InvalidFormat(fmt);
                ++i;
            }
        }
        if (i >= n || next >= args.size()) InvalidFormat(fmt);
        out += Pad(FormatArg(fmt.at(i), args[next++], precision, fmt), width, leftAlign);
    }
    return out;
}

QString IntToStr(qint64 value) {
    return QString::number(value);
}

QString InvalidIntegerMessage(const QString& s) {
    return Format(QStringLiteral("'%s' n'est pas une valeur entière correcte"), s);
}

namespace {

// The system's Val: blanks, then an optional sign, then decimal digits or a hexadecimal
// number behind "$", "x" or "0x". Hexadecimal values may fill the whole unsigned width and
// wrap into negative numbers, as the system does.
bool ParseInteger(const QString& s, qint64 min, qint64 max, quint64 hexMask, qint64& result) {
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n && s.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (s.at(i) == QLatin1Char('-') || s.at(i) == QLatin1Char('+'))) {
        negative = s.at(i) == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < n && s.at(i) == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i < n && (s.at(i) == QLatin1Char('x') || s.at(i) == QLatin1Char('X'))) {
        base = 16;
        ++i;
    } else if (i + 1 < n && s.at(i) == QLatin1Char('0') &&
               (s.at(i + 1) == QLatin1Char('x') || s.at(i + 1) == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= n) return false;
    quint64 acc = 0;
    const quint64 limit = base == 16 ? hexMask : quint64(max) + (negative ? 1 : 0);
    for (; i < n; ++i) {
        const int digit = s.at(i).unicode() < 128 ? QChar(s.at(i)).digitValue() : -1;
        int d = digit;
        if (base == 16 && d < 0) {
            const char16_t u = s.at(i).toLower().unicode();
            if (u >= 'a' && u <= 'f') d = 10 + (u - 'a');
        }
        if (d < 0 || d >= base) return false;
        if (acc > (limit - quint64(d)) / quint64(base)) return false;
        acc = acc * quint64(base) + quint64(d);
    }
    qint64 v;
    if (base == 16) {
        // a full-width hexadecimal value is the two's complement of its bits
        v = hexMask == quint64(std::numeric_limits<quint32>::max()) ? qint64(qint32(quint32(acc)))
                                                                    : qint64(acc);
        // "-$8000000000000000" negates the smallest value: wrap as the system does, without
        // the signed overflow
        if (negative) v = qint64(0 - quint64(v));
    } else {
        v = negative ? (acc == quint64(max) + 1 ? min : -qint64(acc)) : qint64(acc);
    }
    result = v;
    return true;
}

} // namespace

bool TryStrToInt(const QString& s, qint32& value) {
    qint64 v = 0;
    if (!ParseInteger(s, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(),
                      std::numeric_limits<quint32>::max(), v))
        return false;
    value = qint32(v);
    return true;
}

bool TryStrToInt64(const QString& s, qint64& value) {
    return ParseInteger(s, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(),
                        std::numeric_limits<quint64>::max(), value);
}

qint32 StrToInt(const QString& s) {
    qint32 v = 0;
    if (!TryStrToInt(s, v)) throw EConvertError(InvalidIntegerMessage(s));
    return v;
}

qint64 StrToInt64(const QString& s) {
    qint64 v = 0;
    if (!TryStrToInt64(s, v)) throw EConvertError(InvalidIntegerMessage(s));
    return v;
}

qint32 StrToIntDef(const QString& s, qint32 def) {
    qint32 v = 0;
    return TryStrToInt(s, v) ? v : def;
}

QString Trim(const QString& s) {
    qsizetype first = 0;
    qsizetype last = s.size() - 1;
    while (first <= last && s.at(first).unicode() <= ' ')
        ++first;
    while (last >= first && s.at(last).unicode() <= ' ')
        --last;
    return s.mid(first, last - first + 1);
}

TFormatSettings& FormatSettings() {
    static TFormatSettings settings;
    return settings;
}

QByteArray StringToAnsi(const QString& s) {
    return s.toLatin1();
}

bool IsLatin1(QStringView text) {
    for (const QChar c : text)
        if (c.unicode() > 0xFF) return false;
    return true;
}

QString AnsiToString(const QByteArray& bytes) {
    return QString::fromLatin1(bytes);
}

QString AnsiToString(const char* bytes, qsizetype length) {
    return QString::fromLatin1(bytes, length);
}

// A text that has nothing to change is handed back shared, without a copy: names are mostly
// upper case already, and lookups run on every parameter access.
QString AsciiUpperCase(const QString& s) {
    const auto lower = [](QChar c) { return c.unicode() >= u'a' && c.unicode() <= u'z'; };
    if (std::none_of(s.cbegin(), s.cend(), lower)) return s;
    QString r = s;
    for (QChar& c : r)
        c = AsciiUpperCase(c);
    return r;
}

QString AsciiLowerCase(const QString& s) {
    const auto upper = [](QChar c) { return c.unicode() >= u'A' && c.unicode() <= u'Z'; };
    if (std::none_of(s.cbegin(), s.cend(), upper)) return s;
    QString r = s;
    for (QChar& c : r)
        c = AsciiLowerCase(c);
    return r;
}

bool SameTextAscii(QStringView a, QStringView b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (AsciiUpperCase(a[i].unicode()) != AsciiUpperCase(b[i].unicode())) return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Texts kept for their buffers, texts that must not linger

void AssignKept(QString& target, QStringView value) {
    if (target == value && target.isNull() == value.isNull()) return;
    // A part of the target itself cannot be copied over the buffer it lies in.
    const bool inside =
        value.data() >= target.constData() && value.data() < target.constData() + target.size();
    if (!inside && !value.isEmpty() && target.isDetached() && target.capacity() >= value.size()) {
        target.resize(0);
        target.append(value);
        return;
    }
    target = value.toString();
}

void AssignKept(QString& target, const QString& value) {
    if (&target == &value) return;
    if (!value.isEmpty() && target.isDetached() && target.capacity() >= value.size()) {
        target.resize(0);
        target.append(value);
        return;
    }
    target = value;
}

void WipeText(QString& text) {
    if (text.isDetached()) std::fill(text.begin(), text.end(), QChar(u'\0'));
    text.clear();
}
