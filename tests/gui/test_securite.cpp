// A connection configured through ravelin.conf as a workstation gets it: wire encryption and Srp
// asked of the client library (checked against a server that requires encryption and one that
// has none), passwords reaching the server as typed, a role the server does not give, a server
// that never answers; and the real program, in a child process, ended by SIGTERM while a
// start-up error box is open or an attach blocks.
#include "Application.h"
#include "BoxRecorder.h"
#include "CompteIntegre.h"
#include "Programme.h"
#include "ServerRows.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "pFIBDatabase.h"
#include "ufrmConnexion.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ostream>

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QString Compte = QStringLiteral("RAVTEST_SECURITE");

QString NouveauMotDePasse() {
    return QStringLiteral("Sec%1x").arg(QRandomGenerator::global()->generate64(), 0, 36);
}

// SYSDBA with the program's password; UTF8, so that a password beyond ASCII is set as the
// server keeps passwords, in UTF-8.
class Admin {
public:
    Admin() {
        FDb.SetSynchronizeTime(false);
        ConfigureProgramConnection(FDb);
        FDb.DBParams().SetStringList(
            {S("user_name=SYSDBA"), S("lc_ctype=UTF8"), S("password=") + MotDePasseIntegre()});
        FDb.Open(true);
    }
    void Executer(const QString& sql) { ExecuteIn(FDb, sql); }
    QStringList Lignes(const QString& sql) { return RowsOf(FDb, sql); }

private:
    TpFIBDatabase FDb;
};

// A TCP port that takes connections into its backlog and never answers a byte.
class ServeurMuet {
public:
    ServeurMuet() {
        FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in adresse{};
        adresse.sin_family = AF_INET;
        adresse.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(FSocket, reinterpret_cast<sockaddr*>(&adresse), sizeof adresse) != 0 ||
            ::listen(FSocket, 16) != 0)
            return;
        socklen_t taille = sizeof adresse;
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&adresse), &taille);
        port = ntohs(adresse.sin_port);
    }
    ~ServeurMuet() { ::close(FSocket); }
    int port = 0;

private:
    int FSocket = -1;
};

// A connection as the window makes it for a configured workstation, outside the window.
struct Essai {
    bool connecte = false;
    QString refus;
    QString chiffre;
    QString methode;
};

Essai Connecter(const TConnexionProgramme& c, const QString& motDePasse) {
    Essai essai;
    TpFIBDatabase db;
    db.SetSynchronizeTime(false);
    SetProgramConnectParams(db, c, motDePasse);
    try {
        db.Open(true);
    } catch (const EFIBInterBaseError& e) {
        essai.refus = e.IBMessage().trimmed();
        return essai;
    }
    db.ForgetPassword();
    essai.connecte = true;
    const QStringList l =
        RowsOf(db, QStringLiteral("SELECT RDB$GET_CONTEXT('SYSTEM', 'WIRE_ENCRYPTED'), "
                                  "TRIM(MON$AUTH_METHOD) FROM MON$ATTACHMENTS WHERE "
                                  "MON$ATTACHMENT_ID = CURRENT_CONNECTION"));
    essai.chiffre = l.value(0).section(u'|', 0, 0);
    essai.methode = l.value(0).section(u'|', 1, 1);
    db.Close();
    return essai;
}

class Securite : public ::testing::Test {
protected:
    void SetUp() override {
        motDePasse = NouveauMotDePasse();
        admin.Executer(
            QStringLiteral("CREATE OR ALTER USER %1 PASSWORD '%2'").arg(Compte, motDePasse));
        connexion.Configuree = true;
        connexion.Utilisateur = Compte;
    }
    void TearDown() override { QFile::remove(Configuration()); }

    static QString Configuration() {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/ravelin/ravelin.conf");
    }
    void Configurer(const QString& texte) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(Configuration()).path()));
        QFile f(Configuration());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(texte.toUtf8());
    }

    Admin admin;
    QString motDePasse;
    TConnexionProgramme connexion;
};

} // namespace

