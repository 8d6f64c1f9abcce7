#include "orders/core/invoicesettings.h"

#include "platform/settings_store.h"

#include <algorithm>
#include <charconv>

namespace velmo {

namespace {

namespace name {
constexpr const char* complete = "invoiceComplete";
constexpr const char* sellerName = "invoiceSellerName";
constexpr const char* street = "invoiceSellerStreet";
constexpr const char* town = "invoiceSellerTown";
constexpr const char* taxNumber = "invoiceTaxNumber";
constexpr const char* vatId = "invoiceVatId";
constexpr const char* contact = "invoiceContact";
constexpr const char* bank = "invoiceBank";
constexpr const char* taxMode = "invoiceTaxMode";
constexpr const char* standardPercent = "invoiceStandardRate";
constexpr const char* reducedPercent = "invoiceReducedRate";
constexpr const char* reducedGroups = "invoiceReducedGroups";
constexpr const char* numberPrefix = "invoiceNumberPrefix";
constexpr const char* nextNumber = "invoiceNextNumber";
} // namespace name

// Product group names cannot hold a ";" (the catalog index separates them with it).
constexpr char kGroupSeparator = ';';

template <class Int> bool parseInt(const std::string& text, Int& value) {
    Int parsed{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size())
        return false;
    value = parsed;
    return true;
}

// A value the store holds in another form than a string reads as missing.
std::string readOr(const SettingsStore& store, const char* value, const std::string& fallback) {
    if (!store.valueExists(value))
        return fallback;
    try {
        return store.readString(value);
    } catch (const std::exception&) {
        return fallback;
    }
}

} // namespace

InvoiceSettings InvoiceSettings::load(const SettingsStore& store) {
    InvoiceSettings s;
    s.complete = readOr(store, name::complete, "0") == "1";
    s.sellerName = readOr(store, name::sellerName, "");
    s.street = readOr(store, name::street, "");
    s.town = readOr(store, name::town, "");
    s.taxNumber = readOr(store, name::taxNumber, "");
    s.vatId = readOr(store, name::vatId, "");
    s.contact = readOr(store, name::contact, "");
    s.bank = readOr(store, name::bank, "");
    s.taxMode = readOr(store, name::taxMode, "") == "19" ? TaxMode::SmallBusiness : TaxMode::Regular;
    int percent = 0;
    if (parseInt(readOr(store, name::standardPercent, ""), percent) && percent >= 0 && percent < 100)
        s.standardPercent = percent;
    if (parseInt(readOr(store, name::reducedPercent, ""), percent) && percent >= 0 && percent < 100)
        s.reducedPercent = percent;
    const std::string groups = readOr(store, name::reducedGroups, "");
    std::size_t from = 0;
    while (from < groups.size()) {
        std::size_t to = groups.find(kGroupSeparator, from);
        if (to == std::string::npos)
            to = groups.size();
        if (to > from)
            s.reducedGroups.push_back(groups.substr(from, to - from));
        from = to + 1;
    }
    s.numberPrefix = readOr(store, name::numberPrefix, s.numberPrefix);
    std::int64_t next = 0;
    if (parseInt(readOr(store, name::nextNumber, ""), next) && next > 0)
        s.nextNumber = next;
    return s;
}

void InvoiceSettings::save(SettingsStore& store) const {
    std::string groups;
    for (const std::string& g : reducedGroups) {
        if (g.empty() || g.find(kGroupSeparator) != std::string::npos)
            continue;
        if (!groups.empty())
            groups += kGroupSeparator;
        groups += g;
    }
    store.writeString(name::complete, complete ? "1" : "0");
    store.writeString(name::sellerName, sellerName);
    store.writeString(name::street, street);
    store.writeString(name::town, town);
    store.writeString(name::taxNumber, taxNumber);
    store.writeString(name::vatId, vatId);
    store.writeString(name::contact, contact);
    store.writeString(name::bank, bank);
    store.writeString(name::taxMode, taxMode == TaxMode::SmallBusiness ? "19" : "regular");
    store.writeString(name::standardPercent, std::to_string(standardPercent));
    store.writeString(name::reducedPercent, std::to_string(reducedPercent));
    store.writeString(name::reducedGroups, groups);
    store.writeString(name::numberPrefix, numberPrefix);
    store.writeString(name::nextNumber, std::to_string(nextNumber));
}

std::string InvoiceSettings::missingDetail() const {
    if (sellerName.empty())
        return "Für die Rechnung fehlt der Name des Verkäufers";
    if (street.empty() || town.empty())
        return "Für die Rechnung fehlt die Anschrift des Verkäufers";
    if (taxNumber.empty() && vatId.empty())
        return "Für die Rechnung fehlt die Steuernummer oder die USt-IdNr.";
    return {};
}

int InvoiceSettings::percentOf(const std::string& warengruppe) const {
    if (taxMode == TaxMode::SmallBusiness)
        return 0;
    const bool reduced = !warengruppe.empty() && std::find(reducedGroups.begin(), reducedGroups.end(),
                                                           warengruppe) != reducedGroups.end();
    return reduced ? reducedPercent : standardPercent;
}

std::string InvoiceSettings::numberText(std::int64_t number) const {
    std::string digits = std::to_string(number);
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), '0');
    return numberPrefix + digits;
}

} // namespace velmo
