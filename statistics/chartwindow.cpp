#include "statistics/chartwindow.h"

#include "charts/barchart.h"
#include "charts/barseries.h"
#include "datafiles/orderfiles.h"
#include "platform/memory.h"
#include "shell/shop.h"
#include "statistics/core/articletotals.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace velmo {

namespace {

// The progress bar is redrawn about this often while the totals are computed, however many
// positions there are.
constexpr std::size_t kProgressSteps = 200;

} // namespace

ArticleChartWindow::ArticleChartWindow(Shop& shop, const Kind& kind, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnScreen, parent), m_shop(shop), m_chartKey(kind.chartKey) {
    setObjectName(kind.objectName);
    setWindowTitle(kind.caption);
    resize(640, 520);
    statistics::defineAllPositions(AllPositions);
    statistics::defineArticleTotals(ArticleTotals, kind.chartKey);

    Gauge1 = new QProgressBar;
    Gauge1->setObjectName("Gauge1");
    Gauge1->setAccessibleName(QStringLiteral("Fortschritt"));
    Gauge1->setTextVisible(true);
    Gauge1->setFormat("%p%");
    Gauge1->setAlignment(Qt::AlignCenter);
    Gauge1->setStyleSheet("QProgressBar { border: none; background: white; }"
                          "QProgressBar::chunk { background: blue; }");
    // It keeps its strip while hidden, so it can be drawn the moment it is shown, inside a
    // computation that lets no events through.
    QSizePolicy keep = Gauge1->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    Gauge1->setSizePolicy(keep);
    Gauge1->hide();

    m_series = new charts::TableBarSeries(ArticleTotals, kind.chartKey, statistics::kBezeichnung,
                                          kind.markPattern, this);
    m_series->setAutoRefresh(kind.autoRefresh);
    m_series->setNameField(statistics::kGanzeBezeichnung);
    m_chart = new charts::BarChart(kind.chartTitle);
    m_chart->setSeries(m_series);

    Button1 = new QPushButton(QStringLiteral("&Schließen"));
    Button1->setObjectName("Button1");
    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);

    m_rows = new QVBoxLayout(this);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->addWidget(Gauge1);
    m_rows->addWidget(m_chart, 1);
    m_rows->addLayout(buttons);
}

void ArticleChartWindow::Button1Click() {
    accept();
}

void ArticleChartWindow::done(int result) {
    AllPositions.emptyTable();
    releaseFreeMemory();
    ShopWindow::done(result);
}

void ArticleChartWindow::FormActivate() {
    statistics::loadAllPositions(AllPositions,
                                 datafiles::loadOrderFileBytes(m_shop.dataFile(datafiles::kPositionFile)));

    const std::size_t positions = static_cast<std::size_t>(AllPositions.RecordCount());
    Gauge1->setMaximum(static_cast<int>(std::min<std::size_t>(positions, INT_MAX)));
    Gauge1->setValue(0);
    Gauge1->show();
    Gauge1->repaint();
    try {
        statistics::computeArticleTotals(
            AllPositions, ArticleTotals,
            [this](std::size_t done) { Gauge1->setValue(static_cast<int>(done)); },
            std::max<std::size_t>(positions / kProgressSteps, 1));
    } catch (...) {
        // The articles completed before the bad amount are charted; the progress bar stays.
        chartTotals();
        throw;
    }
    Gauge1->hide();
    chartTotals();
}

void ArticleChartWindow::chartTotals() {
    const std::int64_t height = statistics::chartScrollHeight(ArticleTotals.RecordCount());
    m_chart->setScrollHeight(static_cast<int>(std::min<std::int64_t>(height, INT_MAX)));
    ArticleTotals.setIndexName(m_chartKey);
    ArticleTotals.SyncIndexes();
    ArticleTotals.First();
    if (!m_series->autoRefresh())
        m_series->refresh();
}

} // namespace velmo
