// The change journal: one file per change run on the workstation, recording for each mandate
// what it was, what it became and, when it was passed over, why, in the file format of Csv.h.
// The next SEPA collections need the old account data (amendments), and auditors ask who
// changed which account when: the database keeps only the new values.
#pragma once

#include "Csv.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <functional>
#include <vector>

class TDataSet;
class TFIBDatabase;

// ---------------------------------------------------------------------------------------------
// The journal's lines

// A change run's mode, and the mode of the run that gives one back from its journal.
enum class TModeChangement { Modifier, Recreer, AnnulationModifier, AnnulationRecreer };

// « Modifier » for a mode that rewrites rows in place, « Recréer » for one that ends and
// activates rows: the rule its lines follow.
TModeChangement ModeDeBase(TModeChangement mode);
bool EstAnnulation(TModeChangement mode);
// The mode that gives a run of `mode` back.
TModeChangement ModeAnnulation(TModeChangement mode);

// A mandate's fields, from its identifier to the new bank, as a line wrote them.
inline constexpr int ChampsMandat = 11;
struct TMandatFormate {
    std::array<QString, ChampsMandat> valeurs;
    QByteArray octets;
};

// "Modifier" or "Recréer", as the window's radio group names them; "Annulation Modifier" or
// "Annulation Recréer" for the undo of such a run.
QString NomMode(TModeChangement mode);

// The results and reasons the journal writes.
namespace Resultat {
inline const QString EnCours = QStringLiteral("EN_COURS");
inline const QString Change = QStringLiteral("CHANGE");
inline const QString Ecarte = QStringLiteral("ECARTE");
} // namespace Resultat

namespace Motif {
inline const QString Verrou = QStringLiteral("verrou");
inline const QString DonneesCompte = QStringLiteral("donnees_compte");
// The IBAN's bank code is not the old bank's: the new code would go in front of another bank's
// branch and account.
inline const QString AutreBanque = QStringLiteral("autre_banque");
inline const QString Inactif = QStringLiteral("inactif");
// The row no longer held what the list showed (someone changed or deleted it since).
inline const QString Modifie = QStringLiteral("modifie");
// Followed by the server's message.
inline const QString Serveur = QStringLiteral("serveur: ");
inline const QString ConstateAuDemarrage = QStringLiteral("constaté au démarrage");
inline const QString Interrompu = QStringLiteral("interrompu");
} // namespace Motif

// One mandate's line, but for its time stamp and mode, which the journal adds.
struct TLigneJournal {
    QString resultat;
    QString motif;
    QString id;
    QString idClient;
    QString client;
    QString ancienneReference;
    QString nouvelleReference;
    QString ancienIban;
    QString nouvelIban;
    QString ancienBic;
    QString nouveauBic;
    QString ancienneBanque;
    QString nouvelleBanque;
    QString modificationSepa;
};

// The amendment the next SEPA direct debit of a changed mandate must carry: the debtor's bank
// changed (bank code, IBAN characters 5 to 9) or only the account, and in « Recréer » the
// original mandate reference too.
QString ModificationSepa(TModeChangement mode, const QString& ancienIban, const QString& nouvelIban,
                         const QString& ancienneReference);

// ISO 8601, local time with its offset, to the second: "2026-03-14T09:26:53+01:00".
QString Horodatage(const QDateTime& instant);

// $XDG_DATA_HOME/ravelin/journal (through QStandardPaths).
QString DossierJournaux();
// The same, made when missing (mode 0700); raises when it cannot be, or when it is not safe
// (TDossierJournaux).
QString CreerDossierJournaux();

// The journals' folder, held open: ravelin/ and journal/ are opened without following a link,
// and used only when each is a folder of the user's own with mode 0700, since the journals hold
// names and account numbers and their completion writes into them. Otherwise it raises, naming
// the folder and what is wrong, before anything in it is read or written.
class TDossierJournaux {
public:
    // With `creer`, the missing folders are made, with mode 0700; without, a missing folder
    // leaves it closed.
    explicit TDossierJournaux(bool creer);
    ~TDossierJournaux();
    TDossierJournaux(const TDossierJournaux&) = delete;
    TDossierJournaux& operator=(const TDossierJournaux&) = delete;

    bool Ouvert() const { return FFd >= 0; }
    int Descripteur() const { return FFd; }
    const QString& Chemin() const { return FChemin; }
    // The names of its journals (*.csv, hidden ones left out), in order.
    QStringList Journaux() const;

private:
    int FFd = -1;
    QString FChemin;
};

