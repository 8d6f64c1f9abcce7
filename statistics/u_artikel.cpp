#include "statistics/u_artikel.h"

namespace velmo {

TForm14::TForm14(QWidget* parent) : QDialog(parent) {
    setObjectName("Form14");
    setWindowTitle(QStringLiteral("Artikelauswertung"));
}

} // namespace velmo
