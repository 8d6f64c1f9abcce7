#pragma once

#include <optional>
#include <string>

// An exclusive lock on a file that several processes agree on (flock), held while the object lives
// and released by the kernel when the process ends, however it ends. The file is created when
// missing and left in place: removing it would let a second process lock a new file of the same
// name while the first still holds the old one. Two objects of one process that lock the same file
// exclude each other too (each opens the file on its own).
namespace velmo {

class FileLock {
public:
    // Takes the lock without waiting; no value while another holder has it. Throws EFCreateError
    // "Datei %s kann nicht erstellt werden" when the file cannot be opened or created.
    static std::optional<FileLock> tryLock(const std::string& path);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

private:
    explicit FileLock(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

} // namespace velmo
