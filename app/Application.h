// The program's application object and the one way exceptions that escape an event handler
// reach the user.
#pragma once

#include <QApplication>

#include <exception>
#include <utility>

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

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    // The last net: an exception that escapes an event the toolkit delivers is shown like any
    // other instead of ending the program.
    bool notify(QObject* receiver, QEvent* event) override;

    // SIGTERM (a session's end, a service manager, `kill`) and SIGINT close the window as its
    // user would, which ends the reading transaction and disconnects. Call it once the window
    // has connected: by then the client library has put in handlers of its own for both, which
    // drop the program's attachments and leave it running without a connection.
    void CloseOnTermination(QWidget* window);
};
