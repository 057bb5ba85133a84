#include "BoxRecorder.h"
#include "Controls.h"
#include "DBGrid.h"
#include "Unit1.h"
#include "fib.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

const QString PasDeBanque = QStringLiteral("Vous devez sélectionner une banque");

class MainWindow : public ::testing::Test {
protected:
    BoxRecorder boxes;
    TfrmPrincipale frm;
};

} // namespace

TEST_F(MainWindow, ShowsEveryTextOfItsDefinition) {
    EXPECT_EQ(frm.Name(), QStringLiteral("frmPrincipale"));
    EXPECT_EQ(frm.windowTitle(), QStringLiteral("Ravelin"));
    EXPECT_EQ(frm.lblAncien_Info->text(), PasDeBanque);
    EXPECT_EQ(frm.lblNouveau_Info->text(), PasDeBanque);
    EXPECT_EQ(frm.gbxAncienne->title(), QStringLiteral("Anciennes valeurs"));
    EXPECT_EQ(frm.gbxNouvelle->title(), QStringLiteral("Nouvelles valeurs"));
    EXPECT_EQ(frm.gbxOptions->title(), QStringLiteral("Options"));
    EXPECT_EQ(frm.lblBanque1->text(), QStringLiteral("Banque"));
    EXPECT_EQ(frm.lblBanque2->text(), QStringLiteral("Banque"));
    EXPECT_EQ(frm.lblCodeGuichet1->text(), QStringLiteral("Code agence"));
    EXPECT_EQ(frm.lblCodeGuichet2->text(), QStringLiteral("Code agence"));
    EXPECT_EQ(frm.cbxActif->text(), QStringLiteral("Que les mandats actifs"));
    EXPECT_TRUE(frm.cbxActif->isChecked());
    EXPECT_EQ(frm.rgoMandat->title(), QStringLiteral("Mandat"));
    EXPECT_EQ(frm.rgoMandat->Items(),
              QStringList({QStringLiteral("Modifier"), QStringLiteral("Recréer")}));
    EXPECT_EQ(frm.rgoMandat->Columns(), 2);
    EXPECT_EQ(frm.rgoMandat->ItemIndex(), 0);
    EXPECT_EQ(frm.btnVerifier->text(), QStringLiteral("Vérifier"));
    EXPECT_EQ(frm.btnChanger->text(), QStringLiteral("Changer"));
    EXPECT_TRUE(frm.edtAncienGuichet->text().isEmpty());
    EXPECT_TRUE(frm.edtNouveauGuichet->text().isEmpty());
    // No bank is chosen at start.
    EXPECT_EQ(frm.Ancien_ID, 0);
    EXPECT_EQ(frm.Nouveau_ID, 0);
    EXPECT_TRUE(frm.Ancien_Nom.isEmpty() && frm.Nouveau_Code.isEmpty());
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_FALSE(frm.HasState(csLoading));
}

