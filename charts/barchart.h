#pragma once

#include <QFont>
#include <QHash>
#include <QString>
#include <QWidget>

#include <vector>

class QBarSet;
class QChart;
class QChartView;
class QGraphicsSimpleTextItem;
class QHorizontalBarSeries;
class QScrollBar;
class QValueAxis;

namespace velmo::charts {

class TableBarSeries;
class BarTextItem;

// A titled horizontal bar chart in a vertical scroll area whose scrollable height the program sets:
// the chart is that tall, or as tall as the visible area when that is more, and its bars share the
// height between its title and its value axis evenly. The title is aligned left; there is no legend;
// each bar carries a value mark at the end of a short arrow, and its label, which may wrap, stands
// left of it.
//
// Only what is in view is built and painted: the Qt chart inside holds the bars of the visible part
// alone and is laid out again as the area scrolls, so ten thousand bars cost no more than ten.
class BarChart : public QWidget {
    Q_OBJECT
public:
    static constexpr int kArrowLength = 20;

    explicit BarChart(const QString& title, QWidget* parent = nullptr);
    ~BarChart() override;

    QString title() const { return m_titleText; }
    // The series drawn (not owned; nullptr for none). The chart follows its changes.
    void setSeries(TableBarSeries* series);
    TableBarSeries* series() const { return m_series; }

    // The range the area scrolls over, in pixels; 0 lets the chart fill the visible area.
    void setScrollHeight(int pixels);
    int scrollHeight() const { return m_scrollHeight; }
    // The chart's whole height: the scroll height, or the visible height when that is more.
    int contentHeight() const;
    QScrollBar* verticalScrollBar() const { return m_scrollBar; }

    // The Qt chart and its bars: the points of the series from firstBarInView() on, bottom first.
    QChart* chart() const { return m_chart; }
    QBarSet* barsInView() const { return m_set; }
    int firstBarInView() const { return m_first; }

    // The tooltip at pos (this widget's coordinates): the whole name of the bar there when its
    // label is cut, else nothing. The chart shows it when the pointer rests on a bar's row.
    QString toolTipAt(const QPoint& pos) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void seriesChanged();
    void layoutView();

    QString m_titleText;
    TableBarSeries* m_series = nullptr;
    int m_scrollHeight = 355;

    QChartView* m_view;
    QChart* m_chart;
    QHorizontalBarSeries* m_bars;
    QBarSet* m_set;
    QValueAxis* m_valueAxis;
    QValueAxis* m_barAxis;
    QGraphicsSimpleTextItem* m_title;
    BarTextItem* m_texts;
    QScrollBar* m_scrollBar;

    // Measured once per change of the series, from the widths of the texts measured before.
    static constexpr qsizetype kMaxWidths = 100'000;
    QHash<QString, int> m_widths;
    QFont m_widthsFont;
    int m_labelWidth = 0;
    int m_markWidth = 0;
    int m_first = 0;
    bool m_layingOut = false;
};

} // namespace velmo::charts
