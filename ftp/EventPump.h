#pragma once

#include <poll.h>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <span>

// Every wait of the socket layer is a loop whose passes go through one event pump. The pump hands the
// descriptors the wait is interested in to a settable hook, which blocks until one of them is ready
// or the time is up, and may process the application's pending events meanwhile (the program plugs
// in Qt's event processing here; tools and tests use plain poll()). After the hook returns, the pump
// fires the timers that are due and lets the socket sessions notice what happened to them (a peer
// that closed, an incoming connection). Timers fire nowhere else.
namespace velmo {

using PumpClock = std::chrono::steady_clock;

// Blocks until one of fds becomes ready or timeoutMs milliseconds have passed (-1: no limit). It may
// return earlier at any time, for example after it processed an application event: callers test
// their conditions again and call back. revents need not be filled in. fds always ends with the
// pump's wake-up descriptor, which becomes readable when a handler run by the hook cancels a wait
// or arms a timer, so that the hook returns and the wait looks at its flags again.
//
// A Qt event loop can serve as the hook like this: for a timeout of 0 call
// QCoreApplication::processEvents(); otherwise put a QSocketNotifier on each descriptor (Write for
// POLLOUT, else Read) and a single-shot QTimer of timeoutMs (none for -1), then call
// QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents) once and drop them again.
using EventPumpHook = std::function<void(std::span<pollfd> fds, int timeoutMs)>;

// Installs the hook for the calling thread's waits; an empty function restores pollEventPump.
void setEventPumpHook(EventPumpHook hook);

// The plain hook: poll() on the descriptors; returns at once for a timeout of 0.
void pollEventPump(std::span<pollfd> fds, int timeoutMs);

// One pass of a wait: the hook blocks on fds at most until `until` (and the next due timer; no
// `until` and no timer means no limit), then the due timers fire and the sessions take notice.
void processPendingEvents(std::span<const pollfd> fds, std::optional<PumpClock::time_point> until);

// One pass that does not wait: pending events are processed, due timers fire.
void processPendingEvents();

// Makes a running hook return (used by Cancel and by timers armed inside a handler).
void wakeEventPump();

// Exceptions escaping a timer handler go here (the application's handler for uncaught errors). The
// default writes the message to stderr.
using UncaughtErrorHandler = std::function<void(std::exception_ptr)>;
void setUncaughtErrorHandler(UncaughtErrorHandler handler);
void reportUncaughtError(const std::exception_ptr& error);

} // namespace velmo