TEST_F(MainWindow, LaysOutItsControlsAsDrawn) {
    frm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frm));
    EXPECT_EQ(frm.size(), QSize(1138, 633));
    EXPECT_EQ(frm.font().family(), QStringLiteral("Calibri"));
    EXPECT_EQ(frm.font().pixelSize(), 12);
    EXPECT_EQ(frm.Panel1->geometry(), QRect(0, 0, 1138, 147));
    EXPECT_EQ(frm.gbxAncienne->geometry(), QRect(8, 8, 361, 113));
    EXPECT_EQ(frm.gbxNouvelle->geometry(), QRect(384, 8, 361, 113));
    EXPECT_EQ(frm.gbxOptions->geometry(), QRect(760, 8, 361, 113));
    EXPECT_EQ(frm.lblAncien_Info->pos(), QPoint(16, 40));
    EXPECT_EQ(frm.lblCodeGuichet2->pos(), QPoint(16, 64));
    EXPECT_EQ(frm.edtAncienGuichet->geometry(), QRect(16, 80, 121, 22));
    EXPECT_EQ(frm.edtNouveauGuichet->geometry(), QRect(16, 80, 121, 22));
    EXPECT_EQ(frm.cbxActif->geometry(), QRect(16, 24, 337, 17));
    EXPECT_EQ(frm.rgoMandat->geometry(), QRect(16, 48, 329, 57));
    EXPECT_EQ(frm.tbMenu->geometry(), QRect(0, 127, 1138, 20));
    EXPECT_EQ(frm.btnVerifier->size(), QSize(56, 20));
    EXPECT_LT(frm.btnVerifier->x(), frm.btnChanger->x());
    EXPECT_EQ(frm.dgrDetail->geometry(), QRect(0, 147, 1138, 486));

    // The bank labels read like links.
    EXPECT_TRUE(frm.lblAncien_Info->font().underline());
    EXPECT_EQ(frm.lblNouveau_Info->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_EQ(frm.lblAncien_Info->cursor().shape(), Qt::PointingHandCursor);

    // Resizing keeps the panel on top, the tool bar at its bottom and the grid filling the rest.
    frm.resize(1300, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(frm.tbMenu->geometry(), QRect(0, 127, 1300, 20));
    EXPECT_EQ(frm.dgrDetail->geometry(), QRect(0, 147, 1300, 553));
}

TEST_F(MainWindow, GridShowsItsFiveTitlesAndNoRows) {
    const TDBGrid* grid = frm.dgrDetail;
    ASSERT_EQ(grid->ColumnCount(), 5);
    const struct {
        const char* field;
        int width;
        const char* title;
    } expected[] = {{"NP", 250, "Client"},
                    {"CMAN_IBAN", 250, "IBAN"},
                    {"CMAN_BIC", 100, "BIC"},
                    {"CMAN_NOMBANQUE", 250, "Nom de la banque (Saisie)"},
                    {"BANQ_SOCIETE", 250, "Nom de la banque"}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(grid->Columns(i).FieldName, QString::fromUtf8(expected[i].field));
        EXPECT_EQ(grid->Columns(i).Width, expected[i].width);
        EXPECT_EQ(grid->Columns(i).Title, QString::fromUtf8(expected[i].title));
    }
    EXPECT_EQ(grid->TitleFont().family(), QStringLiteral("Calibri"));
    EXPECT_EQ(grid->TitleFont().pixelSize(), 12);
    // Bound to the mandate list, which stays closed until a listing: no row to show.
    EXPECT_EQ(grid->DataSource(), frm.dsBanque);
    EXPECT_FALSE(grid->DataLink().Active());
    EXPECT_EQ(grid->DataLink().RecordCount(), 0);
    EXPECT_TRUE(frm.idsBanque->IsEmpty());
}

TEST_F(MainWindow, BranchBoxesTakeAtMostFiveCharacters) {
    frm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frm));
    QTest::keyClicks(frm.edtAncienGuichet, QStringLiteral("1234567"));
    EXPECT_EQ(frm.edtAncienGuichet->text(), QStringLiteral("12345"));
    frm.edtNouveauGuichet->setFocus();
    QTest::keyClicks(frm.edtNouveauGuichet, QStringLiteral(" 98 76 5"));
    EXPECT_EQ(frm.edtNouveauGuichet->text(), QStringLiteral(" 98 7"));
}

TEST_F(MainWindow, OptionsFollowTheUser) {
    frm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frm));
    QTest::mouseClick(frm.rgoMandat->Button(1), Qt::LeftButton, {},
                      QPoint(6, frm.rgoMandat->Button(1)->height() / 2));
    EXPECT_EQ(frm.rgoMandat->ItemIndex(), 1);
    EXPECT_FALSE(frm.rgoMandat->Button(0)->isChecked());
    QTest::mouseClick(frm.cbxActif, Qt::LeftButton, {}, QPoint(6, frm.cbxActif->height() / 2));
    EXPECT_FALSE(frm.cbxActif->isChecked());
}

TEST_F(MainWindow, HandlersAreConnectedAndSafeToClick) {
    frm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frm));
    QTest::mouseClick(frm.btnVerifier, Qt::LeftButton);
    QTest::mouseClick(frm.btnChanger, Qt::LeftButton);
    QTest::mouseClick(frm.lblAncien_Info, Qt::LeftButton);
    QTest::mouseClick(frm.lblNouveau_Info, Qt::LeftButton);
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_TRUE(frm.isVisible());
}

TEST_F(MainWindow, MandateListNeverStartsATransactionOfItsOwn) {
    // The list reads only in the window's snapshot: with it ended, preparing fails instead of
    // quietly starting a new one.
    ASSERT_TRUE(frm.transSource->Active());
    frm.transSource->Commit();
    frm.idsBanque->SelectSQL().SetText(QStringLiteral("SELECT CMAN_ID FROM CLIENTS_MANDAT"));
    EXPECT_THROW(frm.idsBanque->Prepare(), EFIBError);
    EXPECT_FALSE(frm.transSource->Active());
    // Options that would change what the grid shows or how fields bind are off.
    EXPECT_FALSE(frm.idsBanque->Options() & (poTrimCharFields | poAutoFormatFields));
    EXPECT_FALSE(frm.idsBanque->PrepareOptions() &
                 (psUseBooleanField | psUseLargeIntField | pfImportDefaultValues));
}
