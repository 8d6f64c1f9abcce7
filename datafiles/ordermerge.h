#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The file side of the order merge: the server's lines become local lines with the status ";;0",
// and the local order files grow by appending in place. Appending gives the same bytes as reading
// the file's lines and writing them back with the new ones, provided the file already is in the
// written form (every line, the last one included, ends with CR LF); a file in another form is
// first rewritten into it. An interrupted append is undone by cutting the file back to the length
// it had before, which the caller records first.
namespace velmo::datafiles {

// The lines of a server order file as the merge appends them: each followed by ";;0" and CR LF.
// skipFirst leaves out the first line (the positions file's). Blank lines (isBlankLine) are left out
// too.
std::string mergedLines(std::string_view serverBytes, bool skipFirst);

// True when the file's bytes are exactly the written form of its own lines (a missing or empty file
// is). Reads the file in blocks; throws EFOpenError when it cannot.
bool inWrittenForm(const std::string& path);

// Brings the file into the written form (an atomic rewrite of its own lines); nothing when it is
// in it already.
void normaliseLineFile(const std::string& path);

// The file's size in bytes; 0 when it is missing.
std::uint64_t fileLength(const std::string& path);

// Appends the bytes to the file (created when missing) and flushes them to disk. A write-protected
// file is refused. Throws EFCreateError "Datei %s kann nicht erstellt werden"; what was written of
// the bytes may then remain, to be cut off with truncateFile.
void appendToFile(const std::string& path, std::string_view bytes);

// Cuts the file back to length bytes (no change when it is shorter). Throws EFCreateError.
void truncateFile(const std::string& path, std::uint64_t length);

// A 64-bit FNV-1a hash, to recognise bytes fetched before.
std::uint64_t contentHash(std::string_view bytes);

} // namespace velmo::datafiles
