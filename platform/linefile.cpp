#include "platform/linefile.h"

#include "platform/atomic_file.h"
#include "platform/errors.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmo {

namespace {

// Lines end at CR LF, a lone CR or a lone LF. The ends are found with memchr, which reads many
// bytes at a time: the next LF once, and a CR only up to that LF.
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

} // namespace

Lines splitLines(std::string_view bytes) {
    Lines lines;
    forEachLine(bytes, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

std::vector<std::string_view> splitLineViews(std::string_view bytes) {
    std::vector<std::string_view> lines;
    forEachLine(bytes, [&](std::string_view line) { lines.push_back(line); });
    return lines;
}

std::string joinLines(const Lines& lines) {
    std::size_t total = 0;
    for (const auto& l : lines)
        total += l.size() + 2;
    std::string out;
    out.reserve(total);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

ReadableFile::ReadableFile(const std::string& path) : m_path(path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        fail();
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
    m_size = st.st_size;
}

ReadableFile::~ReadableFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void ReadableFile::fail() const {
    throw EFOpenError(formatMessage(kFileOpenError, m_path));
}

std::string readFileBytes(const std::string& path) {
    const ReadableFile file(path);
    std::string data;
    data.reserve(static_cast<std::size_t>(file.size()));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(file.handle(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            file.fail();
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<std::size_t>(n));
    }
    return data;
}

Lines readLines(const std::string& path) {
    return splitLines(readFileBytes(path));
}

void writeFileBytes(const std::string& path, std::string_view bytes, WriteOptions options) {
    writeFileAtomically(path, bytes, options);
}

void writeLines(const std::string& path, const Lines& lines, WriteOptions options) {
    writeFileBytes(path, joinLines(lines), options);
}

std::string joinPath(const std::string& directory, const std::string& name) {
    return directory + "/" + name;
}

std::string_view baseName(std::string_view path) {
    auto pos = path.find_last_of("/\\");
    return pos == std::string_view::npos ? path : path.substr(pos + 1);
}

std::optional<std::size_t> fileNameMax(const std::string& directory) {
    errno = 0;
    const long max = ::pathconf(directory.c_str(), _PC_NAME_MAX);
    if (max <= 0)
        return std::nullopt;
    return static_cast<std::size_t>(max);
}

std::string currentDirectory() {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf) == nullptr)
        return {};
    return buf;
}

} // namespace velmo
