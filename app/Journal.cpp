#include "Journal.h"

#include "DB.h"
#include "SysUtils.h"
#include "fib.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// ---------------------------------------------------------------------------------------------
// TLigneCsv

namespace {

// A spreadsheet runs a cell starting with one of these as a formula. A leading "'" is guarded
// too, so that reading back can always take exactly one "'" off.
bool Formule(QChar c) {
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r' ||
           c == u'\'';
}

// The ASCII characters that only a quoted field may hold.
constexpr std::array<bool, 0x80> AGuillemeter = [] {
    std::array<bool, 0x80> t{};
    t[';'] = t['"'] = t['\r'] = t['\n'] = true;
    return t;
}();

// A text's UTF-8 bytes from `p` on, which must have room for three bytes per UTF-16 unit (a
// surrogate pair takes four for two); the end of what was written. With `horsGuillemets`, a
// character that needs quotes stops it, and the result is null.
char* EncoderUtf8(QStringView valeur, char* p, bool horsGuillemets) {
    const char16_t* s = valeur.utf16();
    const char16_t* const fin = s + valeur.size();
    while (s < fin) {
        // Four plain ASCII units at a time: the lines are nearly all of them.
        while (fin - s >= 4) {
            quint64 quatre;
            std::memcpy(&quatre, s, sizeof quatre);
            if (quatre & 0xFF80FF80FF80FF80ULL) break;
            if (horsGuillemets &&
                (AGuillemeter[s[0]] | AGuillemeter[s[1]] | AGuillemeter[s[2]] | AGuillemeter[s[3]]))
                break;
            p[0] = char(s[0]);
            p[1] = char(s[1]);
            p[2] = char(s[2]);
            p[3] = char(s[3]);
            p += 4;
            s += 4;
        }
        if (s == fin) break;
        char32_t c = *s++;
        if (c < 0x80) {
            if (horsGuillemets && AGuillemeter[c]) return nullptr;
            *p++ = char(c);
            continue;
        }
        if (QChar::isHighSurrogate(c) && s < fin && QChar::isLowSurrogate(*s)) {
            c = QChar::surrogateToUcs4(char16_t(c), *s++);
        } else if (QChar::isSurrogate(c)) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            *p++ = char(0xC0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *p++ = char(0xE0 | (c >> 12));
            *p++ = char(0x80 | ((c >> 6) & 0x3F));
            *p++ = char(0x80 | (c & 0x3F));
        } else {
            *p++ = char(0xF0 | (c >> 18));
            *p++ = char(0x80 | ((c >> 12) & 0x3F));
            *p++ = char(0x80 | ((c >> 6) & 0x3F));
            *p++ = char(0x80 | (c & 0x3F));
        }
    }
    return p;
}

} // namespace

void TLigneCsv::Commencer() {
    // The bytes keep their size: it is the line's room.
    FTaille = 0;
    FPremier = true;
}

void TLigneCsv::Texte(QStringView valeur) {
    Champ(valeur, true);
}

void TLigneCsv::Valeur(QStringView valeur) {
    Champ(valeur, false);
}

const QByteArray& TLigneCsv::Terminer() {
    std::memcpy(Place(2), "\r\n", 2);
    FOctets.resize(FTaille + 2);
    FTaille = 0;
    return FOctets;
}

QByteArrayView TLigneCsv::Depuis(qsizetype debut) const {
    return QByteArrayView(FOctets.constData() + debut, FTaille - debut);
}

void TLigneCsv::Champs(QByteArrayView octets) {
    Ajouter(octets.data(), octets.size());
    FPremier = false;
}

char* TLigneCsv::Place(qsizetype n) {
    if (FOctets.size() < FTaille + n) FOctets.resize(std::max(FTaille + n, 2 * FOctets.size()));
    return FOctets.data() + FTaille;
}

QByteArray TLigneCsv::Bom() {
    return QByteArrayLiteral("\xEF\xBB\xBF");
}

void TLigneCsv::Champ(QStringView valeur, bool texte) {
    // Straight into the line's bytes, whose room the lines keep: a toUtf8() per field would
    // allocate sixteen times a line. Nearly every field needs no quotes: it is written in one
    // pass, and only a field that turns out to need them is written again from its start.
    char* const place = Place(2 + 3 * valeur.size());
    char* debut = place;
    if (!FPremier) *debut++ = ';';
    FPremier = false;
    const bool garde =
        texte && !valeur.isEmpty() && (Formule(valeur.front()) || LuCommeNombre(valeur));
    char* p = debut;
    if (garde) *p++ = '\'';
    if ((p = EncoderUtf8(valeur, p, true))) {
        FTaille += p - place;
        return;
    }
    FTaille += debut - place;
    Ajouter("\"", 1);
    if (garde) Ajouter("'", 1);
    qsizetype depuis = 0;
    for (qsizetype i = 0; i < valeur.size(); ++i) {
        if (valeur[i] != u'"') continue;
        AjouterUtf8(valeur.sliced(depuis, i + 1 - depuis));
        Ajouter("\"", 1);
        depuis = i + 1;
    }
    AjouterUtf8(valeur.sliced(depuis));
    Ajouter("\"", 1);
}

void TLigneCsv::Ajouter(const char* octets, qsizetype n) {
    std::memcpy(Place(n), octets, size_t(n));
    FTaille += n;
}

void TLigneCsv::AjouterUtf8(QStringView valeur) {
    char* const place = Place(3 * valeur.size());
    FTaille += EncoderUtf8(valeur, place, false) - place;
}

