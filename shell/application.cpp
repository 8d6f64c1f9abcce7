#include "shell/application.h"

#include "shell/dialogs.h"

namespace velmo {

VelmoApplication::VelmoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool VelmoApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace velmo
