// The workstation's configuration: the optional file ravelin/ravelin.conf that an administrator
// deploys to reach the organisation's server with an account of its own. The program reads it
// once at start and never writes it.
#pragma once

#include "Programme.h"

#include <QString>
#include <QStringList>

struct TConfiguration {
    // The file read; empty when there is none, and then the connection is the built-in one.
    QString Fichier;
    TConnexionProgramme Connexion;
    // One text per line of the file the program cannot use, with the file's path and the line.
    // When there is any, the program does not connect at all: a half-understood file could
    // send the user's password to a server the administrator did not mean.
    QStringList Erreurs;

    bool Utilisable() const { return Erreurs.isEmpty(); }
    // The text of the error box: every error on a line of its own.
    QString TexteErreurs() const;
};

// The file that applies: ravelin/ravelin.conf under $XDG_CONFIG_HOME (~/.config by default) for
// one user, else the first one under $XDG_CONFIG_DIRS (/etc/xdg by default) for the whole
// workstation; empty when there is none.
QString FichierConfiguration();

// Reads the file that applies; without one, the built-in connection and no error.
TConfiguration LireConfiguration();
// Reads the given file (INI, group [connexion], keys base, utilisateur, role, bibliotheque,
// chiffrement, delai_connexion).
TConfiguration LireConfiguration(const QString& fichier);

// The box of a program without a built-in account when no file names an account (`fichier` is
// the file read, empty when there is none): how the administrator sets the workstation up.
QString TexteSansCompte(const QString& fichier);
