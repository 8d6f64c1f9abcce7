#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The sums an invoice states: amounts in whole cents, unit prices, and per tax rate the net amount
// and the tax. Everything here is integer arithmetic; no amount passes through a double, so a sum
// printed on an invoice is the sum of the amounts printed above it.
namespace velmo::invoice {

using Cents = std::int64_t;

// numerator / denominator (denominator > 0), halves rounded away from zero.
Cents divideRounded(Cents numerator, Cents denominator);

// An amount as the order files hold it (decimal comma or point, "20,5", "4.90", "-3") in cents,
// halves of a cent rounded away from zero. Throws EConvertError "'%s' ist kein gültiger
// Gleitkommawert" for anything else, and for amounts no shop order reaches (1e9 and beyond).
Cents parseCents(std::string_view amount);
// "#,###,##0.00": "1.234,50", "0,00", "-0,05".
std::string formatCents(Cents value);

// The price of one piece: the line amount divided by the quantity, rounded to the cent. None when
// the quantity is not a whole number above zero (the line then shows no unit price).
std::optional<Cents> unitPrice(Cents lineAmount, std::string_view quantity);

// One line of the invoice with the rate it is taxed at, in percent.
struct TaxedAmount {
    int percent = 0;
    Cents gross = 0;
};

// What the invoice states for one rate.
struct RateSum {
    int percent = 0;
    Cents gross = 0;
    Cents net = 0;
    Cents tax = 0;
    friend bool operator==(const RateSum&, const RateSum&) = default;
};

// The per-rate sums of the lines plus the shipping charge. The shop's prices are gross, so the tax
// is taken out of the gross sum of each rate: tax = gross * p / (100 + p), rounded half away from
// zero to the cent, and net = gross - tax, so that net and tax always add up to the gross sum that
// was charged. Rounding once per rate, not per line, is what keeps the invoice's figures
// reproducible from its own sums.
//
// Shipping is an ancillary service and is taxed like the goods it carries: with goods at one rate it
// takes that rate; with goods at several rates it is split in proportion to their gross sums (each
// share rounded to the cent, the last rate taking the remainder). Without goods it takes
// shippingPercent. The result is ordered by rate, highest first; a rate with no amount is left out,
// except that an invoice with nothing at all gives one zero line at shippingPercent.
std::vector<RateSum> taxSummary(const std::vector<TaxedAmount>& lines, Cents shipping, int shippingPercent);

// The net amount of one rate split over the gross amounts it was taken from, so that the parts add
// up to net exactly: each part starts as its own gross less its own tax (rounded as taxSummary
// rounds), and the cents by which those miss net are handed out one at a time, largest amounts
// first. So no part is more than a cent off its own exact net, and a zero amount gets zero.
std::vector<Cents> distributeNet(const std::vector<Cents>& gross, int percent, Cents net);

} // namespace velmo::invoice
