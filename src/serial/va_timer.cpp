#include "serial/va_timer.h"

TVaTimer::TVaTimer() {
    mTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&mTimer, &QTimer::timeout, [this]() { Fire(); });
}

TVaTimer::~TVaTimer() {
    mTimer.stop();
}

void TVaTimer::SetEnabled(bool value) {
    if (value == mEnabled) return;
    mEnabled = value;
    UpdateTimer();
}

void TVaTimer::SetInterval(int ms) {
    if (ms == mInterval) return;
    mInterval = ms;
    UpdateTimer();
}

void TVaTimer::SetOnTimer(TimerEvent handler) {
    mOnTimer = std::move(handler);
    UpdateTimer();
}

void TVaTimer::UpdateTimer() {
    mTimer.stop();
    if (!mEnabled || mInterval <= 0 || !mOnTimer) return;
    mTimer.start(mInterval);
    // QObject::startTimer hands out ids above 0; 0 means the system had no timer to give (for
    // example a thread without an event dispatcher).
    if (mTimer.timerId() <= 0) {
        mTimer.stop();
        throw EOutOfResources("No timer resources available.");
    }
}

void TVaTimer::Fire() {
    if (!mEnabled || !mOnTimer) return;
    // A copy: the handler may replace OnTimer or destroy the timer's owner (and so the timer).
    TimerEvent handler = mOnTimer;
    // An error must not leave through the event loop: it goes to the layer's exception handler.
    try {
        handler(this);
    } catch (...) {
        VaReportException(mExceptionHandler, QStringLiteral("TVaTimer.OnTimer"));
    }
}
