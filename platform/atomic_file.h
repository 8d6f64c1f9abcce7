#pragma once

#include <optional>
#include <string>
#include <string_view>

// The one way the program writes a file. A regular file is replaced atomically: the bytes go to a
// temporary file in the same directory, are flushed to disk and then renamed over the target, so a
// failed or abandoned write leaves the old file as it was. A symbolic link is followed (its target
// is replaced, the link stays); a device, FIFO or socket is written in place and never renamed
// over. Set-user-ID, set-group-ID and sticky bits are never carried over. Every failure is
// EFCreateError "Datei %s kann nicht erstellt werden" naming the path as given.
namespace velmo {

struct WriteOptions {
    // Permission bits for the written file, for example 0600 for one that holds a password.
    // Without them a replaced file keeps its permission bits and a new one gets 0666 less the
    // process's umask.
    std::optional<unsigned> mode;
};

// Refuses (EFCreateError) a target that is a directory or exists but is write-protected; a file
// without any write bit counts as write-protected even for a process that could override it.
void checkWritable(const std::string& path);

class AtomicFileWriter {
public:
    // Checks the target and opens the temporary file (or the device in place).
    explicit AtomicFileWriter(const std::string& path, WriteOptions options = {});
    // Without commit() the temporary file is removed and the target stays untouched.
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(std::string_view bytes);
    // Flushes and puts the written bytes in place of the target.
    void commit();
    // True when the target is a device, FIFO or socket that is written directly.
    bool inPlace() const { return m_temp.empty(); }

private:
    [[noreturn]] void fail() const;

    std::string m_path;   // as given, for messages
    std::string m_target; // the file that is replaced, after following symbolic links
    std::string m_temp;
    int m_fd = -1;
    bool m_committed = false;
};

// Whole-file convenience: all bytes at once.
void writeFileAtomically(const std::string& path, std::string_view bytes, WriteOptions options = {});

} // namespace velmo
