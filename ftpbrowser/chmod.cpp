#include "ftpbrowser/chmod.h"

namespace velmo {

TForm12::TForm12(QWidget* parent) : QDialog(parent) {
    setObjectName("Form12");
    setWindowTitle(QStringLiteral("Permissions"));
}

} // namespace velmo
