// The invoice: its layout on the page in millimetres, a three-page invoice read back from PDF, an
// order without positions, and the texts set before every run.
#include "tests/orders/order_fixture.h"

#include "platform/german.h"
#include "platform/settings_store.h"
#include "tests/support/pdf_text.h"

#include <QPdfWriter>

using namespace velmo;
using namespace velmo::test;

namespace {

constexpr double kTolerance = 0.2; // mm

class Invoice : public OrderWindowTest {
protected:
    Invoice() : form8(shop, values) {}

    void SetUp() override {
        std::unique_ptr<SettingsStore> store = SettingsStore::open();
        ASSERT_TRUE(store);
        store->writeString("shopUrl", "www.kerzen-shop.de");
    }

    // The positions of order 4711: n of them, 20,50 each.
    void writeInvoiceOrder(int n) {
        writeOrders({order("01.02.2024", "4711", "Erika Muster", "50667 Köln", "4.90", "0")});
        std::vector<std::string> lines;
        for (int i = 1; i <= n; ++i) {
            char nr[16];
            std::snprintf(nr, sizeof nr, "ART-%03d", i);
            lines.push_back(
                position("4711", std::to_string(i % 7 + 1), nr, "Kerze Nr. " + std::to_string(i), "20.5"));
        }
        writePositions(lines);
        open();
        ASSERT_TRUE(scripted.calls().empty());
    }

    QString renderPdf() {
        QString path = QString::fromStdString(dir.file("invoice.pdf"));
        QPdfWriter writer(path);
        const std::optional<InvoiceSnapshot> invoice = window.document().invoice();
        EXPECT_TRUE(invoice && form8.renderTo(*invoice, writer));
        return path;
    }

    TForm8 form8;
};

const PdfWord* find(const std::vector<PdfWord>& words, const QString& text, int page) {
    for (const PdfWord& w : words) {
        if (w.text == text && w.page == page)
            return &w;
    }
    return nullptr;
}

TEST_F(Invoice, ElementsStandWhereTheLayoutPutsThem) {
    writeInvoiceOrder(60);
    const std::vector<PdfWord> words = pdfWords(renderPdf());
    const QString today = QString::fromStdString(german::dateToStr(german::now()));
    struct Expect {
        QString text;
        int page;
        double left; // < 0: the right edge is checked instead
        double right;
        double top;
    };
    // Bands start at the 30 mm margin; the title band is 97.4 mm, the column header 6.35 mm, and the
    // footer ends the 237 mm of page at 267 mm.
    const Expect expected[] = {
        {"Erika", 0, 32.1, -1, 57.5},
        {"Firma", 0, 32.1, -1, 63.9},
        {"Weg", 0, 32.1, -1, 70.2},
        {"50667", 0, 32.1, -1, 76.6},
        {today, 0, 32.1, -1, 97.7},
        {"Ihre", 0, 70.2, -1, 97.5},
        {"4711", 0, 97.7, -1, 97.5},
        {"RECHNUNG", 0, 32.1, -1, 113.3},
        {"Artikel-Nr.", 0, 32.1, -1, 127.7},
        {"Menge", 0, 51.2, -1, 127.7},
        {"Bezeichnung", 0, 66.0, -1, 127.7},
        {"(EUR)", 0, -1, 157.0, 127.7},
        {"ART-001", 0, 32.1, -1, 135.65},
        {"20,5", 0, -1, 157.0, 135.65},
        {"Lieferung", 0, 35.0, -1, 256.4},
        {"Vorkasse", 0, 75.2, -1, 256.4},
        {"Velmo-Shop", 0, 166.3, -1, 260.6},
        // The next pages begin with the column header.
        {"Artikel-Nr.", 1, 32.1, -1, 30.3},
        {"ART-019", 1, 32.1, -1, 38.25},
        {"Lieferung", 2, 35.0, -1, 256.4},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.text.toStdString() + " on page " + std::to_string(e.page + 1));
        const PdfWord* w = find(words, e.text, e.page);
        ASSERT_NE(w, nullptr);
        if (e.left >= 0) {
            EXPECT_NEAR(w->left, e.left, kTolerance);
        } else {
            EXPECT_NEAR(w->right, e.right, kTolerance);
        }
        EXPECT_NEAR(w->top, e.top, kTolerance);
    }
    // The quantity's right edge: 1 + 1 for ART-001.
    const PdfWord* menge = find(words, QStringLiteral("2"), 0);
    ASSERT_NE(menge, nullptr);
    EXPECT_NEAR(menge->right, 61.8, kTolerance);
}

