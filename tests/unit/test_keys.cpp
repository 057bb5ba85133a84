// The RIB key and IBAN check digits that the bank change run writes into every mandate.
#include "SysUtils.h"
#include "uFonctions_Verification.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>

namespace {

QString Invalid(const char* chunk) {
    return QStringLiteral("'%1' n'est pas une valeur entière correcte").arg(QLatin1String(chunk));
}

QString TwoDigits(qint32 v) {
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

} // namespace

TEST(Keys, WorkedExamples) {
    EXPECT_EQ(ModuloDecimal(QStringLiteral("1234567"), 97), 48);
    EXPECT_EQ(CleRIB(QStringLiteral("12345678901234567890100")), 4);
    EXPECT_EQ(CleRIB(QStringLiteral("11111222223333333X33300")), 22);
    EXPECT_EQ(CleIBAN(QStringLiteral("FR0012345678901234567890104")), 76);
    EXPECT_EQ(CleIBAN(QStringLiteral("FR0011111222223333333X33322")), 44);

    // Published French sample accounts, as a check independent of our own examples.
    EXPECT_EQ(CleRIB(QStringLiteral("20041010050500013M02600")), 6);
    EXPECT_EQ(CleIBAN(QStringLiteral("FR0020041010050500013M02606")), 14);
    EXPECT_EQ(CleRIB(QStringLiteral("30006000011234567890100")), 89);
    EXPECT_EQ(CleIBAN(QStringLiteral("FR0030006000011234567890189")), 76);
}

TEST(Keys, ModuloDecimalShortAndEmptyTexts) {
    EXPECT_EQ(ModuloDecimal(QString(), 97), 0);
    EXPECT_EQ(ModuloDecimal(QStringLiteral("00000"), 97), 0);
    EXPECT_EQ(ModuloDecimal(QStringLiteral("7"), 97), 7);
    EXPECT_EQ(ModuloDecimal(QStringLiteral("96"), 97), 96);
    EXPECT_EQ(ModuloDecimal(QStringLiteral("970"), 97), 0);
    EXPECT_EQ(ModuloDecimal(QStringLiteral("9999"), 97), 8);
    EXPECT_EQ(ModuloDecimal(QStringLiteral("1234"), 1000), 234);
    // exactly one chunk, and one chunk plus one digit
    EXPECT_EQ(ModuloDecimal(QStringLiteral("99999"), 97), 99999 % 97);
    EXPECT_EQ(ModuloDecimal(QStringLiteral("100000"), 97), 100000 % 97);

    EXPECT_THROW(ModuloDecimal(QStringLiteral("12345"), 0), Exception);
}

TEST(Keys, CleRIBAndCleIBANEdges) {
    EXPECT_EQ(CleIBAN(QString()), 98);

    EXPECT_EQ(CleRIB(QStringLiteral("1234567890123456789010")), 0);   // 22 characters
    EXPECT_EQ(CleRIB(QStringLiteral("123456789012345678901000")), 0); // 24 characters
    EXPECT_EQ(CleRIB(QString()), 0);

    // Remainder 0 gives 97, never 0, which would read as "wrong length".
    EXPECT_EQ(CleRIB(QStringLiteral("00000000000000000000000")), 97);
    EXPECT_EQ(CleRIB(QStringLiteral("00000000000000000009700")), 97);

    // Lower-case letters are RIB letters too.
    EXPECT_EQ(CleRIB(QStringLiteral("11111222223333333x33300")), 22);
}

TEST(Keys, LetterTables) {
    EXPECT_EQ(ConvertirLettresRIB(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ")),
              QStringLiteral("12345678912345678923456789"));
    EXPECT_EQ(ConvertirLettresRIB(QStringLiteral("abcdefghijklmnopqrstuvwxyz")),
              QStringLiteral("12345678912345678923456789"));
    EXPECT_EQ(ConvertirLettresRIB(QStringLiteral("x")), QStringLiteral("7"));
    EXPECT_EQ(ConvertirLettresRIB(QStringLiteral("0 9-é@[`{")), QStringLiteral("0 9-é@[`{"));

    EXPECT_EQ(ConvertirLettresIBAN(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ")),
              QStringLiteral("1011121314151617181920212223242526272829303132333435"));
    EXPECT_EQ(ConvertirLettresIBAN(QStringLiteral("X")), QStringLiteral("33"));
    EXPECT_EQ(ConvertirLettresIBAN(QStringLiteral("x")), QStringLiteral("x"));
    EXPECT_EQ(ConvertirLettresIBAN(QStringLiteral("F0R9 é@[")), QStringLiteral("150279 é@["));
}

// The system's integer parsing would read these chunks as numbers and turn a malformed account
// into a plausible but wrong key; only the digits 0 to 9 are accepted.
TEST(Keys, ChunksWithAnythingButDigitsRaise) {
    EXPECT_EQ(ConvertErrorOf([] { ModuloDecimal(QStringLiteral(" 1234"), 97); }), Invalid(" 1234"));
    EXPECT_EQ(ConvertErrorOf([] { ModuloDecimal(QStringLiteral("-1234"), 97); }), Invalid("-1234"));
    EXPECT_EQ(ConvertErrorOf([] { ModuloDecimal(QStringLiteral("+1234"), 97); }), Invalid("+1234"));
    EXPECT_EQ(ConvertErrorOf([] { ModuloDecimal(QStringLiteral("$1234"), 97); }), Invalid("$1234"));
    EXPECT_EQ(ConvertErrorOf([] { ModuloDecimal(QStringLiteral("0x123"), 97); }), Invalid("0x123"));
    EXPECT_EQ(ConvertErrorOf([] { ModuloDecimal(QStringLiteral("x1234"), 97); }), Invalid("x1234"));
    EXPECT_EQ(ConvertErrorOf([] { ModuloDecimal(QStringLiteral("1234 "), 97); }), Invalid("1234 "));
    // the chunk quoted is the padded one, and only the bad chunk is named
    EXPECT_EQ(ConvertErrorOf([] { ModuloDecimal(QStringLiteral("-12"), 97); }), Invalid("00-12"));
    EXPECT_EQ(ConvertErrorOf([] { ModuloDecimal(QStringLiteral("12345678a0"), 97); }),
              Invalid("678a0"));
    // digits of other scripts are not account digits
    EXPECT_EQ(ConvertErrorOf([] { ModuloDecimal(QStringLiteral("1234\u0661"), 97); }),
              QStringLiteral("'1234\u0661' n'est pas une valeur entière correcte"));

    // Lower-case letters stay letters for the IBAN: "fr00" ends up in the last chunk.
    EXPECT_EQ(ConvertErrorOf([] { CleIBAN(QStringLiteral("fr0012345678901234567890104")); }),
              Invalid("4fr00"));
    // a lower-case "x" lands where the system would have read "0x041" as hexadecimal
    EXPECT_EQ(ConvertErrorOf([] { CleIBAN(QStringLiteral("FR0012345678901234567890x04")); }),
              Invalid("0x041"));
    EXPECT_EQ(ConvertErrorOf([] { CleRIB(QStringLiteral("12345-78901234567890100")); }),
              Invalid("45-78"));
    EXPECT_EQ(ConvertErrorOf([] { CleRIB(QStringLiteral("1234567890 234567890100")); }),
              Invalid("90 23"));
}

// Every key computed for random accounts must complete a RIB and an IBAN that verify.
TEST(Keys, RandomAccountsVerify) {
    static const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::mt19937_64 rng(20240611);
    const auto randomText = [&](int length) {
        QString s;
        for (int i = 0; i < length; ++i)
            s += QLatin1Char(alphabet[rng() % 36]);
        return s;
    };
    int failures = 0;
    for (int i = 0; i < 20000 && failures < 5; ++i) {
        const QString base = randomText(5) + randomText(5) + randomText(11);
        const qint32 key = CleRIB(base + QStringLiteral("00"));
        const QString rib = base + TwoDigits(key);
        const qint32 cd = CleIBAN(QStringLiteral("FR00") + rib);
        const QString iban = QStringLiteral("FR") + TwoDigits(cd) + rib;
        const bool ok = key >= 1 && key <= 97 && cd >= 2 && cd <= 98 &&
                        ModuloDecimal(ConvertirLettresRIB(rib), 97) == 0 &&
                        ModuloDecimal(ConvertirLettresIBAN(iban.mid(4) + iban.left(4)), 97) == 1;
        if (!ok) {
            ++failures;
            ADD_FAILURE() << "RIB " << rib.toStdString() << " IBAN " << iban.toStdString();
        }
    }
}

TEST(Keys, ModuloDecimalMatchesDigitByDigit) {
    std::mt19937_64 rng(97);
    int failures = 0;
    for (int i = 0; i < 20000 && failures < 5; ++i) {
        QString digits;
        const int length = int(rng() % 61);
        for (int j = 0; j < length; ++j)
            digits += QLatin1Char(char('0' + rng() % 10));
        // 97 as the callers use it, and any modulus up to the 32-bit limit
        const qint32 modulus = i % 2 ? 97 : qint32(1 + rng() % 0x7FFFFFFF);
        const qint32 expected = ReferenceModulo(digits, modulus);
        const qint32 actual = ModuloDecimal(digits, modulus);
        if (actual != expected) {
            ++failures;
            ADD_FAILURE() << digits.toStdString() << " mod " << modulus << ": " << actual
                          << " instead of " << expected;
        }
    }
}
