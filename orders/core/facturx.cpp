#include "orders/core/facturx.h"

#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/german.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>

namespace velmo::facturx {

namespace {

using invoice::Cents;

// Quantities to four decimals, as the files may hold "1,5".
using Quantity = std::int64_t;
constexpr Quantity kQuantityScale = 10'000;

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return std::string(s);
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// "1234.50", "-0.05": the XML's decimals.
std::string amount(Cents c) {
    const Cents m = std::llabs(c);
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%02lld", c < 0 ? "-" : "", static_cast<long long>(m / 100),
                  static_cast<long long>(m % 100));
    return text;
}

std::string quantityText(Quantity q) {
    std::string text = std::to_string(q / kQuantityScale);
    if (Quantity fraction = q % kQuantityScale; fraction != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04lld", static_cast<long long>(fraction));
        std::string f = digits;
        f.erase(f.find_last_not_of('0') + 1);
        text += '.' + f;
    }
    return text;
}

// A quantity above zero as the files hold it ("2", "1,5", "0.25"); none for anything else.
std::optional<Quantity> parseQuantity(std::string_view text) {
    const std::string t = trim(text);
    Quantity whole = 0, fraction = 0, scale = kQuantityScale;
    bool digits = false, point = false;
    for (const char c : t) {
        if ((c == ',' || c == '.') && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (!point) {
                whole = whole * 10 + (c - '0');
                if (whole > 1'000'000'000)
                    return std::nullopt;
            } else if (scale > 1) {
                scale /= 10;
                fraction += (c - '0') * scale;
            }
        } else {
            return std::nullopt;
        }
    }
    const Quantity q = whole * kQuantityScale + fraction;
    if (!digits || q <= 0)
        return std::nullopt;
    return q;
}

// "dd.mm.yyyy[ hh:nn:ss]" as format 102 ("yyyymmdd"); none when it is no date.
std::optional<std::string> date102(std::string_view text) {
    try {
        const std::optional<german::DateTime> d = german::strToDateTime(trim(text));
        if (!d)
            return std::nullopt;
        const german::DateTimeParts p = german::decodeDateTime(*d);
        char out[16];
        std::snprintf(out, sizeof out, "%04d%02d%02d", p.year, p.month, p.day);
        return std::string(out);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

// One code point from UTF-8 at i (advanced past it); none for a broken sequence (i advanced by one).
std::optional<char32_t> nextCodePoint(std::string_view s, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    int length = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
    } else {
        ++i;
        return std::nullopt;
    }
    if (i + static_cast<std::size_t>(length) > s.size()) {
        ++i;
        return std::nullopt;
    }
    for (int k = 1; k < length; ++k) {
        const unsigned char b = byte(i + static_cast<std::size_t>(k));
        if ((b & 0xC0) != 0x80) {
            ++i;
            return std::nullopt;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return std::nullopt;
    }
    i += static_cast<std::size_t>(length);
    return cp;
}

// Builds the document element by element, indented.
class Writer {
public:
    void open(std::string_view tag, std::string_view attributes = {}) {
        startTag(tag, attributes);
        m_out += '\n';
        ++m_depth;
    }
    void close(std::string_view tag) {
        --m_depth;
        indent();
        endTag(tag);
    }
    // An element with text (UTF-8, escaped here).
    void leaf(std::string_view tag, std::string_view text, std::string_view attributes = {}) {
        startTag(tag, attributes);
        m_out += escape(text);
        endTag(tag);
    }
    // Only when there is something to say.
    void leafIfAny(std::string_view tag, std::string_view text) {
        if (!text.empty())
            leaf(tag, text);
    }
    void date(std::string_view tag, const std::string& yyyymmdd) {
        open(tag);
        leaf("udt:DateTimeString", yyyymmdd, "format=\"102\"");
        close(tag);
    }
    std::string take() { return std::move(m_out); }

private:
    void indent() { m_out.append(static_cast<std::size_t>(m_depth) * 2, ' '); }
    void startTag(std::string_view tag, std::string_view attributes) {
        indent();
        m_out += '<';
        m_out += tag;
        if (!attributes.empty()) {
            m_out += ' ';
            m_out += attributes;
        }
        m_out += '>';
    }
    void endTag(std::string_view tag) {
        m_out += "</";
        m_out += tag;
        m_out += ">\n";
    }
    std::string m_out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    int m_depth = 0;
};

std::string attribute(std::string_view name, std::string_view value) {
    return std::string(name) + "=\"" + escape(value) + '"';
}

// The VAT category of a rate: exempt for a small business, zero-rated at 0 %, standard otherwise.
const char* category(bool smallBusiness, int percent) {
    if (smallBusiness)
        return "E";
    return percent == 0 ? "Z" : "S";
}

void address(Writer& w, const std::string& street, const PostalTown& town, const std::string& country) {
    w.open("ram:PostalTradeAddress");
    w.leafIfAny("ram:PostcodeCode", town.postcode);
    w.leafIfAny("ram:LineOne", street);
    w.leafIfAny("ram:CityName", town.city);
    w.leaf("ram:CountryID", country);
    w.close("ram:PostalTradeAddress");
}

void email(Writer& w, const std::string& address) {
    if (address.find('@') == std::string::npos)
        return;
    w.open("ram:URIUniversalCommunication");
    w.leaf("ram:URIID", address, "schemeID=\"EM\"");
    w.close("ram:URIUniversalCommunication");
}

struct LineItem {
    std::string id;
    std::string name;
    std::string sellerId;
    std::string unit; // UN/ECE recommendation 20
    Quantity quantity = kQuantityScale;
    Cents net = 0;
    int percent = 0;
};

void lineItem(Writer& w, const LineItem& item, bool smallBusiness) {
    // Prices are never negative: a negative line is a negative quantity. Where the net does not
    // divide into whole cents per piece, the price is stated for the whole quantity (base quantity),
    // so that quantity × price is the line's net exactly.
    const Cents magnitude = std::llabs(item.net);
    const bool whole =
        item.quantity % kQuantityScale == 0 && magnitude % (item.quantity / kQuantityScale) == 0;
    const Cents price = whole ? magnitude / (item.quantity / kQuantityScale) : magnitude;
    const std::string unit = attribute("unitCode", item.unit);

    w.open("ram:IncludedSupplyChainTradeLineItem");
    w.open("ram:AssociatedDocumentLineDocument");
    w.leaf("ram:LineID", item.id);
    w.close("ram:AssociatedDocumentLineDocument");
    w.open("ram:SpecifiedTradeProduct");
    w.leafIfAny("ram:SellerAssignedID", item.sellerId);
    w.leaf("ram:Name", item.name);
    w.close("ram:SpecifiedTradeProduct");
    w.open("ram:SpecifiedLineTradeAgreement");
    w.open("ram:NetPriceProductTradePrice");
    w.leaf("ram:ChargeAmount", amount(price));
    if (!whole)
        w.leaf("ram:BasisQuantity", quantityText(item.quantity), unit);
    w.close("ram:NetPriceProductTradePrice");
    w.close("ram:SpecifiedLineTradeAgreement");
    w.open("ram:SpecifiedLineTradeDelivery");
    w.leaf("ram:BilledQuantity", (item.net < 0 ? "-" : "") + quantityText(item.quantity), unit);
    w.close("ram:SpecifiedLineTradeDelivery");
    w.open("ram:SpecifiedLineTradeSettlement");
    w.open("ram:ApplicableTradeTax");
    w.leaf("ram:TypeCode", "VAT");
    w.leaf("ram:CategoryCode", category(smallBusiness, item.percent));
    w.leaf("ram:RateApplicablePercent", std::to_string(item.percent));
    w.close("ram:ApplicableTradeTax");
    w.open("ram:SpecifiedTradeSettlementLineMonetarySummation");
    w.leaf("ram:LineTotalAmount", amount(item.net));
    w.close("ram:SpecifiedTradeSettlementLineMonetarySummation");
    w.close("ram:SpecifiedLineTradeSettlement");
    w.close("ram:IncludedSupplyChainTradeLineItem");
}

} // namespace

std::string currencyCode(std::string_view label) {
    std::string t = trim(label);
    if (t == "\xE2\x82\xAC" || upper(t) == "EURO" || upper(t) == "EUR")
        return "EUR";
    if (t.size() == 3 && std::all_of(t.begin(), t.end(), [](char c) { return c >= 'A' && c <= 'Z'; }) &&
        t != "DEM")
        return t;
    return {};
}

std::string countryCode(std::string_view land) {
    std::string t = upper(cp1252::toUtf8(trim(land)));
    static const struct {
        const char* name;
        const char* code;
    } known[] = {
        {"DEUTSCHLAND", "DE"},
        {"GERMANY", "DE"},
        {"D", "DE"},
        {"ÖSTERREICH", "AT"},
        {"\xC3\xB6STERREICH", "AT"},
        {"AUSTRIA", "AT"},
        {"A", "AT"},
        {"SCHWEIZ", "CH"},
        {"SWITZERLAND", "CH"},
        {"NIEDERLANDE", "NL"},
        {"NETHERLANDS", "NL"},
        {"BELGIEN", "BE"},
        {"BELGIUM", "BE"},
        {"B", "BE"},
        {"FRANKREICH", "FR"},
        {"FRANCE", "FR"},
        {"F", "FR"},
        {"LUXEMBURG", "LU"},
        {"LUXEMBOURG", "LU"},
        {"L", "LU"},
        {"DÄNEMARK", "DK"},
        {"D\xC3\xA4NEMARK", "DK"},
        {"DENMARK", "DK"},
        {"DK", "DK"},
        {"POLEN", "PL"},
        {"POLAND", "PL"},
        {"PL", "PL"},
        {"TSCHECHIEN", "CZ"},
        {"ITALIEN", "IT"},
        {"ITALY", "IT"},
        {"I", "IT"},
    };
    for (const auto& k : known)
        if (t == k.name)
            return k.code;
    if (t.size() == 2 && std::all_of(t.begin(), t.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        return t;
    return "DE";
}

PostalTown splitTown(std::string_view town) {
    const std::string t = trim(town);
    std::size_t end = 0;
    while (end < t.size() && t[end] != ' ')
        ++end;
    const std::string first = t.substr(0, end);
    const bool postcode = !first.empty() && std::any_of(first.begin(), first.end(),
                                                        [](char c) { return c >= '0' && c <= '9'; });
    if (!postcode || end == t.size())
        return {"", t};
    return {first, trim(std::string_view(t).substr(end))};
}

std::string escape(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t start = i;
        const std::optional<char32_t> cp = nextCodePoint(utf8, i);
        if (!cp || *cp == 0xFFFE || *cp == 0xFFFF) {
            out += '?';
            continue;
        }
        switch (*cp) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\t':
        case '\n':
        case '\r':
            out += static_cast<char>(*cp);
            break;
        default:
            if (*cp < 0x20)
                out += ' ';
            else
                out.append(utf8.substr(start, i - start));
        }
    }
    return out;
}

namespace {

// The order's header fields and positions as trimmed UTF-8.
struct OrderText {
    const InvoiceSnapshot& order;
    std::string field(const char* name) const {
        const std::string* v = order.orderField(name);
        return v ? trim(cp1252::toUtf8(*v)) : std::string();
    }
    std::string position(std::size_t i, const char* name) const {
        const std::string* v = order.positionField(i, name);
        return v ? trim(cp1252::toUtf8(*v)) : std::string();
    }
};

// The invoice's lines: the positions, then the shipping charge as a line of its own per rate that
// carries a share of it, so that every rate's lines add up to its net. An invoice with nothing on
// it still has the one line the format needs.
std::vector<LineItem> lineItems(const OrderText& text, const InvoiceFigures& figures) {
    std::vector<LineItem> items;
    for (std::size_t i = 0; i < figures.lines.size(); ++i) {
        LineItem item;
        item.sellerId = text.position(i, "ArtikelNr");
        item.name = text.position(i, "Bezeichnung");
        if (item.name.empty())
            item.name = item.sellerId.empty() ? "Artikel" : item.sellerId;
        item.unit = "H87"; // piece
        item.quantity = parseQuantity(text.position(i, "menge")).value_or(kQuantityScale);
        item.net = figures.lines[i].net;
        item.percent = figures.lines[i].percent;
        items.push_back(std::move(item));
    }
    for (const InvoiceFigures::ShippingShare& share : figures.shippingShares)
        items.push_back({"", "Versandpauschale", "", "C62", kQuantityScale, share.net, share.percent});
    if (items.empty())
        items.push_back({"", "Versandpauschale", "", "C62", kQuantityScale, 0,
                         figures.rates.empty() ? 0 : figures.rates.front().percent});
    for (std::size_t i = 0; i < items.size(); ++i)
        items[i].id = std::to_string(i + 1);
    return items;
}

void sellerParty(Writer& w, const InvoiceSettings& seller) {
    w.open("ram:SellerTradeParty");
    // An invoice names the seller by an identifier, the VAT ID or a registration; a seller with a
    // tax number only is identified by it.
    if (seller.vatId.empty())
        w.leafIfAny("ram:ID", seller.taxNumber);
    w.leaf("ram:Name", seller.sellerName);
    if (!seller.contact.empty() && seller.contact.find('@') == std::string::npos) {
        w.open("ram:DefinedTradeContact");
        w.open("ram:TelephoneUniversalCommunication");
        w.leaf("ram:CompleteNumber", seller.contact);
        w.close("ram:TelephoneUniversalCommunication");
        w.close("ram:DefinedTradeContact");
    }
    address(w, seller.street, splitTown(seller.town), "DE");
    email(w, seller.contact);
    const std::pair<const char*, const std::string*> registrations[] = {{"VA", &seller.vatId},
                                                                        {"FC", &seller.taxNumber}};
    for (const auto& [scheme, id] : registrations) {
        if (id->empty())
            continue;
        w.open("ram:SpecifiedTaxRegistration");
        w.leaf("ram:ID", *id, attribute("schemeID", scheme));
        w.close("ram:SpecifiedTaxRegistration");
    }
    w.close("ram:SellerTradeParty");
}

// The company when there is one, with the person as its contact; otherwise the person.
void buyerParty(Writer& w, const OrderText& text) {
    w.open("ram:BuyerTradeParty");
    const std::string person = text.field("Name"), company = text.field("Firma");
    std::string buyer = company.empty() ? person : company;
    if (buyer.empty())
        buyer = "Kunde der Bestellung " + text.field("BestellNr");
    w.leaf("ram:Name", buyer);
    if (!company.empty() && !person.empty()) {
        w.open("ram:DefinedTradeContact");
        w.leaf("ram:PersonName", person);
        w.close("ram:DefinedTradeContact");
    }
    address(w, text.field("Strasse"), splitTown(text.field("PLZOrt")),
            countryCode(*text.order.orderField("Land")));
    email(w, text.field("mail"));
    w.close("ram:BuyerTradeParty");
}

// One breakdown per rate the lines use, as the page prints it; a rate whose lines cancel out
// states 0.
void taxBreakdown(Writer& w, const std::vector<LineItem>& items, const InvoiceFigures& figures) {
    std::set<int, std::greater<>> percents;
    for (const LineItem& item : items)
        percents.insert(item.percent);
    for (const int percent : percents) {
        const auto rate = std::find_if(figures.rates.begin(), figures.rates.end(),
                                       [&](const invoice::RateSum& r) { return r.percent == percent; });
        const invoice::RateSum sum = rate == figures.rates.end() ? invoice::RateSum{percent, 0, 0, 0} : *rate;
        w.open("ram:ApplicableTradeTax");
        w.leaf("ram:CalculatedAmount", amount(sum.tax));
        w.leaf("ram:TypeCode", "VAT");
        if (figures.smallBusiness)
            w.leaf("ram:ExemptionReason", kSmallBusinessNote);
        w.leaf("ram:BasisAmount", amount(sum.net));
        w.leaf("ram:CategoryCode", category(figures.smallBusiness, percent));
        w.leaf("ram:RateApplicablePercent", std::to_string(percent));
        w.close("ram:ApplicableTradeTax");
    }
}

} // namespace

std::string invoiceXml(const InvoiceSettings& seller, const InvoiceSnapshot& order,
                       const InvoiceFigures& figures, const LedgerEntry& entry,
                       std::string_view currencyLabel) {
    const std::string currency = currencyCode(currencyLabel);
    if (currency.empty())
        throw Exception(
            formatMessage("Die Währung \xE2\x80\x9E%s\xE2\x80\x9C hat keinen ISO-Code; die E-Rechnung "
                          "braucht einen, etwa EUR (Optionen, Währung).",
                          {trim(currencyLabel)}));
    const OrderText text{order};

    Writer w;
    w.open("rsm:CrossIndustryInvoice",
           "xmlns:rsm=\"urn:un:unece:uncefact:data:standard:CrossIndustryInvoice:100\" "
           "xmlns:qdt=\"urn:un:unece:uncefact:data:standard:QualifiedDataType:100\" "
           "xmlns:ram=\"urn:un:unece:uncefact:data:standard:ReusableAggregateBusinessInformationEntity:100\" "
           "xmlns:udt=\"urn:un:unece:uncefact:data:standard:UnqualifiedDataType:100\"");
    w.open("rsm:ExchangedDocumentContext");
    w.open("ram:GuidelineSpecifiedDocumentContextParameter");
    w.leaf("ram:ID", kGuideline);
    w.close("ram:GuidelineSpecifiedDocumentContextParameter");
    w.close("rsm:ExchangedDocumentContext");

    w.open("rsm:ExchangedDocument");
    w.leaf("ram:ID", entry.numberText);
    w.leaf("ram:TypeCode", "380"); // commercial invoice
    w.date("ram:IssueDateTime", date102(entry.date).value_or(""));
    if (figures.smallBusiness) {
        w.open("ram:IncludedNote");
        w.leaf("ram:Content", kSmallBusinessNote);
        w.close("ram:IncludedNote");
    }
    w.close("rsm:ExchangedDocument");

    w.open("rsm:SupplyChainTradeTransaction");
    const std::vector<LineItem> items = lineItems(text, figures);
    for (const LineItem& item : items)
        lineItem(w, item, figures.smallBusiness);

    w.open("ram:ApplicableHeaderTradeAgreement");
    sellerParty(w, seller);
    buyerParty(w, text);
    if (const std::string number = text.field("BestellNr"); !number.empty()) {
        w.open("ram:BuyerOrderReferencedDocument");
        w.leaf("ram:IssuerAssignedID", number);
        w.close("ram:BuyerOrderReferencedDocument");
    }
    w.close("ram:ApplicableHeaderTradeAgreement");

    w.open("ram:ApplicableHeaderTradeDelivery");
    if (const std::optional<std::string> delivered = date102(text.field("Datum"))) {
        w.open("ram:ActualDeliverySupplyChainEvent");
        w.date("ram:OccurrenceDateTime", *delivered);
        w.close("ram:ActualDeliverySupplyChainEvent");
    }
    w.close("ram:ApplicableHeaderTradeDelivery");

    w.open("ram:ApplicableHeaderTradeSettlement");
    w.leaf("ram:InvoiceCurrencyCode", currency);
    taxBreakdown(w, items, figures);
    w.open("ram:SpecifiedTradePaymentTerms");
    w.leaf("ram:Description", trim("Lieferung erfolgte gegen: " + text.field("Paytype")));
    w.close("ram:SpecifiedTradePaymentTerms");
    w.open("ram:SpecifiedTradeSettlementHeaderMonetarySummation");
    // No allowances or charges on the whole invoice: the tax basis is the sum of the lines.
    w.leaf("ram:LineTotalAmount", amount(figures.net));
    w.leaf("ram:TaxBasisTotalAmount", amount(figures.net));
    w.leaf("ram:TaxTotalAmount", amount(figures.tax), attribute("currencyID", currency));
    w.leaf("ram:GrandTotalAmount", amount(figures.total));
    w.leaf("ram:DuePayableAmount", amount(figures.total));
    w.close("ram:SpecifiedTradeSettlementHeaderMonetarySummation");
    w.close("ram:ApplicableHeaderTradeSettlement");
    w.close("rsm:SupplyChainTradeTransaction");
    w.close("rsm:CrossIndustryInvoice");
    return w.take();
}

} // namespace velmo::facturx
