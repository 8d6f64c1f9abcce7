// A line file read in blocks of whole lines.
#include "platform/errors.h"
#include "platform/lineblocks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

using namespace velmo;

namespace {

std::string tempPath() {
    return (std::filesystem::temp_directory_path() / ("velmo-blocks-" + std::to_string(::getpid()))).string();
}

// Texts of short lines with every kind of break, read in blocks of every small size: the lines of
// the blocks are the lines of the whole text, and every block but the last ends after a break. A
// CR at a block's end that an LF follows in the file, and lines longer than a block, are the cases
// that would part a line.
TEST(LineBlockReader, BlocksHoldTheWholeLines) {
    const std::string path = tempPath();
    std::mt19937 rng(5);
    const char alphabet[] = {'a', 'b', '\r', '\n', '\r', '\n', 'c'};
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const std::size_t length = rng() % 120;
        for (std::size_t i = 0; i < length; ++i)
            text += round % 7 == 0 ? 'x' : alphabet[rng() % sizeof alphabet];
        std::ofstream(path, std::ios::binary) << text;
        std::vector<std::string_view> want = splitLineViews(text);

        const std::size_t blockBytes = 2 + rng() % 16;
        LineBlockReader reader(path, blockBytes);
        EXPECT_EQ(reader.fileSize(), static_cast<std::int64_t>(text.size()));
        std::vector<std::string> got;
        std::string joined;
        std::string_view block;
        while (reader.next(block)) {
            ASSERT_FALSE(block.empty());
            joined += block;
            if (joined.size() < text.size()) {
                ASSERT_TRUE(block.back() == '\n' || block.back() == '\r') << round;
                ASSERT_FALSE(block.back() == '\r' && text[joined.size()] == '\n') << round;
            }
            forEachLine(block, [&](std::string_view line) { got.emplace_back(line); });
        }
        EXPECT_EQ(joined, text) << round;
        EXPECT_EQ(reader.bytesDone(), text.size());
        EXPECT_EQ(got, std::vector<std::string>(want.begin(), want.end())) << round;
    }
    std::filesystem::remove(path);
}

TEST(LineBlockReader, MissingFileIsRefused) {
    EXPECT_THROW(LineBlockReader(tempPath() + "-fehlt"), EFOpenError);
}

} // namespace
