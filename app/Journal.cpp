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
