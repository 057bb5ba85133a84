// The main window with a configured account of the organisation: ravelin.conf names the
// tests' private server by port and path, the login dialog is answered as a user would, and
// what the server saw (MON$ATTACHMENTS) and what it holds afterwards is read back from a SYSDBA
// connection of the test's own.
#include "BoxRecorder.h"
#include "Configuration.h"
#include "Controls.h"
#include "Journal.h"
#include "Programme.h"
#include "ServerRows.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"
#include "ufrmConnexion.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <ostream>

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QString Client = QStringLiteral("7100000101");
const QString BanqueAncienne = QStringLiteral("7100000001");
const QString BanqueNouvelle = QStringLiteral("7100000002");
const QString M1 = QStringLiteral("7100001001");
const QString M2 = QStringLiteral("7100001002");

// The accounts of these tests: one with the role, one without it, one that may only read.
const QString AvecRole = QStringLiteral("RAVTEST_ROLE");
const QString SansRole = QStringLiteral("RAVTEST_SANS");
const QString Lecteur = QStringLiteral("RAVTEST_LECTEUR");

// A fresh password per run, so that finding it anywhere can only mean it was written there.
QString NouveauMotDePasse() {
    return QStringLiteral("Mdp%1x").arg(QRandomGenerator::global()->generate64(), 0, 36);
}

// "127.0.0.1/PORT:path": the instance by its own port, not through FIREBIRD's firebird.conf.
QString BaseDeLInstance() {
    const QString racine = QFileInfo(qEnvironmentVariable("RAVELIN_FB_ROOT")).canonicalFilePath();
    QFile port(racine + QStringLiteral("/port"));
    if (!port.open(QIODevice::ReadOnly)) return {};
    return QStringLiteral("127.0.0.1/") + QString::fromLatin1(port.readAll().trimmed()) + u':' +
           racine + QStringLiteral("/talvik.fdb");
}

// SYSDBA with the program's password: sets accounts and data up and reads results back.
class Admin {
public:
    Admin() {
        FDb.SetSynchronizeTime(false);
        ConfigureProgramConnection(FDb);
        FDb.Open(true);
    }
    void Executer(const QString& sql) { ExecuteIn(FDb, sql); }
    QStringList Lignes(const QString& sql) { return RowsOf(FDb, sql); }
    QStringList Mandats() {
        return Lignes(QStringLiteral("SELECT CMAN_ID, CMAN_ACTIF, CMAN_IDBANQ, CMAN_IBAN, "
                                     "CMAN_BIC, CMAN_MANDAT FROM CLIENTS_MANDAT WHERE "
                                     "CMAN_IDCLI = ") +
                      Client + QStringLiteral(" ORDER BY CMAN_ID"));
    }

private:
    TpFIBDatabase FDb;
};

// A connection of an account of these tests, outside the window.
class Session {
public:
    Session(const QString& base, const QString& compte, const QString& role,
            const QString& motDePasse) {
        TConnexionProgramme c;
        c.Base = base;
        c.Utilisateur = compte;
        c.Role = role;
        FDb.SetSynchronizeTime(false);
        SetProgramConnectParams(FDb, c, motDePasse);
        FDb.Open(true);
        FDb.ForgetPassword();
    }
    void Fermer() { FDb.Close(); }
    // The server's words when it refuses the statement; empty when it runs (rolled back).
    QString Refus(const QString& sql) {
        TOwnStatement s(FDb, sql);
        QString message;
        try {
            s.q.ExecQuery();
        } catch (const EFIBInterBaseError& e) {
            message = e.IBMessage();
        }
        s.q.Close();
        s.tr.Rollback();
        return message.trimmed();
    }

private:
    TpFIBDatabase FDb;
};

