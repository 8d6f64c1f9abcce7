#pragma once

#include <QDialog>

namespace velmo {

// The connect dialog. Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm6 : public QDialog {
    Q_OBJECT
public:
    explicit TForm6(QWidget* parent = nullptr);
};

} // namespace velmo
