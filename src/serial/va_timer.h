#pragma once
// A window-message timer: raises OnTimer on the thread that created it (the main thread) every
// Interval milliseconds.
#include "serial/comm_error.h"

#include <QTimer>
#include <functional>
#include <stdexcept>

// Raised when the system cannot give a timer.
class EOutOfResources : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TVaTimer {
public:
    using TimerEvent = std::function<void(TVaTimer* sender)>;

    TVaTimer();
    ~TVaTimer();
    TVaTimer(const TVaTimer&) = delete;
    TVaTimer& operator=(const TVaTimer&) = delete;

    // The timer runs only while Enabled is true, Interval is above 0 and OnTimer is set; changing
    // any of the three restarts it. Each setter raises EOutOfResources ("No timer resources
    // available.") when the timer should run but the system has none to give.
    bool Enabled() const { return mEnabled; }
    void SetEnabled(bool value);
    int Interval() const { return mInterval; }
    void SetInterval(int ms);
    const TimerEvent& OnTimer() const { return mOnTimer; }
    void SetOnTimer(TimerEvent handler);

    // True while the underlying timer is counting.
    bool IsRunning() const { return mTimer.isActive(); }
    // Where an error raised by OnTimer goes (see TVaExceptionHandler).
    void SetExceptionHandler(TVaExceptionHandler handler) { mExceptionHandler = std::move(handler); }

private:
    void UpdateTimer();
    void Fire();

    QTimer mTimer;
    bool mEnabled = true;
    int mInterval = 1000;
    TimerEvent mOnTimer;
    TVaExceptionHandler mExceptionHandler;
};
