#pragma once

#include <QDialog>

namespace velmo {

// The invoice layout (never shown itself). Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm8 : public QDialog {
    Q_OBJECT
public:
    explicit TForm8(QWidget* parent = nullptr);
};

} // namespace velmo
