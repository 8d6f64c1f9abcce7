#pragma once

#include <QDialog>

namespace velmo {

// The turnover chart. Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm15 : public QDialog {
    Q_OBJECT
public:
    explicit TForm15(QWidget* parent = nullptr);
};

} // namespace velmo
