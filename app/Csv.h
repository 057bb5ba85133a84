// The files meant for people: lines a French spreadsheet opens without questions (UTF-8 with a
// byte-order mark, ";" between fields, CR LF, quotes where a field needs them, a "'" in front of
// what a spreadsheet would run as a formula or turn into a number), read back line by line, a
// file of ours written through its descriptor, and the export of the mandate list. The change
// journal is written and read through them.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <vector>

class TDataSet;

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
