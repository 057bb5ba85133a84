// Small helpers the test suites share.
#pragma once

#include "SysUtils.h"
#include "fib.h"

#include <QString>

#include <cstdint>
#include <stdexcept>

// Test texts are written in UTF-8, accents included.
inline QString S(const char* text) {
    return QString::fromUtf8(text);
}

// The exception of type E that the action raises; a test that expects one fails when none comes.
template <typename E, typename F> E Raised(F&& action) {
    try {
        action();
    } catch (const E& e) {
        return e;
    }
    throw std::logic_error("expected exception not raised");
}

// The message of the EConvertError a call raises: the runtime's conversion messages are part
// of what the user reads, so tests compare them whole.
template <typename F> QString ConvertErrorOf(F&& call) {
    return Raised<EConvertError>(call).Message();
}

// The EFIBClientError a call raises: the layer's numbered messages are compared whole, and its
// code tells which message was chosen.
template <typename F> EFIBClientError ClientErrorOf(F&& call) {
    return Raised<EFIBClientError>(call);
}

// Digit by digit, with no chunking, so that it shares nothing with the code under test.
inline qint32 ReferenceModulo(const QString& digits, qint32 modulus) {
    std::uint64_t r = 0;
    for (QChar c : digits)
        r = (r * 10 + std::uint64_t(c.unicode() - '0')) % std::uint64_t(modulus);
    return qint32(r);
}

// The French IBAN of an all-digit bank code, branch code and account number, by the reference
// modulo: key = 97 - RIB·100 mod 97, check digits = 98 - (RIB, "FR00" as 152700) mod 97.
inline QString ReferenceIban(const QString& code, const QString& guichet, const QString& compte) {
    const QString sansCle = code + guichet + compte;
    const qint32 cle = 97 - ReferenceModulo(sansCle + QStringLiteral("00"), 97);
    const QString rib = sansCle + QStringLiteral("%1").arg(cle, 2, 10, QLatin1Char('0'));
    const qint32 controle = 98 - ReferenceModulo(rib + QStringLiteral("152700"), 97);
    return QStringLiteral("FR%1").arg(controle, 2, 10, QLatin1Char('0')) + rib;
}
