// The article list's document over a record table: loading, saving in insertion order, the prices
// written back, values that would break a line, without any window.
#include "catalog/core/articledocument.h"
#include "memtable/memtable.h"
#include "platform/linefile.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <utility>
#include <vector>

using namespace velmo;
using namespace velmo::test;
using datafiles::ArticleValues;

namespace {

std::string line(std::initializer_list<std::string> fields) {
    ArticleValues v;
    std::size_t i = 0;
    for (const std::string& f : fields)
        v[i++] = f;
    return datafiles::joinArticleLine(v);
}

const std::string kHeader = datafiles::articleHeaderLine();

struct ArticleDocumentTest : ::testing::Test {
    TempDir dir;
    MemTable table;
    ArticleDocument doc{table};

    std::string path() const { return dir.file("kerzen.db"); }
    std::string current(const char* field) { return table.fieldByName(field).asString(); }
    void load(const std::string& bytes) {
        writeBytes(path(), bytes);
        doc.load(path());
    }
};

TEST_F(ArticleDocumentTest, LoadFillsTheTableInArticleNumberOrderWithTheLastArticleCurrent) {
    EXPECT_FALSE(table.Active());
    load(kHeader + "\r\n" + line({"K-2", "", "Zeller"}) + "\r\n" + line({"K-3", "", "M\374ller"}) + "\r\n" +
         line({"K-1", "", "Albrecht"}) + "\r\n");
    EXPECT_TRUE(doc.isLoaded());
    EXPECT_EQ(doc.path(), path());
    EXPECT_TRUE(doc.saved());
    EXPECT_EQ(table.RecordCount(), 3);
    EXPECT_EQ(table.IndexName(), "ArtikelNr");
    EXPECT_EQ(current("ArtikelNr"), "K-1");
    table.First();
    EXPECT_EQ(current("Hersteller"), "Albrecht");
}

TEST_F(ArticleDocumentTest, SaveWritesInsertionOrderAndStoresThePricesBack) {
    load(kHeader + "\r\n" + line({"K-2", "", "Zeller", "", "", "", "12,50", "", "", "", "9,90"}) + "\r\n" +
         line({"K-1", "", "Albrecht", "", "", "", "4,5"}) + "\r\n");
    table.setIndexName("Hersteller");
    table.SyncIndexes();
    table.First(); // Albrecht
    table.AppendValues({"K-0"});
    table.setIndexName("Hersteller");
    table.SyncIndexes();
    table.Last(); // Zeller
    const RecordId zeller = table.currentRecord();

    doc.save();
    EXPECT_EQ(readBytes(path()), kHeader + "\r\n" +
                                     line({"K-2", "", "Zeller", "", "", "", "12.50", "", "", "", "9,90"}) +
                                     "\r\n" + line({"K-1", "", "Albrecht", "", "", "", "4.5"}) + "\r\n" +
                                     line({"K-0"}) + "\r\n");
    // The table shows the prices as written, in the order and on the article it showed before.
    EXPECT_EQ(table.IndexName(), "Hersteller");
    EXPECT_EQ(table.currentRecord(), zeller);
    EXPECT_EQ(current("Preis"), "12.50");
    EXPECT_EQ(current("AngebPreis"), "9,90");
}

TEST_F(ArticleDocumentTest, AValueThatWouldBreakItsLineStopsTheSaveOnThatArticle) {
    const std::string bytes = kHeader + "\r\n" +
                              line({"K-1", "", "", "", "", "", "1", "", "", "", "", "", "", "http://a;;b"}) +
                              "\r\n" + line({"K-2"}) + "\r\n" + line({"K-3"}) + "\r\n";
    load(bytes);
    // The last field may keep the ";;" it was read with: it reads back the same.
    doc.save();
    EXPECT_EQ(readBytes(path()), bytes);

    table.setIndexName("");
    table.SyncIndexes();
    table.First();
    table.Next(); // K-2
    table.Edit();
    table.fieldByName("Bezeichnung").setAsString("rot;;blau");
    table.Post();
    table.First();
    try {
        doc.save();
        FAIL() << "saved a line with a separator in a field";
    } catch (const datafiles::EFieldFormatError& e) {
        EXPECT_STREQ(e.what(),
                     "Das Feld 'Bezeichnung' darf die Zeichenfolge ';;' nicht enthalten. Der Artikel "
                     "ist in der Liste ausgewählt. Die Artikeldatei wurde nicht gespeichert.");
    }
    EXPECT_EQ(current("ArtikelNr"), "K-2");
    EXPECT_EQ(readBytes(path()), bytes);
}

TEST_F(ArticleDocumentTest, AFileThatCannotBeReadKeepsWhatWasLoadedAndUnloadForgetsIt) {
    load(kHeader + "\r\n" + line({"K-1"}) + "\r\n");
    ASSERT_EQ(::mkdir(dir.file("kaputt.db").c_str(), 0755), 0); // exists, cannot be read as a file
    EXPECT_THROW(doc.load(dir.file("kaputt.db")), Exception);
    EXPECT_EQ(doc.path(), path());
    EXPECT_EQ(table.RecordCount(), 1);

    doc.markChanged();
    doc.unload();
    EXPECT_FALSE(doc.isLoaded());
    EXPECT_TRUE(doc.saved());
    EXPECT_EQ(table.RecordCount(), 0);
    doc.save(); // nothing loaded: nothing written anywhere
    EXPECT_EQ(readBytes(path()), kHeader + "\r\n" + line({"K-1"}) + "\r\n");
}

// The table holds at most a field's length and stops at a NUL; what the file held beyond that must
// survive saving the catalog, while a value the owner changed is written as changed.
TEST_F(ArticleDocumentTest, ValuesLongerThanTheirFieldSurviveASaveOfOtherArticles) {
    const std::string full = line({"L-1", std::string("KZ\0Rest", 7), "", "", "", std::string(150, 'b'),
                                   "1.00", "", "", std::string(600, 'd'), "", "thumbnail_0001_klein.jpg",
                                   "bild_0001_gross_rot.jpg", std::string(3 << 20, 'u')});
    const std::string other = line({"L-2", "", "", "", "", "Kurz"});
    load(kHeader + "\r\n" + full + "\r\n" + other + "\r\n");
    table.First();
    EXPECT_EQ(current("thumb"), "thumbnail_0001_klein"); // the grid shows what the field holds
    doc.save();
    EXPECT_EQ(readBytes(path()), kHeader + "\r\n" + full + "\r\n" + other + "\r\n");

    // Changed in the table: written as it now is; the other long values stay whole.
    table.First();
    table.Edit();
    table.fieldByName("thumb").setAsString("neu.jpg");
    table.Post();
    doc.save();
    std::string changed = full;
    changed.replace(changed.find("thumbnail_0001_klein.jpg"), 24, "neu.jpg");
    EXPECT_EQ(readBytes(path()), kHeader + "\r\n" + changed + "\r\n" + other + "\r\n");

    // A deleted article's values do not come back in the article that takes its number, even where
    // it holds what the table held of them.
    table.First();
    doc.deleteCurrent();
    EXPECT_FALSE(doc.saved());
    const std::string typed(100, 'b');
    table.AppendValues({"L-3", "", "", "", "", typed});
    doc.save();
    EXPECT_EQ(readBytes(path()),
              kHeader + "\r\n" + other + "\r\n" + line({"L-3", "", "", "", "", typed}) + "\r\n");
}

// A save writes what the line-list writer writes for the same articles, on awkward rows, and tells
// its progress up to the end.
TEST_F(ArticleDocumentTest, SaveWritesTheBytesOfTheLineListWriter) {
    std::string awkward;
    for (int b = 0x80; b < 0x100; ++b)
        awkward += static_cast<char>(b);
    const std::vector<std::string> lines = {
        line({}),
        line({"K-1", "", "M\374ller;", "", "", "", "1,2,3", "", "", "", "9,90"}),
        line({"K-2", "", "", "", "", "", ",", "", "", "", ","}),
        line({"K-3", std::string("KZ\0Rest", 7), "", "", "", std::string(130, 'b'), "12,5", "", "", "", "",
              "", "", "http://x;;y;"}),
        line({"K-4", awkward, awkward, "", "", awkward, std::string(25, '9') + ",99"}),
        "K-5;;nur;;drei",
        "K-6;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;",
    };
    std::string bytes = kHeader + "\r\n";
    for (const std::string& l : lines)
        bytes += l + "\n";
    load(bytes);
    datafiles::ArticleFile file = datafiles::parseArticleFile(splitLines(bytes));
    const std::string expected = joinLines(datafiles::articleFileLines(file.header, file.articles));

    std::vector<std::pair<std::size_t, std::size_t>> told;
    doc.save([&](std::size_t done, std::size_t total) { told.emplace_back(done, total); });
    EXPECT_EQ(readBytes(path()), expected);
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back(), std::make_pair(lines.size(), lines.size()));
    for (std::size_t i = 1; i < told.size(); ++i)
        EXPECT_LE(told[i - 1].first, told[i].first);

    // Saved again, it is what the line-list writer makes of the file as it now is: the table holds the
    // prices as they were written (a second comma is converted by the next save).
    file = datafiles::parseArticleFile(splitLines(expected));
    const std::string again = joinLines(datafiles::articleFileLines(file.header, file.articles));
    ASSERT_NE(again, expected);
    doc.save();
    EXPECT_EQ(readBytes(path()), again);
}

} // namespace
