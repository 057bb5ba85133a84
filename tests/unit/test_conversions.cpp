// Numbers and dates to and from text, the day counts and the display formats, under the
// program's French conventions unless a case changes them.
#include "Conversions.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// Restores the process-wide conventions whatever a test did to them.
class SettingsGuard {
public:
    SettingsGuard() : FSaved(FormatSettings()) {}
    ~SettingsGuard() { FormatSettings() = FSaved; }

private:
    TFormatSettings FSaved;
};

QDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

} // namespace

TEST(Conversions, AsciiCaseLeavesNationalLettersAlone) {
    EXPECT_EQ(AsciiUpperCase(QStringLiteral("cman_id é ß")), QStringLiteral("CMAN_ID é ß"));
    EXPECT_EQ(AsciiLowerCase(QStringLiteral("CMAN_ID É")), QStringLiteral("cman_id É"));
    EXPECT_TRUE(SameTextAscii(u"Banq_Nom", u"BANQ_NOM"));
    EXPECT_FALSE(SameTextAscii(u"é", u"É"));
    EXPECT_FALSE(SameTextAscii(u"P0", u"P01"));
}

TEST(Conversions, DayCountsMatchTheCalendar) {
    // Day numbers counted by hand: 1 January of year 1 is day 1, 30 December 1899 day 693594,
    // and the server's day 0 is 17 November 1858.
    EXPECT_EQ(ToTimeStamp(QDate(1, 1, 1), QTime(0, 0)).Date, 1);
    EXPECT_EQ(ToTimeStamp(DayZero(), QTime(0, 0, 1, 500)).Date, DayCountToDateNumber);
    EXPECT_EQ(ToTimeStamp(DayZero(), QTime(0, 0, 1, 500)).Time, 1500);
    EXPECT_EQ(DayZero().addDays(-ServerDateToDayCount), QDate(1858, 11, 17));
    EXPECT_EQ(ServerDateToDateNumber + ServerDateToDayCount, DayCountToDateNumber);

    // 9 March 2024 is day 45360 of the spreadsheet count that starts on the same day.
    EXPECT_DOUBLE_EQ(DateTimeToDayCount(At(2024, 3, 9, 12)), 45360.5);
    EXPECT_EQ(DayCountToDateTime(45360.75), At(2024, 3, 9, 18));
    EXPECT_EQ(DayCountToDateTime(-1.25), At(1899, 12, 29, 6));
    // A fraction a hair below the next day rounds onto its midnight.
    EXPECT_EQ(DayCountToDateTime(45360.9999999999), At(2024, 3, 10));
    EXPECT_EQ(ZeroDateTime(), At(1899, 12, 30));
}

TEST(Conversions, NumbersToAndFromText) {
    EXPECT_EQ(FloatToStrGeneral(1.5), "1,5");
    EXPECT_EQ(FloatToStrGeneral(0.1 + 0.2), "0,3");
    EXPECT_EQ(FloatToStrGeneral(-1234567.25), "-1234567,25");
    EXPECT_EQ(FloatToStrGeneral(1e20), "1E20");
    EXPECT_EQ(FloatToStrGeneral(1.5e-7), "1,5E-7");
    EXPECT_EQ(FloatToStrGeneral(std::nan("")), "NAN");
    EXPECT_EQ(FloatToStrGeneral(-std::numeric_limits<double>::infinity()), "-INF");

    double v = 0;
    EXPECT_TRUE(TryTextToDouble(QStringLiteral(" 12,25 "), v));
    EXPECT_EQ(v, 12.25);
    EXPECT_TRUE(TryTextToDouble(QStringLiteral("-1,5E3"), v));
    EXPECT_EQ(v, -1500);
    for (const char* bad : {"", "1.5", "1 000", "abc", "1,2,3"})
        EXPECT_FALSE(TryTextToDouble(QString::fromUtf8(bad), v)) << bad;

    EXPECT_EQ(Pow10(0), 1);
    EXPECT_EQ(Pow10(18), 1000000000000000000LL);
    EXPECT_EQ(ScaledTruncate(1999, -2), 19);
    EXPECT_EQ(ScaledTruncate(-1999, -2), -19);
    EXPECT_EQ(ScaledTruncate(5, -19), 0);
    EXPECT_EQ(ScaledTruncate(3, 2), 300);
    EXPECT_EQ(ScaledToDouble(1250, -2), 12.5);
    EXPECT_EQ(ScaledToDouble(-3, 1), -30);

    EXPECT_EQ(ScaledToText(1250, -2), "12,5");
    EXPECT_EQ(ScaledToText(-5, -2), "-0,05");
    EXPECT_EQ(ScaledToText(100, -2), "1");
    EXPECT_EQ(ScaledToText(0, -4), "0");
    EXPECT_EQ(ScaledToText(7, 2), "700");
    EXPECT_EQ(ScaledToText(std::numeric_limits<qint64>::min(), -4), "-922337203685477,5808");
}

