#include "ftp/ThreadTimer.h"

#include "ftp/pump_internal.h"

namespace velmo {

TThreadTimer::TThreadTimer() = default;

TThreadTimer::~TThreadTimer() {
    if (m_armed)
        pump_detail::timerDisarmed(this);
}

void TThreadTimer::SetEnabled(bool value) {
    if (value == m_enabled)
        return;
    m_enabled = value;
    rearm();
}

void TThreadTimer::SetInterval(unsigned milliseconds) {
    if (milliseconds == m_interval)
        return;
    m_interval = milliseconds;
    rearm();
}

void TThreadTimer::SetOnTimer(TTimerEvent handler) {
    m_onTimer = std::move(handler);
    rearm();
}

void TThreadTimer::rearm() {
    if (m_armed) {
        m_armed = false;
        pump_detail::timerDisarmed(this);
    }
    if (m_interval != 0 && m_enabled && m_onTimer) {
        m_armed = true;
        m_due = PumpClock::now() + std::chrono::milliseconds(m_interval);
        pump_detail::timerArmed(this);
    }
}

void TThreadTimer::fire() {
    // Periodic: the next tick is one interval after this one is handled.
    m_due = PumpClock::now() + std::chrono::milliseconds(m_interval);
    auto handler = m_onTimer; // the handler may replace or destroy it
    try {
        if (handler)
            handler(*this);
    } catch (...) {
        reportUncaughtError(std::current_exception());
    }
}

} // namespace velmo
