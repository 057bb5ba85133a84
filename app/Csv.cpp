#include "Csv.h"

#include "DB.h"
#include "SysUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
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
