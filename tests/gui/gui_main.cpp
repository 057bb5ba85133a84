// The window tests run inside the program's own application object, offscreen, with the
// per-user alias store and the change journals in folders of their own: a test never touches
// the real user's.
#include "Application.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    QTemporaryDir settings;
    if (!settings.isValid()) return 1;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    qputenv("XDG_DATA_HOME", QFile::encodeName(settings.filePath(QStringLiteral("donnees"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.filePath(QStringLiteral("config"))));
    return RUN_ALL_TESTS();
}
