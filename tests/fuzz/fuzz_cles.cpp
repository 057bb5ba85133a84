// libFuzzer target for the account number keys on arbitrary text. CleRIB gives 0 for a text
// that is not 23 characters long, otherwise the key 1 to 97, or the conversion error when a
// character is neither a digit nor a letter; CleIBAN gives 2 to 98, or the conversion error
// when a character is neither a digit nor a capital. Both results are recomputed here with a
// digit-by-digit remainder. NouvelIbanFrancais (the input cut at LF into bank code, typed branch
// code and old IBAN) gives nothing when a piece has the wrong length, the conversion error when
// the new RIB holds anything but digits and capitals, or a 27-character "FR" IBAN made of the
// pieces whose check digits and RIB key verify here.
//
// Build and run: scripts/fuzz (see tests/fuzz/README.md).
#include "FuzzSupport.h"
#include "Programme.h"
#include "uFonctions_Verification.h"

namespace {

bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
bool IsCapital(QChar c) {
    return c >= QLatin1Char('A') && c <= QLatin1Char('Z');
}
bool IsSmall(QChar c) {
    return c >= QLatin1Char('a') && c <= QLatin1Char('z');
}

// The French RIB digit of a letter: A-I are 1-9, J-R are 1-9, S-Z are 2-9.
int RibDigit(QChar c) {
    const int n = (IsSmall(c) ? c.unicode() - 'a' : c.unicode() - 'A');
    if (n < 9) return n + 1;
    if (n < 18) return n - 8;
    return n - 16;
}

// Remainder by 97 of a number given as a list of decimal digits, most significant first.
int Mod97(const QList<int>& digits) {
    int r = 0;
    for (int d : digits)
        r = (r * 10 + d) % 97;
    return r;
}

void AppendIbanDigits(QList<int>& digits, QStringView text) {
    for (QChar c : text) {
        if (IsCapital(c)) {
            const int v = c.unicode() - 'A' + 10;
            digits << v / 10 << v % 10;
        } else {
            digits << c.unicode() - '0';
        }
    }
}

// The conversion error names the five-character piece it could not read.
void RequireConversionMessage(const QString& message) {
    static const QString tail = QStringLiteral("' n'est pas une valeur entière correcte");
    Require(message.startsWith(QLatin1Char('\'')) && message.endsWith(tail) &&
            message.size() == 1 + 5 + tail.size());
}

void CheckCleRIB(const QString& text) {
    qint32 key = -1;
    QString message;
    const TOutcome outcome = Run<EFIBClientError>([&] { key = CleRIB(text); }, message);
    if (text.size() != 23) {
        Require(outcome == TOutcome::Result && key == 0);
        return;
    }
    const bool readable = std::all_of(
        text.begin(), text.end(), [](QChar c) { return IsDigit(c) || IsCapital(c) || IsSmall(c); });
    if (!readable) {
        Require(outcome == TOutcome::ConvertError);
        RequireConversionMessage(message);
        return;
    }
    Require(outcome == TOutcome::Result);
    QList<int> digits;
    for (QChar c : text)
        digits << (IsDigit(c) ? c.unicode() - '0' : RibDigit(c));
    Require(key == 97 - Mod97(digits) && key >= 1 && key <= 97);
}

void CheckCleIBAN(const QString& text) {
    qint32 check = -1;
    QString message;
    const TOutcome outcome = Run<EFIBClientError>([&] { check = CleIBAN(text); }, message);
    const bool readable =
        std::all_of(text.begin(), text.end(), [](QChar c) { return IsDigit(c) || IsCapital(c); });
    if (!readable) {
        Require(outcome == TOutcome::ConvertError);
        RequireConversionMessage(message);
        return;
    }
    Require(outcome == TOutcome::Result);
    QList<int> digits;
    AppendIbanDigits(digits, QStringView(text).mid(qMin<qsizetype>(4, text.size())));
    AppendIbanDigits(digits, QStringView(text).left(4));
    Require(check == 98 - Mod97(digits) && check >= 2 && check <= 98);
}

void CheckNouvelIban(const QStringList& pieces) {
    const QString code = pieces.value(0);
    const QString typed = pieces.value(1);
    const QString iban = pieces.value(2);
    QString result;
    QString message;
    const TOutcome outcome =
        Run<EFIBClientError>([&] { result = NouvelIbanFrancais(code, typed, iban); }, message);
    const QString branch = typed.isEmpty() ? iban.mid(9, 5) : typed;
    const QString account = iban.mid(14, 11);
    if (code.size() != 5 || branch.size() != 5 || account.size() != 11) {
        Require(outcome == TOutcome::Result && result.isEmpty());
        return;
    }
    const QString rib = code + branch + account;
    if (!std::all_of(rib.begin(), rib.end(), [](QChar c) { return IsDigit(c) || IsCapital(c); })) {
        Require(outcome == TOutcome::ConvertError);
        RequireConversionMessage(message);
        return;
    }
    Require(outcome == TOutcome::Result && result.size() == 27);
    Require(result.startsWith(QLatin1String("FR")) && result.mid(4, 21) == rib);
    const QString key = result.mid(25, 2);
    Require(IsDigit(key[0]) && IsDigit(key[1]) && IsDigit(result[2]) && IsDigit(result[3]));
    // RIB key: the 23 digits, letters by the RIB rule, are a multiple of 97.
    QList<int> ribDigits;
    for (QChar c : rib + key)
        ribDigits << (IsDigit(c) ? c.unicode() - '0' : RibDigit(c));
    Require(Mod97(ribDigits) == 0);
    // IBAN: the account identifier, then "FR" and the check digits, leave 1.
    QList<int> ibanDigits;
    AppendIbanDigits(ibanDigits, QStringView(result).mid(4));
    AppendIbanDigits(ibanDigits, QStringView(result).left(4));
    Require(Mod97(ibanDigits) == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = FuzzText(data, size);
    CheckCleRIB(text);
    CheckCleIBAN(text);
    CheckNouvelIban(FuzzLines(text));
    return 0;
}
