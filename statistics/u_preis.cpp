#include "statistics/u_preis.h"

namespace velmo {

TForm15::TForm15(QWidget* parent) : QDialog(parent) {
    setObjectName("Form15");
    setWindowTitle(QStringLiteral("Umsatzauswerung"));
}

} // namespace velmo
