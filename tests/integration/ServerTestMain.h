// The main of the suites that connect to the private server: a connection writes its alias
// after connecting, so the alias store lives in a folder of the test run, never in the user's.
#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

inline int RunServerTests(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
