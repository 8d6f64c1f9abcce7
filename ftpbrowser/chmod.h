#pragma once

#include <QDialog>

namespace velmo {

// The permissions dialog. Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm12 : public QDialog {
    Q_OBJECT
public:
    explicit TForm12(QWidget* parent = nullptr);
};

} // namespace velmo