namespace {

bool Chiffre(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Blanks a spreadsheet passes over around a number, or between its groups of three digits.
bool Blanc(QChar c) {
    return c == u' ' || c == u'\t' || c == QChar(0xA0) || c == QChar(0x202F);
}

// The digits from i on, i past them; how many.
qsizetype Chiffres(QStringView t, qsizetype& i) {
    const qsizetype debut = i;
    while (i < t.size() && Chiffre(t[i]))
        ++i;
    return i - debut;
}

// A sign, digits (in groups of three after the first, when a blank separates them), a decimal
// comma or point, an exponent, a percent sign: "000123", "1 234,5", ",5", "1E5", "12,5 %".
bool Nombre(QStringView t) {
    const qsizetype n = t.size();
    qsizetype i = 0;
    if (i < n && (t[i] == u'+' || t[i] == u'-')) ++i;
    const qsizetype entiers = Chiffres(t, i);
    if (entiers >= 1 && entiers <= 3)
        while (i + 3 < n && Blanc(t[i]) && Chiffre(t[i + 1]) && Chiffre(t[i + 2]) &&
               Chiffre(t[i + 3]) && (i + 4 == n || !Chiffre(t[i + 4])))
            i += 4;
    qsizetype decimales = 0;
    if (i < n && (t[i] == u',' || t[i] == u'.')) {
        ++i;
        decimales = Chiffres(t, i);
    }
    if (entiers == 0 && decimales == 0) return false;
    if (i < n && (t[i] == u'e' || t[i] == u'E')) {
        ++i;
        if (i < n && (t[i] == u'+' || t[i] == u'-')) ++i;
        if (Chiffres(t, i) == 0) return false;
    }
    while (i < n && Blanc(t[i]))
        ++i;
    if (i < n && t[i] == u'%') ++i;
    return i == n;
}

// Two or three groups of one to four digits between one same separator: "12/03", "12/03/2026",
// "2026-03-12", "12.03.2026".
bool Jour(QStringView t) {
    QChar separateur;
    int groupes = 0;
    qsizetype i = 0;
    for (;;) {
        const qsizetype c = Chiffres(t, i);
        if (c < 1 || c > 4) return false;
        ++groupes;
        if (i == t.size()) return groupes >= 2;
        if (groupes == 3) return false;
        if (groupes == 1) {
            separateur = t[i];
            if (separateur != u'/' && separateur != u'-' && separateur != u'.') return false;
        } else if (t[i] != separateur) {
            return false;
        }
        ++i;
    }
}

// "9:30", "09:30:15", "09:30:15,5".
bool Heure(QStringView t) {
    const qsizetype n = t.size();
    qsizetype i = 0;
    const auto deuxChiffres = [&] {
        const qsizetype c = Chiffres(t, i);
        return c >= 1 && c <= 2;
    };
    if (!deuxChiffres() || i == n || t[i] != u':') return false;
    ++i;
    if (!deuxChiffres()) return false;
    if (i < n && t[i] == u':') {
        ++i;
        if (!deuxChiffres()) return false;
        if (i < n && (t[i] == u',' || t[i] == u'.')) {
            ++i;
            if (Chiffres(t, i) == 0) return false;
        }
    }
    return i == n;
}

} // namespace

bool LuCommeNombre(QStringView texte) {
    qsizetype debut = 0;
    qsizetype fin = texte.size();
    while (debut < fin && Blanc(texte[debut]))
        ++debut;
    if (debut == fin) return false;
    // Names, references, IBANs and BICs start with a letter: nearly every text is told by its
    // first character.
    const QChar c = texte[debut];
    if (!Chiffre(c) && c != u',' && c != u'.' && c != u'+' && c != u'-') return false;
    while (fin > debut && Blanc(texte[fin - 1]))
        --fin;
    const QStringView t = texte.sliced(debut, fin - debut);
    if (Nombre(t)) return true;
    const qsizetype blanc = t.indexOf(u' ');
    if (blanc < 0) return Jour(t) || Heure(t);
    return Jour(t.first(blanc)) && Heure(t.sliced(blanc + 1));
}

// ---------------------------------------------------------------------------------------------
// TLecteurCsv

TLecteurCsv::TLecteurCsv(QByteArrayView octets) : FMemoire(octets) {}

TLecteurCsv::TLecteurCsv(int fd, const QString& chemin) : FFd(fd), FChemin(chemin) {}

bool TLecteurCsv::Remplir() {
    FIndex = 0;
    FVue = {};
    if (FFd < 0) {
        if (FFin) return false;
        FFin = true;
        FVue = FMemoire;
        return !FVue.isEmpty();
    }
    constexpr qsizetype Bloc = 64 * 1024;
    FBloc.resize(Bloc);
    for (;;) {
        const ssize_t n = ::pread(FFd, FBloc.data(), size_t(Bloc), off_t(FPosition));
        if (n < 0) {
            if (errno == EINTR) continue;
            const int erreur = errno;
            throw Exception(QStringLiteral("Le fichier %1 n'a pas pu être lu : %2")
                                .arg(QDir::toNativeSeparators(FChemin),
                                     QString::fromLocal8Bit(std::strerror(erreur))));
        }
        FPosition += n;
        FVue = QByteArrayView(FBloc.constData(), n);
        return n > 0;
    }
}

void TLecteurCsv::Ajouter(const char* octets, qsizetype n) {
    FTailleLigne += n;
    if (FTailleLigne > LigneMax) {
        // No line of ours is this long: read through, and left out.
        FTropLongue = true;
        FChamp.clear();
        FChamps.clear();
    }
    if (!FTropLongue) FChamp.append(octets, n);
    FChampVide = false;
}

void TLecteurCsv::FinirChamp() {
    FChampVide = true;
    if (FTropLongue) return;
    QString champ = QString::fromUtf8(FChamp);
    // Keeps its room for the next field.
    FChamp.resize(0);
    if (champ.size() > 1 && champ.front() == u'\'' &&
        (Formule(champ[1]) || LuCommeNombre(QStringView(champ).sliced(1))))
        champ.remove(0, 1);
    FChamps << champ;
}

bool TLecteurCsv::Lire(QStringList& champs) {
    for (;;) {
        if (FIndex == FVue.size()) {
            if (!Remplir()) {
                // A quote just before the end closed its field.
                if (FGuillemetVu) FGuillemets = FGuillemetVu = false;
                FFinDeLigne = FTailleLigne == 0 && !FCrVu;
                return false;
            }
            if (FDebut) {
                FDebut = false;
                if (FVue.startsWith(TLigneCsv::Bom())) FIndex = TLigneCsv::Bom().size();
                continue;
            }
        }
        FDebut = false;
        // A run of bytes that close nothing, at once.
        if (!FGuillemetVu && !FCrVu) {
            qsizetype j = FIndex;
            if (FGuillemets) {
                while (j < FVue.size() && FVue[j] != '"')
                    ++j;
            } else {
                while (j < FVue.size() && FVue[j] != ';' && FVue[j] != '"' && FVue[j] != '\r' &&
                       FVue[j] != '\n')
                    ++j;
            }
            if (j > FIndex) {
                Ajouter(FVue.data() + FIndex, j - FIndex);
                FIndex = j;
                continue;
            }
        }
        const char c = FVue[FIndex++];
        if (FGuillemetVu) {
            FGuillemetVu = false;
            if (c == '"') {
                Ajouter("\"", 1);
                continue;
            }
            // The quote closed the field's quoted part; this byte is read outside it.
            FGuillemets = false;
        } else if (FGuillemets) {
            FGuillemetVu = true;
            ++FTailleLigne;
            continue;
        }
        if (FCrVu) {
            FCrVu = false;
            if (c != '\n') Ajouter("\r", 1);
        }
        if (c == '"' && FChampVide) {
            FGuillemets = true;
            ++FTailleLigne;
        } else if (c == ';') {
            FinirChamp();
            ++FTailleLigne;
        } else if (c == '\r') {
            FCrVu = true;
            ++FTailleLigne;
        } else if (c == '\n') {
            FinirChamp();
            const bool tropLongue = FTropLongue;
            FTropLongue = false;
            FTailleLigne = 0;
            if (tropLongue) continue;
            champs.swap(FChamps);
            FChamps.clear();
            return true;
        } else {
            Ajouter(&c, 1);
        }
    }
}

std::vector<QStringList> LireCsv(const QByteArray& octets, bool* coupeEntreGuillemets) {
    TLecteurCsv lecteur{QByteArrayView(octets)};
    std::vector<QStringList> lignes;
    QStringList champs;
    while (lecteur.Lire(champs))
        lignes.push_back(champs);
    if (coupeEntreGuillemets) *coupeEntreGuillemets = lecteur.CoupeEntreGuillemets();
    return lignes;
}

// ---------------------------------------------------------------------------------------------
// TFichierCsv

TFichierCsv::~TFichierCsv() {
    Fermer();
}

void TFichierCsv::Echec(const char* action) const {
    const int erreur = errno;
    throw Exception(QStringLiteral("Le fichier %1 n'a pas pu être %2 : %3")
                        .arg(QDir::toNativeSeparators(FChemin), QString::fromUtf8(action),
                             QString::fromLocal8Bit(std::strerror(erreur))));
}

namespace {

// The name to open relative to `dossier`, or the whole path without one.
QByteArray NomDans(const QString& chemin, int dossier) {
    return QFile::encodeName(dossier >= 0 ? QFileInfo(chemin).fileName() : chemin);
}

} // namespace

bool TFichierCsv::CreerNouveau(const QString& chemin, int dossier) {
    Fermer();
    FChemin = chemin;
    FFd = ::openat(dossier >= 0 ? dossier : AT_FDCWD, NomDans(chemin, dossier).constData(),
                   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (FFd < 0) {
        if (errno == EEXIST) return false;
        Echec("créé");
    }
    // Held until the file is closed: a program starting meanwhile must not complete a journal
    // that a run is still writing.
    if (::flock(FFd, LOCK_EX) != 0) Echec("verrouillé");
    return true;
}

void TFichierCsv::Remplacer(const QString& chemin) {
    Fermer();
    FChemin = chemin;
    // Written beside it under a name of its own, and put in its place only once whole: a run
    // that fails halfway leaves the file the user had, not the beginning of a new one.
    const QFileInfo cible(chemin);
    QByteArray modele =
        QFile::encodeName(cible.path() + QStringLiteral("/.") + cible.fileName()) + ".XXXXXX";
    FFd = ::mkostemp(modele.data(), O_CLOEXEC);
    if (FFd < 0) Echec("créé");
    FTemporaire = modele;
}

void TFichierCsv::Valider() {
    if (FTemporaire.isEmpty()) return;
    Synchroniser();
    if (::rename(FTemporaire.constData(), QFile::encodeName(FChemin).constData()) != 0)
        Echec("remplacé");
    FTemporaire.clear();
    // The new name on the disk too.
    const int dossier = ::open(QFile::encodeName(QFileInfo(FChemin).path()).constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dossier >= 0) {
        ::fsync(dossier);
        ::close(dossier);
    }
}

bool TFichierCsv::OuvrirPourAjout(const QString& chemin, int dossier) {
    Fermer();
    FChemin = chemin;
    // Not blocking: a FIFO put in a journal's place would hold the program there for good.
    FFd = ::openat(dossier >= 0 ? dossier : AT_FDCWD, NomDans(chemin, dossier).constData(),
                   O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (FFd < 0) Echec("ouvert");
    struct stat st {};
    if (::fstat(FFd, &st) != 0) Echec("ouvert");
    if (!S_ISREG(st.st_mode)) {
        Fermer();
        throw Exception(QStringLiteral("Le fichier %1 n'est pas un fichier ordinaire.")
                            .arg(QDir::toNativeSeparators(FChemin)));
    }
    if (::flock(FFd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK) Echec("verrouillé");
    Fermer();
    return false;
}

void TFichierCsv::Ecrire(const QByteArray& octets) {
    const char* p = octets.constData();
    qsizetype reste = octets.size();
    while (reste > 0) {
        const ssize_t n = ::write(FFd, p, size_t(reste));
        if (n < 0) {
            if (errno == EINTR) continue;
            Echec("écrit");
        }
        p += n;
        reste -= n;
    }
}

void TFichierCsv::Synchroniser() {
    if (FFd >= 0 && ::fsync(FFd) != 0) Echec("enregistré sur le disque");
}

void TFichierCsv::Fermer() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    // A replacement never put in place goes.
    if (!FTemporaire.isEmpty()) ::unlink(FTemporaire.constData());
    FTemporaire.clear();
}

// ---------------------------------------------------------------------------------------------
// The export

void ExporterListe(TDataSet& liste, const QString& chemin,
                   const std::vector<TColonneCalculee>& calculees) {
    TFichierCsv fichier;
    fichier.Remplacer(chemin);
    TLigneCsv ligne;
    ligne.Commencer();
    for (qint32 i = 0; i < liste.FieldCount(); ++i)
        ligne.Valeur(liste.Fields(i)->FieldName());
    for (const TColonneCalculee& c : calculees)
        ligne.Valeur(c.nom);
    fichier.Ecrire(TLigneCsv::Bom() + ligne.Terminer());
    if (liste.Active()) {
        // The grid must not follow the walk, and the user finds the row they were on.
        TControlsDisabled suspendus(liste);
        const qint32 position = liste.RecNo();
        // Texts typed by people get the formula guard; the fields' kinds are asked once.
        std::vector<std::pair<TField*, bool>> champs;
        for (qint32 i = 0; i < liste.FieldCount(); ++i)
            champs.emplace_back(liste.Fields(i), dynamic_cast<TStringField*>(liste.Fields(i)));
        for (liste.First(); !liste.Eof(); liste.Next()) {
            ligne.Commencer();
            for (const auto& [champ, texte] : champs) {
                if (texte)
                    ligne.Texte(champ->AsString());
                else
                    ligne.Valeur(champ->AsString());
            }
            for (const TColonneCalculee& c : calculees)
                ligne.Texte(c.texte());
            fichier.Ecrire(ligne.Terminer());
        }
        liste.First();
        if (position > 1) liste.MoveBy(position - 1);
    }
    fichier.Valider();
}

QString NomExportParDefaut(const QDate& jour) {
    return QStringLiteral("mandats_") + jour.toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(".csv");
}

QString DossierExportParDefaut() {
    // Qt names the XDG documents folder, else ~/Documents, whether it exists or not: a save
    // dialog given a missing folder opens in the working folder, wherever that is.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
    return QDir::homePath();
}

// ---------------------------------------------------------------------------------------------
// The journal's lines

TModeChangement ModeDeBase(TModeChangement mode) {
    return mode == TModeChangement::Recreer || mode == TModeChangement::AnnulationRecreer
               ? TModeChangement::Recreer
               : TModeChangement::Modifier;
}

bool EstAnnulation(TModeChangement mode) {
    return mode == TModeChangement::AnnulationModifier ||
           mode == TModeChangement::AnnulationRecreer;
}

TModeChangement ModeAnnulation(TModeChangement mode) {
    return ModeDeBase(mode) == TModeChangement::Recreer ? TModeChangement::AnnulationRecreer
                                                        : TModeChangement::AnnulationModifier;
}

QString NomMode(TModeChangement mode) {
    const QString base = ModeDeBase(mode) == TModeChangement::Recreer ? QStringLiteral("Recréer")
                                                                      : QStringLiteral("Modifier");
    return EstAnnulation(mode) ? QStringLiteral("Annulation ") + base : base;
}

QString ModificationSepa(TModeChangement mode, const QString& ancienIban, const QString& nouvelIban,
                         const QString& ancienneReference) {
    // The bank code of a French IBAN: characters 5 to 9.
    QString texte = QStringView(ancienIban).mid(4, 5) != QStringView(nouvelIban).mid(4, 5)
                        ? QStringLiteral("AmdmntInd=true;OrgnlDbtrAgt=SMNDA")
                        : QStringLiteral("AmdmntInd=true;OrgnlDbtrAcct=") + ancienIban;
    if (ModeDeBase(mode) == TModeChangement::Recreer)
        texte += QStringLiteral(";OrgnlMndtId=") + ancienneReference;
    return texte;
}

QString Horodatage(const QDateTime& instant) {
    const int decalage = instant.offsetFromUtc();
    const int minutes = std::abs(decalage) / 60;
    return instant.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (decalage < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString DossierJournaux() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/ravelin/journal");
}

QStringList EnTeteJournal() {
    return {QStringLiteral("horodatage"),
            QStringLiteral("mode"),
            QStringLiteral("resultat"),
            QStringLiteral("motif"),
            QStringLiteral("CMAN_ID"),
            QStringLiteral("CMAN_IDCLI"),
            QStringLiteral("client"),
            QStringLiteral("ancienne_reference"),
            QStringLiteral("nouvelle_reference"),
            QStringLiteral("ancien_iban"),
            QStringLiteral("nouvel_iban"),
            QStringLiteral("ancien_bic"),
            QStringLiteral("nouveau_bic"),
            QStringLiteral("ancienne_banque"),
            QStringLiteral("nouvelle_banque"),
            QStringLiteral("modification_sepa")};
}

namespace {

constexpr int ColonnesJournal = 16;

// The fields that name the mandate and its accounts, from its identifier to the new bank, in
// their order, and whether people typed them.
constexpr std::array<std::pair<QString TLigneJournal::*, bool>, ChampsMandat> ChampsDuMandat = {{
    {&TLigneJournal::id, false},
    {&TLigneJournal::idClient, false},
    {&TLigneJournal::client, true},
    {&TLigneJournal::ancienneReference, true},
    {&TLigneJournal::nouvelleReference, true},
    {&TLigneJournal::ancienIban, true},
    {&TLigneJournal::nouvelIban, true},
    {&TLigneJournal::ancienBic, true},
    {&TLigneJournal::nouveauBic, true},
    {&TLigneJournal::ancienneBanque, false},
    {&TLigneJournal::nouvelleBanque, false},
}};

// The one place that orders a journal line's fields. With `mandat`, the mandate's fields are
// taken from it when they are the ones it holds, and kept in it otherwise.
void FormaterLigne(TLigneCsv& csv, const QString& horodatage, TModeChangement mode,
                   const TLigneJournal& l, TMandatFormate* mandat = nullptr) {
    csv.Commencer();
    csv.Valeur(horodatage);
    csv.Valeur(NomMode(mode));
    csv.Valeur(l.resultat);
    csv.Texte(l.motif);
    bool deja = mandat != nullptr;
    for (int i = 0; deja && i < ChampsMandat; ++i)
        deja = mandat->valeurs[size_t(i)] == l.*ChampsDuMandat[size_t(i)].first;
    if (deja) {
        csv.Champs(mandat->octets);
    } else {
        const qsizetype debut = csv.Taille();
        for (const auto& [champ, texte] : ChampsDuMandat)
            texte ? csv.Texte(l.*champ) : csv.Valeur(l.*champ);
        if (mandat) {
            for (int i = 0; i < ChampsMandat; ++i)
                mandat->valeurs[size_t(i)] = l.*ChampsDuMandat[size_t(i)].first;
            // Into the kept bytes' capacity.
            mandat->octets.resize(0);
            mandat->octets.append(csv.Depuis(debut));
        }
    }
    csv.Valeur(l.modificationSepa);
}

} // namespace

bool LireLigneJournal(const QStringList& c, TModeChangement& mode, TLigneJournal& l) {
    if (c.size() != ColonnesJournal) return false;
    const auto nomme = [&c](TModeChangement m) { return c[1] == NomMode(m); };
    for (TModeChangement m :
         {TModeChangement::Modifier, TModeChangement::Recreer, TModeChangement::AnnulationModifier,
          TModeChangement::AnnulationRecreer}) {
        if (!nomme(m)) continue;
        mode = m;
        l = {c[2], c[3],  c[4],  c[5],  c[6],  c[7],  c[8],
             c[9], c[10], c[11], c[12], c[13], c[14], c[15]};
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// TJournal

namespace {

// A descriptor closed however the steps end.
struct TDescripteur {
    int fd = -1;
    ~TDescripteur() {
        if (fd >= 0) ::close(fd);
    }
    int Lacher() { return std::exchange(fd, -1); }
};

[[noreturn]] void EchecDossier(const QString& chemin, const char* action, int erreur) {
    throw Exception(QStringLiteral("Le dossier %1 n'a pas pu être %2 : %3")
                        .arg(QDir::toNativeSeparators(chemin), QString::fromUtf8(action),
                             QString::fromLocal8Bit(std::strerror(erreur))));
}

[[noreturn]] void DossierPasSur(const QString& chemin, const QString& raison) {
    throw Exception(QStringLiteral("Le dossier %1 n'est pas sûr : %2. Les journaux y gardent des "
                                   "noms et des comptes : rien n'y est lu ni écrit tant que ce "
                                   "n'est pas un dossier de l'utilisateur, de mode 0700 "
                                   "(drwx------).")
                        .arg(QDir::toNativeSeparators(chemin), raison));
}

} // namespace

TDossierJournaux::TDossierJournaux(bool creer) {
    const QString journal = DossierJournaux();
    const QString ravelin = QFileInfo(journal).path();
    const QString donnees = QFileInfo(ravelin).path();
    // The data folder itself is the user's, wherever they put it; ravelin/ and journal/ are ours.
    if (creer && !QDir().mkpath(donnees))
        throw Exception(QStringLiteral("Le dossier %1 n'a pas pu être créé.")
                            .arg(QDir::toNativeSeparators(donnees)));
    TDescripteur dossier{
        ::open(QFile::encodeName(donnees).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dossier.fd < 0) {
        if (errno == ENOENT && !creer) return;
        EchecDossier(donnees, "ouvert", errno);
    }
    for (const QString& chemin : {ravelin, journal}) {
        const QByteArray nom = QFile::encodeName(QFileInfo(chemin).fileName());
        bool cree = false;
        if (creer) {
            // Made with its mode rather than narrowed afterwards.
            cree = ::mkdirat(dossier.fd, nom.constData(), S_IRWXU) == 0;
            if (!cree && errno != EEXIST) EchecDossier(chemin, "créé", errno);
        }
        TDescripteur sous{
            ::openat(dossier.fd, nom.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
        if (sous.fd < 0) {
            if (errno == ENOENT && !creer) return;
            if (errno == ELOOP || errno == ENOTDIR)
                DossierPasSur(chemin,
                              QStringLiteral("c'est un lien ou un fichier, pas un dossier"));
            EchecDossier(chemin, "ouvert", errno);
        }
        // The user's umask may have taken bits off, never added any.
        if (cree) ::fchmod(sous.fd, S_IRWXU);
        struct stat st {};
        if (::fstat(sous.fd, &st) != 0) EchecDossier(chemin, "ouvert", errno);
        if (st.st_uid != ::geteuid())
            DossierPasSur(
                chemin,
                QStringLiteral("il appartient à un autre utilisateur (uid %1)").arg(st.st_uid));
        if ((st.st_mode & 07777) != S_IRWXU)
            DossierPasSur(chemin, QStringLiteral("son mode est %1")
                                      .arg(QString::number(st.st_mode & 07777, 8)
                                               .rightJustified(4, QLatin1Char('0'))));
        ::close(dossier.Lacher());
        dossier.fd = sous.Lacher();
    }
    FFd = dossier.Lacher();
    FChemin = journal;
}

TDossierJournaux::~TDossierJournaux() {
    if (FFd >= 0) ::close(FFd);
}

QStringList TDossierJournaux::Journaux() const {
    // fdopendir takes the descriptor it is given: a second one, on the folder already checked.
    const int fd = ::openat(FFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!d) {
        const int erreur = errno;
        if (fd >= 0) ::close(fd);
        EchecDossier(FChemin, "lu", erreur);
    }
    QStringList noms;
    while (const dirent* e = ::readdir(d)) {
        const QString nom = QFile::decodeName(e->d_name);
        if (!nom.startsWith(QLatin1Char('.')) &&
            nom.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
            noms << nom;
    }
    ::closedir(d);
    noms.sort();
    return noms;
}

QString CreerDossierJournaux() {
    const TDossierJournaux dossier(true);
    return dossier.Chemin();
}

TJournal::TJournal(TModeChangement mode, const QDateTime& debut) : FMode(mode) {
    const TDossierJournaux dossier(true);
    const QString base =
        dossier.Chemin() + QLatin1Char('/') + debut.toString(QStringLiteral("yyyy-MM-dd_HHmmss")) +
        (ModeDeBase(mode) == TModeChangement::Recreer ? QStringLiteral("_Recreer")
                                                      : QStringLiteral("_Modifier")) +
        (EstAnnulation(mode) ? QStringLiteral("_Annulation") : QString());
    QString chemin = base + QStringLiteral(".csv");
    for (int n = 2; !FFichier.CreerNouveau(chemin, dossier.Descripteur()); ++n)
        chemin = base + QLatin1Char('_') + QString::number(n) + QStringLiteral(".csv");
    FLigne.Commencer();
    for (const QString& nom : EnTeteJournal())
        FLigne.Valeur(nom);
    FFichier.Ecrire(TLigneCsv::Bom() + FLigne.Terminer());
}

TJournal::~TJournal() {
    // A failure here has nowhere to go but the next start, which completes what is pending.
    try {
        Envoyer();
        FFichier.Synchroniser();
    } catch (const Exception&) {
    }
}

void TJournal::Ecrire(const TLigneJournal& ligne) {
    const qint64 seconde = QDateTime::currentSecsSinceEpoch();
    if (seconde != FSeconde) {
        FSeconde = seconde;
        FHorodatage = Horodatage(QDateTime::fromSecsSinceEpoch(seconde));
    }
    FormaterLigne(FLigne, FHorodatage, FMode, ligne, &FMandat);
    const bool enCours = ligne.resultat == Resultat::EnCours;
    FEnAttente.append(FLigne.Terminer());
    if (FEnSuspens && !enCours) {
        FIssueEnAttente = true;
        FEnSuspens = false;
        return;
    }
    Envoyer();
    FEnSuspens = enCours;
}

void TJournal::Envoyer() {
    if (FEnAttente.isEmpty()) return;
    // Tried once: after a failed write the file's end is unknown, and a second try could only
    // add a line twice or after a torn one. An outcome that went down with it leaves its
    // mandate's EN_COURS last on the disk: the mandate is looked up as after a kill.
    try {
        FFichier.Ecrire(FEnAttente);
    } catch (...) {
        if (FIssueEnAttente) FEnSuspens = true;
        FIssueEnAttente = false;
        FEnAttente.resize(0);
        throw;
    }
    FIssueEnAttente = false;
    // Keeps the capacity.
    FEnAttente.resize(0);
}

void TJournal::Terminer() {
    Envoyer();
    FFichier.Synchroniser();
}

// ---------------------------------------------------------------------------------------------
// Completion

bool MandatChange(TModeChangement mode, const TLigneJournal& ligne, const TEtatMandat& etat) {
    if (!etat.trouve) return false;
    if (ModeDeBase(mode) == TModeChangement::Modifier)
        return etat.iban == ligne.nouvelIban && etat.bic == ligne.nouveauBic &&
               etat.banque == ligne.nouvelleBanque;
    if (mode == TModeChangement::AnnulationRecreer)
        return etat.actif && etat.iban == ligne.nouvelIban && etat.copiesActives == 0;
    return !etat.actif && etat.copies > 0;
}

TEtatMandat TCompletionJournaux::LireEtat(TModeChangement mode, const TLigneJournal& ligne) {
    TEtatMandat etat;
    bool ok = false;
    const qint64 id = ligne.id.toLongLong(&ok);
    if (!ok) return etat;
    TpFIBTransaction tr;
    tr.SetDefaultDatabase(FDb);
    tr.TRParams().SetStringList(
        {QStringLiteral("read"), QStringLiteral("read_committed"), QStringLiteral("rec_version")});
    TpFIBQuery q;
    q.SetDatabase(FDb);
    q.SetTransaction(&tr);
    q.SQL().SetText(
        QStringLiteral("SELECT M.CMAN_IBAN, M.CMAN_BIC, M.CMAN_IDBANQ, M.CMAN_ACTIF, (SELECT "
                       "COUNT(*) FROM CLIENTS_MANDAT C WHERE C.CMAN_IDCLI = M.CMAN_IDCLI AND "
                       "C.CMAN_ID <> M.CMAN_ID AND C.CMAN_MANDAT = :REF AND C.CMAN_IBAN = :IBAN), "
                       "(SELECT COUNT(*) FROM CLIENTS_MANDAT C WHERE C.CMAN_IDCLI = M.CMAN_IDCLI "
                       "AND C.CMAN_ID <> M.CMAN_ID AND C.CMAN_MANDAT = :REF_ACTIVE AND "
                       "C.CMAN_IBAN = :IBAN_ACTIVE AND C.CMAN_ACTIF = -1) "
                       "FROM CLIENTS_MANDAT M WHERE M.CMAN_ID = ") +
        IntToStr(id));
    tr.StartTransaction();
    try {
        q.Prepare();
        TFIBXSQLVAR* reference = q.ParamByName(QStringLiteral("REF"));
        TFIBXSQLVAR* iban = q.ParamByName(QStringLiteral("IBAN"));
        // A line edited by hand may name a reference or an IBAN no row can hold (longer than
        // the column, or past its 8-bit character set). No copy can have it, and the server,
        // asked, would refuse the statement and stop the completion of every other journal.
        const auto tient = [](const QString& texte, const TFIBXSQLVAR* colonne) {
            return texte.size() <= colonne->Size() && IsLatin1(texte);
        };
        // The copy a « Recréer » made holds the line's new reference and IBAN; the one its undo
        // ended, the undo line's old ones.
        const bool annulation = mode == TModeChangement::AnnulationRecreer;
        const QString& refCopie = annulation ? ligne.ancienneReference : ligne.nouvelleReference;
        const QString& ibanCopie = annulation ? ligne.ancienIban : ligne.nouvelIban;
        const bool copiesPossibles = tient(refCopie, reference) && tient(ibanCopie, iban);
        for (const char* nom : {"REF", "REF_ACTIVE"})
            q.ParamByName(QLatin1String(nom))->SetAsString(copiesPossibles ? refCopie : QString());
        for (const char* nom : {"IBAN", "IBAN_ACTIVE"})
            q.ParamByName(QLatin1String(nom))->SetAsString(copiesPossibles ? ibanCopie : QString());
        q.ExecQuery();
        if (!q.Eof()) {
            etat.trouve = true;
            etat.iban = q.Fields(0)->AsString();
            etat.bic = q.Fields(1)->AsString();
            etat.banque = q.Fields(2)->IsNull() ? QString() : q.Fields(2)->AsString();
            etat.actif = q.Fields(3)->AsString() == QLatin1String("-1");
            etat.copies = copiesPossibles ? q.Fields(4)->AsString().toInt() : 0;
            etat.copiesActives = copiesPossibles ? q.Fields(5)->AsString().toInt() : 0;
        }
        q.Close();
        tr.Commit();
    } catch (...) {
        if (tr.Active()) tr.Rollback();
        throw;
    }
    return etat;
}

namespace {

// A run writes each mandate's outcome before anything of the next mandate, and a completion
// adds its lines at the end: a journal can only have a mandate pending when its last line,
// whole or cut short, is not an outcome. The last kilobytes tell, so a start does not read every
// journal kept since the first run.
bool FinitSurUneIssue(int fd, qint64 taille) {
    constexpr qint64 Fin = 8192;
    const qint64 debut = std::max<qint64>(0, taille - Fin);
    QByteArray fin(qsizetype(taille - debut), Qt::Uninitialized);
    for (qsizetype lus = 0; lus < fin.size();) {
        const ssize_t n =
            ::pread(fd, fin.data() + lus, size_t(fin.size() - lus), off_t(debut + lus));
        if (n < 0 && errno == EINTR) continue;
        // The whole reading that follows reports what went wrong.
        if (n <= 0) return false;
        lus += n;
    }
    if (fin.size() < 2 || !fin.endsWith('\n')) return false;
    const qsizetype avant = fin.lastIndexOf('\n', fin.size() - 2);
    if (avant < 0) return false;
    const QByteArray ligne = fin.mid(avant + 1);
    // A line break inside a quoted field (a name typed with one) would make this a piece of
    // the line: its quotes would then be odd in number. The whole file is read instead.
    if (ligne.count('"') % 2 != 0) return false;
    const std::vector<QStringList> derniere = LireCsv(ligne);
    if (derniere.size() != 1 || derniere.front().size() != ColonnesJournal) return false;
    const QString resultat = derniere.front().value(2);
    return resultat == Resultat::Change || resultat == Resultat::Ecarte;
}

} // namespace

bool TCompletionJournaux::CompleterFichier(const TDossierJournaux& dossier, const QString& nom) {
    const QString chemin = dossier.Chemin() + QLatin1Char('/') + nom;
    {
        TDescripteur lecture{::openat(dossier.Descripteur(), QFile::encodeName(nom).constData(),
                                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
        if (lecture.fd < 0) {
            // A link, or a file gone since the folder was listed.
            if (errno == ELOOP || errno == ENOENT) return true;
            const int erreur = errno;
            throw Exception(QStringLiteral("Le fichier %1 n'a pas pu être ouvert : %2")
                                .arg(QDir::toNativeSeparators(chemin),
                                     QString::fromLocal8Bit(std::strerror(erreur))));
        }
        struct stat st {};
        if (::fstat(lecture.fd, &st) != 0 || !S_ISREG(st.st_mode)) return true;
        if (FinitSurUneIssue(lecture.fd, st.st_size)) return true;
    }
    TFichierCsv fichier;
    if (!fichier.OuvrirPourAjout(chemin, dossier.Descripteur())) return false;
    // Read as it is locked, line by line: only the mandates whose last line so far is EN_COURS
    // are kept, so a journal of any length is read in little memory.
    TLecteurCsv lecteur(fichier.Descripteur(), chemin);
    QStringList champs;
    // Only a journal of ours: its header first.
    if (!lecteur.Lire(champs) || champs != EnTeteJournal()) return true;
    struct TEnCours {
        TModeChangement mode;
        TLigneJournal ligne;
        qint64 ordre;
    };
    std::map<QString, TEnCours> enCours;
    for (qint64 ordre = 1; lecteur.Lire(champs); ++ordre) {
        TEnCours d{TModeChangement::Modifier, {}, ordre};
        if (!LireLigneJournal(champs, d.mode, d.ligne)) continue;
        if (d.ligne.resultat != Resultat::EnCours) {
            enCours.erase(d.ligne.id);
            continue;
        }
        const QString id = d.ligne.id;
        enCours.insert_or_assign(id, std::move(d));
    }
    if (enCours.empty()) return true;
    std::vector<const TEnCours*> ordonnes;
    for (const auto& [id, d] : enCours)
        ordonnes.push_back(&d);
    std::sort(ordonnes.begin(), ordonnes.end(),
              [](const TEnCours* a, const TEnCours* b) { return a->ordre < b->ordre; });

    // A line cut short by a power loss stays as it is; ours start on a line of their own. Cut
    // inside a quoted field, it is closed first: else the field would run on through our lines.
    if (lecteur.CoupeEntreGuillemets())
        fichier.Ecrire(QByteArrayLiteral("\"\r\n"));
    else if (!lecteur.FiniParUneFinDeLigne())
        fichier.Ecrire(QByteArrayLiteral("\r\n"));
    const QString maintenant = Horodatage(QDateTime::currentDateTime());
    TLigneCsv csv;
    for (const TEnCours* d : ordonnes) {
        TLigneJournal ligne = d->ligne;
        if (MandatChange(d->mode, ligne, LireEtat(d->mode, ligne))) {
            ligne.resultat = Resultat::Change;
            ligne.motif = Motif::ConstateAuDemarrage;
            ligne.modificationSepa = ModificationSepa(d->mode, ligne.ancienIban, ligne.nouvelIban,
                                                      ligne.ancienneReference);
            ++FConstates;
        } else {
            ligne.resultat = Resultat::Ecarte;
            ligne.motif = Motif::Interrompu;
            ligne.modificationSepa.clear();
            ++FInterrompus;
        }
        FormaterLigne(csv, maintenant, d->mode, ligne);
        fichier.Ecrire(csv.Terminer());
    }
    fichier.Synchroniser();
    return true;
}

bool TCompletionJournaux::CompleterDans(const TDossierJournaux& dossier, const QStringList& noms) {
    bool tout = true;
    for (const QString& nom : noms) {
        try {
            if (!CompleterFichier(dossier, nom)) tout = false;
        } catch (const Exception& e) {
            // Nothing more can be asked of a server that is gone: the window drops it, and the
            // journals wait for the connection to come back.
            const auto* fib = dynamic_cast<const EFIBError*>(&e);
            if (fib && IsConnectionLost(*fib)) throw;
            QString raison = e.Message().trimmed();
            if (!raison.endsWith(QLatin1Char('.'))) raison += QLatin1Char('.');
            FEchecs << QStringLiteral("Le journal %1 n'a pas pu être complété : %2")
                           .arg(QDir::toNativeSeparators(dossier.Chemin() + QLatin1Char('/') + nom),
                                raison);
        }
    }
    return tout;
}

bool TCompletionJournaux::Completer(const QStringList& chemins) {
    const TDossierJournaux dossier(false);
    if (!dossier.Ouvert()) return true;
    QStringList noms;
    for (const QString& chemin : chemins)
        noms << QFileInfo(chemin).fileName();
    return CompleterDans(dossier, noms);
}

void TCompletionJournaux::CompleterTout() {
    const TDossierJournaux dossier(false);
    if (dossier.Ouvert()) CompleterDans(dossier, dossier.Journaux());
}
