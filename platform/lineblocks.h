#pragma once

#include "platform/linefile.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace velmo {

// Calls take(line) for every line of bytes, as splitLineViews cuts them: lines end at CR LF, a lone
// CR or a lone LF. The ends are found with memchr, which reads many bytes at a time: the next LF
// once, and a CR only up to that LF.
template <class F> void forEachLine(std::string_view bytes, F&& take) {
    const char* const data = bytes.data();
    const std::size_t n = bytes.size();
    auto nextLf = [&](std::size_t from) {
        if (from >= n)
            return n;
        const void* found = std::memchr(data + from, '\n', n - from);
        return found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : n;
    };
    std::size_t start = 0;
    std::size_t lf = nextLf(0); // the next LF at or after start, or n
    while (start < n) {
        if (lf < start)
            lf = nextLf(start);
        const void* cr = std::memchr(data + start, '\r', lf - start);
        const std::size_t stop = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : lf;
        take(bytes.substr(start, stop - start));
        if (stop == n)
            break;
        start = stop + 1;
        if (cr && start < n && data[start] == '\n')
            ++start;
    }
}

// A line file read a block at a time instead of whole, for files too large to hold. Every block
// ends where a line ends (after its break, or at the end of the file), and a CR LF is never parted,
// so the lines of the blocks, each cut with forEachLine, are exactly the lines of the whole file.
// A line longer than the block size makes its block larger.
class LineBlockReader {
public:
    // Opens the file as ReadableFile does (EFOpenError).
    explicit LineBlockReader(const std::string& path, std::size_t blockBytes = std::size_t{1} << 20);

    // The next block of whole lines; false at the end of the file. The view lives until the next
    // call. Throws EFOpenError when reading fails.
    bool next(std::string_view& block);

    std::int64_t fileSize() const { return m_file.size(); }
    // The bytes handed out in blocks so far.
    std::uint64_t bytesDone() const { return m_done; }

private:
    // Reads until the buffer is full or the file ends.
    void fill();

    ReadableFile m_file;
    std::size_t m_capacity;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_begin = 0; // the bytes not yet handed out: [m_begin, m_end)
    std::size_t m_end = 0;
    bool m_eof = false;
    std::uint64_t m_done = 0;
};

} // namespace velmo
