#include "Journal.h"

#include "DB.h"
#include "SysUtils.h"
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
    const bool garde = texte && !valeur.isEmpty() && Formule(valeur.front());
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

std::vector<QStringList> LireCsv(const QByteArray& octets, bool* coupeEntreGuillemets) {
    const QString texte = QString::fromUtf8(
        octets.startsWith(TLigneCsv::Bom()) ? octets.sliced(TLigneCsv::Bom().size()) : octets);
    std::vector<QStringList> lignes;
    QStringList champs;
    QString champ;
    bool guillemets = false;
    auto finirChamp = [&] {
        if (champ.size() > 1 && champ.front() == u'\'' && Formule(champ[1])) champ.remove(0, 1);
        champs << champ;
        champ.clear();
    };
    for (qsizetype i = 0; i < texte.size(); ++i) {
        const QChar c = texte[i];
        if (guillemets) {
            if (c != u'"') {
                champ += c;
            } else if (i + 1 < texte.size() && texte[i + 1] == u'"') {
                champ += c;
                ++i;
            } else {
                guillemets = false;
            }
        } else if (c == u'"' && champ.isEmpty()) {
            guillemets = true;
        } else if (c == u';') {
            finirChamp();
        } else if (c == u'\r' && i + 1 < texte.size() && texte[i + 1] == u'\n') {
            finirChamp();
            lignes.push_back(champs);
            champs.clear();
            ++i;
        } else {
            champ += c;
        }
    }
    if (coupeEntreGuillemets) *coupeEntreGuillemets = guillemets;
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

bool TFichierCsv::CreerNouveau(const QString& chemin) {
    Fermer();
    FChemin = chemin;
    FFd = ::open(QFile::encodeName(chemin).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                 S_IRUSR | S_IWUSR);
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

bool TFichierCsv::OuvrirPourAjout(const QString& chemin) {
    Fermer();
    FChemin = chemin;
    FFd = ::open(QFile::encodeName(chemin).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (FFd < 0) Echec("ouvert");
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
    const QString base = ModeDeBase(mode) == TModeChangement::Recreer
                             ? QStringLiteral("Recréer")
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

// A folder of ours, made with its mode rather than narrowed afterwards; one that exists is
// left as it is.
void CreerDossierPrive(const QString& chemin) {
    if (::mkdir(QFile::encodeName(chemin).constData(), S_IRWXU) == 0 || errno == EEXIST) return;
    const int erreur = errno;
    throw Exception(
        QStringLiteral("Le dossier %1 n'a pas pu être créé : %2")
            .arg(QDir::toNativeSeparators(chemin), QString::fromLocal8Bit(std::strerror(erreur))));
}

} // namespace

bool LireLigneJournal(const QStringList& c, TModeChangement& mode, TLigneJournal& l) {
    if (c.size() != ColonnesJournal) return false;
    const auto nomme = [&c](TModeChangement m) { return c[1] == NomMode(m); };
    for (TModeChangement m : {TModeChangement::Modifier, TModeChangement::Recreer,
                              TModeChangement::AnnulationModifier,
                              TModeChangement::AnnulationRecreer}) {
        if (!nomme(m)) continue;
        mode = m;
        l = {c[2],  c[3],  c[4],  c[5],  c[6],  c[7],  c[8],
             c[9],  c[10], c[11], c[12], c[13], c[14], c[15]};
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// TJournal

QString CreerDossierJournaux() {
    const QString dossier = DossierJournaux();
    const QString racine = QFileInfo(dossier).path();
    // The data folder itself is the user's; ravelin/ and journal/ are ours.
    if (!QDir().mkpath(QFileInfo(racine).path()))
        throw Exception(QStringLiteral("Le dossier %1 n'a pas pu être créé.")
                            .arg(QDir::toNativeSeparators(QFileInfo(racine).path())));
    CreerDossierPrive(racine);
    CreerDossierPrive(dossier);
    return dossier;
}

TJournal::TJournal(TModeChangement mode, const QDateTime& debut) : FMode(mode) {
    const QString dossier = CreerDossierJournaux();
    const QString base = dossier + QLatin1Char('/') +
                         debut.toString(QStringLiteral("yyyy-MM-dd_HHmmss")) +
                         (EstAnnulation(mode)                 ? QStringLiteral("_Annulation")
                          : mode == TModeChangement::Recreer ? QStringLiteral("_Recreer")
                                                             : QStringLiteral("_Modifier"));
    QString chemin = base + QStringLiteral(".csv");
    for (int n = 2; !FFichier.CreerNouveau(chemin); ++n)
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
bool FinitSurUneIssue(const QString& chemin) {
    QFile f(chemin);
    if (!f.open(QIODevice::ReadOnly)) return false;
    constexpr qint64 Fin = 8192;
    if (f.size() > Fin) f.seek(f.size() - Fin);
    const QByteArray fin = f.readAll();
    if (!fin.endsWith("\r\n")) return false;
    const qsizetype debut = fin.lastIndexOf("\r\n", fin.size() - 3);
    if (debut < 0) return false;
    const QByteArray ligne = fin.mid(debut + 2);
    // A line break inside a quoted field (a name typed with one) would make this a piece of
    // the line: its quotes would then be odd in number. The whole file is read instead.
    if (ligne.count('"') % 2 != 0) return false;
    const std::vector<QStringList> derniere = LireCsv(ligne);
    if (derniere.size() != 1 || derniere.front().size() != ColonnesJournal) return false;
    const QString resultat = derniere.front().value(2);
    return resultat == Resultat::Change || resultat == Resultat::Ecarte;
}

} // namespace

bool TCompletionJournaux::CompleterFichier(const QString& chemin) {
    if (FinitSurUneIssue(chemin)) return true;
    TFichierCsv fichier;
    if (!fichier.OuvrirPourAjout(chemin)) return false;
    QFile lecture(chemin);
    if (!lecture.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Le journal %1 n'a pas pu être lu : %2")
                            .arg(QDir::toNativeSeparators(chemin), lecture.errorString()));
    const QByteArray octets = lecture.readAll();
    bool coupeEntreGuillemets = false;
    const std::vector<QStringList> lignes = LireCsv(octets, &coupeEntreGuillemets);
    // Only a journal of ours: its header first.
    if (lignes.empty() || lignes.front() != EnTeteJournal()) return true;

    struct TDerniere {
        TModeChangement mode;
        TLigneJournal ligne;
        qsizetype ordre;
    };
    std::map<QString, TDerniere> dernieres;
    for (size_t i = 1; i < lignes.size(); ++i) {
        TDerniere d{TModeChangement::Modifier, {}, qsizetype(i)};
        if (!LireLigneJournal(lignes[i], d.mode, d.ligne)) continue;
        dernieres.insert_or_assign(d.ligne.id, d);
    }
    std::vector<const TDerniere*> enCours;
    for (const auto& [id, d] : dernieres)
        if (d.ligne.resultat == Resultat::EnCours) enCours.push_back(&d);
    if (enCours.empty()) return true;
    std::sort(enCours.begin(), enCours.end(),
              [](const TDerniere* a, const TDerniere* b) { return a->ordre < b->ordre; });

    // A line cut short by a power loss stays as it is; ours start on a line of their own. Cut
    // inside a quoted field, it is closed first: else the field would run on through our lines.
    if (coupeEntreGuillemets)
        fichier.Ecrire(QByteArrayLiteral("\"\r\n"));
    else if (!octets.endsWith("\r\n"))
        fichier.Ecrire(QByteArrayLiteral("\r\n"));
    const QString maintenant = Horodatage(QDateTime::currentDateTime());
    TLigneCsv csv;
    for (const TDerniere* d : enCours) {
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

bool TCompletionJournaux::Completer(const QStringList& chemins) {
    bool tout = true;
    for (const QString& chemin : chemins)
        if (!CompleterFichier(chemin)) tout = false;
    return tout;
}

void TCompletionJournaux::CompleterTout() {
    const QDir dossier(DossierJournaux());
    if (!dossier.exists()) return;
    QStringList chemins;
    for (const QString& nom : dossier.entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name))
        chemins << dossier.filePath(nom);
    Completer(chemins);
}
