#include "FIBSafeTimer.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

TFIBCustomTimer::TFIBCustomTimer(TComponent* AOwner) : TComponent(AOwner) {}

TFIBCustomTimer::~TFIBCustomTimer() = default;

void TFIBCustomTimer::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    UpdateTimer();
}

void TFIBCustomTimer::SetInterval(int value) {
    if (value == FInterval) return;
    FInterval = value;
    UpdateTimer();
}

void TFIBCustomTimer::UpdateTimer() {
    if (!FEnabled || FInterval <= 0) {
        if (FTimer) FTimer->stop();
        return;
    }
    // Created on first use: most timers of the program are never enabled, and a QTimer needs
    // the event loop of the thread that creates it.
    if (!FTimer) {
        FTimer = std::make_unique<QTimer>();
        // Qt's default coarse timer may fire up to 5 % early; a transaction must never end
        // before its full interval.
        FTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(FTimer.get(), &QTimer::timeout, [this] { DoTimer(); });
    }
    FTimer->start(FInterval);
}

void TFIBCustomTimer::DoTimer() {
    QCoreApplication* app = QCoreApplication::instance();
    if (FSynchronizing && app && QThread::currentThread() != app->thread()) {
        QMetaObject::invokeMethod(
            app, [this] { Tick(); }, Qt::BlockingQueuedConnection);
        return;
    }
    Tick();
}

void TFIBCustomTimer::Tick() {
    if (FEnabled && OnTimer) OnTimer(this);
}