TEST_F(Securite, WireEncryptionIsRequiredUnlessRelaxedAndTheLoginIsSrp) {
    using C = TConnexionProgramme::TChiffrement;
    const QString incompatible =
        S("Incompatible wire encryption levels requested on client and server.");
    struct Cas {
        const char* nom;
        C chiffrement;
        const char* base;
        QString attendu; // the refusal, or whether the line is encrypted
    };
    // TALVIK_GESTION requires encryption, TALVIK_CLAIR has none (scripts/fbinstance).
    for (const Cas& c :
         {Cas{"requis, serveur chiffré", C::Requis, "TALVIK_GESTION", S("TRUE")},
          Cas{"requis, serveur en clair", C::Requis, "TALVIK_CLAIR", incompatible},
          Cas{"actif, serveur chiffré", C::Actif, "TALVIK_GESTION", S("TRUE")},
          Cas{"actif, serveur en clair", C::Actif, "TALVIK_CLAIR", S("FALSE")},
          Cas{"desactive, serveur chiffré", C::Desactive, "TALVIK_GESTION", incompatible},
          Cas{"desactive, serveur en clair", C::Desactive, "TALVIK_CLAIR", S("FALSE")}}) {
        SCOPED_TRACE(c.nom);
        connexion.Chiffrement = c.chiffrement;
        connexion.Base = S("127.0.0.1:") + QLatin1String(c.base);
        const Essai essai = Connecter(connexion, motDePasse);
        if (c.attendu == incompatible) {
            EXPECT_FALSE(essai.connecte);
            EXPECT_EQ(essai.refus, incompatible);
        } else {
            ASSERT_TRUE(essai.connecte) << essai.refus.toStdString();
            EXPECT_EQ(essai.chiffre, c.attendu);
            EXPECT_TRUE(essai.methode.startsWith(S("Srp"))) << essai.methode.toStdString();
        }
    }
    // Without a workstation configuration the program's block is as it always was, and the
    // client then encrypts only where the server asks it to.
    TConnexionProgramme integre;
    integre.Base = S("127.0.0.1:TALVIK_CLAIR");
    const Essai sans = Connecter(integre, MotDePasseIntegre());
    ASSERT_TRUE(sans.connecte) << sans.refus.toStdString();
    EXPECT_EQ(sans.chiffre, S("FALSE"));
}

TEST_F(Securite, PasswordsReachTheServerAsTyped) {
    connexion.Base = S("127.0.0.1:TALVIK_GESTION");
    for (const QString& mdp : {S("Deuxième"), S("  deux blancs  "), S("é ü ÿ ß"), S("Zoé\t")}) {
        SCOPED_TRACE(mdp.toStdString());
        admin.Executer(QStringLiteral("ALTER USER %1 PASSWORD '%2'").arg(Compte, mdp));
        const Essai essai = Connecter(connexion, mdp);
        EXPECT_TRUE(essai.connecte) << essai.refus.toStdString();
        // The same text without its blanks, or in another encoding, is another password.
        EXPECT_FALSE(Connecter(connexion, mdp.trimmed() + S("x")).connecte);
    }
    // Through the login dialog, as the user types it.
    const QString tape = S(" Deuxième ");
    admin.Executer(QStringLiteral("ALTER USER %1 PASSWORD '%2'").arg(Compte, tape));
    Configurer(
        QStringLiteral("[connexion]\nbase=127.0.0.1:TALVIK_GESTION\nutilisateur=%1\n").arg(Compte));
    BoxRecorder boxes;
    QString refus;
    QTimer repondeur;
    QObject::connect(&repondeur, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<TfrmConnexion*>(QApplication::activeModalWidget());
        if (!dlg || !dlg->isVisible()) return;
        if (!dlg->lblErreur->isHidden()) {
            refus = dlg->lblErreur->text();
            dlg->btnAnnuler->click();
            return;
        }
        // Typed as an input method gives accented letters (key events carry only ASCII here).
        dlg->edtMotDePasse->insert(tape);
        dlg->btnConnecter->click();
    });
    repondeur.start(20);
    TfrmPrincipale frm;
    repondeur.stop();
    EXPECT_TRUE(frm.dbSource->Connected()) << refus.toStdString();
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(Securite, ARoleTheServerDoesNotGiveClosesTheConnectionWithABox) {
    Configurer(QStringLiteral("[connexion]\nbase=127.0.0.1:TALVIK_GESTION\nutilisateur=%1\n"
                              "role=ravellin\n")
                   .arg(Compte));
    BoxRecorder boxes;
    QTimer repondeur;
    QObject::connect(&repondeur, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<TfrmConnexion*>(QApplication::activeModalWidget());
        if (!dlg || !dlg->isVisible()) return;
        if (!dlg->lblErreur->isHidden()) {
            dlg->btnAnnuler->click();
            return;
        }
        QTest::keyClicks(dlg->edtMotDePasse, motDePasse);
        dlg->btnConnecter->click();
    });
    repondeur.start(20);
    TfrmPrincipale frm;
    repondeur.stop();
    EXPECT_FALSE(frm.dbSource->Connected());
    EXPECT_FALSE(frm.transSource->Active());
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_EQ(boxes.errors[0].text,
              S("Le rôle « RAVELLIN » n'est pas accordé à l'utilisateur « RAVTEST_SECURITE » sur "
                "ce serveur : la connexion est refermée. L'administrateur corrige « role » dans "
                "ravelin.conf, ou donne le rôle au compte (GRANT RAVELLIN TO RAVTEST_SECURITE)"));
    EXPECT_EQ(admin.Lignes(S("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$USER = '") + Compte +
                           S("'")),
              QStringList{S("0")});
}

TEST_F(Securite, AServerThatNeverAnswersIsGivenUpAfterTheConfiguredDelay) {
    ServeurMuet muet;
    ASSERT_GT(muet.port, 0);
    Configurer(QStringLiteral("[connexion]\nbase=127.0.0.1/%1:TALVIK_GESTION\n"
                              "delai_connexion=2\n")
                   .arg(muet.port));
    BoxRecorder boxes;
    QElapsedTimer horloge;
    horloge.start();
    TfrmPrincipale frm;
    const qint64 ms = horloge.elapsed();
    EXPECT_GE(ms, 1500);
    EXPECT_LT(ms, 6000);
    EXPECT_FALSE(frm.dbSource->Connected());
    ASSERT_EQ(boxes.errors.size(), 1u);
}

