// Order window benchmark: a kunden.db of 100,000 orders and a bestellungen.db of 500,000 positions,
// activated in the order window (shown on the offscreen platform, until the grids have painted);
// clicks on orders in the list, each until the positions have painted; and an invoice of 1,000
// positions rendered to PDF.
//
// The peer, measured in the same run: SQLite reading both files into tables in memory, indexing the
// positions by order and finding the first order's. The last line is "activate: N ms, click: M ms,
// invoice: K ms": the median of the activations, of the clicks and of the invoice runs.
#include "bench/common/measure.h"
#include "bench/common/silent_dialogs.h"
#include "bench/common/sqlite_peer.h"
#include "memtable/qt/tablegrid.h"
#include "orders/bestell.h"
#include "orders/print.h"
#include "platform/linefile.h"
#include "shell/dialogs.h"
#include "shell/shop.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPdfWriter>
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

constexpr int kOrders = 100'000;
constexpr int kPositions = 500'000;
constexpr int kInvoicePositions = 1'000;
constexpr int kActivations = 3;
constexpr int kClicks = 60;
constexpr int kInvoiceRuns = 3;

using bench::SilentDialogs;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Orders over four years with Windows-1252 names; positions spread unevenly over them (most orders
// have a few, some many), in the order the storefront appended them; one order has 1,000 positions.
std::size_t writeShop(const std::string& dir) {
    std::mt19937 rng(4711);
    const std::vector<std::string> first = {"Anna", "J\xFCrgen", "Bj\xF6rn", "Erika",
                                            "Hans", "Lena",      "\xC4nne"};
    const std::vector<std::string> last = {"M\xFCller", "Schmidt", "Wei\xDF", "Gro\xDF", "Becker", "Hofmann"};
    const std::vector<std::string> towns = {"10115 Berlin", "80331 M\xFCnchen", "50667 K\xF6ln",
                                            "20095 Hamburg"};
    auto pick = [&](const std::vector<std::string>& v) -> const std::string& {
        return v[std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng)];
    };
    Lines orders;
    orders.reserve(kOrders);
    for (int i = 0; i < kOrders; ++i) {
        const int day = 1 + i % 28, month = 1 + (i / 28) % 12, year = 2020 + i % 4;
        char date[32];
        std::snprintf(date, sizeof date, "%02d.%02d.%d-%02d:%02d", day, month, year, i % 24, i % 60);
        const std::string nr = i == 0 ? "GROSS-1000" : "B" + std::to_string(100000 + i);
        orders.push_back(std::string(date) + ";;" + nr + ";;" + pick(first) + " " + pick(last) + ";;;;Weg " +
                         std::to_string(i % 200) + ";;" + pick(towns) + ";;DE;;030 " + std::to_string(i) +
                         ";;;;kunde" + std::to_string(i) + "@example.de;;Vorkasse;;4.90;;" +
                         (i % 3 ? "1" : "0"));
    }
    Lines positions;
    positions.reserve(kPositions);
    std::uniform_int_distribution<int> anyOrder(1, kOrders - 1), euros(1, 99), cents(0, 99), qty(1, 5);
    auto positionLine = [&](const std::string& nr, int n) {
        char price[16];
        std::snprintf(price, sizeof price, "%d.%02d", euros(rng), cents(rng));
        return nr + ";;x;;" + std::to_string(qty(rng)) + ";;A-" + std::to_string(10000 + n % 5000) +
               ";;Kerze aus Bienenwachs, handgezogen, Farbe " + std::to_string(n % 40) + ";;" + price + ";;0";
    };
    for (int n = 0; n < kInvoicePositions; ++n)
        positions.push_back(positionLine("GROSS-1000", n));
    while (static_cast<int>(positions.size()) < kPositions)
        positions.push_back(
            positionLine("B" + std::to_string(100000 + anyOrder(rng)), static_cast<int>(positions.size())));
    std::shuffle(positions.begin(), positions.end(), rng);
    writeLines(dir + "/kunden.db", orders);
    writeLines(dir + "/bestellungen.db", positions);
    return std::filesystem::file_size(dir + "/kunden.db") +
           std::filesystem::file_size(dir + "/bestellungen.db");
}

class NoInvoice : public InvoicePrinting {
public:
    void Preview(const InvoiceSnapshot&, QWidget*, const std::function<void()>&) override {}
    int PrintBatch(const std::vector<InvoiceSnapshot>&, QWidget*,
                   const std::function<void(const std::string&)>&) override {
        return 0;
    }
};

// The pending events handled, which paints what changed; a grid the platform did not paint is
// painted here, inside the measurement.
void untilPainted(TForm7& window) {
    QApplication::processEvents();
    window.DBGrid1->viewport()->repaint();
    window.DBGrid2->viewport()->repaint();
}

