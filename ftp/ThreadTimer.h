#pragma once

#include "ftp/EventPump.h"

#include <functional>

namespace velmo {

class TThreadTimer;
using TTimerEvent = std::function<void(TThreadTimer& Sender)>;

// A periodic timer that fires only from inside the event pump. Setting a property to the value it
// already has does nothing; a real change (and assigning OnTimer) re-arms it: stop, then start when
// Interval is not 0, Enabled is true and OnTimer is assigned. So enabling a running timer again
// does not restart its period.
class TThreadTimer {
public:
    TThreadTimer();
    ~TThreadTimer();
    TThreadTimer(const TThreadTimer&) = delete;
    TThreadTimer& operator=(const TThreadTimer&) = delete;

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool value);
    unsigned Interval() const { return m_interval; }
    void SetInterval(unsigned milliseconds);
    const TTimerEvent& OnTimer() const { return m_onTimer; }
    void SetOnTimer(TTimerEvent handler);

    // Called by the event pump.
    bool armed() const { return m_armed; }
    PumpClock::time_point due() const { return m_due; }
    void fire();

private:
    void rearm();

    bool m_enabled = true;
    unsigned m_interval = 1000;
    TTimerEvent m_onTimer;
    bool m_armed = false;
    PumpClock::time_point m_due{};
};

} // namespace velmo
