// The browser's listing and name rules without any widget: grid cells word by word, the sorted rows,
// the transfer type per name and the names that may become local files.
#include "ftpbrowser/listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

using namespace velmo;
using namespace velmo::browser;

namespace {

struct RowCase {
    const char* what;
    std::string line;
    GridRow cells;
};

void PrintTo(const RowCase& c, std::ostream* os) {
    *os << c.what;
}

class GridRowTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(GridRowTest, CutsTheLineWordByWord) {
    EXPECT_EQ(gridRow(GetParam().line), GetParam().cells);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, GridRowTest,
    ::testing::Values(
        // vsftpd pads the columns; the words keep one trailing blank, the date keeps double blanks.
        RowCase{"vsftpd file",
                "-rw-r--r--    1 0        0            1234 Dec 09 12:30 prices.db",
                {" ", "prices.db", "1 ", "0 ", "0 ", "1234 ", "Dec  09  12:30 ", "-rw-r--r-- "}},
        RowCase{"pyftpdlib directory",
                "drwxr-xr-x   2 velmo    velmo        4096 Dec  9 12:30 thumbs",
                {"[D]", "thumbs", "2 ", "velmo ", "velmo ", "4096 ", "Dec  9  12:30 ", "drwxr-xr-x "}},
        RowCase{"name with blanks kept whole",
                "-rw-r--r--   1 velmo    velmo          17 Jan 01  2025 my  price list.db",
                {" ", "my  price list.db", "1 ", "velmo ", "velmo ", "17 ", "Jan  01  2025 ", "-rw-r--r-- "}},
        RowCase{"a link to a directory is no directory",
                "lrwxrwxrwx   1 velmo    velmo           6 Dec  9 12:30 shop -> /srv/shop",
                {" ", "shop -> /srv/shop", "1 ", "velmo ", "velmo ", "6 ", "Dec  9  12:30 ", "lrwxrwxrwx "}},
        // The total line: two words; the number becomes the name, "total" the permissions.
        RowCase{"total line", "total 12", {" ", "12", "", "", "", "", "  ", "total "}},
        RowCase{"no blank at all", "README", {" ", "README", "", "", "", "", "  ", ""}},
        RowCase{"upper-case D is no directory",
                "Drwxr-xr-x 1 a b 0 Dec 9 12:30 x",
                {" ", "x", "1 ", "a ", "b ", "0 ", "Dec  9  12:30 ", "Drwxr-xr-x "}},
        RowCase{"leading blanks make an empty first word",
                "  drw 1 a b 0 Dec 9 12:30 x",
                {" ", "12:30 x", "drw ", "1 ", "a ", "b ", "0  Dec  9 ", " "}},
        RowCase{"Windows-1252 bytes pass through",
                "-rw-r--r-- 1 a b 3 Dec 9 12:30 M\xFCller \xA4.db",
                {" ", "M\xFCller \xA4.db", "1 ", "a ", "b ", "3 ", "Dec  9  12:30 ", "-rw-r--r-- "}}));

TEST(GridRows, ParentRowFirstThenLinesSortedWithoutRegardToCase) {
    const Lines listing = {"-rw 1 a b 1 Dec 9 12:30 zeta",    "drw 1 a b 1 Dec 9 12:30 Alpha",
                           "-rw 1 a b 1 Dec 9 12:30 beta",    "total 3",
                           "-RW 1 a b 1 Dec 9 12:30 Beta",    "-rw 1 a b 1 Dec 9 12:30 \xC4pfel",
                           "-rw 1 a b 1 Dec 9 12:30 \xE4pfel"};
    const std::vector<GridRow> rows = gridRows(listing);
    std::vector<std::string> names;
    names.reserve(rows.size());
    for (const GridRow& r : rows)
        names.emplace_back(r[ColName]);
    // Whole lines compare, so the permissions decide first; equal lines keep their listing order.
    EXPECT_EQ(names,
              (std::vector<std::string>{"..", "beta", "Beta", "zeta", "\xC4pfel", "\xE4pfel", "Alpha", "3"}));
    EXPECT_TRUE(isDirectory(rows[0]));
    EXPECT_TRUE(isDirectory(rows[6]));
    EXPECT_EQ(rows[0][ColPerms], "");
}

// Each byte's sort key where a wrong case fold would move it: ß (0xDF) has no upper-case partner
// in Windows-1252 and keeps its own place between × (0xD7) and à (0xE0); Þ folds to þ (0xFE); ¿
// and × are no letters. A tie keeps the listing order, so the listing puts each neighbour where a
// wrong key for ß would show: ÿ before ß (ß taken for ÿ), ß before ¿ (ß taken for ¿) and before
// "ss" (ß spelt out).
// Over random listings (shared beginnings of every length, lines ending inside them, equal lines, NUL
// and high bytes, capitals) the order must be the plain stable one of the folded lines.
TEST(GridRows, SortedLikeAStableSortOfTheFoldedLines) {
    auto fold = [](std::string line) {
        for (char& c : line)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + 0x20);
        return line;
    };
    std::mt19937 rng(20261210);
    const std::string alphabet{"\0 -09aAbBz\xE4", 11};
    for (int round = 0; round < 300; ++round) {
        const std::string shared = [&] {
            std::string s;
            for (int n = std::uniform_int_distribution<int>(0, 12)(rng); n > 0; --n)
                s += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
            return s;
        }();
        Lines listing;
        for (int n = std::uniform_int_distribution<int>(0, 40)(rng); n > 0; --n) {
            std::string line =
                shared.substr(0, std::uniform_int_distribution<std::size_t>(0, shared.size())(rng));
            for (int k = std::uniform_int_distribution<int>(0, 11)(rng); k > 0; --k)
                line +=
                    alphabet[std::uniform_int_distribution<std::size_t>(0, 3)(rng) == 0
                                 ? 0
                                 : std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
            listing.push_back(line);
            if (std::uniform_int_distribution<int>(0, 5)(rng) == 0)
                listing.push_back(line); // the same line twice
        }
        std::vector<std::size_t> order(listing.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return fold(listing[a]) < fold(listing[b]); });
        const std::vector<GridRow> rows = gridRows(listing);
        ASSERT_EQ(rows.size(), listing.size() + 1);
        for (std::size_t i = 0; i < order.size(); ++i)
            ASSERT_EQ(rows[i + 1], gridRow(listing[order[i]])) << "round " << round << ", row " << i;
    }
}

