#include "Application.h"

#include "Dialogs.h"
#include "SysUtils.h"

#include <QAbstractButton>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

#ifdef Q_OS_UNIX
#include <csignal>
#include <cstdio>
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
    // While the program ends, a modal box would hold the termination's own step (a timer's tick
    // never comes again while its handler runs) and nobody is there to answer it.
    if (TerminationRequested()) {
        const QByteArray texte =
            (TitreApplication() + QStringLiteral(" : ") +
             TexteErreur(message).replace(QStringLiteral("\r\n"), QStringLiteral("\n")))
                .toUtf8() +
            '\n';
        std::fwrite(texte.constData(), 1, size_t(texte.size()), stderr);
        std::fflush(stderr);
        return;
    }
    AfficherErreur(TexteErreur(message));
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The toolkit's own texts (standard buttons, file dialogs) in French like the program's.
    // Without the translations installed they stay in English, which is no reason to stop.
    auto* qt = new QTranslator(this);
    if (qt->load(QLocale(QLocale::French, QLocale::France), QStringLiteral("qtbase"),
                 QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(qt);
}

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
volatile std::sig_atomic_t TerminationSignalled = 0;

// The last resort: a client call that blocks the main thread (a server that accepts and never
// answers) lets no event loop run, so the orderly closing cannot even begin. An alarm set by the
// first signal ends the process as the signal itself would have.
extern "C" void OnTerminationOverdue(int) {
    static const char message[] =
        "ravelin: arrêt ordonné non terminé à temps, fin immédiate du programme\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
    _exit(128 + TerminationSignalled);
}

extern "C" void OnTermination(int signal) {
    if (TerminationSignalled == 0) {
        TerminationSignalled = signal;
        alarm(TApplication::TerminationWatchdog);
    }
    const char signalled = 1;
    [[maybe_unused]] const ssize_t written = write(TerminationPipe[1], &signalled, 1);
}

void InstallTerminationHandlers() {
    struct sigaction action = {};
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    struct sigaction overdue = {};
    overdue.sa_handler = OnTerminationOverdue;
    sigemptyset(&overdue.sa_mask);
    sigaction(SIGALRM, &overdue, nullptr);
}

} // namespace

void ReinstallTerminationHandlers() {
    if (TerminationPipe[0] >= 0) InstallTerminationHandlers();
}

bool TerminationRequested() {
    return TerminationSignalled != 0;
}

void TApplication::CloseOnTermination(QWidget* window) {
    FTerminationWindow = window;
    if (TerminationPipe[0] < 0) {
        if (pipe2(TerminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
        auto* notifier = new QSocketNotifier(TerminationPipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char drained[16];
            while (read(TerminationPipe[0], drained, sizeof drained) > 0) {
            }
            BeginTermination();
        });
    }
    // Put in again at each call: the client library puts in handlers of its own at its first
    // attach, which would take these signals from us.
    InstallTerminationHandlers();
}
#else
bool TerminationRequested() {
    return false;
}

void ReinstallTerminationHandlers() {}

void TApplication::CloseOnTermination(QWidget* window) {
    FTerminationWindow = window;
}
#endif

void TApplication::BeginTermination() {
    if (FTerminating) return;
    FTerminating = true;
    FTerminationClock.start();
    // A timer rather than one pass: its ticks reach whatever event loop runs, a dialog's
    // included, and each tick closes the innermost thing still open; what a closed dialog's
    // caller does next (another box, the end of a run) is met by the following ticks.
    FTerminationTimer = new QTimer(this);
    FTerminationTimer->setInterval(20);
    connect(FTerminationTimer, &QTimer::timeout, this, [this] { TerminationStep(); });
    FTerminationTimer->start();
    TerminationStep();
}

namespace {

// Closes a modal dialog the way its user cancels it.
void CancelDialog(QWidget* modal) {
    if (auto* progress = qobject_cast<QProgressDialog*>(modal)) {
        progress->cancel();
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        if (QAbstractButton* escape = box->escapeButton()) {
            escape->click();
            return;
        }
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
        return;
    }
    modal->close();
}

} // namespace

void TApplication::TerminationStep() {
    if (FTerminationClock.elapsed() > TerminationDeadline) {
        // Something keeps refusing to close: every event loop is left and main returns, whose
        // objects then end their transactions and connections as they are destroyed. Asked
        // again at each tick: a loop entered since (the program's own) leaves as well.
        QCoreApplication::exit(0);
        return;
    }
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        return;
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        CancelDialog(modal);
        return;
    }
    QWidget* window = FTerminationWindow;
    if (!window) return;
    // A task that lets events through while it works shows its progress; stopped, it ends
    // after the item in hand and its dialog goes with it.
    const QList<QProgressDialog*> progress = window->findChildren<QProgressDialog*>();
    if (!progress.isEmpty()) {
        for (QProgressDialog* dialog : progress)
            if (!dialog->wasCanceled()) dialog->cancel();
        return;
    }
    // Inside a nested loop something is still under way beneath the window: wait for it.
    if (thread()->loopLevel() > 1) return;
    // A close refused with a message is tried again once the message has been answered.
    if (!window->close()) return;
    FTerminationTimer->stop();
    QCoreApplication::quit();
}
