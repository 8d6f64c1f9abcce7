#include "platform/backup.h"

#include "platform/atomic_file.h"
#include "platform/errors.h"
#include "platform/linefile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace velmo {

namespace {

namespace fs = std::filesystem;

constexpr const char* kStampFormat = "%Y-%m-%d_%H-%M-%S";
constexpr std::size_t kStampLength = 19; // 2026-12-10_04-30-12

std::string stampOf(std::chrono::system_clock::time_point now) {
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, kStampFormat, &tm);
    return text;
}

bool digitsOnly(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Where a folder name of ours sorts: its time, then its number within that second (1 without a
// suffix). None for a name we did not make.
std::optional<std::pair<std::string, unsigned long>> sortKey(std::string_view name) {
    if (name.size() < kStampLength)
        return std::nullopt;
    const std::string_view stamp = name.substr(0, kStampLength);
    for (std::size_t i = 0; i < kStampLength; ++i) {
        const char expected = i == 4 || i == 7 || i == 13 || i == 16 ? '-' : i == 10 ? '_' : '0';
        if (expected == '0' ? !(stamp[i] >= '0' && stamp[i] <= '9') : stamp[i] != expected)
            return std::nullopt;
    }
    const std::string_view rest = name.substr(kStampLength);
    if (rest.empty())
        return std::pair{std::string(stamp), 1UL};
    if (rest.front() != '_' || rest.size() > 10 || !digitsOnly(rest.substr(1)))
        return std::nullopt;
    return std::pair{std::string(stamp), std::stoul(std::string(rest.substr(1)))};
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        throw EFCreateError(formatMessage("Verzeichnis %s kann nicht erstellt werden", path));
    if (!fs::is_directory(path))
        throw EFCreateError(formatMessage("%s ist kein Verzeichnis", path));
}

// A fresh folder below parent for this second; mkdir decides who gets a name.
std::string makeFreshFolder(const std::string& parent, const std::string& stamp) {
    for (unsigned n = 1;; ++n) {
        std::string path = joinPath(parent, n == 1 ? stamp : stamp + "_" + std::to_string(n));
        if (::mkdir(path.c_str(), 0777) == 0)
            return path;
        if (errno != EEXIST || n >= 1000)
            throw EFCreateError(formatMessage("Verzeichnis %s kann nicht erstellt werden", path));
    }
}

// Copies from to a new file to, through the atomic writer (flushed before it counts).
void copyFile(const std::string& from, const std::string& to) {
    const int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EFOpenError(formatMessage("Datei %s kann nicht geöffnet werden", from));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    AtomicFileWriter out(to);
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EFOpenError(formatMessage("Datei %s kann nicht gelesen werden", from));
        }
        out.write(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    out.commit();
}

void prune(const std::string& dir, const std::string& keepAlways, std::size_t keep) {
    std::vector<std::string> folders = backupFolders(dir);
    std::erase(folders, keepAlways);
    // The one just made counts among those kept.
    const std::size_t others = keep > 0 ? keep - 1 : 0;
    if (folders.size() <= others)
        return;
    folders.resize(folders.size() - others);
    for (const std::string& old : folders) {
        std::error_code ignored; // an old backup left behind is no harm
        fs::remove_all(old, ignored);
    }
}

} // namespace

std::vector<std::string> backupFolders(const std::string& dir) {
    const std::string parent = joinPath(dir, kBackupFolderName);
    std::vector<std::pair<std::pair<std::string, unsigned long>, std::string>> found;
    std::error_code error;
    for (const fs::directory_entry& e : fs::directory_iterator(parent, error)) {
        const std::string name = e.path().filename().string();
        const auto key = sortKey(name);
        std::error_code statError;
        if (key && e.is_directory(statError) && !e.is_symlink(statError))
            found.emplace_back(*key, e.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (auto& f : found)
        paths.push_back(std::move(f.second));
    return paths;
}

Backup backUpBeforeReplacing(const std::string& dir, const std::vector<std::string>& names,
                             std::chrono::system_clock::time_point now, std::size_t keep) {
    Backup backup;
    for (const std::string& name : names)
        if (std::find(backup.names.begin(), backup.names.end(), name) == backup.names.end() &&
            isRegularFile(joinPath(dir, name)))
            backup.names.push_back(name);
    if (backup.names.empty())
        return backup;

    const std::string parent = joinPath(dir, kBackupFolderName);
    try {
        makeDirectory(parent);
        backup.folder = makeFreshFolder(parent, stampOf(now));
        for (const std::string& name : backup.names)
            copyFile(joinPath(dir, name), joinPath(backup.folder, name));
    } catch (const std::exception& e) {
        if (!backup.folder.empty()) {
            std::error_code ignored;
            fs::remove_all(backup.folder, ignored);
        }
        throw Exception(
            formatMessage("Die Dateien, die ersetzt werden sollten, konnten nicht nach %s gesichert "
                          "werden (%s). Es wurde nichts ersetzt",
                          {parent, e.what()}));
    }
    prune(dir, backup.folder, keep);
    return backup;
}

void dropFromBackup(Backup& backup, const std::string& name) {
    const auto it = std::find(backup.names.begin(), backup.names.end(), name);
    if (it == backup.names.end())
        return;
    std::error_code ignored;
    fs::remove(joinPath(backup.folder, name), ignored);
    backup.names.erase(it);
    if (backup.names.empty()) {
        fs::remove(backup.folder, ignored);
        backup.folder.clear();
    }
}

} // namespace velmo
