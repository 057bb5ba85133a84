// The change journal: one file per change run on the workstation, recording for each mandate
// what it was, what it became and, when it was passed over, why; and the export of the mandate
// list, which shares the journal's file format. The next SEPA collections need the old account
// data (amendments), and auditors ask who changed which account when: the database keeps only
// the new values.
#pragma once

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
// Files meant for people

// One line of a file that a French spreadsheet opens without questions: UTF-8, fields between
// ";", a field holding ";", a double quote, CR or LF between double quotes with inner quotes
// doubled, and a text that a spreadsheet would take for a formula or read as a number
// (LuCommeNombre) behind a "'". The bytes are kept from one line to the next: once the longest
// line fits, a line allocates nothing.
class TLigneCsv {
public:
    void Commencer();
    // A text typed by people: names, references, accounts.
    void Texte(QStringView valeur);
    // A number or a value the program makes itself: written as it is (quoted if it must be).
    void Valeur(QStringView valeur);
    // The line's bytes, CR LF at their end.
    const QByteArray& Terminer();
    // Where the line stands, and its bytes from there on: fields written once and then given
    // to Champs, separators included.
    qsizetype Taille() const { return FTaille; }
    QByteArrayView Depuis(qsizetype debut) const;
    void Champs(QByteArrayView octets);

    // What a file of this format starts with.
    static QByteArray Bom();

private:
    void Champ(QStringView valeur, bool texte);
    // Room for n more bytes after the line's.
    char* Place(qsizetype n);
    void Ajouter(const char* octets, qsizetype n);
    void AjouterUtf8(QStringView valeur);

    // The line is the first FTaille bytes until Terminer.
    QByteArray FOctets;
    qsizetype FTaille = 0;
    bool FPremier = true;
};

// True for a text that a spreadsheet would take for a number, a percentage, a date or a time,
// and so change on opening: "000123456" would lose its zeros, 23 digits would become 1,23E+22,
// "1E5" 100000, "1,5" 1.5, "12/03" the 12th of March. Such a text gets the formula guard too.
bool LuCommeNombre(QStringView texte);

// The lines of such a file read one at a time, from bytes in memory or from a file, each as its
// fields with the quoting and the guard taken off; the byte-order mark is skipped. A line ends
// with CR LF, or with LF alone (a file saved again by a spreadsheet). A last line without its end
// (a write cut short by a power loss) is left out, and so is a line longer than any of ours
// (LigneMax). Only a block of the file and the line in hand are held: a journal of any size is
// read in little memory.
class TLecteurCsv {
public:
    explicit TLecteurCsv(QByteArrayView octets);
    // The file of the descriptor from its first byte, whatever its position; a read the system
    // refuses raises, naming `chemin`.
    TLecteurCsv(int fd, const QString& chemin);

    // The next line's fields; false at the end.
    bool Lire(QStringList& champs);
    // Once Lire gave false: whether the bytes ended inside a quoted field, and whether they ended
    // with a line end (or were none).
    bool CoupeEntreGuillemets() const { return FGuillemets; }
    bool FiniParUneFinDeLigne() const { return FFinDeLigne; }

    static constexpr qsizetype LigneMax = 1 << 20;

private:
    // The next bytes into FVue; false at the end.
    bool Remplir();
    void Ajouter(const char* octets, qsizetype n);
    void FinirChamp();

    QByteArrayView FMemoire;
    int FFd = -1;
    QString FChemin;
    qint64 FPosition = 0;
    QByteArray FBloc;
    QByteArrayView FVue;
    qsizetype FIndex = 0;
    bool FDebut = true;
    bool FFin = false;

    QByteArray FChamp;
    bool FChampVide = true;
    QStringList FChamps;
    qsizetype FTailleLigne = 0;
    bool FTropLongue = false;
    bool FGuillemets = false;
    // A quote met inside quotes, and a CR outside them: what they are depends on the next byte.
    bool FGuillemetVu = false;
    bool FCrVu = false;
    bool FFinDeLigne = true;
};

// Every line of such bytes at once; `coupeEntreGuillemets`, when given, tells whether the last
// line was cut inside a quoted field.
std::vector<QStringList> LireCsv(const QByteArray& octets, bool* coupeEntreGuillemets = nullptr);

// A file of ours, written through its descriptor: each Ecrire goes to the system at once, so a
// line written survives a kill of the program. Created with mode 0600 from the start: the
// files hold names and account numbers.
class TFichierCsv {
public:
    TFichierCsv() = default;
    ~TFichierCsv();
    TFichierCsv(const TFichierCsv&) = delete;
    TFichierCsv& operator=(const TFichierCsv&) = delete;

    // A new file; false when the name is taken. Raises for any other failure. With `dossier`,
    // the file of that name in the folder of that descriptor (`chemin` names it in messages).
    bool CreerNouveau(const QString& chemin, int dossier = -1);
    // A file to take the place of `chemin` (the export, where the user chose the name): the
    // lines go to a new file beside it, which Valider() puts in its place; closed before,
    // the new file is removed and `chemin` stays as it was.
    void Remplacer(const QString& chemin);
    void Valider();
    // An existing regular file to add lines to and read back, locked against every other
    // writer; false when another holds it (a run still going in another program). Neither a
    // link nor anything but a regular file is opened: raises for them as for any failure.
    bool OuvrirPourAjout(const QString& chemin, int dossier = -1);
    void Ecrire(const QByteArray& octets);
    // On the disk, not only in the system's cache.
    void Synchroniser();
    void Fermer();
    const QString& Chemin() const { return FChemin; }
    int Descripteur() const { return FFd; }

private:
    [[noreturn]] void Echec(const char* action) const;

    int FFd = -1;
    QString FChemin;
    QByteArray FTemporaire;
};

// A column the export adds after the list's fields: its header, and its text for the list's
// current row.
struct TColonneCalculee {
    QString nom;
    std::function<QString()> texte;
};

// The mandate list as the window holds it, every row, its fields' names as the header, then
// the computed columns; the list's current row is where it was afterwards.
void ExporterListe(TDataSet& liste, const QString& chemin,
                   const std::vector<TColonneCalculee>& calculees = {});

// "mandats_AAAA-MM-JJ.csv", the export's name offered for that day.
QString NomExportParDefaut(const QDate& jour);
// Where the export is offered: the user's documents folder (XDG's, else ~/Documents), or the
// home folder when that does not exist.
QString DossierExportParDefaut();

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
