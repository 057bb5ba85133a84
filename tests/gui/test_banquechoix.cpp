// The bank chooser on the demo database: what each search lists, what a confirmed row hands
// back, how the dialog closes and commits, and the bank choice it gives the main window's labels.
#include "BoxRecorder.h"
#include "Controls.h"
#include "DBGrid.h"
#include "Programme.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"
#include "pFIBQuery.h"
#include "ufrmBanqueChoix.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

struct Banque {
    qint64 id = 0;
    QString nom, bic, code, debut, fin, pays;
};

// Beyond the 32-bit range: read as a 32-bit integer it would be 5, another demo bank's identifier.
constexpr qint64 IdLointain = 4294967301LL;
const QString NomLointain = S("CAISSE D'ARMOR DU LARGE");

// Reads and writes of the test itself, in transactions of its own on the window's connection.
class Base {
public:
    explicit Base(TFIBDatabase* db) {
        ConfigureProgramWriteTransaction(tr, db);
        q.SetDatabase(db);
        q.SetTransaction(&tr);
    }
    void Exec(const QString& sql) {
        tr.StartTransaction();
        q.SQL().SetText(sql);
        q.ExecQuery();
        tr.Commit();
    }
    std::vector<Banque> Banques() {
        tr.StartTransaction();
        q.SQL().SetText(S("SELECT BANQ_ID, BANQ_SOCIETE, BANQ_BIC, BANQ_BANQUE, BANQ_BE_DEBUT, "
                          "BANQ_BE_FIN, BANQ_CODE_PAYS FROM BANQUE"));
        q.ExecQuery();
        std::vector<Banque> banques;
        for (; !q.Eof(); q.Next())
            banques.push_back({q.Fields(0)->AsInt64(), q.Fields(1)->AsString(),
                               q.Fields(2)->AsString(), q.Fields(3)->AsString(),
                               q.Fields(4)->AsString(), q.Fields(5)->AsString(),
                               q.Fields(6)->AsString()});
        q.Close();
        tr.Commit();
        return banques;
    }
    qint64 Compte(const QString& sql) {
        tr.StartTransaction();
        q.SQL().SetText(sql);
        q.ExecQuery();
        const qint64 n = q.Fields(0)->AsInt64();
        q.Close();
        tr.Commit();
        return n;
    }

    TpFIBTransaction tr;
    TpFIBQuery q;
};

// What the search should list, worked out here from the rows themselves: the trimmed text
// inside any of the name, BIC and codes, or its first three characters inside a code range.
std::vector<QString> Attendus(std::vector<Banque> banques, const QString& recherche,
                              qint64 exclu = -1) {
    const QString s = recherche.trimmed();
    const QString p = s.left(3);
    std::vector<QString> noms;
    for (const Banque& b : banques) {
        if (b.id == exclu) continue;
        const bool dansPlage = !b.debut.isEmpty() && !b.fin.isEmpty() && b.debut <= p && p <= b.fin;
        if (s.isEmpty() || b.nom.contains(s) || b.bic.contains(s) || b.code.contains(s) ||
            b.debut.contains(s) || b.fin.contains(s) || dansPlage)
            noms.push_back(b.nom);
    }
    // ISO 8859-1 sorts by byte, which is the order of the UTF-16 code units of those texts.
    std::sort(noms.begin(), noms.end());
    return noms;
}

std::vector<QString> Listes(TfrmBanqueChoix& dlg) {
    std::vector<QString> noms;
    TpFIBDataSet* ids = dlg.idsListe;
    for (ids->First(); !ids->Eof(); ids->Next())
        noms.push_back(ids->FieldByName(S("BANQ_SOCIETE"))->AsString());
    ids->First();
    return noms;
}

QPoint Ligne(const TDBGrid* grid, int row) {
    return QPoint(TDBGrid::IndicatorWidth + 40, grid->TitleHeight() + 1 +
                                                    row * (grid->DefaultRowHeight() + 1) +
                                                    grid->DefaultRowHeight() / 2);
}