// Answers the login dialog while it is up, one step per tick: a refused attempt leaves the
// same dialog open for the next step. A dialog up with no step left is cancelled, so that a
// test never hangs on it.
class Repondeur {
public:
    using TEtape = std::function<void(TfrmConnexion&)>;
    explicit Repondeur(std::deque<TEtape> etapes) : FEtapes(std::move(etapes)) {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Tic(); });
        FTimer.start(20);
    }
    int etapes = 0;
    int enTrop = 0;

private:
    void Tic() {
        auto* dlg = qobject_cast<TfrmConnexion*>(QApplication::activeModalWidget());
        if (!dlg || !dlg->isVisible() || FEnCours) return;
        FEnCours = true;
        ++etapes;
        if (FEtapes.empty()) {
            ++enTrop;
            dlg->btnAnnuler->click();
        } else {
            const TEtape etape = std::move(FEtapes.front());
            FEtapes.pop_front();
            etape(*dlg);
        }
        FEnCours = false;
    }

    std::deque<TEtape> FEtapes;
    QTimer FTimer;
    bool FEnCours = false;
};

void Saisir(TfrmConnexion& dlg, const QString& motDePasse) {
    QTest::keyClicks(dlg.edtMotDePasse, motDePasse);
    dlg.btnConnecter->click();
}

class Compte : public ::testing::Test {
protected:
    void SetUp() override {
        base = BaseDeLInstance();
        ASSERT_FALSE(base.isEmpty());
        motDePasse = NouveauMotDePasse();
        // RAVELIN comes from sql/droits.sql, which the instance loaded.
        admin.Executer(
            QStringLiteral("CREATE OR ALTER USER %1 PASSWORD '%2'").arg(AvecRole, motDePasse));
        admin.Executer(
            QStringLiteral("CREATE OR ALTER USER %1 PASSWORD '%2'").arg(SansRole, motDePasse));
        admin.Executer(
            QStringLiteral("CREATE OR ALTER USER %1 PASSWORD '%2'").arg(Lecteur, motDePasse));
        // A grant given by an earlier test stays; giving it again is refused or warned about.
        auto accorder = [this](const QString& sql) {
            try {
                admin.Executer(sql);
            } catch (const EFIBInterBaseError&) {
            }
        };
        accorder(QStringLiteral("GRANT RAVELIN TO ") + AvecRole);
        for (const char* table : {"BANQUE", "CLIENTS", "CLIENTS_MANDAT"})
            accorder(
                QStringLiteral("GRANT SELECT ON %1 TO USER %2").arg(QLatin1String(table), Lecteur));
        Nettoyer();
        admin.Executer(QStringLiteral("INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, BANQ_BIC, "
                                      "BANQ_BANQUE) VALUES (%1, 'Banque Ancienne', "
                                      "'ANCIFRPPXXX', '99999')")
                           .arg(BanqueAncienne));
        admin.Executer(QStringLiteral("INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, BANQ_BIC, "
                                      "BANQ_BANQUE) VALUES (%1, 'Banque Nouvelle', "
                                      "'NOUVFRPPXXX', '12345')")
                           .arg(BanqueNouvelle));
        admin.Executer(
            QStringLiteral("INSERT INTO CLIENTS VALUES (%1, 'RAVCOMPTE', 'Anne')").arg(Client));
        for (const auto& [id, iban] : {std::pair{M1, "FR7699999678901234567890123"},
                                       std::pair{M2, "FR7699999111111000000001128"}})
            admin.Executer(QStringLiteral("INSERT INTO CLIENTS_MANDAT (CMAN_ID, CMAN_IDCLI, "
                                          "CMAN_ACTIF, CMAN_IDBANQ, CMAN_IBAN, CMAN_BIC, "
                                          "CMAN_MANDAT) VALUES (%1, %2, -1, %3, '%4', "
                                          "'ANCIFRPPXXX', 'RUM-%1')")
                               .arg(id, Client, BanqueAncienne, QLatin1String(iban)));
        avant = admin.Mandats();
    }
    void TearDown() override {
        frm.reset();
        Nettoyer();
        QFile::remove(Configuration());
    }
    void Nettoyer() {
        admin.Executer(QStringLiteral("DELETE FROM CLIENTS_MANDAT WHERE CMAN_IDCLI = ") + Client);
        admin.Executer(QStringLiteral("DELETE FROM CLIENTS WHERE CLI_ID = ") + Client);
        admin.Executer(QStringLiteral("DELETE FROM BANQUE WHERE BANQ_ID IN (%1, %2)")
                           .arg(BanqueAncienne, BanqueNouvelle));
    }

