// The application's message boxes and its error box. Both are single replaceable operations so
// that tests can answer them without a real modal box.
#pragma once

#include <QString>

#include <functional>

enum class TMessageKind { Information, Confirmation };

// Result codes of the message boxes: "OK" gives IDOK; "&Oui" IDYES; "&Non" IDNO.
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows a modal message box centred on the screen and returns the code of the button pressed:
// information ("Informations", "OK") or confirmation ("Confirmer", "&Oui" by default, "&Non").
int AfficherMessage(const QString& texte, TMessageKind kind);

// Shows the error box: the application's title as caption, the stop icon, one "OK" button.
void AfficherErreur(const QString& texte);

using TMessageBoxHandler =
    std::function<int(const QString& texte, const QString& caption, TMessageKind kind)>;
using TErrorBoxHandler = std::function<void(const QString& texte, const QString& caption)>;

// Replace the boxes (an empty handler restores the real ones); each returns the previous one.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);
TErrorBoxHandler SetErrorBoxHandler(TErrorBoxHandler handler);

// Asks where to save a file, offering `proposition` (a path); the path chosen, or empty when the
// user cancelled.
QString ChoisirFichierEnregistrement(const QString& titre, const QString& proposition);
using TSaveFileHandler = std::function<QString(const QString& titre, const QString& proposition)>;
// Replaces the save dialog (an empty handler restores the real one); returns the previous one.
TSaveFileHandler SetSaveFileHandler(TSaveFileHandler handler);

// Asks which CSV file to open, starting in `dossier`; the path chosen, or empty when the user
// cancelled.
QString ChoisirFichierOuverture(const QString& titre, const QString& dossier);
using TOpenFileHandler = std::function<QString(const QString& titre, const QString& dossier)>;
// Replaces the open dialog (an empty handler restores the real one); returns the previous one.
TOpenFileHandler SetOpenFileHandler(TOpenFileHandler handler);

// The caption of the information and confirmation boxes.
QString MessageCaption(TMessageKind kind);

// The application's title: the executable's file name without its folder, cut at its first
// ".", every character after the first in lower case.
QString TitreApplication(const QString& executablePath);
QString TitreApplication();

// The text the error box shows for a message: a "." is appended when the last character's code
// is above that of ".".
QString TexteErreur(const QString& message);