void Rechercher(TfrmBanqueChoix& dlg, const QString& texte) {
    dlg.edtRecherche->clear();
    QTest::keyClicks(dlg.edtRecherche, texte);
    QTest::keyClick(dlg.edtRecherche, Qt::Key_Return);
}

class Chooser : public ::testing::Test {
protected:
    BoxRecorder boxes;
    TfrmPrincipale frm;
    Base base{frm.dbSource};
    std::vector<Banque> banques;

    void SetUp() override {
        ASSERT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
        base.Exec(S("DELETE FROM BANQUE WHERE BANQ_ID = ") + IntToStr(IdLointain));
        base.Exec(S("INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, BANQ_BIC, BANQ_BANQUE, "
                    "BANQ_CODE_PAYS) VALUES (") +
                  IntToStr(IdLointain) + S(", ") + QuotedSQL(NomLointain) +
                  S(", 'CDALFR2B', '16199', 'FR')"));
        banques = base.Banques();
        ASSERT_GT(banques.size(), 30u);
    }
    void TearDown() override {
        base.Exec(S("DELETE FROM BANQUE WHERE BANQ_ID = ") + IntToStr(IdLointain));
    }
    qint64 IdDe(const QString& nom) const {
        for (const Banque& b : banques)
            if (b.nom == nom) return b.id;
        return 0;
    }

    // Clicks a bank label; the chooser it opens is handed to the action, which must close it.
    // Returns the chooser's result.
    int Choisir(TClickLabel* label, std::function<void(TfrmBanqueChoix&)> action) {
        int result = -1;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<TfrmBanqueChoix*>(QApplication::activeModalWidget());
            if (!dlg) return;
            QObject::connect(dlg, &QDialog::finished, [&](int r) { result = r; });
            action(*dlg);
            if (dlg->isVisible()) dlg->done(-5); // a stuck dialog fails the test, not the run
        });
        QTest::mouseClick(label, Qt::LeftButton);
        return result;
    }
};

} // namespace