    static QString Configuration() {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/ravelin/ravelin.conf");
    }
    void Configurer(const QString& texte) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(Configuration()).path()));
        QFile f(Configuration());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(texte.toUtf8());
    }
    void ConfigurerCompte(const QString& utilisateur, const QString& role = QString()) {
        Configurer(QStringLiteral("[connexion]\nbase=%1\nutilisateur=%2\n").arg(base, utilisateur) +
                   (role.isEmpty() ? QString() : QStringLiteral("role=") + role + u'\n'));
    }

    // The banks as the chooser would set them, then « Vérifier » with both branch boxes empty.
    QStringList Verifier() {
        frm->Ancien_ID = BanqueAncienne.toLongLong();
        frm->Ancien_Code = QStringLiteral("99999");
        frm->Nouveau_ID = BanqueNouvelle.toLongLong();
        frm->Nouveau_Code = QStringLiteral("12345");
        frm->Nouveau_BIC = QStringLiteral("NOUVFRPPXXX");
        frm->Nouveau_Nom = QStringLiteral("Banque Nouvelle");
        frm->cbxActif->setChecked(true);
        frm->btnVerifier->click();
        return Listes();
    }
    QStringList Listes() {
        QStringList ids;
        if (!frm->idsBanque->Active()) return ids;
        for (frm->idsBanque->First(); !frm->idsBanque->Eof(); frm->idsBanque->Next())
            ids << frm->idsBanqueCMAN_ID->AsString();
        ids.sort();
        return ids;
    }
    void Changer(int mode) {
        frm->rgoMandat->SetItemIndex(mode);
        frm->btnChanger->click();
    }
    // User, role and authentication of every attachment of the account, as the server knows
    // them: the window's, and no other.
    QString VuParLeServeur(const QString& compte) {
        return admin
            .Lignes(QStringLiteral("SELECT TRIM(MON$USER), TRIM(MON$ROLE), TRIM(MON$AUTH_METHOD) "
                                   "FROM MON$ATTACHMENTS WHERE MON$USER = '%1'")
                        .arg(compte))
            .join(u'\n');
    }

    QString base;
    QString motDePasse;
    Admin admin;
    QStringList avant;
    BoxRecorder boxes;
    std::unique_ptr<TfrmPrincipale> frm;
};

QStringList Textes(const std::vector<RecordedBox>& list) {
    QStringList texts;
    for (const RecordedBox& box : list)
        texts << box.text;
    return texts;
}

// Every file under the folders a test run gives the program, in which the text shows in one of
// the encodings a program could have written it in.
QStringList FichiersContenant(const QString& texte) {
    QStringList dossiers{
        qEnvironmentVariable("XDG_CONFIG_HOME"), qEnvironmentVariable("XDG_DATA_HOME"),
        QFileInfo(QSettings(QSettings::IniFormat, QSettings::UserScope,
                            QStringLiteral("Orvane_Software"), QStringLiteral("Aliases"))
                      .fileName())
            .path()};
    dossiers << qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts);
    const QByteArray formes[] = {
        texte.toUtf8(), QByteArray(reinterpret_cast<const char*>(texte.utf16()), texte.size() * 2)};
    QStringList trouves;
    for (const QString& dossier : dossiers) {
        QDirIterator it(dossier, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (!f.open(QIODevice::ReadOnly)) continue;
            const QByteArray contenu = f.readAll();
            for (const QByteArray& forme : formes)
                if (contenu.contains(forme)) trouves << f.fileName();
        }
    }
    return trouves;
}

} // namespace

