#include "Application.h"
#include "BoxRecorder.h"
#include "SysUtils.h"

#include <QAccessible>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

TEST(ErrorBox, CaptionIsTheExecutableNameUpToItsFirstDot) {
    EXPECT_EQ(TitreApplication(QStringLiteral("/opt/x.y/AbCd.Ef.exe")), QStringLiteral("Abcd"));
    EXPECT_EQ(TitreApplication(QStringLiteral("Ravelin")), QStringLiteral("Ravelin"));
    EXPECT_EQ(TitreApplication(QStringLiteral("/usr/bin/RAVELIN")), QStringLiteral("Ravelin"));
    EXPECT_EQ(TitreApplication(QStringLiteral("z")), QStringLiteral("z"));
    EXPECT_EQ(TitreApplication(QStringLiteral(".hidden")), QString());
    // The running program's own title: this test program is "test_gui".
    EXPECT_EQ(TitreApplication(), QStringLiteral("test_gui"));
}

TEST(ErrorBox, TextGetsAFinalDotOnlyAfterCharactersAboveIt) {
    EXPECT_EQ(TexteErreur(QStringLiteral("Base introuvable")), QStringLiteral("Base introuvable."));
    EXPECT_EQ(TexteErreur(QStringLiteral("code 42")), QStringLiteral("code 42."));
    EXPECT_EQ(TexteErreur(QStringLiteral("Déjà vu é")), QStringLiteral("Déjà vu é."));
    for (const char* unchanged :
         {"Fin.", "(voir)", "ligne\r\n", "blanc ", "vraiment!", "a-b,", "x-", "guillemet\"", ""})
        EXPECT_EQ(TexteErreur(QString::fromUtf8(unchanged)), QString::fromUtf8(unchanged))
            << unchanged;
    // "/" is the first character after ".", so it earns one.
    EXPECT_EQ(TexteErreur(QStringLiteral("a/")), QStringLiteral("a/."));
}

TEST(ErrorBox, EscapingExceptionsAreShownAndTheNextEventIsHandled) {
    BoxRecorder boxes;
    QWidget window;
    auto* failing = new QPushButton(QStringLiteral("Échoue"), &window);
    auto* working = new QPushButton(QStringLiteral("Marche"), &window);
    working->move(0, 40);
    int handled = 0;
    QObject::connect(failing, &QPushButton::clicked, failing,
                     Protected([] { throw EConvertError(QStringLiteral("'x' est faux")); }));
    QObject::connect(working, &QPushButton::clicked, working, Protected([&] { ++handled; }));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QTest::mouseClick(failing, Qt::LeftButton);
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_EQ(boxes.errors[0].text, QStringLiteral("'x' est faux."));
    EXPECT_EQ(boxes.errors[0].caption, TitreApplication());

    QTest::mouseClick(working, Qt::LeftButton);
    QTest::mouseClick(failing, Qt::LeftButton);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(boxes.errors.size(), 2u);
}

TEST(ErrorBox, AbortIsSilentAndForeignExceptionsAreShown) {
    BoxRecorder boxes;
    Protect([] { Abort(); });
    EXPECT_TRUE(boxes.errors.empty());
    Protect([] { throw std::runtime_error("disque plein"); });
    Protect([] { throw 42; });
    ASSERT_EQ(boxes.errors.size(), 2u);
    EXPECT_EQ(boxes.errors[0].text, QStringLiteral("disque plein."));
    EXPECT_EQ(boxes.errors[1].text, QStringLiteral("Exception inconnue."));
}

// An event that fails outside any handler of ours reaches the application object's net.
class ThrowingObject : public QObject {
public:
    bool abort = false;

protected:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        if (abort) Abort();
        throw Exception(QStringLiteral("Touche refusée"));
    }
};

TEST(ErrorBox, TheApplicationCatchesWhatEscapesAnEvent) {
    BoxRecorder boxes;
    ThrowingObject target;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QApplication::sendEvent(&target, &event));
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_EQ(boxes.errors[0].text, QStringLiteral("Touche refusée."));
    target.abort = true;
    QApplication::sendEvent(&target, &event);
    EXPECT_EQ(boxes.errors.size(), 1u);
}

