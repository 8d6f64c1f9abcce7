#pragma once

#include "statistics/chartwindow.h"

class QStatusBar;

namespace velmo {

// The article quantity chart: the summed quantity of every article, smallest at the bottom. The
// chart is drawn when the window is activated.
class TForm14 : public ArticleChartWindow {
    Q_OBJECT
public:
    explicit TForm14(Shop& shop, QWidget* parent = nullptr);

    charts::BarChart* DBChart1;
    charts::TableBarSeries* Series1;
    QStatusBar* StatusBar1; // stays empty
};

} // namespace velmo
