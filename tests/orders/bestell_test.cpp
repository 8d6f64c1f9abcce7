// The order window: activation from the two order files, the totals, the list filter, search and
// index, corrections, the printed mark, and writing kunden.db.
#include "tests/orders/order_fixture.h"

#include "datafiles/ordermerge.h"
#include "datafiles/orderstore.h"
#include "memtable/qt/tablegrid.h"
#include "platform/filelock.h"
#include "report/preview.h"
#include "shell/windows.h"
#include "tests/support/grid_widths.h"
#include "tests/support/pdf_text.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QtTest/QTest>

using namespace velmo;
using namespace velmo::test;

namespace {

// Three orders, out of date order; 1002 has no positions and 1003 no shipping charge.
const std::vector<std::string> kOrders = {
    order("15.03.2024-10:22", "1001", "Meier", "10115 Berlin", "4.90", "0"),
    order("01.02.2024", "1002", "Albers", "80331 München", "5,00", "1"),
    order("20.03.2024", "1003", "Zander", "20095 Hamburg", "", "0"),
};
const std::vector<std::string> kPositions = {
    "header line of the storefront, never a position;;;;",
    position("1001", "2", "B-200", "Becher", "1000.5"),
    position("1003", "1", "K-1", "Kerze", "3,20"),
    position("1001", "1", "A-100", "Anhänger", "234"),
    position("1001", "9", "", "no article number: no position", "99"),
    position("10011", "1", "Z-9", "another order", "7"),
};

class OrderWindow : public OrderWindowTest {
protected:
    void SetUp() override {
        writeOrders(kOrders);
        writePositions(kPositions);
    }
};

TEST_F(OrderWindowTest, MissingFilesAreCreatedAndShowNothing) {
    open();
    EXPECT_TRUE(scripted.calls().empty());
    EXPECT_EQ(readBytes(dir.file("kunden.db")), "");
    EXPECT_EQ(readBytes(dir.file("bestellungen.db")), "");
    EXPECT_EQ(window.OrderTable.RecordCount(), 0);
    EXPECT_EQ(window.Label12->text(), QStringLiteral("0 Positionen"));
    EXPECT_EQ(window.Label13->text(), QStringLiteral("0,00 EUR"));
    EXPECT_EQ(window.Label14->text(), QStringLiteral("EUR Versand"));
    EXPECT_EQ(window.invoiceTotalText(), "0,00");
}

TEST_F(OrderWindowTest, DatesNumbersAndTitlesShowWholeAndTheOwnersWidthsComeBack) {
    writeOrders({order("09.12.2026-23:59", "2026120912345", "Meier", "10115 Berlin", "4,90", "0")});
    writePositions({position("2026120912345", "1000", "WK-2026-000042", "Bienenwachskerze", "12345,67")});
    open();
    ASSERT_TRUE(scripted.calls().empty()) << scripted.texts("error").join("|").toStdString();
    for (const MemTableGrid* grid : {window.DBGrid1, window.DBGrid2}) {
        const QAbstractItemModel& model = *grid->model();
        ASSERT_EQ(model.rowCount(), 1);
        for (int c = 0; c < model.columnCount(); ++c) {
            const QString title = model.headerData(c, Qt::Horizontal).toString();
            const QString text = model.index(0, c).data().toString();
            SCOPED_TRACE((title + ": " + text).toStdString());
            EXPECT_GE(grid->columnWidth(c), headerTextNeeds(*grid, title));
            EXPECT_GE(grid->columnWidth(c), cellTextNeeds(*grid, text));
        }
    }
    EXPECT_EQ(window.DBGrid1->model()->index(0, 1).data().toString(), QStringLiteral("09.12.2026"));

    // The owner's widths, kept when the window closes, come back in the next run's window.
    window.DBGrid1->horizontalHeader()->resizeSection(2, 251);
    window.DBGrid2->horizontalHeader()->resizeSection(2, 299);
    window.close();
    TForm7 next(shop, values, invoice);
    next.show();
    QApplication::processEvents();
    EXPECT_EQ(next.DBGrid1->columnWidth(2), 251);
    EXPECT_EQ(next.DBGrid2->columnWidth(2), 299);
}

TEST_F(OrderWindow, ActivationShowsTheOldestOrderWithItsPositions) {
    open();
    ASSERT_TRUE(scripted.calls().empty()) << scripted.texts("error").join("|").toStdString();
    EXPECT_EQ(listed(), (std::vector<std::string>{"1002", "1001", "1003"}));
    EXPECT_EQ(current(), "1002");
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Bestellungen"));
    EXPECT_EQ(window.ComboBox1->currentText(), QStringLiteral("Alle Vorgänge"));
    EXPECT_EQ(window.ComboBox2->currentText(), QStringLiteral("Datum"));
    EXPECT_EQ(window.Label2->text(), QStringLiteral("Suche nach Datum:"));
}

// A click shows the order's positions, their count and the goods value with the currency (the totals
// themselves: orders/core).
TEST_F(OrderWindow, ClickShowsTheOrdersPositionsAndTotals) {
    open();
    click("1001");
    EXPECT_EQ(window.PositionTable.RecordCount(), 2);
    EXPECT_EQ(window.Label12->text(), QStringLiteral("2 Positionen"));
    EXPECT_EQ(window.Label13->text(), QStringLiteral("1.234,50 EUR"));
    EXPECT_EQ(window.invoiceTotalText(), "1.239,40");
    click("1002");
    EXPECT_EQ(window.Label12->text(), QStringLiteral("0 Positionen"));
    EXPECT_EQ(window.Label13->text(), QStringLiteral("0,00 EUR"));
    EXPECT_TRUE(scripted.calls().empty());
}

TEST_F(OrderWindow, ListSelectorChoosesTheFilter) {
    open();
    const std::pair<int, OrderListFilter> choices[] = {
        {2, OrderListFilter::New}, {1, OrderListFilter::Printed}, {0, OrderListFilter::All}};
    for (const auto& [entry, filter] : choices) {
        chooseList(entry);
        EXPECT_EQ(window.document().listFilter(), filter);
    }
    chooseList(2);
    EXPECT_EQ(current(), "1001");
    EXPECT_EQ(window.Label12->text(), QStringLiteral("2 Positionen"));
}

TEST_F(OrderWindow, EmptyFilteredListShowsNoPositionsAndKeepsTheTotal) {
    writeOrders({kOrders[0]});
    open();
    const std::string total = window.invoiceTotalText();
    chooseList(1);
    EXPECT_EQ(window.OrderTable.RecordCount(), 0);
    EXPECT_EQ(window.PositionTable.RecordCount(), 0);
    EXPECT_EQ(window.Label13->text(), QStringLiteral("0,00 EUR"));
    EXPECT_EQ(window.Label12->text(), QString());
    EXPECT_EQ(window.invoiceTotalText(), total);
}

TEST_F(OrderWindow, IndexChoiceSearchAndRefreshedPositions) {
    open();
    chooseIndex(2);
    EXPECT_EQ(window.Label2->text(), QStringLiteral("Suche Name:"));
    EXPECT_EQ(current(), "1002"); // Albers
    // The positions follow the order that became current, so an invoice never mixes two orders.
    EXPECT_EQ(window.Label12->text(), QStringLiteral("0 Positionen"));

    // Typing searches (the search itself: orders/core).
    window.Edit1->setText(QStringLiteral("Z"));
    EXPECT_EQ(current(), "1003");
    window.Edit1->setText(QStringLiteral("Me"));
    EXPECT_EQ(window.invoiceTotalText(), "1.239,40");
    EXPECT_TRUE(scripted.calls().empty());

    // Closing writes in the order of the current index.
    window.Button1Click();
    const std::string file = ordersFile();
    EXPECT_LT(file.find("Albers"), file.find("Meier"));
    EXPECT_LT(file.find("Meier"), file.find("Zander"));
}

TEST_F(OrderWindow, DateSearchRejectsWhatIsNoDate) {
    open();
    window.Edit1->setText(QStringLiteral("15.03.2024"));
    EXPECT_EQ(current(), "1001");
    window.Edit1->setText(QStringLiteral("15.0x"));
    EXPECT_EQ(scripted.texts("error"),
              QStringList{QStringLiteral("'15.0x' ist keine gültige Datums- und Uhrzeitangabe.")});
    EXPECT_EQ(current(), "1001");
}

TEST_F(OrderWindow, ClosingWritesEveryOrderWithTheCorrectionTypedIntoItsField) {
    open();
    click("1001");
    window.DBEdit1->setFocus();
    window.DBEdit1->selectAll();
    QTest::keyClicks(window.DBEdit1, "Meier-Schulz");
    window.Button1Click();
    EXPECT_FALSE(window.isVisible());
    // What was not corrected goes back as the file held it, the time behind "-" included.
    std::string corrected = kOrders[0];
    corrected.replace(corrected.find(";;Meier;;"), 9, ";;Meier-Schulz;;");
    EXPECT_EQ(ordersFile(), joinLines({kOrders[1], corrected, kOrders[2]}));
}

TEST_F(OrderWindow, CustomerFieldsRefuseWhatWouldBreakTheLine) {
    open();
    click("1001");
    window.DBEdit3->setFocus();
    window.DBEdit3->selectAll();
    QTest::keyClicks(window.DBEdit3, "Weg;;2");
    EXPECT_EQ(window.DBEdit3->text(), QStringLiteral("Weg;2"));
    // A ";" at the end would run into the separator: closing refuses and keeps the window open.
    QTest::keyClicks(window.DBEdit3, ";");
    const std::string before = ordersFile();
    window.show();
    window.Button1Click();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(ordersFile(), before);
    ASSERT_EQ(scripted.texts("error").size(), 1);
    EXPECT_EQ(current(), "1001");
}

// A line the activation cannot read: its message in the error box, the orders before it listed. What
// a later write keeps is the document's (orders/core).
TEST_F(OrderWindowTest, ABadOrderLineStopsTheActivationWithItsMessage) {
    writeOrders({order("01.01.2024", "1", "A", "1 A", "1", "0"), "02.01.2024;;2;;B"});
    open();
    EXPECT_EQ(scripted.texts("error"),
              QStringList{QStringLiteral(
                  "Zeile 2 in kunden.db ist unvollständig: sie hat weniger als 12 Trennzeichen \";;\"")});
    EXPECT_EQ(window.OrderTable.RecordCount(), 1);
    EXPECT_EQ(window.ComboBox2->currentText(), QStringLiteral("Datum"));
}

TEST_F(OrderWindow, BadAmountsStopTheTotalsWithTheirMessage) {
    writePositions({position("1001", "1", "A", "a", "12,5"), position("1001", "1", "B", "b", "zw\xF6lf"),
                    position("1003", "1", "C", "c", "1.234.5")});
    writeOrders(
        {order("01.01.2024", "1001", "A", "1", "1", "0"), order("02.01.2024", "1003", "B", "2", "abc", "0")});
    open();
    // The bad position is listed, then the collecting stops: count and totals keep their texts.
    EXPECT_EQ(scripted.texts("error"),
              QStringList{QStringLiteral("'zwölf' ist kein gültiger Gleitkommawert.")});
    EXPECT_EQ(window.PositionTable.RecordCount(), 2);
    EXPECT_EQ(window.Label12->text(), QStringLiteral("Positionen"));
    scripted.clear();
    // Only the first "." becomes ",": 1.234.5 is no number.
    click("1003");
    EXPECT_EQ(scripted.texts("error"),
              QStringList{QStringLiteral("'1,234.5' ist kein gültiger Gleitkommawert.")});
    // No invoice goes out with an amount that is no money.
    scripted.clear();
    guarded(scripted, [&] { window.Button2Click(); });
    EXPECT_EQ(scripted.texts("error").size(), 1);
    EXPECT_EQ(invoice.previews, 0);
    writePositions({position("1003", "1", "C", "c", "3")});
    scripted.clear();
    window.hide();
    open();
    const std::string total = window.invoiceTotalText();
    const QString goods = window.Label13->text();
    click("1003");
    // A shipping charge that is no number: the total and the goods value stay as they were.
    EXPECT_EQ(scripted.texts("error"),
              QStringList{QStringLiteral("'abc' ist kein gültiger Gleitkommawert.")});
    EXPECT_EQ(window.invoiceTotalText(), total);
    EXPECT_EQ(window.Label13->text(), goods);
}

// --- the printed mark --------------------------------------------------------------------------

TEST_F(OrderWindow, PrintedInvoiceMarksItsOrderAndShowsAllOrdersAgain) {
    open();
    chooseList(2);
    click("1003");
    invoice.print = true;
    window.Button2Click();
    EXPECT_EQ(invoice.orderAtPreview, "1003");
    EXPECT_EQ(invoice.goodsAtPreview, "3,20");
    EXPECT_FALSE(values.PrintedMarkPending);
    EXPECT_NE(ordersFile().find(order("20.03.2024", "1003", "Zander", "20095 Hamburg", "", "1")),
              std::string::npos);
    EXPECT_FALSE(window.OrderTable.Filtered());
    EXPECT_EQ(window.ComboBox1->currentIndex(), 0);
    EXPECT_EQ(listed(), (std::vector<std::string>{"1002", "1001", "1003"}));

    // Closing and opening again marks nothing more.
    window.Button1Click();
    const std::string written = ordersFile();
    open();
    EXPECT_EQ(ordersFile(), written);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 3);
}

