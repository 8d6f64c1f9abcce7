#include "orders/print.h"

namespace velmo {

TForm8::TForm8(QWidget* parent) : QDialog(parent) {
    setObjectName("Form8");
    setWindowTitle(QStringLiteral("Rechnung"));
}

} // namespace velmo
