#include "Conversions.h"

#include "SysUtils.h"

#include <QList>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

QChar DecimalSeparator() {
    return FormatSettings().DecimalSeparator;
}

QString Padded(int v, int width) {
    return QString::number(v).rightJustified(width, QLatin1Char('0'));
}

bool TryParseNumbers(const QString& text, QChar sep, int minCount, int maxCount,
                     QList<int>& numbers, QList<int>* widths = nullptr) {
    const QStringList parts = text.split(sep);
    if (parts.size() < minCount || parts.size() > maxCount) return false;
    for (const QString& p : parts) {
        if (p.isEmpty() || p.size() > 4) return false;
        for (QChar c : p)
            if (!c.isDigit() || c.unicode() > 127) return false;
        numbers.append(p.toInt());
        if (widths) widths->append(int(p.size()));
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Day counts

QDate DayZero() {
    return QDate(1899, 12, 30);
}

QDateTime ZeroDateTime() {
    return QDateTime(DayZero(), QTime(0, 0), Qt::UTC);
}

TTimeStamp ToTimeStamp(const QDate& date, const QTime& time) {
    TTimeStamp ts;
    ts.Date = qint32(DayZero().daysTo(date) + DayCountToDateNumber);
    ts.Time = time.isValid() ? time.msecsSinceStartOfDay() : 0;
    return ts;
}

double DateTimeToDayCount(const QDateTime& value) {
    const qint64 days = DayZero().daysTo(value.date());
    const double fraction = double(value.time().msecsSinceStartOfDay()) / double(MSecsPerDay);
    // Before day 0 the fraction still counts forward from midnight: -1.25 is 29/12/1899 06:00.
    return days >= 0 ? double(days) + fraction : double(days) - fraction;
}

QDateTime DayCountToDateTime(double value) {
    qint64 days = qint64(std::trunc(value));
    qint64 ms = std::llround(std::fabs(value - double(days)) * double(MSecsPerDay));
    if (ms >= MSecsPerDay) {
        ms -= MSecsPerDay;
        days += value < 0 ? -1 : 1;
    }
    return QDateTime(DayZero().addDays(days), QTime::fromMSecsSinceStartOfDay(int(ms)), Qt::UTC);
}

// ---------------------------------------------------------------------------------------------
// Numbers

QString FloatToStrGeneral(double v) {
    if (std::isnan(v)) return QStringLiteral("NAN");
    if (std::isinf(v)) return v > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    QString s = QString::number(v, 'g', 15);
    const qsizetype e = s.indexOf(QLatin1Char('e'));
    if (e >= 0) {
        const int exponent = s.mid(e + 1).toInt();
        s = s.left(e) + QLatin1Char('E') + QString::number(exponent);
    }
    s.replace(QLatin1Char('.'), DecimalSeparator());
    return s;
}

bool TryTextToDouble(const QString& text, double& value) {
    QString t = Trim(text);
    if (t.isEmpty()) return false;
    const QChar sep = DecimalSeparator();
    if (sep != QLatin1Char('.')) {
        if (t.contains(QLatin1Char('.'))) return false;
        t.replace(sep, QLatin1Char('.'));
    }
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    value = c.toDouble(t, &ok);
    // The C locale also reads "inf" and "nan", which are no numbers a user or a column writes.
    return ok && std::isfinite(value);
}

qint64 Pow10(int n) {
    qint64 r = 1;
    while (n-- > 0)
        r *= 10;
    return r;
}

qint64 ScaledTruncate(qint64 value, int scale) {
    if (scale == 0) return value;
    if (scale < 0) return -scale > 18 ? 0 : value / Pow10(-scale);
    // A positive scale multiplies; wrap like the low bits rather than overflow.
    quint64 r = quint64(value);
    for (int i = 0; i < scale; ++i)
        r *= 10u;
    return qint64(r);
}

double ScaledToDouble(qint64 value, int scale) {
    if (scale < 0) return double(value) / std::pow(10.0, -scale);
    return double(value) * std::pow(10.0, scale);
}

QString ScaledToText(qint64 value, int scale) {
    const bool negative = value < 0;
    const quint64 magnitude = negative ? quint64(0) - quint64(value) : quint64(value);
    QString digits = QString::number(magnitude);
    if (scale > 0) {
        if (magnitude != 0) digits += QString(scale, QLatin1Char('0'));
    } else if (scale < 0) {
        const int places = -scale;
        if (digits.size() <= places)
            digits = QString(places - digits.size() + 1, QLatin1Char('0')) + digits;
        QString whole = digits.left(digits.size() - places);
        QString fraction = digits.right(places);
        while (fraction.endsWith(QLatin1Char('0')))
            fraction.chop(1);
        digits = fraction.isEmpty() ? whole : whole + DecimalSeparator() + fraction;
    }
    return negative && digits != QLatin1String("0") ? QLatin1Char('-') + digits : digits;
}

// ---------------------------------------------------------------------------------------------
// Dates as text

QString FormatDateTimeText(const QString& fmt, const QDate& date, const QTime& time) {
    QString out;
    for (qsizetype i = 0; i < fmt.size();) {
        const QChar c = AsciiLowerCase(fmt.at(i));
        qsizetype n = 1;
        while (i + n < fmt.size() && AsciiLowerCase(fmt.at(i + n)) == c)
            ++n;
        switch (c.unicode()) {
        case 'd':
            out += Padded(date.day(), n >= 2 ? 2 : 1);
            break;
        case 'm':
            out += Padded(date.month(), n >= 2 ? 2 : 1);
            break;
        case 'y':
            out += n <= 2 ? Padded(date.year() % 100, 2) : Padded(date.year(), 4);
            break;
        case 'h':
            out += Padded(time.hour(), n >= 2 ? 2 : 1);
            break;
        case 'n':
            out += Padded(time.minute(), n >= 2 ? 2 : 1);
            break;
        case 's':
            out += Padded(time.second(), n >= 2 ? 2 : 1);
            break;
        case 'z':
            out += Padded(time.msec(), n >= 3 ? 3 : 1);
            break;
        case '/':
            out += QString(n, FormatSettings().DateSeparator);
            break;
        case ':':
            out += QString(n, FormatSettings().TimeSeparator);
            break;
        default:
            out += fmt.mid(i, n);
            break;
        }
        i += n;
    }
    return out;
}

QString DateText(const QDate& d) {
    return FormatDateTimeText(FormatSettings().ShortDateFormat, d, QTime(0, 0));
}

QString TimeText(const QTime& t) {
    return FormatDateTimeText(FormatSettings().LongTimeFormat, DayZero(), t);
}

QString DateTimeText(const QDateTime& dt) {
    QString s = DateText(dt.date());
    if (dt.time() != QTime(0, 0)) s += QLatin1Char(' ') + TimeText(dt.time());
    return s;
}

bool TryParseDate(const QString& text, QDate& date) {
    QList<int> n, widths;
    if (!TryParseNumbers(text, FormatSettings().DateSeparator, 3, 3, n, &widths)) return false;
    const QString fmt = AsciiLowerCase(FormatSettings().ShortDateFormat);
    const qsizetype order[3] = {fmt.indexOf(QLatin1Char('d')), fmt.indexOf(QLatin1Char('m')),
                                fmt.indexOf(QLatin1Char('y'))};
    int d = 0, m = 0, y = 0, yearWidth = 0;
    int* parts[3] = {&d, &m, &y};
    for (int i = 0; i < 3; ++i) {
        int rank = 0;
        for (int j = 0; j < 3; ++j)
            if (order[j] < order[i]) ++rank;
        *parts[i] = n[rank];
        if (i == 2) yearWidth = widths[rank];
    }
    // Only a year written short takes a century: "0050", as dates of the year 50 are
    // written, is the year 50.
    if (yearWidth <= 2) y += y < 50 ? 2000 : 1900;
    date = QDate(y, m, d);
    return date.isValid();
}

bool TryParseTime(const QString& text, QTime& time) {
    QString t = text;
    int msec = 0;
    const qsizetype dot = t.indexOf(QLatin1Char('.'));
    if (dot >= 0) {
        bool ok = false;
        msec = t.mid(dot + 1).toInt(&ok);
        if (!ok || msec < 0 || msec > 999) return false;
        t = t.left(dot);
    }
    QList<int> n;
    if (!TryParseNumbers(t, FormatSettings().TimeSeparator, 2, 3, n)) return false;
    time = QTime(n[0], n[1], n.size() > 2 ? n[2] : 0, msec);
    return time.isValid();
}

bool TryParseDateTime(const QString& text, QDateTime& value) {
    const QString t = Trim(text);
    if (t.isEmpty()) return false;
    const qsizetype blank = t.indexOf(QLatin1Char(' '));
    const QString first = blank < 0 ? t : t.left(blank);
    const QString rest = blank < 0 ? QString() : Trim(t.mid(blank + 1));
    QDate date = DayZero();
    QTime time(0, 0);
    if (!first.contains(FormatSettings().DateSeparator) &&
        first.contains(FormatSettings().TimeSeparator)) {
        if (!rest.isEmpty() || !TryParseTime(first, time)) return false;
    } else {
        if (!TryParseDate(first, date)) return false;
        if (!rest.isEmpty() && !TryParseTime(rest, time)) return false;
    }
    value = QDateTime(date, time, Qt::UTC);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Numeric display formats

namespace {

// A non-negative value as decimal digits: value = 0.Digits × 10^Exponent, no leading or
// trailing zero digit; no digits at all for zero.
struct TDecimal {
    QString Digits;
    int Exponent = 0;
};

// The double's 15 significant digits: what it was meant to hold, so that 2,675 rounds up.
TDecimal ToDecimal(double magnitude) {
    TDecimal d;
    if (magnitude == 0) return d;
    const QString s = QString::number(magnitude, 'e', 14);
    const qsizetype e = s.indexOf(QLatin1Char('e'));
    d.Digits = s.left(e);
    d.Digits.remove(QLatin1Char('.'));
    d.Exponent = s.mid(e + 1).toInt() + 1;
    while (d.Digits.endsWith(QLatin1Char('0')))
        d.Digits.chop(1);
    return d;
}

// Keeps count leading digits, rounding half away from zero.
void RoundDigits(TDecimal& d, int count) {
    if (d.Digits.size() <= count) return;
    if (count < 0) {
        d = TDecimal();
        return;
    }
    const bool up = d.Digits.at(count) >= QLatin1Char('5');
    d.Digits.truncate(count);
    if (up) {
        int i = count - 1;
        while (i >= 0 && d.Digits.at(i) == QLatin1Char('9'))
            d.Digits[i--] = QLatin1Char('0');
        if (i < 0) {
            d.Digits.prepend(QLatin1Char('1'));
            ++d.Exponent;
        } else {
            d.Digits[i] = QChar(d.Digits.at(i).unicode() + 1);
        }
    }
    while (d.Digits.endsWith(QLatin1Char('0')))
        d.Digits.chop(1);
    if (d.Digits.isEmpty()) d.Exponent = 0;
}

bool IsQuote(QChar c) {
    return c == QLatin1Char('\'') || c == QLatin1Char('"');
}

// Index of the quote closing the one at i, or the text's end.
qsizetype ClosingQuote(const QString& f, qsizetype i) {
    const qsizetype close = f.indexOf(f.at(i), i + 1);
    return close < 0 ? f.size() : close;
}

bool IsExponentAt(const QString& f, qsizetype i) {
    return AsciiUpperCase(f.at(i)) == QLatin1Char('E') && i + 1 < f.size() &&
           (f.at(i + 1) == QLatin1Char('+') || f.at(i + 1) == QLatin1Char('-'));
}

QStringList FormatSections(const QString& f) {
    QStringList sections;
    qsizetype start = 0;
    for (qsizetype i = 0; i < f.size(); ++i) {
        if (IsQuote(f.at(i))) {
            i = ClosingQuote(f, i);
        } else if (f.at(i) == QLatin1Char(';')) {
            sections.append(f.mid(start, i - start));
            start = i + 1;
        }
    }
    sections.append(f.mid(start));
    return sections;
}

// What a section asks for, read before any digit is placed.
struct TNumberLayout {
    int IntPlaces = 0;
    int MinIntDigits = 0;
    int FracPlaces = 0;
    int MinFracDigits = 0;
    bool Grouping = false;
    bool Scientific = false;
};

TNumberLayout ReadLayout(const QString& f) {
    TNumberLayout l;
    bool point = false;
    int firstIntZero = -1;
    for (qsizetype i = 0; i < f.size(); ++i) {
        const QChar c = f.at(i);
        if (IsQuote(c)) {
            i = ClosingQuote(f, i);
        } else if (c == QLatin1Char('0') || c == QLatin1Char('#')) {
            if (!point) {
                if (c == QLatin1Char('0') && firstIntZero < 0) firstIntZero = l.IntPlaces;
                ++l.IntPlaces;
            } else {
                ++l.FracPlaces;
                if (c == QLatin1Char('0')) l.MinFracDigits = l.FracPlaces;
            }
        } else if (c == QLatin1Char('.')) {
            point = true;
        } else if (c == QLatin1Char(',')) {
            if (!point) l.Grouping = true;
        } else if (IsExponentAt(f, i)) {
            // The digits after the exponent sign belong to the exponent.
            l.Scientific = true;
            break;
        }
    }
    l.MinIntDigits = firstIntZero < 0 ? 0 : l.IntPlaces - firstIntZero;
    return l;
}

// Places the digits into one section. Integer digits fill the integer placeholders from the
// right, the first placeholder taking every digit beyond them; decimals fill the decimal ones
// from the left; literals stay where they are written.
QString FormatSection(const QString& f, double magnitude, bool negative, bool& isZero) {
    const TNumberLayout l = ReadLayout(f);
    TDecimal d = ToDecimal(magnitude);
    QString intDigits, fracDigits;
    int exponent = 0;
    if (l.Scientific) {
        const int intPlaces = std::max(l.IntPlaces, 1);
        RoundDigits(d, intPlaces + l.FracPlaces);
        if (!d.Digits.isEmpty()) {
            exponent = d.Exponent - intPlaces;
            intDigits = d.Digits.left(intPlaces).leftJustified(intPlaces, QLatin1Char('0'));
            fracDigits = d.Digits.mid(intPlaces);
        }
    } else {
        RoundDigits(d, d.Exponent + l.FracPlaces);
        if (d.Exponent > 0) {
            intDigits = d.Digits.left(d.Exponent).leftJustified(d.Exponent, QLatin1Char('0'));
            fracDigits = d.Digits.mid(d.Exponent);
        } else if (!d.Digits.isEmpty()) {
            fracDigits = QString(-d.Exponent, QLatin1Char('0')) + d.Digits;
        }
    }
    isZero = d.Digits.isEmpty();
    if (intDigits.size() < l.MinIntDigits)
        intDigits = intDigits.rightJustified(l.MinIntDigits, QLatin1Char('0'));
    fracDigits = fracDigits.leftJustified(l.FracPlaces, QLatin1Char('0'));
    while (fracDigits.size() > l.MinFracDigits && fracDigits.endsWith(QLatin1Char('0')))
        fracDigits.chop(1);

    const TFormatSettings& fs = FormatSettings();
    const int len = int(intDigits.size());
    QString out;
    if (negative && !isZero) out += QLatin1Char('-');
    auto emitInt = [&](int from, int to) { // digit indices, inclusive
        for (int j = std::max(from, 0); j <= to; ++j) {
            out += intDigits.at(j);
            const int left = len - 1 - j;
            if (l.Grouping && left > 0 && left % 3 == 0) out += fs.ThousandSeparator;
        }
    };
    bool point = false, intDone = false, sepShown = false;
    int intPlace = 0, fracPlace = 0;
    auto finishInt = [&] {
        if (!intDone) emitInt(0, len - 1);
        intDone = true;
    };
    for (qsizetype i = 0; i < f.size(); ++i) {
        const QChar c = f.at(i);
        if (IsQuote(c)) {
            const qsizetype close = ClosingQuote(f, i);
            out += f.mid(i + 1, close - i - 1);
            i = close;
        } else if (c == QLatin1Char('0') || c == QLatin1Char('#')) {
            if (!point) {
                const int to = len - l.IntPlaces + intPlace;
                emitInt(intPlace == 0 ? 0 : to, to);
                if (++intPlace == l.IntPlaces) intDone = true;
            } else if (fracPlace < fracDigits.size()) {
                if (!sepShown) out += fs.DecimalSeparator;
                sepShown = true;
                out += fracDigits.at(fracPlace++);
            }
        } else if (c == QLatin1Char('.')) {
            if (!point) finishInt();
            point = true;
        } else if (c == QLatin1Char(',')) {
            continue;
        } else if (IsExponentAt(f, i)) {
            finishInt();
            out += c;
            if (exponent < 0)
                out += QLatin1Char('-');
            else if (f.at(i + 1) == QLatin1Char('+'))
                out += QLatin1Char('+');
            i += 2;
            int width = 0;
            while (i < f.size() && f.at(i) == QLatin1Char('0')) {
                ++width;
                ++i;
            }
            out += QString::number(std::abs(exponent)).rightJustified(width, QLatin1Char('0'));
            --i; // the loop steps onto the first character after the exponent's digits

        } else {
            out += c;
        }
    }
    finishInt();
    return out;
}

} // namespace

QString FormatFloat(const QString& Format, double Value) {
    // Beyond 18 integer digits no placeholder layout holds the value.
    if (Format.isEmpty() || !std::isfinite(Value) || std::fabs(Value) >= 1e18)
        return FloatToStrGeneral(Value);
    const QStringList sections = FormatSections(Format);
    const bool negative = Value < 0;
    const double magnitude = std::fabs(Value);
    const bool ownNegative = negative && sections.size() > 1 && !sections.at(1).isEmpty();
    const QString& section = ownNegative ? sections.at(1) : sections.at(0);
    if (section.isEmpty()) return FloatToStrGeneral(Value);
    bool isZero = false;
    const QString text = FormatSection(section, magnitude, negative && !ownNegative, isZero);
    if (isZero && sections.size() > 2 && !sections.at(2).isEmpty())
        return FormatSection(sections.at(2), 0, false, isZero);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Date-time display formats

namespace {

bool StartsWithAscii(const QString& f, qsizetype i, QLatin1String word) {
    return SameTextAscii(QStringView(f).mid(i, word.size()), QString(word));
}

bool HasHalfDayMarker(const QString& f) {
    for (qsizetype i = 0; i < f.size(); ++i) {
        if (IsQuote(f.at(i))) {
            i = ClosingQuote(f, i);
            continue;
        }
        if (StartsWithAscii(f, i, QLatin1String("am/pm")) ||
            StartsWithAscii(f, i, QLatin1String("a/p")) ||
            StartsWithAscii(f, i, QLatin1String("ampm")))
            return true;
    }
    return false;
}

void AppendDateTime(QString& out, const QString& f, const QDate& date, const QTime& time) {
    const TFormatSettings& fs = FormatSettings();
    const bool twelve = HasHalfDayMarker(f);
    const bool pm = time.hour() >= 12;
    bool afterHour = false;
    for (qsizetype i = 0; i < f.size();) {
        const QChar c = f.at(i);
        if (IsQuote(c)) {
            const qsizetype close = ClosingQuote(f, i);
            out += f.mid(i + 1, close - i - 1);
            i = close + 1;
            continue;
        }
        const QChar lower = AsciiLowerCase(c);
        if (lower == QLatin1Char('a')) {
            if (StartsWithAscii(f, i, QLatin1String("am/pm"))) {
                out += f.mid(pm ? i + 3 : i, 2);
                i += 5;
            } else if (StartsWithAscii(f, i, QLatin1String("a/p"))) {
                out += f.mid(pm ? i + 2 : i, 1);
                i += 3;
            } else if (StartsWithAscii(f, i, QLatin1String("ampm"))) {
                out += pm ? fs.TimePMString : fs.TimeAMString;
                i += 4;
            } else {
                out += c;
                ++i;
            }
            continue;
        }
        qsizetype n = 1;
        while (i + n < f.size() && AsciiLowerCase(f.at(i + n)) == lower)
            ++n;
        bool hour = false;
        switch (lower.unicode()) {
        case 'c':
            AppendDateTime(out, fs.ShortDateFormat, date, time);
            if (time != QTime(0, 0)) {
                out += QLatin1Char(' ');
                AppendDateTime(out, fs.LongTimeFormat, date, time);
            }
            break;
        case 'd':
            if (n <= 2)
                out += Padded(date.day(), int(n));
            else if (n == 3)
                out += fs.ShortDayNames[size_t(date.dayOfWeek() % 7)];
            else if (n == 4)
                out += fs.LongDayNames[size_t(date.dayOfWeek() % 7)];
            else if (n == 5)
                AppendDateTime(out, fs.ShortDateFormat, date, time);
            else
                AppendDateTime(out, QStringLiteral("dddd d mmmm yyyy"), date, time);
            break;
        case 'm':
            if (afterHour)
                out += Padded(time.minute(), n >= 2 ? 2 : 1);
            else if (n <= 2)
                out += Padded(date.month(), int(n));
            else if (n == 3)
                out += fs.ShortMonthNames[size_t(date.month() - 1)];
            else
                out += fs.LongMonthNames[size_t(date.month() - 1)];
            break;
        case 'y':
            out += n <= 2 ? Padded(date.year() % 100, 2) : Padded(date.year(), 4);
            break;
        case 'h': {
            int h = time.hour();
            if (twelve) h = h % 12 == 0 ? 12 : h % 12;
            out += Padded(h, n >= 2 ? 2 : 1);
            hour = true;
            break;
        }
        case 'n':
            out += Padded(time.minute(), n >= 2 ? 2 : 1);
            break;
        case 's':
            out += Padded(time.second(), n >= 2 ? 2 : 1);
            break;
        case 'z':
            out += Padded(time.msec(), n >= 3 ? 3 : 1);
            break;
        case 't':
            AppendDateTime(out, n == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, date, time);
            break;
        case '/':
            out += QString(n, fs.DateSeparator);
            i += n;
            continue;
        case ':':
            out += QString(n, fs.TimeSeparator);
            i += n;
            continue;
        default:
            // Literals between an hour and "mm" keep the minutes reading.
            out += f.mid(i, n);
            i += n;
            continue;
        }
        afterHour = hour;
        i += n;
    }
}

} // namespace

QString FormatDateTime(const QString& Format, const QDateTime& Value) {
    QString out;
    AppendDateTime(out, Format, Value.date(), Value.time());
    return out;
}
