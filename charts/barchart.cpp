#include "charts/barchart.h"

#include "charts/barseries.h"

#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QGraphicsItem>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QHorizontalBarSeries>
#include <QLocale>
#include <QPainter>
#include <QScrollBar>
#include <QTextOption>
#include <QToolTip>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace velmo::charts {

namespace {

constexpr int kPad = 8;
constexpr qreal kBarWidth = 0.7; // of a bar's share of the height
const QColor kBarColor(Qt::blue);

// A tick interval of 1, 2 or 5 times a power of ten giving about five ticks over span.
double niceInterval(double span) {
    const double raw = span / 5;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double f : {1.0, 2.0, 5.0}) {
        if (raw <= f * power)
            return f * power;
    }
    return 10 * power;
}

} // namespace

// The axis labels and value marks of the bars in view, painted in one go.
class BarTextItem : public QGraphicsItem {
public:
    struct Bar {
        QRectF labelRect;
        int point; // in the series
        QString label;
        QLineF arrow;
        QRectF markRect;
        QString mark;
    };

    explicit BarTextItem(QGraphicsItem* parent) : QGraphicsItem(parent) {}

    void setBars(const QRectF& area, std::vector<Bar> bars) {
        prepareGeometryChange();
        m_area = area;
        m_bars = std::move(bars);
        update();
    }
    const std::vector<Bar>& bars() const { return m_bars; }

    QRectF boundingRect() const override { return m_area; }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        QTextOption wrap(Qt::AlignRight | Qt::AlignVCenter);
        wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        painter->setPen(Qt::black);
        for (const Bar& b : m_bars) {
            painter->save();
            painter->setClipRect(b.labelRect);
            painter->drawText(b.labelRect, b.label, wrap);
            painter->restore();
            painter->setPen(Qt::gray);
            painter->drawLine(b.arrow);
            painter->setBrush(QColor(255, 255, 225));
            painter->drawRect(b.markRect);
            painter->setPen(Qt::black);
            painter->drawText(b.markRect, Qt::AlignCenter, b.mark);
        }
    }

private:
    QRectF m_area;
    std::vector<Bar> m_bars;
};

BarChart::BarChart(const QString& title, QWidget* parent) : QWidget(parent), m_titleText(title) {
    m_chart = new QChart;
    m_chart->legend()->hide();
    m_chart->setMargins(QMargins());
    m_chart->setBackgroundRoundness(0);
    m_chart->setBackgroundBrush(Qt::white);
    m_chart->setBackgroundPen(Qt::NoPen);
    m_chart->setPlotAreaBackgroundVisible(false);
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->setLocale(QLocale(QLocale::German, QLocale::Germany));
    m_chart->setLocalizeNumbers(true);

    m_set = new QBarSet(QString());
    m_set->setColor(kBarColor);
    m_set->setBorderColor(kBarColor.darker());
    m_bars = new QHorizontalBarSeries;
    m_bars->setBarWidth(kBarWidth);
    m_bars->append(m_set);
    m_chart->addSeries(m_bars);

    // Bars stand at 0, 1, 2, ... along a value axis of their own, so the view can show any part of a
    // bar; the labels are this chart's own, painted with the marks.
    m_barAxis = new QValueAxis;
    m_barAxis->setVisible(false);
    m_valueAxis = new QValueAxis;
    m_valueAxis->setLineVisible(false);
    m_valueAxis->setGridLineColor(QColor(220, 220, 220));
    m_valueAxis->setTickType(QValueAxis::TicksDynamic);
    m_valueAxis->setTickAnchor(0);
    m_chart->addAxis(m_valueAxis, Qt::AlignBottom);
    m_chart->addAxis(m_barAxis, Qt::AlignLeft);
    m_bars->attachAxis(m_valueAxis);
    m_bars->attachAxis(m_barAxis);

    m_title = new QGraphicsSimpleTextItem(m_titleText, m_chart);
    QFont titleFont = font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    m_title->setFont(titleFont);
    m_texts = new BarTextItem(m_chart);
    m_texts->setZValue(10);

    m_view = new QChartView(m_chart);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setRenderHint(QPainter::Antialiasing, false);
    m_view->viewport()->installEventFilter(this);
    m_scrollBar = new QScrollBar(Qt::Vertical);
    m_scrollBar->setObjectName("VertScrollBar");
    m_scrollBar->setSingleStep(20);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, [this] { layoutView(); });

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_view, 1);
    row->addWidget(m_scrollBar);
    layoutView();
}

