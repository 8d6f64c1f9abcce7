// Printing every open invoice from the order window: one print dialog, one job per invoice, each
// order marked only once its invoice was printed; cancelling and a printer failure leave the rest
// unmarked, and the invoice numbers given out are exactly those of the printed orders.
#include "tests/orders/order_fixture.h"

#include "orders/core/invoiceledger.h"
#include "platform/settings_store.h"
#include "tests/orders/einvoice_check.h"
#include "tests/support/pdf_text.h"

#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>
#include <QPushButton>

using namespace velmo;
using namespace velmo::test;

namespace {

// The order window wired to the real invoice, as the program wires them.
class BatchPrint : public ::testing::Test {
protected:
    BatchPrint() : shop(scripted), form8(shop, values), window(shop, values, form8) {
        shop.ShopSettings.localDat = QString::fromStdString(dir.path());
        shop.ShopSettings.Currency = QStringLiteral("EUR");
    }

    void SetUp() override {
        InvoiceSettings s;
        s.complete = true;
        s.sellerName = "Kerzen Müller";
        s.street = "Hauptstraße 1";
        s.town = "50667 Köln";
        s.taxNumber = "214/5678/1234";
        s.save(*SettingsStore::openOrThrow());
        // Five open orders and a printed one among them; the list shows them by date: 1 … 5.
        writeBytes(dir.file("kunden.db"), joinLines({
                                              order("05.01.2024", "5", "E", "1 E", "1", "0"),
                                              order("01.01.2024", "1", "A", "1 A", "1", "0"),
                                              order("02.01.2024", "2", "B", "1 B", "1", "0"),
                                              order("02.06.2023", "P", "P", "1 P", "1", "1"),
                                              order("03.01.2024", "3", "C", "1 C", "1", "0"),
                                              order("04.01.2024", "4", "D", "1 D", "1", "0"),
                                          }));
        std::vector<std::string> positions;
        for (const char* nr : {"1", "2", "3", "4", "5", "P"})
            positions.push_back(position(nr, "1", std::string("ART-") + nr, "Kerze", "10.00"));
        writeBytes(dir.file("bestellungen.db"), joinLines(positions));
        window.show();
        QApplication::processEvents();
        scripted.printToPdf(QString::fromStdString(dir.file("rechnungen.pdf")));
    }

    // "Alle offenen Rechnungen drucken", the print dialog answered as told.
    void printAll(bool choosePrint = true) {
        scripted.answerPrinter(choosePrint);
        guarded(scripted, [&] { window.Button3Click(); });
    }

    // The status of every order in kunden.db, by number.
    std::map<std::string, std::string> statuses() {
        std::map<std::string, std::string> s;
        for (const std::string& line : splitLines(readBytes(dir.file("kunden.db")))) {
            const std::size_t first = line.find(";;");
            s[line.substr(first + 2, line.find(";;", first + 2) - first - 2)] =
                line.substr(line.rfind(";;") + 2);
        }
        return s;
    }
    std::vector<std::string> ledgerOrders() {
        InvoiceLedger ledger(dir.file(InvoiceLedger::kFileName));
        ledger.load();
        std::vector<std::string> orders;
        for (const LedgerEntry& e : ledger.entries())
            orders.push_back(e.bestellNr + "=" + e.numberText);
        return orders;
    }
    bool printed(int n) {
        return QFileInfo(QString::fromStdString(dir.file("rechnungen-00" + std::to_string(n) + ".pdf")))
            .isFile();
    }

