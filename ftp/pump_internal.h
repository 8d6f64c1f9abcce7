#pragma once

// Registries the event pump keeps for the calling thread; used by the timer and the sessions only.
namespace velmo {
class TThreadTimer;
} // namespace velmo

namespace velmo::pump_detail {

// Told after every pass of the pump, so it can look at what happened to its sockets.
class PumpListener {
public:
    virtual void pumpPassed() = 0;

protected:
    ~PumpListener() = default;
};

void timerArmed(TThreadTimer* timer);
void timerDisarmed(TThreadTimer* timer);
void listenerAdded(PumpListener* listener);
void listenerRemoved(PumpListener* listener);

} // namespace velmo::pump_detail
