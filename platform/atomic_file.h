#pragma once

#include <optional>
#include <string>
#include <string_view>

// The one way the program writes a file. A regular file is replaced atomically: the bytes go to a
// temporary file in the same directory, are flushed to disk and then renamed over the target, so a
// failed or abandoned write leaves the old file as it was. Set-user-ID, set-group-ID and sticky bits
// are never carried over. Every failure is EFCreateError "Datei %s kann nicht erstellt werden"
// naming the path as given. What each kind of target and fault gets:
//   - full disk (or a file size limit): the write fails, the temporary file is removed;
//   - a directory we may not create files in: refused before a byte is written;
//   - a symbolic link: followed, also through chains and to a target not there yet; the final
//     target is replaced and the link stays a link;
//   - a directory: refused, whatever it holds stays;
//   - a device, FIFO or socket: written in place and never renamed over (a FIFO without a reader
//     is refused instead of blocking); there is no old content to keep;
//   - a write-protected file: refused, even for a process that could override the protection;
//   - the process killed mid-write: the target is untouched; the partial bytes stay behind in a
//     hidden ".<name>.<number>.tmp" beside it, a name the program never reads (<name> shortened
//     where the whole would be longer than the folder allows: any name the folder takes can be
//     written).
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
    void writeBehind();

    std::string m_path;   // as given, for messages
    std::string m_target; // the file that is replaced, after following symbolic links
    std::string m_temp;
    int m_fd = -1;
    bool m_committed = false;
    long long m_written = 0;      // bytes written so far
    long long m_handedToDisk = 0; // bytes whose write-back was started
};

// Whole-file convenience: all bytes at once.
void writeFileAtomically(const std::string& path, std::string_view bytes, WriteOptions options = {});

} // namespace velmo