TEST(GridRows, LettersWithoutACasePartnerKeepTheirPlace) {
    const char* const listed[] = {"\xFF", "\xDF", "\xE0", "\xDE", "\xD7", "\xBF", "ss", "\xC0"};
    Lines listing;
    for (const char* name : listed)
        listing.push_back(std::string("-rw 1 a b 1 Dec 9 12:30 ") + name);
    const std::vector<GridRow> rows = gridRows(listing);
    std::vector<std::string> names;
    for (std::size_t i = 1; i < rows.size(); ++i)
        names.emplace_back(rows[i][ColName]);
    // By key: ss, ¿ (BF), × (D7), ß (DF), À and à (E0, in listing order), Þ (FE), ÿ (FF).
    EXPECT_EQ(names,
              (std::vector<std::string>{"ss", "\xBF", "\xD7", "\xDF", "\xE0", "\xC0", "\xDE", "\xFF"}));
}

TEST(TransferType, AsciiOnlyForTheStorefrontsDataAndScriptExtensions) {
    const std::pair<const char*, const char*> cases[] = {
        {"prices.db", "TYPE A"},     {"index.pl", "TYPE A"},
        {"order.cgi", "TYPE A"},     {"notes.txt", "TYPE A"},
        {"txt", "TYPE A"},           {"db", "TYPE A"},
        {"logo.JPG", "TYPE I"},      {"notes.TXT", "TYPE I"},
        {"backup.db.old", "TYPE I"}, {"archive.tar.db", "TYPE I"},
        {"Makefile", "TYPE I"},      {"", "TYPE I"},
        {".db", "TYPE A"},           {"name.", "TYPE I"}};
    for (const auto& [name, type] : cases)
        EXPECT_EQ(typeCommandFor(name), type) << name;
}

TEST(DownloadNames, OnlyPlainNamesMayBecomeLocalFiles) {
    for (const char* ok : {"prices.db", "my file.db", "M\xFCller.txt", "-dash", "a.b.c"})
        EXPECT_TRUE(isSafeLocalName(ok)) << ok;
    for (const char* bad : {"", ".", "..", "../evil", "a/b", "sub\\file", "x..y", "/etc/passwd", "tab\tname",
                            "line\nbreak", "del\x7F"})
        EXPECT_FALSE(isSafeLocalName(bad)) << bad;
    // Every control character, the highest (unit separator) included, alone or inside a name.
    for (int c = 0x01; c < 0x20; ++c) {
        const std::string inside = "a" + std::string(1, static_cast<char>(c)) + "b.db";
        EXPECT_FALSE(isSafeLocalName(inside)) << "control character " << c;
        EXPECT_FALSE(isSafeLocalName(std::string(1, static_cast<char>(c)))) << "control character " << c;
    }
    EXPECT_FALSE(isSafeLocalName(std::string("a\0b", 3)));
}

// The local name is UTF-8: one Windows-1252 byte can take two (ä) or three (€) bytes there.
TEST(DownloadNames, TheLengthLimitCountsTheLocalUtf8Bytes) {
    const struct {
        std::string name;
        std::size_t max;
        bool fits;
    } cases[] = {
        {std::string(255, 'a'), 255, true},
        {std::string(256, 'a'), 255, false},
        {std::string(127, '\xE4'), 255, true},
        {std::string(128, '\xE4'), 255, false},
        {std::string(85, '\x80'), 255, true},
        {std::string(86, '\x80'), 255, false},
        {"\xE4" + std::string(253, 'a'), 255, true},
        {"\x80" + std::string(253, 'a'), 255, false},
        {"kurz.db", 7, true},
        {"kurz.db", 6, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fitsLocalNameMax(c.name, c.max), c.fits) << c.name.size() << " bytes, limit " << c.max;
}

TEST(Permissions, TheWordTicksTheBoxes) {
    using Bits = std::array<bool, 9>;
    const struct {
        const char* word;
        std::optional<Bits> bits;
    } cases[] = {
        {"-rwxr-xr-- ", Bits{true, true, true, true, false, true, true, false, false}},
        {"drwxr-xr-x", Bits{true, true, true, true, false, true, true, false, true}},
        {"-r--r--r-- ", Bits{true, false, false, true, false, false, true, false, false}},
        {"----------", Bits{}},
        {"-rwsr-Sr-t ", Bits{true, true, true, true, false, false, true, false, true}},
        {"-rw-r--r--+ ", Bits{true, true, false, true, false, false, true, false, false}},
        {"-------r-T", Bits{false, false, false, false, false, false, true, false, false}},
        {"total ", std::nullopt},
        {"", std::nullopt},
        {"-rwxr-xr-", std::nullopt},
        {"-rwxr-xr-xx", std::nullopt},
        {"-wrxr-xr-x", std::nullopt},
        {"-rwxr-xr-q", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(permissionBits(c.word), c.bits) << "'" << c.word << "'";
}

} // namespace
