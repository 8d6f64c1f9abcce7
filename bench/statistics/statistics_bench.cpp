// Statistics benchmark: bestellungen.db with 1,000,000 positions over 10,000 articles (about 60 MB),
// charted by the article quantity window and by the turnover window. Each opening is timed from the
// show (which starts the activation: reading, totals, chart) until the chart has painted, on the
// offscreen platform, with the processor time beside it and the growth of the peak resident memory.
// Also shown: the scroll height, and scrolling the chart page by page.
//
// Then a file of 16,000,000 positions (about 1 GB, written to the temporary directory and removed
// afterwards) charted by the quantity window: its time, its peak memory against the file's size,
// and the longest stall of the window's thread, measured by a timer that should fire every 5 ms.
//
// The peer, measured in the same run: SQLite reading the 1M file into a table in memory, indexing
// it by article number and totalling it with one GROUP BY, without any chart. The last line holds
// the median openings and the large file's figures with their targets.
//
// --no-peer leaves out the peer and the large file, for a profiler.
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
#include <QProgressBar>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

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
constexpr long kLargePositions = 16'000'000;

using bench::SilentDialogs;

// Position lines as the order fetch leaves them: order number, the storefront's unused field,
// quantity, article number, description, amount with a decimal point, and the status ";;0". Some
// articles sell far more often than others, and every article occurs at least once. Written a block
// at a time, so that a file of any size is made without holding it.
std::size_t writePositions(const std::string& path, long positions) {
    std::mt19937 rng(4711);
    const std::vector<std::string> words = {
        "Tasse",      "Kanne", "Becher",   "Teller",    "Sch\xFCssel", "Kerze",  "Leuchte", "Vase",
        "Schale",     "Krug",  "Dose",     "Glas",      "wei\xDF",     "rot",    "gro\xDF", "klein",
        "handbemalt", "aus",   "Steingut", "Porzellan", "mit",         "Deckel", "f\xFCr",  "Garten"};
    std::uniform_int_distribution<std::size_t> word(0, words.size() - 1);
    // Per article the line from its number on: number, description, amount, status.
    std::vector<std::string> tails(kArticles);
    std::uniform_int_distribution<int> euros(1, 299), cents(0, 99);
    for (int a = 0; a < kArticles; ++a) {
        std::string d;
        for (int w = 0; w < 4; ++w)
            d += (w ? " " : "") + words[word(rng)];
        char tail[160];
        std::snprintf(tail, sizeof tail, "A-%05d;;%s;;%d.%02d;;0\r\n", a, d.c_str(), euros(rng), cents(rng));
        tails[static_cast<std::size_t>(a)] = tail;
    }
    std::geometric_distribution<int> popular(0.0004);
    std::uniform_int_distribution<int> quantity(1, 5);
    const long spacing = positions / kArticles;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::string block;
    for (long i = 0; i < positions; ++i) {
        int a = std::min(popular(rng), kArticles - 1);
        if (i % spacing == 0 && i / spacing < kArticles)
            a = static_cast<int>(i / spacing);
        char head[48];
        std::snprintf(head, sizeof head, "B-%06ld;;%d;;%d;;", i / 3, a % 40, quantity(rng));
        block += head;
        block += tails[static_cast<std::size_t>(a)];
        if (block.size() > (std::size_t{4} << 20)) {
            std::fwrite(block.data(), 1, block.size(), out);
            block.clear();
        }
    }
    std::fwrite(block.data(), 1, block.size(), out);
    std::fclose(out);
    return std::filesystem::file_size(path);
}

// Restarts the peak resident figure (VmHWM) from what is resident now, so that a peak belongs to
// what ran after it; false where the kernel does not offer it.
bool resetPeak() {
    std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (f == nullptr)
        return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

// The longest gap between two turns of a timer that should fire every 5 ms: how long the window's
// thread was kept from its events.
class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_longest = std::max(m_longest, msSince(m_last));
            m_last = Clock::now();
        });
    }
    void start() {
        m_longest = 0;
        m_last = Clock::now();
        m_timer.start();
    }
    double stop() {
        m_longest = std::max(m_longest, msSince(m_last));
        m_timer.stop();
        return m_longest;
    }

private:
    QTimer m_timer;
    Clock::time_point m_last;
    double m_longest = 0;
};

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
    double peakGrowthMb; // of the resident memory over what was resident before
    double stallMs;      // the longest time the thread was kept from its events
    int gaugePaints;     // of the progress bar meanwhile
};