TEST_F(Chooser, SearchesListWhatTheTextMatchesOrderedByName) {
    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    ASSERT_TRUE(dlg.DataInitialisation(-1, true, false));
    dlg.show();
    EXPECT_TRUE(dlg.transListe->Active());

    // No text: every bank, no parameter, the three lines the server is sent.
    EXPECT_EQ(Listes(dlg), Attendus(banques, QString()));
    EXPECT_EQ(dlg.idsListe->ParamCount(), 0);
    EXPECT_EQ(dlg.idsListe->SelectSQL().Count(), 2);

    // Typed letters go in upper case; an apostrophe is doubled in the statement.
    QTest::keyClicks(dlg.edtRecherche, S("d'armor"));
    EXPECT_EQ(dlg.edtRecherche->text(), S("D'ARMOR"));
    QTest::keyClick(dlg.edtRecherche, Qt::Key_Return);
    EXPECT_EQ(Listes(dlg), (std::vector<QString>{NomLointain, S("CRÉDIT D'ARMOR")}));
    EXPECT_EQ(dlg.idsListe->SelectSQL().Count(), 3);
    EXPECT_TRUE(dlg.idsListe->SelectSQL().Text().contains(S("LIKE '%D''ARMOR%'")));
    EXPECT_EQ(dlg.idsListe->Params()->Vars(0)->AsString(), S("D'A"));

    // One and two characters are the parameter as they stand; longer texts give their first
    // three, so "18708" lies in the range 10807-18707 through "187" alone.
    for (const char* texte : {"1", " 12 ", "SOGE", "300", "18708", "CCBP", "ZZQX"}) {
        SCOPED_TRACE(texte);
        Rechercher(dlg, S(texte));
        EXPECT_EQ(Listes(dlg), Attendus(banques, S(texte)));
        EXPECT_EQ(dlg.idsListe->Params()->Vars(0)->AsString(), S(texte).trimmed().left(3));
    }
    Rechercher(dlg, S("18708"));
    const std::vector<QString> plage = Listes(dlg);
    EXPECT_NE(std::find(plage.begin(), plage.end(), S("BANQUE POPULAIRE (RÉSEAU RÉGIONAL)")),
              plage.end());

    // The picture searches too, and clearing the text lists everything again.
    dlg.edtRecherche->clear();
    QTest::mouseClick(dlg.btnGo, Qt::LeftButton);
    EXPECT_EQ(Listes(dlg), Attendus(banques, QString()));
    EXPECT_TRUE(dlg.isVisible()); // Enter never confirms a row
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(Chooser, EveryBankIsFoundByItsNameTypedInAnyCase) {
    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    ASSERT_TRUE(dlg.DataInitialisation(-1, true, false));
    dlg.show();
    // The box turns letters to capitals and LIKE tells cases apart: a bank directory writes its
    // names in capitals, so typing a name the way one speaks it finds it.
    // Typed in full, as a user types a name; accented letters go through the box's own rule.
    auto saisir = [&](const QString& texte) {
        dlg.edtRecherche->clear();
        dlg.edtRecherche->insert(texte);
        QTest::keyClick(dlg.edtRecherche, Qt::Key_Return);
    };
    Rechercher(dlg, S("palatine"));
    EXPECT_EQ(Listes(dlg), std::vector<QString>{S("BANQUE PALATINE")});
    for (const Banque& b : banques) {
        SCOPED_TRACE(b.nom.toStdString());
        saisir(b.nom.toLower());
        EXPECT_EQ(dlg.edtRecherche->text(), b.nom);
        const std::vector<QString> liste = Listes(dlg);
        EXPECT_NE(std::find(liste.begin(), liste.end(), b.nom), liste.end());
    }
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(Chooser, TheExcludedBankStaysOutAndTheIdentifierIsReadWhole) {
    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    dlg.DataInitialisation(IdLointain, true, false);
    dlg.show();
    EXPECT_EQ(Listes(dlg), Attendus(banques, QString(), IdLointain));
    Rechercher(dlg, S("CIC"));
    EXPECT_EQ(Listes(dlg), Attendus(banques, S("CIC"), IdLointain));

    TfrmBanqueChoix autre(nullptr, frm.dbSource);
    autre.DataInitialisation(-1, true, false);
    autre.show();
    Rechercher(autre, S("D'ARMOR"));
    QTest::mouseClick(autre.btnOK, Qt::LeftButton);
    EXPECT_EQ(autre.result(), TfrmBanqueChoix::mrOk);
    EXPECT_EQ(autre.iCodeChoisi, IdLointain);
    EXPECT_EQ(autre.sNomChoisi, NomLointain);
    EXPECT_EQ(autre.sCodeBanqueChoisi, S("16199"));
    EXPECT_EQ(autre.sCodeDebutChoisi, QString());
    EXPECT_EQ(autre.sPaysChoisi, S("FR"));
    dlg.done(TfrmBanqueChoix::mrCancel);
}

TEST_F(Chooser, OkAndDoubleClickOnAnEmptyListDoNothing) {
    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    dlg.DataInitialisation(-1, true, false);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    Rechercher(dlg, S("ZZQX"));
    ASSERT_TRUE(dlg.idsListe->IsEmpty());
    QTest::mouseClick(dlg.btnOK, Qt::LeftButton);
    QTest::mouseDClick(dlg.dgrListe->viewport(), Qt::LeftButton, {}, Ligne(dlg.dgrListe, 0));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(dlg.iCodeChoisi, -1);
    EXPECT_TRUE(dlg.transListe->Active());

    // A double-click on a row is an OK on that row.
    Rechercher(dlg, S("FR2B"));
    const std::vector<QString> noms = Listes(dlg);
    ASSERT_GE(noms.size(), 3u);
    QTest::mouseDClick(dlg.dgrListe->viewport(), Qt::LeftButton, {}, Ligne(dlg.dgrListe, 2));
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), TfrmBanqueChoix::mrOk);
    EXPECT_EQ(dlg.sNomChoisi, noms[2]);
    EXPECT_EQ(dlg.iCodeChoisi, IdDe(noms[2]));
    EXPECT_FALSE(dlg.idsListe->Active());
    EXPECT_FALSE(dlg.idsListe->Prepared());
    EXPECT_FALSE(dlg.transListe->Active());
    EXPECT_TRUE(boxes.errors.empty());
}

