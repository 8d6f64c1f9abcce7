#include "statistics/u_preis.h"

#include "statistics/core/articletotals.h"

namespace velmo {

TForm15::TForm15(Shop& shop, QWidget* parent)
    : ArticleChartWindow(shop,
                         {"Form15", QStringLiteral("Umsatzauswerung"), QStringLiteral("Artikelumsatz"),
                          statistics::kPreis, "#,##0.00", true},
                         parent),
      DBChart2(chartView()), HorizBarSeries1(chartSeries()) {}

} // namespace velmo