Opening openOnce(ArticleChartWindow& window, PaintCounter& counter) {
    window.hide();
    QApplication::processEvents();
    PaintCounter gauge;
    window.Gauge1->installEventFilter(&gauge);
    StallMeter stalls;
    resetPeak();
    const long baseKb = statusKb("VmRSS:");
    const int before = counter.paints;
    stalls.start();
    const auto t0 = Clock::now();
    const double c0 = bench::processorMs(CLOCK_THREAD_CPUTIME_ID);
    window.show(); // the activation starts here
    while (window.reading())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    untilPainted(*window.chartView(), counter, before);
    Opening o{msSince(t0), bench::processorMs(CLOCK_THREAD_CPUTIME_ID) - c0,
              std::max(0.0, static_cast<double>(statusKb("VmHWM:") - baseKb) / 1024.0), stalls.stop(),
              gauge.paints};
    window.Gauge1->removeEventFilter(&gauge);
    return o;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Figures {
    double ms, cpu, peakGrowthMb, stallMs;
};

Figures measure(const char* name, ArticleChartWindow& window, bool scroll = true) {
    PaintCounter counter;
    window.chartView()->findChild<QChartView*>()->viewport()->installEventFilter(&counter);
    std::vector<double> opens, cpus, peaks, stalls;
    for (int round = 0; round < kOpenings; ++round) {
        const Opening o = openOnce(window, counter);
        opens.push_back(o.ms);
        cpus.push_back(o.cpu);
        peaks.push_back(o.peakGrowthMb);
        stalls.push_back(o.stallMs);
        std::printf(
            "%s open %d: %.0f ms, %.0f ms processor time, peak +%.0f MB resident, longest stall %.0f ms, "
            "%d progress paints (%d articles, scroll height %d px, %d bars in view)\n",
            name, round + 1, o.ms, o.cpu, o.peakGrowthMb, o.stallMs, o.gaugePaints,
            window.chartSeries()->count(), window.chartView()->scrollHeight(),
            static_cast<int>(window.chartView()->barsInView()->count()));
    }
    std::printf("%s later openings: processor time %.2f and %.2f of the first's (target <= 1)\n", name,
                cpus[1] / cpus[0], cpus[2] / cpus[0]);
    const Figures f{median(opens), median(cpus), median(peaks), median(stalls)};
    if (!scroll)
        return f;
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
    return f;
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
    const std::string file = dir.path().toStdString() + "/" + datafiles::kPositionFile;
    const std::size_t bytes = writePositions(file, kPositions);
    std::printf("bestellungen.db: %d positions over %d articles, %.1f MB (written in %.0f ms)\n", kPositions,
                kArticles, static_cast<double>(bytes) / 1e6, msSince(tGen));
    if (!resetPeak())
        std::printf(
            "(the peak resident figure cannot be restarted here; peaks include the file's writing)\n");

    Shop shop(silent);
    shop.ShopSettings.localDat = dir.path();
    TForm14 quantityWindow(shop);
    TForm15 turnoverWindow(shop);
    const Figures quantity = measure("quantity", quantityWindow);
    const Figures turnover = measure("turnover", turnoverWindow);
    const double fileMb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf(
        "1M positions: median opening quantity %.0f ms (%.0f ms processor), turnover %.0f ms (%.0f ms "
        "processor); target <= 250 ms\n",
        quantity.ms, quantity.cpu, turnover.ms, turnover.cpu);
    std::printf("1M positions: peak resident growth %.0f MB = %.2f x the file (target <= 2)\n",
                std::max(quantity.peakGrowthMb, turnover.peakGrowthMb),
                std::max(quantity.peakGrowthMb, turnover.peakGrowthMb) / fileMb);
    const auto tClose = Clock::now();
    quantityWindow.accept();
    turnoverWindow.accept();
    std::printf("closing both windows: %.0f ms; then %.0f MB resident\n", msSince(tClose),
                bench::statusMb("VmRSS:"));
    if (noPeer)
        return silent.problems == 0 ? 0 : 1;

    const bench::PeerRun peer = bench::medianPeer(
        kOpenings, {{file, "pos", 7, "c3"}},
        "SELECT c3, SUM(CAST(c2 AS REAL)), SUM(CAST(c5 AS REAL)), MIN(c4) FROM pos WHERE c3 <> '' "
        "GROUP BY c3 ORDER BY 2");
    std::printf("peer: SQLite in memory reads, indexes and totals the file in %.0f ms (median of %d, %ld "
                "articles; no chart)\n",
                peer.ms, kOpenings, peer.rows);
    std::printf("ratio vs sqlite: quantity %.3f, turnover %.3f\n", quantity.ms / peer.ms,
                turnover.ms / peer.ms);

    // The large file, in place of the small one.
    const auto tLarge = Clock::now();
    const std::size_t largeBytes = writePositions(file, kLargePositions);
    const double largeMb = static_cast<double>(largeBytes) / (1024.0 * 1024.0);
    std::printf("large bestellungen.db: %ld positions, %.0f MB (written in %.0f ms)\n", kLargePositions,
                largeMb, msSince(tLarge));
    const Figures large = measure("large quantity", quantityWindow, false);
    std::printf("large file: peak %.0f MB resident in all during the last opening\n",
                bench::statusMb("VmHWM:"));
    quantityWindow.accept();
    std::filesystem::remove(file);
    std::printf(
        "large file: median opening %.0f ms (%.0f ms processor), peak resident growth %.0f MB = %.2f x the "
        "file (target <= 4), longest stall %.0f ms (target <= 100)\n",
        large.ms, large.cpu, large.peakGrowthMb, large.peakGrowthMb / largeMb, large.stallMs);

    std::printf("quantity: %.0f ms, turnover: %.0f ms (target 250); large file: %.2f x its size at the peak "
                "(target 4), longest stall %.0f ms (target 100)\n",
                quantity.ms, turnover.ms, large.peakGrowthMb / largeMb, large.stallMs);
    return silent.problems == 0 ? 0 : 1;
}