namespace {

// The real program in a child process, in folders of its own, with the tests' client
// configuration (FIREBIRD) from the environment.
struct Programme {
    QTemporaryDir dossier;
    QProcess processus;

    QString Chemin(const char* sous) const { return dossier.filePath(QLatin1String(sous)); }
    void Configurer(const QByteArray& texte) {
        QDir().mkpath(Chemin("config/ravelin"));
        QFile f(Chemin("config/ravelin/ravelin.conf"));
        if (f.open(QIODevice::WriteOnly)) f.write(texte);
    }
    void Demarrer() {
        for (const char* sous : {"config", "xdg", "data"})
            QDir().mkpath(Chemin(sous));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(S("HOME"), dossier.path());
        env.insert(S("XDG_CONFIG_HOME"), Chemin("config"));
        env.insert(S("XDG_CONFIG_DIRS"), Chemin("xdg"));
        env.insert(S("XDG_DATA_HOME"), Chemin("data"));
        env.insert(S("QT_QPA_PLATFORM"), S("offscreen"));
        processus.setProcessEnvironment(env);
        processus.setProcessChannelMode(QProcess::MergedChannels);
        processus.start(qEnvironmentVariable("RAVELIN_BUILD_DIR") + S("/app/Ravelin"), {});
        processus.waitForStarted();
    }
    // SIGTERM, then the time the program takes to end (-1 when it does not within 30 s).
    qint64 Terminer() {
        QElapsedTimer horloge;
        horloge.start();
        ::kill(pid_t(processus.processId()), SIGTERM);
        if (!processus.waitForFinished(30000)) {
            processus.kill();
            processus.waitForFinished();
            return -1;
        }
        return horloge.elapsed();
    }
};

} // namespace

TEST_F(Securite, SigtermEndsTheRealProgramWithAStartUpBoxOpenOrAnAttachBlocked) {
    // The error box before any attach (an unusable file), and after one (the alias store cannot
    // be written): each is answered as its OK answers it and the program ends in order.
    {
        SCOPED_TRACE("fichier inutilisable");
        Programme p;
        p.Configurer("[connexion]\nserveur=ailleurs:GESTION\n");
        p.Demarrer();
        QTest::qWait(1500);
        ASSERT_EQ(p.processus.state(), QProcess::Running) << p.processus.readAll().constData();
        const qint64 ms = p.Terminer();
        EXPECT_GE(ms, 0);
        EXPECT_LT(ms, TApplication::TerminationDeadline);
        EXPECT_EQ(p.processus.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.processus.exitCode(), 0) << p.processus.readAll().constData();
    }
    {
        SCOPED_TRACE("magasin d'alias impossible à écrire, après l'attache");
        Programme p;
        QDir().mkpath(p.Chemin("config"));
        QFile bouchon(p.Chemin("config/Orvane_Software"));
        ASSERT_TRUE(bouchon.open(QIODevice::WriteOnly));
        bouchon.close();
        p.Demarrer();
        const QString attache = S("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$REMOTE_PID = ") +
                                QString::number(p.processus.processId());
        QElapsedTimer attente;
        attente.start();
        while (admin.Lignes(attache) != QStringList{S("1")} && attente.elapsed() < 15000)
            QTest::qWait(100);
        ASSERT_EQ(admin.Lignes(attache), QStringList{S("1")});
        QTest::qWait(700);
        ASSERT_EQ(p.processus.state(), QProcess::Running);
        const qint64 ms = p.Terminer();
        EXPECT_GE(ms, 0);
        EXPECT_LT(ms, TApplication::TerminationDeadline + 1000);
        EXPECT_EQ(p.processus.exitCode(), 0) << p.processus.readAll().constData();
        EXPECT_EQ(admin.Lignes(attache), QStringList{S("0")});
    }
    // An attach blocked on a server that never answers lets no event loop run: the watchdog
    // ends the program as the signal would have, long before the connection's own delay.
    {
        SCOPED_TRACE("attache bloquée");
        ServeurMuet muet;
        Programme p;
        p.Configurer(QStringLiteral("[connexion]\nbase=127.0.0.1/%1:TALVIK_GESTION\n"
                                    "delai_connexion=60\n")
                         .arg(muet.port)
                         .toUtf8());
        p.Demarrer();
        QTest::qWait(1000);
        ASSERT_EQ(p.processus.state(), QProcess::Running);
        const qint64 ms = p.Terminer();
        EXPECT_GE(ms, 0);
        EXPECT_LT(ms, qint64(TApplication::TerminationWatchdog) * 1000 + 1500);
        EXPECT_EQ(p.processus.exitStatus(), QProcess::NormalExit);
        EXPECT_TRUE(p.processus.exitCode() == 0 || p.processus.exitCode() == 128 + SIGTERM)
            << p.processus.exitCode();
    }
}
