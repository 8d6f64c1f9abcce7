#include "catalog/artikel.h"

namespace velmo {

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
    setObjectName("Form4");
    setWindowTitle(QStringLiteral("Artikel"));
}

} // namespace velmo
