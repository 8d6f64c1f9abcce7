#pragma once

#include "statistics/chartwindow.h"

namespace velmo {

// The turnover chart: the summed amount of every article, smallest at the bottom. The chart follows
// every change of the totals by itself.
class TForm15 : public ArticleChartWindow {
    Q_OBJECT
public:
    explicit TForm15(Shop& shop, QWidget* parent = nullptr);

    charts::BarChart* DBChart2;
    charts::TableBarSeries* HorizBarSeries1;
};

} // namespace velmo
