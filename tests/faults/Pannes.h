// What the fault tests share: their own server instance, which they kill and start again; a
// second connection that sets the mandates up and reads them back; the audit that tells every
// listed mandate untouched, fully changed or half done; the main window driven as a user would.
#pragma once

#include "BoxRecorder.h"
#include "Unit1.h"
#include "pFIBDatabase.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace Pannes {

// ---------------------------------------------------------------------------------------------
// The instance

// The instance folder, from RAVELIN_PANNES_ROOT.
QString Racine();
// Starts the instance; the first start of a process picks a free port, the later ones take the
// same port again, so that clients configured for it reach the restarted server.
bool Demarrer();
// SIGKILL to the server, and back only once it is gone.
void Tuer();
// Stops the instance if it runs.
void Arreter();

// ---------------------------------------------------------------------------------------------
// Settings from the environment

// Number of random instants per mode: RAVELIN_PANNES_INSTANTS, 1 by default.
int Instants();
// Mandates per run: RAVELIN_PANNES_MANDATS, 10,000 by default.
int Mandats();
// The first seed: RAVELIN_PANNES_GRAINE, else drawn; each instant takes the next one.
std::uint64_t PremiereGraine();

// ---------------------------------------------------------------------------------------------
// The data

constexpr int Modifier = 0;
constexpr int Recreer = 1;
const char* NomMode(int mode);

// A second connection of the program's kind.
class Connexion {
public:
    Connexion();
    ~Connexion();
    void Executer(const QString& sql);
    // Each row's columns joined by "|", a null as "-".
    QStringList Lignes(const QString& sql);
    // Holds write locks on these mandates (an uncommitted update) until Liberer.
    void Verrouiller(const QStringList& ids);
    void Liberer();

private:
    TpFIBDatabase FDb;
    TpFIBTransaction FVerrou;
};

// A listed mandate as it was before any run.
struct Origine {
    QString id;
    QString iban;
    QString reference;
};

// Empties the mandate table and adds `nombre` French mandates of one client at the old bank,
// server-side; returns them as they are stored.
std::vector<Origine> Semer(Connexion& base, int nombre);

struct Bilan {
    int changes = 0;
    int intacts = 0;
    int moities = 0;
    // Recréer: copies beyond the one a changed mandate must have.
    int doublons = 0;
    // Rows of the client that are neither a listed mandate nor its one copy.
    int etrangers = 0;
};

// What the change journals say of the listed mandates, against the audit.
struct BilanJournal {
    // Mandates whose last journal line is CHANGE.
    int changes = 0;
    // Lines the next start or listing added: CHANGE "constaté au démarrage", ECARTE "interrompu".
    int constates = 0;
    int interrompus = 0;
    // Mandates the audit finds changed without a final CHANGE line.
    int sansLigne = 0;
    // Mandates the audit finds untouched with a CHANGE line.
    int fausses = 0;
    // Mandates whose last line is still EN_COURS.
    int enCours = 0;
};

// The folder the tests' journals go to, beneath which each instant takes a folder of its own.
extern QString DossierDonnees;
// A new empty journals' folder: XDG_DATA_HOME of this process (and of the children it starts).
void NouveauxJournaux(const QString& nom);
// Reads every journal of the folder back and holds it against the audit's state per mandate
// (EtatParMandat, in the order of `origines`).
// `filtre` names the journals read (an undo's: "*_Annulation.csv").
BilanJournal LireJournaux(const std::vector<Origine>& origines, const std::vector<bool>& changes,
                          const QString& filtre = QStringLiteral("*.csv"));

// Reads every mandate of the client and classes each origin: untouched (as it was, and no copy),
// changed ("Modifier": IBAN, BIC and bank all new; "Recréer": the old row inactive and exactly
// one active copy with the derived reference and the new bank data), or half done.
// After an undo of the run (`annulation`), a « Recréer » mandate given back is untouched but for
// its one copy, ended.
Bilan Auditer(Connexion& base, const std::vector<Origine>& origines, int mode,
              bool annulation = false);
// The same, per origin: true when changed, false when untouched; a half-done one fails the test.
std::vector<bool> EtatParMandat(Connexion& base, const std::vector<Origine>& origines, int mode,
                                bool annulation = false);

// ---------------------------------------------------------------------------------------------
// The window

// The main window with its boxes recorded, both banks chosen, only active mandates listed.
class Fenetre {
public:
    Fenetre();
    ~Fenetre();
    // "Vérifier" clicked; the listed identifiers in list order.
    QStringList Verifier();
    // The identifiers the list holds now, in list order; none when it is closed.
    QStringList Liste();
    void Changer(int mode);

    BoxRecorder boxes;
    std::unique_ptr<TfrmPrincipale> frm;
};

// The end-of-run box's text for mandates passed over.
QString TexteEcartes(int ecartes, int traites);

// The program of the termination tests, started with "--terminaison SCENARIO": the window with
// its real boxes, a dialog open (the chooser, the run's confirmation, the run's progress), and
// "pret" said on stdout once the signal may come.
int EnfantTerminaison(int argc, char** argv);

} // namespace Pannes
