// The packaged program: no built-in account, and nothing of the stored password linked in.
#include "CompteIntegre.h"

bool CompteIntegreDisponible() {
    return false;
}

QString MotDePasseIntegre() {
    return {};
}
