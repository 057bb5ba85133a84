// The workstation's ravelin.conf: where it is looked for, what it sets, and how each line it
// cannot use is reported.
#include "Configuration.h"
#include "TestSupport.h"
#include "fib.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// XDG_CONFIG_HOME and XDG_CONFIG_DIRS in folders of the test's own, restored afterwards.
class Dossiers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(racine.isValid());
        FAncienHome = qgetenv("XDG_CONFIG_HOME");
        FAncienDirs = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_HOME", Chemin("home").toLocal8Bit());
        qputenv("XDG_CONFIG_DIRS", (Chemin("systeme1") + u':' + Chemin("systeme2")).toLocal8Bit());
    }
    void TearDown() override {
        qputenv("XDG_CONFIG_HOME", FAncienHome);
        qputenv("XDG_CONFIG_DIRS", FAncienDirs);
    }
    QString Chemin(const char* dossier) const {
        return racine.path() + u'/' + QLatin1String(dossier);
    }
    // Writes DOSSIER/ravelin/ravelin.conf and returns its path.
    QString Ecrire(const char* dossier, const char* texte) {
        const QString d = Chemin(dossier) + QStringLiteral("/ravelin");
        EXPECT_TRUE(QDir().mkpath(d));
        const QString fichier = d + QStringLiteral("/ravelin.conf");
        QFile f(fichier);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(texte);
        return fichier;
    }

    QTemporaryDir racine;

private:
    QByteArray FAncienHome;
    QByteArray FAncienDirs;
};

} // namespace

TEST_F(Dossiers, TheUsersFileComesFirstThenTheFirstSystemFolderThenNone) {
    EXPECT_TRUE(FichierConfiguration().isEmpty());
    const TConfiguration rien = LireConfiguration();
    EXPECT_TRUE(rien.Utilisable());
    EXPECT_TRUE(rien.Fichier.isEmpty());
    EXPECT_EQ(rien.Connexion.Base, QStringLiteral("127.0.0.1:TALVIK_GESTION"));
    EXPECT_EQ(rien.Connexion.Bibliotheque, QStringLiteral("fbClient.dll"));
    EXPECT_FALSE(rien.Connexion.CompteSaisi());

    const QString second = Ecrire("systeme2", "[connexion]\nbase=deux:B\n");
    EXPECT_EQ(FichierConfiguration(), second);
    const QString premier = Ecrire("systeme1", "[connexion]\nbase=un:B\n");
    EXPECT_EQ(FichierConfiguration(), premier);
    const QString utilisateur = Ecrire("home", "[connexion]\nbase = serveur/3051:/bases/g.fdb\n");
    EXPECT_EQ(FichierConfiguration(), utilisateur);
    const TConfiguration c = LireConfiguration();
    EXPECT_TRUE(c.Utilisable()) << c.TexteErreurs().toStdString();
    EXPECT_EQ(c.Fichier, utilisateur);
    EXPECT_EQ(c.Connexion.Base, QStringLiteral("serveur/3051:/bases/g.fdb"));
    // The keys the file leaves out keep the program's values.
    EXPECT_FALSE(c.Connexion.CompteSaisi());
    EXPECT_EQ(c.Connexion.Bibliotheque, QStringLiteral("fbClient.dll"));
}

TEST_F(Dossiers, EveryKeyIsReadAndTheRoleIsAnIdentifierInCapitals) {
    const TConfiguration c = LireConfiguration(Ecrire("home", "; the organisation's server\n"
                                                              "[connexion]\n"
                                                              "base=gestion.example/3050:GESTION\n"
                                                              "utilisateur=jdupont\n"
                                                              "role=ravelin\n"
                                                              "bibliotheque=libfbclient.so.2\n"));
    EXPECT_TRUE(c.Utilisable()) << c.TexteErreurs().toStdString();
    EXPECT_EQ(c.Connexion.Base, QStringLiteral("gestion.example/3050:GESTION"));
    EXPECT_EQ(c.Connexion.Utilisateur, QStringLiteral("jdupont"));
    EXPECT_EQ(c.Connexion.Role, QStringLiteral("RAVELIN"));
    EXPECT_EQ(c.Connexion.Bibliotheque, QStringLiteral("libfbclient.so.2"));
}

