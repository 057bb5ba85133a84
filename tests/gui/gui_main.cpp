// The window tests run inside the program's own application object, offscreen, with the
// per-user alias store and the configuration and data folders in a folder of their own: no
// test reads the real user's ravelin.conf or writes into the real user's folders.
#include "Application.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir racine;
    if (!racine.isValid()) return 1;
    const QDir dossier(racine.path());
    for (const char* sous : {"aliases", "config", "xdg", "data"})
        if (!dossier.mkpath(QLatin1String(sous))) return 1;
    qputenv("XDG_CONFIG_HOME", dossier.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", dossier.filePath(QStringLiteral("xdg")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", dossier.filePath(QStringLiteral("data")).toLocal8Bit());
    TApplication app(argc, argv);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       dossier.filePath(QStringLiteral("aliases")));
    return RUN_ALL_TESTS();
}
