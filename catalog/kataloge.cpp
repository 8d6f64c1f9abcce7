#include "catalog/kataloge.h"

namespace velmo {

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName("Form2");
    setWindowTitle(QStringLiteral("Kataloge"));
}

} // namespace velmo
