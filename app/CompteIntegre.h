// The built-in account of the development build: SYSDBA with the program's own password, for the
// tests, the demo and the benchmarks. The packaged program is built without it (its unit
// SansCompteIntegre.cpp instead), so that no password of a superuser ever reaches a workstation.
#pragma once

#include <QString>

// Whether this program carries the built-in account.
bool CompteIntegreDisponible();
// Its password; empty in a program without it.
QString MotDePasseIntegre();
