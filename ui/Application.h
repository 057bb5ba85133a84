// The program's application object and the one way exceptions that escape an event handler
// reach the user.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>

#include <exception>
#include <utility>

class QTimer;
class QWidget;

// Shows the exception in flight in the error box: nothing for EAbort, the message with the
// "." rule otherwise. Call it only from a catch block. Any mouse capture is released first so
// that the box can be answered.
void HandleException(std::exception_ptr error);

// Runs an event handler; whatever escapes it is shown and the program carries on. Our handlers
// stop exceptions at their own boundary: unwinding through the toolkit's frames is not
// something the toolkit supports.
template <typename F> void Protect(F&& handler) {
    try {
        std::forward<F>(handler)();
    } catch (...) {
        HandleException(std::current_exception());
    }
}

// Wraps a handler for a signal connection.
template <typename F> auto Protected(F handler) {
    return [handler = std::move(handler)](auto&&...) { Protect(handler); };
}

// True once a termination signal has arrived, even before the event loop has seen it: a task
// that lets no events through for a while can still stop at its next step.
bool TerminationRequested();

// Takes SIGTERM and SIGINT back from the client library, which puts in handlers of its own at
// each attach (they drop every attachment before ours run, so the window could no longer roll
// back and disconnect in order). Nothing happens before CloseOnTermination.
void ReinstallTerminationHandlers();

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    // The last net: an exception that escapes an event the toolkit delivers is shown like any
    // other instead of ending the program.
    bool notify(QObject* receiver, QEvent* event) override;

    // SIGTERM (a session's end, a service manager, `kill`) and SIGINT end the program as its
    // user would, from the innermost dialog outwards: a dialog is closed as its cancel button
    // closes it, a message box gets its cancelling answer, a running task's progress dialog is
    // stopped as its button stops it, and once nothing is left open the window is closed, which
    // ends the reading transaction and disconnects. Call it before the window is made (with no
    // window: a signal during its creation, at its login dialog, is then ours too) and again
    // once it has connected: the client library puts in handlers of its own for both signals
    // at its first attach, which drop the program's attachments and leave it running without
    // a connection.
    void CloseOnTermination(QWidget* window);

    // What is left of a termination after this long is cut short: every event loop is left, so
    // that the program ends even if something keeps refusing to close.
    static constexpr int TerminationDeadline = 5000; // ms
    // Should the process still run this long after the first signal (a client call blocking the
    // main thread keeps every event loop from running), it exits at once with 128 + the signal.
    static constexpr unsigned TerminationWatchdog = 8; // s

private:
    void BeginTermination();
    void TerminationStep();

    QPointer<QWidget> FTerminationWindow;
    QTimer* FTerminationTimer = nullptr;
    QElapsedTimer FTerminationClock;
    bool FTerminating = false;
};
