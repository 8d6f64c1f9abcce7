#include "catalog/katneu.h"

namespace velmo {

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName("Form3");
    setWindowTitle(QStringLiteral("Katalogname neu"));
}

} // namespace velmo
