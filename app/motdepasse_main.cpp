// Hands the database password to the project's own scripts through a pipe, so that they never
// hold it in a file or on a command line.
#include "MotDePasse.h"

#include <cstdio>
#include <unistd.h>

int main() {
    if (isatty(STDOUT_FILENO)) {
        std::fputs("ravelin-motdepasse: refuse d'écrire le mot de passe sur un terminal\n", stderr);
        return 2;
    }
    const QByteArray mdp = MotDePasseGestion().toUtf8();
    std::fwrite(mdp.constData(), 1, size_t(mdp.size()), stdout);
    return 0;
}