void clickRow(TForm7& window, int row) {
    QWidget* viewport = window.DBGrid1->viewport();
    const QRect cell = window.DBGrid1->visualRect(window.DBGrid1->model()->index(row, 0));
    const QPointF at = cell.center();
    QMouseEvent press(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, viewport->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &release);
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    qputenv("VELMO_SETTINGS", (dir.path() + "/velmo.ini").toUtf8());
    const auto tGen = Clock::now();
    const std::size_t bytes = writeShop(dir.path().toStdString());
    std::printf("shop: %d orders, %d positions, %.1f MB (written in %.0f ms)\n", kOrders, kPositions,
                static_cast<double>(bytes) / 1e6, msSince(tGen));

    SilentDialogs silent{false};
    Shop shop(silent);
    shop.ShopSettings.localDat = dir.path();
    shop.ShopSettings.Currency = QStringLiteral("EUR");
    OrderValues values;
    NoInvoice noInvoice;
    TForm7 window(shop, values, noInvoice);
    TForm8 invoice(shop, values);
    const long baseKb = statusKb("VmRSS:");

    // Activation: each showing reloads both files.
    std::vector<double> activations;
    for (int round = 0; round < kActivations; ++round) {
        window.hide();
        QApplication::processEvents();
        const auto t0 = Clock::now();
        const double c0 = bench::processorMs();
        window.show();
        untilPainted(window);
        activations.push_back(msSince(t0));
        std::printf("activate %d: %.0f ms, %.0f ms processor time (%d orders listed, %s)\n", round + 1,
                    activations.back(), bench::processorMs() - c0, window.DBGrid1->model()->rowCount(),
                    window.Label12->text().toUtf8().constData());
    }
    std::printf("memory: %.0f MB more resident with both files loaded\n",
                static_cast<double>(statusKb("VmRSS:") - baseKb) / 1024.0);

    // Clicks on orders visible in the list, spread over it by scrolling there first.
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> anyRow(0, window.DBGrid1->model()->rowCount() - 1);
    std::vector<double> clicks;
    int shown = 0;
    for (int i = 0; i < kClicks; ++i) {
        const int row = anyRow(rng);
        window.DBGrid1->scrollTo(window.DBGrid1->model()->index(row, 0));
        QApplication::processEvents();
        const auto t0 = Clock::now();
        clickRow(window, row);
        untilPainted(window);
        clicks.push_back(msSince(t0));
        shown += window.PositionTable.RecordCount();
    }
    std::printf("click: median %.2f ms, slowest %.2f ms over %d clicks (%d positions shown)\n",
                median(clicks), *std::max_element(clicks.begin(), clicks.end()), kClicks, shown);

    // The invoice of the order with 1,000 positions, the oldest order by number search.
    window.ComboBox2->setCurrentIndex(1);
    window.ComboBox2Change();
    window.Edit1->setText(QStringLiteral("GROSS-1000"));
    std::printf("invoice order: %s with %d positions, %s\n",
                window.OrderTable.fieldByName("BestellNr").asString().c_str(),
                window.PositionTable.RecordCount(), window.Label13->text().toUtf8().constData());
    std::vector<double> invoices;
    for (int round = 0; round < kInvoiceRuns; ++round) {
        const QString pdf = dir.path() + "/invoice.pdf";
        const auto t0 = Clock::now();
        const double c0 = bench::processorMs();
        {
            // What "&Rechnung" does first: the order and its positions taken from the document.
            const std::optional<InvoiceSnapshot> snapshot = window.document().invoice();
            QPdfWriter writer(pdf);
            if (!snapshot || !invoice.renderTo(*snapshot, writer))
                std::fprintf(stderr, "the invoice did not render\n");
        }
        invoices.push_back(msSince(t0));
        std::printf("invoice %d: %.0f ms, %.0f ms processor time, %lld bytes of PDF\n", round + 1,
                    invoices.back(), bench::processorMs() - c0,
                    static_cast<long long>(QFileInfo(pdf).size()));
    }
    if (silent.problems)
        std::printf("%d messages were shown\n", silent.problems);
    // The peer: both files into SQLite, the positions indexed by order, the first order's positions.
    const std::string d = dir.path().toStdString();
    const bench::PeerRun peer = bench::medianPeer(
        kActivations, {{d + "/kunden.db", "kunden", 13, ""}, {d + "/bestellungen.db", "pos", 7, "c0"}},
        "SELECT * FROM pos WHERE c0 = (SELECT c1 FROM kunden ORDER BY rowid LIMIT 1)");
    std::printf("peer: SQLite in memory reads both files, indexes the positions by order and finds the first "
                "order's %ld positions in %.0f ms\n",
                peer.rows, peer.ms);
    std::printf("ratio vs sqlite: activate %.3f\n", median(activations) / peer.ms);
    std::printf("activate: %.0f ms, click: %.1f ms, invoice: %.0f ms\n", median(activations), median(clicks),
                median(invoices));
    return silent.problems ? 1 : 0;
}
