#include "datafiles/ordermerge.h"

#include "datafiles/orderfiles.h"
#include "platform/errors.h"
#include "platform/linefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace velmo::datafiles {

namespace {

constexpr const char* kCreateError = "Datei %s kann nicht erstellt werden";
constexpr const char* kOpenError = "Datei %s kann nicht geöffnet werden";

[[noreturn]] void cannotWrite(const std::string& path) {
    throw EFCreateError(formatMessage(kCreateError, path));
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

} // namespace

std::string mergedLines(std::string_view serverBytes, bool skipFirst) {
    std::string out;
    out.reserve(serverBytes.size() + serverBytes.size() / 8 + 16);
    bool first = true;
    std::size_t pos = 0;
    while (pos < serverBytes.size()) {
        const std::size_t end = serverBytes.find_first_of("\r\n", pos);
        const std::size_t stop = end == std::string_view::npos ? serverBytes.size() : end;
        // Blank lines are no orders; taken over they would be lines no reader can cut.
        if (!(first && skipFirst) && !isBlankLine(serverBytes.substr(pos, stop - pos))) {
            out.append(serverBytes.substr(pos, stop - pos));
            out.append(";;0\r\n");
        }
        first = false;
        pos = stop;
        if (pos < serverBytes.size()) {
            // CR LF, a lone CR or a lone LF ends the line.
            if (serverBytes[pos] == '\r' && pos + 1 < serverBytes.size() && serverBytes[pos + 1] == '\n')
                ++pos;
            ++pos;
        }
    }
    return out;
}

namespace {

// The high bit of every byte of x that equals the byte b (no false hits).
inline std::uint64_t bytesEqual(std::uint64_t x, unsigned char b) {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t y = x ^ (0x0101010101010101ULL * b);
    return ~(((y & low7) + low7) | y | low7);
}

// Looks for a CR or LF that is not part of a CR LF pair, eight bytes at a time: the check has to
// read files of hundreds of megabytes at close to memory speed.
struct LineEndScan {
    bool bad = false;
    bool lastWasCr = false;
    unsigned char lastByte = 0;

    void add(const unsigned char* p, std::size_t n) {
        std::uint64_t badBits = 0;
        std::size_t i = 0;
#ifdef __SSE2__
        // 32 bytes a step: one mask bit per byte, byte k - 1 one bit below byte k.
        const __m128i crs = _mm_set1_epi8('\r'), lfs = _mm_set1_epi8('\n');
        for (; i + 32 <= n; i += 32) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
            const std::uint32_t cr = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, crs))) |
                                     static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, crs)))
                                         << 16;
            const std::uint32_t lf = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, lfs))) |
                                     static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, lfs)))
                                         << 16;
            const std::uint32_t carry = lastWasCr ? 1u : 0u;
            badBits |= lf & ~((cr << 1) | carry);
            badBits |= carry & ~lf;
            badBits |= cr & ~(lf >> 1) & 0x7FFFFFFFu;
            lastWasCr = (cr >> 31) != 0;
        }
#endif
        for (; i + 8 <= n; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            const std::uint64_t cr = bytesEqual(w, '\r'), lf = bytesEqual(w, '\n');
            // Little-endian: byte k - 1 lies 8 bits below byte k. An LF needs a CR before it; a CR
            // needs an LF after it (the top byte's partner is in the next word).
            const std::uint64_t carry = lastWasCr ? 0x80ULL : 0;
            badBits |= lf & ~((cr << 8) | carry);
            badBits |= carry & ~lf;
            badBits |= cr & ~(lf >> 8) & ~(0x80ULL << 56);
            lastWasCr = (cr >> 63) != 0;
        }
        for (; i < n; ++i) {
            if (lastWasCr != (p[i] == '\n'))
                badBits = 1;
            lastWasCr = p[i] == '\r';
        }
        bad = bad || badBits != 0;
        if (n > 0)
            lastByte = p[n - 1];
    }
};

static_assert(std::endian::native == std::endian::little);

} // namespace

bool inWrittenForm(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT)
            return true;
        throw EFOpenError(formatMessage(kOpenError, path));
    }
    // Written form: every LF has a CR before it, there are no other CRs, and the file ends with
    // CR LF (or is empty).
    std::vector<unsigned char> block(1 << 20);
    LineEndScan scan;
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd.get(), block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EFOpenError(formatMessage(kOpenError, path));
        }
        if (n == 0)
            break;
        scan.add(block.data(), static_cast<std::size_t>(n));
        if (scan.bad)
            return false;
        total += static_cast<std::uint64_t>(n);
    }
    return total == 0 || (!scan.lastWasCr && scan.lastByte == '\n');
}

void normaliseLineFile(const std::string& path) {
    if (!inWrittenForm(path))
        writeLines(path, readLines(path));
}

std::uint64_t fileLength(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

void appendToFile(const std::string& path, std::string_view bytes) {
    struct stat st {};
    // The same rule as for replacing a file: write-protected means refused, also for root.
    if (::stat(path.c_str(), &st) == 0 &&
        (!S_ISREG(st.st_mode) || ::access(path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0))
        cannotWrite(path);
    Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        cannotWrite(path);
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            cannotWrite(path);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::fsync(fd.get()) != 0 || ::close(fd.release()) != 0)
        cannotWrite(path);
}

void truncateFile(const std::string& path, std::uint64_t length) {
    if (fileLength(path) <= length)
        return;
    Fd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::ftruncate(fd.get(), static_cast<off_t>(length)) != 0 || ::fsync(fd.get()) != 0)
        cannotWrite(path);
}

std::uint64_t contentHash(std::string_view bytes) {
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

} // namespace velmo::datafiles
