// Hands the database password to the project's own scripts through a pipe, so that they never
// hold it in a file or on a command line.
#include "MotDePasse.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

int main() {
    if (isatty(STDOUT_FILENO)) {
        std::fputs("ravelin-motdepasse: refuse d'écrire le mot de passe sur un terminal\n", stderr);
        return 2;
    }
    // A redirection to a file would leave the password on disk: only a reading process (a pipe,
    // or the socket some callers read a child through) may receive it.
    struct stat sortie {};
    if (fstat(STDOUT_FILENO, &sortie) != 0 ||
        !(S_ISFIFO(sortie.st_mode) || S_ISSOCK(sortie.st_mode))) {
        std::fputs(
            "ravelin-motdepasse: refuse d'écrire le mot de passe ailleurs que dans un tube\n",
            stderr);
        return 2;
    }
    const QByteArray mdp = MotDePasseGestion().toUtf8();
    std::fwrite(mdp.constData(), 1, size_t(mdp.size()), stdout);
    return 0;
}
