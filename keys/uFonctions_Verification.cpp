#include "uFonctions_Verification.h"

#include "SysUtils.h"

namespace {

constexpr int ChunkWidth = 5;
constexpr qint64 ChunkMultiplier = 100000;

// Only plain digits are account data. The system's own integer parsing would also take blanks,
// signs and hexadecimal prefixes, and turn a malformed account into a wrong key.
qint32 ChunkValue(QStringView chunk) {
    qint32 value = 0;
    for (QChar c : chunk) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            throw EConvertError(InvalidIntegerMessage(chunk.toString()));
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

} // namespace

QString ConvertirLettresRIB(const QString& texte) {
    // A..I -> 1..9, J..R -> 1..9, S..Z -> 2..9: the French rule skips one digit at S.
    static const char digits[] = "12345678912345678923456789";
    QString result = texte;
    for (QChar& c : result) {
        const char16_t u = c.unicode();
        if (u >= 'a' && u <= 'z')
            c = QLatin1Char(digits[u - 'a']);
        else if (u >= 'A' && u <= 'Z')
            c = QLatin1Char(digits[u - 'A']);
    }
    return result;
}

QString ConvertirLettresIBAN(const QString& texte) {
    QString result;
    result.reserve(texte.size() * 2);
    for (QChar c : texte) {
        const char16_t u = c.unicode();
        if (u >= 'A' && u <= 'Z')
            result += QString::number(u - 'A' + 10);
        else
            result += c;
    }
    return result;
}

qint32 ModuloDecimal(const QString& digits, qint32 modulus) {
    if (modulus == 0) throw Exception(QStringLiteral("Division par zéro"));
    QString text = digits;
    const qsizetype rest = text.size() % ChunkWidth;
    if (rest > 0) text.prepend(QString(ChunkWidth - rest, QLatin1Char('0')));
    const qsizetype chunks = text.size() / ChunkWidth;
    if (chunks < 1) return 0;
    qint64 accumulator = 0;
    for (qsizetype i = 0; i < chunks; ++i) {
        const qint32 v = ChunkValue(QStringView(text).mid(i * ChunkWidth, ChunkWidth));
        accumulator = (v + accumulator * ChunkMultiplier) % modulus;
    }
    return qint32(accumulator);
}

qint32 CleRIB(const QString& texte) {
    if (texte.size() != 23) return 0;
    return 97 - ModuloDecimal(ConvertirLettresRIB(texte), 97);
}

qint32 CleIBAN(const QString& texte) {
    const QString joined = ConvertirLettresIBAN(texte.mid(4)) + ConvertirLettresIBAN(texte.left(4));
    return 98 - ModuloDecimal(joined, 97);
}
