#include "datafiles/articlefile.h"
#include "datafiles/catalogindex.h"
#include "datafiles/fieldcheck.h"

#include <gtest/gtest.h>

#include <functional>

using namespace velmo::datafiles;
using velmo::Lines;

TEST(FieldCheck, Rules) {
    using Check = std::function<FieldRule(std::string_view)>;
    const Check name = checkCatalogName, group = checkCatalogGroup, file = checkCatalogFileName;
    const Check firstField = [](std::string_view v) { return checkArticleField(0, v); };
    const Check lastField = [](std::string_view v) { return checkArticleField(kArticleFieldCount - 1, v); };
    const Check customerField = [](std::string_view v) { return checkOrderField(2, v); };
    const Check statusField = [](std::string_view v) { return checkOrderField(12, v); };
    struct Case {
        const char* what;
        Check check;
        std::string value;
        FieldRule rule;
    };
    const std::vector<Case> cases = {
        {"name", name,
         "B\xFC"
         "cher",
         FieldRule::Ok},
        {"name", name, ";A;B", FieldRule::Ok},
        {"name", name, "A;;B", FieldRule::DoubleSemicolon},
        {"name", name, "A;", FieldRule::TrailingSemicolon},
        {"name", name, "A\r", FieldRule::LineBreak},
        {"name", name, "A\nB;;", FieldRule::LineBreak},
        {"group", group, "Stumpen", FieldRule::Ok},
        {"group", group, "", FieldRule::Ok},
        {"group", group, "A;B", FieldRule::Semicolon},
        {"group", group, "\n", FieldRule::LineBreak},
        {"file", file, "kerzen.db", FieldRule::Ok},
        {"file", file, "a;b;.db;", FieldRule::Ok},
        {"file", file, ";kerzen.db", FieldRule::LeadingSemicolon},
        {"file", file, "a;;b", FieldRule::DoubleSemicolon},
        {"file", file, "a\r\n", FieldRule::LineBreak},
        {"file", file,
         "b\xFC"
         "cher 2.db",
         FieldRule::Ok},
        {"file", file, "../kerzen.db", FieldRule::NotAPlainName},
        {"file", file, "..", FieldRule::NotAPlainName},
        {"file", file, "neu..db", FieldRule::NotAPlainName},
        {"file", file, "sub/kerzen.db", FieldRule::NotAPlainName},
        {"file", file, "/etc/passwd", FieldRule::NotAPlainName},
        {"file", file, "..\\kerzen.db", FieldRule::NotAPlainName},
        {"file", file, "a\tb.db", FieldRule::NotAPlainName},
        {"file", file, std::string("a\0b", 3), FieldRule::NotAPlainName},
        {"file", file, "a\x7F", FieldRule::NotAPlainName},
        {"first article field", firstField, "12;5", FieldRule::Ok},
        {"first article field", firstField, ";12", FieldRule::Ok},
        {"first article field", firstField, "12;", FieldRule::TrailingSemicolon},
        {"first article field", firstField, "1;;2", FieldRule::DoubleSemicolon},
        {"last article field", lastField, "http://x;", FieldRule::Ok},
        {"last article field", lastField, "http://x;;y", FieldRule::DoubleSemicolon},
        {"last article field", lastField, "a\nb", FieldRule::LineBreak},
        {"customer field", customerField, ";Name; mit Semikolon", FieldRule::Ok},
        {"customer field", customerField, "Name;", FieldRule::TrailingSemicolon},
        {"customer field", customerField, "A;;B", FieldRule::DoubleSemicolon},
        {"customer field", customerField, "A\r\nB", FieldRule::LineBreak},
        {"status field", statusField, "1;", FieldRule::Ok},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + c.value);
        EXPECT_EQ(c.check(c.value), c.rule);
    }
}

// The rules are not stricter than needed: each value they refuse would really come back wrong.
TEST(FieldCheck, RefusedValuesWouldNotReadBack) {
    auto catalogReadsBack = [](const std::string& n, const Lines& g, const std::string& f) {
        const CatalogEntry e = splitCatalogLine(buildCatalogLine(n, g, f));
        return e.name == n && e.groups == (g.empty() ? Lines{""} : g) && e.fileName == f;
    };
    ASSERT_TRUE(catalogReadsBack("A", {"G"}, "a.db"));
    EXPECT_FALSE(catalogReadsBack("A;", {"G"}, "a.db"));
    EXPECT_FALSE(catalogReadsBack("A;;B", {"G"}, "a.db"));
    EXPECT_FALSE(catalogReadsBack("A", {"G;H"}, "a.db"));
    EXPECT_FALSE(catalogReadsBack("A", {}, ";a.db"));
    EXPECT_FALSE(catalogReadsBack("A", {}, "a;;b.db"));

    auto articleReadsBack = [](std::size_t field, const std::string& v) {
        ArticleValues a;
        a[field] = v;
        return splitArticleLine(joinArticleLine(a)) == a;
    };
    ASSERT_TRUE(articleReadsBack(0, "12;5"));
    EXPECT_FALSE(articleReadsBack(0, "12;"));
    EXPECT_FALSE(articleReadsBack(5, "a;;b"));
}
