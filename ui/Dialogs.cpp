#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <utility>

namespace {

TMessageBoxHandler& MessageBoxHandler() {
    static TMessageBoxHandler handler;
    return handler;
}

TSaveFileHandler& SaveFileHandler() {
    static TSaveFileHandler handler;
    return handler;
}

TOpenFileHandler& OpenFileHandler() {
    static TOpenFileHandler handler;
    return handler;
}

TErrorBoxHandler& ErrorBoxHandler() {
    static TErrorBoxHandler handler;
    return handler;
}

void CentreOnScreen(QMessageBox& box) {
    box.adjustSize();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = box.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    box.move(frame.topLeft());
}

// Messages carry what users typed and what the database holds: a "<b>" in them is text, which
// the box would otherwise take for markup and drop.
void SetPlainText(QMessageBox& box, const QString& texte) {
    box.setTextFormat(Qt::PlainText);
    box.setText(texte);
}

int ShowRealMessageBox(const QString& texte, const QString& caption, TMessageKind kind) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(caption);
    SetPlainText(box, texte);
    if (kind == TMessageKind::Information) {
        box.setIcon(QMessageBox::Information);
        QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        CentreOnScreen(box);
        box.exec();
        return IDOK;
    }
    box.setIcon(QMessageBox::Question);
    QPushButton* oui = box.addButton(QStringLiteral("&Oui"), QMessageBox::YesRole);
    QPushButton* non = box.addButton(QStringLiteral("&Non"), QMessageBox::NoRole);
    box.setDefaultButton(oui);
    box.setEscapeButton(non);
    CentreOnScreen(box);
    box.exec();
    return box.clickedButton() == oui ? IDYES : IDNO;
}

void ShowRealErrorBox(const QString& texte, const QString& caption) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(caption);
    SetPlainText(box, texte);
    box.setIcon(QMessageBox::Critical);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    CentreOnScreen(box);
    box.exec();
}

} // namespace

QString MessageCaption(TMessageKind kind) {
    return kind == TMessageKind::Information ? QStringLiteral("Informations")
                                             : QStringLiteral("Confirmer");
}

int AfficherMessage(const QString& texte, TMessageKind kind) {
    const QString caption = MessageCaption(kind);
    if (MessageBoxHandler()) return MessageBoxHandler()(texte, caption, kind);
    return ShowRealMessageBox(texte, caption, kind);
}

void AfficherErreur(const QString& texte) {
    const QString caption = TitreApplication();
    if (ErrorBoxHandler())
        ErrorBoxHandler()(texte, caption);
    else
        ShowRealErrorBox(texte, caption);
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
    return std::exchange(MessageBoxHandler(), std::move(handler));
}

TErrorBoxHandler SetErrorBoxHandler(TErrorBoxHandler handler) {
    return std::exchange(ErrorBoxHandler(), std::move(handler));
}

QString TitreApplication(const QString& executablePath) {
    QString name = QFileInfo(executablePath).fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0) name.truncate(dot);
    if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString TitreApplication() {
    return TitreApplication(QCoreApplication::applicationFilePath());
}

QString TexteErreur(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + QLatin1Char('.');
    return message;
}

QString ChoisirFichierEnregistrement(const QString& titre, const QString& proposition) {
    if (SaveFileHandler()) return SaveFileHandler()(titre, proposition);
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), titre, proposition,
                                        QStringLiteral("Fichiers CSV (*.csv)"));
}

TSaveFileHandler SetSaveFileHandler(TSaveFileHandler handler) {
    return std::exchange(SaveFileHandler(), std::move(handler));
}

QString ChoisirFichierOuverture(const QString& titre, const QString& dossier) {
    if (OpenFileHandler()) return OpenFileHandler()(titre, dossier);
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), titre, dossier,
                                        QStringLiteral("Fichiers CSV (*.csv)"));
}

TOpenFileHandler SetOpenFileHandler(TOpenFileHandler handler) {
    return std::exchange(OpenFileHandler(), std::move(handler));
}
