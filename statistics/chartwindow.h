#pragma once

#include "memtable/memtable.h"
#include "shell/shopwindow.h"

#include <string>

class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace velmo {

class Shop;
namespace charts {
class BarChart;
class TableBarSeries;
} // namespace charts

// What the article quantity and the turnover windows have in common: at every activation they read
// all positions of bestellungen.db, add them up per article with a progress bar over the top of the
// window, and chart one total per article in a scroll area that grows with the number of articles.
// They differ in the total they chart and in how its marks are written.
class ArticleChartWindow : public ShopWindow {
    Q_OBJECT
public:
    MemTable AllPositions;
    MemTable ArticleTotals;

    QProgressBar* Gauge1;
    charts::BarChart* chartView() const { return m_chart; }
    charts::TableBarSeries* chartSeries() const { return m_series; }
    QPushButton* Button1;

    // The activation: positions, totals, scroll height, chart. A failure is thrown: a bad quantity
    // or an unreadable file leaves the totals and the chart as they were; a bad amount leaves the
    // progress bar in view and charts the articles completed before it.
    void FormActivate();
    void Button1Click();

protected:
    struct Kind {
        const char* objectName;
        QString caption;
        QString chartTitle;
        std::string chartKey;    // the field the bars show and are sorted by
        std::string markPattern; // how their marks are written
        bool autoRefresh;        // the chart follows every change of ArticleTotals
    };

    ArticleChartWindow(Shop& shop, const Kind& kind, QWidget* parent);

    void opening() override { FormActivate(); }
    // Closing lets go of the positions, which a large shop counts in hundreds of megabytes; the next
    // activation reads them again anyway.
    void done(int result) override;
    // The window's rows from top to bottom, for a subclass that adds one at the bottom.
    QVBoxLayout* rows() const { return m_rows; }

private:
    void chartTotals();

    Shop& m_shop;
    std::string m_chartKey;
    charts::BarChart* m_chart;
    charts::TableBarSeries* m_series;
    QVBoxLayout* m_rows;
};

} // namespace velmo