// A double-click is an OK on the row it lands on: below the last row it lands on none, and the
// bank the list happens to stand on is not the user's choice.
TEST_F(Chooser, ADoubleClickBelowTheRowsChoosesNothing) {
    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    dlg.DataInitialisation(-1, true, false);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    Rechercher(dlg, S("FR2B"));
    const std::vector<QString> noms = Listes(dlg);
    ASSERT_GE(noms.size(), 2u);
    const int rangees = int(noms.size());
    ASSERT_LT(Ligne(dlg.dgrListe, rangees + 2).y(), dlg.dgrListe->viewport()->height());
    QTest::mouseClick(dlg.dgrListe->viewport(), Qt::LeftButton, {}, Ligne(dlg.dgrListe, 1));
    QTest::mouseDClick(dlg.dgrListe->viewport(), Qt::LeftButton, {},
                       Ligne(dlg.dgrListe, rangees + 2));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(dlg.iCodeChoisi, -1);
    EXPECT_TRUE(dlg.sNomChoisi.isEmpty());
    // On a row it still chooses that row.
    QTest::mouseDClick(dlg.dgrListe->viewport(), Qt::LeftButton, {}, Ligne(dlg.dgrListe, 1));
    EXPECT_EQ(dlg.result(), TfrmBanqueChoix::mrOk);
    EXPECT_EQ(dlg.sNomChoisi, noms[1]);
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(Chooser, EscapeAndAnnulerCancelAndLeaveTheWindowAsItWas) {
    const QString avant = frm.lblAncien_Info->text();
    const int parEchap = Choisir(frm.lblAncien_Info, [](TfrmBanqueChoix& dlg) {
        dlg.dgrListe->setFocus();
        QTest::keyClick(dlg.dgrListe, Qt::Key_Down);
        QTest::keyClick(dlg.dgrListe, Qt::Key_Escape);
    });
    EXPECT_EQ(parEchap, TfrmBanqueChoix::mrCancel);
    int code = 0;
    const int parAnnuler = Choisir(frm.lblNouveau_Info, [&](TfrmBanqueChoix& dlg) {
        QTest::keyClick(dlg.dgrListe, Qt::Key_Down);
        QTest::mouseClick(dlg.btnAnnuler, Qt::LeftButton);
        code = int(dlg.iCodeChoisi);
    });
    EXPECT_EQ(parAnnuler, TfrmBanqueChoix::mrCancel);
    EXPECT_EQ(code, -1);
    EXPECT_EQ(frm.lblAncien_Info->text(), avant);
    EXPECT_EQ(frm.lblNouveau_Info->text(), avant);
    EXPECT_EQ(frm.Ancien_ID, 0);
    EXPECT_EQ(frm.Nouveau_ID, 0);
    EXPECT_TRUE(frm.Ancien_Nom.isEmpty() && frm.Ancien_Code.isEmpty() && frm.Ancien_BIC.isEmpty());
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(Chooser, AChosenBankFillsTheFieldsAndTheLabel) {
    auto premiere = [](const char* recherche) {
        return [recherche](TfrmBanqueChoix& dlg) {
            Rechercher(dlg, S(recherche));
            QTest::mouseClick(dlg.btnOK, Qt::LeftButton);
        };
    };
    EXPECT_EQ(Choisir(frm.lblAncien_Info, premiere("SOGEFRPP")), TfrmBanqueChoix::mrOk);
    EXPECT_EQ(frm.lblAncien_Info->text(), S("SOCIÉTÉ GÉNÉRALE (30003/SOGEFRPP)"));
    EXPECT_EQ(frm.Ancien_ID, IdDe(S("SOCIÉTÉ GÉNÉRALE")));
    EXPECT_EQ(frm.Ancien_Code, S("30003"));
    EXPECT_EQ(frm.Ancien_BIC, S("SOGEFRPP"));
    EXPECT_EQ(frm.Ancien_Nom, S("SOCIÉTÉ GÉNÉRALE"));

    // A network has no bank code: the grid shows its range, the label nothing before the slash.
    EXPECT_EQ(Choisir(frm.lblNouveau_Info,
                      [](TfrmBanqueChoix& dlg) {
                          Rechercher(dlg, S("AGRIFRPP"));
                          EXPECT_EQ(dlg.dgrListe->CellText(0, 1), S("11006-19906"));
                          QTest::mouseClick(dlg.btnOK, Qt::LeftButton);
                          EXPECT_EQ(dlg.sCodeDebutChoisi, S("11006"));
                          EXPECT_EQ(dlg.sCodeFinChoisi, S("19906"));
                      }),
              TfrmBanqueChoix::mrOk);
    EXPECT_EQ(frm.lblNouveau_Info->text(), S("CRÉDIT AGRICOLE (CAISSES RÉGIONALES) (/AGRIFRPP)"));
    EXPECT_TRUE(frm.Nouveau_Code.isEmpty());
    EXPECT_EQ(frm.Nouveau_ID, IdDe(S("CRÉDIT AGRICOLE (CAISSES RÉGIONALES)")));

    // A foreign bank has neither code nor range: an empty code column.
    EXPECT_EQ(Choisir(frm.lblNouveau_Info,
                      [](TfrmBanqueChoix& dlg) {
                          Rechercher(dlg, S("KREDBEBB"));
                          EXPECT_EQ(dlg.dgrListe->CellText(0, 1), QString());
                          EXPECT_EQ(dlg.dgrListe->CellText(0, 3), S("BE"));
                          QTest::mouseClick(dlg.btnOK, Qt::LeftButton);
                      }),
              TfrmBanqueChoix::mrOk);
    EXPECT_EQ(frm.lblNouveau_Info->text(), S("KBC BANK (/KREDBEBB)"));

    // The identifier past 32 bits reaches the window whole.
    EXPECT_EQ(Choisir(frm.lblAncien_Info, premiere("D'ARMOR")), TfrmBanqueChoix::mrOk);
    EXPECT_EQ(frm.Ancien_ID, IdLointain);
    EXPECT_EQ(frm.lblAncien_Info->text(), NomLointain + S(" (16199/CDALFR2B)"));

    // The same bank may be picked on both sides; the next choice replaces the previous one.
    EXPECT_EQ(Choisir(frm.lblNouveau_Info, premiere("D'ARMOR")), TfrmBanqueChoix::mrOk);
    EXPECT_EQ(frm.Nouveau_ID, IdLointain);
    EXPECT_EQ(frm.Nouveau_BIC, S("CDALFR2B"));
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(Chooser, ClosingCommitsTheListTransaction) {
    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    dlg.DataInitialisation(-1, true, false);
    dlg.show();
    // A write in transListe is seen by others only once the dialog has closed.
    TpFIBQuery q;
    q.SetDatabase(frm.dbSource);
    q.SetTransaction(dlg.transListe);
    q.SQL().SetText(S("UPDATE BANQUE SET BANQ_BIC = 'CDALFR2X' WHERE BANQ_ID = ") +
                    IntToStr(IdLointain));
    q.ExecQuery();
    const QString bic = S("SELECT COUNT(*) FROM BANQUE WHERE BANQ_BIC = 'CDALFR2X'");
    EXPECT_EQ(base.Compte(bic), 0);
    QTest::keyClick(dlg.edtRecherche, Qt::Key_Escape);
    EXPECT_EQ(dlg.result(), TfrmBanqueChoix::mrCancel);
    EXPECT_FALSE(dlg.transListe->Active());
    EXPECT_EQ(base.Compte(bic), 1);
}

// A commit the server refuses: a database trigger fails every commit of a transaction that set a
// mark, which the test sets in transListe.
TEST_F(Chooser, ARefusedCommitKeepsTheDialogOpen) {
    struct Nettoyage {
        Base& base;
        ~Nettoyage() {
            base.Exec(S("DROP TRIGGER RAVELIN_ESSAI_COMMIT"));
            base.Exec(S("DROP EXCEPTION RAVELIN_ESSAI_REFUS"));
        }
    };
    base.Exec(S("CREATE OR ALTER EXCEPTION RAVELIN_ESSAI_REFUS 'fermeture refusée'"));
    Nettoyage nettoyage{base};
    base.Exec(S("CREATE OR ALTER TRIGGER RAVELIN_ESSAI_COMMIT ON TRANSACTION COMMIT AS BEGIN "
                "IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'REFUS') = '1') THEN "
                "EXCEPTION RAVELIN_ESSAI_REFUS; END"));
    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    dlg.DataInitialisation(-1, true, false);
    dlg.show();
    TpFIBQuery q;
    q.SetDatabase(frm.dbSource);
    q.SetTransaction(dlg.transListe);
    q.SQL().SetText(S("SELECT RDB$SET_CONTEXT('USER_TRANSACTION', 'REFUS', '1') FROM "
                      "RDB$DATABASE"));
    q.ExecQuery();
    q.Close();

    Rechercher(dlg, S("SOGEFRPP"));
    QTest::mouseClick(dlg.btnOK, Qt::LeftButton);
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_TRUE(boxes.errors[0].text.contains(S("RAVELIN_ESSAI_REFUS")))
        << boxes.errors[0].text.toStdString();
    EXPECT_TRUE(boxes.errors[0].text.startsWith(S("frmBanqueChoix.transListe:")))
        << boxes.errors[0].text.toStdString();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_TRUE(dlg.transListe->Active());
    // The list was closed before the commit; Enter reads it again and the dialog goes on.
    EXPECT_FALSE(dlg.idsListe->Active());
    Rechercher(dlg, S("SOGEFRPP"));
    EXPECT_EQ(Listes(dlg), std::vector<QString>{S("SOCIÉTÉ GÉNÉRALE")});

    q.SQL().SetText(S("SELECT RDB$SET_CONTEXT('USER_TRANSACTION', 'REFUS', NULL) FROM "
                      "RDB$DATABASE"));
    q.ExecQuery();
    q.Close();
    QTest::mouseClick(dlg.btnAnnuler, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), TfrmBanqueChoix::mrCancel);
    EXPECT_FALSE(dlg.transListe->Active());
    EXPECT_EQ(boxes.errors.size(), 1u);
}

// The layout as drawn: header and footer bands, the margin around the search panel, the
// picture; the grab is kept for review when RAVELIN_SCREENSHOT_DIR names a folder.
TEST_F(Chooser, TheDialogLooksAsDrawn) {
    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    dlg.DataInitialisation(-1, true, false);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QTest::keyClick(dlg.dgrListe, Qt::Key_Down);
    const QImage image = dlg.grab().toImage();
    EXPECT_EQ(image.size(), QSize(690, 597));
    const QColor bandeau(0x1B, 0x32, 0x98), fond(0xF3, 0xF3, 0xF3);
    EXPECT_EQ(image.pixelColor(600, 20), bandeau);
    EXPECT_EQ(image.pixelColor(300, 580), bandeau);
    EXPECT_EQ(image.pixelColor(685, 43), fond);
    EXPECT_EQ(dlg.dgrListe->geometry(), QRect(0, 84, 690, 483));
    EXPECT_EQ(dlg.btnAnnuler->geometry(), QRect(587, 3, 100, 24));
    EXPECT_EQ(dlg.btnOK->geometry(), QRect(481, 3, 100, 24));
    // The magnifier draws something in its 24 pixels.
    EXPECT_NE(image.pixelColor(dlg.btnGo->mapTo(&dlg, QPoint(10, 10))), fond);
    const QByteArray dir = qgetenv("RAVELIN_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        image.save(QDir(QString::fromLocal8Bit(dir)).filePath(S("chooser-screenshot.png")));
    dlg.done(TfrmBanqueChoix::mrCancel);
}

// A German bank name keeps its "ß" in capitals, as the 8-bit set has no other capital for it:
// typing the name finds the bank, and the box shows what was typed, one letter a key.
TEST_F(Chooser, AnEszettTypedFindsTheBankThatHoldsIt) {
    constexpr qint64 Id = 4294967311LL;
    const QString nom = S("GROßBANK RHEIN");
    base.Exec(S("INSERT INTO BANQUE (BANQ_ID, BANQ_SOCIETE, BANQ_BIC, BANQ_BANQUE, "
                "BANQ_CODE_PAYS) VALUES (") +
              IntToStr(Id) + S(", ") + QuotedSQL(nom) + S(", 'GROBDEFF', '16277', 'DE')"));
    struct Nettoyage {
        Base& base;
        qint64 id;
        ~Nettoyage() { base.Exec(S("DELETE FROM BANQUE WHERE BANQ_ID = ") + IntToStr(id)); }
    } nettoyage{base, Id};
    // The server's own answer to the search the user means.
    ASSERT_EQ(base.Compte(S("SELECT COUNT(*) FROM BANQUE WHERE BANQ_SOCIETE LIKE '%GROßBANK%'")),
              1);

    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    ASSERT_TRUE(dlg.DataInitialisation(-1, true, false));
    dlg.show();
    for (const char* tape : {"großbank", "GROßBANK", "ß"}) {
        SCOPED_TRACE(tape);
        Rechercher(dlg, S(tape));
        EXPECT_EQ(dlg.edtRecherche->text(), S(tape) == S("ß") ? S("ß") : S("GROßBANK"));
        const std::vector<QString> liste = Listes(dlg);
        EXPECT_NE(std::find(liste.begin(), liste.end(), nom), liste.end());
    }
    EXPECT_TRUE(boxes.errors.empty());
    dlg.done(TfrmBanqueChoix::mrCancel);
}

TEST(ChooserText, TheSelectAsTheServerReceivesIt) {
    const QString select =
        S("SELECT BANQ_ID, BANQ_SOCIETE, BANQ_BIC, COALESCE(BANQ_BANQUE, BANQ_BE_DEBUT || '-' || "
          "BANQ_BE_FIN) AS CODE, BANQ_CODE_PAYS, BANQ_BANQUE, BANQ_BE_DEBUT, BANQ_BE_FIN FROM "
          "BANQUE WHERE (BANQ_ID <> 7) \r\n");
    EXPECT_EQ(BanqueChoixSQL(7, S("  SOC ")),
              select +
                  S("AND ((BANQ_SOCIETE LIKE '%SOC%') OR (BANQ_BIC LIKE '%SOC%') OR (BANQ_BANQUE "
                    "LIKE '%SOC%') OR (BANQ_BE_DEBUT LIKE '%SOC%') OR (BANQ_BE_FIN LIKE '%SOC%') "
                    "OR (:P0 BETWEEN BANQ_BE_DEBUT AND BANQ_BE_FIN)) \r\nORDER BY BANQ_SOCIETE"));
    EXPECT_EQ(BanqueChoixSQL(7, S(" \t ")), select + S("ORDER BY BANQ_SOCIETE"));
    EXPECT_TRUE(BanqueChoixSQL(-1, QString()).contains(S("(BANQ_ID <> -1)")));
    EXPECT_TRUE(BanqueChoixSQL(4294967301LL, QString()).contains(S("(BANQ_ID <> 4294967301)")));
    EXPECT_EQ(BanqueChoixParametre(S(" D'ARMOR")), S("D'A"));
    EXPECT_EQ(BanqueChoixParametre(S("1 ")), S("1"));
}
