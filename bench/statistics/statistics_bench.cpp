// Statistics benchmark: bestellungen.db with 1,000,000 positions over 10,000 articles (about 60 MB),
// charted by the article quantity window and by the turnover window. Each opening is timed from the
// show (which runs the activation: reading, totals, chart) until the chart has painted, on the
// offscreen platform. Also shown: the scroll height, and scrolling the chart page by page.
//
// The peer, measured in the same run: SQLite reading the same file into a table in memory, indexing
// it by article number and totalling it with one GROUP BY, without any chart. The last line is
// "quantity: N ms, turnover: M ms", the median opening of each window.
#include "bench/common/measure.h"
#include "bench/common/paint_counter.h"
#include "bench/common/silent_dialogs.h"
#include "bench/common/sqlite_peer.h"
#include "charts/barchart.h"
#include "charts/barseries.h"
#include "datafiles/orderfiles.h"
#include "platform/linefile.h"
#include "shell/dialogs.h"
#include "shell/shop.h"
#include "statistics/u_artikel.h"
#include "statistics/u_preis.h"

#include <QApplication>
#include <QBarSet>
#include <QChartView>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace velmo;

namespace {

using bench::Clock;
using bench::msSince;
using bench::statusKb;

constexpr int kPositions = 1'000'000;
constexpr int kArticles = 10'000;
constexpr int kOpenings = 3;

using bench::SilentDialogs;

// Position lines as the order fetch leaves them: order number, the storefront's unused field,
// quantity, article number, description, amount with a decimal point, and the status ";;0".
std::size_t writePositions(const std::string& path) {
    std::mt19937 rng(4711);
    const std::vector<std::string> words = {
        "Tasse",      "Kanne", "Becher",   "Teller",    "Sch\xFCssel", "Kerze",  "Leuchte", "Vase",
        "Schale",     "Krug",  "Dose",     "Glas",      "wei\xDF",     "rot",    "gro\xDF", "klein",
        "handbemalt", "aus",   "Steingut", "Porzellan", "mit",         "Deckel", "f\xFCr",  "Garten"};
    std::uniform_int_distribution<std::size_t> word(0, words.size() - 1);
    std::vector<std::string> descriptions(kArticles);
    std::vector<std::string> prices(kArticles);
    std::uniform_int_distribution<int> euros(1, 299), cents(0, 99);
    for (int a = 0; a < kArticles; ++a) {
        std::string d;
        for (int w = 0; w < 4; ++w)
            d += (w ? " " : "") + words[word(rng)];
        descriptions[static_cast<std::size_t>(a)] = d;
        char price[16];
        std::snprintf(price, sizeof price, "%d.%02d", euros(rng), cents(rng));
        prices[static_cast<std::size_t>(a)] = price;
    }
    // Some articles sell far more often than others.
    std::geometric_distribution<int> popular(0.0004);
    std::uniform_int_distribution<int> quantity(1, 5);
    Lines lines;
    lines.reserve(kPositions);
    for (int i = 0; i < kPositions; ++i) {
        const int a = std::min(popular(rng), kArticles - 1);
        const int order = i / 3;
        char nr[16], head[48];
        std::snprintf(nr, sizeof nr, "A-%05d", a);
        std::snprintf(head, sizeof head, "B-%06d;;%d;;%d;;", order, a % 40, quantity(rng));
        lines.push_back(std::string(head) + nr + ";;" + descriptions[static_cast<std::size_t>(a)] + ";;" +
                        prices[static_cast<std::size_t>(a)] + ";;0");
    }
    // Every article occurs at least once.
    for (int a = 0; a < kArticles; ++a) {
        char nr[16];
        std::snprintf(nr, sizeof nr, "A-%05d", a);
        lines[static_cast<std::size_t>(a) * (kPositions / kArticles)].replace(
            lines[static_cast<std::size_t>(a) * (kPositions / kArticles)].find("A-"), 7, nr);
    }
    writeLines(path, lines);
    return std::filesystem::file_size(path);
}

using bench::PaintCounter;

// Pending events handled, which paints the chart; should the platform not have painted it, it is
// painted here, inside the measurement.
void untilPainted(charts::BarChart& chart, PaintCounter& counter, int before) {
    QApplication::processEvents();
    auto* view = chart.findChild<QChartView*>();
    if (counter.paints == before)
        view->viewport()->repaint();
}

struct Opening {
    double ms, cpu;
};

Opening openOnce(ArticleChartWindow& window, PaintCounter& counter) {
    window.hide();
    QApplication::processEvents();
    const int before = counter.paints;
    const auto t0 = Clock::now();
    const double c0 = bench::processorMs(CLOCK_THREAD_CPUTIME_ID);
    window.show(); // the activation starts here
    while (window.reading())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    untilPainted(*window.chartView(), counter, before);
    return {msSince(t0), bench::processorMs(CLOCK_THREAD_CPUTIME_ID) - c0};
}

double measure(const char* name, ArticleChartWindow& window) {
    PaintCounter counter;
    window.chartView()->findChild<QChartView*>()->viewport()->installEventFilter(&counter);
    std::vector<double> opens;
    for (int round = 0; round < kOpenings; ++round) {
        const Opening o = openOnce(window, counter);
        opens.push_back(o.ms);
        std::printf(
            "%s open %d: %.0f ms, %.0f ms processor time (%d articles, scroll height %d px, %d bars in "
            "view)\n",
            name, round + 1, o.ms, o.cpu, window.chartSeries()->count(), window.chartView()->scrollHeight(),
            static_cast<int>(window.chartView()->barsInView()->count()));
    }
    // Page by page through the whole chart, each step until painted.
    QScrollBar* bar = window.chartView()->verticalScrollBar();
    const auto t0 = Clock::now();
    int steps = 0;
    double worst = 0;
    for (int v = 0; v <= bar->maximum(); v += bar->pageStep(), ++steps) {
        const auto s0 = Clock::now();
        const int before = counter.paints;
        bar->setValue(v);
        untilPainted(*window.chartView(), counter, before);
        worst = std::max(worst, msSince(s0));
    }
    std::printf("%s scroll: %d pages in %.0f ms, %.2f ms per page, slowest %.2f ms\n", name, steps,
                msSince(t0), msSince(t0) / std::max(steps, 1), worst);
    std::sort(opens.begin(), opens.end());
    return opens[opens.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // --no-peer: the windows alone, for a profiler.
    const bool noPeer = argc > 1 && std::string(argv[1]) == "--no-peer";
    QApplication app(argc, argv);
    SilentDialogs silent;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    const auto tGen = Clock::now();
    const std::size_t bytes = writePositions(dir.path().toStdString() + "/" + datafiles::kPositionFile);
    std::printf("bestellungen.db: %d positions over %d articles, %.1f MB (written in %.0f ms)\n", kPositions,
                kArticles, static_cast<double>(bytes) / 1e6, msSince(tGen));
    const long baseKb = statusKb("VmRSS:");

    Shop shop(silent);
    shop.ShopSettings.localDat = dir.path();
    TForm14 quantityWindow(shop);
    TForm15 turnoverWindow(shop);
    const double quantity = measure("quantity", quantityWindow);
    const double turnover = measure("turnover", turnoverWindow);

    std::printf("memory: peak %.0f MB resident, %.0f MB more than before the windows\n",
                bench::statusMb("VmHWM:"), static_cast<double>(statusKb("VmHWM:") - baseKb) / 1024.0);
    const auto tClose = Clock::now();
    quantityWindow.accept();
    turnoverWindow.accept();
    std::printf("closing both windows: %.0f ms; then %.0f MB resident, %.0f MB before the windows\n",
                msSince(tClose), bench::statusMb("VmRSS:"), static_cast<double>(baseKb) / 1024.0);
    if (noPeer)
        return silent.problems == 0 ? 0 : 1;

    const bench::PeerRun peer = bench::medianPeer(
        kOpenings, {{dir.path().toStdString() + "/" + datafiles::kPositionFile, "pos", 7, "c3"}},
        "SELECT c3, SUM(CAST(c2 AS REAL)), SUM(CAST(c5 AS REAL)), MIN(c4) FROM pos WHERE c3 <> '' "
        "GROUP BY c3 ORDER BY 2");
    std::printf("peer: SQLite in memory reads, indexes and totals the file in %.0f ms (median of %d, %ld "
                "articles; no chart)\n",
                peer.ms, kOpenings, peer.rows);
    std::printf("ratio vs sqlite: quantity %.3f, turnover %.3f\n", quantity / peer.ms, turnover / peer.ms);
    std::printf("quantity: %.0f ms, turnover: %.0f ms\n", quantity, turnover);
    return silent.problems == 0 ? 0 : 1;
}
