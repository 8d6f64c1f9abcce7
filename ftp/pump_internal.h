#pragma once

// Registries the event pump keeps for the calling thread; used by the timer and the sessions only.
namespace velmo {
class TThreadTimer;
class TSockSession;
} // namespace velmo

namespace velmo::pump_detail {

void timerArmed(TThreadTimer* timer);
void timerDisarmed(TThreadTimer* timer);
void sessionCreated(TSockSession* session);
void sessionDestroyed(TSockSession* session);

} // namespace velmo::pump_detail