// ---------------------------------------------------------------------------------------------
// The journal of one run

class TJournal {
public:
    // The run's file in DossierJournaux(), named after the start of the run and the mode, with
    // its header, locked until the end of the run. Raises when it cannot be made: a run must
    // not change anything it cannot record.
    TJournal(TModeChangement mode, const QDateTime& debut);
    // The last outcome written, synced and closed however the run ended.
    ~TJournal();
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // An EN_COURS line goes to the system at once, and every line without an EN_COURS before
    // it too. The outcome of a mandate whose EN_COURS is written goes with the next line or at
    // the end: one write per mandate, and a kill in between leaves that mandate EN_COURS, which
    // the next start completes from the database as it would a kill during the commit.
    void Ecrire(const TLigneJournal& ligne);
    // The end of the run: the lines on the disk. Raises when the system refuses.
    void Terminer();

    const QString& Chemin() const { return FFichier.Chemin(); }
    // True while the last line is an EN_COURS, or the last on the disk once a write failed:
    // the run stopped with that mandate's outcome unknown.
    bool EnSuspens() const { return FEnSuspens; }

private:
    // What waits, to the system.
    void Envoyer();

    TModeChangement FMode;
    TFichierCsv FFichier;
    TLigneCsv FLigne;
    // The outcome line waiting for the next line, and then that line: one write.
    QByteArray FEnAttente;
    bool FIssueEnAttente = false;
    // A mandate's EN_COURS line and its outcome share its fields: formatted once.
    TMandatFormate FMandat;
    // The time stamp is formatted once a second at most.
    qint64 FSeconde = -1;
    QString FHorodatage;
    bool FEnSuspens = false;
};

// The header line's fields, in order.
QStringList EnTeteJournal();

// ---------------------------------------------------------------------------------------------
// Completion after a kill

// What the database shows of a mandate named by a pending line.
struct TEtatMandat {
    bool trouve = false;
    QString iban;
    QString bic;
    QString banque;
    bool actif = false;
    // Rows of the same client, other than the mandate, holding the copy's reference and IBAN
    // (« Recréer »: the line's new ones; its undo: the line's old ones), and of those the active.
    int copies = 0;
    int copiesActives = 0;
};

// The one rule of what "changed" means: « Modifier » and its undo, the row holds the line's new
// IBAN, BIC and bank; « Recréer », the old row is inactive and the client has a copy with the
// new reference and IBAN; its undo, the row is active again with its IBAN and no copy is.
bool MandatChange(TModeChangement mode, const TLigneJournal& ligne, const TEtatMandat& etat);

// Completes the journals whose last line for a mandate is EN_COURS (the program or the server
// was killed, or the connection lost during a commit), from what the database shows: CHANGE
// "constaté au démarrage" when the mandate was changed, else ECARTE "interrompu". A journal a
// run still holds is left alone.
class TCompletionJournaux {
public:
    explicit TCompletionJournaux(TFIBDatabase* db) : FDb(db) {}

    // Every journal of DossierJournaux().
    void CompleterTout();
    // Those files of DossierJournaux() only; true when none is left pending (a locked one is,
    // a failed one is not: it waits for the next start).
    bool Completer(const QStringList& chemins);
    // Each file is completed on its own: one that fails (the system refuses its lines, the
    // server a statement) is left as it was and named here, one line each, and the others are
    // completed all the same. An unsafe folder or a lost connection raises instead: nothing
    // more can be done then.
    const QStringList& Echecs() const { return FEchecs; }

    // Lines added so far, by outcome.
    int Constates() const { return FConstates; }
    int Interrompus() const { return FInterrompus; }

private:
    bool CompleterDans(const TDossierJournaux& dossier, const QStringList& noms);
    // False when another program holds the file. Neither a link nor anything but a regular
    // file is read: it is no journal of ours.
    bool CompleterFichier(const TDossierJournaux& dossier, const QString& nom);
    TEtatMandat LireEtat(TModeChangement mode, const TLigneJournal& ligne);

    TFIBDatabase* FDb;
    int FConstates = 0;
    int FInterrompus = 0;
    QStringList FEchecs;
};

// A journal line's fields read back (the header's order) as the line they came from; false
// when the fields are not a journal line.
bool LireLigneJournal(const QStringList& champs, TModeChangement& mode, TLigneJournal& ligne);
