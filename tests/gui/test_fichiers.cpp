// The files the program meets on the workstation, through the real window at its start: the
// journals' folder and what lies in it (links, FIFOs, a journal it cannot write, one of 100 MB,
// one saved again with LF line ends), the alias store other programs share, the folder the
// export is offered in, and the descriptors a program started from the window inherits.
#include "BoxRecorder.h"
#include "Journal.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "pFIBDatabase.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <thread>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

// A mandate no row is: the completion finds it untouched, without data of the test's own.
const QString Absent = QStringLiteral("7300001001");

QByteArray Octets(const QString& chemin) {
    QFile f(chemin);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void Ecrire(const QString& chemin, const QByteArray& octets) {
    QFile f(chemin);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << chemin.toStdString();
    ASSERT_EQ(f.write(octets), octets.size());
}

QByteArray LigneCsv(const QStringList& champs) {
    TLigneCsv csv;
    csv.Commencer();
    for (const QString& champ : champs)
        csv.Texte(champ);
    return csv.Terminer();
}

QByteArray EnTete() {
    TLigneCsv csv;
    csv.Commencer();
    for (const QString& champ : EnTeteJournal())
        csv.Valeur(champ);
    return TLigneCsv::Bom() + csv.Terminer();
}

// A « Modifier » line of mandate `id`.
QByteArray Ligne(const QString& resultat, const QString& id) {
    return LigneCsv({S("2026-01-01T00:00:00+01:00"), S("Modifier"), resultat, QString(), id,
                     S("7300000101"), S("RAVFICHIER Léa"), S("RUM-1"), S("RUM-1"),
                     S("FR7699999678901234567890123"), S("FR7612345678901234567890104"),
                     S("ANCIFRPPXXX"), S("OUESFRPPXXX"), S("1"), S("2"), QString()});
}

// A journal a kill left with `Absent` pending.
QByteArray JournalEnSuspens() {
    return EnTete() + Ligne(Resultat::EnCours, Absent);
}

// The last line of a journal, read back; empty when it is none.
QString DerniereIssue(const QString& chemin) {
    const std::vector<QStringList> lignes = LireCsv(Octets(chemin));
    TModeChangement mode{};
    TLigneJournal l;
    if (lignes.empty() || !LireLigneJournal(lignes.back(), mode, l)) return {};
    return l.resultat + u';' + l.motif + u';' + l.id;
}
const QString Interrompu = S("ECARTE;interrompu;") + Absent;

mode_t Mode(const QString& chemin) {
    struct stat st {};
    if (::lstat(QFile::encodeName(chemin).constData(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

// What lies at a path goes, a link as a link: never what it points to.
void Supprimer(const QString& chemin) {
    struct stat st {};
    const QByteArray nom = QFile::encodeName(chemin);
    if (::lstat(nom.constData(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        ::chmod(nom.constData(), 0700);
        QDir(chemin).removeRecursively();
    } else {
        ::unlink(nom.constData());
    }
}

// Root passes over the permission bits: for as long as this lives, the thread does without that
// capability, as any other user does. Nothing for another user.
class SansPassePartout {
public:
    SansPassePartout() {
        if (::geteuid() != 0) return;
        ::syscall(SYS_capget, &FEntete, FAvant);
        __user_cap_data_struct sans[2] = {FAvant[0], FAvant[1]};
        sans[0].effective &= ~(1U << CAP_DAC_OVERRIDE);
        FActif = ::syscall(SYS_capset, &FEntete, sans) == 0;
    }
    ~SansPassePartout() {
        if (FActif) ::syscall(SYS_capset, &FEntete, FAvant);
    }
    SansPassePartout(const SansPassePartout&) = delete;
    SansPassePartout& operator=(const SansPassePartout&) = delete;

private:
    __user_cap_header_struct FEntete{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct FAvant[2]{};
    bool FActif = false;
};

class Fichiers : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Orvane_Software"),
                  QStringLiteral("Aliases"))
            .clear();
        Supprimer(Ravelin());
    }
    void TearDown() override {
        frm.reset();
        Supprimer(Ravelin());
    }
    static QString Ravelin() { return QFileInfo(DossierJournaux()).path(); }
    static QString Journal(const char* nom) { return DossierJournaux() + u'/' + S(nom); }

    // The window made as at the program's start: its error boxes from there on.
    QStringList Demarrer() {
        boxes.errors.clear();
        frm = std::make_unique<TfrmPrincipale>();
        QStringList textes;
        for (const RecordedBox& b : boxes.errors)
            textes << b.text;
        return textes;
    }

    BoxRecorder boxes;
    std::unique_ptr<TfrmPrincipale> frm;
};

} // namespace

TEST_F(Fichiers, EachJournalIsCompletedOnItsOwn) {
    const QString dossier = CreerDossierJournaux();
    const QString bloque = Journal("2026-01-01_000000_Modifier.csv");
    const QString suivant = Journal("2026-01-01_000001_Modifier.csv");
    const QString dernier = Journal("2026-01-02_000000_Modifier.csv");
    for (const QString& chemin : {bloque, suivant, dernier})
        Ecrire(chemin, JournalEnSuspens());
    ASSERT_EQ(::chmod(QFile::encodeName(bloque).constData(), 0400), 0);
    SansPassePartout commeUnUtilisateur;

    // One box naming the file, the window connected all the same, the others completed.
    const QString refus = S("Le journal %1 n'a pas pu être complété : Le fichier %1 n'a pas pu "
                            "être ouvert : %2.")
                              .arg(bloque, QString::fromLocal8Bit(std::strerror(EACCES)));
    EXPECT_EQ(Demarrer(), QStringList{refus});
    EXPECT_TRUE(frm->dbSource->Connected());
    EXPECT_TRUE(frm->transSource->Active());
    EXPECT_EQ(Octets(bloque), JournalEnSuspens());
    EXPECT_EQ(DerniereIssue(suivant), Interrompu);
    EXPECT_EQ(DerniereIssue(dernier), Interrompu);

    // Still pending, it is told again at the next start, alone: the others are done.
    const QByteArray fait = Octets(dernier);
    EXPECT_EQ(Demarrer(), QStringList{refus});
    EXPECT_EQ(Octets(dernier), fait);
    EXPECT_EQ(Octets(bloque), JournalEnSuspens());
}

TEST_F(Fichiers, TheJournalsFolderIsUsedOnlyWhenItIsTheUsersOwnWithMode0700) {
    QTemporaryDir ailleurs;
    const QString cible = ailleurs.filePath(S("cible"));
    const QString journal = DossierJournaux();
    const QString ravelin = Ravelin();
    const auto lien = [](const QString& vers, const QString& chemin) {
        return ::symlink(QFile::encodeName(vers).constData(),
                         QFile::encodeName(chemin).constData());
    };
    const auto pasSur = [](const QString& chemin, const QString& raison) {
        return S("Le dossier %1 n'est pas sûr : %2. Les journaux y gardent des noms et des "
                 "comptes : rien n'y est lu ni écrit tant que ce n'est pas un dossier de "
                 "l'utilisateur, de mode 0700 (drwx------).")
            .arg(chemin, raison);
    };
    const QString unLien = S("c'est un lien ou un fichier, pas un dossier");
    struct Cas {
        const char* nom;
        // Sets the folders up; the folder whose journals are read, if any.
        std::function<QString()> preparer;
        QString refus;
    };
    std::vector<Cas> cas = {
        {"journal/ open to the group and others",
         [&] {
             CreerDossierJournaux();
             ::chmod(QFile::encodeName(journal).constData(), 0755);
             return journal;
         },
         pasSur(journal, S("son mode est 0755"))},
        {"journal/ readable by the group",
         [&] {
             CreerDossierJournaux();
             ::chmod(QFile::encodeName(journal).constData(), 0750);
             return journal;
         },
         pasSur(journal, S("son mode est 0750"))},
        {"journal/ a link to a private folder",
         [&] {
             QDir().mkpath(ravelin);
             ::chmod(QFile::encodeName(ravelin).constData(), 0700);
             QDir().mkpath(cible);
             ::chmod(QFile::encodeName(cible).constData(), 0700);
             lien(cible, journal);
             return cible;
         },
         pasSur(journal, unLien)},
        {"ravelin/ a link",
         [&] {
             QDir().mkpath(cible + S("/journal"));
             ::chmod(QFile::encodeName(cible).constData(), 0700);
             ::chmod(QFile::encodeName(cible + S("/journal")).constData(), 0700);
             lien(cible, ravelin);
             return cible + S("/journal");
         },
         pasSur(ravelin, unLien)},
        {"journal/ a file",
         [&] {
             CreerDossierJournaux();
             QDir(journal).removeRecursively();
             Ecrire(journal, "x");
             return QString();
         },
         pasSur(journal, unLien)},
        {"ravelin/ open to others",
         [&] {
             CreerDossierJournaux();
             ::chmod(QFile::encodeName(ravelin).constData(), 0777);
             return journal;
         },
         pasSur(ravelin, S("son mode est 0777"))},
    };
    if (::geteuid() == 0)
        cas.push_back({"journal/ another user's",
                       [&] {
                           CreerDossierJournaux();
                           ::chown(QFile::encodeName(journal).constData(), 4242, 4242);
                           return journal;
                       },
                       pasSur(journal, S("il appartient à un autre utilisateur (uid 4242)"))});
    for (const Cas& c : cas) {
        SCOPED_TRACE(c.nom);
        Supprimer(ravelin);
        Supprimer(cible);
        const QString lus = c.preparer();
        const QString enSuspens = lus + S("/2026-01-01_000000_Modifier.csv");
        if (!lus.isEmpty()) Ecrire(enSuspens, JournalEnSuspens());
        const QStringList contenu = QDir(lus).entryList(QDir::AllEntries | QDir::Hidden);

        // At the start: the box, and nothing read or completed.
        EXPECT_EQ(Demarrer(), QStringList{c.refus});
        EXPECT_TRUE(frm->dbSource->Connected());
        if (!lus.isEmpty()) {
            EXPECT_EQ(Octets(enSuspens), JournalEnSuspens());
        }
        // A run cannot make its journal there, nor the menu open the folder.
        EXPECT_EQ(Raised<Exception>([] {
                      TJournal j(TModeChangement::Modifier, QDateTime::currentDateTime());
                  }).Message(),
                  c.refus);
        boxes.errors.clear();
        frm->actOuvrirJournaux->trigger();
        ASSERT_EQ(boxes.errors.size(), 1u);
        EXPECT_EQ(boxes.errors[0].text, c.refus);
        if (!lus.isEmpty()) {
            EXPECT_EQ(QDir(lus).entryList(QDir::AllEntries | QDir::Hidden), contenu);
        }
    }

    // Made by the program, both folders are 0700 whatever the user's umask let through.
    Supprimer(ravelin);
    const mode_t umaskAvant = ::umask(0377);
    { TJournal j(TModeChangement::Modifier, QDateTime::currentDateTime()); }
    ::umask(umaskAvant);
    EXPECT_EQ(Mode(ravelin), mode_t(0700));
    EXPECT_EQ(Mode(journal), mode_t(0700));
    EXPECT_EQ(Demarrer(), QStringList());
}

TEST_F(Fichiers, OnlyRegularFilesOfTheFolderAreReadAsJournals) {
    const QString dossier = CreerDossierJournaux();
    // A journal elsewhere, named in the folder by a link: never read, never written.
    QTemporaryDir ailleurs;
    const QString dehors = ailleurs.filePath(S("dehors.csv"));
    Ecrire(dehors, JournalEnSuspens());
    ASSERT_EQ(::symlink(QFile::encodeName(dehors).constData(),
                        QFile::encodeName(Journal("2026-01-01_000000_Modifier.csv")).constData()),
              0);
    // A FIFO in a journal's place, which no program writes: opened for reading as a file is,
    // it would hold the start for good.
    const QString fifo = Journal("2026-01-02_000000_Modifier.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A folder of that name.
    ASSERT_TRUE(QDir().mkdir(Journal("2026-01-03_000000_Modifier.csv")));
    const QString vrai = Journal("2026-01-04_000000_Modifier.csv");
    Ecrire(vrai, JournalEnSuspens());

    // Should the start stop at the FIFO, a writer that comes after 20 s lets it go on, and says.
    std::mutex verrou;
    std::condition_variable fini;
    bool demarre = false;
    bool bloque = false;
    std::thread garde([&] {
        std::unique_lock l(verrou);
        if (fini.wait_for(l, std::chrono::seconds(20), [&] { return demarre; })) return;
        bloque = true;
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });
    const QStringList erreurs = Demarrer();
    {
        std::lock_guard l(verrou);
        demarre = true;
    }
    fini.notify_one();
    garde.join();
    EXPECT_FALSE(bloque);
    EXPECT_EQ(erreurs, QStringList());
    EXPECT_EQ(Octets(dehors), JournalEnSuspens());
    EXPECT_EQ(DerniereIssue(vrai), Interrompu);
}

TEST_F(Fichiers, AJournalSavedWithLfLineEndsIsCompleted) {
    const QString dossier = CreerDossierJournaux();
    // As a spreadsheet saves it again: LF line ends, with or without the byte-order mark; then
    // one whose last line a power loss cut short.
    QByteArray lf = JournalEnSuspens();
    lf.replace("\r\n", "\n");
    const struct {
        const char* nom;
        QByteArray octets;
    } cas[] = {
        {"2026-01-01_000000_Modifier.csv", lf},
        {"2026-01-01_000001_Modifier.csv", lf.sliced(TLigneCsv::Bom().size())},
        {"2026-01-01_000002_Modifier.csv", lf + "2026-01-01T00:00:01+01:00;Modif"},
    };
    for (const auto& c : cas)
        Ecrire(Journal(c.nom), c.octets);
    EXPECT_EQ(Demarrer(), QStringList());
    for (const auto& c : cas) {
        SCOPED_TRACE(c.nom);
        const QByteArray apres = Octets(Journal(c.nom));
        ASSERT_TRUE(apres.startsWith(c.octets));
        // The completion on a line of its own: a cut line is ended first.
        const bool coupe = !c.octets.endsWith('\n');
        const QByteArray ajout = apres.sliced(c.octets.size() + (coupe ? 2 : 0));
        EXPECT_EQ(apres.sliced(c.octets.size()).startsWith("\r\n"), coupe);
        EXPECT_TRUE(ajout.endsWith(";\r\n") && ajout.count("\r\n") == 1) << ajout.toStdString();
        EXPECT_EQ(DerniereIssue(Journal(c.nom)), Interrompu);
        EXPECT_EQ(LireCsv(apres).size(), coupe ? 4u : 3u);
    }
}

namespace {

// The resident set: now, and its peak since the last reset.
qint64 Memoire(const char* cle) {
    std::ifstream status("/proc/self/status");
    std::string mot;
    qint64 ko = 0;
    while (status >> mot)
        if (mot == cle && status >> ko) return ko * 1024;
    return -1;
}

} // namespace

TEST_F(Fichiers, AJournalOf100MegabytesIsCompletedInLittleMemory) {
    const QString dossier = CreerDossierJournaux();
    const QString chemin = Journal("2026-01-01_000000_Modifier.csv");
    {
        QFile f(chemin);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(EnTete());
        QByteArray bloc;
        for (int i = 0; i < 1000; ++i) {
            const QString id = QString::number(7300100000LL + i);
            bloc += Ligne(Resultat::EnCours, id) + Ligne(Resultat::Ecarte, id);
        }
        while (f.size() < 100 * 1024 * 1024)
            f.write(bloc);
        // The last mandate's outcome never written: the whole file must be read.
        f.write(Ligne(Resultat::EnCours, Absent));
    }
    const qint64 taille = QFileInfo(chemin).size();

    // The peak from here on only (a kernel that cannot reset it keeps the one so far).
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
    }
    const qint64 avant = std::max(Memoire("VmRSS:"), Memoire("VmHWM:"));
    EXPECT_EQ(Demarrer(), QStringList());
    const qint64 pic = Memoire("VmHWM:");
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed blocks in quarantine (256 MiB) with red zones around them: the
    // resident set then tells nothing of what the reader holds. Its completion is checked below.
    (void)pic;
    (void)avant;
#else
    EXPECT_LT(pic - avant, 32 * 1024 * 1024) << "peak " << pic << ", before " << avant;
#endif

    // One line added, for the one mandate left pending.
    const QByteArray fin = [&] {
        QFile f(chemin);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        f.seek(taille);
        return f.readAll();
    }();
    EXPECT_EQ(fin.count("\r\n"), 1);
    EXPECT_TRUE(fin.contains(";ECARTE;interrompu;" + Absent.toLatin1() + ';')) << fin.toStdString();
    QFile::remove(chemin);
}

TEST(LecteurCsv, AFileReadInBlocksGivesEveryLineAsWritten) {
    // Far more than a block, so that quotes, doubled quotes and CR LF fall across the reads;
    // lines ended by CR LF or by LF alone; one line longer than any of ours, which is left out.
    const QList<QString> briques = {S("a"), S("Zoé"), S(";"), S("\""),   S("\r\n"), S("\n"),
                                    S("€"), S("'"),   S("="), S("0012"), S(" "),    S("\r")};
    std::mt19937 hasard(20261211);
    QByteArray octets = TLigneCsv::Bom();
    std::vector<QStringList> attendu;
    TLigneCsv ligne;
    for (int i = 0; octets.size() < 600 * 1024; ++i) {
        if (i == 1000) {
            octets += QByteArray(TLecteurCsv::LigneMax + 10, 'x') + "\r\n";
            continue;
        }
        QStringList champs;
        ligne.Commencer();
        for (int c = 1 + int(hasard() % 5); c > 0; --c) {
            QString v;
            for (int k = int(hasard() % 12); k > 0; --k)
                v += briques[qsizetype(hasard() % briques.size())];
            ligne.Texte(v);
            champs << v;
        }
        QByteArray l = ligne.Terminer();
        if (hasard() % 2) l.replace(l.size() - 2, 2, "\n");
        octets += l;
        attendu.push_back(champs);
    }
    QTemporaryDir dossier;
    const QString chemin = dossier.filePath(S("lignes.csv"));
    Ecrire(chemin, octets + "cut;\"short");
    const int fd = ::open(QFile::encodeName(chemin).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    TLecteurCsv lecteur(fd, chemin);
    std::vector<QStringList> lu;
    for (QStringList champs; lecteur.Lire(champs);)
        lu.push_back(champs);
    ::close(fd);
    ASSERT_EQ(lu.size(), attendu.size());
    for (size_t i = 0; i < lu.size(); ++i)
        ASSERT_EQ(lu[i], attendu[i]) << i;
    EXPECT_TRUE(lecteur.CoupeEntreGuillemets());
    EXPECT_FALSE(lecteur.FiniParUneFinDeLigne());
    // The same bytes from memory.
    EXPECT_EQ(LireCsv(octets), attendu);
}

TEST(LigneCsv, TextsASpreadsheetWouldReadAsNumbersAreGuardedAndReadBack) {
    const struct {
        const char* texte;
        bool garde;
    } cas[] = {// Numbers: leading zeros, more digits than a spreadsheet keeps, exponents, decimals
               // with either mark, groups of three, percentages, blanks around.
               {"000123456", true},
               {"12345678901234567890123", true},
               {"1E5", true},
               {"2e-3", true},
               {"1,5", true},
               {"1.5", true},
               {",5", true},
               {"1 234,5", true},
               {"1\u00A0234", true},
               {"12,5 %", true},
               {" 42 ", true},
               {"7.", true},
               // Dates and times.
               {"12/03", true},
               {"12/03/2026", true},
               {"2026-03-12", true},
               {"12.03.2026", true},
               {"9:30", true},
               {"09:30:15", true},
               {"12/03/2026 09:30", true},
               // Texts a spreadsheet keeps as they are.
               {"RUM-0001", false},
               {"FR7612345678901234567890104", false},
               {"OUESFRPPXXX", false},
               {"12AB", false},
               {"1E", false},
               {"1 23", false},
               {"12/03/2026/1", false},
               {"12345/03", false},
               {"1:2:3:4", false},
               {"Dupont Jean", false},
               {"", false},
               {"e5", false},
               {"1,2,3", false},
               {"12-03/2026", false}};
    for (const auto& c : cas) {
        const QString texte = S(c.texte);
        SCOPED_TRACE(c.texte);
        EXPECT_EQ(LuCommeNombre(texte), c.garde);
        TLigneCsv ligne;
        ligne.Commencer();
        ligne.Texte(texte);
        // A value the program makes itself is never guarded.
        ligne.Valeur(texte);
        const QByteArray attendu = (c.garde ? "'" : "") + texte.toUtf8();
        EXPECT_EQ(ligne.Terminer(), attendu + ';' + texte.toUtf8() + "\r\n");
        // Guarded or not, read back as it was; a text starting with "'" keeps it.
        ligne.Commencer();
        ligne.Texte(texte);
        ligne.Texte(u'\'' + texte);
        const std::vector<QStringList> lu{{texte, u'\'' + texte}};
        EXPECT_EQ(LireCsv(ligne.Terminer()), lu);
    }
}

TEST_F(Fichiers, AnUnreadableDialectInTheSharedAliasStoreIsTakenAsMissing) {
    // Values another program of the publisher could leave; a readable one still rules.
    const struct {
        const char* valeur;
        int dialecte;
    } cas[] = {
        {"abc", 3}, {"0", 3},   {"-1", 3},         {"99999999999", 3},
        {"", 3},    {"3,1", 3}, {"@Invalid()", 3}, {"1", 1},
    };
    const QString fichier = QSettings(QSettings::IniFormat, QSettings::UserScope,
                                      QStringLiteral("Orvane_Software"), QStringLiteral("Aliases"))
                                .fileName();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(fichier).path()));
    for (const auto& c : cas) {
        SCOPED_TRACE(c.valeur);
        Ecrire(fichier, QByteArray("[Software]\nOrvane_Software\\Aliases\\TALVIK_GESTION\\"
                                   "Database%20Name=ailleurs:X\n"
                                   "Orvane_Software\\Aliases\\TALVIK_GESTION\\SQL_DIALECT=") +
                            c.valeur + "\n");
        EXPECT_EQ(Demarrer(), QStringList());
        ASSERT_TRUE(frm->dbSource->Connected());
        EXPECT_EQ(frm->dbSource->SQLDialect(), c.dialecte);
        frm.reset();
    }
}

TEST_F(Fichiers, TheExportIsOfferedInTheDocumentsFolderElseInTheHomeFolder) {
    QTemporaryDir maison;
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(maison.path()));
    const QString userDirs = qEnvironmentVariable("XDG_CONFIG_HOME") + S("/user-dirs.dirs");
    EXPECT_EQ(Demarrer(), QStringList());
    QString proposition;
    SetSaveFileHandler([&](const QString&, const QString& p) {
        proposition = p;
        return QString();
    });
    const auto offert = [&] {
        proposition.clear();
        frm->actExporter->trigger();
        return QFileInfo(proposition).path();
    };
    const QString mesDocuments = maison.filePath(S("Mes documents"));
    const QString documents = maison.filePath(S("Documents"));
    // Nothing: the home folder. ~/Documents once it exists. The XDG documents folder first,
    // once it exists.
    EXPECT_EQ(offert(), maison.path());
    ASSERT_TRUE(QDir().mkdir(documents));
    EXPECT_EQ(offert(), documents);
    Ecrire(userDirs, "XDG_DOCUMENTS_DIR=\"$HOME/Mes documents\"\n");
    QDir(documents).removeRecursively();
    EXPECT_EQ(offert(), maison.path());
    ASSERT_TRUE(QDir().mkdir(mesDocuments));
    EXPECT_EQ(offert(), mesDocuments);
    EXPECT_EQ(QFileInfo(proposition).fileName(), NomExportParDefaut(QDate::currentDate()));
    SetSaveFileHandler(nullptr);
    QFile::remove(userDirs);
    qputenv("HOME", home);
    EXPECT_TRUE(boxes.errors.empty());
}

namespace {

// Stands in for the desktop's opener, which the offscreen platform does not have: like it, it
// starts another program with the URL, here a script that lists the descriptors it was started
// with.
class Ouvreur : public QObject {
    Q_OBJECT
public:
    Ouvreur(const QString& script) : FScript(script) {
        QDesktopServices::setUrlHandler(S("file"), this, "ouvrir");
    }
    ~Ouvreur() override { QDesktopServices::unsetUrlHandler(S("file")); }
    bool lance = false;
public slots:
    void ouvrir(const QUrl& url) { lance = QProcess::startDetached(FScript, {url.toLocalFile()}); }

private:
    QString FScript;
};

} // namespace

TEST_F(Fichiers, AProgramStartedFromTheWindowInheritsNoDescriptor) {
    QTemporaryDir bin;
    const QString script = bin.filePath(S("ouvrir"));
    const QString liste = bin.filePath(S("descripteurs"));
    Ecrire(script, "#!/bin/sh\nls -l /proc/$$/fd > \"$0.tmp\" 2>&1; mv \"$0.tmp\" \"" +
                       QFile::encodeName(liste) + "\"\n");
    ASSERT_EQ(::chmod(QFile::encodeName(script).constData(), 0700), 0);
    Ouvreur ouvreur(script);

    EXPECT_EQ(Demarrer(), QStringList());
    ASSERT_TRUE(frm->dbSource->Connected());
    // Besides the connection's socket, a descriptor opened without the flag, as a library may.
    const int sans = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(sans, 3);
    ASSERT_FALSE(::fcntl(sans, F_GETFD) & FD_CLOEXEC);
    // What the program holds open: the connection's socket among them.
    QStringList tenus;
    for (const QFileInfo& fd : QDir(S("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files))
        if (fd.fileName().toInt() > 2) tenus << fd.symLinkTarget().section(u'/', -1);
    ASSERT_FALSE(tenus.filter(QRegularExpression(S("^socket:"))).isEmpty())
        << tenus.join(u' ').toStdString();
    frm->actOuvrirJournaux->trigger();
    ASSERT_TRUE(ouvreur.lance);
    for (int i = 0; i < 200 && !QFile::exists(liste); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const QStringList lignes =
        QString::fromLocal8Bit(Octets(liste)).split(u'\n', Qt::SkipEmptyParts);
    ::close(sans);
    ASSERT_FALSE(lignes.isEmpty()) << "the opener did not run";
    // Past its standard three, nothing the program held: what the child has besides is its own
    // (the script it reads, the launcher's pipes).
    int vus = 0;
    for (const QString& l : lignes) {
        if (l.startsWith(S("total"))) continue;
        ++vus;
        if (l.section(u' ', -3, -3).toInt() <= 2) continue;
        EXPECT_FALSE(tenus.contains(l.section(S(" -> "), 1).section(u'/', -1))) << l.toStdString();
    }
    EXPECT_GE(vus, 3);
    EXPECT_TRUE(boxes.errors.empty());
}

#include "test_fichiers.moc"
