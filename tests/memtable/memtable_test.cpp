#include "memtable/memtable.h"

#include "memtable/blocklist.h"
#include "memtable/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace velmo;

namespace {

// Windows-1252 bytes written readably.
const std::string kAe = "\xE4"; // ä
const std::string kUe = "\xFC"; // ü

std::vector<std::string> walk(MemTable& t, const std::string& field) {
    std::vector<std::string> out;
    for (t.First(); !t.eof(); t.Next())
        out.push_back(t.fieldByName(field).isNull() ? "<null>" : t.fieldByName(field).asString());
    return out;
}

// Hersteller/Bezeichnung table with the indexes the article list uses, and a descending and a
// case-insensitive one.
struct ArticleTable : ::testing::Test {
    MemTable t;
    void SetUp() override {
        t.addField("ArtikelNr", FieldType::String, 20);
        t.addField("Hersteller", FieldType::String, 50);
        t.addField("Bezeichnung", FieldType::String, 20);
        t.addIndexDef({"ArtikelNr", {"ArtikelNr"}});
        t.addIndexDef({"Hersteller", {"Hersteller"}});
        t.addIndexDef({"HerstellerAb", {"Hersteller"}, ixDescending});
        t.addIndexDef({"HerstellerCI", {"Hersteller"}, ixCaseInsensitive});
        t.setActive(true);
    }
    void add(const std::string& nr, const std::string& hersteller, const std::string& bez = "") {
        t.AppendValues({nr, hersteller, bez});
    }
    std::string current() { return t.fieldByName("ArtikelNr").asString(); }
    template <class F> std::string errorOf(F f) {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "<no error>";
    }
};

} // namespace

TEST(Collation, GermanOrderNotByteOrder) {
    struct Case {
        std::string a, b;
        bool ci;
        int sign;
    } cases[] = {
        {kAe + "hnlich", "Zebra", false, -1}, // umlaut with its base letter, not after z
        {"bosch", "Bosch", false, -1},        // lower case first among otherwise equal texts
        {"Bosch", "caro", false, -1},         // case only breaks ties
        {"Mueller", "M" + kUe + "ller", false, -1},
        {"", "a", false, -1},
        {"Ab", "Abc", false, -1}, // a prefix sorts first
        {"bosch", "BOSCH", true, 0},
        {"M" + kUe + "ller", "Muller", true, 1}, // accents still count without case
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a + " / " + c.b);
        const int r = collation::compare(c.a, c.b, c.ci);
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
        EXPECT_EQ(-((r > 0) - (r < 0)), [&] {
            const int s = collation::compare(c.b, c.a, c.ci);
            return (s > 0) - (s < 0);
        }());
        std::string ka, kb;
        collation::appendSortKey(ka, c.a, c.ci);
        collation::appendSortKey(kb, c.b, c.ci);
        const int k = ka.compare(kb);
        EXPECT_EQ((k > 0) - (k < 0), c.sign) << "sort key disagrees with compare";
    }
}

TEST_F(ArticleTable, EqualKeysShowTheRecordPostedLastFirst) {
    add("1", "Bosch");
    add("2", "Miele");
    add("3", "Bosch");
    add("4", "AEG");
    add("5", "Bosch");
    t.setIndexName("Hersteller");
    auto order = [&] {
        std::vector<std::string> nrs;
        for (t.First(); !t.eof(); t.Next())
            nrs.push_back(current());
        return nrs;
    };
    EXPECT_EQ(order(), (std::vector<std::string>{"4", "5", "3", "1", "2"}));

    // Posting a record again, even unchanged, makes it the newest among its equals.
    ASSERT_TRUE(t.SeekNearest("Bosch"));
    t.Next();
    t.Next();
    ASSERT_EQ(current(), "1");
    t.Edit();
    t.Post();
    EXPECT_EQ(order(), (std::vector<std::string>{"4", "1", "5", "3", "2"}));

    // Descending reverses the keys but the newest still leads among equals.
    t.setIndexName("HerstellerAb");
    EXPECT_EQ(order(), (std::vector<std::string>{"2", "1", "5", "3", "4"}));
}

