#include "ftp/EventPump.h"

#include "ftp/ThreadTimer.h"
#include "ftp/pump_internal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace velmo {

namespace {

// Everything runs on one thread; a second thread (a test's server, say) gets registries of its own.
struct PumpState {
    EventPumpHook hook;
    UncaughtErrorHandler uncaught;
    std::vector<TThreadTimer*> timers;
    std::vector<pump_detail::PumpListener*> listeners;
    std::vector<pollfd> fds;
    int wakeFd = -1;
    bool wakePending = false;
    int hookDepth = 0;

    ~PumpState() {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
};

PumpState& state() {
    thread_local PumpState s;
    return s;
}

int wakeDescriptor() {
    auto& s = state();
    if (s.wakeFd < 0)
        s.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return s.wakeFd;
}

void drainWake() {
    auto& s = state();
    if (!s.wakePending || s.wakeFd < 0)
        return;
    s.wakePending = false;
    eventfd_t value;
    (void)::eventfd_read(s.wakeFd, &value);
}

bool contains(const std::vector<pump_detail::PumpListener*>& v, pump_detail::PumpListener* p) {
    return std::find(v.begin(), v.end(), p) != v.end();
}

void fireDueTimers() {
    auto& s = state();
    if (s.timers.empty())
        return;
    const auto now = PumpClock::now();
    std::vector<TThreadTimer*> due;
    for (auto* t : s.timers)
        if (t->due() <= now)
            due.push_back(t);
    for (auto* t : due) {
        // An earlier handler may have stopped or destroyed this one.
        if (std::find(s.timers.begin(), s.timers.end(), t) == s.timers.end() || t->due() > now)
            continue;
        t->fire();
    }
}

void notifyListeners() {
    auto& s = state();
    if (s.listeners.empty())
        return;
    // A listener's handlers may add or remove listeners.
    const auto snapshot = s.listeners;
    for (auto* listener : snapshot)
        if (contains(s.listeners, listener))
            listener->pumpPassed();
}

} // namespace

void setEventPumpHook(EventPumpHook hook) {
    state().hook = std::move(hook);
}

void pollEventPump(std::span<pollfd> fds, int timeoutMs) {
    if (timeoutMs == 0)
        return;
    // EINTR simply ends this pass; the caller looks at its flags and comes back.
    (void)::poll(fds.data(), fds.size(), timeoutMs);
}

void processPendingEvents(std::span<const pollfd> fds, std::optional<PumpClock::time_point> until) {
    auto& s = state();
    auto limit = until;
    for (auto* t : s.timers)
        if (!limit || t->due() < *limit)
            limit = t->due();
    int timeoutMs = -1;
    if (limit) {
        const auto left = *limit - PumpClock::now();
        timeoutMs = left <= PumpClock::duration::zero()
                        ? 0
                        : static_cast<int>(std::min<long long>(
                              std::chrono::ceil<std::chrono::milliseconds>(left).count(), 1 << 30));
    }
    if (s.wakePending)
        timeoutMs = 0;

    // A nested pass (a handler that waits) must not clobber the list the outer hook still uses.
    std::vector<pollfd> local;
    std::vector<pollfd>& list = s.hookDepth == 0 ? s.fds : local;
    list.assign(fds.begin(), fds.end());
    for (auto& p : list)
        p.revents = 0;
    list.push_back(pollfd{wakeDescriptor(), POLLIN, 0});

    ++s.hookDepth;
    try {
        if (s.hook)
            s.hook(std::span<pollfd>(list), timeoutMs);
        else
            pollEventPump(std::span<pollfd>(list), timeoutMs);
    } catch (...) {
        --s.hookDepth;
        throw;
    }
    --s.hookDepth;
    drainWake();
    fireDueTimers();
    notifyListeners();
}

void processPendingEvents() {
    processPendingEvents({}, PumpClock::now());
}

void wakeEventPump() {
    auto& s = state();
    if (s.wakePending)
        return;
    s.wakePending = true;
    (void)::eventfd_write(wakeDescriptor(), 1);
}

void setUncaughtErrorHandler(UncaughtErrorHandler handler) {
    state().uncaught = std::move(handler);
}

void reportUncaughtError(const std::exception_ptr& error) {
    auto& s = state();
    if (s.uncaught) {
        try {
            s.uncaught(error);
        } catch (...) {
        }
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unknown error in a timer handler\n");
    }
}

namespace pump_detail {

void timerArmed(TThreadTimer* timer) {
    auto& s = state();
    if (std::find(s.timers.begin(), s.timers.end(), timer) == s.timers.end())
        s.timers.push_back(timer);
    // A hook that is blocking right now computed its limit without this timer.
    if (s.hookDepth > 0)
        wakeEventPump();
}

void timerDisarmed(TThreadTimer* timer) {
    auto& s = state();
    s.timers.erase(std::remove(s.timers.begin(), s.timers.end(), timer), s.timers.end());
}

void listenerAdded(PumpListener* listener) {
    state().listeners.push_back(listener);
}

void listenerRemoved(PumpListener* listener) {
    auto& s = state();
    s.listeners.erase(std::remove(s.listeners.begin(), s.listeners.end(), listener), s.listeners.end());
}

} // namespace pump_detail

} // namespace velmo