TEST(Conversions, DatesToAndFromText) {
    EXPECT_EQ(DateText(QDate(2024, 3, 9)), "09/03/2024");
    EXPECT_EQ(TimeText(QTime(7, 5, 3)), "07:05:03");
    EXPECT_EQ(DateTimeText(At(2024, 3, 9)), "09/03/2024");
    EXPECT_EQ(DateTimeText(At(2024, 3, 9, 0, 0, 1)), "09/03/2024 00:00:01");
    EXPECT_EQ(FormatDateTimeText(QStringLiteral("yy-m-d h:n:s.zzz"), QDate(2005, 1, 2),
                                 QTime(3, 4, 5, 6)),
              "05-1-2 3:4:5.006");

    QDate d;
    EXPECT_TRUE(TryParseDate(QStringLiteral("9/3/24"), d));
    EXPECT_EQ(d, QDate(2024, 3, 9));
    EXPECT_TRUE(TryParseDate(QStringLiteral("01/01/75"), d));
    EXPECT_EQ(d, QDate(1975, 1, 1));
    for (const char* bad : {"31/02/2024", "09-03-2024", "9/3", "a/b/c", "1/1/12345"})
        EXPECT_FALSE(TryParseDate(QString::fromUtf8(bad), d)) << bad;

    QTime t;
    EXPECT_TRUE(TryParseTime(QStringLiteral("14:05:07.089"), t));
    EXPECT_EQ(t, QTime(14, 5, 7, 89));
    EXPECT_TRUE(TryParseTime(QStringLiteral("14:05"), t));
    EXPECT_EQ(t, QTime(14, 5));
    for (const char* bad : {"25:00", "14", "14:05:07.1000", "1:2:3:4"})
        EXPECT_FALSE(TryParseTime(QString::fromUtf8(bad), t)) << bad;

    QDateTime dt;
    EXPECT_TRUE(TryParseDateTime(QStringLiteral(" 09/03/2024 14:05:07 "), dt));
    EXPECT_EQ(dt, At(2024, 3, 9, 14, 5, 7));
    EXPECT_TRUE(TryParseDateTime(QStringLiteral("14:05"), dt));
    EXPECT_EQ(dt, At(1899, 12, 30, 14, 5));
    EXPECT_FALSE(TryParseDateTime(QString(), dt));
    EXPECT_FALSE(TryParseDateTime(QStringLiteral("14:05 09/03/2024"), dt));

    // The order of day, month and year follows the short date format.
    SettingsGuard guard;
    FormatSettings().ShortDateFormat = QStringLiteral("yyyy/mm/dd");
    EXPECT_TRUE(TryParseDate(QStringLiteral("2024/03/09"), d));
    EXPECT_EQ(d, QDate(2024, 3, 9));
    EXPECT_EQ(DateText(d), "2024/03/09");
}

// The server and the fields take these texts for numbers and dates: what is not a number must
// be refused, and a year written in full must stay the year written.
TEST(Conversions, TextsThatAreNoFiniteNumberAreRefused) {
    double v = 0;
    for (const char* bad : {"inf", "-inf", "+INF", "nan", "NaN", " inf ", "1E400"})
        EXPECT_FALSE(TryTextToDouble(QString::fromUtf8(bad), v)) << bad << " read as " << v;
    EXPECT_TRUE(TryTextToDouble(QStringLiteral("1,7976931348623157E308"), v));
    EXPECT_EQ(v, std::numeric_limits<double>::max());
}

TEST(Conversions, YearsWrittenWithMoreThanTwoDigitsAreTakenAsWritten) {
    QDate d;
    for (const QDate& date :
         {QDate(50, 6, 1), QDate(1, 1, 1), QDate(99, 12, 31), QDate(999, 2, 3)}) {
        ASSERT_TRUE(TryParseDate(DateText(date), d)) << DateText(date).toStdString();
        EXPECT_EQ(d, date) << DateText(date).toStdString();
    }
    EXPECT_TRUE(TryParseDate(QStringLiteral("01/06/050"), d));
    EXPECT_EQ(d, QDate(50, 6, 1));
    // one or two digits still take the nearest century
    EXPECT_TRUE(TryParseDate(QStringLiteral("01/06/5"), d));
    EXPECT_EQ(d, QDate(2005, 6, 1));
    EXPECT_TRUE(TryParseDate(QStringLiteral("01/06/50"), d));
    EXPECT_EQ(d, QDate(1950, 6, 1));

    QDateTime dt;
    ASSERT_TRUE(TryParseDateTime(DateTimeText(At(30, 1, 2, 3, 4, 5)), dt));
    EXPECT_EQ(dt, At(30, 1, 2, 3, 4, 5));
}

