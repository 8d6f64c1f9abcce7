#pragma once

#include "ftp/EventPump.h"

// The event pump's hook for a program with a Qt event loop: a wait of the socket layer blocks in
// Qt's own event processing, so windows repaint, Qt timers fire and clicks arrive while an FTP
// operation waits for the network, and nothing spins while nothing happens.
namespace velmo {

// Waits on fds with one QSocketNotifier per descriptor and a single-shot timer of timeoutMs (none
// for -1), processing Qt's events meanwhile. Returns after one batch of events; the pump calls back
// when the wait's condition does not hold yet.
void qtEventPump(std::span<pollfd> fds, int timeoutMs);

// Installs qtEventPump for the calling thread's waits (which must be the thread of the
// QCoreApplication).
void installQtEventPump();

} // namespace velmo
