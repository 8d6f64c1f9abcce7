#pragma once

#include <QApplication>

namespace velmo {

// The application object. Every event handler, slot and timer callback runs below notify(), so an
// exception that a handler lets escape ends that action in the standard error box instead of
// reaching Qt.
class VelmoApplication : public QApplication {
public:
    VelmoApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace velmo