TEST_F(Compte, WithTheRoleAWrongPasswordIsRetriedThenListsAndChangesEndToEnd) {
    ConfigurerCompte(QStringLiteral("ravtest_role"), QStringLiteral("ravelin"));
    QString refus;
    bool masque = false;
    bool focalise = false;
    QString serveur;
    QString utilisateur;
    bool lectureSeule = false;
    QString titre;
    Repondeur repondeur({[&](TfrmConnexion& dlg) {
                             titre = dlg.windowTitle();
                             serveur = dlg.edtServeur->text();
                             utilisateur = dlg.edtUtilisateur->text();
                             lectureSeule =
                                 dlg.edtServeur->isReadOnly() && dlg.edtUtilisateur->isReadOnly();
                             masque = dlg.edtMotDePasse->echoMode() == QLineEdit::Password;
                             // The typing goes to the password as soon as the dialog is up.
                             focalise = QTest::qWaitForWindowActive(&dlg) &&
                                        QApplication::focusWidget() == dlg.edtMotDePasse;
                             Saisir(dlg, motDePasse + QStringLiteral("faux"));
                         },
                         [&](TfrmConnexion& dlg) {
                             refus = dlg.lblErreur->text();
                             EXPECT_TRUE(dlg.edtMotDePasse->text().isEmpty());
                             Saisir(dlg, motDePasse);
                         }});
    frm = std::make_unique<TfrmPrincipale>();
    EXPECT_EQ(repondeur.etapes, 2);
    EXPECT_EQ(repondeur.enTrop, 0);
    EXPECT_EQ(titre, S("Connexion à la base"));
    EXPECT_EQ(serveur, base);
    EXPECT_EQ(utilisateur, QStringLiteral("ravtest_role"));
    EXPECT_TRUE(lectureSeule);
    EXPECT_TRUE(masque);
    EXPECT_TRUE(focalise);
    // The server's own words, without the component path the error box would put before them.
    EXPECT_EQ(refus, QStringLiteral("Your user name and password are not defined. Ask your "
                                    "database administrator to set up a Firebird login."));
    ASSERT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
    ASSERT_TRUE(frm->dbSource->Connected());
    EXPECT_TRUE(frm->transSource->Active());
    EXPECT_EQ(VuParLeServeur(AvecRole), QStringLiteral("RAVTEST_ROLE|RAVELIN|Srp"));
    // Attached, the connection keeps no password.
    EXPECT_TRUE(GetDBParamByDPB(frm->dbSource->DBParams(), isc_dpb_password).isEmpty());
    EXPECT_EQ(
        frm->dbSource->DBParams().ToStringList(),
        QStringList({QStringLiteral("user_name=ravtest_role"), QStringLiteral("lc_ctype=ISO8859_1"),
                     QStringLiteral("sql_role_name=RAVELIN"), QStringLiteral("connect_timeout=15"),
                     QStringLiteral("config=WireCrypt = Required"),
                     QStringLiteral("config=AuthClient = Srp256, Srp")}));

    // « Modifier » on M1 and M2, then « Recréer » moves them back as new copies.
    EXPECT_EQ(Verifier(), QStringList({M1, M2}));
    Changer(0);
    EXPECT_TRUE(Textes(boxes.messages).filter(S("n'ont pas pu"), Qt::CaseInsensitive).isEmpty())
        << Textes(boxes.messages).join(u'\n').toStdString();
    EXPECT_EQ(
        admin.Mandats(),
        QStringList({M1 + QStringLiteral("|-1|") + BanqueNouvelle +
                         QStringLiteral("|FR7612345678901234567890104|NOUVFRPPXXX|RUM-") + M1,
                     M2 + QStringLiteral("|-1|") + BanqueNouvelle +
                         QStringLiteral("|FR7612345111111000000001109|NOUVFRPPXXX|RUM-") + M2}));
    std::swap(frm->Ancien_ID, frm->Nouveau_ID);
    frm->Ancien_Code = QStringLiteral("12345");
    frm->Nouveau_Code = QStringLiteral("99999");
    frm->Nouveau_BIC = QStringLiteral("ANCIFRPPXXX");
    frm->Nouveau_Nom = QStringLiteral("Banque Ancienne");
    const qint64 ancien = frm->Ancien_ID;
    const qint64 nouveau = frm->Nouveau_ID;
    frm->btnVerifier->click();
    ASSERT_EQ(frm->Ancien_ID, ancien);
    ASSERT_EQ(frm->Nouveau_ID, nouveau);
    ASSERT_EQ(Listes(), QStringList({M1, M2}));
    Changer(1);
    // The old rows ended, their copies at the old bank again under new identifiers.
    QStringList apres;
    for (const QString& ligne : admin.Mandats())
        apres << ligne.section(u'|', 1);
    apres.sort();
    EXPECT_EQ(apres.join(u'\n').toStdString(),
              QStringList({QStringLiteral("-1|%1|FR7699999111111000000001128|ANCIFRPPXXX|RUM-%2N")
                               .arg(BanqueAncienne, M2),
                           QStringLiteral("-1|%1|FR7699999678901234567890123|ANCIFRPPXXX|RUM-%2N")
                               .arg(BanqueAncienne, M1),
                           QStringLiteral("0|%1|FR7612345111111000000001109|NOUVFRPPXXX|RUM-%2")
                               .arg(BanqueNouvelle, M2),
                           QStringLiteral("0|%1|FR7612345678901234567890104|NOUVFRPPXXX|RUM-%2")
                               .arg(BanqueNouvelle, M1)})
                  .join(u'\n')
                  .toStdString());
    EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
    frm->close();
    frm.reset();

    // The alias store was written after each connect, and with the configuration it is the
    // only file the program writes: the password is in none of them.
    TpFIBDatabase lecteur;
    lecteur.SetAliasName(QStringLiteral("TALVIK_GESTION"));
    EXPECT_EQ(lecteur.DBName(), base);
    EXPECT_EQ(lecteur.ConnectParams().UserName(), QStringLiteral("ravtest_role"));
    EXPECT_EQ(lecteur.ConnectParams().RoleName(), QStringLiteral("RAVELIN"));
    EXPECT_EQ(FichiersContenant(motDePasse), QStringList());
    EXPECT_FALSE(FichiersContenant(QStringLiteral("ravtest_role")).isEmpty());
}

