// The browser's listing and name rules without any widget: grid cells word by word, the sorted rows,
// the transfer type per name and the names that may become local files.
#include "ftpbrowser/listing.h"

#include <gtest/gtest.h>

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
        names.push_back(r[ColName]);
    // Whole lines compare, so the permissions decide first; equal lines keep their listing order.
    EXPECT_EQ(names,
              (std::vector<std::string>{"..", "beta", "Beta", "zeta", "\xC4pfel", "\xE4pfel", "Alpha", "3"}));
    EXPECT_TRUE(isDirectory(rows[0]));
    EXPECT_TRUE(isDirectory(rows[6]));
    EXPECT_EQ(rows[0][ColPerms], "");
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
}

} // namespace
