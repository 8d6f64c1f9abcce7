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
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace velmo {

namespace {

// The progress bar counts in steps of this fraction of the file, however large it is.
constexpr int kProgressSteps = 1000;

} // namespace

ArticleChartWindow::ArticleChartWindow(Shop& shop, const Kind& kind, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnScreen, parent), m_shop(shop), m_chartKey(kind.chartKey) {
    setObjectName(kind.objectName);
    setWindowTitle(kind.caption);
    resize(640, 520);
    statistics::defineArticleTotals(ArticleTotals, kind.chartKey);
    m_nextSlice = new QTimer(this);
    m_nextSlice->setSingleShot(true);
    m_nextSlice->setInterval(0);
    connect(m_nextSlice, &QTimer::timeout, this, guard([this] { readSlice(); }));

    Gauge1 = new QProgressBar;
    Gauge1->setObjectName("Gauge1");
    Gauge1->setAccessibleName(QStringLiteral("Fortschritt"));
    Gauge1->setTextVisible(true);
    Gauge1->setFormat("%p%");
    Gauge1->setAlignment(Qt::AlignCenter);
    Gauge1->setStyleSheet("QProgressBar { border: none; background: white; }"
                          "QProgressBar::chunk { background: blue; }");
    // It keeps its strip while hidden, so that showing it moves nothing else.
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

ArticleChartWindow::~ArticleChartWindow() = default;

void ArticleChartWindow::setSlices(std::size_t blockBytes, std::chrono::milliseconds budget) {
    m_blockBytes = blockBytes;
    m_sliceBudget = budget;
}

void ArticleChartWindow::Button1Click() {
    accept();
}

void ArticleChartWindow::done(int result) {
    // Closed while reading, the window stops; the next activation reads the file again anyway.
    stopReading();
    Gauge1->hide();
    AllPositions.m_count = 0;
    releaseFreeMemory();
    ShopWindow::done(result);
}

void ArticleChartWindow::stopReading() {
    m_nextSlice->stop();
    m_reading.reset();
}

void ArticleChartWindow::FormActivate() {
    stopReading();
    m_reading = std::make_unique<statistics::PositionFileSums>(m_shop.dataFile(datafiles::kPositionFile),
                                                               m_blockBytes);
    AllPositions.m_count = 0;
    Gauge1->setRange(0, kProgressSteps);
    Gauge1->setValue(0);
    Gauge1->show();
    readSlice();
}

void ArticleChartWindow::readSlice() {
    bool more = false;
    try {
        const auto until = std::chrono::steady_clock::now() + m_sliceBudget;
        do {
            more = m_reading->step();
        } while (more && std::chrono::steady_clock::now() < until);
    } catch (...) {
        // Reading stopped: no totals, the chart keeps what it showed.
        AllPositions.m_count =
            static_cast<int>(std::min<std::size_t>(m_reading->sums().positions(), INT_MAX));
        stopReading();
        Gauge1->hide();
        throw;
    }
    if (more) {
        Gauge1->setValue(static_cast<int>(m_reading->fractionDone() * kProgressSteps));
        m_nextSlice->start();
        return;
    }

    const std::unique_ptr<statistics::PositionFileSums> read = std::move(m_reading);
    AllPositions.m_count = static_cast<int>(std::min<std::size_t>(read->sums().positions(), INT_MAX));
    Gauge1->setValue(kProgressSteps);
    try {
        read->sums().post(ArticleTotals);
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
