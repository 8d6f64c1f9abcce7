#pragma once

#include "orders/core/invoicesettings.h"
#include "orders/core/invoicetax.h"
#include "orders/core/orderdocument.h"

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmo {

// What a small business states instead of the tax.
inline constexpr const char* kSmallBusinessNote =
    "Gemäß § 19 UStG wird keine Umsatzsteuer berechnet (Kleinunternehmer).";

// The figures of a complete invoice, computed from what the order files hold: per position its
// amount, unit price and tax rate, the goods value, shipping and total, and per rate the net amount
// and tax (or none, for a small business). All texts "#,###,##0.00". The printed invoice and the
// e-invoice XML both read these; neither computes a sum of its own.
//
// Each rate's net is also split over what makes up its gross sum (its positions and its share of the
// shipping charge), so that the net parts of a rate add up to the rate's printed net to the cent.
struct InvoiceFigures {
    struct Line {
        std::string amount;
        std::string unitPrice; // empty when the quantity is not a whole number of pieces
        int percent = 0;
        invoice::Cents gross = 0;
        invoice::Cents net = 0;
    };
    // The part of the shipping charge one rate carries.
    struct ShippingShare {
        int percent = 0;
        invoice::Cents gross = 0;
        invoice::Cents net = 0;
    };
    std::vector<Line> lines;                   // as the snapshot's positions
    std::vector<ShippingShare> shippingShares; // rates with a share other than 0, as rates
    invoice::Cents goods = 0;
    invoice::Cents shipping = 0;
    invoice::Cents total = 0;
    std::vector<invoice::RateSum> rates;
    // The sums of the rates' nets and taxes; they add up to total.
    invoice::Cents net = 0;
    invoice::Cents tax = 0;
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
