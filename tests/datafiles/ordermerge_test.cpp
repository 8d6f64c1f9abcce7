// The file side of the order merge: the lines appended, the written-form check (against a plain
// reference at every offset of the block scan), appends and their roll-back.

#include "datafiles/ordermerge.h"
#include "platform/errors.h"
#include "platform/linefile.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>

using namespace velmo;
using namespace velmo::test;
using namespace velmo::datafiles;

namespace {

TEST(MergedLines, EachLineGetsTheStatusAndTheFirstPositionLineIsLeftOut) {
    struct Case {
        std::string server;
        bool skipFirst;
        std::string merged;
    };
    const Case cases[] = {
        {"", false, ""},
        {"", true, ""},
        {"only\r\n", true, ""},
        {"only", true, ""},
        {"a\r\nb\r\n", false, "a;;0\r\nb;;0\r\n"},
        {"head\nb\rc\r\nd", true, "b;;0\r\nc;;0\r\nd;;0\r\n"},
        {"a\r\n\r\n \t\r\nb", false, "a;;0\r\nb;;0\r\n"},   // blank lines are no orders
        {"\r\nhead\r\n\r\nb", true, "head;;0\r\nb;;0\r\n"}, // a blank first line is the header
        {"x;;1.50\r\n", false, "x;;1.50;;0\r\n"},
        {std::string("\xE4;;\x00\xFF\r\n", 7), false, std::string("\xE4;;\x00\xFF;;0\r\n", 10)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mergedLines(c.server, c.skipFirst), c.merged) << c.server;
        // The result is exactly what reading the lines, leaving out the blank ones, and writing them
        // back with ";;0" gives.
        Lines lines = splitLines(c.server);
        if (c.skipFirst && !lines.empty())
            lines.erase(lines.begin());
        std::erase_if(
            lines, [](const std::string& l) { return l.find_first_not_of(" \t\v\f") == std::string::npos; });
        for (auto& l : lines)
            l += ";;0";
        EXPECT_EQ(mergedLines(c.server, c.skipFirst), joinLines(lines));
    }
}

bool writtenFormReference(const std::string& bytes) {
    return bytes == joinLines(splitLines(bytes));
}

TEST(WrittenForm, AgreesWithRewritingAtEveryOffset) {
    TempDir dir;
    const std::string path = dir.file("f.db");
    EXPECT_TRUE(inWrittenForm(path)); // missing
    std::string base;
    for (int i = 0; i < 30; ++i)
        base += "line " + std::to_string(i) + ";;x\r\n";
    std::vector<std::string> samples = {"",   "\r\n", "a",         "a\r",    "a\n",
                                        "\n", "\r",   "a\r\n\r\n", "\r\r\n", "\n\r"};
    // A stray CR or LF, a missing CR or LF, at every offset across several 8- and 32-byte steps.
    for (std::size_t at = 0; at < 80; ++at) {
        for (char c : {'\r', '\n'}) {
            std::string s = base;
            s.insert(at, 1, c);
            samples.push_back(s);
            std::string t = base;
            if (t[at] == '\r' || t[at] == '\n') {
                t.erase(at, 1);
                samples.push_back(t);
            }
        }
    }
    std::mt19937 rng(7);
    for (int i = 0; i < 300; ++i) {
        std::string s;
        const int n = static_cast<int>(rng() % 90);
        for (int k = 0; k < n; ++k)
            s += "ab\r\n"[rng() % 4];
        samples.push_back(s);
    }
    for (const auto& s : samples) {
        writeBytes(path, s);
        EXPECT_EQ(inWrittenForm(path), writtenFormReference(s)) << ::testing::PrintToString(s);
    }
}

TEST(WrittenForm, NormalisingRewritesOnlyAFileThatIsNotInIt) {
    TempDir dir;
    const std::string path = dir.file("kunden.db");
    writeBytes(path, "a\nb");
    normaliseLineFile(path);
    EXPECT_EQ(readBytes(path), "a\r\nb\r\n");
    struct stat before {
    }, after{};
    ::stat(path.c_str(), &before);
    normaliseLineFile(path);
    ::stat(path.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino); // left alone
}

TEST(Append, AddsInPlaceAndIsCutBack) {
    TempDir dir;
    const std::string path = dir.file("bestellungen.db");
    appendToFile(path, "a;;0\r\n"); // created
    appendToFile(path, "b;;0\r\n");
    EXPECT_EQ(readBytes(path), "a;;0\r\nb;;0\r\n");
    EXPECT_EQ(fileLength(path), 12u);
    truncateFile(path, 6);
    EXPECT_EQ(readBytes(path), "a;;0\r\n");
    truncateFile(path, 100); // never grows
    EXPECT_EQ(readBytes(path), "a;;0\r\n");

    ::chmod(path.c_str(), 0444);
    EXPECT_THROW(appendToFile(path, "c\r\n"), EFCreateError);
    EXPECT_EQ(readBytes(path), "a;;0\r\n");
    ::chmod(path.c_str(), 0644);
    {
        velmo::test::FileSizeLimit limit(8);
        EXPECT_THROW(appendToFile(path, "a long line that does not fit\r\n"), EFCreateError);
    }
    truncateFile(path, 6);
    EXPECT_EQ(readBytes(path), "a;;0\r\n");
}

TEST(ContentHash, TellsBytesApart) {
    EXPECT_EQ(contentHash("abc"), contentHash("abc"));
    EXPECT_NE(contentHash("abc"), contentHash("abd"));
    EXPECT_NE(contentHash(""), contentHash(std::string(1, '\0')));
}

} // namespace