TEST_F(OrderWindow, PreviewClosedWithoutPrintingWritesNothing) {
    open();
    chooseList(2);
    const std::string before = ordersFile();
    window.Button2Click();
    EXPECT_EQ(invoice.previews, 1);
    // The text behind "-" in the first date shows the file has not been rewritten.
    EXPECT_EQ(ordersFile(), before);
    // The reactivation reloaded the orders once each; the list is still filtered.
    EXPECT_EQ(window.OrderTable.storedRecords(), 3u);
    EXPECT_EQ(listed(), (std::vector<std::string>{"1001", "1003"}));
    window.Button1Click();
    const std::string written = ordersFile();
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 3);
}

TEST_F(OrderWindow, PreviewOfAPrintedOrderRewritesItUnchanged) {
    open();
    click("1002");
    window.Button2Click();
    // The order already carried "1": the mark is applied again and the file rewritten, in date order,
    // every line as it was.
    EXPECT_EQ(ordersFile(), joinLines({kOrders[1], kOrders[0], kOrders[2]}));
}

// The whole road with the real invoice: its preview blocks in a nested loop while the window
// stays live; printing through the print dialog marks the order.
class InvoiceRoad : public OrderWindow {
protected:
    InvoiceRoad() : form8(shop, values), realWindow(shop, values, form8) {}
    void SetUp() override {
        OrderWindow::SetUp();
        scripted.printToPdf(QString::fromStdString(dir.file("invoice.pdf")));
    }
    // Runs script inside the preview's loop, then closes the preview.
    void withPreview(const std::function<void(report::PreviewWindow&)>& script) {
        QTimer::singleShot(0, &realWindow, [this, script] {
            report::PreviewWindow* preview = form8.preview();
            ASSERT_NE(preview, nullptr);
            EXPECT_EQ(preview->parentWidget(), &realWindow);
            // The order window stays on top, and so does the preview above it.
            EXPECT_TRUE(preview->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            script(*preview);
            preview->close();
        });
        realWindow.Button2Click();
    }

    TForm8 form8;
    TForm7 realWindow;
};

// The preview opens over the order window, and at its first size its close command is on the
// toolbar itself, not in the overflow menu.
TEST_F(InvoiceRoad, ThePreviewOpensCentredOverTheWindowWithItsCloseCommandInSight) {
    realWindow.move(40, 30);
    realWindow.show();
    QApplication::processEvents();
    withPreview([&](report::PreviewWindow& preview) {
        const QRect area = preview.screen()->availableGeometry();
        EXPECT_EQ(preview.frameGeometry(),
                  centredWithin(preview.frameGeometry(), realWindow.frameGeometry().center(), area));
        auto* bar = preview.findChild<QToolBar*>();
        ASSERT_NE(bar, nullptr);
        QWidget* close = bar->widgetForAction(preview.closeAction());
        ASSERT_NE(close, nullptr);
        EXPECT_TRUE(close->isVisible());
        EXPECT_TRUE(bar->rect().contains(close->geometry())) << "in the overflow";
    });
}

TEST_F(InvoiceRoad, PrintFromThePreviewMarksTheOrder) {
    realWindow.show();
    QApplication::processEvents();
    realWindow.ComboBox1->setCurrentIndex(2);
    realWindow.ComboBox1Change();
    scripted.answerPrinter(true);
    scripted.answerPrinter(true);
    withPreview([&](report::PreviewWindow& preview) {
        EXPECT_TRUE(preview.print());
        EXPECT_TRUE(values.PrintedMarkPending);
        // Printing twice marks once.
        EXPECT_TRUE(preview.print());
    });
    EXPECT_TRUE(scripted.texts("error").isEmpty());
    EXPECT_FALSE(values.PrintedMarkPending);
    const std::string file = ordersFile();
    EXPECT_NE(file.find(order("15.03.2024-10:22", "1001", "Meier", "10115 Berlin", "4.90", "1")),
              std::string::npos);
    EXPECT_NE(file.find(order("20.03.2024", "1003", "Zander", "20095 Hamburg", "", "0")), std::string::npos);
    EXPECT_EQ(realWindow.OrderTable.RecordCount(), 3);
}

// The window stays live while the preview waits: coming back to it is an activation that reloads
// both files, and closing the preview is another.
TEST_F(InvoiceRoad, ReturningToTheWindowDuringThePreviewReloadsTheFiles) {
    realWindow.show();
    QApplication::processEvents();
    // 1001, a new order: no mark is pending.
    realWindow.OrderTable.Next();
    realWindow.DBGrid1Click();
    int reloads = 0;
    bool activates = false;
    withPreview([&](report::PreviewWindow& preview) {
        writeOrders(
            {kOrders[0], kOrders[1], kOrders[2], order("21.03.2024", "1004", "Neu", "1 X", "1", "0")});
        preview.activateWindow();
        QApplication::processEvents();
        realWindow.activateWindow();
        QApplication::processEvents();
        activates = realWindow.isActiveWindow();
        if (realWindow.OrderTable.RecordCount() == 4)
            ++reloads;
        writeOrders(kOrders);
        preview.activateWindow();
        QApplication::processEvents();
    });
    if (!activates)
        GTEST_SKIP() << "the platform does not activate windows";
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(realWindow.OrderTable.RecordCount(), 3);
}

// The invoice prints the order it was opened for. While its preview is open the owner comes back to
// the order window, which reloads, and chooses another order; printing from the preview then prints
// the first order, and kunden.db marks that order alone.
TEST_F(InvoiceRoad, ThePreviewPrintsAndMarksTheOrderItWasOpenedFor) {
    const std::vector<std::string> orders = {
        order("01.03.2024", "1001", "Albers", "10115 Berlin", "1", "0"),
        order("02.03.2024", "1002", "Meier", "20095 Hamburg", "2", "0"),
        order("03.03.2024", "1003", "Zander", "80331 M\xFCnchen", "3", "0"),
    };
    writeOrders(orders);
    writePositions({position("1002", "1", "M-2", "Meiers Kerze", "20"),
                    position("1003", "2", "Z-3", "Zanders Kerze", "30")});
    realWindow.show();
    QApplication::processEvents();
    realWindow.OrderTable.Last();
    realWindow.DBGrid1Click();
    ASSERT_EQ(realWindow.OrderTable.fieldByName("BestellNr").asString(), "1003");
    scripted.answerPrinter(true);
    withPreview([&](report::PreviewWindow& preview) {
        // Back in the order window (its activation), a click on 1002.
        realWindow.FormActivate();
        realWindow.OrderTable.First();
        realWindow.OrderTable.Next();
        realWindow.DBGrid1Click();
        ASSERT_EQ(realWindow.OrderTable.fieldByName("BestellNr").asString(), "1002");
        ASSERT_EQ(realWindow.Label13->text(), QStringLiteral("20,00 EUR"));
        EXPECT_TRUE(preview.print());
    });
    EXPECT_TRUE(scripted.texts("error").isEmpty());
    const QString pdf = pdfLayoutText(QString::fromStdString(dir.file("invoice.pdf")));
    EXPECT_TRUE(pdf.contains(QRegularExpression(QStringLiteral("Ihre Bestellung:\\s+1003"))));
    EXPECT_TRUE(pdf.contains(QStringLiteral("Zanders Kerze")));
    EXPECT_TRUE(pdf.contains(QRegularExpression(QStringLiteral("Rechnungsbetrag:\\s+33,00"))));
    EXPECT_FALSE(pdf.contains(QStringLiteral("1002")));
    EXPECT_FALSE(pdf.contains(QStringLiteral("Meier")));
    EXPECT_EQ(ordersFile(), joinLines({orders[0], orders[1],
                                       order("03.03.2024", "1003", "Zander", "80331 M\xFCnchen", "3", "1")}));
}

TEST_F(InvoiceRoad, CancelledPrintDialogMarksNothing) {
    realWindow.show();
    QApplication::processEvents();
    // 1001, a new order.
    realWindow.OrderTable.Next();
    realWindow.DBGrid1Click();
    const std::string before = ordersFile();
    scripted.answerPrinter(false);
    withPreview([&](report::PreviewWindow& preview) { EXPECT_FALSE(preview.print()); });
    EXPECT_EQ(ordersFile(), before);
    EXPECT_EQ(scripted.texts("printer").size(), 1);
}

} // namespace

