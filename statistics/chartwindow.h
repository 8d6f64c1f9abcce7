#pragma once

#include "memtable/memtable.h"
#include "shell/shopwindow.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

class QProgressBar;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace velmo {

class Shop;
namespace charts {
class BarChart;
class TableBarSeries;
} // namespace charts
namespace statistics {
class PositionFileSums;
} // namespace statistics

// What the article quantity and the turnover windows have in common: at every activation they read
// all positions of bestellungen.db and add them up per article, with a progress bar over the top of
// the window, and chart one total per article in a scroll area that grows with the number of articles.
// They differ in the total they chart and in how its marks are written.
class ArticleChartWindow : public ShopWindow {
    Q_OBJECT
public:
    // What an activation keeps of the positions it read: their number. The positions themselves are
    // added up per article while the file is read, and none is held as a record.
    class Positions {
    public:
        int RecordCount() const { return m_count; }

    private:
        friend class ArticleChartWindow;
        int m_count = 0;
    };

    ~ArticleChartWindow() override;

    Positions AllPositions;
    MemTable ArticleTotals;

    QProgressBar* Gauge1;
    charts::BarChart* chartView() const { return m_chart; }
    charts::TableBarSeries* chartSeries() const { return m_series; }
    QPushButton* Button1;

    // The activation: positions, totals, scroll height, chart. The file is read a slice at a time,
    // the first slice here and the others from the event loop, so that a large file leaves the
    // window live with its progress bar moving; a small one is charted before this returns. A
    // failure is thrown (from a later slice: shown in the error box): a bad quantity or an
    // unreadable file leaves the totals and the chart as they were; a bad amount leaves the
    // progress bar in view and charts the articles completed before it.
    void FormActivate();
    void Button1Click();

    // Whether the activation is still reading the file.
    bool reading() const { return m_reading != nullptr; }
    // How much is read in one go (a block of at least blockBytes, then more blocks until budget has
    // passed) before the event loop gets its turn.
    void setSlices(std::size_t blockBytes, std::chrono::milliseconds budget);

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
    void readSlice();
    void stopReading();
    void chartTotals();

    Shop& m_shop;
    std::string m_chartKey;
    std::unique_ptr<statistics::PositionFileSums> m_reading;
    QTimer* m_nextSlice;
    std::size_t m_blockBytes = std::size_t{1} << 20;
    std::chrono::milliseconds m_sliceBudget{15};
    charts::BarChart* m_chart;
    charts::TableBarSeries* m_series;
    QVBoxLayout* m_rows;
};

} // namespace velmo
