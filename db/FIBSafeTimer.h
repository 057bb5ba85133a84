// The periodic timer behind transaction timeouts. Its ticks always run on the program's main
// thread, between the events of its loop, so a timeout never cuts into a client call in progress.
#pragma once

#include "Classes.h"

#include <memory>

class QTimer;

class TFIBCustomTimer : public TComponent {
public:
    explicit TFIBCustomTimer(TComponent* AOwner = nullptr);
    ~TFIBCustomTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    // Milliseconds; changing it on an enabled timer starts the period afresh.
    int Interval() const { return FInterval; }
    void SetInterval(int value);
    // A tick arriving on another thread is handed to the main thread, which runs it while the
    // other thread waits; without it such a tick runs where it arrived.
    bool Synchronizing() const { return FSynchronizing; }
    void SetSynchronizing(bool value) { FSynchronizing = value; }

    TNotifyEvent OnTimer;

    // Runs one tick as the timer would; public so that a caller on any thread can drive it.
    void Tick();

private:
    void UpdateTimer();
    void DoTimer();

    std::unique_ptr<QTimer> FTimer;
    bool FEnabled = false;
    int FInterval = 1000;
    bool FSynchronizing = true;
};
