#include "datafiles/articlefile.h"
#include "datafiles/fieldcheck.h"
#include "platform/errors.h"
#include "tests/datafiles/line_texts.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace velmo;
using namespace velmo::test;
using namespace std::string_literals;
using namespace velmo::datafiles;
namespace af = velmo::datafiles::articlefield;

namespace {

const std::string kHeader = "Artikel-Nr;;Katalog-ID;;Hersteller;;Lieferant;;Warengruppe;;Bezeichnung;;Preis;;"
                            "Gewicht;;Bestand;;Beschreibung;;Angeb.Preis;;thumb;;picture;;Hersteller-URL";

ArticleValues values(std::initializer_list<std::string> v) {
    ArticleValues a;
    std::size_t i = 0;
    for (const auto& s : v)
        a[i++] = s;
    return a;
}

} // namespace

TEST(ArticleFormat, HeaderAndFieldLengths) {
    EXPECT_EQ(articleHeaderLine(), kHeader);
    std::vector<int> lengths;
    lengths.reserve(kArticleFields.size());
    for (const auto& f : kArticleFields)
        lengths.push_back(f.maxLength);
    EXPECT_EQ(lengths, (std::vector<int>{20, 40, 50, 50, 40, 100, 20, 20, 12, 512, 20, 20, 20, 100}));
}

