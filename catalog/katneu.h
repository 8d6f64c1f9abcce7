#pragma once

#include <QDialog>

namespace velmo {

// The new-catalog-name prompt. Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
};

} // namespace velmo