TEST_F(Compte, AnnulerLeavesTheWindowWithoutConnectionAndALostConnectionAsksAgain) {
    ConfigurerCompte(AvecRole, QStringLiteral("RAVELIN"));
    {
        Repondeur repondeur({[](TfrmConnexion& dlg) { dlg.btnAnnuler->click(); }});
        frm = std::make_unique<TfrmPrincipale>();
        EXPECT_EQ(repondeur.etapes, 1);
    }
    // As a failed connection at start, without a box: the user chose it.
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_FALSE(frm->dbSource->Connected());
    EXPECT_FALSE(frm->transSource->Active());
    EXPECT_TRUE(frm->close());
    frm.reset();

    // Connected, then the attachment is cut by the server: the next « Vérifier » asks for the
    // password again and lists.
    {
        Repondeur repondeur({[&](TfrmConnexion& dlg) { Saisir(dlg, motDePasse); },
                             [&](TfrmConnexion& dlg) { Saisir(dlg, motDePasse); }});
        frm = std::make_unique<TfrmPrincipale>();
        ASSERT_TRUE(frm->dbSource->Connected());
        const QString premiere = QString::number(frm->dbSource->AttachmentID());
        admin.Executer(QStringLiteral("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = ") +
                       premiere);
        Verifier();
        ASSERT_EQ(boxes.errors.size(), 1u);
        EXPECT_TRUE(frm->ConnexionPerdue());
        EXPECT_EQ(repondeur.etapes, 1);
        EXPECT_EQ(Verifier(), QStringList({M1, M2}));
        EXPECT_EQ(repondeur.etapes, 2);
        EXPECT_FALSE(frm->ConnexionPerdue());
        EXPECT_EQ(VuParLeServeur(AvecRole), QStringLiteral("RAVTEST_ROLE|RAVELIN|Srp"));
        EXPECT_EQ(boxes.errors.size(), 1u);
    }
}