    TempDir dir;
    ScriptedDialogs scripted;
    Shop shop;
    OrderValues values;
    TForm8 form8;
    TForm7 window;
};

TEST_F(BatchPrint, PrintsEveryOpenOrderOnceInListOrderAfterOneDialog) {
    printAll();
    EXPECT_EQ(scripted.texts("printer").size(), 1);
    EXPECT_TRUE(scripted.texts("error").isEmpty());
    for (int n = 1; n <= 5; ++n)
        EXPECT_TRUE(printed(n)) << n;
    EXPECT_FALSE(printed(6));
    EXPECT_EQ(statuses(), (std::map<std::string, std::string>{
                              {"1", "1"}, {"2", "1"}, {"3", "1"}, {"4", "1"}, {"5", "1"}, {"P", "1"}}));
    EXPECT_EQ(ledgerOrders(),
              (std::vector<std::string>{"1=RE-0001", "2=RE-0002", "3=RE-0003", "4=RE-0004", "5=RE-0005"}));
    // Printed to files, each complete invoice is an e-invoice of its own order and number.
    for (int n = 1; n <= 5; ++n) {
        const std::string pdf = dir.file("rechnungen-00" + std::to_string(n) + ".pdf");
        const std::string xml = pdfAttachment(pdf, "factur-x.xml");
        EXPECT_NE(xml.find("<ram:ID>RE-000" + std::to_string(n) + "</ram:ID>"), std::string::npos) << n;
        EXPECT_NE(xml.find("<ram:IssuerAssignedID>" + std::to_string(n) + "</ram:IssuerAssignedID>"),
                  std::string::npos)
            << n;
        EXPECT_NE(readBytes(pdf).find("pdfaid:part=\"3\""), std::string::npos) << n;
        EXPECT_TRUE(pdfLayoutText(QString::fromStdString(pdf)).contains(QStringLiteral("RE-000%1").arg(n)))
            << n;
    }
    // Nothing is left to print.
    guarded(scripted, [&] { window.Button3Click(); });
    EXPECT_EQ(scripted.texts("information"),
              QStringList{QStringLiteral("Es gibt keine offenen Rechnungen.")});
}

TEST_F(BatchPrint, CancelAfterTheSecondLeavesTheRestUnmarked) {
    QObject::connect(&form8, &TForm8::batchInvoicePrinted, [&](int done, int total) {
        EXPECT_EQ(total, 5);
        if (done == 2) {
            ASSERT_NE(form8.batchProgress(), nullptr);
            QPushButton* cancel = form8.batchProgress()->findChild<QPushButton*>();
            ASSERT_NE(cancel, nullptr);
            EXPECT_EQ(cancel->text(), QStringLiteral("Abbrechen"));
            cancel->click();
        }
    });
    printAll();
    EXPECT_TRUE(printed(1) && printed(2));
    EXPECT_FALSE(printed(3));
    EXPECT_EQ(statuses(), (std::map<std::string, std::string>{
                              {"1", "1"}, {"2", "1"}, {"3", "0"}, {"4", "0"}, {"5", "0"}, {"P", "1"}}));
    EXPECT_EQ(ledgerOrders(), (std::vector<std::string>{"1=RE-0001", "2=RE-0002"}));
    EXPECT_EQ(form8.batchProgress(), nullptr);
}

TEST_F(BatchPrint, APrinterFailureOnTheThirdStopsAndNamesIt) {
    // The third job's output cannot be written. The short invoice goes to the printer's file
    // directly; a complete one is an e-invoice, drawn aside and then written to its file.
    const struct {
        bool complete;
        const char* failure;
        std::vector<std::string> numbers;
    } cases[] = {
        {false, "Der Drucker hat sie nicht angenommen.", {}},
        {true, "Datei %1 kann nicht erstellt werden.", {"1=RE-0001", "2=RE-0002"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.complete);
        InvoiceSettings s = InvoiceSettings::load(*SettingsStore::openOrThrow());
        s.complete = c.complete;
        s.save(*SettingsStore::openOrThrow());
        writeBytes(dir.file("kunden.db"), joinLines({
                                              order("05.01.2024", "5", "E", "1 E", "1", "0"),
                                              order("01.01.2024", "1", "A", "1 A", "1", "0"),
                                              order("02.01.2024", "2", "B", "1 B", "1", "0"),
                                              order("02.06.2023", "P", "P", "1 P", "1", "1"),
                                              order("03.01.2024", "3", "C", "1 C", "1", "0"),
                                              order("04.01.2024", "4", "D", "1 D", "1", "0"),
                                          }));
        QFile::remove(QString::fromStdString(dir.file(InvoiceLedger::kFileName)));
        for (int n = 1; n <= 5; ++n)
            QFile::remove(QString::fromStdString(dir.file("rechnungen-00" + std::to_string(n) + ".pdf")));
        scripted.clear();
        guarded(scripted, [&] { window.FormActivate(); });
        const QString third = QString::fromStdString(dir.file("rechnungen-003.pdf"));
        ASSERT_TRUE(QDir().mkpath(third));
        printAll();
        EXPECT_EQ(scripted.texts("error"),
                  QStringList{QStringLiteral("Die Rechnung der Bestellung 3 konnte nicht gedruckt werden: ") +
                              QString::fromUtf8(c.failure).replace(QStringLiteral("%1"), third) +
                              QStringLiteral(" Die 2 folgenden Rechnungen wurden nicht gedruckt.")});
        EXPECT_FALSE(printed(4));
        EXPECT_EQ(statuses(), (std::map<std::string, std::string>{
                                  {"1", "1"}, {"2", "1"}, {"3", "0"}, {"4", "0"}, {"5", "0"}, {"P", "1"}}));
        // The failed invoice's number goes to the next one printed.
        EXPECT_EQ(ledgerOrders(), c.numbers);
        QDir(third).removeRecursively();
    }
}

TEST_F(BatchPrint, ACancelledPrintDialogPrintsAndMarksNothing) {
    printAll(false);
    EXPECT_EQ(scripted.texts("printer").size(), 1);
    EXPECT_FALSE(printed(1));
    EXPECT_EQ(statuses()["1"], "0");
    EXPECT_TRUE(ledgerOrders().empty());
}

// Which orders a batch covers, with the invoice seam scripted.
class BatchChoice : public OrderWindowTest {
protected:
    std::string statusOf(const std::string& nr) {
        for (const std::string& line : splitLines(ordersFile())) {
            if (line.find(";;" + nr + ";;") != std::string::npos)
                return line.substr(line.rfind(";;") + 2);
        }
        return "?";
    }
};

TEST_F(BatchChoice, TheOpenOrdersOfTheListInItsOrderAndOnlyThePrintedMarked) {
    writeOrders({order("03.01.2024", "30", "Anna", "1 X", "1", "0"),
                 order("01.01.2024", "10", "Carl", "1 X", "1", "1"),
                 order("02.01.2024", "20", "Bert", "1 X", "1", "0"),
                 order("04.01.2024", "40", "Dora", "1 X", "1", "0")});
    writePositions({});
    open();
    chooseIndex(2); // by name
    click("40");
    invoice.batchPrints = 2;
    guarded(scripted, [&] { window.Button3Click(); });
    ASSERT_EQ(invoice.batches.size(), 1u);
    EXPECT_EQ(invoice.batches[0], (std::vector<std::string>{"30", "20", "40"}));
    EXPECT_EQ(statusOf("30"), "1");
    EXPECT_EQ(statusOf("20"), "1");
    EXPECT_EQ(statusOf("40"), "0");
    EXPECT_TRUE(scripted.calls().empty());

    // Nothing printed: kunden.db is not written.
    writeOrders({order("01.01.2024", "10", "Carl", "1 X", "1", "0")});
    window.FormActivate();
    const std::string before = ordersFile();
    invoice.batchPrints = 0;
    guarded(scripted, [&] { window.Button3Click(); });
    EXPECT_EQ(ordersFile(), before);
}

} // namespace
