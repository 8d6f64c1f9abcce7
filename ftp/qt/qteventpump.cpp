#include "ftp/qt/qteventpump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <vector>

namespace velmo {

void qtEventPump(std::span<pollfd> fds, int timeoutMs) {
    if (timeoutMs == 0) {
        QCoreApplication::processEvents();
        return;
    }
    // WaitForMoreEvents returns once something was processed. A notifier or the timer firing is such
    // an event, so a ready descriptor or an elapsed time ends the wait even when nothing else is
    // pending. The notifiers are disabled as soon as one fires, because a level-triggered notifier
    // would otherwise fire again in the same batch.
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
    notifiers.reserve(fds.size());
    for (const pollfd& p : fds) {
        const auto type = (p.events & POLLOUT) ? QSocketNotifier::Write : QSocketNotifier::Read;
        auto n = std::make_unique<QSocketNotifier>(p.fd, type);
        QObject::connect(n.get(), &QSocketNotifier::activated, n.get(), [&notifiers] {
            for (auto& each : notifiers)
                each->setEnabled(false);
        });
        notifiers.push_back(std::move(n));
    }
    QTimer timer;
    if (timeoutMs > 0) {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        timer.start(timeoutMs);
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // A batch may end without the wait's own condition (a repaint, a posted event); the pump looks
    // at its flags and calls again, so one batch per call is all that is needed.
}

void installQtEventPump() {
    setEventPumpHook(qtEventPump);
}

} // namespace velmo
