#include "BoxRecorder.h"
#include "Controls.h"
#include "DBGrid.h"
#include "Unit1.h"
#include "fib.h"
#include "pFIBDataSet.h"
#include "pFIBDatabase.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

const QString PasDeBanque = QStringLiteral("Vous devez sélectionner une banque");

class MainWindow : public ::testing::Test {
protected:
    void Show() {
        frm.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frm));
    }

    BoxRecorder boxes;
    TfrmPrincipale frm;
};

// Where a child lies in its window's coordinates.
QRect InWindow(const QWidget* w) {
    return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size());
}

// The text fits its widget and the widget lies inside its parent: nothing the user reads is
// cut off.
void ExpectShownWhole(const QWidget* w, const QString& text, int reserved = 0) {
    const QString name = w->objectName();
    EXPECT_GE(w->width(), w->fontMetrics().horizontalAdvance(text) + reserved)
        << name.toStdString();
    EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry())) << name.toStdString();
    EXPECT_TRUE(w->isVisible()) << name.toStdString();
}

} // namespace

TEST_F(MainWindow, EveryTextIsShownWholeInsideItsBox) {
    Show();
    EXPECT_EQ(frm.windowTitle(), QStringLiteral("Ravelin"));
    const std::pair<QLabel*, const char*> labels[] = {
        {frm.lblBanque1, "Banque"},
        {frm.lblAncien_Info, "Vous devez sélectionner une banque"},
        {frm.lblCodeGuichet1, "Code agence"},
        {frm.lblBanque2, "Banque"},
        {frm.lblNouveau_Info, "Vous devez sélectionner une banque"},
        {frm.lblCodeGuichet2, "Code agence"}};
    for (const auto& [label, text] : labels) {
        EXPECT_EQ(label->text(), QString::fromUtf8(text));
        ExpectShownWhole(label, label->text());
    }
    // The bank sides' captions carry their mnemonics, Alt+A and Alt+N, shown underlined.
    const std::pair<QGroupBox*, const char*> groups[] = {{frm.gbxAncienne, "&Anciennes valeurs"},
                                                         {frm.gbxNouvelle, "&Nouvelles valeurs"},
                                                         {frm.gbxOptions, "Options"},
                                                         {frm.rgoMandat, "Mandat"}};
    for (const auto& [group, title] : groups) {
        EXPECT_EQ(group->title(), QString::fromUtf8(title));
        ExpectShownWhole(group, group->title());
    }
    // A check box or a radio button needs its indicator beside the text.
    EXPECT_EQ(frm.cbxActif->text(), QStringLiteral("Que les mandats actifs"));
    ExpectShownWhole(frm.cbxActif, frm.cbxActif->text(), 16);
    EXPECT_TRUE(frm.cbxActif->isChecked());
    ASSERT_EQ(frm.rgoMandat->Items(),
              QStringList({QStringLiteral("Modifier"), QStringLiteral("Recréer")}));
    for (int i = 0; i < 2; ++i)
        ExpectShownWhole(frm.rgoMandat->Button(i), frm.rgoMandat->Button(i)->text(), 16);
    EXPECT_EQ(frm.rgoMandat->ItemIndex(), 0);
    // Two columns: the choices side by side on one line.
    EXPECT_EQ(frm.rgoMandat->Button(1)->y(), frm.rgoMandat->Button(0)->y());
    EXPECT_GT(frm.rgoMandat->Button(1)->x(), frm.rgoMandat->Button(0)->geometry().right());

    // Both buttons on the tool bar itself, the first "Vérifier", none pushed into an overflow
    // menu.
    EXPECT_EQ(frm.btnVerifier->text(), QStringLiteral("Vérifier"));
    EXPECT_EQ(frm.btnChanger->text(), QStringLiteral("Changer"));
    for (QToolButton* b : {frm.btnVerifier, frm.btnChanger})
        ExpectShownWhole(b, b->text());
    EXPECT_LT(frm.btnVerifier->x(), frm.btnChanger->x());
    EXPECT_TRUE(frm.edtAncienGuichet->text().isEmpty() && frm.edtNouveauGuichet->text().isEmpty());
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(MainWindow, IsCentredAndItsGridFillsTheRestAtAnySize) {
    Show();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // The window is centred before the platform adds its frame, so the frame's margins may
    // shift it; one more pixel goes to halving an even size.
    const QPoint offCentre = frm.frameGeometry().center() - screen.center();
    const QSize frame = frm.frameGeometry().size() - frm.size();
    EXPECT_LE(std::abs(offCentre.x()), frame.width() / 2 + 1);
    EXPECT_LE(std::abs(offCentre.y()), frame.height() / 2 + 1);

    for (const QSize size : {QSize(TfrmPrincipale::ClientWidth, TfrmPrincipale::ClientHeight),
                             QSize(1300, 700), QSize(900, 400)}) {
        frm.resize(size);
        QCoreApplication::processEvents();
        const std::string at = std::to_string(size.width()) + "x" + std::to_string(size.height());
        ASSERT_EQ(frm.size(), size) << at;
        // The upper area keeps its height across the whole width, the tool bar on its bottom
        // edge, the three boxes above the tool bar, side by side.
        const QRect panel = frm.Panel1->geometry();
        EXPECT_EQ(panel, QRect(0, 0, size.width(), 147)) << at;
        EXPECT_EQ(InWindow(frm.tbMenu), QRect(0, panel.bottom() - 19, size.width(), 20)) << at;
        EXPECT_LT(frm.gbxAncienne->geometry().right(), frm.gbxNouvelle->x()) << at;
        EXPECT_LT(frm.gbxNouvelle->geometry().right(), frm.gbxOptions->x()) << at;
        for (const QGroupBox* g : {frm.gbxAncienne, frm.gbxNouvelle, frm.gbxOptions})
            EXPECT_LT(g->geometry().bottom(), frm.tbMenu->y()) << at;
        // The grid takes everything below, to the window's edges.
        EXPECT_EQ(frm.dgrDetail->geometry(),
                  QRect(0, panel.bottom() + 1, size.width(), size.height() - panel.height()))
            << at;
    }
    // At the drawn size the three boxes fit the width.
    frm.resize(TfrmPrincipale::ClientWidth, TfrmPrincipale::ClientHeight);
    QCoreApplication::processEvents();
    EXPECT_LE(frm.gbxOptions->geometry().right(), frm.width());
}

TEST_F(MainWindow, GridShowsItsTitlesAndNoRows) {
    const TDBGrid* grid = frm.dgrDetail;
    ASSERT_EQ(grid->ColumnCount(), 7);
    const struct {
        const char* field;
        int width;
        const char* title;
    } expected[] = {{"NP", 250, "Client"},
                    {"CMAN_IBAN", 250, "IBAN"},
                    {"CMAN_BIC", 100, "BIC"},
                    // What the run will write: computed, no field of the list.
                    {"", 200, "Nouvel IBAN"},
                    {"", 100, "Nouveau BIC"},
                    {"CMAN_NOMBANQUE", 250, "Nom de la banque (Saisie)"},
                    {"BANQ_SOCIETE", 250, "Nom de la banque"}};
    const QFontMetrics title(grid->TitleFont());
    for (int i = 0; i < 7; ++i) {
        const TColumn& column = grid->Columns(i);
        EXPECT_EQ(column.FieldName, QString::fromUtf8(expected[i].field));
        EXPECT_EQ(column.Width, expected[i].width);
        EXPECT_EQ(column.Title, QString::fromUtf8(expected[i].title));
        EXPECT_LT(title.horizontalAdvance(column.Title), column.Width) << expected[i].title;
    }
    // Bound to the mandate list, which stays closed until a listing: no row to show.
    EXPECT_EQ(grid->DataSource(), frm.dsBanque);
    EXPECT_FALSE(grid->DataLink().Active());
    EXPECT_EQ(grid->DataLink().RecordCount(), 0);
    EXPECT_TRUE(frm.idsBanque->IsEmpty());
}

TEST_F(MainWindow, BranchBoxesTakeAtMostFiveCharacters) {
    Show();
    QTest::keyClicks(frm.edtAncienGuichet, QStringLiteral("1234567"));
    EXPECT_EQ(frm.edtAncienGuichet->text(), QStringLiteral("12345"));
    frm.edtNouveauGuichet->setFocus();
    QTest::keyClicks(frm.edtNouveauGuichet, QStringLiteral(" 98 76 5"));
    EXPECT_EQ(frm.edtNouveauGuichet->text(), QStringLiteral(" 98 7"));
    // A pasted text is cut the same way.
    frm.edtNouveauGuichet->clear();
    QApplication::clipboard()->setText(QStringLiteral("0003112"));
    QTest::keyClick(frm.edtNouveauGuichet, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(frm.edtNouveauGuichet->text(), QStringLiteral("00031"));
}

TEST_F(MainWindow, OptionsFollowTheUser) {
    Show();
    QTest::mouseClick(frm.rgoMandat->Button(1), Qt::LeftButton, {},
                      QPoint(6, frm.rgoMandat->Button(1)->height() / 2));
    EXPECT_EQ(frm.rgoMandat->ItemIndex(), 1);
    EXPECT_FALSE(frm.rgoMandat->Button(0)->isChecked());
    QTest::mouseClick(frm.cbxActif, Qt::LeftButton, {}, QPoint(6, frm.cbxActif->height() / 2));
    EXPECT_FALSE(frm.cbxActif->isChecked());
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

// A group's choice can be taken back as well as given: -1 leaves no item chosen, as a group
// that was never given one, and a new list of items starts without a choice.
TEST(RadioGroup, TheChoiceCanBeClearedAndEveryIndexIsItsOwn) {
    TRadioGroup group;
    group.SetItems(
        {QStringLiteral("Modifier"), QStringLiteral("Recréer"), QStringLiteral("Autre")});
    EXPECT_EQ(group.ItemIndex(), -1);
    for (const int index : {1, 0, 2, -1, 2, 5, 1}) {
        SCOPED_TRACE(index);
        group.SetItemIndex(index);
        const int expected = index >= 0 && index < 3 ? index : -1;
        EXPECT_EQ(group.ItemIndex(), expected);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(group.Button(i)->isChecked(), i == expected) << i;
    }
    group.SetItems({QStringLiteral("Un"), QStringLiteral("Deux")});
    EXPECT_EQ(group.ItemIndex(), -1);
}
