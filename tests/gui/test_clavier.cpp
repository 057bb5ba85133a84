// The windows from the keyboard alone, as a user without a mouse works them: every key goes to
// the widget that has the focus, and what a screen reader is told about each control.
#include "BoxRecorder.h"
#include "Controls.h"
#include "DBGrid.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "pFIBDataSet.h"
#include "ufrmBanqueChoix.h"
#include "ufrmConnexion.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace {

const QString Confirmation = S("Etes-vous sûr(e) de vouloir continuer cette opération ?");
const QString SocieteGenerale = S("SOCIÉTÉ GÉNÉRALE (30003/SOGEFRPP)");

QWidget* Focus() {
    return QApplication::focusWidget();
}

void Touche(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    ASSERT_NE(Focus(), nullptr);
    QTest::keyClick(Focus(), key, modifiers);
}

std::string Nom(const QObject* o) {
    return o ? o->objectName().toStdString() : std::string("(aucun)");
}

QString NomAccessible(QObject* o) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(o);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// Every control of a window the user can reach with Tab.
QList<QWidget*> Controles(QWidget* window) {
    QList<QWidget*> controles;
    for (QWidget* w : window->findChildren<QWidget*>())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window)) controles << w;
    return controles;
}

void ExpectNamedApart(const QList<QWidget*>& controles, QStringList autres = {}) {
    QStringList noms = autres;
    for (QWidget* w : controles) {
        const QString nom = NomAccessible(w);
        EXPECT_FALSE(nom.trimmed().isEmpty()) << Nom(w);
        noms << nom;
    }
    for (const QString& nom : std::as_const(autres))
        EXPECT_FALSE(nom.trimmed().isEmpty());
    EXPECT_EQ(QSet<QString>(noms.begin(), noms.end()).size(), noms.size())
        << noms.join(S(" | ")).toStdString();
}

class Clavier : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(boxes.errors.empty()) << boxes.errors.front().text.toStdString();
        frm.show();
        frm.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frm));
    }

    // Presses Tab until the widget has the focus; false when a whole round missed it.
    static bool TabJusque(QWidget* cible) {
        for (int i = 0; i < 20 && Focus() && Focus() != cible; ++i)
            QTest::keyClick(Focus(), Qt::Key_Tab);
        return Focus() == cible;
    }

    // Opens the chooser with `ouvrir` (keys on the main window) and works it with `dedans`
    // (keys on the chooser), which must close it. Returns the chooser's result.
    int DansLeChoix(const std::function<void()>& ouvrir,
                    const std::function<void(TfrmBanqueChoix&)>& dedans) {
        int result = -1;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<TfrmBanqueChoix*>(QApplication::activeModalWidget());
            if (!dlg) return;
            QObject::connect(dlg, &QDialog::finished, [&](int r) { result = r; });
            // Keys go where the focus is once the dialog is the active window, as for a user.
            if (QTest::qWaitForWindowActive(dlg)) dedans(*dlg);
            if (dlg->isVisible()) dlg->done(-5); // a stuck dialog fails the test, not the run
        });
        ouvrir();
        // The window manager gives the window back its activation after a dialog; offscreen
        // nothing does.
        if (!frm.isActiveWindow()) {
            frm.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&frm));
        }
        return result;
    }

    // In the chooser: the search typed into the box that has the focus, Enter, then Tab to the
    // list and Space, the keyboard's double-click.
    static void ChoisirPremiere(TfrmBanqueChoix& dlg, const char* recherche) {
        EXPECT_EQ(Focus(), dlg.edtRecherche);
        QTest::keyClicks(Focus(), S(recherche));
        Touche(Qt::Key_Return);
        EXPECT_TRUE(dlg.isVisible()); // Enter searches
        QTest::keyClick(Focus(), Qt::Key_Tab);
        EXPECT_EQ(Focus(), dlg.btnGo);
        QTest::keyClick(Focus(), Qt::Key_Tab);
        EXPECT_EQ(Focus(), dlg.dgrListe);
        Touche(Qt::Key_Space);
    }

    // Both banks from the keyboard: the old one with Space on its label, the new one with its
    // mnemonic and the footer's OK.
    void ChoisirLesBanques() {
        ASSERT_TRUE(TabJusque(frm.lblAncien_Info));
        EXPECT_EQ(DansLeChoix([] { Touche(Qt::Key_Space); },
                              [](TfrmBanqueChoix& dlg) { ChoisirPremiere(dlg, "SOGEFRPP"); }),
                  TfrmBanqueChoix::mrOk);
        EXPECT_EQ(frm.lblAncien_Info->text(), SocieteGenerale);
        EXPECT_EQ(DansLeChoix([] { Touche(Qt::Key_N, Qt::AltModifier); },
                              [](TfrmBanqueChoix& dlg) {
                                  QTest::keyClicks(Focus(), S("BNPAFRPP"));
                                  Touche(Qt::Key_Return);
                                  ASSERT_FALSE(dlg.idsListe->IsEmpty());
                                  for (int i = 0; i < 3; ++i)
                                      QTest::keyClick(Focus(), Qt::Key_Tab);
                                  EXPECT_EQ(Focus(), dlg.btnOK);
                                  Touche(Qt::Key_Space);
                              }),
                  TfrmBanqueChoix::mrOk);
        EXPECT_TRUE(frm.lblNouveau_Info->text().startsWith(S("BNP PARIBAS (30004/")))
            << frm.lblNouveau_Info->text().toStdString();
    }

    BoxRecorder boxes;
    TfrmPrincipale frm;
};

} // namespace

