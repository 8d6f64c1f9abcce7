// The totals added up while bestellungen.db is read a block at a time, against the table-based
// computation and against a plain per-number sum.
#include "datafiles/orderfiles.h"
#include "memtable/values.h"
#include "statistics/core/articletotals.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <unistd.h>

using namespace velmo;
using namespace velmo::statistics;

namespace {

std::string line(const std::string& order, const std::string& menge, const std::string& nr,
                 const std::string& text, const std::string& preis) {
    return order + ";;x;;" + menge + ";;" + nr + ";;" + text + ";;" + preis + ";;0";
}

// A file of its own in the temporary directory, removed afterwards.
class PositionFile {
public:
    PositionFile()
        : m_path((std::filesystem::temp_directory_path() /
                  ("velmo-sums-" + std::to_string(::getpid()) + "-" + std::to_string(s_next++)))
                     .string()) {}
    ~PositionFile() { std::filesystem::remove(m_path); }
    const std::string& path() const { return m_path; }
    void write(const std::string& bytes) const { std::ofstream(m_path, std::ios::binary) << bytes; }

private:
    static inline int s_next = 0;
    std::string m_path;
};

// What a computation leaves: the totals in both of their orders, field by field, and its error.
struct Outcome {
    std::vector<std::string> byNumber, byChartKey;
    std::string error;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
    *os << "error: " << o.error << "\n";
    for (const std::string& row : o.byChartKey)
        *os << "  " << row << "\n";
}

std::vector<std::string> rows(MemTable& totals, const std::string& index) {
    totals.setIndexName(index);
    std::vector<std::string> out;
    for (totals.First(); !totals.eof(); totals.Next()) {
        std::string row;
        for (const char* f : {kArtikelNr, kMenge, kPreis, kBezeichnung, kGanzeBezeichnung, kBestellNr})
            row += totals.fieldByName(f).asString() + "|";
        out.push_back(row);
    }
    return out;
}

template <class F> Outcome outcome(const std::string& chartKey, F&& compute) {
    MemTable totals;
    defineArticleTotals(totals, chartKey);
    Outcome o;
    try {
        compute(totals);
    } catch (const std::exception& e) {
        o.error = e.what();
    }
    o.byNumber = rows(totals, kArtikelNr);
    o.byChartKey = rows(totals, chartKey);
    return o;
}

// The table-based computation: every position a record, walked in article-number order.
Outcome throughTable(const std::string& bytes, const std::string& chartKey) {
    return outcome(chartKey, [&](MemTable& totals) {
        MemTable positions;
        defineAllPositions(positions);
        loadAllPositions(positions, bytes);
        computeArticleTotals(positions, totals);
    });
}

// Added up while the file is read in blocks of blockBytes.
Outcome whileReading(const std::string& bytes, const std::string& chartKey, std::size_t blockBytes) {
    PositionFile file;
    file.write(bytes);
    return outcome(chartKey, [&](MemTable& totals) {
        PositionFileSums sums(file.path(), blockBytes);
        while (sums.step()) {
        }
        EXPECT_EQ(sums.fractionDone(), 1.0);
        sums.sums().post(totals);
    });
}

// The plainest reading of the rules: per article number (as the table keeps it, 20 bytes up to a
// NUL), the sum of its quantities and amounts, and the texts of its first line.
std::vector<std::string> plainSums(const Lines& lines) {
    struct Sum {
        double menge = 0;
        german::Currency preis;
        std::string text, order;
    };
    std::map<std::string, Sum> sums;
    for (const std::string& l : lines) {
        if (datafiles::isBlankLine(l))
            continue;
        const std::vector<std::string> f = datafiles::cutFields(l, 6).value();
        const std::string nr(detail::cutString(f[3], 20));
        if (nr.empty())
            continue;
        const bool first = !sums.contains(nr);
        Sum& s = sums[nr];
        if (first) {
            s.text = detail::cutString(f[4], 100);
            s.order = detail::cutString(f[0], 20);
        }
        s.menge += f[2].empty() ? 0.0 : german::strToFloat(f[2]);
        s.preis.scaled += german::strToCurr(detail::cutString(datafiles::decimalComma(f[5]), 20)).scaled;
    }
    std::vector<std::string> out;
    out.reserve(sums.size());
    for (const auto& [nr, s] : sums) {
        out.push_back(nr + "|" + german::floatToStr(s.menge) + "|" + german::currToStr(s.preis) + "|" +
                      s.text.substr(0, 20) + "|" + s.text + "|" + s.order + "|");
    }
    return out;
}

TEST(ArticleSums, AddUpLikeAPlainSumPerNumber) {
    struct Case {
        const char* what;
        Lines lines;
    } cases[] = {
        {"an article sold again after others adds to what it sold before",
         {line("1", "2", "A", "Tasse", "10.00"), line("2", "1", "B", "Kanne", "3"),
          line("3", "3", "A", "Tasse", "7.50"), line("4", "1", "C", "Dose", "1"),
          line("5", "4", "A", "Tasse", "0.25")}},
        {"the first line gives description and order number",
         {line("7", "1", "A", "zuerst", "1"), line("8", "1", "B", "Kanne", "1"),
          line("9", "1", "A", "danach", "1")}},
        {"numbers differing in case are two articles",
         {line("1", "1", "ab", "klein", "1"), line("2", "2", "AB", "gro\xDF", "2"),
          line("3", "4", "ab", "klein", "4")}},
        {"numbers alike in their first 20 bytes, or up to a NUL, are one article",
         {line("1", "1", "12345678901234567890-a", "lang", "1"),
          line("2", "2", "12345678901234567890-b", "lang", "2"),
          line("3", "1", std::string("N1\0x", 4), "nul", "1"),
          line("4", "5", std::string("N1\0y", 4), "nul", "1")}},
        {"empty quantities count 0, a decimal comma counts, amounts with a comma or blanks",
         {line("1", "", "A", "Tasse", "1,50"), line("2", "1,5", "A", "Tasse", " 2.5 "),
          line("3", "", "B", "Kanne", "0")}},
        {"blank lines and lines without an article number are no positions",
         {"", line("1", "9", "", "Versand", "4.90"), " \t", line("2", "1", "A", "Tasse", "1")}},
        {"no positions", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (std::size_t block : {std::size_t{8}, std::size_t{1} << 20}) {
            const Outcome got = whileReading(joinLines(c.lines), kMenge, block);
            EXPECT_EQ(got.error, "");
            EXPECT_EQ(got.byNumber.size(), plainSums(c.lines).size());
            std::vector<std::string> sorted = got.byNumber;
            std::sort(sorted.begin(), sorted.end());
            EXPECT_EQ(sorted, plainSums(c.lines));
            EXPECT_EQ(got, throughTable(joinLines(c.lines), kMenge));
        }
    }
}

// Random files, read in random blocks, give exactly what the table-based computation gives: the
// same records in both orders (ties included), the same error, the same articles before a bad
// amount. The files mix what makes the rules differ: numbers the collation calls equal or that
// differ in case, cuts at 20 bytes, fractions whose sum depends on the order of adding, all three
// line breaks, blank lines, and now and then a bad amount, a bad quantity or a short line.
TEST(ArticleSums, RandomFilesAsTheTableComputesThem) {
    // A1 with a soft hyphen, which the collation passes over.
    const std::string kSoftHyphenA1 = std::string("A\xAD") + "1";
    std::mt19937 rng(20261210);
    auto pick = [&](const std::vector<std::string>& from) { return from[rng() % from.size()]; };
    const std::vector<std::string> numbers = {"A1",
                                              "a1",
                                              kSoftHyphenA1,
                                              "B-7",
                                              "b-7",
                                              "C",
                                              "Zebra",
                                              "\xE4hnlich",
                                              "ahnlich",
                                              "X12345678901234567890",
                                              "X12345678901234567890y",
                                              std::string("N\0a", 3),
                                              std::string("N\0b", 3)};
    const std::vector<std::string> quantities = {"", "1", "2", "3", "1,5", "0,1", "0,2", "0,7", "-0,3", "12"};
    const std::vector<std::string> amounts = {"1.00",  "2.50", "0.10",  "0.20",
                                              "19,99", "100",  "3.333", "0.05"};
    const std::vector<std::string> breaks = {"\r\n", "\n", "\r"};
    int failures = 0;
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        const int lines = static_cast<int>(rng() % 60);
        const bool faults = round % 4 == 3;
        for (int i = 0; i < lines; ++i) {
            std::string l =
                line("B" + std::to_string(rng() % 50), pick(quantities), rng() % 15 ? pick(numbers) : "",
                     "Text " + std::to_string(rng() % 7), pick(amounts));
            if (faults && rng() % 40 == 0)
                l = line("B", "1", pick(numbers), "T", pick({"", "zwei", "drei", "9e99"}));
            if (faults && rng() % 80 == 0)
                l = line("B", "2.5", pick(numbers), "T", "1");
            if (faults && rng() % 80 == 0)
                l = "B;;x;;1;;A1;;T";
            if (rng() % 20 == 0)
                l = "";
            bytes += l + pick(breaks);
        }
        const std::string key = round % 2 ? kMenge : kPreis;
        const Outcome want = throughTable(bytes, key);
        failures += !want.error.empty();
        const Outcome got = whileReading(bytes, key, 1 + rng() % 200);
        ASSERT_EQ(got, want) << "round " << round << ":\n" << bytes;
    }
    EXPECT_GT(failures, 10); // the faults were met
}

TEST(ArticleSums, FailuresNameTheirLineAndText) {
    // Reading stops at the first bad line in the file, whichever kind it is.
    const Outcome shortFirst = whileReading(
        joinLines({line("1", "1", "A", "T", "1"), "2;;x;;1;;A;;T", line("3", "2.5", "A", "T", "1")}), kMenge,
        16);
    EXPECT_EQ(shortFirst.error,
              "Zeile 2 in bestellungen.db ist unvollständig: sie hat weniger als 6 Trennzeichen \";;\"");
    const Outcome quantityFirst =
        whileReading(joinLines({"", line("1", "2.5", "A", "T", "1"), "2;;x;;1;;A;;T"}), kMenge, 16);
    EXPECT_EQ(quantityFirst.error, "'2.5' ist kein gültiger Fließkommawert für Feld 'menge'");
    EXPECT_TRUE(quantityFirst.byNumber.empty());

    // A bad amount: the articles before it are posted; of several bad amounts of one article the
    // last in the file is named (the walk meets it first).
    const Outcome amount =
        whileReading(joinLines({line("1", "1", "A", "T", "1"), line("2", "1", "B", "T", "eins"),
                                line("3", "1", "B", "T", "zwei"), line("4", "1", "C", "T", "1")}),
                     kPreis, 1 << 20);
    EXPECT_EQ(amount.error, "'zwei' ist kein gültiger Gleitkommawert");
    EXPECT_EQ(amount.byNumber, (std::vector<std::string>{"A|1|1|T|T|1|"}));
}

TEST(ArticleSums, MissingFileIsCreatedEmpty) {
    PositionFile file;
    PositionFileSums sums(file.path());
    EXPECT_TRUE(std::filesystem::exists(file.path()));
    EXPECT_FALSE(sums.step());
    EXPECT_EQ(sums.sums().positions(), 0u);
}

} // namespace
