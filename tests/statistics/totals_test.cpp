// Positions of bestellungen.db added up per article, without widgets.
#include "datafiles/orderfiles.h"
#include "statistics/core/articletotals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

using namespace velmo;
using namespace velmo::statistics;

namespace {

// A local position line: order, the storefront's unused field, quantity, article, description,
// amount, and the status the fetch appends.
std::string line(const std::string& order, const std::string& menge, const std::string& nr,
                 const std::string& text, const std::string& preis, const std::string& rest = "0") {
    return order + ";;x;;" + menge + ";;" + nr + ";;" + text + ";;" + preis + ";;" + rest;
}

struct Total {
    std::string nr;
    std::string menge, preis; // as the table writes them
    std::string bezeichnung, bestellNr;
    friend bool operator==(const Total&, const Total&) = default;
};

void PrintTo(const Total& t, std::ostream* os) {
    *os << "{" << t.nr << ", " << t.menge << ", " << t.preis << ", " << t.bezeichnung << ", " << t.bestellNr
        << "}";
}

class TotalsTest : public ::testing::Test {
protected:
    void SetUp() override {
        defineAllPositions(positions);
        defineArticleTotals(totals, kMenge);
    }

    void compute(const Lines& lines) {
        loadAllPositions(positions, joinLines(lines));
        computeArticleTotals(positions, totals);
    }

    // The totals in the table's current order.
    std::vector<Total> read() {
        std::vector<Total> out;
        for (totals.First(); !totals.eof(); totals.Next()) {
            out.push_back({totals.fieldByName(kArtikelNr).asString(), totals.fieldByName(kMenge).asString(),
                           totals.fieldByName(kPreis).asString(), totals.fieldByName(kBezeichnung).asString(),
                           totals.fieldByName(kBestellNr).asString()});
        }
        return out;
    }