namespace {

// The window may be open while a fetch appends new orders to kunden.db: closing it keeps them, and
// while the fetch holds the data folder nothing is written and the window stays open.
TEST_F(OrderWindow, OrdersAFetchAppendsWhileTheWindowIsOpenAreKept) {
    open();
    click("1001");
    window.DBEdit3->setFocus();
    window.DBEdit3->selectAll();
    QTest::keyClicks(window.DBEdit3, "Neuer Weg 5");
    const std::string fetched = order("09.12.2026", "1004", "Neu", "1 N", "0", "0");
    datafiles::appendToFile(dir.file("kunden.db"), fetched + "\r\n");

    std::optional<FileLock> fetch = FileLock::tryLock(dir.file(datafiles::OrderStore::kLockName));
    ASSERT_TRUE(fetch);
    const std::string duringFetch = ordersFile();
    window.show();
    window.Button1Click();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(scripted.texts("error"),
              QStringList{QString::fromUtf8(datafiles::OrderStore::kBusyWriting) + "."});
    EXPECT_EQ(ordersFile(), duringFetch);

    fetch.reset();
    window.Button1Click();
    EXPECT_FALSE(window.isVisible());
    const std::string written = ordersFile();
    EXPECT_NE(written.find("Neuer Weg 5"), std::string::npos);
    EXPECT_EQ(written.size() - written.rfind(fetched + "\r\n"), fetched.size() + 2)
        << "the fetched order last";
}

} // namespace
