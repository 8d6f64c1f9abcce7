#pragma once

#include <QDialog>

namespace velmo {

// The new-directory dialog. Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm13 : public QDialog {
    Q_OBJECT
public:
    explicit TForm13(QWidget* parent = nullptr);
};

} // namespace velmo