TEST_F(Clavier, TabFollowsTheWindowInReadingOrder) {
    // The old bank first: where a run starts.
    EXPECT_EQ(Focus(), frm.lblAncien_Info);
    QList<QWidget*> ordre{frm.lblAncien_Info,    frm.edtAncienGuichet, frm.lblNouveau_Info,
                          frm.edtNouveauGuichet, frm.cbxActif,         frm.rgoMandat->Button(0),
                          frm.btnVerifier,       frm.btnChanger,       frm.btnAnnuler,
                          frm.dgrDetail,         frm.lblAncien_Info};
    for (qsizetype i = 1; i < ordre.size(); ++i) {
        Touche(Qt::Key_Tab);
        EXPECT_EQ(Focus(), ordre[i]) << "après " << Nom(ordre[i - 1]) << " : " << Nom(Focus());
    }
    Touche(Qt::Key_Backtab);
    EXPECT_EQ(Focus(), frm.dgrDetail);
    // The chosen mode is the radio group's stop; the arrows choose the other one.
    frm.rgoMandat->Button(0)->setFocus(Qt::TabFocusReason);
    Touche(Qt::Key_Right);
    EXPECT_EQ(frm.rgoMandat->ItemIndex(), 1);
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(Clavier, BanksAreChosenWithSpaceEnterAndTheirMnemonics) {
    ChoisirLesBanques();
    EXPECT_EQ(frm.Ancien_Code, S("30003"));
    EXPECT_EQ(frm.Nouveau_Code, S("30004"));
    // The focus is back where the user left it, on the label that opened the chooser.
    EXPECT_EQ(Focus(), frm.lblNouveau_Info);
    EXPECT_EQ(NomAccessible(frm.lblAncien_Info),
              S("Ancienne banque : ") + SocieteGenerale + S(" — choisir une autre banque"));
    EXPECT_EQ(NomAccessible(frm.lblNouveau_Info), S("Nouvelle banque : ") +
                                                      frm.lblNouveau_Info->text() +
                                                      S(" — choisir une autre banque"));

    // Enter on a label opens the chooser too, and Alt+A from anywhere; Escape leaves the bank.
    ASSERT_TRUE(TabJusque(frm.lblAncien_Info));
    EXPECT_EQ(DansLeChoix([] { Touche(Qt::Key_Return); },
                          [](TfrmBanqueChoix&) { Touche(Qt::Key_Escape); }),
              TfrmBanqueChoix::mrCancel);
    ASSERT_TRUE(TabJusque(frm.edtNouveauGuichet));
    EXPECT_EQ(DansLeChoix([] { Touche(Qt::Key_A, Qt::AltModifier); },
                          [](TfrmBanqueChoix& dlg) {
                              ASSERT_TRUE(TabJusque(dlg.btnAnnuler));
                              Touche(Qt::Key_Space);
                          }),
              TfrmBanqueChoix::mrCancel);
    EXPECT_EQ(frm.lblAncien_Info->text(), SocieteGenerale);
    EXPECT_EQ(frm.Ancien_Code, S("30003"));
    EXPECT_EQ(Focus(), frm.lblAncien_Info);
    EXPECT_TRUE(boxes.errors.empty());
}

// F5 lists from the branch box the user typed in; « Changer »'s shortcut asks its question,
// answered « &Non » here: the demo database stays as it is.
TEST_F(Clavier, TheToolBarsShortcutsListAndAskBeforeChanging) {
    ChoisirLesBanques();
    ASSERT_TRUE(TabJusque(frm.edtAncienGuichet));
    Touche(Qt::Key_F5);
    QTRY_VERIFY(frm.idsBanque->Active());
    ASSERT_EQ(boxes.messages.size(), 1u); // the empty branch boxes' question, answered « &Oui »
    EXPECT_FALSE(frm.idsBanque->IsEmpty());
    const int listes = frm.idsBanque->RecordCount();

    ASSERT_TRUE(TabJusque(frm.edtNouveauGuichet));
    boxes.answer = IDNO;
    Touche(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE(boxes.messages.size(), size_t(2));
    EXPECT_EQ(boxes.messages[1].text, Confirmation);
    EXPECT_EQ(boxes.messages[1].kind, TMessageKind::Confirmation);
    EXPECT_TRUE(frm.edtNouveauGuichet->text().isEmpty()); // no « C » typed on the way
    EXPECT_EQ(frm.idsBanque->RecordCount(), listes);
    EXPECT_TRUE(boxes.errors.empty());
}

// The tooltip of every tool bar button tells its shortcut, and no two keys of the window (the
// buttons' shortcuts, the captions' mnemonics) are the same.
TEST_F(Clavier, EveryShortcutIsToldAndNoneClashes) {
    std::set<QString> touches;
    const auto une = [&](const QKeySequence& k, const std::string& ou) {
        EXPECT_FALSE(k.isEmpty()) << ou;
        EXPECT_TRUE(touches.insert(k.toString(QKeySequence::PortableText)).second) << ou;
    };
    for (QAction* action : frm.tbMenu->actions()) {
        auto* button = qobject_cast<QToolButton*>(frm.tbMenu->widgetForAction(action));
        ASSERT_NE(button, nullptr);
        une(Raccourci(button), Nom(button));
        EXPECT_TRUE(
            button->toolTip().endsWith(S(" (") + TexteRaccourci(Raccourci(button)) + S(")")))
            << button->toolTip().toStdString();
    }
    EXPECT_EQ(TexteRaccourci(Raccourci(frm.btnChanger)), S("Ctrl+Maj+C"));
    for (QGroupBox* g : frm.findChildren<QGroupBox*>())
        if (g->title().contains(u'&')) une(QKeySequence::mnemonic(g->title()), Nom(g));
    for (QAbstractButton* b : frm.findChildren<QAbstractButton*>())
        if (b->text().contains(u'&')) une(QKeySequence::mnemonic(b->text()), Nom(b));
    EXPECT_TRUE(touches.count(S("Alt+A")) && touches.count(S("Alt+N")));
}

TEST_F(Clavier, TheGridsMenuOpensWithTheMenuKeyAndShiftF10) {
    ASSERT_TRUE(TabJusque(frm.dgrDetail));
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Menu, Qt::KeyboardModifiers()},
          std::pair{Qt::Key_F10, Qt::KeyboardModifiers(Qt::ShiftModifier)}}) {
        SCOPED_TRACE(key);
        Touche(key, modifiers);
        ASSERT_TRUE(frm.mnuGrille->isVisible());
        EXPECT_TRUE(frm.mnuGrille->geometry().intersects(
            QRect(frm.dgrDetail->mapToGlobal(QPoint(0, 0)), frm.dgrDetail->size())));
        // Down reaches an action (before any listing, the undo: nothing to export).
        QTest::keyClick(frm.mnuGrille, Qt::Key_Down);
        EXPECT_EQ(frm.mnuGrille->activeAction(), frm.actAnnulerPassage);
        QTest::keyClick(frm.mnuGrille, Qt::Key_Escape);
        QTRY_VERIFY(!frm.mnuGrille->isVisible());
        EXPECT_EQ(Focus(), frm.dgrDetail);
    }
    // F10 alone is no menu key.
    Touche(Qt::Key_F10);
    EXPECT_FALSE(frm.mnuGrille->isVisible());
}