TEST_F(Compte, AfterAnnulerAtTheStartABankLabelOrVerifierAsksForThePasswordAgain) {
    ConfigurerCompte(AvecRole, QStringLiteral("RAVELIN"));
    // A journal a kill left pending: the start's completion waits for the connection.
    const QString journal =
        CreerDossierJournaux() + QStringLiteral("/2026-01-01_000000_Modifier.csv");
    {
        QFile f(journal);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        TLigneCsv csv;
        csv.Commencer();
        for (const QString& champ : EnTeteJournal())
            csv.Valeur(champ);
        f.write(TLigneCsv::Bom() + csv.Terminer());
        csv.Commencer();
        for (const QString& champ :
             {S("2026-01-01T00:00:00+01:00"), S("Modifier"), S("EN_COURS"), QString(), M1, Client,
              S("RAVCOMPTE Anne"), S("RUM-1"), S("RUM-1"), S("FR7699999678901234567890123"),
              S("FR7612345678901234567890104"), S("ANCIFRPPXXX"), S("NOUVFRPPXXX"), BanqueAncienne,
              BanqueNouvelle, QString()})
            csv.Texte(champ);
        f.write(csv.Terminer());
    }
    const auto annuler = [](TfrmConnexion& dlg) { dlg.btnAnnuler->click(); };
    Repondeur repondeur(
        {annuler, annuler, annuler, annuler, [&](TfrmConnexion& dlg) { Saisir(dlg, motDePasse); }});
    frm = std::make_unique<TfrmPrincipale>();
    EXPECT_EQ(repondeur.etapes, 1);
    ASSERT_FALSE(frm->dbSource->Connected());
    frm->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frm.get()));

    // Each bank label and « Vérifier » ask again; cancelled once more, nothing else happens.
    QTest::mouseClick(frm->lblAncien_Info, Qt::LeftButton);
    EXPECT_EQ(repondeur.etapes, 2);
    QTest::mouseClick(frm->lblNouveau_Info, Qt::LeftButton);
    EXPECT_EQ(repondeur.etapes, 3);
    frm->btnVerifier->click();
    EXPECT_EQ(repondeur.etapes, 4);
    EXPECT_FALSE(frm->dbSource->Connected());
    EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
    EXPECT_TRUE(boxes.messages.empty()) << boxes.messages.front().text.toStdString();

    // The password given, « Vérifier » connects, settles the pending journal first, and lists.
    EXPECT_EQ(Verifier(), QStringList({M1, M2}));
    EXPECT_EQ(repondeur.etapes, 5);
    EXPECT_EQ(repondeur.enTrop, 0);
    EXPECT_TRUE(frm->transSource->Active());
    EXPECT_EQ(VuParLeServeur(AvecRole), QStringLiteral("RAVTEST_ROLE|RAVELIN|Srp"));
    QFile f(journal);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const std::vector<QStringList> lignes = LireCsv(f.readAll());
    TModeChangement mode{};
    TLigneJournal derniere;
    ASSERT_TRUE(LireLigneJournal(lignes.back(), mode, derniere));
    EXPECT_EQ(derniere.resultat, Resultat::Ecarte);
    EXPECT_EQ(derniere.motif, Motif::Interrompu);
    EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
    QFile::remove(journal);
}

