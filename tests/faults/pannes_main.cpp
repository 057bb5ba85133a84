// The fault tests run inside the program's application object, offscreen, against an instance
// of their own that they kill and start again; the shared instance of the other suites never
// sees a kill. Started with "--enfant MODE", the binary is instead the program whose own kill
// is tested: it lists the mandates, runs the change and reports each mandate done on stdout;
// with "--annuler CHEMIN", it gives back the run of that journal the same way.
#include "Application.h"
#include "Pannes.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

int Enfant(int argc, char** argv) {
    TApplication app(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    const int mode = std::atoi(argv[2]);
    Pannes::Fenetre f;
    const QStringList liste = f.Verifier();
    std::printf("liste %d\n", int(liste.size()));
    std::fflush(stdout);
    f.frm->OnProgression = [](int fait, int) {
        std::printf("%d\n", fait);
        std::fflush(stdout);
    };
    f.Changer(mode);
    std::printf("fin %d\n", int(f.boxes.errors.size()));
    return 0;
}

// "--annuler CHEMIN": the program giving back the run of that journal, each mandate reported.
int EnfantAnnulation(int argc, char** argv) {
    TApplication app(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    Pannes::Fenetre f;
    f.frm->OnProgression = [](int fait, int) {
        std::printf("%d\n", fait);
        std::fflush(stdout);
    };
    f.frm->AnnulerPassage(QString::fromLocal8Bit(argv[2]));
    std::printf("fin %d\n", int(f.boxes.errors.size()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The client library reads its configuration when it is loaded, at the first connect.
    qputenv("FIREBIRD", Pannes::Racine().toLocal8Bit());
    qputenv("FIREBIRD_BOOT_BUILD", "1");
    // The window reads ravelin.conf from these; the real user's would change its connection.
    const QByteArray sansConfiguration = "/nonexistent/ravelin-pannes";
    qputenv("XDG_CONFIG_HOME", sansConfiguration);
    qputenv("XDG_CONFIG_DIRS", sansConfiguration);
    if (argc == 3 && std::strcmp(argv[1], "--enfant") == 0) return Enfant(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--annuler") == 0) return EnfantAnnulation(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--terminaison") == 0)
        return Pannes::EnfantTerminaison(argc, argv);

    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    if (Pannes::Racine().isEmpty()) {
        std::fprintf(stderr, "RAVELIN_PANNES_ROOT n'est pas réglé\n");
        return 1;
    }
    QTemporaryDir settings;
    if (!settings.isValid()) return 1;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    // The journals, the children's too, in a folder of the tests' own; each instant takes one
    // of its own beneath it.
    Pannes::DossierDonnees = settings.filePath(QStringLiteral("donnees"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(Pannes::DossierDonnees));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.filePath(QStringLiteral("config"))));
    if (!Pannes::Demarrer()) {
        std::fprintf(stderr, "l'instance %s ne démarre pas\n", qPrintable(Pannes::Racine()));
        return 1;
    }
    const int rc = RUN_ALL_TESTS();
    Pannes::Arreter();
    return rc;
}