BarChart::~BarChart() = default;

void BarChart::setSeries(TableBarSeries* series) {
    if (m_series)
        disconnect(m_series, nullptr, this, nullptr);
    m_series = series;
    if (m_series)
        connect(m_series, &TableBarSeries::changed, this, &BarChart::seriesChanged);
    seriesChanged();
}

void BarChart::setScrollHeight(int pixels) {
    m_scrollHeight = std::max(pixels, 0);
    layoutView();
}

int BarChart::contentHeight() const {
    return std::max(m_view->viewport()->height(), m_scrollHeight);
}

void BarChart::seriesChanged() {
    // Measuring a text shapes it, which for ten thousand labels and marks costs more than all the
    // rest of a refresh. The widths are kept, so that a text is measured once per font: marks repeat
    // within a chart, and labels from one refresh to the next.
    if (m_widthsFont != font() || m_widths.size() > kMaxWidths) {
        m_widths.clear();
        m_widthsFont = font();
    }
    const QFontMetrics fm(font());
    auto width = [&](const QString& text) {
        auto known = m_widths.constFind(text);
        if (known == m_widths.cend())
            known = m_widths.insert(text, fm.horizontalAdvance(text));
        return *known;
    };
    m_labelWidth = m_markWidth = 0;
    if (m_series) {
        for (const BarPoint& p : m_series->points()) {
            m_labelWidth = std::max(m_labelWidth, width(p.label));
            m_markWidth = std::max(m_markWidth, width(p.mark));
        }
    }
    layoutView();
}

