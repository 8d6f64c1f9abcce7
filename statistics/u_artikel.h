#pragma once

#include <QDialog>

namespace velmo {

// The article quantity chart. Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm14 : public QDialog {
    Q_OBJECT
public:
    explicit TForm14(QWidget* parent = nullptr);
};

} // namespace velmo
