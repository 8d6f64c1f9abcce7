#include "statistics/u_artikel.h"

#include "statistics/core/articletotals.h"

#include <QStatusBar>
#include <QVBoxLayout>

namespace velmo {

TForm14::TForm14(Shop& shop, QWidget* parent)
    : ArticleChartWindow(shop,
                         {"Form14", QStringLiteral("Artikelauswertung"), QStringLiteral("Artike (Menge)"),
                          statistics::kMenge, "#,##0.###", false},
                         parent),
      DBChart1(chartView()), Series1(chartSeries()) {
    StatusBar1 = new QStatusBar;
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    rows()->addWidget(StatusBar1);
}

} // namespace velmo
