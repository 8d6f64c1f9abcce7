#pragma once

#include <QApplication>

namespace velmo {

class DialogSeam;

// The application object. Every event handler, slot and timer callback runs below notify(), so an
// exception that a handler lets escape ends that action in the standard error box of the program's
// seam instead of reaching Qt.
class VelmoApplication : public QApplication {
public:
    VelmoApplication(int& argc, char** argv, DialogSeam& dialogs);
    bool notify(QObject* receiver, QEvent* event) override;

private:
    DialogSeam& m_dialogs;
};

// For the start-up benchmark: with VELMO_STARTUP_PROBE set in the environment, the first paint of
// window writes "painted" to standard output and ends the program at once. Without it, nothing.
void probeFirstPaint(QWidget& window);

} // namespace velmo