    MemTable positions;
    MemTable totals;
};

TEST_F(TotalsTest, OneRecordPerArticleRun) {
    struct Case {
        const char* what;
        Lines lines;
        std::vector<Total> totals; // in ArtikelNr order
    } cases[] = {
        {"quantities in either order add up",
         {line("1", "2", "A", "Tasse", "1.00"), line("2", "1", "B", "Kanne", "2"),
          line("3", "3", "A", "Tasse", "1.00")},
         {{"A", "5", "2", "Tasse", "1"}, {"B", "1", "2", "Kanne", "2"}}},
        {"blank lines are passed over",
         {"", line("1", "2", "A", "Tasse", "1.00"), " \t", "", line("2", "1", "A", "Tasse", "1.00")},
         {{"A", "3", "2", "Tasse", "1"}}},
        {"article numbers differing in case are two articles",
         {line("1", "1", "ab", "klein", "1"), line("2", "2", "AB", "gro\xDF", "1"),
          line("3", "4", "ab", "klein", "1")},
         {{"ab", "5", "2", "klein", "1"}, {"AB", "2", "1", "gro\xDF", "2"}}},
        {"an empty article number is no position; the rest of a line is never read",
         {line("1", "9", "", "Versand", "4.90"), line("2", "1", "A", "Tasse", "3.5", "0;;7;;A;;x;;99")},
         {{"A", "1", "3,5", "Tasse", "2"}}},
        {"amounts are added as they stand, never times the quantity",
         {line("1", "3", "A", "Tasse", "30.00"), line("2", "1", "A", "Tasse", "10.00"),
          line("3", "2", "B", "Kanne", "5.50")},
         {{"A", "4", "40", "Tasse", "1"}, {"B", "2", "5,5", "Kanne", "3"}}},
        {"an empty quantity counts 0, a decimal comma counts",
         {line("1", "", "A", "Tasse", "1"), line("2", "1,5", "A", "Tasse", "1"),
          line("3", "", "B", "Kanne", "1")},
         {{"A", "1,5", "2", "Tasse", "1"}, {"B", "0", "1", "Kanne", "3"}}},
        // The label and order number come from the run's last position in the index, where later
        // lines of one article come first: the article's first line in the file.
        {"label cut to 20 characters, from the article's first line",
         {line("1", "1", "A", "Porzellantasse wei\xDF mit Goldrand", "1"),
          line("2", "1", "A", "neuer Text", "1")},
         {{"A", "2", "2", "Porzellantasse wei\xDF ", "1"}}},
        // The collation calls numbers equal that differ by a soft hyphen; they must not split a run.
        {"numbers the collation calls equal stay apart",
         {line("1", "1", "A1", "eins", "1"),
          line("2", "2",
               "A\xAD"
               "1",
               "zwei", "1"),
          line("3", "4", "A1", "eins", "1"),
          line("4", "8",
               "A\xAD"
               "1",
               "zwei", "1")},
         {{"A1", "5", "2", "eins", "1"},
          {"A\xAD"
           "1",
           "10", "2", "zwei", "2"}}},
        {"no positions", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        compute(c.lines);
        std::vector<Total> got = read();
        std::vector<Total> want = c.totals;
        // The order of collation-equal numbers is the collation's business, not the totals'.
        auto byNr = [](const Total& a, const Total& b) { return a.nr < b.nr; };
        std::sort(got.begin(), got.end(), byNr);
        std::sort(want.begin(), want.end(), byNr);
        EXPECT_EQ(got, want);
    }
}

TEST_F(TotalsTest, TheWholeDescriptionStaysBesideTheCutLabel) {
    compute(
        {line("1", "1", "A", "Porzellantasse wei\xDF mit Goldrand", "1"), line("2", "1", "B", "Kanne", "1")});
    totals.First();
    EXPECT_EQ(totals.fieldByName(kBezeichnung).asString(), "Porzellantasse wei\xDF ");
    EXPECT_EQ(totals.fieldByName(kGanzeBezeichnung).asString(), "Porzellantasse wei\xDF mit Goldrand");
    totals.Next();
    EXPECT_EQ(totals.fieldByName(kGanzeBezeichnung).asString(), "Kanne");
}

TEST_F(TotalsTest, TablesAreRebuiltEveryTime) {
    compute({line("1", "1", "A", "Tasse", "1"), line("2", "1", "B", "Kanne", "1")});
    compute({line("1", "7", "C", "Dose", "1")});
    EXPECT_EQ(positions.RecordCount(), 1);
    EXPECT_EQ(read(), (std::vector<Total>{{"C", "7", "1", "Dose", "1"}}));
}

// The positions go into the table grouped by article, through staging buckets of neighbouring
// article numbers. The table and its index walk must still be exactly what loading the file line by
// line gives, and so must the totals: many articles over many buckets, numbers differing in case,
// numbers cut to the field's 20 characters, lines without an article, one article far more often
// than the rest.
TEST_F(TotalsTest, AllPositionsHoldsEveryPosition) {
    std::mt19937 rng(1209);
    std::vector<std::string> numbers;
    for (int i = 0; i < 1500; ++i) {
        std::string nr = "Art-" + std::to_string(rng() % 100000);
        if (i % 10 == 1)
            nr = "art-" + nr.substr(4); // another article, by case
        if (i % 25 == 2)
            nr += "-mit-sehr-langem-Zusatz-" + std::to_string(i); // cut to 20 characters
        numbers.push_back(nr);
    }
    Lines lines;
    for (int i = 0; i < 20000; ++i) {
        const std::string nr = i % 97 == 0 ? "" : numbers[i % 3 == 0 ? 7 : rng() % numbers.size()];
        lines.push_back(line("B" + std::to_string(i), std::to_string(rng() % 5) + (i % 4 ? ",5" : ""), nr,
                             "Text " + std::to_string(rng() % 1000), std::to_string(i) + ".25"));
    }

    MemTable byLine;
    defineAllPositions(byLine);
    for (const std::string& l : lines) {
        datafiles::PositionView p;
        ASSERT_TRUE(datafiles::viewPositionLine(l, p));
        std::string preis(p.Preis);
        std::replace(preis.begin(), preis.end(), '.', ',');
        if (!p.ArtikelNr.empty())
            byLine.AppendValues({p.BestellNr, p.menge, p.ArtikelNr, p.Bezeichnung, preis});
    }
    byLine.setIndexName(kArtikelNr);
    loadAllPositions(positions, joinLines(lines));
    EXPECT_EQ(positions.IndexName(), kArtikelNr);

    auto walk = [](MemTable& t) {
        std::vector<std::string> rows;
        for (t.First(); !t.eof(); t.Next()) {
            std::string row;
            for (const char* f : {kBestellNr, kMenge, kArtikelNr, kBezeichnung, kPreis})
                row += t.fieldByName(f).asString() + "|";
            rows.push_back(row);
        }
        return rows;
    };
    const std::vector<std::string> want = walk(byLine);
    ASSERT_EQ(want.size(), 20000u - 207u);
    EXPECT_EQ(walk(positions), want);

    MemTable byLineTotals;
    defineArticleTotals(byLineTotals, kMenge);
    computeArticleTotals(byLine, byLineTotals);
    computeArticleTotals(positions, totals);
    EXPECT_EQ(walk(totals), walk(byLineTotals));
}

TEST_F(TotalsTest, FailuresStopTheWork) {
    // A quantity with a decimal point is no number: reading stops there, before any totals.
    compute({line("1", "1", "A", "Tasse", "1")});
    try {
        loadAllPositions(positions,
                         joinLines({line("1", "2", "B", "Kanne", "1"), line("2", "2.5", "A", "Tasse", "1"),
                                    line("3", "x", "A", "Tasse", "1")}));
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'2.5' ist kein gültiger Fließkommawert für Feld 'menge'");
    }
    EXPECT_EQ(read(), (std::vector<Total>{{"A", "1", "1", "Tasse", "1"}}));

    // A bad amount stops the totals: articles before it are complete, the bad article is not there.
    for (const std::string bad : {"", "1.234.5", "zwei"}) {
        SCOPED_TRACE(bad);
        loadAllPositions(positions,
                         joinLines({line("1", "1", "A", "Tasse", "1"), line("2", "1", "B", "Kanne", "2"),
                                    line("3", "1", "B", "Kanne", bad), line("4", "1", "C", "Dose", "1")}));
        try {
            computeArticleTotals(positions, totals);
            FAIL() << "no error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.what(), "'" + datafiles::decimalComma(bad) + "' ist kein gültiger Gleitkommawert");
        }
        EXPECT_EQ(read(), (std::vector<Total>{{"A", "1", "1", "Tasse", "1"}}));
    }

    // A line cut short is reported with its number.
    try {
        loadAllPositions(positions, joinLines({line("1", "1", "A", "Tasse", "1"), "2;;x;;1;;A;;Tasse"}));
        FAIL() << "no error";
    } catch (const datafiles::EOrderLineError& e) {
        EXPECT_NE(std::string(e.what()).find("Zeile 2 in bestellungen.db"), std::string::npos) << e.what();
    }
}

TEST_F(TotalsTest, ProgressInSteps) {
    Lines lines;
    for (int i = 0; i < 7; ++i)
        lines.push_back(line("1", "1", "A" + std::to_string(i % 2), "T", "1"));
    loadAllPositions(positions, joinLines(lines));
    std::vector<std::size_t> calls;
    computeArticleTotals(
        positions, totals, [&](std::size_t done) { calls.push_back(done); }, 3);
    EXPECT_EQ(calls, (std::vector<std::size_t>{3, 6, 7}));
}

TEST(ChartScrollHeight, EightBarsPer355PixelsHalvesToEven) {
    const std::pair<std::int64_t, std::int64_t> cases[] = {
        {0, 0}, {1, 44}, {4, 178}, {8, 355}, {12, 532}, {20, 888}, {28, 1242}, {10'000, 443'750},
    };
    for (auto [n, height] : cases)
        EXPECT_EQ(chartScrollHeight(n), height) << n;
}

} // namespace
