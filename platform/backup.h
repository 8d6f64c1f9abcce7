#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// A way back before the program replaces local files with a server's copies: the files about to be
// replaced are first copied into a folder of their own,
//   <dir>/Sicherung/<yyyy-mm-dd_hh-mm-ss>[_<n>]/<name>
// named by the local time, so that the folders sort by when they were made. A second backup in the
// same second gets "_2", "_3", ...; mkdir picks the name, so two program runs never share a folder.
// What each case gets:
//   - a name with no file in dir (or only a directory of that name): nothing to keep, not copied;
//   - none of the names exists: no folder is made;
//   - a symbolic link: the file it leads to is copied, as that is what a download replaces;
//   - a copy that fails (a full disk, Sicherung not a folder, an unreadable file): the new folder is
//     removed again and Exception says why; the caller must then replace nothing;
//   - after a complete backup only the newest `keep` folders of the form above stay; the one just
//     made is never removed, also when the clock went back. Anything else in Sicherung is left.
namespace velmo {

inline constexpr const char* kBackupFolderName = "Sicherung";
inline constexpr std::size_t kBackupsKept = 10;

struct Backup {
    // The folder the copies are in; empty when nothing was copied.
    std::string folder;
    // The names copied, in the order given, each once.
    std::vector<std::string> names;
};

// Copies those of names (bare UTF-8 file names in dir) that exist into a new backup folder.
Backup backUpBeforeReplacing(const std::string& dir, const std::vector<std::string>& names,
                             std::chrono::system_clock::time_point now = std::chrono::system_clock::now(),
                             std::size_t keep = kBackupsKept);

// Takes back the copy of name (its file was not replaced after all); the folder goes with its last
// copy.
void dropFromBackup(Backup& backup, const std::string& name);

// The backup folders below dir's Sicherung, oldest first (full paths).
std::vector<std::string> backupFolders(const std::string& dir);

} // namespace velmo
