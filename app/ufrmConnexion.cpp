#include "ufrmConnexion.h"

#include "SysUtils.h"
#include "fib.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLineEdit* ChampLecture(QWidget* parent, const char* name, const QString& texte) {
    auto* edit = new QLineEdit(texte, parent);
    edit->setObjectName(QLatin1String(name));
    edit->setReadOnly(true);
    // Shown for the user to check, not to edit or tab through.
    edit->setFocusPolicy(Qt::NoFocus);
    edit->setCursorPosition(0);
    // The window's colour behind them: only the password is for typing.
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Window));
    edit->setPalette(pal);
    return edit;
}

// The words of the server: for its own failures the messages of the status vector, without the
// path of the component that raised them, which means nothing to the user of this dialog.
QString TexteEchec(std::exception_ptr erreur) {
    try {
        std::rethrow_exception(erreur);
    } catch (const EFIBInterBaseError& e) {
        const QString messages = e.IBMessage().trimmed();
        return messages.isEmpty() ? e.Message().trimmed() : messages;
    } catch (const Exception& e) {
        return e.Message().trimmed();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Exception inconnue");
    }
}

} // namespace

TfrmConnexion::TfrmConnexion(const QString& serveur, const QString& utilisateur,
                             TConnecter connecter, QWidget* parent)
    : QDialog(parent), FConnecter(std::move(connecter)) {
    setObjectName(QStringLiteral("frmConnexion"));
    setWindowTitle(QStringLiteral("Connexion à la base"));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    edtServeur = ChampLecture(this, "edtServeur", serveur);
    edtUtilisateur = ChampLecture(this, "edtUtilisateur", utilisateur);
    edtMotDePasse = new QLineEdit(this);
    edtMotDePasse->setObjectName(QStringLiteral("edtMotDePasse"));
    edtMotDePasse->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Serveur"), edtServeur);
    form->addRow(QStringLiteral("Utilisateur"), edtUtilisateur);
    form->addRow(QStringLiteral("Mot de passe"), edtMotDePasse);
    layout->addLayout(form);

    lblErreur = new QLabel(this);
    lblErreur->setObjectName(QStringLiteral("lblErreur"));
    lblErreur->setTextFormat(Qt::PlainText);
    lblErreur->setWordWrap(true);
    QPalette pal = lblErreur->palette();
    pal.setColor(QPalette::WindowText, QColor(0xB0, 0, 0));
    lblErreur->setPalette(pal);
    lblErreur->hide();
    layout->addWidget(lblErreur);

    auto* boutons = new QDialogButtonBox(this);
    btnConnecter = boutons->addButton(QStringLiteral("Se connecter"), QDialogButtonBox::AcceptRole);
    btnConnecter->setObjectName(QStringLiteral("btnConnecter"));
    btnConnecter->setDefault(true);
    btnAnnuler = boutons->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
    btnAnnuler->setObjectName(QStringLiteral("btnAnnuler"));
    // The accept role is ours to handle: the dialog is accepted only once attached.
    connect(btnConnecter, &QPushButton::clicked, this, &TfrmConnexion::btnConnecterClick);
    connect(btnAnnuler, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(boutons);
    // Whatever side the desktop puts the buttons on: typed, then connected, else cancelled.
    setTabOrder(edtMotDePasse, btnConnecter);
    setTabOrder(btnConnecter, btnAnnuler);

    setMinimumWidth(420);
    edtMotDePasse->setFocus();
}

TfrmConnexion::~TfrmConnexion() {
    // Whatever was typed and not sent goes with the dialog.
    edtMotDePasse->setText(QString());
}

void TfrmConnexion::btnConnecterClick() {
    QString motDePasse = edtMotDePasse->text();
    // setText, unlike clear, also drops the edit's undo history, which holds every character
    // typed; the text above is then the only holder of the password.
    edtMotDePasse->setText(QString());
    if (!IsLatin1(motDePasse)) {
        WipeText(motDePasse);
        // The connection's own message would name the character and its position.
        lblErreur->setText(QStringLiteral("Le mot de passe contient un caractère que la "
                                          "connexion ne peut pas transmettre."));
        lblErreur->show();
        edtMotDePasse->setFocus();
        return;
    }
    std::exception_ptr echec;
    try {
        FConnecter(motDePasse);
    } catch (...) {
        echec = std::current_exception();
    }
    WipeText(motDePasse);
    if (!echec) {
        accept();
        return;
    }
    lblErreur->setText(TexteEchec(echec));
    lblErreur->show();
    adjustSize();
    edtMotDePasse->setFocus();
}
