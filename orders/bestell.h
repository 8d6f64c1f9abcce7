#pragma once

#include <QDialog>

namespace velmo {

// The order window. Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm7 : public QDialog {
    Q_OBJECT
public:
    explicit TForm7(QWidget* parent = nullptr);
};

} // namespace velmo