// An index over many records loaded in key order is built without sorting; it must come out as a
// sort would: equal keys newest first, and records merely close to key order sorted properly.
TEST_F(ArticleTable, IndexOverRecordsLoadedInKeyOrder) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> records; // ArtikelNr, Hersteller ("-": none)
        const char* index;
        std::vector<std::string> order;
        const char* repost = nullptr; // posted again before the index is first used
    } cases[] = {
        {"runs of equal keys",
         {{"1", "AEG"}, {"2", "Bosch"}, {"3", "Bosch"}, {"4", "Miele"}, {"5", "Miele"}},
         "Hersteller",
         {"1", "3", "2", "5", "4"}},
        {"the last record out of order",
         {{"1", "AEG"}, {"2", "Bosch"}, {"3", "Bosch"}, {"4", "Miele"}, {"5", "Bosch"}},
         "Hersteller",
         {"1", "5", "3", "2", "4"}},
        {"equal without regard to case",
         {{"1", "bosch"}, {"2", "Bosch"}, {"3", "BOSCH"}, {"4", "Miele"}},
         "HerstellerCI",
         {"3", "2", "1", "4"}},
        {"descending over ascending records",
         {{"1", "AEG"}, {"2", "Bosch"}, {"3", "Bosch"}},
         "HerstellerAb",
         {"3", "2", "1"}},
        {"records without a value first",
         {{"1", "-"}, {"2", "-"}, {"3", "AEG"}},
         "Hersteller",
         {"2", "1", "3"}},
        {"a record posted again is the newest of its run",
         {{"1", "AEG"}, {"2", "Bosch"}, {"3", "Bosch"}, {"4", "Miele"}},
         "Hersteller",
         {"1", "2", "3", "4"},
         "2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        t.emptyTable();
        t.setIndexName("");
        // Enough records without a value ahead of the case's that the index is built in one go.
        for (int i = 0; i < 100; ++i)
            t.AppendValues({"p" + std::to_string(i)});
        for (const auto& [nr, hersteller] : c.records) {
            if (hersteller == "-")
                t.AppendValues({nr});
            else
                add(nr, hersteller);
        }
        if (c.repost) {
            for (t.First(); current() != c.repost; t.Next()) {
            }
            t.Edit();
            t.Post();
        }
        t.setIndexName(c.index);
        std::vector<std::string> order;
        for (t.First(); !t.eof(); t.Next()) {
            if (current()[0] != 'p')
                order.push_back(current());
        }
        EXPECT_EQ(order, c.order);
    }
}

TEST_F(ArticleTable, KeysWithoutValueComeFirstAndCaseOptionActs) {
    add("1", "bosch");
    add("2", "Bosch");
    t.AppendValues({"3"}); // no Hersteller at all
    add("4", "");          // the empty text is a value
    add("5", "BOSCH");
    t.setIndexName("Hersteller");
    EXPECT_EQ(walk(t, "Hersteller"), (std::vector<std::string>{"<null>", "", "bosch", "Bosch", "BOSCH"}));
    t.setIndexName("HerstellerCI");
    // Case-insensitive: the three spellings are equal keys, newest first.
    EXPECT_EQ(walk(t, "ArtikelNr"), (std::vector<std::string>{"3", "4", "5", "2", "1"}));
    t.setIndexName("HerstellerAb");
    EXPECT_EQ(walk(t, "ArtikelNr").back(), "3");
}

