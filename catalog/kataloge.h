#pragma once

#include <QDialog>

namespace velmo {

// The catalog editor. Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
};

} // namespace velmo
