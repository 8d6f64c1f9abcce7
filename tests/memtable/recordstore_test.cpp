#include "memtable/memtable.h"
#include "memtable/recordstore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmo;
using velmo::detail::RecordStore;

namespace {

// Every byte but NUL (which ends a string value), repeated up to n bytes.
std::string allBytes(std::size_t n) {
    std::string s;
    while (s.size() < n)
        s += static_cast<char>(1 + s.size() % 255);
    return s;
}

} // namespace

// Values come back as stored whatever the layout: with 16-bit end offsets, and with 32-bit ones once
// a record may outgrow 64 KiB, where a value starting past 64 KiB must not wrap to the front.
TEST(RecordStore, ValuesComeBackInNarrowAndWideLayouts) {
    struct Case {
        const char* name;
        std::vector<int> sizes; // string fields
    };
    const Case cases[] = {
        {"narrow", {20, 50, 255, 7, 1}},
        {"one field", {10}},
        {"wide", {0xFFFF, 0xFFFF, 3, 9, 1}},
        {"nine fields, two bitmap bytes", {1, 2, 3, 4, 5, 6, 7, 8, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordStore store;
        for (int size : c.sizes)
            store.addField(FieldType::String, size);
        // Field 1 holds no value where there is one; the last one holds the empty text.
        std::vector<std::string> parts;
        std::vector<char> present;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            parts.push_back(allBytes(static_cast<std::size_t>(c.sizes[i])));
            present.push_back(static_cast<char>(i != 1 || c.sizes.size() == 1));
        }
        parts.back().clear();
        const RecordId id = store.add(store.makeBlob(parts.data(), present.data()));
        for (int f = 0; f < store.fieldCount(); ++f) {
            const auto v = store.valueOf(id, f);
            const auto i = static_cast<std::size_t>(f);
            EXPECT_EQ(v.present, present[i] != 0) << "field " << f;
            EXPECT_EQ(v.bytes, present[i] ? parts[i] : std::string()) << "field " << f;
        }
    }
}

// A record number handed out again belongs to a new record: it is the newest by post sequence, and a
// number that holds nothing is never taken for a record.
TEST(RecordStore, ReusedNumbersAreNewRecords) {
    RecordStore store;
    store.addField(FieldType::String, 5);
    const std::string v[] = {"a", "b", "c"};
    const char yes[] = {1};
    std::vector<RecordId> ids;
    for (const auto& s : v)
        ids.push_back(store.add(store.makeBlob(&s, yes)));
    store.remove(ids[1]);
    EXPECT_FALSE(store.holds(ids[1]));
    EXPECT_FALSE(store.holds(kNoRecord));
    EXPECT_FALSE(store.holds(static_cast<RecordId>(store.slotCount())));
    EXPECT_EQ(store.liveCount(), 2u);

    const std::string d = "d";
    const RecordId again = store.add(store.makeBlob(&d, yes));
    EXPECT_EQ(again, ids[1]);
    EXPECT_EQ(store.valueOf(again, 0).bytes, "d");
    EXPECT_GT(store.seq(again), store.seq(ids[2]));

    // New values make a record the newest too.
    store.replace(ids[0], store.makeBlob(&d, yes));
    EXPECT_GT(store.seq(ids[0]), store.seq(again));
    EXPECT_EQ(store.liveCount(), 3u);
}

// The same through the table: long values and numbers after them survive the bulk path and an edit,
// and a number stored past 64 KiB keeps its value.
TEST(RecordStore, WideRecordsThroughTheTable) {
    MemTable t;
    t.addField("a", FieldType::String, 0xFFFF);
    t.addField("b", FieldType::String, 0xFFFF);
    t.addField("Preis", FieldType::Currency);
    t.addIndexDef({"Preis", {"Preis"}});
    t.setActive(true);
    const std::string big = allBytes(0xFFFF);
    t.AppendValues({big, big, "12,5"});
    t.AppendValues({"x", big, "3"});
    t.setIndexName("Preis");
    t.First();
    EXPECT_EQ(t.fieldByName("Preis").asString(), "3");
    EXPECT_EQ(t.fieldByName("b").view(), big);

    t.Edit();
    t.fieldByName("a").setAsString(big);
    t.fieldByName("Preis").setAsString("99");
    t.Post();
    t.Last();
    EXPECT_EQ(t.fieldByName("a").view(), big);
    EXPECT_EQ(t.fieldByName("b").view(), big);
    EXPECT_EQ(t.fieldByName("Preis").asString(), "99");
}

// Records packed into the arena and records allocated on their own live side by side: across block
// boundaries, with a record larger than a block, after a packed record was taken back, after packed
// records were replaced or removed, and again after the store was emptied. (The sanitizer run of
// this test finds a blob freed twice or never.)
TEST(RecordStore, PackedAndOwnRecordsKeepTheirValues) {
    RecordStore store;
    constexpr std::size_t kFields = 20; // every third record holds 1.2 MB, more than a block
    for (std::size_t f = 0; f < kFields; ++f)
        store.addField(FieldType::String, 0xFFFF);
    const std::vector<char> yes(kFields, 1);
    std::vector<std::pair<RecordId, std::string>> expected;
    auto value = [](std::size_t i) { return std::to_string(i) + allBytes(i % 3 == 0 ? 60'000 : i % 50); };
    auto check = [&] {
        for (const auto& [id, v] : expected) {
            ASSERT_TRUE(store.holds(id));
            for (int f = 0; f < store.fieldCount(); ++f)
                ASSERT_EQ(store.valueOf(id, f).bytes, v);
        }
    };
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        expected.clear();
        for (std::size_t i = 0; i < 100; ++i) {
            const std::vector<std::string> parts(kFields, value(i));
            if (i % 7 == 3) {
                // Taken back, then the next record goes where it was.
                char* dropped = store.packBlob(parts.data(), yes.data());
                store.dropPacked(dropped);
                EXPECT_EQ(store.packBlob(parts.data(), yes.data()), dropped);
                store.dropPacked(dropped);
            }
            const RecordId id = i % 5 == 0 ? store.add(store.makeBlob(parts.data(), yes.data()))
                                           : store.addPacked(store.packBlob(parts.data(), yes.data()));
            expected.emplace_back(id, parts[0]);
        }
        check();
        for (std::size_t i = 0; i < expected.size(); i += 4) {
            const std::vector<std::string> parts(kFields, "neu" + value(i));
            store.replace(expected[i].first, store.makeBlob(parts.data(), yes.data()));
            expected[i].second = parts[0];
        }
        for (std::size_t i = expected.size() - 1; i > 0; i -= 3) {
            store.remove(expected[i].first);
            expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(i));
        }
        check();
        EXPECT_EQ(store.liveCount(), expected.size());
        store.clear();
        EXPECT_EQ(store.slotCount(), 0u);
    }
}
