// The database account's password exists only at run time: it is derived from a stored text
// that never shows it.
#pragma once

#include <QString>

// The stored text with, for each position i from 11 down to 1, the character at i turned into
// the one whose code is its code XOR 2 × i.
QString MotDePasseDepuis(const QString& stocke);

// The password of the management database's account.
QString MotDePasseGestion();
