#include "platform/atomic_file.h"

#include "platform/errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <random>

namespace velmo {

namespace {

constexpr int kMaxLinkHops = 40;

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a write to path ends up in: symbolic links in the last component are followed, also
// when the final target does not exist yet (it is then created, as open() would do).
bool followLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), buf, sizeof buf - 1);
        if (n < 0)
            return false;
        const std::string link(buf, static_cast<std::size_t>(n));
        if (link.front() == '/')
            target = link;
        else
            target = directoryOf(target).append("/").append(link);
    }
    return false;
}

bool isWriteProtected(const std::string& path, const struct stat& st) {
    return ::access(path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0;
}

bool writtenInPlace(const struct stat& st) {
    return S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

// A fresh file beside target. open() with O_EXCL and 0666 lets the kernel apply the umask, so the
// process-wide umask is never touched (another thread may be creating files meanwhile).
int createTemporary(const std::string& target, std::string& temp) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const std::string dir = directoryOf(target);
    const auto slash = target.rfind('/');
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    // The temporary name is the target's with 15 bytes more; a target name near the folder's limit
    // is shortened for it (at a UTF-8 character's start), so that every name the folder takes can
    // be written.
    const long nameMax = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    constexpr std::size_t kDecoration = 15; // "." + "." + up to 9 digits + ".tmp"
    if (nameMax > static_cast<long>(kDecoration) &&
        name.size() + kDecoration > static_cast<std::size_t>(nameMax)) {
        std::size_t keep = static_cast<std::size_t>(nameMax) - kDecoration;
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
            --keep;
        name.resize(keep);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = dir;
        temp.append("/.")
            .append(name)
            .append(".")
            .append(std::to_string(random() % 1000000000ULL))
            .append(".tmp");
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

void checkWritable(const std::string& path) {
    std::string target;
    struct stat st {};
    if (!followLinks(path, target))
        throw EFCreateError(formatMessage(kFileCreateError, path));
    if (::stat(target.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || isWriteProtected(target, st)))
        throw EFCreateError(formatMessage(kFileCreateError, path));
}

AtomicFileWriter::AtomicFileWriter(const std::string& path, WriteOptions options) : m_path(path) {
    if (!followLinks(path, m_target))
        fail();
    struct stat old {};
    const bool exists = ::stat(m_target.c_str(), &old) == 0;
    if (exists && (S_ISDIR(old.st_mode) || isWriteProtected(m_target, old)))
        fail();

    if (exists && writtenInPlace(old)) {
        // Non-blocking open: a FIFO without a reader must not hang us; it is refused instead.
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0)
            fail();
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
        return;
    }

    m_fd = createTemporary(m_target, m_temp);
    if (m_fd < 0) {
        m_temp.clear();
        fail();
    }
    bool ok = true;
    if (exists) {
        // Keep the owner where we may (root replacing another user's file); a plain user cannot
        // and keeps the file as their own.
        (void)::fchown(m_fd, old.st_uid, old.st_gid);
        ok = ::fchmod(m_fd, options.mode ? *options.mode & 0777 : old.st_mode & 0777) == 0;
    } else if (options.mode) {
        ok = ::fchmod(m_fd, *options.mode & 0777) == 0;
    }
    if (!ok) {
        ::close(m_fd);
        m_fd = -1;
        ::unlink(m_temp.c_str());
        fail();
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed && !m_temp.empty())
        ::unlink(m_temp.c_str());
}

void AtomicFileWriter::fail() const {
    throw EFCreateError(formatMessage(kFileCreateError, m_path));
}

void AtomicFileWriter::write(std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail();
        p += n;
        left -= static_cast<std::size_t>(n);
        m_written += n;
    }
    if (!inPlace())
        writeBehind();
}

// A large file is handed to the disk while it is still being written, a few mebibytes at a time,
// so the flush in commit() waits only for the last piece instead of the whole file, and a download
// does not pile up a gigabyte of dirty pages first. Only a start: nothing here waits for the disk,
// and commit() still flushes everything.
void AtomicFileWriter::writeBehind() {
    constexpr off_t kPiece = off_t{8} << 20;
    while (m_written - m_handedToDisk >= kPiece) {
        (void)::sync_file_range(m_fd, m_handedToDisk, kPiece, SYNC_FILE_RANGE_WRITE);
        m_handedToDisk += kPiece;
    }
}

void AtomicFileWriter::commit() {
    const int fd = m_fd;
    m_fd = -1;
    if (inPlace()) {
        m_committed = true;
        if (::close(fd) != 0)
            fail();
        return;
    }
    // Flushed before the rename: after a crash the name shows either the old or the whole new file.
    const bool synced = ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!synced || !closed || ::rename(m_temp.c_str(), m_target.c_str()) != 0)
        fail();
    m_committed = true;
    // The rename itself reaches the disk with the directory; the new file is in place either way,
    // so a directory that cannot be flushed is no failure of the write.
    if (const int dir = ::open(directoryOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

void writeFileAtomically(const std::string& path, std::string_view bytes, WriteOptions options) {
    AtomicFileWriter writer(path, options);
    writer.write(bytes);
    writer.commit();
}

} // namespace velmo