TEST_F(Dossiers, EachUnusableLineIsReportedWithThePathAndItsLine) {
    const QString f = Ecrire("home", "[connexion]\n"          // 1
                                     "base=\n"                // 2
                                     "serveur=autre:BASE\n"   // 3
                                     "role=RAVELIN-LECTURE\n" // 4
                                     "utilisateur=\n"         // 5
                                     "\n"                     // 6
                                     "n'importe quoi\n"       // 7
                                     "bibliotheque=   \n"     // 8
                                     "[autre]\n"              // 9
                                     "base=ailleurs:B\n");    // 10
    const TConfiguration c = LireConfiguration(f);
    const QString l = f + QStringLiteral(", ligne ");
    const QString nomDeRole = S(" n'est pas un nom de rôle (une lettre, puis des lettres, des "
                                "chiffres, _ ou $, 31 caractères au plus)");
    EXPECT_EQ(c.Erreurs.join(u'\n').toStdString(),
              QStringList({l + S("2 : « base » est vide"), l + S("3 : clé inconnue « serveur »"),
                           l + S("4 : « role » : « RAVELIN-LECTURE »") + nomDeRole,
                           l + S("5 : « utilisateur » est vide"),
                           l + S("7 : ligne illisible (ni « [groupe] » ni « clé = valeur »)"),
                           l + S("8 : « bibliotheque » est vide"),
                           l + S("10 : clé « base » dans le groupe inconnu [autre]")})
                  .join(u'\n')
                  .toStdString());
    EXPECT_FALSE(c.Utilisable());
    EXPECT_EQ(c.TexteErreurs(), c.Erreurs.join(QStringLiteral("\r\n")));

    const QString hors = Ecrire("home", "base=x:Y\n[connexion]\nutilisateur="
                                        "abcdefghijabcdefghijabcdefghij12\n"
                                        "role=\"Ravelin lecture\"\n"
                                        "bibliotheque=\xc5\x81odz.so\n");
    EXPECT_EQ(LireConfiguration(hors).Erreurs.join(u'\n').toStdString(),
              QStringList({hors + S(", ligne 1 : clé « base » hors du groupe [connexion]"),
                           hors + S(", ligne 3 : « utilisateur » a plus de 31 caractères"),
                           hors + S(", ligne 4 : « role » : « Ravelin lecture »") + nomDeRole,
                           hors + S(", ligne 5 : « bibliotheque » contient un caractère que la "
                                    "connexion ne peut pas transmettre")})
                  .join(u'\n')
                  .toStdString());

    // Of two lines of one key QSettings would keep the last without a word.
    const QString double_ = Ecrire("home", "[connexion]\nrole=A\nrole=B\n");
    EXPECT_EQ(LireConfiguration(double_).Erreurs,
              QStringList{double_ + S(", ligne 3 : « role » déjà donnée ligne 2")});

    // A file the program may not read is reported, not taken for an absent one (root reads
    // every file, and then there is nothing to see).
    QFile::setPermissions(hors, QFileDevice::Permissions());
    if (!QFile(hors).open(QIODevice::ReadOnly)) {
        const TConfiguration illisible = LireConfiguration(hors);
        ASSERT_EQ(illisible.Erreurs.size(), 1);
        EXPECT_TRUE(illisible.Erreurs[0].startsWith(hors + S(" : fichier illisible (")))
            << illisible.Erreurs[0].toStdString();
    }
}