TEST_F(ArticleTable, SeekNearest) {
    add("1", "Abd");
    add("2", "Aa");
    t.AppendValues({"3"});
    add("4", "Abc");
    add("5", "Zander");
    t.setIndexName("Hersteller");
    struct Case {
        std::string text;
        bool found;
        std::string current;
    } cases[] = {
        {"Ab", true, "4"},      // a prefix finds the first key that starts with it
        {"", true, "2"},        // the empty text passes over the key without value
        {"abd", true, "1"},     // collation, not bytes: "abd" sorts right before "Abd"
        {"Zz", false, "1"},     // beyond every key: the cursor stays where it was
        {"M" + kUe, true, "5"}, // an umlaut in the text
        {"Zander", true, "5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(t.SeekNearest(c.text), c.found);
        EXPECT_EQ(current(), c.current);
    }
    // In the insertion order there is no key to seek.
    t.setIndexName("");
    EXPECT_FALSE(t.SeekNearest("A"));
}

TEST_F(ArticleTable, SwitchingIndexesKeepsTheCurrentRecord) {
    for (int i = 0; i < 2000; ++i)
        add(std::to_string(100000 + (i * 7919) % 2000), "H" + std::to_string(i % 37));
    t.setIndexName("ArtikelNr");
    t.SyncIndexes();
    ASSERT_TRUE(t.SeekNearest("101234"));
    for (const char* name : {"", "Hersteller", "ArtikelNr", "", "HerstellerAb", "nonexistent"}) {
        t.setIndexName(name);
        t.SyncIndexes();
        EXPECT_EQ(current(), "101234") << name;
    }
    EXPECT_EQ(t.IndexName(), "HerstellerAb"); // an unknown name changed nothing
    // The walk continues from the kept record in the new order.
    t.setIndexName("ArtikelNr");
    t.Next();
    EXPECT_EQ(current(), "101235");
}

TEST_F(ArticleTable, InsertionOrderAndInsert) {
    for (int i = 0; i < 10; ++i)
        add(std::to_string(i), "x");
    t.setIndexName("ArtikelNr");
    t.setIndexName("");
    EXPECT_EQ(walk(t, "ArtikelNr"),
              (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}));

    // Insert goes before the current record in the insertion order; many at one place still fit.
    t.First();
    t.Next();
    for (int i = 0; i < 40; ++i) {
        t.Insert();
        t.fieldByName("ArtikelNr").setAsString("i" + std::to_string(i));
        t.Post();
    }
    auto order = walk(t, "ArtikelNr");
    ASSERT_EQ(order.size(), 50u);
    EXPECT_EQ(order[0], "0");
    EXPECT_EQ(order[1], "i39");
    EXPECT_EQ(order[40], "i0");
    EXPECT_EQ(order[41], "1");

    // With a keyed index current, Insert adds at the end of the insertion order.
    t.setIndexName("ArtikelNr");
    t.First();
    t.Insert();
    t.fieldByName("ArtikelNr").setAsString("new");
    t.Post();
    t.setIndexName("");
    EXPECT_EQ(walk(t, "ArtikelNr").back(), "new");
}

// Emptying or closing the table forgets every record in every order, sorted or still waiting to be
// placed: what is appended afterwards is all the table shows, in insertion and in key order.
TEST_F(ArticleTable, EmptyingAndReopeningStartEveryOrderAfresh) {
    for (const auto reset : {+[](MemTable& m) { m.emptyTable(); },
                             +[](MemTable& m) {
                                 m.setActive(false);
                                 m.setActive(true);
                             }}) {
        for (int i = 0; i < 300; ++i) // enough for a sort of the keyed orders later
            add("n" + std::to_string(i), i % 2 ? "Bosch" : "AEG");
        t.setIndexName("Hersteller");
        t.First();
        add("late", "Miele"); // waits to be placed
        reset(t);
        EXPECT_EQ(t.RecordCount(), 0);
        EXPECT_FALSE(t.SeekNearest("M"));

        add("1", "Miele");
        add("2", "AEG");
        t.First();
        t.Insert();
        t.fieldByName("ArtikelNr").setAsString("3");
        t.fieldByName("Hersteller").setAsString("Bosch");
        t.Post();
        EXPECT_EQ(walk(t, "ArtikelNr"), (std::vector<std::string>{"2", "3", "1"}));
        ASSERT_TRUE(t.SeekNearest("B"));
        EXPECT_EQ(current(), "3");
        t.setIndexName("");
        EXPECT_EQ(walk(t, "ArtikelNr"), (std::vector<std::string>{"1", "2", "3"}));
        t.emptyTable();
    }
}