TEST_F(Compte, WithoutTheRoleTheListingShowsTheServersRefusal) {
    ConfigurerCompte(SansRole);
    Repondeur repondeur({[&](TfrmConnexion& dlg) { Saisir(dlg, motDePasse); }});
    frm = std::make_unique<TfrmPrincipale>();
    ASSERT_TRUE(frm->dbSource->Connected());
    EXPECT_EQ(VuParLeServeur(SansRole), QStringLiteral("RAVTEST_SANS|NONE|Srp"));
    EXPECT_TRUE(Verifier().isEmpty());
    ASSERT_EQ(boxes.errors.size(), 1u);
    // Each of the server's messages on a line of its own, the SQL code's one included: run
    // together, they read "…on this object.No permission…".
    EXPECT_EQ(boxes.errors[0].text,
              QStringLiteral("frmPrincipale.idsBanque.SelectQuery:\r\n"
                             "This user does not have privilege to perform this operation on this "
                             "object.\r\n"
                             "No permission for SELECT access to TABLE BANQUE.\r\n"))
        << boxes.errors[0].text.toStdString();
    EXPECT_FALSE(frm->ConnexionPerdue());
    EXPECT_TRUE(frm->dbSource->Connected());
    EXPECT_EQ(admin.Mandats(), avant);
}

TEST_F(Compte, ARefusedWriteIsPassedOverAndNotTakenForALostConnection) {
    ConfigurerCompte(Lecteur);
    Repondeur repondeur({[&](TfrmConnexion& dlg) { Saisir(dlg, motDePasse); }});
    frm = std::make_unique<TfrmPrincipale>();
    ASSERT_TRUE(frm->dbSource->Connected());
    for (int mode : {0, 1}) {
        ASSERT_EQ(Verifier(), QStringList({M1, M2}));
        boxes.messages.clear();
        Changer(mode);
        // The confirmation, then the end-of-run box: the refusals under their own reason,
        // none taken for a lock.
        ASSERT_EQ(boxes.messages.size(), 2u) << mode;
        const QStringList boite = boxes.messages[1].text.split(QStringLiteral("\n"));
        ASSERT_EQ(boite.size(), 3) << boxes.messages[1].text.toStdString();
        EXPECT_EQ(boite[0],
                  S("2 mandats sur 2 n'ont pas pu être changés : ils restent dans la liste."));
        EXPECT_EQ(boite[1], S("refusés par le serveur : 2"));
        ASSERT_TRUE(boite[2].startsWith(S("Journal : ")));
        // The journal says why, in the server's words: in « Recréer » the deactivation is the
        // write refused.
        QFile fichier(boite[2].section(S("Journal : "), 1));
        ASSERT_TRUE(fichier.open(QIODevice::ReadOnly));
        const std::vector<QStringList> lignes = LireCsv(fichier.readAll());
        ASSERT_EQ(lignes.size(), 5u);
        for (size_t i = 1; i < lignes.size(); ++i) {
            const QStringList& l = lignes[i];
            EXPECT_EQ(l.value(2), i % 2 ? S("EN_COURS") : S("ECARTE"));
            if (i % 2) continue;
            EXPECT_EQ(l.value(3),
                      S("serveur: No permission for UPDATE access to TABLE CLIENTS_MANDAT."));
        }
        EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
        EXPECT_FALSE(frm->ConnexionPerdue());
        EXPECT_TRUE(frm->dbSource->Connected());
        EXPECT_EQ(admin.Mandats(), avant);
    }
    // What each mandate's write met: a refusal of the server, not a lock.
    Session lecteur(base, Lecteur, QString(), motDePasse);
    EXPECT_EQ(lecteur.Refus(RecreerDeactivateSQL(M1)),
              QStringLiteral("No permission for UPDATE access to TABLE CLIENTS_MANDAT."));
}

