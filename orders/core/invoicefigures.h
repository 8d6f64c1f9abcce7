#pragma once

#include "orders/core/invoicesettings.h"
#include "orders/core/invoicetax.h"
#include "orders/core/orderdocument.h"

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmo {

// The figures of a complete invoice, computed from what the order files hold: per position its
// amount, unit price and tax rate, the goods value, shipping and total, and per rate the net amount
// and tax (or none, for a small business). All texts "#,###,##0.00".
struct InvoiceFigures {
    struct Line {
        std::string amount;
        std::string unitPrice; // empty when the quantity is not a whole number of pieces
        int percent = 0;
    };
    std::vector<Line> lines; // as the snapshot's positions
    invoice::Cents goods = 0;
    invoice::Cents shipping = 0;
    invoice::Cents total = 0;
    std::vector<invoice::RateSum> rates;
    bool smallBusiness = false;
};

// The article numbers of every catalog's article file (bytes as the files hold them) with their
// product group (UTF-8), the first catalog naming an article winning. pathOf gives the local path of
// a file of the data directory. Missing files are skipped, not created.
std::unordered_map<std::string, std::string>
loadArticleGroups(const std::function<std::string(const std::string& fileName)>& pathOf);

// Throws EConvertError for an amount or shipping charge that is no number.
InvoiceFigures invoiceFigures(const InvoiceSnapshot& invoice, const InvoiceSettings& settings,
                              const std::unordered_map<std::string, std::string>& articleGroups);

} // namespace velmo