TEST(ArticleFormat, SplitLine) {
    struct Case {
        std::string line;
        ArticleValues expected;
    };
    const std::vector<Case> cases = {
        {"1;;K;;H;;L;;W;;B;;12,50;;100;;5;;Text;;9,90;;t.jpg;;p.jpg;;http://h.de",
         values({"1", "K", "H", "L", "W", "B", "12,50", "100", "5", "Text", "9,90", "t.jpg", "p.jpg",
                 "http://h.de"})},
        // More than 13 separators: the rest, separators included, is the last field.
        {"1;;2;;3;;4;;5;;6;;7;;8;;9;;10;;11;;12;;13;;http://x;;y;;",
         values({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "http://x;;y;;"})},
        // Only 9 separators: ten values, the last four empty.
        {"1;;2;;3;;4;;5;;6;;7;;8;;9;;10", values({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"})},
        {"", ArticleValues{}},
        {"nur eins", values({"nur eins"})},
        {"a;;", values({"a", ""})},
        {";;;", values({"", ";"})}, // a lone ";" after a separator is text of the next field
        {"a;;;;b", values({"a", "", "b"})},
        {"a; ;b", values({"a; ;b"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(splitArticleLine(c.line), c.expected);
    }
    // Thirteen separators always come out, whatever was read.
    EXPECT_EQ(joinArticleLine(ArticleValues{}), ";;;;;;;;;;;;;;;;;;;;;;;;;;");
}

TEST(ArticleFormat, PriceRule) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"12,50", "12.50"}, {"12.50", "12.50"},       {"12", "12"}, {"", ""}, {"1,2,3", "1.2,3"},
        {",5", ".5"},       {"1.234,50", "1.234.50"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(priceForSave(in), out) << in;
}

TEST(ArticleFile, SaveChangesOnlyThePriceComma) {
    std::vector<ArticleValues> articles = {
        values({"1", "", "", "", "", "Tasse", "12,50", "", "", "", "9,90"}),
        values({"2", "", "", "", "", "Kanne", "12.50", "", "", "", "9.90"}),
        values({"3", "", "", "", "", "Teller", "", "", "", "", ""}),
    };
    const Lines lines = articleFileLines("Kopf", articles);
    EXPECT_EQ(lines,
              (Lines{"Kopf", "1;;;;;;;;;;Tasse;;12.50;;;;;;;;9,90;;;;;;",
                     "2;;;;;;;;;;Kanne;;12.50;;;;;;;;9.90;;;;;;", "3;;;;;;;;;;Teller;;;;;;;;;;;;;;;;"}));
    // The converted price is what the table holds afterwards; the offer price is as entered.
    EXPECT_EQ(articles[0][af::Preis], "12.50");
    EXPECT_EQ(articles[0][af::AngebPreis], "9,90");
}

// A real file read and saved without changes: it differs only in the price comma, in lines that had
// fewer than 13 separators, and in the line breaks.
TEST(ArticleFile, ReadAndSavedUnchanged) {
    TempDir dir;
    const std::string path = dir.file("k\xFC"
                                      "chen.db");
    const std::string in =
        "Nr;;Name;;eigener Kopf\r\n" // kept
        "A-1;;K1;;M\xFCller;;Lief;;Becher;;Tasse gro\xDF;;12,50;;250;;7;;Sch\xF6n;;9,90;;t.jpg;;p.jpg;;"
        "http://m.de\n"                                // price comma, LF
        "A-2;;K1;;H;;L;;W;;B;;3.20;;1;;2;;D;;;;;;;;\r" // lone CR
        "A-3;;;;;;;;;;;;;;;;;;;;;;;;;;x;;y\r\n"        // extra separators
        "A-4;;2;;3;;4;;5;;6;;7;;8;;9;;10\r\n"          // only 9 separators
        "\r\n"                                         // empty line
        "A-5;;;;;;;;;;;;1,2,3;;;;;;;;;;;;;;";          // no final break
    const std::string out =
        "Nr;;Name;;eigener Kopf\r\n"
        "A-1;;K1;;M\xFCller;;Lief;;Becher;;Tasse gro\xDF;;12.50;;250;;7;;Sch\xF6n;;9,90;;t.jpg;;p.jpg;;"
        "http://m.de\r\n"
        "A-2;;K1;;H;;L;;W;;B;;3.20;;1;;2;;D;;;;;;;;\r\n"
        "A-3;;;;;;;;;;;;;;;;;;;;;;;;;;x;;y\r\n"
        "A-4;;2;;3;;4;;5;;6;;7;;8;;9;;10;;;;;;;;\r\n"
        ";;;;;;;;;;;;;;;;;;;;;;;;;;\r\n"
        "A-5;;;;;;;;;;;;1.2,3;;;;;;;;;;;;;;\r\n";
    writeBytes(path, in);
    ArticleFile file = loadArticleFile(path);
    EXPECT_EQ(file.header, "Nr;;Name;;eigener Kopf");
    ASSERT_EQ(file.articles.size(), 6u);
    EXPECT_EQ(file.articles[2][af::HerstellerURL], "x;;y");
    saveArticleFile(path, file.header, file.articles);
    EXPECT_EQ(readBytes(path), out);
    // A second round changes only a price that still holds a comma.
    ArticleFile again = loadArticleFile(path);
    saveArticleFile(path, again.header, again.articles);
    std::string twice = out;
    twice.replace(twice.find("1.2,3"), 5, "1.2.3");
    EXPECT_EQ(readBytes(path), twice);
}

TEST(ArticleFile, MissingFileIsCreatedWithTheHeaderAlone) {
    TempDir dir;
    const std::string path = dir.file("kerzen.db");
    ArticleFile file = loadArticleFile(path);
    EXPECT_EQ(readBytes(path), kHeader + "\r\n");
    EXPECT_EQ(file.header, kHeader);
    EXPECT_TRUE(file.articles.empty());
}

TEST(ArticleFile, EmptyFileGetsTheStandardHeader) {
    TempDir dir;
    const std::string path = dir.file("leer.db");
    writeBytes(path, "");
    ArticleFile file = loadArticleFile(path);
    EXPECT_EQ(file.header, kHeader);
    EXPECT_TRUE(file.articles.empty());
    file.articles.push_back(values({"1"}));
    saveArticleFile(path, file.header, file.articles);
    EXPECT_EQ(readBytes(path), kHeader + "\r\n1;;;;;;;;;;;;;;;;;;;;;;;;;;\r\n");
    // An empty first line is a header as read, and stays.
    writeBytes(path, "\r\n2\r\n");
    EXPECT_EQ(loadArticleFile(path).header, "");
}

TEST(ArticleFile, FileErrorsNameThePath) {
    TempDir dir;
    const std::string path = dir.file("fehlt/kerzen.db");
    try {
        loadArticleFile(path);
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht erstellt werden");
    }
    std::vector<ArticleValues> articles = {values({"1"})};
    try {
        saveArticleFile(path, kHeader, articles);
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht erstellt werden");
    }
    // A directory where the file should be cannot be read.
    const std::string asDir = dir.file("ordner.db");
    std::filesystem::create_directory(asDir);
    try {
        loadArticleFile(asDir);
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Datei " + asDir + " kann nicht geöffnet werden");
    }
}

TEST(ArticleFile, ValuesThatWouldBreakTheLineAreRefused) {
    TempDir dir;
    const std::string path = dir.file("kerzen.db");
    const std::string old = kHeader + "\r\nalt\r\n";
    struct Case {
        std::size_t field;
        std::string value;
        std::string message;
    };
    const std::vector<Case> cases = {
        {af::Hersteller, "A;;B", "Das Feld 'Hersteller' darf die Zeichenfolge ';;' nicht enthalten."},
        {af::Beschreibung, "Zeile 1\nZeile 2",
         "Das Feld 'Beschreibung' darf keinen Zeilenumbruch enthalten."},
        {af::HerstellerURL, "http://x\r", "Das Feld 'Hersteller-URL' darf keinen Zeilenumbruch enthalten."},
        {af::ArtikelNr, "12;", "Das Feld 'Artikel-Nr' darf nicht mit einem Semikolon (;) enden."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        writeBytes(path, old);
        std::vector<ArticleValues> articles = {values({"1", "", "", "", "", "", "12,50"}), ArticleValues{}};
        articles[1][c.field] = c.value;
        try {
            saveArticleFile(path, kHeader, articles);
            FAIL() << "no error";
        } catch (const EFieldFormatError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(readBytes(path), old);
        EXPECT_EQ(articles[0][af::Preis], "12,50") << "a refused save changes no article";
    }
    std::vector<ArticleValues> articles = {ArticleValues{}};
    EXPECT_THROW(saveArticleFile(path, "Kopf\r\nZwei", articles), EFieldFormatError);

    // The last field may keep the separators it was read with, and a final ";" there is harmless.
    articles[0][af::HerstellerURL] = "x;;y;";
    saveArticleFile(path, kHeader, articles);
    EXPECT_EQ(loadArticleFile(path).articles.at(0)[af::HerstellerURL], "x;;y;");
}

TEST(ArticleFile, EveryByteSurvivesReadAndWrite) {
    TempDir dir;
    const std::string path = dir.file("bytes.db");
    const std::string all = allBytesButLineBreaks();
    // A lone ";" inside a value is text; the price field is left out (its comma is converted).
    ArticleValues a;
    for (std::size_t i = 0; i < kArticleFieldCount; ++i)
        a[i] = i == af::Preis ? "1.00" : all;
    const std::string line = joinArticleLine(a);
    writeBytes(path, all + "\r\n" + line + "\r\n");
    ArticleFile file = loadArticleFile(path);
    EXPECT_EQ(file.header, all);
    ASSERT_EQ(file.articles.size(), 1u);
    EXPECT_EQ(file.articles[0], a);
    saveArticleFile(path, file.header, file.articles);
    EXPECT_EQ(readBytes(path), all + "\r\n" + line + "\r\n");
}

TEST(ArticleFile, MessyInput) {
    TempDir dir;
    const std::string path = dir.file("messy.db");
    const std::string mb(1 << 20, 'z');
    // NUL bytes, lone CRs between lines, an empty line, a line of 2 MB.
    writeBytes(path, "H\r1;;\0\0;;x\r2;;b\r\n\r\n"s + mb + ";;" + mb);
    ArticleFile file = loadArticleFile(path);
    ASSERT_EQ(file.articles.size(), 4u);
    EXPECT_EQ(file.articles[0][af::KatalogID], std::string("\0\0", 2));
    EXPECT_EQ(file.articles[1][af::KatalogID], "b");
    EXPECT_EQ(file.articles[2], ArticleValues{});
    EXPECT_EQ(file.articles[3][af::ArtikelNr], mb);
    EXPECT_EQ(file.articles[3][af::KatalogID], mb);
    saveArticleFile(path, file.header, file.articles);
    ArticleFile back = loadArticleFile(path);
    EXPECT_EQ(back.header, "H");
    EXPECT_EQ(back.articles, file.articles);
}

// The one-buffer form of a save must give the bytes of the line-list form, on lines that stress the
// price rule, the separators and every byte value.
TEST(ArticleFile, BufferedLinesAreTheBytesOfTheLineList) {
    const std::string all = allBytesButLineBreaks();
    const std::string noSeparator = [&] {
        std::string s;
        for (char c : all) {
            if (c != ';')
                s += c;
        }
        return s;
    }();
    std::vector<ArticleValues> articles = {
        values({}),
        values({"1", "", "", "", "", "", "1,2,3"}),
        values({"2", "", "", "", "", "", ","}),
        values({"3", "", "", "", "", "", ",50", "", "", "", "9,90"}),
        values({"4", "", "", "", "", "", "12.50,"}),
        values({";4", "a;b", "", "", "", "x", "", "", "", "", "", "", "", "http://a;;b;"}),
        values({"5", "K\0Z"s, "", "", "", std::string(150, 'b'), "7,0", "", "", std::string(600, 'd')}),
        values({noSeparator, "", "", "", "", "", noSeparator, "", "", "", "", "", "", all}),
    };
    std::vector<ArticleValues> copy = articles;
    const std::string expected = joinLines(articleFileLines(kHeader, copy));

    std::string bytes = articleHeaderBytes(kHeader);
    for (const ArticleValues& a : articles) {
        ArticleViews views;
        for (std::size_t f = 0; f < kArticleFieldCount; ++f)
            views[f] = a[f];
        appendArticleLine(bytes, views);
    }
    EXPECT_EQ(bytes, expected);
    EXPECT_THROW(articleHeaderBytes("Kopf\nZwei"), EFieldFormatError);
    EXPECT_THROW(articleHeaderBytes("Kopf\r"), EFieldFormatError);
}
