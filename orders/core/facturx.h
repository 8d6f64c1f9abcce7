#pragma once

#include "orders/core/facturxpdf.h"
#include "orders/core/invoicefigures.h"
#include "orders/core/invoiceledger.h"
#include "orders/core/invoicesettings.h"
#include "orders/core/orderdocument.h"

#include <string>
#include <string_view>

// The e-invoice that travels inside the PDF of a complete invoice: a Cross Industry Invoice of the
// EN 16931 profile (Factur-X 1.0 / ZUGFeRD 2), stating what the printed page states.
namespace velmo::facturx {

inline constexpr const char* kGuideline = "urn:cen.eu:en16931:2017";

// The ISO 4217 code of the shop's currency label ("EUR", "€", "Euro" give "EUR"; any other three
// capital letters are taken as a code). Empty when the label names no code ("DM").
std::string currencyCode(std::string_view label);

// The ISO 3166 code of a country as an order's "Land" holds it (Windows-1252 bytes): German and
// English names of the neighbouring countries, the car signs and two-letter codes; an empty or
// unknown one is Germany, where the shop sells.
std::string countryCode(std::string_view land);

// "50667 Köln" → postcode "50667" and city "Köln"; without a leading number all of it is the city.
struct PostalTown {
    std::string postcode;
    std::string city;
};
PostalTown splitTown(std::string_view town);

// The text as XML character data, UTF-8: &, < and > escaped (quotes too, for attributes), and the
// characters XML 1.0 does not allow (control characters but tab and line breaks, broken UTF-8)
// replaced by a blank or "?".
std::string escape(std::string_view utf8);

// The XML of one invoice. The order's fields are Windows-1252 bytes, the settings UTF-8; entry is
// the invoice number and date the page prints, figures what it prints of the amounts. Throws
// Exception with a German text when the currency label names no ISO code.
std::string invoiceXml(const InvoiceSettings& seller, const InvoiceSnapshot& order,
                       const InvoiceFigures& figures, const LedgerEntry& entry,
                       std::string_view currencyLabel);

} // namespace velmo::facturx