bool BarChart::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view->viewport()) {
        if (event->type() == QEvent::Wheel) {
            QCoreApplication::sendEvent(m_scrollBar, event);
            return true;
        }
        if (event->type() == QEvent::Resize)
            layoutView();
        if (event->type() == QEvent::ToolTip) {
            const auto* help = static_cast<QHelpEvent*>(event);
            const QString text = toolTipAt(m_view->viewport()->mapTo(this, help->pos()));
            if (text.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), text, m_view->viewport());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QString BarChart::toolTipAt(const QPoint& pos) const {
    if (!m_series)
        return {};
    const QPointF at = m_texts->mapFromScene(m_view->mapToScene(m_view->viewport()->mapFrom(this, pos)));
    // The whole row of a bar counts, its label, its bar and its mark.
    for (const BarTextItem::Bar& bar : m_texts->bars()) {
        if (at.y() < bar.labelRect.top() || at.y() >= bar.labelRect.bottom())
            continue;
        const BarPoint& p = m_series->points().at(static_cast<std::size_t>(bar.point));
        return p.name == p.label ? QString() : p.name;
    }
    return {};
}

// Places the visible part of the chart: which bars are in view, where the plot area lies, the
// title, the labels and the marks. The chart is laid out as if it were contentHeight() tall and
// the view looked at it from the scroll bar's value down.
void BarChart::layoutView() {
    if (m_layingOut)
        return;
    m_layingOut = true;
    const int viewHeight = m_view->viewport()->height();
    const int width = m_view->viewport()->width();
    const int content = std::max(viewHeight, m_scrollHeight);
    const bool scrolls = content > viewHeight;
    m_scrollBar->setVisible(scrolls);
    m_scrollBar->setRange(0, content - viewHeight);
    m_scrollBar->setPageStep(std::max(viewHeight, 1));
    const int offset = m_scrollBar->value();

    const QFontMetrics fm(font());
    const QFontMetrics titleFm(m_title->font());
    const int titleBand = titleFm.height() + 2 * kPad;
    const int axisBand = fm.height() + 2 * kPad;
    // Labels longer than a quarter of the width (but at least ten characters) wrap.
    const int labelColumn =
        m_labelWidth == 0
            ? kPad
            : std::min(m_labelWidth, std::max(width / 4, fm.averageCharWidth() * 10)) + 2 * kPad;
    const qreal plotLeft = labelColumn;
    const qreal plotWidth = std::max(width - labelColumn - kPad, 1);
    const qreal plotTop = titleBand;             // in the whole chart
    const qreal plotBottom = content - axisBand; // in the whole chart
    const qreal shownTop = std::max<qreal>(plotTop, offset);
    const qreal shownBottom = std::min<qreal>(plotBottom, offset + viewHeight);

    m_title->setPos(kPad, kPad - offset);
    m_title->setVisible(offset < titleBand);

    const std::vector<BarPoint> none;
    const std::vector<BarPoint>& points = m_series ? m_series->points() : none;
    const int n = static_cast<int>(points.size());

    // Value axis: from 0 (or the smallest negative length) to the largest, with room for the marks.
    double lo = std::min(0.0, m_series ? m_series->minValue() : 0.0);
    double hi = std::max(0.0, m_series ? m_series->maxValue() : 0.0);
    if (hi - lo <= 0)
        hi = lo + 1;
    const qreal markRoom = kArrowLength + m_markWidth + 3 * kPad;
    const qreal rooms = lo < 0 ? 2 : 1;
    const qreal usable = std::max(plotWidth - rooms * markRoom, plotWidth / 2);
    const qreal perPixel = (hi - lo) / usable;
    const double axisMin = lo < 0 ? lo - markRoom * perPixel : lo;
    const double axisMax = hi + markRoom * perPixel;
    const double interval = niceInterval(hi - lo);
    m_valueAxis->setTickInterval(interval);
    m_valueAxis->setLabelFormat(interval >= 1 ? "%.0f"
                                              : QString("%.%1f").arg(int(std::ceil(-std::log10(interval)))));
    m_valueAxis->setRange(axisMin, axisMax);

    std::vector<BarTextItem::Bar> texts;
    QList<qreal> values;
    m_first = 0;
    if (n > 0 && shownBottom > shownTop) {
        // Bar k (0 at the bottom) owns the band [k - 0.5, k + 0.5] of the bar axis.
        const qreal share = (plotBottom - plotTop) / n;
        auto barAt = [&](qreal y) { return (plotBottom - y) / share - 0.5; };
        const qreal topValue = barAt(shownTop);
        const qreal bottomValue = barAt(shownBottom);
        const int first = std::clamp(static_cast<int>(std::floor(bottomValue + 0.5)), 0, n - 1);
        const int last = std::clamp(static_cast<int>(std::ceil(topValue - 0.5)), first, n - 1);
        m_first = first;
        m_barAxis->setRange(bottomValue - first, topValue - first);
        const QRectF plot(plotLeft, shownTop - offset, plotWidth, shownBottom - shownTop);
        m_chart->setPlotArea(plot);
        auto xOf = [&](double v) { return plot.left() + (v - axisMin) / (axisMax - axisMin) * plot.width(); };
        const int markHeight = fm.height() + 2;
        for (int k = first; k <= last; ++k) {
            const BarPoint& p = points[static_cast<std::size_t>(k)];
            values.append(p.value);
            const qreal centre = plotBottom - (k + 0.5) * share - offset;
            const qreal end = xOf(p.value);
            const qreal zero = xOf(0);
            const qreal dir = p.value < 0 ? -1 : 1;
            const qreal tip = (p.value < 0 ? std::min(end, zero) : std::max(end, zero)) + dir * kArrowLength;
            const int markWidth = fm.horizontalAdvance(p.mark) + 6;
            const QRectF mark(p.value < 0 ? tip - markWidth : tip, centre - markHeight / 2.0, markWidth,
                              markHeight);
            texts.push_back({QRectF(kPad, centre - share / 2, labelColumn - 2 * kPad, share), k, p.label,
                             QLineF(end, centre, tip, centre), mark, p.mark});
        }
    } else {
        m_chart->setPlotArea(
            QRectF(plotLeft, plotTop - offset, plotWidth, std::max<qreal>(plotBottom - plotTop, 1)));
        m_barAxis->setRange(-0.5, 0.5);
    }
    m_set->remove(0, m_set->count());
    m_set->append(values);
    m_texts->setBars(QRectF(0, 0, width, viewHeight), std::move(texts));
    m_layingOut = false;
}

} // namespace velmo::charts
