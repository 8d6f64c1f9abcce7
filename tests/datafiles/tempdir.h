#pragma once

#include "tests/support/file_size_limit.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <unistd.h>

// A fresh directory below /tmp, removed with everything in it at the end of the test.
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/velmo-datafiles-XXXXXX";
        const char* made = ::mkdtemp(tmpl);
        path = made ? made : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path, ec);
    }
    std::string file(std::string_view name) const { return path + "/" + std::string(name); }
};

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Root may write anything, so permission-based failures cannot be provoked.
inline bool runningAsRoot() {
    return ::geteuid() == 0;
}

// Every byte value but CR and LF, in order: a text that must survive the line formats unchanged.
inline std::string allBytesButLineBreaks() {
    std::string s;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n')
            s += static_cast<char>(b);
    }
    return s;
}
