#include "platform/linefile.h"

#include "platform/atomic_file.h"
#include "platform/errors.h"
#include "platform/lineblocks.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmo {

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