TEST(Conversions, ZeroScaledUpIsZero) {
    EXPECT_EQ(ScaledToText(0, 2), "0");
    EXPECT_EQ(ScaledToText(0, 0), "0");
    EXPECT_EQ(ScaledToText(-7, 2), "-700");
}

TEST(Conversions, FormatFloat) {
    struct Case {
        const char* format;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {"#,##0.00", 1234567.891, "1 234 567,89"},
        {"#,##0.00", -1234.5, "-1 234,50"},
        {"#,##0.00", 0.005, "0,01"},
        {"#,##0", 999.5, "1 000"},
        {"#,##0.", 1234, "1 234"},
        // A blank is a literal, not a grouping mark: the leading placeholder takes the digits
        // beyond the others.
        {"# ##0.", 1234567, "1234 567"},
        {"0.", 2.5, "3"},
        {"0.", -2.5, "-3"},
        {"0.", -0.4, "0"},
        {"0.00", 2.675, "2,68"},
        {"0.00", 1.005, "1,01"},
        {"0.##", 1, "1"},
        {"0.##", 1.5, "1,5"},
        {"#.##", 0.5, ",5"},
        {"000", 7, "007"},
        {"#", 0, ""},
        {".00", 12.5, "12,50"},
        {"#,##0.00;(#,##0.00);Zéro", -1234.5, "(1 234,50)"},
        {"#,##0.00;(#,##0.00);Zéro", 0, "Zéro"},
        {"#,##0.00;(#,##0.00);Zéro", -0.001, "Zéro"},
        {"0.00;;Nul", -2, "-2,00"},
        {"0.00E+00", 1234.5, "1,23E+03"},
        {"0.00E-00", 0.00012345, "1,23E-04"},
        {"0.0e-0", 1234.5, "1,2e3"},
        {"00.0E+0", 0, "00,0E+0"},
        {"'Total; '0.0\" €\"", 3.14159, "Total; 3,1 €"},
        {"0 %", 42, "42 %"},
        {"", 1.5, "1,5"},
        {"0", 1e20, "1E20"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatFloat(QString::fromUtf8(c.format), c.value), QString::fromUtf8(c.expected))
            << c.format << " " << c.value;

    SettingsGuard guard;
    FormatSettings().DecimalSeparator = QLatin1Char('.');
    FormatSettings().ThousandSeparator = QLatin1Char(',');
    EXPECT_EQ(FormatFloat(QStringLiteral("#,##0.00"), 1234.5), "1,234.50");
}

TEST(Conversions, FormatDateTime) {
    const QDateTime afternoon = At(2024, 3, 9, 14, 5, 7, 89);
    struct Case {
        const char* format;
        QDateTime value;
        const char* expected;
    };
    const Case cases[] = {
        {"dd.mm.yyyy hh:mm AMPM", afternoon, "09.03.2024 02:05 PM"},
        {"dd/mm/yyyy hh:mm:ss", afternoon, "09/03/2024 14:05:07"},
        {"hh:mm AMPM", At(2024, 3, 9, 0, 30), "12:30 AM"},
        {"hh:mm AMPM", At(2024, 3, 9, 12, 0), "12:00 PM"},
        {"hh:mm am/pm", afternoon, "02:05 pm"},
        {"h A/P", afternoon, "2 P"},
        {"d/m/yy", afternoon, "9/3/24"},
        {"mm/yyyy", afternoon, "03/2024"},
        {"dddd d mmmm yyyy", afternoon, "samedi 9 mars 2024"},
        {"ddd d mmm", At(2024, 2, 1), "jeu. 1 févr."},
        {"h:nn:ss.zzz", afternoon, "14:05:07.089"},
        {"'le' dd 'à' hh\"h\"nn", afternoon, "le 09 à 14h05"},
        {"c", afternoon, "09/03/2024 14:05:07"},
        {"c", At(2024, 3, 9), "09/03/2024"},
        {"ddddd", afternoon, "09/03/2024"},
        {"t", afternoon, "14:05"},
        {"tt", afternoon, "14:05:07"},
        {"yyyy-mm-dd", afternoon, "2024-03-09"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatDateTime(QString::fromUtf8(c.format), c.value),
                  QString::fromUtf8(c.expected))
            << c.format;

    SettingsGuard guard;
    FormatSettings().DateSeparator = QLatin1Char('-');
    FormatSettings().TimePMString = QStringLiteral("après-midi");
    EXPECT_EQ(FormatDateTime(QStringLiteral("dd/mm/yyyy h AMPM"), afternoon),
              QStringLiteral("09-03-2024 2 après-midi"));
}
