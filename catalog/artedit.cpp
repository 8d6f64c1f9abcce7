#include "catalog/artedit.h"

namespace velmo {

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setObjectName("Form5");
    setWindowTitle(QStringLiteral("Erstellen/Ändern"));
}

} // namespace velmo
