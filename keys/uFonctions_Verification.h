// The two check values of a French account identifier: the RIB key and the IBAN check digits.
#pragma once

#include <QString>

// Every letter, either case, replaced by its RIB digit; everything else unchanged.
QString ConvertirLettresRIB(const QString& texte);
// Every capital letter replaced by its two ISO 13616 digits (A = 10 ... Z = 35); everything
// else, lower-case letters included, unchanged.
QString ConvertirLettresIBAN(const QString& texte);
// The value of a decimal digit text of any length modulo the modulus. Raises EConvertError
// "'%s' n'est pas une valeur entière correcte" with the offending 5-character chunk when the
// text holds anything but the digits 0 to 9.
qint32 ModuloDecimal(const QString& digits, qint32 modulus);
// The RIB key (1 to 97) of bank code, branch code and account number followed by "00";
// 0 when the text is not 23 characters long.
qint32 CleRIB(const QString& texte);
// The check digits (2 to 98) of an IBAN written with "00" in place of them.
qint32 CleIBAN(const QString& texte);
