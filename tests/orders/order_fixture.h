#pragma once

// The order window and the invoice as the program wires them, over a scratch data directory and the
// scripted dialog seam.
#include "memtable/qt/boundeditors.h"
#include "orders/bestell.h"
#include "orders/print.h"
#include "platform/linefile.h"
#include "shell/shop.h"
#include "tests/orders/order_lines.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmo::test {

// The invoice as the order window sees it, without a preview: "printing" sets the mark.
class FakeInvoice : public InvoicePrinting {
public:
    explicit FakeInvoice(OrderValues& values) : m_values(values) {}
    void Preview(const InvoiceSnapshot& invoice, QWidget*, const std::function<void()>&) override {
        ++previews;
        orderAtPreview = invoice.bestellNr();
        goodsAtPreview = invoice.goodsValue;
        positionsAtPreview = invoice.positions.size();
        if (print)
            m_values.PrintedMarkPending = invoice.bestellNr();
    }
    int PrintBatch(const std::vector<InvoiceSnapshot>& invoices, QWidget*,
                   const std::function<void(const std::string&)>& printed) override {
        batches.push_back({});
        for (const InvoiceSnapshot& i : invoices)
            batches.back().push_back(i.bestellNr());
        for (std::size_t n = 0; n < invoices.size() && n < batchPrints; ++n)
            printed(invoices[n].bestellNr());
        return static_cast<int>(std::min(invoices.size(), batchPrints));
    }
    bool print = false;
    int previews = 0;
    // The order numbers of every batch asked for, and how many of a batch "print".
    std::vector<std::vector<std::string>> batches;
    std::size_t batchPrints = 0;
    std::string orderAtPreview;
    std::string goodsAtPreview;
    std::size_t positionsAtPreview = 0;

private:
    OrderValues& m_values;
};

class OrderWindowTest : public ::testing::Test {
protected:
    OrderWindowTest() : shop(scripted), invoice(values), window(shop, values, invoice) {
        shop.ShopSettings.localDat = QString::fromStdString(dir.path());
        shop.ShopSettings.Currency = QStringLiteral("EUR");
    }

    void writeOrders(const std::vector<std::string>& lines) {
        writeBytes(dir.file("kunden.db"), joinLines(lines));
    }
    void writePositions(const std::vector<std::string>& lines) {
        writeBytes(dir.file("bestellungen.db"), joinLines(lines));
    }
    std::string ordersFile() const { return readBytes(dir.file("kunden.db")); }

    // Shows the window as the menu does; the opening runs the activation.
    void open() {
        window.show();
        QApplication::processEvents();
    }
    // The order numbers the list shows, top to bottom.
    std::vector<std::string> listed() {
        std::vector<std::string> nrs;
        nrs.reserve(static_cast<std::size_t>(window.OrderTable.visibleCount()));
        for (int row = 0; row < window.OrderTable.visibleCount(); ++row)
            nrs.push_back(window.OrderTable.textAt(window.OrderTable.visibleAt(row), 1));
        return nrs;
    }
    std::string current(const char* field = "BestellNr") {
        return window.OrderTable.fieldByName(field).asString();
    }
    // A click on the order with this number.
    void click(const std::string& nr) {
        for (int row = 0; row < window.OrderTable.visibleCount(); ++row) {
            if (window.OrderTable.textAt(window.OrderTable.visibleAt(row), 1) == nr) {
                window.OrderTable.moveToRow(row);
                guarded(scripted, [&] { window.DBGrid1Click(); });
                return;
            }
        }
        ADD_FAILURE() << "no order " << nr;
    }
    void chooseList(int entry) {
        window.ComboBox1->setCurrentIndex(entry);
        guarded(scripted, [&] { window.ComboBox1Change(); });
    }
    void chooseIndex(int entry) {
        window.ComboBox2->setCurrentIndex(entry);
        guarded(scripted, [&] { window.ComboBox2Change(); });
    }

    TempDir dir;
    ScriptedDialogs scripted;
    Shop shop;
    OrderValues values;
    FakeInvoice invoice;
    TForm7 window;
};

} // namespace velmo::test
