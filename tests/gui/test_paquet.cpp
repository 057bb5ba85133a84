// The packaged program, built without the development account: without a ravelin.conf naming an
// account it connects to nothing and says how the administrator configures the workstation.
#include "BoxRecorder.h"
#include "CompteIntegre.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "pFIBDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

TEST(SansCompteIntegre, WithoutAnAccountInTheFileOneBoxSaysHowToConfigureAndNothingConnects) {
    ASSERT_FALSE(CompteIntegreDisponible());
    EXPECT_TRUE(MotDePasseIntegre().isEmpty());
    const QString fichier =
        qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/ravelin/ravelin.conf");
    const QString suite =
        S("\r\nL'administrateur du poste crée /etc/xdg/ravelin/ravelin.conf (pour tous les "
          "utilisateurs) ou ~/.config/ravelin/ravelin.conf, groupe [connexion], avec au moins "
          "« base » et « utilisateur », comme le décrit la section « Install » du README de "
          "Ravelin. Aucune connexion n'est ouverte.");
    struct Cas {
        const char* nom;
        const char* contenu; // nullptr: no file
        QString texte;
    };
    for (const Cas& c :
         {Cas{"sans fichier", nullptr,
              S("Ce poste n'est pas configuré : aucun fichier ravelin.conf ne dit à quelle base "
                "se connecter ni avec quel compte.") +
                  suite},
          Cas{"fichier sans compte", "[connexion]\nbase=127.0.0.1:TALVIK_GESTION\n",
              S("Ce poste n'est pas configuré : ") + fichier +
                  S(" ne nomme pas de compte (« utilisateur »).") + suite}}) {
        SCOPED_TRACE(c.nom);
        QFile::remove(fichier);
        if (c.contenu) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(fichier).path()));
            QFile f(fichier);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.contenu);
        }
        BoxRecorder boxes;
        TfrmPrincipale frm;
        EXPECT_FALSE(frm.dbSource->Connected());
        ASSERT_EQ(boxes.errors.size(), 1u);
        EXPECT_EQ(boxes.errors[0].text.toStdString(), c.texte.toStdString());
    }
    QFile::remove(fichier);
}
