#pragma once

// What every fuzz target shares: the input as bytes, and a check that aborts with a message (so that
// libFuzzer keeps the input) when a property does not hold.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace velmo::fuzz {

inline std::string_view bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char* what) {
    if (!holds)
        fail(what);
}

} // namespace velmo::fuzz
