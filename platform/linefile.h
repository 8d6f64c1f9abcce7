#pragma once

#include "platform/atomic_file.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Whole-file access to the shop's line files. Lines are raw bytes; a path is UTF-8 (the file
// system's encoding).
namespace velmo {

using Lines = std::vector<std::string>;

// Splits at CR LF, a lone CR or a lone LF. A last line without a break is still a line; an empty
// text has no lines.
Lines splitLines(std::string_view bytes);
// The same lines as views into bytes, for readers of large files that keep only a part of each.
std::vector<std::string_view> splitLineViews(std::string_view bytes);

// Every line followed by CR LF, the last one included.
std::string joinLines(const Lines& lines);

// A regular file (or anything but a directory) at path.
bool fileExists(const std::string& path);
// Anything at all at path.
bool pathExists(const std::string& path);

// A regular file opened for reading. Anything else (a directory, FIFO, device) and a file that
// cannot be opened are refused with EFOpenError "Datei %s kann nicht geöffnet werden"; opening
// never blocks, not even on a FIFO without a writer.
class ReadableFile {
public:
    explicit ReadableFile(const std::string& path);
    ~ReadableFile();
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    int handle() const { return m_fd; }
    std::int64_t size() const { return m_size; }
    const std::string& path() const { return m_path; }
    [[noreturn]] void fail() const;

private:
    std::string m_path;
    int m_fd = -1;
    std::int64_t m_size = 0;
};

// Whole file as bytes. Throws EFOpenError "Datei %s kann nicht geöffnet werden".
std::string readFileBytes(const std::string& path);
Lines readLines(const std::string& path);

// Replaces the file through the atomic writer (atomic_file.h): a failed write leaves the old file as
// it was; a write-protected target is refused. Throws EFCreateError "Datei %s kann nicht erstellt
// werden".
void writeFileBytes(const std::string& path, std::string_view bytes, WriteOptions options = {});
void writeLines(const std::string& path, const Lines& lines, WriteOptions options = {});

// directory + separator + name, with no check for a separator already there (an empty directory
// gives a path below the root).
std::string joinPath(const std::string& directory, const std::string& name);

// The part after the last '/' or '\'.
std::string_view baseName(std::string_view path);

// The longest file name, in bytes, that directory takes (pathconf's _PC_NAME_MAX); none when it
// sets no limit or cannot tell.
std::optional<std::size_t> fileNameMax(const std::string& directory);

// The process's current working directory (UTF-8).
std::string currentDirectory();

} // namespace velmo
