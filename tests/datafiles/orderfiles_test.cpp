#include "datafiles/orderfiles.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>

using namespace velmo;
using namespace velmo::test;
using namespace velmo::datafiles;

namespace {

// A local kunden.db line as the fetch leaves it: the server's 12 fields and ";;0".
std::string localOrder(const std::string& date, const std::string& nr, const std::string& versand = "4.50",
                       const std::string& status = "0") {
    return date + ";;" + nr + ";;Anna Müller;;Firma;;Weg 1;;12345 Ort;;D;;0123;;;;a@b.de;;Nachnahme;;" +
           versand + ";;" + status;
}

TEST(OrderFiles, CutFieldsKeepsSeparatorsInTheRest) {
    struct Case {
        std::string line;
        std::size_t k;
        std::optional<std::vector<std::string>> fields;
    } cases[] = {
        {"a;;b;;c", 2, std::vector<std::string>{"a", "b", "c"}},
        {"a;;b;;c;;d", 2, std::vector<std::string>{"a", "b", "c;;d"}},
        {"a;b;;;;", 2, std::vector<std::string>{"a;b", "", ""}},
        {";;;", 1, std::vector<std::string>{"", ";"}},
        {"a;;b", 2, std::nullopt},
        {"", 1, std::nullopt},
        {"", 0, std::vector<std::string>{""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cutFields(c.line, c.k), c.fields) << c.line;
}

// A position line cut in place gives the fields cutFields copies out, on lines made of little but
// separators, single semicolons and their neighbours.
TEST(OrderFiles, PositionViewCutsAsCutFields) {
    std::mt19937 rng(77);
    const char alphabet[] = {';', ';', ';', 'a', 'b', ' '};
    for (int round = 0; round < 5000; ++round) {
        std::string line;
        const std::size_t length = rng() % 30;
        for (std::size_t i = 0; i < length; ++i)
            line += alphabet[rng() % sizeof alphabet];
        const auto fields = cutFields(line, kPositionCuts);
        PositionView view;
        ASSERT_EQ(viewPositionLine(line, view), fields.has_value()) << line;
        if (!fields)
            continue;
        const std::vector<std::string> got = {std::string(view.BestellNr), std::string(view.menge),
                                              std::string(view.ArtikelNr), std::string(view.Bezeichnung),
                                              std::string(view.Preis)};
        const std::vector<std::string> want = {(*fields)[0], (*fields)[2], (*fields)[3], (*fields)[4],
                                               (*fields)[5]};
        ASSERT_EQ(got, want) << line;
    }
}

TEST(OrderFiles, OrderLineReadingRules) {
    const std::optional<OrderRecord> o = parseOrderLine(localOrder("03.02.2024-14:22 Uhr", "B-17", "4.50"));
    ASSERT_TRUE(o);
    EXPECT_EQ(german::dateTimeToStr(*o->Datum), "03.02.2024");
    EXPECT_EQ(o->BestellNr, "B-17");
    EXPECT_EQ(o->Name, "Anna Müller");
    EXPECT_EQ(o->Fax, "");
    EXPECT_EQ(o->Versand, "4,50");
    EXPECT_EQ(o->status, "0");

    // Only the first point changes; a comma stays; the status field keeps any further ";;".
    EXPECT_EQ(parseOrderLine(localOrder("1.1.2024", "1", "1.234.5"))->Versand, "1,234.5");
    EXPECT_EQ(parseOrderLine(localOrder("1.1.2024", "1", "3,20"))->Versand, "3,20");
    EXPECT_EQ(parseOrderLine(localOrder("1.1.2024", "1", "0", "1;;x"))->status, "1;;x");
    EXPECT_FALSE(parseOrderLine(localOrder("", "7"))->Datum);
    EXPECT_EQ(parseOrderLine(localOrder("5.6.2024 13:05", "7"))->Datum,
              german::encodeDateTime(2024, 6, 5, 13, 5));

    // The server's line without the status field is short for the local reading.
    EXPECT_FALSE(parseOrderLine("1.1.2024;;1;;a;;b;;c;;d;;e;;f;;g;;h;;i;;j"));
    EXPECT_THROW(parseOrderLine(localOrder("31.02.2024", "1")), EConvertError);
    try {
        parseOrderLine(localOrder("morgen-früh", "1"));
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'morgen' ist keine gültige Datums- und Uhrzeitangabe");
    }
}

TEST(OrderFiles, WrittenLineReadsBackAndDropsTheDashText) {
    OrderRecord o = *parseOrderLine(localOrder("03.02.2024-abends", "42"));
    EXPECT_EQ(orderLine(o), localOrder("03.02.2024", "42", "4,50"));
    o.Datum = german::encodeDateTime(2024, 2, 3, 9, 30, 15);
    EXPECT_EQ(orderLine(o).substr(0, 21), "03.02.2024 09:30:15;;");
    o.Datum.reset();
    EXPECT_EQ(orderLine(o).substr(0, 4), ";;42");
    EXPECT_FALSE(parseOrderLine(orderLine(o))->Datum);
}

TEST(OrderFiles, PositionsOfOneOrAllOrders) {
    const Lines lines = {
        "7;;x;;2;;A-1;;Kerze rot;;12.5;;0",
        "7;;x;;1;;;;Versandpauschale;;3.00;;0", // no article number: no position
        "7 ;;x;;1;;A-2;;Blank im Schlüssel;;1;;0",    "8;;x;;3;;A-1;;Kerze rot;;1.234.5;;mehr;;0",
        "70;;x;;1;;A-3;;Nummer mit Präfix 7;;2,5;;0",
    };
    const std::vector<Position> all = parsePositions(lines);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].menge, "2");
    EXPECT_EQ(all[0].Preis, "12,5");
    EXPECT_EQ(all[2].Preis, "1,234.5");
    EXPECT_EQ(all[3].Preis, "2,5");

    const std::vector<Position> seven = parsePositions(lines, std::string_view("7"));
    ASSERT_EQ(seven.size(), 1u);
    EXPECT_EQ(seven[0].ArtikelNr, "A-1");
    EXPECT_EQ(seven[0].Bezeichnung, "Kerze rot");
    EXPECT_TRUE(parsePositions(lines, std::string_view("9")).empty());
}

// The index finds for each order exactly what a scan of all lines finds.
TEST(OrderFiles, IndexedPositionsMatchTheScan) {
    const Lines lines = {
        "7;;x;;2;;A-1;;Kerze rot;;12.5;;0",
        "7;;x;;1;;;;Versandpauschale;;3.00;;0",
        "7 ;;x;;1;;A-2;;Blank im Schlüssel;;1;;0",
        "8;;x;;3;;A-1;;Kerze rot;;1.234.5;;mehr;;0",
        "70;;x;;1;;A-3;;Nummer mit Präfix 7;;2,5;;0",
        "7;;x;;5;;A-0;;zuletzt;;1;;0",
        "",
    };
    const PositionIndex index(lines);
    for (const std::string nr : {"7", "7 ", "8", "70", "9", ""}) {
        SCOPED_TRACE("order '" + nr + "'");
        std::vector<Position> scanned, indexed;
        std::string scanError, indexError;
        try {
            scanned = parsePositions(lines, std::string_view(nr));
        } catch (const EOrderLineError& e) {
            scanError = e.what();
        }
        try {
            indexed = indexedPositions(lines, index, nr);
        } catch (const EOrderLineError& e) {
            indexError = e.what();
        }
        EXPECT_EQ(indexError, scanError);
        ASSERT_EQ(indexed.size(), scanned.size());
        for (std::size_t i = 0; i < indexed.size(); ++i) {
            EXPECT_EQ(indexed[i].ArtikelNr, scanned[i].ArtikelNr);
            EXPECT_EQ(indexed[i].Preis, scanned[i].Preis);
        }
    }
    EXPECT_EQ(index.linesOf("7"), (std::vector<std::uint32_t>{0, 1, 5}));
}

TEST(OrderFiles, OrderFieldsAreTheTableTexts) {
    const auto fields = orderFields(localOrder("03.04.2024-12:00 Uhr", "42", "4.50", "1;;x"));
    ASSERT_TRUE(fields);
    ASSERT_EQ(fields->size(), 13u);
    EXPECT_EQ((*fields)[0], "03.04.2024");
    EXPECT_EQ((*fields)[11], "4,50");
    EXPECT_EQ((*fields)[12], "1;;x");
    EXPECT_FALSE(orderFields("1.1.2024;;1"));
}

TEST(OrderFiles, ShortLinesAreReportedWithTheirNumber) {
    const std::string good = localOrder("1.1.2024", "1");
    struct Case {
        Lines lines;
        bool positions;
        std::string message;
    } cases[] = {
        // Blank lines are passed over, but still count.
        {{good, "", " \t", "1;;2;;3"},
         false,
         "Zeile 4 in kunden.db ist unvollständig: sie hat weniger als 12 Trennzeichen \";;\""},
        {{good, good, "1;;2;;3"},
         false,
         "Zeile 3 in kunden.db ist unvollständig: sie hat weniger als 12 Trennzeichen \";;\""},
        {{"1;;x;;1;;A;;B;;2;;0", "", "1;;x;;1;;A;;B"},
         true,
         "Zeile 3 in bestellungen.db ist unvollständig: sie hat weniger als 6 Trennzeichen \";;\""},
    };
    for (const Case& c : cases) {
        try {
            c.positions ? (void)parsePositions(c.lines) : (void)parseOrders(c.lines);
            ADD_FAILURE() << c.message;
        } catch (const EOrderLineError& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
    // A short line of another order does not stop the reading of one order.
    EXPECT_EQ(parsePositions({"2;;x", "1;;x;;1;;A;;B;;2;;0"}, std::string_view("1")).size(), 1u);
}

TEST(OrderFiles, MissingFileIsCreatedEmptyAndSavedOrdersReadBack) {
    TempDir dir;
    const std::string path = dir.file(kOrderFile);
    EXPECT_TRUE(loadOrderFile(path).empty());
    EXPECT_TRUE(fileExists(path));

    std::vector<OrderRecord> orders = parseOrders({localOrder("2.1.2024", "2"), localOrder("1.1.2024", "1")});
    orders[1].status = "1";
    saveOrders(path, orders);
    EXPECT_EQ(readBytes(path), localOrder("02.01.2024", "2", "4,50") + "\r\n" +
                                   localOrder("01.01.2024", "1", "4,50", "1") + "\r\n");
    EXPECT_EQ(parseOrders(loadOrderFile(path)).size(), 2u);
}

} // namespace