TEST(ParametresProgramme, AnAccountSendsItsNameRoleAndPasswordAndSysdbaStaysAsItWas) {
    TStringList lignes;
    lignes.SetStringList(ProgramConnectParams(TConnexionProgramme(), QStringLiteral("pw")));
    EXPECT_EQ(lignes.ToStringList(),
              QStringList({QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=ISO8859_1"),
                           QStringLiteral("password=pw")}));

    TConnexionProgramme compte;
    compte.Utilisateur = QStringLiteral("jdupont");
    compte.Role = QStringLiteral("RAVELIN");
    lignes.SetStringList(ProgramConnectParams(compte, QStringLiteral("s3cr")));
    EXPECT_EQ(GenerateDPB(lignes, true),
              QByteArray("\x01\x1c\x07jdupont\x30\x09ISO8859_1\x3c\x07RAVELIN\x1d\x04s3cr"));
    compte.Role.clear();
    lignes.SetStringList(ProgramConnectParams(compte, QStringLiteral("s3cr")));
    EXPECT_EQ(GenerateDPB(lignes, true),
              QByteArray("\x01\x1c\x07jdupont\x30\x09ISO8859_1\x1d\x04s3cr"));
    // A role without an account is SYSDBA's.
    TConnexionProgramme role;
    role.Role = QStringLiteral("RAVELIN");
    lignes.SetStringList(ProgramConnectParams(role, QStringLiteral("pw")));
    EXPECT_EQ(GenerateDPB(lignes, true),
              QByteArray("\x01\x1c\x06SYSDBA\x30\x09ISO8859_1\x3c\x07RAVELIN\x1d\x02pw"));
}

TEST_F(Dossiers, AConfiguredConnectionAsksForEncryptionSrpAndATimeout) {
    struct Cas {
        const char* fichier;
        QString wireCrypt;
        int delai;
    };
    for (const Cas& c : {Cas{"", S("Required"), 15},
                         Cas{"chiffrement=requis\ndelai_connexion=1\n", S("Required"), 1},
                         Cas{"chiffrement = actif\n", S("Enabled"), 15},
                         Cas{"chiffrement=desactive\ndelai_connexion=255\n", S("Disabled"), 255}}) {
        SCOPED_TRACE(c.fichier);
        const TConfiguration conf = LireConfiguration(Ecrire(
            "home", (QByteArray("[connexion]\nutilisateur=jdupont\n") + c.fichier).constData()));
        ASSERT_TRUE(conf.Utilisable()) << conf.TexteErreurs().toStdString();
        EXPECT_EQ(ProgramConnectParams(conf.Connexion, S("pw")),
                  QStringList({S("user_name=jdupont"), S("lc_ctype=ISO8859_1"), S("password=pw"),
                               S("connect_timeout=%1").arg(c.delai),
                               S("config=WireCrypt = ") + c.wireCrypt,
                               S("config=AuthClient = Srp256, Srp")}));
    }
    const QString f = Ecrire("home", "[connexion]\n"
                                     "chiffrement=oui\n"          // 2
                                     "delai_connexion=0\n"        // 3
                                     "base=serveur:BASE ; note\n" // 4
                                     "utilisateur=\"jdupont\" ; le compte\n"
                                     "role=RAVELIN;\n"); // 6
    const QString l = f + S(", ligne ");
    const QString pointVirgule = S(" : un « ; » hors de guillemets commence un commentaire, la "
                                   "suite de la ligne serait ignorée (écrire la valeur entre "
                                   "guillemets, un commentaire sur une ligne à lui)");
    EXPECT_EQ(
        LireConfiguration(f).Erreurs.join(u'\n').toStdString(),
        QStringList({l + S("2 : « chiffrement » : « oui » n'est pas une valeur possible "
                           "(requis, actif ou desactive)"),
                     l + S("3 : « delai_connexion » : « 0 » n'est pas un nombre entier de "
                           "secondes de 1 à 255"),
                     l + S("4 : « base »") + pointVirgule, l + S("6 : « role »") + pointVirgule})
            .join(u'\n')
            .toStdString());
    for (const char* delai : {"256", "1.5", "-3", "15s"})
        EXPECT_FALSE(
            LireConfiguration(
                Ecrire("home",
                       (QByteArray("[connexion]\ndelai_connexion=") + delai + "\n").constData()))
                .Utilisable())
            << delai;
}

