#include "Application.h"

#include "Dialogs.h"
#include "SysUtils.h"

#include <QSocketNotifier>
#include <QWidget>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

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

#ifdef Q_OS_UNIX
namespace {

// The handler may only write: the closing itself runs in the event loop, woken by this pipe.
int TerminationPipe[2] = {-1, -1};

extern "C" void OnTermination(int) {
    const char signalled = 1;
    [[maybe_unused]] const ssize_t written = write(TerminationPipe[1], &signalled, 1);
}

} // namespace

void TApplication::CloseOnTermination(QWidget* window) {
    if (TerminationPipe[0] >= 0) return;
    if (pipe2(TerminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(TerminationPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, window, [window] {
        char drained[16];
        while (read(TerminationPipe[0], drained, sizeof drained) > 0) {
        }
        window->close();
    });
    struct sigaction action = {};
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
#else
void TApplication::CloseOnTermination(QWidget*) {}
#endif