TEST_F(ArticleTable, FilterAndRecordCount) {
    add("1", "Bosch");
    add("2", "Miele");
    add("3", "Bosch");
    std::string wanted = "nothing";
    t.OnFilterRecord = [&](MemTable& tab) { return tab.fieldByName("Hersteller").asString() == wanted; };
    t.setFiltered(true);
    EXPECT_EQ(t.RecordCount(), 0);
    t.First();
    EXPECT_TRUE(t.eof());
    EXPECT_EQ(t.currentRecord(), kNoRecord);

    wanted = "Bosch";
    EXPECT_EQ(t.RecordCount(), 2); // the count asks the callback afresh
    t.setFiltered(true);           // re-applying takes the new value for the views too
    EXPECT_EQ(walk(t, "ArtikelNr"), (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(t.visibleCount(), 2);
    EXPECT_EQ(t.rowOf(t.currentRecord()), 1);
    t.setFiltered(false);
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(current(), "3"); // removing the filter keeps the current record
}

TEST_F(ArticleTable, WalkingBothWaysStopsAtTheVisibleEnds) {
    add("1", "Bosch");
    add("2", "Miele");
    add("3", "Bosch");
    add("4", "Miele");
    t.OnFilterRecord = [](MemTable& tab) { return tab.fieldByName("Hersteller").asString() == "Bosch"; };
    t.setFiltered(true);
    t.setIndexName("ArtikelNr");
    struct Move {
        void (MemTable::*op)();
        const char* nr;
        bool bof, eof;
    } moves[] = {
        {&MemTable::Last, "3", false, true},  {&MemTable::Prior, "1", false, false},
        {&MemTable::Prior, "1", true, false}, {&MemTable::Next, "3", false, false},
        {&MemTable::Next, "3", false, true},  {&MemTable::First, "1", true, false},
    };
    for (const auto& m : moves) {
        (t.*m.op)();
        EXPECT_EQ(current(), m.nr);
        EXPECT_EQ(t.bof(), m.bof) << "at " << m.nr;
        EXPECT_EQ(t.eof(), m.eof) << "at " << m.nr;
    }
    t.OnFilterRecord = [](MemTable&) { return false; };
    t.setFiltered(true);
    t.Last();
    EXPECT_TRUE(t.bof());
    EXPECT_TRUE(t.eof());
    EXPECT_EQ(t.currentRecord(), kNoRecord);
}

TEST_F(ArticleTable, StatesAndTheirErrors) {
    EXPECT_EQ(errorOf([&] { t.Delete(); }), "Operation bei leerer Datenmenge nicht ausführbar");

    // Edit on an empty table starts a new record; Post stores it.
    t.Edit();
    EXPECT_EQ(t.state(), TableState::Insert);
    t.Post();
    EXPECT_EQ(t.RecordCount(), 1);
    EXPECT_TRUE(t.fieldByName("ArtikelNr").isNull());

    add("7", "Bosch");
    EXPECT_EQ(errorOf([&] { t.fieldByName("Hersteller").setAsString("Miele"); }),
              "Dataset is not in edit mode.");
    EXPECT_EQ(t.fieldByName("Hersteller").asString(), "Bosch");

    // A pending change is posted by SeekNearest; an unchanged edit is dropped.
    t.setIndexName("Hersteller");
    t.Edit();
    t.fieldByName("Hersteller").setAsString("Zeiss");
    EXPECT_FALSE(t.SeekNearest("Zz"));
    EXPECT_EQ(t.state(), TableState::Browse);
    t.SeekNearest("Z");
    EXPECT_EQ(current(), "7");
    t.Append();
    t.setIndexName("ArtikelNr");
    EXPECT_EQ(t.RecordCount(), 2);

    // Delete makes the next record current, the previous one when the last went.
    add("8", "a");
    add("9", "b");
    t.setIndexName("ArtikelNr");
    t.SeekNearest("8");
    t.Delete();
    EXPECT_EQ(current(), "9");
    t.Delete();
    EXPECT_EQ(current(), "7");

    MemTable closed;
    closed.addField("x");
    EXPECT_EQ(closed.RecordCount(), 0);
    EXPECT_THROW(closed.AppendValues({"1"}), EDatabaseError);
}

TEST(MemTableUnique, DuplicateKeyIsRefusedAndNothingChanges) {
    MemTable t;
    t.addField("Nr");
    t.addIndexDef({"Nr", {"Nr"}, ixUnique | ixCaseInsensitive});
    t.setActive(true);
    t.AppendValues({"a"});
    try {
        t.AppendValues({"A"});
        FAIL() << "duplicate accepted";
    } catch (const EMemTableError& e) {
        EXPECT_STREQ(e.what(), "Duplicate index value. Operation aborted.");
    }
    EXPECT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(t.state(), TableState::Browse);

    t.AppendValues({"b"});
    t.Edit();
    t.fieldByName("Nr").setAsString("b"); // its own key is no duplicate
    t.Post();
    t.Edit();
    t.fieldByName("Nr").setAsString("a");
    EXPECT_THROW(t.Post(), EMemTableError);
    EXPECT_EQ(t.state(), TableState::Edit); // the owner may correct the value and post again
    t.cancel();
    EXPECT_EQ(t.fieldByName("Nr").asString(), "b");

    MemTable dup;
    dup.addField("Nr");
    dup.setActive(true);
    dup.AppendValues({"x"});
    dup.AppendValues({"x"});
    EXPECT_THROW(dup.addIndexDef({"Nr", {"Nr"}, ixUnique}), EMemTableError);
    EXPECT_TRUE(dup.IndexDefs().empty());
}

TEST(MemTableFields, StringCutAndConversions) {
    MemTable t;
    t.addField("Name", FieldType::String, 20);
    t.addField("menge", FieldType::Float);
    t.addField("Preis", FieldType::Currency);
    t.addField("Datum", FieldType::DateTime);
    t.addField("Text", FieldType::String, 20, FieldKind::Calculated);
    t.setActive(true);
    t.Append();
    Field& name = t.fieldByName("Name");
    name.setAsString("123456789012345678901234567890");
    EXPECT_EQ(name.asString(), "12345678901234567890");
    name.setAsString(std::string("ab\0cd", 5));
    EXPECT_EQ(name.asString(), "ab");
    name.setAsString("");
    EXPECT_FALSE(name.isNull());

    auto message = [](auto f) {
        try {
            f();
        } catch (const EConvertError& e) {
            return std::string(e.what());
        }
        return std::string("<no error>");
    };
    Field& menge = t.fieldByName("menge");
    menge.setAsString("1,5");
    EXPECT_DOUBLE_EQ(menge.asFloat(), 1.5);
    EXPECT_EQ(message([&] { menge.setAsString("1.5"); }),
              "'1.5' ist kein gültiger Fließkommawert für Feld 'menge'");
    EXPECT_DOUBLE_EQ(menge.asFloat(), 1.5); // unchanged by the failed assignment
    menge.setAsString("");
    EXPECT_TRUE(menge.isNull());
    EXPECT_EQ(message([&] { t.fieldByName("Datum").setAsString("31.02.2020"); }),
              "'31.02.2020' ist keine gültige Datums- und Uhrzeitangabe");
    t.fieldByName("Datum").setAsString("1.2.2003 14:05");
    EXPECT_EQ(t.fieldByName("Datum").asString(), "01.02.2003 14:05:00");

    t.fieldByName("Text").setAsString("12,34567");
    EXPECT_EQ(t.fieldByName("Text").asCurrency().scaled, 123457); // rounded to four decimals
    t.fieldByName("Preis").setAsCurrency(t.fieldByName("Text").asCurrency());
    EXPECT_EQ(t.fieldByName("Preis").asString(), "12,3457");
    t.fieldByName("Text").setAsString("x" + kAe);
    EXPECT_EQ(message([&] { t.fieldByName("Text").asFloat(); }),
              "'x\xC3\xA4' ist kein gültiger Gleitkommawert");
    t.Post();

    // A value that does not convert stops AppendValues before anything is added.
    EXPECT_THROW(t.AppendValues({"n", "zwei"}), EConvertError);
    EXPECT_EQ(t.RecordCount(), 1);
    t.AppendValues({"n", "2,25", "", "24.12.1999"});
    EXPECT_DOUBLE_EQ(t.fieldByName("menge").asFloat(), 2.25);
    EXPECT_TRUE(t.fieldByName("Preis").isNull());
    EXPECT_EQ(t.fieldByName("Datum").asString(), "24.12.1999");
}

TEST(MemTableNumbers, NumericAndDateKeysAndSeekByDate) {
    MemTable t;
    t.addField("Datum", FieldType::DateTime);
    t.addField("Betrag", FieldType::Float);
    t.addIndexDef({"Datum", {"Datum"}});
    t.addIndexDef({"Betrag", {"Betrag"}, ixDescending});
    t.setActive(true);
    t.AppendValues({"03.01.2004", "-1,5"});
    t.AppendValues({"", "10"});
    t.AppendValues({"01.01.2004 12:00", "2"});
    t.AppendValues({"02.01.2004", "-0,25"});
    t.setIndexName("Datum");
    EXPECT_EQ(walk(t, "Datum"),
              (std::vector<std::string>{"<null>", "01.01.2004 12:00:00", "02.01.2004", "03.01.2004"}));
    EXPECT_TRUE(t.SeekNearest("2.1.2004"));
    EXPECT_EQ(t.fieldByName("Datum").asString(), "02.01.2004");
    EXPECT_THROW(t.SeekNearest("2."), EConvertError); // a date half typed
    EXPECT_EQ(t.fieldByName("Datum").asString(), "02.01.2004");
    EXPECT_TRUE(t.SeekNearest(""));
    EXPECT_TRUE(t.fieldByName("Datum").isNull());
    t.setIndexName("Betrag");
    EXPECT_EQ(walk(t, "Betrag"), (std::vector<std::string>{"10", "2", "-0,25", "-1,5"}));
}

namespace {

struct CountingLink : MemTableLink {
    int dataSet = 0, cursor = 0, state = 0, record = 0, update = 0;
    std::function<void()> onUpdate;
    void dataSetChanged() override { ++dataSet; }
    void cursorMoved() override { ++cursor; }
    void stateChanged() override { ++state; }
    void recordChanged(int) override { ++record; }
    void updateRecord() override {
        ++update;
        if (onUpdate)
            onUpdate();
    }
};

} // namespace

TEST(MemTableLinks, NotificationsAndBatches) {
    MemTable t;
    t.addField("a");
    t.setActive(true);
    CountingLink link;
    t.addLink(&link);
    {
        MemTable::UpdateBlock block(t);
        for (int i = 0; i < 1000; ++i)
            t.AppendValues({std::to_string(i)});
        EXPECT_EQ(link.dataSet, 0);
    }
    EXPECT_EQ(link.dataSet, 1);
    EXPECT_EQ(link.cursor, 1);

    // A value held back by a view is written before the post stores the record.
    link.onUpdate = [&] {
        if (t.state() == TableState::Edit)
            t.fieldByName("a").setAsString("typed");
    };
    t.Edit();
    EXPECT_EQ(link.state, 1);
    t.Refresh();
    EXPECT_EQ(t.fieldByName("a").asString(), "typed");
    EXPECT_GE(link.update, 1);
    t.removeLink(&link);
}

// Random operations against a plain reference: every index must always show the records in key
// order, newest first among equal keys, whether it was sorted in one go after a bulk load or kept in
// order record by record; filtered or not, with the cursor walking on from a record just posted.
// Many posts leave some or all keys as they were, among keys that compare equal with other bytes
// (case, a soft hyphen or a control character the collation ignores).
TEST(MemTableOrders, MatchAReferenceUnderRandomOperations) {
    std::mt19937 rng(20240611);
    const std::vector<std::string> words = {"",
                                            "a",
                                            "A",
                                            "a\xAD", // equal to "a" even with case
                                            "\x01",  // equal to ""
                                            "ab",
                                            "Ab",
                                            std::string("\xE4") + "b",
                                            "b",
                                            "Bosch",
                                            "bosch",
                                            "BOSCH",
                                            "Zeiss",
                                            "M\xFCller",
                                            "Mueller",
                                            std::string("\x9A") + "a"};
    struct Rec {
        std::optional<std::string> a, b;
        std::uint64_t seq;
        int id;
        RecordId rid;
    };
    MemTable t;
    t.addField("id");
    t.addField("a");
    t.addField("b");
    t.addField("c");
    const std::vector<IndexDef> defs = {{"a", {"a"}},
                                        {"aDesc", {"a"}, ixDescending},
                                        {"aCI", {"a"}, ixCaseInsensitive},
                                        {"ab", {"a", "b"}},
                                        {"bDescCI", {"b"}, ixDescending | ixCaseInsensitive},
                                        {"id", {"id"}, ixUnique}};
    for (const auto& d : defs)
        t.addIndexDef(d);
    t.OnFilterRecord = [](MemTable& m) { return std::stoi(m.fieldByName("id").asString()) % 3 != 0; };
    t.setActive(true);
    std::vector<Rec> ref; // insertion order
    std::uint64_t seq = 0;
    int nextId = 0;
    auto pick = [&]() -> std::optional<std::string> {
        const auto r = rng() % (words.size() + 1);
        if (r == words.size())
            return std::nullopt;
        return words[r];
    };
    auto cmpOpt = [](const std::optional<std::string>& x, const std::optional<std::string>& y, bool ci) {
        if (!x || !y)
            return int(bool(x)) - int(bool(y));
        return collation::compare(*x, *y, ci);
    };
    auto visible = [&](const Rec& r) { return !t.Filtered() || r.id % 3 != 0; };
    // Whether x comes before y in the order of d (none: the insertion order).
    auto precedes = [&](const IndexDef* d, const Rec& x, const Rec& y) {
        if (!d)
            return &x < &y;
        const bool ci = d->options & ixCaseInsensitive, desc = d->options & ixDescending;
        int c = 0;
        for (const auto& f : d->fields) {
            if (f == "id")
                c = collation::compare(std::to_string(x.id), std::to_string(y.id), ci);
            else
                c = f == "a" ? cmpOpt(x.a, y.a, ci) : cmpOpt(x.b, y.b, ci);
            if (c != 0)
                break;
        }
        if (desc)
            c = -c;
        return c != 0 ? c < 0 : x.seq > y.seq;
    };
    auto expected = [&](const IndexDef& d) {
        std::vector<const Rec*> v;
        for (const auto& r : ref) {
            if (visible(r))
                v.push_back(&r);
        }
        std::sort(v.begin(), v.end(), [&](const Rec* x, const Rec* y) { return precedes(&d, *x, *y); });
        std::vector<std::string> ids;
        ids.reserve(v.size());
        for (const Rec* r : v)
            ids.push_back(std::to_string(r->id));
        return ids;
    };
    // The visible record that follows r in the order of d, as an id; -1 at the end.
    auto following = [&](const IndexDef* d, const Rec& r) {
        const Rec* best = nullptr;
        for (const auto& o : ref) {
            if (&o != &r && visible(o) && precedes(d, r, o) && (!best || precedes(d, o, *best)))
                best = &o;
        }
        return best ? best->id : -1;
    };
    auto setOpt = [&](const char* f, const std::optional<std::string>& v) {
        if (v)
            t.fieldByName(f).setAsString(*v);
        else
            t.fieldByName(f).clear();
    };
    auto checkAll = [&](const std::string& when) {
        for (const auto& d : defs) {
            t.setIndexName(d.name);
            ASSERT_EQ(walk(t, "id"), expected(d)) << "index " << d.name << " at " << when;
        }
    };
    for (int step = 0; step < 700; ++step) {
        if (step % 25 == 24) {
            checkAll("step " + std::to_string(step));
            if (::testing::Test::HasFatalFailure())
                return;
        }
        if (step % 60 == 30)
            t.setFiltered(!t.Filtered());
        const unsigned op = rng() % 12;
        if (op < 5 || ref.empty()) {
            // Runs of appends, sometimes long enough to make the indexes sort again.
            const bool bulk = step % 50 == 0;
            for (int k = 0; k < (bulk ? 300 : 1); ++k) {
                Rec r{pick(), pick(), ++seq, nextId++, kNoRecord};
                if (bulk && !r.a)
                    r.a = "a";
                const std::string id = std::to_string(r.id);
                if (r.a && r.b) {
                    t.AppendValues({id, *r.a, *r.b}); // the bulk path
                } else if (r.a) {
                    t.AppendValues({id, *r.a});
                } else {
                    t.Append();
                    t.fieldByName("id").setAsString(id);
                    setOpt("a", r.a);
                    setOpt("b", r.b);
                    t.Post();
                }
                r.rid = t.currentRecord();
                ref.push_back(r);
            }
            continue;
        }
        const std::size_t victim = rng() % ref.size();
        Rec& v = ref[victim];
        // The record is reached from a random order: walking the insertion order, or as a view's
        // click does.
        const std::size_t current = rng() % (defs.size() + 1);
        const IndexDef* d = current == defs.size() ? nullptr : &defs[current];
        if (!d && !t.Filtered()) {
            t.setIndexName("");
            t.First();
            for (std::size_t k = 0; k < victim; ++k)
                t.Next();
        } else {
            t.setIndexName(d ? d->name : "");
            t.gotoRecord(v.rid);
        }
        ASSERT_EQ(t.fieldByName("id").asString(), std::to_string(v.id));
        if (op == 11) {
            t.Delete();
            ref.erase(ref.begin() + static_cast<std::ptrdiff_t>(victim));
            continue;
        }
        t.Edit();
        if (op == 10 && ref.size() > 1) {
            // Another record's number is refused by the unique index, and nothing moves.
            const Rec& other = ref[(victim + 1) % ref.size()];
            t.fieldByName("id").setAsString(std::to_string(other.id));
            EXPECT_THROW(t.Post(), EMemTableError);
            t.cancel();
        } else {
            if (op < 7) {
                v.a = pick();
                setOpt("a", v.a);
            } else if (op == 7) {
                v.b = pick();
                setOpt("b", v.b);
            } else if (op == 8) {
                setOpt("a", v.a); // the same value again
            }
            t.fieldByName("c").setAsString(std::to_string(step)); // never a key
            t.Post();
            v.seq = ++seq;
        }
        // The cursor goes on from the record's place in the order shown.
        if (visible(v)) {
            ASSERT_EQ(t.fieldByName("id").asString(), std::to_string(v.id));
            const int next = following(d, v);
            t.Next();
            if (next < 0)
                ASSERT_TRUE(t.eof()) << "after step " << step;
            else
                ASSERT_EQ(t.fieldByName("id").asString(), std::to_string(next)) << "after step " << step;
        }
    }
    checkAll("the end");
}

// Entries are found by their block, which moves when blocks split or disappear: the place found must
// be the entry's place in a plain vector kept alongside.
TEST(BlockList, FindsEveryEntryThroughSplitsAndRemovedBlocks) {
    std::mt19937 rng(7);
    detail::BlockList list;
    std::vector<std::uint32_t> ref;
    std::vector<std::uint32_t> sorted(3000);
    for (std::uint32_t i = 0; i < sorted.size(); ++i)
        sorted[i] = i * 2;
    list.assign(sorted);
    ref = sorted;
    std::uint32_t nextId = 1; // odd numbers are new
    auto check = [&](const char* when) {
        ASSERT_EQ(list.size(), ref.size()) << when;
        for (std::size_t rank = 0; rank < ref.size(); ++rank) {
            detail::BlockList::Pos p;
            ASSERT_TRUE(list.find(ref[rank], p)) << when << ": entry " << ref[rank];
            ASSERT_EQ(list.rankOf(p), rank) << when;
        }
    };
    for (int round = 0; round < 6; ++round) {
        // Many insertions into one region split its block again and again...
        for (int k = 0; k < 1500; ++k) {
            const std::size_t rank = 700 + rng() % 300;
            list.insert(rank, nextId);
            ref.insert(ref.begin() + static_cast<std::ptrdiff_t>(rank), nextId);
            nextId += 2;
        }
        check("after insertions");
        // ...and removing a run of entries empties whole blocks.
        const std::size_t from = rng() % (ref.size() - 1200);
        for (int k = 0; k < 1200; ++k) {
            detail::BlockList::Pos p;
            ASSERT_TRUE(list.find(ref[from], p));
            list.erase(p);
            detail::BlockList::Pos gone;
            EXPECT_FALSE(list.find(ref[from], gone));
            ref.erase(ref.begin() + static_cast<std::ptrdiff_t>(from));
        }
        check("after removals");
        for (int k = 0; k < 200; ++k) {
            list.pushBack(nextId);
            ref.push_back(nextId);
            nextId += 2;
        }
    }
    check("at the end");
    detail::BlockList::Pos p;
    EXPECT_FALSE(list.find(nextId + 1000, p));
}

// Orders let go before a batch of posts and sorted again show what orders kept in step post by post
// show: equal keys with the record posted last first, in every kind of index.
TEST(DroppedOrders, SortAgainToWhatThePostsGave) {
    std::mt19937 rng(7);
    const std::vector<std::string> makers = {"Bosch", "bosch", "BOSCH", "Miele", kAe + "rger", "AEG", ""};
    MemTable kept, dropped;
    for (MemTable* t : {&kept, &dropped}) {
        t->addField("nr");
        t->addField("maker", FieldType::String, 30);
        t->addField("price");
        t->addIndexDef({"nr", {"nr"}});
        t->addIndexDef({"maker", {"maker"}});
        t->addIndexDef({"makerDesc", {"maker"}, ixDescending});
        t->addIndexDef({"makerCI", {"maker"}, ixCaseInsensitive});
        t->addIndexDef({"makerNr", {"maker", "nr"}});
        t->setActive(true);
    }
    for (int i = 0; i < 400; ++i) {
        const std::string nr = std::to_string(rng() % 1000);
        const std::string& maker = makers[rng() % makers.size()];
        for (MemTable* t : {&kept, &dropped})
            t->AppendValues({nr, maker, "1,00"});
    }
    for (MemTable* t : {&kept, &dropped}) {
        for (const char* ix : {"nr", "maker", "makerDesc", "makerCI", "makerNr"}) {
            t->setIndexName(ix);
            t->SyncIndexes();
        }
        t->setIndexName("");
    }
    dropped.dropOtherOrders();
    // Every other record posted again with only its price changed, a few with a new maker.
    for (MemTable* t : {&kept, &dropped}) {
        int n = 0;
        for (t->First(); !t->eof(); t->Next()) {
            if (n++ % 2)
                continue;
            t->Edit();
            t->fieldByName("price").setAsString("1.00");
            if (n % 11 == 0)
                t->fieldByName("maker").setAsString("Miele");
            t->Post();
        }
    }
    for (const char* ix : {"nr", "maker", "makerDesc", "makerCI", "makerNr"}) {
        SCOPED_TRACE(ix);
        kept.setIndexName(ix);
        dropped.setIndexName(ix);
        std::vector<std::string> a, b;
        for (kept.First(); !kept.eof(); kept.Next())
            a.push_back(kept.fieldByName("nr").asString() + "/" + kept.fieldByName("maker").asString());
        for (dropped.First(); !dropped.eof(); dropped.Next())
            b.push_back(dropped.fieldByName("nr").asString() + "/" + dropped.fieldByName("maker").asString());
        EXPECT_EQ(a, b);
    }
}
