#include "orders/bestell.h"

namespace velmo {

TForm7::TForm7(QWidget* parent) : QDialog(parent) {
    setObjectName("Form7");
    setWindowTitle(QStringLiteral("Bestellungen"));
}

} // namespace velmo
