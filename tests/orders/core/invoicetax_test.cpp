// The invoice's sums in cents: parsing the files' amounts, unit prices, and the tax taken out of
// gross sums per rate, at the half-cent boundaries where a floating-point or per-line rounding
// would go wrong.
#include "orders/core/invoicetax.h"

#include "platform/errors.h"

#include <gtest/gtest.h>

using namespace velmo;
using namespace velmo::invoice;

TEST(InvoiceTax, ParsesAmountsToCentsRoundingHalvesAwayFromZero) {
    const struct {
        const char* text;
        Cents cents;
    } cases[] = {
        {"20.5", 2050},  {"20,5", 2050}, {"4.90", 490},           {"0", 0},       {" 7 ", 700},
        {"0.005", 1},    {"0.0049", 0},  {"-0.005", -1},          {"1,235", 124}, {"1.2345", 123},
        {"19.99", 1999}, {"0.1", 10},    {"999999.99", 99999999},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseCents(c.text), c.cents) << c.text;
}

TEST(InvoiceTax, RejectsWhatIsNoAmount) {
    for (const char* text : {"", "abc", "1.2.3", "1,2,3", "1e9", "12 Stück"}) {
        try {
            parseCents(text);
            ADD_FAILURE() << text;
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + text + "' ist kein gültiger Gleitkommawert");
        }
    }
}

TEST(InvoiceTax, FormatsCentsInGermanNotation) {
    const struct {
        Cents cents;
        const char* text;
    } cases[] = {{0, "0,00"},
                 {5, "0,05"},
                 {-5, "-0,05"},
                 {100, "1,00"},
                 {123450, "1.234,50"},
                 {-123450, "-1.234,50"},
                 {100000000, "1.000.000,00"},
                 {99999, "999,99"}};
    for (const auto& c : cases)
        EXPECT_EQ(formatCents(c.cents), c.text) << c.cents;
}

