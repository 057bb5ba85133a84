// A termination signal (a session's end, `kill`, Ctrl+C) while a dialog is open: the program
// runs in a child process with its real boxes, and ends as its user would, innermost dialog
// first, with nothing of it left on the server.
#include "Application.h"
#include "Controls.h"
#include "Dialogs.h"
#include "Pannes.h"
#include "ufrmBanqueChoix.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdio>

#include <signal.h>

using namespace Pannes;

namespace {

void Dire(const QByteArray& ligne) {
    std::printf("%s\n", ligne.constData());
    std::fflush(stdout);
}

// The error box as the program shows it, told to the test first.
void BoiteErreurDite(const QString& texte, const QString& caption) {
    Dire("erreur " + texte.toUtf8().replace('\n', ' '));
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(texte);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setEscapeButton(ok);
    box.exec();
}

} // namespace

namespace Pannes {

int EnfantTerminaison(int argc, char** argv) {
    TApplication app(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    const QByteArray scenario = argv[2];
    Fenetre f;
    f.frm->show();
    // The listing's question is answered here; from then on the boxes are the real ones,
    // except the run's confirmation when the run itself is what the signal meets.
    if (scenario != "choix") {
        Dire("liste " + QByteArray::number(f.Verifier().size()));
        if (scenario == "changement") f.frm->rgoMandat->SetItemIndex(Modifier);
    }
    if (scenario != "changement") SetMessageBoxHandler({});
    SetErrorBoxHandler(BoiteErreurDite);
    app.CloseOnTermination(f.frm.get());

    // "pret" once the dialog the signal is meant to meet is there.
    bool pret = false;
    auto annoncer = [&] {
        if (pret) return;
        pret = true;
        Dire("pret");
    };
    QTimer guet;
    QObject::connect(&guet, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (scenario == "choix" && qobject_cast<TfrmBanqueChoix*>(modal)) {
            QObject::connect(static_cast<TfrmBanqueChoix*>(modal), &QDialog::finished,
                             [](int r) { Dire("choix " + QByteArray::number(r)); });
            annoncer();
        }
        if (scenario == "confirmation" && qobject_cast<QMessageBox*>(modal)) annoncer();
    });
    guet.start(10);
    f.frm->OnProgression = [&](int fait, int) {
        Dire("fait " + QByteArray::number(fait));
        if (fait == 50) annoncer();
    };
    QTimer::singleShot(0, [&] {
        if (scenario == "choix")
            QTest::mouseClick(f.frm->lblAncien_Info, Qt::LeftButton);
        else
            f.frm->btnChanger->click();
        Dire("rendu");
    });
    const int rc = app.exec();
    Dire("sortie");
    return rc;
}

} // namespace Pannes

namespace {

struct Issue {
    QList<QByteArray> lignes;
    qint64 pid = 0;
    bool fini = false;
    QProcess::ExitStatus statut = QProcess::CrashExit;
    int code = -1;
    qint64 ms = 0;
};

// Runs the program in the scenario, sends SIGTERM once it says "pret", and waits for its end.
Issue Terminer(const char* scenario) {
    Issue issue;
    QProcess enfant;
    enfant.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    enfant.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--terminaison"), QString::fromLatin1(scenario)});
    if (!enfant.waitForStarted()) return issue;
    issue.pid = enfant.processId();
    auto lire = [&] {
        while (enfant.canReadLine())
            issue.lignes << enfant.readLine().trimmed();
    };
    while (!issue.lignes.contains("pret") && enfant.state() == QProcess::Running) {
        if (!enfant.canReadLine() && !enfant.waitForReadyRead(60000)) break;
        lire();
    }
    if (!issue.lignes.contains("pret")) return issue;
    QElapsedTimer horloge;
    horloge.start();
    ::kill(pid_t(issue.pid), SIGTERM);
    issue.fini = enfant.waitForFinished(30000);
    issue.ms = horloge.elapsed();
    lire();
    issue.statut = enfant.exitStatus();
    issue.code = enfant.exitCode();
    if (!issue.fini) {
        enfant.kill();
        enfant.waitForFinished();
    }
    return issue;
}

class Terminaison : public ::testing::Test {
protected:
    void SetUp() override { origines = Semer(base, 2000); }

    // The program ended by itself, soon, successfully, without an error box, and left nothing
    // on the server.
    void VerifierFin(const Issue& issue) {
        ASSERT_TRUE(issue.lignes.contains("pret")) << issue.lignes.join(' ').constData();
        ASSERT_TRUE(issue.fini) << "still running after the signal";
        EXPECT_EQ(issue.statut, QProcess::NormalExit);
        EXPECT_EQ(issue.code, 0);
        EXPECT_LT(issue.ms, 10000);
        EXPECT_TRUE(issue.lignes.contains("sortie"));
        for (const QByteArray& ligne : issue.lignes)
            EXPECT_FALSE(ligne.startsWith("erreur")) << ligne.constData();
        EXPECT_EQ(base.Lignes(QStringLiteral("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE "
                                             "MON$REMOTE_PID = %1")
                                  .arg(issue.pid)),
                  QStringList{QStringLiteral("0")});
    }

    Connexion base;
    std::vector<Origine> origines;
};

} // namespace

TEST_F(Terminaison, ADialogOpenAtTheSignalIsCancelledThenTheProgramEnds) {
    // The bank chooser: closed as Escape closes it (its own close handler commits its
    // transaction), then the window.
    {
        SCOPED_TRACE("chooser");
        const Issue issue = Terminer("choix");
        VerifierFin(issue);
        EXPECT_TRUE(
            issue.lignes.contains("choix " + QByteArray::number(TfrmBanqueChoix::mrCancel)));
    }
    // The run's confirmation: answered "&Non", so nothing is changed.
    {
        SCOPED_TRACE("confirmation");
        const Issue issue = Terminer("confirmation");
        VerifierFin(issue);
        const Bilan bilan = Auditer(base, origines, Modifier);
        EXPECT_EQ(bilan.intacts, int(origines.size()));
    }
}

TEST_F(Terminaison, ARunningChangeStopsAfterTheMandateInHand) {
    const Issue issue = Terminer("changement");
    VerifierFin(issue);
    int fait = 0;
    for (const QByteArray& ligne : issue.lignes)
        if (ligne.startsWith("fait ")) fait = ligne.mid(5).toInt();
    // Stopped as "Arrêter" stops it: what was reported done is done, nothing else, nothing half.
    const Bilan bilan = Auditer(base, origines, Modifier);
    EXPECT_GE(fait, 50);
    EXPECT_LT(fait, int(origines.size()));
    EXPECT_EQ(bilan.changes, fait);
    EXPECT_EQ(bilan.moities, 0);
    EXPECT_EQ(bilan.changes + bilan.intacts, int(origines.size()));
}