// QSettings ends a line at a lone carriage return as well as at a line feed; the checks of the
// file must see the same lines, or a key hidden behind a carriage return escapes them.
TEST_F(Dossiers, ALineEndingInACarriageReturnIsCheckedAsAnyOther) {
    // The second "base" stands on the line of "utilisateur" for a reader that splits at line
    // feeds only; QSettings keeps it, and it wins over the first.
    const QString double_ =
        Ecrire("home", "[connexion]\nbase=prevu:BASE\nutilisateur=JDUPONT\rbase=autre:BASE\n");
    const TConfiguration c = LireConfiguration(double_);
    EXPECT_FALSE(c.Utilisable()) << c.Connexion.Base.toStdString();
    EXPECT_EQ(c.TexteErreurs().toStdString(),
              (double_ + S(", ligne 4 : « base » déjà donnée ligne 2")).toStdString());

    const QString inconnue = Ecrire("home", "[connexion]\r\nutilisateur=JDUPONT\rserveur=x\r\n");
    EXPECT_EQ(LireConfiguration(inconnue).TexteErreurs().toStdString(),
              (inconnue + S(", ligne 3 : clé inconnue « serveur »")).toStdString());

    // Lines that end in a carriage return and a line feed are counted once.
    const QString windows = Ecrire("home", "[connexion]\r\n\r\nrole=A\r\nrole=B\r\n");
    EXPECT_EQ(LireConfiguration(windows).TexteErreurs().toStdString(),
              (windows + S(", ligne 4 : « role » déjà donnée ligne 3")).toStdString());
}

// QSettings reads backslashes as escapes ("\F" is dropped, "\t" becomes a tab), takes a value
// with commas for a list (and loses the blanks after them) and drops quotes inside a value. A
// Windows server's path or a folder named with a comma must never be taken to name another
// database than the one written: the line is used as written or reported.
TEST_F(Dossiers, AValueIsNeverTakenOtherwiseThanItIsWritten) {
    for (const char* base : {"serveur:D:\\Firebird\\TALVIK.FDB", "serveur:C:\\bases\\talvik.fdb",
                             "serveur:/bases/Dupont, Martin.fdb", "serveur:/bases/\"a\" b.fdb"}) {
        SCOPED_TRACE(base);
        const QString f =
            Ecrire("home", (QByteArray("[connexion]\nbase=") + base + "\n").constData());
        const TConfiguration c = LireConfiguration(f);
        if (c.Utilisable()) {
            EXPECT_EQ(c.Connexion.Base.toStdString(), std::string(base));
        } else {
            ASSERT_EQ(c.Erreurs.size(), 1);
            EXPECT_TRUE(c.Erreurs[0].startsWith(f + S(", ligne 2 : ")))
                << c.TexteErreurs().toStdString();
        }
    }
    // Written in quotes with its backslashes doubled, each of them reads as it should.
    const TConfiguration guillemets = LireConfiguration(Ecrire(
        "home", "[connexion]\nbase=\"serveur:D:\\\\Firebird\\\\Dupont, Martin.FDB\" ; note\n"));
    EXPECT_TRUE(guillemets.Utilisable()) << guillemets.TexteErreurs().toStdString();
    EXPECT_EQ(guillemets.Connexion.Base, S("serveur:D:\\Firebird\\Dupont, Martin.FDB"));
    const TConfiguration double_ = LireConfiguration(
        Ecrire("home", "[connexion]\nbase=serveur:D:\\\\Firebird\\\\TALVIK.FDB\n"));
    EXPECT_TRUE(double_.Utilisable()) << double_.TexteErreurs().toStdString();
    EXPECT_EQ(double_.Connexion.Base, S("serveur:D:\\Firebird\\TALVIK.FDB"));
}
