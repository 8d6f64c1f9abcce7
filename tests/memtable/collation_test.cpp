// The sort keys of the German collation against the collator's own comparison, on random texts of
// the shop's code page: umlauts, sharp s, case, digits, punctuation and now and then any byte.
#include "memtable/collation.h"
#include "memtable/memtable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace velmo;

namespace {

int sign(int v) {
    return (v > 0) - (v < 0);
}

std::string hex(const std::string& s) {
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    return out;
}

std::string keyOf(const std::string& text, bool ci) {
    std::string k;
    collation::appendSortKey(k, text, ci);
    return k;
}

// Texts as owners type them, with neighbours that differ in one place only: the pairs where a
// wrong weight shows.
std::vector<std::string> randomTexts(std::mt19937& rng, std::size_t count) {
    const std::string common = "aAbBeEiIlLmMoOsSuUzZ\xE4\xC4\xF6\xD6\xFC\xDC\xDF\xE9\xC9"
                               "0123456789 -.,/&'\xB7";
    std::vector<std::string> texts;
    auto pickChar = [&]() -> char {
        if (rng() % 8 == 0)
            return static_cast<char>(1 + rng() % 255);
        return common[rng() % common.size()];
    };
    while (texts.size() < count) {
        std::string s;
        const std::size_t length = rng() % 9;
        for (std::size_t i = 0; i < length; ++i)
            s += pickChar();
        texts.push_back(s);
        if (!s.empty()) {
            std::string t = s;
            t[rng() % t.size()] = pickChar();
            texts.push_back(t);
            texts.push_back(s + pickChar());
        }
    }
    return texts;
}

} // namespace

TEST(CollationKeys, OrderAsTheCollatorComparesPairs) {
    std::mt19937 rng(20261210);
    std::vector<std::string> texts = randomTexts(rng, 6000);
    // Contractions and near-contractions, which the tables alone cannot key.
    // "l\xB7" "a" is split only so the hex escape ends before the letter.
    const std::string laDot = std::string("l\xB7") + "a";
    for (const char* s :
         {"l\xB7", "L\xB7", "l-", "L-", laDot.c_str(), "la", "\xB7l", "ll\xB7", "Ll", "l", "L"})
        texts.emplace_back(s);
    for (const bool ci : {false, true}) {
        SCOPED_TRACE(ci ? "case-insensitive" : "case-sensitive");
        int failures = 0;
        for (std::size_t i = 0; i + 1 < texts.size() && failures < 5; ++i) {
            for (const std::size_t j : {i + 1, static_cast<std::size_t>(rng() % texts.size())}) {
                const std::string& a = texts[i];
                const std::string& b = texts[j];
                const int byCollator = sign(collation::compare(a, b, ci));
                const int byKey = sign(keyOf(a, ci).compare(keyOf(b, ci)));
                if (byCollator != byKey) {
                    ++failures;
                    ADD_FAILURE() << hex(a) << "/ " << hex(b) << ": collator " << byCollator << ", key "
                                  << byKey;
                }
            }
        }
    }
}

TEST(CollationKeys, KeysEndInOneZeroByteAndSortLikeTheComparison) {
    std::mt19937 rng(4711);
    const std::vector<std::string> texts = randomTexts(rng, 3000);
    for (const bool ci : {false, true}) {
        SCOPED_TRACE(ci ? "case-insensitive" : "case-sensitive");
        for (const std::string& t : texts) {
            const std::string k = keyOf(t, ci);
            ASSERT_FALSE(k.empty());
            EXPECT_EQ(k.find('\0'), k.size() - 1) << hex(t);
        }
        std::vector<std::string> byCollator = texts, byKey = texts;
        std::stable_sort(
            byCollator.begin(), byCollator.end(),
            [&](const std::string& a, const std::string& b) { return collation::compare(a, b, ci) < 0; });
        std::stable_sort(byKey.begin(), byKey.end(), [&](const std::string& a, const std::string& b) {
            return keyOf(a, ci) < keyOf(b, ci);
        });
        EXPECT_TRUE(byCollator == byKey);
    }
}

// An index sorted in one go after a bulk load (keys computed once per value) shows the order that
// comparing the values pairwise gives, equal keys with the record posted last first: on mostly
// distinct values and on few values (dealt out by value), with and without records posted again
// before the sort.
TEST(CollationKeys, ABulkLoadedIndexWalksInTheComparisonsOrder) {
    std::mt19937 rng(99);
    const std::vector<std::string> many = randomTexts(rng, 2500);
    std::vector<std::string> few;
    few.reserve(3000);
    for (int i = 0; i < 3000; ++i)
        few.push_back(many[rng() % 40]);
    for (const std::vector<std::string>* texts :
         {&many, static_cast<const std::vector<std::string>*>(&few)}) {
        for (const bool ci : {false, true}) {
            SCOPED_TRACE(std::string(texts == &few ? "few values, " : "many values, ") +
                         (ci ? "case-insensitive" : "case-sensitive"));
            MemTable t;
            t.addField("nr");
            t.addField("name", FieldType::String, 50);
            t.addIndexDef({"name", {"name"}, ci ? ixCaseInsensitive : 0u});
            t.setActive(true);
            std::vector<std::size_t> posted; // record numbers, the latest post last
            for (std::size_t i = 0; i < texts->size(); ++i) {
                t.AppendValues(std::vector<std::string>{std::to_string(i), (*texts)[i]});
                posted.push_back(i);
            }
            // Posted again in the insertion order, before the index is first used (the
            // case-insensitive half only, so that the other sorts records in post order).
            for (t.First(); ci && !t.eof(); t.Next()) {
                const std::size_t nr = std::stoul(t.fieldByName("nr").asString());
                if (nr % 7 != 3)
                    continue;
                t.Edit();
                t.fieldByName("name").setAsString((*texts)[nr]);
                t.fieldByName("nr").setAsString(std::to_string(nr));
                t.Post();
                posted.push_back(nr);
            }
            std::vector<std::size_t> expected;
            std::vector<bool> seen(texts->size());
            for (auto it = posted.rbegin(); it != posted.rend(); ++it) {
                if (!seen[*it])
                    expected.push_back(*it);
                seen[*it] = true;
            }
            std::stable_sort(expected.begin(), expected.end(), [&](std::size_t a, std::size_t b) {
                return collation::compare((*texts)[a], (*texts)[b], ci) < 0;
            });
            t.setIndexName("name");
            t.SyncIndexes();
            std::vector<std::size_t> walked;
            for (t.First(); !t.eof(); t.Next())
                walked.push_back(std::stoul(t.fieldByName("nr").asString()));
            EXPECT_TRUE(walked == expected);
        }
    }
}
