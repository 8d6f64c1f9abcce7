#include "ftpbrowser/mkdir.h"

namespace velmo {

TForm13::TForm13(QWidget* parent) : QDialog(parent) {
    setObjectName("Form13");
    setWindowTitle(QStringLiteral("new Directory"));
}

} // namespace velmo