TEST(InvoiceTax, UnitPriceIsTheLineAmountPerPiece) {
    const struct {
        Cents amount;
        const char* quantity;
        std::optional<Cents> unit;
    } cases[] = {
        {4100, "2", 2050},
        {1000, "3", 333},
        {500, "3", 167},
        {-500, "3", -167},
        {999, "1", 999},
        // Exact halves of a cent go away from zero.
        {5, "2", 3},
        {-5, "2", -3},
        {25, "2", 13},
        {0, "4", 0},
        {1000, " 2 ", 500},
        {1000, "0", std::nullopt},
        {1000, "-1", std::nullopt},
        {1000, "", std::nullopt},
        {1000, "1,5", std::nullopt},
        {1000, "2x", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(unitPrice(c.amount, c.quantity), c.unit) << c.amount << " / '" << c.quantity << "'";
}

namespace velmo::invoice {
std::ostream& operator<<(std::ostream& os, const RateSum& s) {
    return os << "{" << s.percent << "%: " << s.gross << " = " << s.net << " + " << s.tax << "}";
}
} // namespace velmo::invoice

namespace {
RateSum sum(int percent, Cents gross, Cents net, Cents tax) {
    return {percent, gross, net, tax};
}
} // namespace

TEST(InvoiceTax, TakesTheTaxOutOfTheGrossSumOfEachRate) {
    const struct {
        const char* what;
        std::vector<TaxedAmount> lines;
        Cents shipping;
        std::vector<RateSum> expected;
    } cases[] = {
        {"119,00 at 19 % is 100 + 19", {{19, 11900}}, 0, {sum(19, 11900, 10000, 1900)}},
        {"107,00 at 7 % is 100 + 7", {{7, 10700}}, 0, {sum(7, 10700, 10000, 700)}},
        // 0,10 * 19/119 = 0,01596…: one cent of tax.
        {"a tiny amount", {{19, 10}}, 0, {sum(19, 10, 8, 2)}},
        // 3,72 * 19/119 = 0,59395…; 3,73 → 0,59554…; the boundary between them at x.x5 cents.
        {"below a half cent", {{19, 372}}, 0, {sum(19, 372, 313, 59)}},
        {"above a half cent", {{19, 373}}, 0, {sum(19, 373, 313, 60)}},
        // 1,07 * 7/107 = 0,07 exactly; 0,15 * 7/107 = 0,009813… → 0,01.
        {"exact at 7 %", {{7, 107}}, 0, {sum(7, 107, 100, 7)}},
        {"rounds up at 7 %", {{7, 15}}, 0, {sum(7, 15, 14, 1)}},
        // Per line: 3 × (0,05 * 19/119 = 0,0079… → 0,01) = 0,03; from the sum 0,15 → 0,0239… → 0,02.
        {"rounded once per rate, not per line", {{19, 5}, {19, 5}, {19, 5}}, 0, {sum(19, 15, 13, 2)}},
        {"both rates, highest first",
         {{7, 1070}, {19, 1190}, {7, 535}},
         0,
         {sum(19, 1190, 1000, 190), sum(7, 1605, 1500, 105)}},
        {"shipping with one rate takes it", {{7, 1070}}, 490, {sum(7, 1560, 1458, 102)}},
        // Goods 30,00 at 19 % and 10,00 at 7 %: shipping 4,90 splits 3,675 → 3,68 (an exact half
        // cent, away from zero) and the rest 1,22.
        {"shipping split by the goods of each rate",
         {{19, 3000}, {7, 1000}},
         490,
         {sum(19, 3368, 2830, 538), sum(7, 1122, 1049, 73)}},
        {"shipping alone takes its own rate", {}, 490, {sum(19, 490, 412, 78)}},
        {"nothing at all", {}, 0, {sum(19, 0, 0, 0)}},
        {"a rate that sums to nothing is left out",
         {{7, 500}, {7, -500}, {19, 119}},
         0,
         {sum(19, 119, 100, 19)}},
        {"a credit", {{19, -11900}}, 0, {sum(19, -11900, -10000, -1900)}},
        {"small business: no tax", {{0, 1234}, {0, 1}}, 500, {sum(0, 1735, 1735, 0)}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(taxSummary(c.lines, c.shipping, 19), c.expected) << c.what;
}

TEST(InvoiceTax, ManyLinesAddUpToTheirGrossSumExactly) {
    // 1.000 lines of 0,01 to 9,99 at both rates: every rate's net plus tax is its gross sum, the
    // gross sums are the lines' sums, and the tax is within half a cent of the exact value.
    std::vector<TaxedAmount> lines;
    Cents standard = 0, reduced = 0;
    for (int i = 0; i < 1000; ++i) {
        const Cents amount = (i * 37) % 999 + 1;
        const int percent = i % 3 == 0 ? 7 : 19;
        lines.push_back({percent, amount});
        (percent == 7 ? reduced : standard) += amount;
    }
    const std::vector<RateSum> sums = taxSummary(lines, 0, 19);
    ASSERT_EQ(sums.size(), 2u);
    EXPECT_EQ(sums[0].gross, standard);
    EXPECT_EQ(sums[1].gross, reduced);
    for (const RateSum& s : sums) {
        EXPECT_EQ(s.net + s.tax, s.gross);
        const Cents exactTimes = s.gross * s.percent; // tax * (100 + p) within half of (100 + p)
        EXPECT_LE(std::llabs(s.tax * (100 + s.percent) - exactTimes) * 2, 100 + s.percent) << s;
    }
}

TEST(InvoiceTax, ShippingSharesAddUpToTheCharge) {
    for (Cents shipping : {1, 2, 3, 490, 499, 999}) {
        for (Cents reduced : {1, 333, 1000, 4999}) {
            const std::vector<RateSum> sums = taxSummary({{19, 1000}, {7, reduced}}, shipping, 19);
            ASSERT_EQ(sums.size(), 2u);
            EXPECT_EQ(sums[0].gross + sums[1].gross, 1000 + reduced + shipping) << shipping << "/" << reduced;
        }
    }
}

TEST(InvoiceTax, ARatesNetSplitsOverItsAmountsToTheCent) {
    // The parts add up to the rate's net exactly, each within a cent of its own exact net, and an
    // amount of 0 gets 0, whatever mix of tiny, equal, negative and cancelling amounts.
    const struct {
        const char* what;
        int percent;
        std::vector<Cents> gross;
    } cases[] = {
        {"one cent", 19, {1}},
        {"five cents three times", 7, {5, 5, 5}},
        {"33,33 three times and shipping", 19, {3333, 3333, 3333, 490}},
        {"sixty times 0,99", 19, std::vector<Cents>(60, 99)},
        {"with a discount and a zero line", 19, {4100, -300, 0, 999}},
        {"cancelling out", 7, {500, -500}},
        {"cancelling out unevenly", 19, {500, -301, -199}},
        {"nothing", 19, {}},
    };
    for (const auto& c : cases) {
        Cents gross = 0;
        for (const Cents g : c.gross)
            gross += g;
        const Cents net = taxSummary({{c.percent, gross}}, 0, c.percent).front().net;
        const std::vector<Cents> parts = distributeNet(c.gross, c.percent, net);
        ASSERT_EQ(parts.size(), c.gross.size()) << c.what;
        Cents sum = 0;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            sum += parts[i];
            // |part - gross * 100 / (100 + p)| <= 1 cent
            EXPECT_LE(std::llabs(parts[i] * (100 + c.percent) - c.gross[i] * 100), 100 + c.percent)
                << c.what << " #" << i;
            if (c.gross[i] == 0) {
                EXPECT_EQ(parts[i], 0) << c.what;
            }
        }
        EXPECT_EQ(sum, net) << c.what;
    }
}
