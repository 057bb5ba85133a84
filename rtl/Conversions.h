// Numbers and dates to and from text after the system's format settings, the day counts that
// link the program's date-times to the server's and the dataset's stored forms, and the format
// mini-languages of display formats.
//
// Date-times are QDateTime in Qt::UTC: a plain calendar value that no time zone or daylight
// saving ever shifts.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

// The server counts days from 17 November 1858, the program's day count from 30 December 1899
// (15018 days later), the record form from 1 January of year 1 (that day being 1).
constexpr qint32 ServerDateToDayCount = 15018;
constexpr qint32 ServerDateToDateNumber = 678576;
constexpr qint32 DayCountToDateNumber = 693594;
constexpr qint64 MSecsPerDay = 86400000;

// The record form of a date-time: days counted from 1 January of year 1 (that day being 1) and
// milliseconds since midnight.
struct TTimeStamp {
    qint32 Time = 0;
    qint32 Date = 0;
};

// Day 0 of the day count and its midnight.
QDate DayZero();
QDateTime ZeroDateTime();
TTimeStamp ToTimeStamp(const QDate& date, const QTime& time);

// Day count of a date-time (days since 30 December 1899, time as the fraction of a day) and back.
double DateTimeToDayCount(const QDateTime& value);
QDateTime DayCountToDateTime(double value);

// The general float format: up to 15 significant digits, exponent form only for very large or
// very small magnitudes ("1E20", "1,5E-7"), the system's decimal separator.
QString FloatToStrGeneral(double v);
// Reads a float written with the system's decimal separator; no grouping, no other separator.
bool TryTextToDouble(const QString& text, double& value);

// 10^n for n from 0 to 18.
qint64 Pow10(int n);
// The integer part of value × 10^scale, exact (a positive scale wraps like the low 64 bits).
qint64 ScaledTruncate(qint64 value, int scale);
double ScaledToDouble(qint64 value, int scale);
// The exact decimal of an integer scaled by 10^scale: the separator placed -scale digits from
// the right, trailing zeros and a bare separator dropped.
QString ScaledToText(qint64 value, int scale);

// Runs of the letters d, m, y, h, n, s, z; "/" and ":" stand for the system's date and time
// separators; anything else is copied. The plain form the values use for their texts.
QString FormatDateTimeText(const QString& fmt, const QDate& date, const QTime& time);
QString DateText(const QDate& d);
QString TimeText(const QTime& t);
// A date-time shows its time only when it is not midnight exactly.
QString DateTimeText(const QDateTime& dt);

// Day, month and year in the order of the short date format, separated by the date separator;
// a two-digit year below 50 is taken in the 2000s.
bool TryParseDate(const QString& text, QDate& date);
// Hours, minutes and optionally seconds with the time separator, then optionally "." and
// milliseconds.
bool TryParseTime(const QString& text, QTime& time);
// A date, a time, or a date, a blank and a time.
bool TryParseDateTime(const QString& text, QDateTime& value);

// The system's numeric display formats: up to three sections "positive;negative;zero"; "0" a
// digit, "#" a digit shown only when significant, the first "." the decimal separator (shown as
// the system's, and only when a decimal follows), "," before it turns on thousands grouping,
// "E+"/"E-" (any letter case) with digit placeholders an exponent, '...' and "..." literals,
// anything else copied. Rounding is half away from zero on the value's 15 significant digits.
// An empty format gives FloatToStrGeneral.
QString FormatFloat(const QString& Format, double Value);

// The system's date-time display formats: d dd ddd dddd, m mm mmm mmmm (minutes right after an
// hour), yy yyyy, h hh, n nn, s ss, z zzz, c (short date and a non-midnight long time),
// ddddd (short date), t / tt (short / long time), am/pm, a/p and ampm (12-hour clock), "/" and
// ":" the system's separators, '...' and "..." literals, anything else copied.
QString FormatDateTime(const QString& Format, const QDateTime& Value);
