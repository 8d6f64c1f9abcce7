#pragma once

#include "platform/linefile.h"

#include <cstdint>
#include <string>

namespace velmo {

class SettingsStore;

// The seller's details a complete invoice states, kept in the settings store. Switched off (the
// default), the invoice keeps its short layout and none of this is printed.
struct InvoiceSettings {
    enum class TaxMode { Regular, SmallBusiness };

    bool complete = false;
    std::string sellerName;
    std::string street;
    std::string town; // postcode and town
    std::string taxNumber;
    std::string vatId;
    std::string contact; // e-mail or telephone
    std::string bank;    // optional
    TaxMode taxMode = TaxMode::Regular;
    int standardPercent = 19;
    int reducedPercent = 7;
    // The product groups (Warengruppe of an article) sold at the reduced rate.
    Lines reducedGroups;
    std::string numberPrefix = "RE-";
    std::int64_t nextNumber = 1;

    // The settings from the store; a value that is missing or cannot be read keeps its default.
    static InvoiceSettings load(const SettingsStore& store);
    void save(SettingsStore& store) const;

    // What stops a complete invoice from being issued: "" when nothing does, otherwise the German
    // text naming the first missing detail (a seller name, an address, a tax number or VAT ID).
    std::string missingDetail() const;
    // The rate of an article of this group.
    int percentOf(const std::string& warengruppe) const;
    // prefix + number, the number with at least four digits: "RE-0042".
    std::string numberText(std::int64_t number) const;
};

} // namespace velmo