TEST_F(Invoice, ThreePagesReadBackWithEveryPositionOnceAndTheFooterOnEach) {
    writeInvoiceOrder(60);
    const QString text = pdfLayoutText(renderPdf());
    const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    ASSERT_EQ(pages.size(), 3);
    for (int i = 1; i <= 60; ++i) {
        const QString nr = QStringLiteral("ART-%1").arg(i, 3, 10, QLatin1Char('0'));
        EXPECT_EQ(text.count(nr), 1) << nr.toStdString();
    }
    EXPECT_EQ(text.count(QStringLiteral("RECHNUNG")), 1);
    for (const QString& page : pages) {
        EXPECT_TRUE(page.contains(QStringLiteral("Artikel-Nr.")));
        EXPECT_TRUE(page.contains(QStringLiteral("Preis (EUR)")));
        EXPECT_TRUE(page.contains(QStringLiteral("Lieferung erfolgte gegen:")));
        EXPECT_TRUE(page.contains(QStringLiteral("www.kerzen-shop.de")));
    }
    // The summary once, after the last position, in German figures.
    EXPECT_EQ(text.count(QStringLiteral("Warenwert:")), 1);
    EXPECT_TRUE(pages[2].contains(QStringLiteral("1.230,00 EUR")));
    EXPECT_TRUE(
        pages[2].contains(QRegularExpression(QStringLiteral("Rechnungsbetrag:\\s+1\\.234,90\\s+EUR"))));
    EXPECT_TRUE(pages[2].contains(QRegularExpression(QStringLiteral("Versandpauschale:\\s+4,90\\s+EUR"))));
    EXPECT_GT(pages[2].indexOf(QStringLiteral("Warenwert:")), pages[2].indexOf(QStringLiteral("ART-060")));
}

TEST_F(Invoice, OrderWithoutPositionsPrintsItsSummaryOnOnePage) {
    shop.ShopSettings.Currency = QStringLiteral("DM");
    writeInvoiceOrder(0);
    const QString text = pdfLayoutText(renderPdf());
    EXPECT_EQ(text.count(QLatin1Char('\f')), 1);
    EXPECT_TRUE(text.contains(QStringLiteral("Preis (DM)")));
    EXPECT_TRUE(text.contains(QStringLiteral("0,00 DM")));
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("Rechnungsbetrag:\\s+4,90\\s+DM"))));
    EXPECT_TRUE(text.contains(QStringLiteral("Lieferung erfolgte gegen:")));
}

TEST_F(Invoice, EveryRunTakesTheCurrentValues) {
    writeInvoiceOrder(1);
    renderPdf();
    EXPECT_EQ(form8.QuickRep1.element("PriceTitle")->text, QStringLiteral("Preis (EUR)"));
    shop.ShopSettings.Currency = QStringLiteral("CHF");
    window.OrderTable.Edit();
    window.OrderTable.fieldByName("Versand").setAsString("9,50");
    window.OrderTable.Post();
    const QString text = pdfLayoutText(renderPdf());
    EXPECT_TRUE(text.contains(QStringLiteral("Preis (CHF)")));
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("Rechnungsbetrag:\\s+30,00\\s+CHF"))));
    EXPECT_TRUE(text.contains(QStringLiteral("20,50 CHF")));
    EXPECT_FALSE(values.PrintedMarkPending);
}

TEST(InvoiceShopAddress, SettingFirstThenTheWebNameOfTheFtpHost) {
    EXPECT_EQ(TForm8::shopAddress("shop.example.de", "ftp.example.de"), QStringLiteral("shop.example.de"));
    EXPECT_EQ(TForm8::shopAddress("", "ftp.example.de"), QStringLiteral("www.example.de"));
    EXPECT_EQ(TForm8::shopAddress("", "example.de"), QStringLiteral("example.de"));
    EXPECT_EQ(TForm8::shopAddress("", ""), QString());
}

} // namespace
