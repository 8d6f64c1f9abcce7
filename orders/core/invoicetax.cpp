#include "orders/core/invoicetax.h"

#include "platform/errors.h"
#include "platform/german.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <numeric>

namespace velmo::invoice {

namespace {

// The currency type keeps four decimals.
constexpr Cents kScalePerCent = 100;
constexpr Cents kLimitCents = 100'000'000'000; // 1e9 in cents

[[noreturn]] void notAnAmount(std::string_view text) {
    throw EConvertError(formatMessage("'%s' ist kein gültiger Gleitkommawert", text));
}

// a * b / d (d > 0), halves away from zero, without overflow for any amounts the files can hold.
Cents scaleRounded(Cents a, Cents b, Cents d) {
    __extension__ using Wide = __int128;
    const Wide product = static_cast<Wide>(a) * b;
    const Wide magnitude = ((product < 0 ? -product : product) * 2 + d) / (2 * static_cast<Wide>(d));
    return static_cast<Cents>(product < 0 ? -magnitude : magnitude);
}

} // namespace

Cents divideRounded(Cents numerator, Cents denominator) {
    const Cents magnitude = (std::llabs(numerator) * 2 + denominator) / (2 * denominator);
    return numerator < 0 ? -magnitude : magnitude;
}

Cents parseCents(std::string_view amount) {
    // The files hold the storefront's decimal point or, once edited, a decimal comma.
    std::string text(amount);
    std::replace(text.begin(), text.end(), '.', ',');
    if (std::count(text.begin(), text.end(), ',') > 1)
        notAnAmount(amount);
    german::Currency value;
    try {
        value = german::strToCurr(text);
    } catch (const EConvertError&) {
        notAnAmount(amount);
    }
    const Cents cents = divideRounded(value.scaled, kScalePerCent);
    if (std::llabs(cents) >= kLimitCents)
        notAnAmount(amount);
    return cents;
}

std::string formatCents(Cents value) {
    const bool negative = value < 0;
    const Cents magnitude = std::llabs(value);
    std::string whole = std::to_string(magnitude / 100);
    for (int i = static_cast<int>(whole.size()) - 3; i > 0; i -= 3)
        whole.insert(static_cast<std::size_t>(i), 1, '.');
    const Cents fraction = magnitude % 100;
    std::string text = negative ? "-" : "";
    text += whole;
    text += ',';
    text += static_cast<char>('0' + fraction / 10);
    text += static_cast<char>('0' + fraction % 10);
    return text;
}

std::optional<Cents> unitPrice(Cents lineAmount, std::string_view quantity) {
    while (!quantity.empty() && quantity.front() == ' ')
        quantity.remove_prefix(1);
    while (!quantity.empty() && quantity.back() == ' ')
        quantity.remove_suffix(1);
    long long pieces = 0;
    const auto [end, error] = std::from_chars(quantity.data(), quantity.data() + quantity.size(), pieces);
    if (error != std::errc() || end != quantity.data() + quantity.size() || pieces <= 0)
        return std::nullopt;
    return divideRounded(lineAmount, pieces);
}

std::vector<RateSum> taxSummary(const std::vector<TaxedAmount>& lines, Cents shipping, int shippingPercent) {
    std::map<int, Cents, std::greater<>> gross;
    for (const TaxedAmount& line : lines)
        gross[line.percent] += line.gross;

    Cents goods = 0;
    for (const auto& [percent, sum] : gross)
        goods += sum;
    if (gross.empty() || goods == 0) {
        gross[shippingPercent] += shipping;
    } else {
        // Shares in proportion to the goods of each rate; the remainder goes to the last one, so the
        // shares add up to the charge exactly.
        Cents left = shipping;
        auto last = std::prev(gross.end());
        std::map<int, Cents, std::greater<>> shares;
        for (auto it = gross.begin(); it != last; ++it) {
            const Cents share = scaleRounded(shipping, it->second, goods);
            shares[it->first] = share;
            left -= share;
        }
        shares[last->first] = left;
        for (const auto& [percent, share] : shares)
            gross[percent] += share;
    }

    std::vector<RateSum> sums;
    for (const auto& [percent, sum] : gross) {
        if (sum == 0 && gross.size() > 1)
            continue;
        const Cents tax = scaleRounded(sum, percent, 100 + percent);
        sums.push_back({percent, sum, sum - tax, tax});
    }
    if (sums.empty())
        sums.push_back({shippingPercent, 0, 0, 0});
    return sums;
}

std::vector<Cents> distributeNet(const std::vector<Cents>& gross, int percent, Cents net) {
    std::vector<Cents> parts;
    parts.reserve(gross.size());
    for (const Cents g : gross)
        parts.push_back(g - scaleRounded(g, percent, 100 + percent));
    Cents missing = net - std::accumulate(parts.begin(), parts.end(), Cents{0});
    std::vector<std::size_t> order(gross.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::llabs(gross[a]) > std::llabs(gross[b]);
    });
    // Only non-zero amounts take a cent; without any, the net of a rate is 0 as well.
    const auto nonZero =
        static_cast<std::size_t>(std::count_if(gross.begin(), gross.end(), [](Cents g) { return g != 0; }));
    for (std::size_t i = 0; missing != 0 && nonZero > 0; i = (i + 1) % nonZero) {
        const Cents step = missing > 0 ? 1 : -1;
        parts[order[i]] += step;
        missing -= step;
    }
    return parts;
}

} // namespace velmo::invoice
