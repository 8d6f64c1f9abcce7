// Freed memory goes back to the system when asked.
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

long residentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

} // namespace

// A table's worth of small records freed while a later allocation holds the top of the heap: the
// allocator keeps the memory until it is told to let go.
TEST(ReleaseFreeMemory, FreedRecordsLeaveTheProcess) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's allocator keeps freed memory in quarantine";
#endif
    std::vector<std::unique_ptr<char[]>> records;
    for (int i = 0; i < 1'000'000; ++i) {
        records.emplace_back(new char[200]);
        records.back()[0] = 1;
    }
    const auto pin = std::make_unique<char[]>(200);
    const long full = residentKb();
    records.clear();
    records.shrink_to_fit();
    velmo::releaseFreeMemory();
    const long after = residentKb();
    EXPECT_LT(after, full - 100'000) << "resident before freeing " << full << " kB, after " << after << " kB";
}