// What assistive technology reads: every control named, no two alike, the bank labels as
// buttons that press.
TEST_F(Clavier, EveryControlHasANameOfItsOwn) {
    const QList<QWidget*> controles = Controles(&frm);
    EXPECT_GE(controles.size(), 10);
    QStringList actions;
    QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(frm.mnuGrille);
    ASSERT_NE(menu, nullptr);
    for (int i = 0; i < menu->childCount(); ++i)
        actions << menu->child(i)->text(QAccessible::Name);
    EXPECT_EQ(actions.size(), frm.mnuGrille->actions().size());
    // A menu action may bear the name of the tool bar's button that does the same; no two
    // controls of the window, nor two actions of the menu, are alike.
    ExpectNamedApart(controles);
    ExpectNamedApart({}, actions);
    EXPECT_EQ(NomAccessible(frm.lblAncien_Info),
              S("Ancienne banque : aucune — choisir une banque"));

    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(frm.lblNouveau_Info);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->role(), QAccessible::Button);
    ASSERT_NE(label->actionInterface(), nullptr);
    EXPECT_TRUE(label->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::pressAction()));
    EXPECT_EQ(
        DansLeChoix(
            [&] { label->actionInterface()->doAction(QAccessibleActionInterface::pressAction()); },
            [](TfrmBanqueChoix&) { Touche(Qt::Key_Escape); }),
        TfrmBanqueChoix::mrCancel);

    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    ASSERT_TRUE(dlg.DataInitialisation(-1, true, false));
    dlg.show();
    ExpectNamedApart(Controles(&dlg));
    EXPECT_EQ(Controles(&dlg).size(), 5);
    dlg.done(TfrmBanqueChoix::mrCancel);
    EXPECT_TRUE(boxes.errors.empty());
}

