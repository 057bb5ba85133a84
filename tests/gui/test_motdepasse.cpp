#include "MotDePasse.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(MotDePasse, EachPositionIsFlippedByTwiceItsRank) {
    // Position i (from 1) is XORed with 2 × i: "A" (0x41) at 1 gives 0x43, at 11 gives 0x57.
    EXPECT_EQ(MotDePasseDepuis(QStringLiteral("AAAAAAAAAAA")),
              QString::fromLatin1("CE\x47IKMOQSUW"));
    // The routine is its own inverse, so a stored text can be made from any password.
    const QString mdp = MotDePasseGestion();
    EXPECT_EQ(mdp.size(), 11);
    EXPECT_EQ(MotDePasseDepuis(MotDePasseDepuis(mdp)), mdp);
    EXPECT_TRUE(MotDePasseDepuis(QString()).isEmpty());
}

// The tool hands the password to a reading process only: a file it was redirected to would keep
// the password on disk, readable by whoever the file's mode lets in.
TEST(MotDePasse, TheToolWritesIntoAPipeButNeverIntoAFile) {
    const QString outil = qEnvironmentVariable("RAVELIN_BUILD_DIR") + u"/app/ravelin-motdepasse"_qs;
    ASSERT_TRUE(QFileInfo(outil).isExecutable()) << outil.toStdString();

    QProcess tube;
    tube.start(outil, {});
    ASSERT_TRUE(tube.waitForFinished(30000));
    EXPECT_EQ(tube.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(tube.readAllStandardOutput()), MotDePasseGestion());

    QTemporaryDir dossier;
    ASSERT_TRUE(dossier.isValid());
    const QString fichier = dossier.filePath(u"mdp"_qs);
    QProcess redirige;
    redirige.setStandardOutputFile(fichier);
    redirige.start(outil, {});
    ASSERT_TRUE(redirige.waitForFinished(30000));
    EXPECT_NE(redirige.exitCode(), 0);
    QFile f(fichier);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().isEmpty());
}
