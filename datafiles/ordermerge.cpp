#include "datafiles/ordermerge.h"

#include "platform/errors.h"
#include "platform/linefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
        if (!(first && skipFirst)) {
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

bool inWrittenForm(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT)
            return true;
        throw EFOpenError(formatMessage(kOpenError, path));
    }
    // Written form: every LF has a CR before it, there are no other CRs, and the file ends with
    // CR LF. Counting the CRs separately lets both scans run at memory speed.
    std::vector<char> block(1 << 20);
    std::uint64_t crs = 0, lfs = 0;
    char previous = '\n';
    char beforeLast = 0;
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(fd.get(), block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EFOpenError(formatMessage(kOpenError, path));
        }
        if (n == 0)
            break;
        const char* data = block.data();
        crs += static_cast<std::uint64_t>(std::count(data, data + n, '\r'));
        for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\n', data + n - p)));) {
            const char before = p == data ? previous : p[-1];
            if (before != '\r')
                return false;
            ++lfs;
            ++p;
        }
        beforeLast = n >= 2 ? data[n - 2] : previous;
        previous = data[n - 1];
        any = true;
    }
    if (!any)
        return true;
    return crs == lfs && previous == '\n' && beforeLast == '\r';
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
