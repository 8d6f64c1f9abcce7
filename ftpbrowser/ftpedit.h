#pragma once

#include <QDialog>

namespace velmo {

// The FTP browser window. Its controls and handlers are not built yet; the window exists so
// that start-up creates every window in its order.
class TForm11 : public QDialog {
    Q_OBJECT
public:
    explicit TForm11(QWidget* parent = nullptr);
};

} // namespace velmo
