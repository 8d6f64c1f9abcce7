#include "orders/print.h"

#include "orders/core/facturx.h"
#include "orders/core/facturxpdf.h"
#include "orders/layoutelements.h"
#include "platform/german.h"
#include "platform/qt/text.h"
#include "platform/settings_store.h"
#include "report/painter.h"
#include "report/preview.h"
#include "shell/dialogs.h"
#include "shell/shop.h"
#include "shell/windows.h"

#include <utility>

namespace velmo {

namespace {

using report::Align;
using report::Band;
using report::BandKind;
using report::Element;
using namespace layout;

// Elements whose texts are set before every run.
constexpr const char* kPriceTitle = "PriceTitle";
constexpr const char* kShippingCurrency = "ShippingCurrency";
constexpr const char* kGoodsValue = "GoodsValue";
constexpr const char* kTotal = "Total";
constexpr const char* kTotalCurrency = "TotalCurrency";
constexpr const char* kShopLine = "ShopLine";

} // namespace

TForm8::TForm8(Shop& shop, OrderValues& values, QWidget* parent)
    : QDialog(parent), m_shop(shop), m_values(values) {
    setObjectName("Form8");
    setWindowTitle(QStringLiteral("Rechnung"));
    buildLayout();
}

TForm8::~TForm8() = default;

void TForm8::buildLayout() {
    report::Report& r = QuickRep1;
    // Stored in tenths of a millimetre as 300 (bottom), 2970 (length), 300 (left), 2100 (width),
    // 300 (right), 300 (top), 0 (column gap).
    r.page = {210.0, 297.0, 30.0, 30.0, 30.0, 30.0};
    r.baseFont = arial(10);
    r.data = &m_positions;

    Band title{BandKind::Title, 97.4, false, false, {}};
    title.elements = {
        field(2.1, 27.5, "Name", &m_order),
        field(2.1, 33.9, "Firma", &m_order),
        field(2.1, 40.2, "Strasse", &m_order),
        field(2.1, 46.6, "PLZOrt", &m_order, arial(10, true)),
        [] {
            Element date;
            date.kind = Element::Kind::Date;
            date.left = 2.1;
            date.top = 67.7;
            date.font = arial(10);
            return date;
        }(),
        text(40.2, 67.5, "Ihre Bestellung:"),
        field(67.7, 67.5, "BestellNr", &m_order, arial(10, true)),
        text(2.1, 83.3, "RECHNUNG", arial(12, true, true)),
    };
    r.setBand(std::move(title));

    Band header{BandKind::ColumnHeader, 6.35, false, true, {}};
    header.elements = {
        text(2.1, 0.3, "Artikel-Nr."),
        text(21.2, 0.3, "Menge"),
        text(36.0, 0.3, "Bezeichnung"),
        named(box(text(105.3, 0.3, "Preis (DM)"), 127.0, Align::Right), kPriceTitle),
    };
    r.setBand(std::move(header));

    Band detail{BandKind::Detail, 6.35, false, false, {}};
    const Element description = wrappedDescription(36.0, 1.9, 101.3, 6.35, "Bezeichnung");
    detail.elements = {
        field(2.1, 1.9, "ArtikelNr", nullptr),
        rightAt(field(0, 1.9, "menge", nullptr), 31.8),
        description,
        box(field(105.3, 1.9, "Preis", nullptr), 127.0, Align::Right),
    };
    r.setBand(std::move(detail));

    Band summary{BandKind::Summary, 25.4, true, true, {}};
    summary.elements = {
        text(4.2, 5.0, "Versandpauschale:"),
        rightAt(field(0, 5.0, "Versand", &m_order), 61.6),
        named(text(63.0, 5.0, "DM"), kShippingCurrency),
        text(16.4, 11.4, "Warenwert:"),
        named(rightAt(text(0, 11.4, "0,00 DM"), 68.0), kGoodsValue),
        text(3.4, 17.7, "Rechnungsbetrag:", arial(10, true)),
        named(rightAt(text(0, 17.7, "0,00", arial(10, true)), 61.6), kTotal),
        named(text(63.0, 17.7, "DM", arial(10, true)), kTotalCurrency),
    };
    r.setBand(std::move(summary));

    Band footer{BandKind::PageFooter, 18.8, false, false, {}};
    footer.elements = {
        text(5.0, 8.2, "Lieferung erfolgte gegen: "),
        field(45.2, 8.2, "Paytype", &m_order),
        named(text(136.3, 12.4, "Velmo-Shop -  ", arial(5)), kShopLine),
    };
    r.setBand(std::move(footer));

    r.beforeRun = [this](report::Report&) { QuickRep1BeforePrint(); };
    r.afterPrint = [this] { QuickRep1AfterPrint(); };

    CompleteRep.report.beforeRun = [this](report::Report&) { CompleteRepBeforePrint(); };
    CompleteRep.report.afterPrint = [this] { CompleteRepAfterPrint(); };
    // Saved as PDF, the complete invoice is an e-invoice.
    CompleteRep.report.pdf.archival = true;
    CompleteRep.report.pdf.finish = [this](const std::string& pdf) { return eInvoicePdf(pdf); };
}

QString TForm8::shopAddress(const std::string& shopUrlSetting, const std::string& ftpHost) {
    if (!shopUrlSetting.empty())
        return fromUtf8(shopUrlSetting);
    if (ftpHost.empty())
        return {};
    QString host = fromUtf8(ftpHost);
    if (host.startsWith(QLatin1String("ftp."), Qt::CaseInsensitive))
        host = QStringLiteral("www.") + host.mid(4);
    return host;
}

void TForm8::QuickRep1BeforePrint() {
    const QString currency = m_shop.ShopSettings.Currency;
    QuickRep1.element(kPriceTitle)->text = QStringLiteral("Preis (") + currency + QLatin1Char(')');
    QuickRep1.element(kShippingCurrency)->text = currency;
    QuickRep1.element(kGoodsValue)->text = toQString(m_invoice.goodsValue) + QLatin1Char(' ') + currency;
    QuickRep1.element(kTotal)->text = toQString(m_invoice.total);
    QuickRep1.element(kTotalCurrency)->text = currency;

    std::string url, host;
    if (std::unique_ptr<SettingsStore> store = SettingsStore::open()) {
        url = store->readString("shopUrl");
        host = store->readString("Host");
    }
    QuickRep1.element(kShopLine)->text = QStringLiteral("Velmo-Shop -  ") + shopAddress(url, host);
}

void TForm8::QuickRep1AfterPrint() {
    // By its number: the order the preview shows, whichever order the window has made current since.
    m_values.PrintedMarkPending = m_invoice.bestellNr();
}

void TForm8::bind(const InvoiceSnapshot& invoice) {
    m_invoice = invoice;
    m_order.setSnapshot(&m_invoice);
    m_positions.setSnapshot(&m_invoice);
    CompleteRep.setSnapshot(&m_invoice);
}

bool TForm8::renderTo(const InvoiceSnapshot& invoice, QPagedPaintDevice& device) {
    if (m_preview)
        return false;
    bind(invoice);
    return report::renderReport(chosenReport(), device);
}

void TForm8::Preview(const InvoiceSnapshot& invoice, QWidget* opener,
                     const std::function<void()>& previewActivated) {
    if (m_preview)
        return;
    bind(invoice);
    DialogSeam& seam = m_shop.dialogs;
    report::PrintSeam printSeam{
        [&seam](QWidget* parent, QPrinter& printer) { return seam.choosePrinter(parent, printer); },
        [&seam](const QString& message) { seam.showError(errorBoxText(message)); },
        [&seam](QWidget* parent, const QString& suggested) { return seam.choosePdfFile(parent, suggested); },
    };
    report::PreviewWindow window(chosenReport(), std::move(printSeam), opener ? opener : this);
    // A preview below a stay-on-top order window could not be reached.
    window.setWindowFlag(Qt::WindowStaysOnTopHint, staysOnTop(opener));
    keepAbove(window, opener);
    // Over the order window, where the owner's eyes are.
    centreOnOwner(window);
    if (previewActivated)
        connect(&window, &report::PreviewWindow::activated, this, previewActivated);
    m_preview = &window;
    struct Reset {
        report::PreviewWindow*& p;
        ~Reset() { p = nullptr; }
    } reset{m_preview};
    window.run();
}

report::Report& TForm8::chosenReport() {
    std::unique_ptr<SettingsStore> store = SettingsStore::open();
    return store && InvoiceSettings::load(*store).complete ? CompleteRep.report : QuickRep1;
}

void TForm8::CompleteRepBeforePrint() {
    std::unique_ptr<SettingsStore> store = SettingsStore::openOrThrow();
    m_settings = InvoiceSettings::load(*store);
    if (const std::string missing = m_settings.missingDetail(); !missing.empty())
        throw Exception(missing + " (Optionen, Rechnungsangaben)");
    std::unordered_map<std::string, std::string> loaded;
    if (!m_batchGroups)
        loaded = loadArticleGroups([this](const std::string& name) { return m_shop.dataFile(name); });
    const InvoiceFigures figures =
        invoiceFigures(m_invoice, m_settings, m_batchGroups ? *m_batchGroups : loaded);

    InvoiceLedger ledger(m_shop.dataFile(InvoiceLedger::kFileName));
    m_entry =
        ledger.prospective(m_invoice.bestellNr(), m_settings.nextNumber, german::dateToStr(german::now()),
                           [this](std::int64_t n) { return m_settings.numberText(n); });
    m_entry.gross = invoice::formatCents(figures.total);
    m_entry.net = invoice::formatCents(figures.net);
    m_entry.tax = invoice::formatCents(figures.tax);

    const QString shopLine = QStringLiteral("Velmo-Shop -  ") +
                             shopAddress(store->readString("shopUrl"), store->readString("Host"));
    CompleteRep.prepare(m_settings, figures, m_entry, m_shop.ShopSettings.Currency, shopLine);
}

std::string TForm8::eInvoicePdf(const std::string& pdf) const {
    const std::string xml = facturx::invoiceXml(m_settings, m_invoice, CompleteRep.figures(), m_entry,
                                                m_shop.ShopSettings.Currency.toStdString());
    return facturx::embedInvoice(pdf, xml);
}

void TForm8::CompleteRepAfterPrint() {
    InvoiceLedger ledger(m_shop.dataFile(InvoiceLedger::kFileName));
    m_entry = ledger.record(m_entry, m_settings.nextNumber);
    QuickRep1AfterPrint();
}

} // namespace velmo