// The grid's rows and columns as a table: what it shows, where it stands, following the keys.
TEST_F(Clavier, TheGridIsATableOfTheRowsItShows) {
    TfrmBanqueChoix dlg(nullptr, frm.dbSource);
    ASSERT_TRUE(dlg.DataInitialisation(-1, true, false));
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    TDBGrid* grid = dlg.dgrListe;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(grid);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Table);
    QAccessibleTableInterface* table = iface->tableInterface();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->columnCount(), 4);
    ASSERT_GT(grid->VisibleRows(), 3);
    EXPECT_EQ(table->rowCount(), grid->VisibleRows());
    EXPECT_EQ(iface->childCount(), (table->rowCount() + 1) * 4);
    const char* titres[] = {"Banque", "Code banque", "BIC", "Pays"};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(table->columnDescription(c), S(titres[c]));
        EXPECT_EQ(iface->child(c)->role(), QAccessible::ColumnHeader);
        EXPECT_EQ(iface->child(c)->text(QAccessible::Name), S(titres[c]));
        for (int r = 0; r < 3; ++r) {
            QAccessibleInterface* cell = table->cellAt(r, c);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->text(QAccessible::Name), grid->CellText(r, c)) << r << "," << c;
            EXPECT_EQ(iface->indexOfChild(cell), (r + 1) * 4 + c);
            EXPECT_EQ(cell->tableCellInterface()->rowIndex(), r);
            EXPECT_EQ(cell->tableCellInterface()->columnHeaderCells().value(0), iface->child(c));
        }
    }
    EXPECT_EQ(table->cellAt(table->rowCount(), 0), nullptr);
    EXPECT_EQ(table->selectedRows(), QList<int>{0});
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(table->selectedRows(), QList<int>{2});
    EXPECT_TRUE(table->cellAt(2, 3)->state().selected);
    EXPECT_FALSE(table->cellAt(1, 3)->state().selected);
    ASSERT_NE(iface->focusChild(), nullptr);
    EXPECT_EQ(iface->focusChild()->tableCellInterface()->rowIndex(), 2);

    // A search gives other rows: the table follows.
    dlg.edtRecherche->setText(S("SOGEFRPP"));
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_EQ(table->rowCount(), grid->VisibleRows());
    EXPECT_EQ(table->cellAt(0, 0)->text(QAccessible::Name), S("SOCIÉTÉ GÉNÉRALE"));
    dlg.done(TfrmBanqueChoix::mrCancel);
}

