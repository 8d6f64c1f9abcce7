#include "orders/completeinvoice.h"

#include "orders/layoutelements.h"

#include <utility>

namespace velmo {

namespace {

using report::Align;
using report::Band;
using report::BandKind;
using report::Element;
using namespace layout;

constexpr double kBandWidth = 150.0;
// The rate rows of the summary: one per tax rate, at most the standard and the reduced one.
constexpr int kRateRows = 2;

// A text set before every run.
Element slot(const char* name, double left, double top, report::Font font = arial(10)) {
    return named(text(left, top, "", std::move(font)), name);
}

std::string rateName(int i, const char* what) {
    return "Rate" + std::to_string(i) + what;
}

// "#,###,##0.00" of cents as a QString.
QString money(invoice::Cents c) {
    return QString::fromStdString(invoice::formatCents(c));
}

} // namespace

QString CompleteInvoice::Positions::text(int record, const QString& field) const {
    if (!figures || record < 0 || record >= static_cast<int>(figures->lines.size()))
        return fields.text(record, field);
    const InvoiceFigures::Line& line = figures->lines[static_cast<std::size_t>(record)];
    if (field == QLatin1String("Einzelpreis"))
        return QString::fromStdString(line.unitPrice);
    if (field == QLatin1String("Betrag"))
        return QString::fromStdString(line.amount);
    if (field == QLatin1String("USt"))
        return showRates ? QString::number(line.percent) + QStringLiteral(" %") : QString();
    return fields.text(record, field);
}

CompleteInvoice::CompleteInvoice() {
    build();
}

void CompleteInvoice::build() {
    report::Report& r = report;
    r.page = {210.0, 297.0, 30.0, 30.0, 30.0, 30.0};
    r.baseFont = arial(10);
    r.data = &m_positions;

    // The seller's block stands right, above the address window; the sender line just above the
    // address, small, as a window envelope shows it.
    Band title{BandKind::Title, 97.4, false, false, {}};
    title.elements = {
        slot("SellerName", 95.0, 0.0, arial(9, true)),
        slot("SellerStreet", 95.0, 4.2, arial(8)),
        slot("SellerTown", 95.0, 8.0, arial(8)),
        slot("SellerContact", 95.0, 11.8, arial(8)),
        slot("SellerTaxNumber", 95.0, 15.6, arial(8)),
        slot("SellerVatId", 95.0, 19.4, arial(8)),
        slot("SenderLine", 2.1, 22.0, arial(6)),
        field(2.1, 27.5, "Name", &m_order),
        field(2.1, 33.9, "Firma", &m_order),
        field(2.1, 40.2, "Strasse", &m_order),
        field(2.1, 46.6, "PLZOrt", &m_order, arial(10, true)),
        text(2.1, 60.4, "Rechnungsnummer:"),
        slot("InvoiceNumber", 40.2, 60.4, arial(10, true)),
        text(85.0, 60.4, "Rechnungsdatum:"),
        slot("InvoiceDate", 125.0, 60.4),
        text(2.1, 67.5, "Ihre Bestellung:"),
        field(40.2, 67.5, "BestellNr", &m_order, arial(10, true)),
        text(85.0, 67.5, "Liefer-/Bestelldatum:"),
        slot("DeliveryDate", 125.0, 67.5),
        text(2.1, 83.3, "RECHNUNG", arial(12, true, true)),
    };
    r.setBand(std::move(title));

    Band header{BandKind::ColumnHeader, 6.35, false, true, {}};
    Element unitTitle = box(text(86.0, 0.3, "Einzelpreis"), 110.0, Align::Right);
    Element rateTitle = box(text(111.0, 0.3, "USt"), 120.0, Align::Right);
    rateTitle.name = "RateTitle";
    Element amountTitle = box(slot("AmountTitle", 121.0, 0.3), kBandWidth, Align::Right);
    header.elements = {
        text(2.1, 0.3, "Artikel-Nr."),
        text(21.2, 0.3, "Menge"),
        text(36.0, 0.3, "Bezeichnung"),
        unitTitle,
        rateTitle,
        amountTitle,
    };
    r.setBand(std::move(header));

    Band detail{BandKind::Detail, 6.35, false, false, {}};
    const Element description = wrappedDescription(36.0, 1.9, 85.0, 6.35, "Bezeichnung");
    detail.elements = {
        field(2.1, 1.9, "ArtikelNr", nullptr),
        rightAt(field(0, 1.9, "menge", nullptr), 31.8),
        description,
        box(field(86.0, 1.9, "Einzelpreis", nullptr), 110.0, Align::Right),
        box(field(111.0, 1.9, "USt", nullptr), 120.0, Align::Right),
        box(field(121.0, 1.9, "Betrag", nullptr), kBandWidth, Align::Right),
    };
    r.setBand(std::move(detail));

    // Totals as on the short invoice, then one row per tax rate (or the small business note).
    Band summary{BandKind::Summary, 38.0, true, true, {}};
    summary.elements = {
        text(4.2, 5.0, "Versandpauschale:"),
        rightAt(slot("Shipping", 0, 5.0), 61.6),
        slot("ShippingCurrency", 63.0, 5.0),
        text(16.4, 11.4, "Warenwert:"),
        rightAt(slot("GoodsValue", 0, 11.4), 68.0),
        text(3.4, 17.7, "Rechnungsbetrag:", arial(10, true)),
        rightAt(slot("Total", 0, 17.7, arial(10, true)), 61.6),
        slot("TotalCurrency", 63.0, 17.7, arial(10, true)),
    };
    for (int i = 0; i < kRateRows; ++i) {
        const double top = 24.5 + 5.5 * i;
        summary.elements.push_back(slot(rateName(i, "Caption").c_str(), 3.4, top, arial(9)));
        summary.elements.push_back(rightAt(slot(rateName(i, "Net").c_str(), 0, top, arial(9)), 61.6));
        summary.elements.push_back(slot(rateName(i, "TaxCaption").c_str(), 72.0, top, arial(9)));
        summary.elements.push_back(rightAt(slot(rateName(i, "Tax").c_str(), 0, top, arial(9)), 127.0));
    }
    r.setBand(std::move(summary));

    Band footer{BandKind::PageFooter, 18.8, false, false, {}};
    Element page;
    page.kind = Element::Kind::PageNumber;
    page.left = kBandWidth;
    page.top = 2.0;
    page.align = Align::Right;
    page.font = arial(8);
    page.text = QStringLiteral("Seite %1 von %2");
    Element bank = box(slot("Bank", 5.0, 12.4, arial(7)), 130.0, Align::Left);
    footer.elements = {
        slot("FooterNumber", 5.0, 2.0, arial(8)), page, text(5.0, 8.2, "Lieferung erfolgte gegen: "),
        field(45.2, 8.2, "Paytype", &m_order),    bank, slot("ShopLine", 136.3, 12.4, arial(5)),
    };
    r.setBand(std::move(footer));
}

void CompleteInvoice::setSnapshot(const InvoiceSnapshot* invoice) {
    m_order.setSnapshot(invoice);
    m_positions.fields.setSnapshot(invoice);
}

void CompleteInvoice::prepare(const InvoiceSettings& s, const InvoiceFigures& figures,
                              const LedgerEntry& entry, const QString& currency, const QString& shopLine) {
    m_figures = figures;
    m_positions.figures = &m_figures;
    m_positions.showRates = !figures.smallBusiness;
    auto set = [this](const std::string& name, const QString& value) { report.element(name)->text = value; };
    auto utf8 = [](const std::string& v) { return QString::fromStdString(v); };

    set("SellerName", utf8(s.sellerName));
    set("SellerStreet", utf8(s.street));
    set("SellerTown", utf8(s.town));
    set("SellerContact", utf8(s.contact));
    set("SellerTaxNumber",
        s.taxNumber.empty() ? QString() : QStringLiteral("Steuernummer: ") + utf8(s.taxNumber));
    set("SellerVatId", s.vatId.empty() ? QString() : QStringLiteral("USt-IdNr.: ") + utf8(s.vatId));
    // Without a tax number the VAT ID moves up, so the block has no gap.
    if (s.taxNumber.empty()) {
        set("SellerTaxNumber", report.element("SellerVatId")->text);
        set("SellerVatId", QString());
    }
    set("SenderLine", utf8(s.sellerName + " · " + s.street + " · " + s.town));

    const QString number = utf8(entry.numberText);
    set("InvoiceNumber", number);
    set("InvoiceDate", utf8(entry.date));
    // The order's date and time as the table holds them; the delivery date is its date.
    set("DeliveryDate", m_order.text(-1, QStringLiteral("Datum")).section(QLatin1Char(' '), 0, 0));

    report.element("RateTitle")->text = figures.smallBusiness ? QString() : QStringLiteral("USt");
    set("AmountTitle", QStringLiteral("Betrag (") + currency + QLatin1Char(')'));

    set("Shipping", money(figures.shipping));
    set("ShippingCurrency", currency);
    set("GoodsValue", money(figures.goods) + QLatin1Char(' ') + currency);
    set("Total", money(figures.total));
    set("TotalCurrency", currency);

    for (int i = 0; i < kRateRows; ++i) {
        QString caption, net, taxCaption, tax;
        if (figures.smallBusiness) {
            if (i == 0)
                caption = QString::fromUtf8(kSmallBusinessNote);
        } else if (i < static_cast<int>(figures.rates.size())) {
            const invoice::RateSum& rate = figures.rates[static_cast<std::size_t>(i)];
            caption = QStringLiteral("Nettobetrag zu %1 %:").arg(rate.percent);
            net = money(rate.net) + QLatin1Char(' ') + currency;
            taxCaption = QStringLiteral("Umsatzsteuer %1 %:").arg(rate.percent);
            tax = money(rate.tax) + QLatin1Char(' ') + currency;
        }
        set(rateName(i, "Caption"), caption);
        set(rateName(i, "Net"), net);
        set(rateName(i, "TaxCaption"), taxCaption);
        set(rateName(i, "Tax"), tax);
    }

    set("FooterNumber", QStringLiteral("Rechnung ") + number);
    set("Bank", s.bank.empty() ? QString() : QStringLiteral("Bankverbindung: ") + utf8(s.bank));
    set("ShopLine", shopLine);
}

} // namespace velmo