TEST_F(Compte, TheRoleGrantsExactlyWhatTheProgramUses) {
    EXPECT_EQ(admin.Lignes(QStringLiteral(
                  "SELECT TRIM(RDB$PRIVILEGE), TRIM(RDB$RELATION_NAME), "
                  "COALESCE(TRIM(RDB$FIELD_NAME), '') FROM RDB$USER_PRIVILEGES WHERE "
                  "RDB$USER = 'RAVELIN' ORDER BY 1, 2, 3")),
              QStringList({QStringLiteral("G|IDGENERIQUE|"), QStringLiteral("I|CLIENTS_MANDAT|"),
                           QStringLiteral("S|BANQUE|"), QStringLiteral("S|CLIENTS|"),
                           QStringLiteral("S|CLIENTS_MANDAT|"),
                           QStringLiteral("U|CLIENTS_MANDAT|CMAN_ACTIF"),
                           QStringLiteral("U|CLIENTS_MANDAT|CMAN_BIC"),
                           QStringLiteral("U|CLIENTS_MANDAT|CMAN_IBAN"),
                           QStringLiteral("U|CLIENTS_MANDAT|CMAN_IDBANQ")}));

    // What the server refuses the role, tried for real.
    admin.Executer(QStringLiteral("RECREATE TABLE RAVTEST_AUTRE (X INTEGER)"));
    Session role(base, AvecRole, QStringLiteral("RAVELIN"), motDePasse);
    auto refus = [&](const QString& sql) { return role.Refus(sql); };
    EXPECT_EQ(refus(QStringLiteral("DELETE FROM CLIENTS_MANDAT WHERE CMAN_ID = ") + M1),
              QStringLiteral("No permission for DELETE access to TABLE CLIENTS_MANDAT."));
    EXPECT_EQ(
        refus(QStringLiteral("UPDATE CLIENTS_MANDAT SET CMAN_MANDAT = 'X' WHERE CMAN_ID = ") + M1),
        QStringLiteral("No permission for UPDATE access to COLUMN "
                       "CLIENTS_MANDAT.CMAN_MANDAT."));
    EXPECT_EQ(
        refus(QStringLiteral("UPDATE BANQUE SET BANQ_BIC = 'X' WHERE BANQ_ID = ") + BanqueAncienne),
        QStringLiteral("No permission for UPDATE access to TABLE BANQUE."));
    EXPECT_EQ(refus(QStringLiteral("INSERT INTO CLIENTS (CLI_NOM) VALUES ('X')")),
              QStringLiteral("No permission for INSERT access to TABLE CLIENTS."));
    EXPECT_EQ(refus(QStringLiteral("SELECT X FROM RAVTEST_AUTRE")),
              QStringLiteral("No permission for SELECT access to TABLE RAVTEST_AUTRE."));
    EXPECT_TRUE(
        refus(QStringLiteral("ALTER TABLE CLIENTS_MANDAT ADD RAVTEST_X INTEGER"))
            .endsWith(QStringLiteral("No permission for ALTER access to TABLE CLIENTS_MANDAT.")));
    // And what it may do: the « Recréer » insert's generator.
    EXPECT_EQ(refus(QStringLiteral("SELECT NEXT VALUE FOR IDGENERIQUE FROM RDB$DATABASE")),
              QString());
    role.Fermer();
    admin.Executer(QStringLiteral("DROP TABLE RAVTEST_AUTRE"));
    EXPECT_EQ(admin.Mandats(), avant);
}

TEST(ConfigurationInutilisable, ShowsOneErrorBoxWithThePlaceAndDoesNotConnect) {
    const QString fichier = qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':').value(0) +
                            QStringLiteral("/ravelin/ravelin.conf");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(fichier).path()));
    {
        QFile f(fichier);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        // Everything else would work: the unknown key alone keeps the program off the server.
        f.write("[connexion]\nserveur=ailleurs:GESTION\n");
    }
    BoxRecorder boxes;
    Repondeur repondeur({});
    TfrmPrincipale frm;
    QFile::remove(fichier);
    EXPECT_EQ(repondeur.etapes, 0);
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_EQ(boxes.errors[0].text, fichier + S(", ligne 2 : clé inconnue « serveur »."));
    EXPECT_FALSE(frm.dbSource->Connected());
    EXPECT_FALSE(frm.transSource->Active());
}