TEST(ClavierConnexion, PasswordThenConnectThenCancel) {
    int tentatives = 0;
    TfrmConnexion dlg(S("serveur:BASE"), S("JDUPONT"), [&](const QString&) { ++tentatives; });
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    EXPECT_EQ(Focus(), dlg.edtMotDePasse);
    Touche(Qt::Key_Tab);
    EXPECT_EQ(Focus(), dlg.btnConnecter);
    Touche(Qt::Key_Tab);
    EXPECT_EQ(Focus(), dlg.btnAnnuler);
    Touche(Qt::Key_Tab);
    EXPECT_EQ(Focus(), dlg.edtMotDePasse);
    // Enter is « Se connecter », Escape « Annuler ».
    QTest::keyClicks(Focus(), S("secret"));
    Touche(Qt::Key_Return);
    EXPECT_EQ(tentatives, 1);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    Touche(Qt::Key_Escape);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(tentatives, 1);
}

// The real boxes, answered from the keyboard: Enter takes the default button, Escape the
// cancelling one.
TEST(ClavierBoites, EnterAndEscapeAnswerEveryBox) {
    const TMessageBoxHandler avant = SetMessageBoxHandler({});
    const struct {
        TMessageKind kind;
        Qt::Key key;
        int attendu;
    } cas[] = {{TMessageKind::Confirmation, Qt::Key_Return, IDYES},
               {TMessageKind::Confirmation, Qt::Key_Escape, IDNO},
               {TMessageKind::Confirmation, Qt::Key_N, IDNO}, // « &Non »'s mnemonic
               {TMessageKind::Information, Qt::Key_Return, IDOK},
               {TMessageKind::Information, Qt::Key_Escape, IDOK}};
    for (const auto& c : cas) {
        SCOPED_TRACE(int(c.key));
        bool repondu = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            repondu = true;
            QTest::keyClick(box, c.key, c.key == Qt::Key_N ? Qt::AltModifier : Qt::NoModifier);
            if (box->isVisible()) box->done(0);
        });
        EXPECT_EQ(AfficherMessage(S("Question"), c.kind), c.attendu);
        EXPECT_TRUE(repondu);
    }
    SetMessageBoxHandler(avant);
}
