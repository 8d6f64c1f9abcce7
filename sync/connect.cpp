#include "sync/connect.h"

namespace velmo {

TForm6::TForm6(QWidget* parent) : QDialog(parent) {
    setObjectName("Form6");
    setWindowTitle(QStringLiteral("Verbinden"));
}

} // namespace velmo
