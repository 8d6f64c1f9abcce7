#include "platform/filelock.h"

#include "platform/errors.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace velmo {

std::optional<FileLock> FileLock::tryLock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        throw EFCreateError(formatMessage("Datei %s kann nicht erstellt werden", path));
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return std::nullopt;
        throw EFCreateError(formatMessage("Datei %s kann nicht erstellt werden", path));
    }
    return FileLock(fd);
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileLock::~FileLock() {
    // Closing the last descriptor of the open file releases the lock.
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace velmo
