// Batch invoice benchmark: 1,000 open orders of 5 positions each at both tax rates, printed as
// complete invoices from the order window's "Alle offenen Rechnungen drucken" into PDF files (one
// job and one file per invoice, each number recorded in the ledger and each order marked). The last
// line is "batch: N ms" per invoice, the target being 20 ms.
#include "bench/common/measure.h"
#include "bench/common/silent_dialogs.h"
#include "orders/bestell.h"
#include "orders/core/invoicesettings.h"
#include "orders/print.h"
#include "platform/linefile.h"
#include "platform/settings_store.h"
#include "shell/shop.h"

#include <QApplication>
#include <QDir>
#include <QPrinter>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

using namespace velmo;

namespace {

constexpr int kOrders = 1'000;
constexpr int kPositionsPerOrder = 5;

// Every print dialog answered "print to this PDF file".
class PdfDialogs : public bench::SilentDialogs {
public:
    explicit PdfDialogs(QString path) : m_path(std::move(path)) {}
    bool choosePrinter(QWidget*, QPrinter& printer) override {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_path);
        return true;
    }

private:
    QString m_path;
};

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    qputenv("VELMO_SETTINGS", (dir.path() + "/velmo.ini").toUtf8());
    const std::string data = dir.path().toStdString();

    InvoiceSettings settings;
    settings.complete = true;
    settings.sellerName = "Kerzen Müller";
    settings.street = "Hauptstraße 1";
    settings.town = "50667 Köln";
    settings.taxNumber = "214/5678/1234";
    settings.reducedGroups = {"Bücher"};
    settings.save(*SettingsStore::openOrThrow());

    writeLines(data + "/db_sys.db", {"Kerzen;;Stumpen;;kerzen.db", "Lesen;;B\xFC"
                                                                   "cher;;lesen.db"});
    Lines candles{"Artikel-Nr"}, books{"Artikel-Nr"};
    for (int a = 0; a < 50; ++a) {
        candles.push_back("K-" + std::to_string(a) + ";;k;;h;;l;;Stumpen;;Kerze;;1.00;;;;;;;;;;;;;;");
        books.push_back("B-" + std::to_string(a) +
                        ";;k;;h;;l;;B\xFC"
                        "cher;;Buch;;1.00;;;;;;;;;;;;;;");
    }
    writeLines(data + "/kerzen.db", candles);
    writeLines(data + "/lesen.db", books);
    Lines orders, positions;
    for (int o = 0; o < kOrders; ++o) {
        const std::string nr = std::to_string(100000 + o);
        orders.push_back("01.02.2024;;" + nr +
                         ";;Erika Muster;;;;Weg 1;;50667 K\xF6ln;;DE;;;;;;x@y.de;;Vorkasse;;4.90;;0");
        for (int p = 0; p < kPositionsPerOrder; ++p) {
            const std::string article = (p % 2 ? "B-" : "K-") + std::to_string((o + p) % 50);
            std::string line = nr + ";;x;;" + std::to_string(p + 1);
            line += ";;" + article;
            line += ";;Artikel " + std::to_string(p);
            line += ";;" + std::to_string(3 + p) + ".95;;0";
            positions.push_back(std::move(line));
        }
    }
    writeLines(data + "/kunden.db", orders);
    writeLines(data + "/bestellungen.db", positions);

    const QString out = dir.path() + "/pdf";
    QDir().mkpath(out);
    PdfDialogs dialogs(out + "/rechnungen.pdf");
    Shop shop(dialogs);
    shop.ShopSettings.localDat = dir.path();
    shop.ShopSettings.Currency = QStringLiteral("EUR");
    OrderValues values;
    TForm8 invoice(shop, values);
    TForm7 window(shop, values, invoice);
    window.show();
    QApplication::processEvents();

    int printed = 0;
    QObject::connect(&invoice, &TForm8::batchInvoicePrinted, [&](int done, int) { printed = done; });
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = bench::processorMs();
    window.Button3Click();
    const double cpu = bench::processorMs() - cpuStart;
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const int files = static_cast<int>(QDir(out).entryList({QStringLiteral("*.pdf")}, QDir::Files).size());
    std::printf("invoices printed: %d, PDF files: %d, problems: %d\n", printed, files, dialogs.problems);
    // On a shared machine the wall time includes waiting for the processor and for the ledger's
    // flush to disk after every invoice; the processor time shows what the program itself spends.
    std::printf("total: %.0f ms, processor: %.0f ms (%.1f ms per invoice)\n", ms, cpu,
                printed > 0 ? cpu / printed : 0.0);
    std::printf("batch: %.1f ms\n", printed > 0 ? ms / printed : 0.0);
    return printed == kOrders && files == kOrders && dialogs.problems == 0 ? 0 : 1;
}
