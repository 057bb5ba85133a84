#include "Application.h"

#include "Dialogs.h"
#include "SysUtils.h"

#include <QWidget>

void HandleException(std::exception_ptr error) {
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        return;
    } catch (const Exception& e) {
        message = e.Message();
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("Exception inconnue");
    }
    AfficherErreur(TexteErreur(message));
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException(std::current_exception());
        return false;
    }
}
