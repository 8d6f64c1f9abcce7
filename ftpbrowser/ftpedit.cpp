#include "ftpbrowser/ftpedit.h"

namespace velmo {

TForm11::TForm11(QWidget* parent) : QDialog(parent) {
    setObjectName("Form11");
    setWindowTitle(QStringLiteral("FTP - Browser"));
}

} // namespace velmo
