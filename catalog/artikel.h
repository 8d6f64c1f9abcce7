#pragma once

#include <QDialog>

namespace velmo {

// The article list window. Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
};

} // namespace velmo
