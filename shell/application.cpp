#include "shell/application.h"

#include "shell/dialogs.h"

namespace velmo {

VelmoApplication::VelmoApplication(int& argc, char** argv, DialogSeam& dialogs)
    : QApplication(argc, argv), m_dialogs(dialogs) {}

bool VelmoApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    guarded(m_dialogs, [&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace velmo