TEST(ErrorBox, ReleasesTheMouseCaptureBeforeShowing) {
    QWidget grabber;
    grabber.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grabber));
    grabber.grabMouse();
    ASSERT_EQ(QWidget::mouseGrabber(), &grabber);
    QWidget* grabberWhenShown = &grabber;
    BoxRecorder boxes;
    SetErrorBoxHandler(
        [&](const QString&, const QString&) { grabberWhenShown = QWidget::mouseGrabber(); });
    Protect([] { throw Exception(QStringLiteral("x")); });
    EXPECT_EQ(grabberWhenShown, nullptr);
}

// The real boxes, answered by a timer the way a user would press a button.
namespace {

int AnswerRealBox(TMessageKind kind, const QString& buttonText, QString* caption,
                  QString* defaultText) {
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        *caption = box->windowTitle();
        if (box->defaultButton()) *defaultText = box->defaultButton()->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == buttonText) b->click();
    });
    return AfficherMessage(QStringLiteral("Question ?"), kind);
}

} // namespace

TEST(MessageBoxes, ReturnTheCodeOfTheButtonPressed) {
    QString caption, defaultText;
    EXPECT_EQ(
        AnswerRealBox(TMessageKind::Information, QStringLiteral("OK"), &caption, &defaultText),
        IDOK);
    EXPECT_EQ(caption, QStringLiteral("Informations"));
    EXPECT_EQ(defaultText, QStringLiteral("OK"));

    EXPECT_EQ(
        AnswerRealBox(TMessageKind::Confirmation, QStringLiteral("&Oui"), &caption, &defaultText),
        IDYES);
    EXPECT_EQ(caption, QStringLiteral("Confirmer"));
    EXPECT_EQ(defaultText, QStringLiteral("&Oui"));
    EXPECT_EQ(
        AnswerRealBox(TMessageKind::Confirmation, QStringLiteral("&Non"), &caption, &defaultText),
        IDNO);
}

TEST(MessageBoxes, RealErrorBoxShowsTheMessageWithTheApplicationTitleAndStopIcon) {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->buttons().first()->click();
    });
    Protect([] { throw Exception(QStringLiteral("Connexion perdue")); });
    EXPECT_EQ(caption, QStringLiteral("test_gui"));
    EXPECT_EQ(text, QStringLiteral("Connexion perdue."));
    EXPECT_EQ(icon, QMessageBox::Critical);
}

// The boxes show a message as the characters it holds: a text the user typed into a branch code
// comes back in the conversion error, and "<b>" there is no markup. What the box shows is read
// as a screen reader reads its label.
TEST(MessageBoxes, AMessageIsShownAsPlainText) {
    const auto shown = [](const std::function<void()>& open) {
        QString seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
                if (QAccessibleInterface* a = QAccessible::queryAccessibleInterface(label))
                    seen = a->text(QAccessible::Name);
            box->buttons().first()->click();
        });
        open();
        return seen;
    };
    EXPECT_EQ(shown([] { Protect([] { StrToInt(QStringLiteral("<b>12")); }); }),
              QStringLiteral("'<b>12' n'est pas une valeur entière correcte."));
    EXPECT_EQ(shown([] {
                  AfficherMessage(QStringLiteral("<i>BANQUE</i> & CIE"), TMessageKind::Information);
              }),
              QStringLiteral("<i>BANQUE</i> & CIE"));
}

// The toolkit's own dialogs speak French like the program: its translations are loaded by the
// application object.
TEST(TraductionsQt, StandardButtonsAreInFrench) {
    QDialogButtonBox boutons(QDialogButtonBox::Cancel | QDialogButtonBox::Yes |
                             QDialogButtonBox::No | QDialogButtonBox::Save |
                             QDialogButtonBox::Close);
    QStringList textes;
    for (const auto b : {QDialogButtonBox::Cancel, QDialogButtonBox::Yes, QDialogButtonBox::No,
                         QDialogButtonBox::Save, QDialogButtonBox::Close})
        textes << boutons.button(b)->text().remove(u'&');
    EXPECT_EQ(textes.join(u'|').toStdString(), "Annuler|Oui|Non|Enregistrer|Fermer");
}
