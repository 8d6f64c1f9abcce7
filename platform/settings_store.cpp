#include "platform/settings_store.h"

#include "platform/errors.h"
#include "platform/linefile.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

namespace velmo {

namespace {

constexpr const char* kSection = "[Velmo]";
constexpr const char* kMachineStore = "/etc/velmo/velmo.ini";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string quote(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        if (c == '\r') {
            out += "\\r";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

// Reads a quoted text starting at pos (on the opening quote); returns false when it is not one.
bool unquote(const std::string& s, std::size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"')
        return false;
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < s.size()) {
            char e = s[++pos];
            out += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        } else {
            out += c;
        }
    }
    return false;
}

// "[Velmo]", "[velmo]" and "[VELMO]  " all open the key: people edit this file by hand.
bool isKeySection(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    const std::string_view want = kSection;
    if (line.size() != want.size())
        return false;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(line[i]) != lower(want[i]))
            return false;
    }
    return true;
}

// The reason for the error box; the system's own texts would be English.
std::string reasonText(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "keine Berechtigung";
    case EROFS:
        return "Dateisystem nur lesbar";
    case ENOSPC:
    case EDQUOT:
        return "kein Platz auf dem Datenträger";
    case ENOENT:
        return "Verzeichnis nicht gefunden";
    case ENOTDIR:
        return "ein Teil des Pfades ist kein Verzeichnis";
    case EISDIR:
        return "ist ein Verzeichnis";
    case ENAMETOOLONG:
        return "Pfad zu lang";
    case ELOOP:
        return "zu viele symbolische Verknüpfungen";
    default:
        return "Systemfehler " + std::to_string(error);
    }
}

std::string parentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p; new folders are private, since the store in them holds a password. Returns 0 or errno.
int makeFolders(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    const std::string parent = parentOf(folder);
    if (parent != folder) {
        if (int e = makeFolders(parent))
            return e;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

// Makes sure the store at path can be created, read and written: its folder exists and takes new
// files (the atomic replace writes one beside the store), the file exists and opens for reading
// and writing. Returns 0 or the errno that stopped it.
int prepareStore(const std::string& path) {
    const std::string folder = parentOf(path);
    if (int e = makeFolders(folder))
        return e;
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return errno;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return errno;
    struct stat st {};
    const bool writable = ::fstat(fd, &st) == 0 && (st.st_mode & 0222) != 0;
    ::close(fd);
    // Without any write bit the line writer refuses it even for root.
    return writable ? 0 : EACCES;
}

std::string userStorePath() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + "/velmo/velmo.ini";
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env)
        home = env;
    else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        home = pw->pw_dir;
    return home + "/.config/velmo/velmo.ini";
}

} // namespace

std::vector<std::string> SettingsStore::candidatePaths() {
    if (const char* env = std::getenv("VELMO_SETTINGS"); env && *env)
        return {env};
    return {kMachineStore, userStorePath()};
}

std::string SettingsStore::defaultPath() {
    return candidatePaths().front();
}

std::unique_ptr<SettingsStore> SettingsStore::openFirst(const std::vector<std::string>& paths) {
    std::string failures;
    for (const std::string& path : paths) {
        int error = prepareStore(path);
        if (error == 0) {
            std::unique_ptr<SettingsStore> store(new SettingsStore(path));
            try {
                errno = 0;
                store->parse(readFileBytes(path));
                return store;
            } catch (const Exception&) {
                error = errno != 0 ? errno : EACCES;
            }
        }
        if (!failures.empty())
            failures += "; ";
        failures += path + ": " + reasonText(error);
    }
    throw Exception(formatMessage("Die Einstellungen können nicht geöffnet werden (%s)", failures));
}

std::unique_ptr<SettingsStore> SettingsStore::openOrThrow() {
    return openFirst(candidatePaths());
}

std::unique_ptr<SettingsStore> SettingsStore::open() {
    try {
        return openOrThrow();
    } catch (const Exception&) {
        return nullptr;
    }
}

void SettingsStore::parse(const std::string& text) {
    std::string_view bytes = text;
    // A mark that was there goes back on save: otherwise a second mark, or one the first line
    // happens to begin with, would be taken for the mark on the next read and the line changed.
    m_byteOrderMark = bytes.starts_with(kByteOrderMark);
    if (m_byteOrderMark)
        bytes.remove_prefix(kByteOrderMark.size());
    m_lines = splitLines(bytes);
    bool inKey = false;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const std::string& line = m_lines[i];
        if (!line.empty() && line.front() == '[') {
            inKey = isKeySection(line);
            if (inKey)
                m_insertAt = i + 1;
            continue;
        }
        if (!inKey)
            continue;
        std::size_t pos = 0;
        std::string name;
        if (!unquote(line, pos, name) || pos >= line.size() || line[pos] != '=')
            continue; // a comment or a line we cannot read: kept as it is
        Entry e{name, false, {}, i};
        std::size_t vpos = pos + 1;
        e.isString = unquote(line, vpos, e.value) && vpos == line.size();
        m_entries.push_back(std::move(e));
        m_insertAt = i + 1;
    }
}

std::unique_ptr<SettingsStore> SettingsStore::fromText(std::string path, const std::string& text) {
    std::unique_ptr<SettingsStore> store(new SettingsStore(std::move(path)));
    store->parse(text);
    return store;
}

std::string SettingsStore::fileText(const std::vector<std::string>& lines) const {
    return (m_byteOrderMark ? std::string(kByteOrderMark) : std::string()) + joinLines(lines);
}

std::string SettingsStore::text() const {
    return fileText(m_lines);
}

std::vector<std::string> SettingsStore::valueNames() const {
    std::vector<std::string> names;
    for (const Entry& e : m_entries)
        if (std::find(names.begin(), names.end(), e.name) == names.end())
            names.push_back(e.name);
    return names;
}

const SettingsStore::Entry* SettingsStore::find(const std::string& name) const {
    // A name written twice: the later line counts, as it always has.
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
        if (it->name == name)
            return &*it;
    return nullptr;
}

bool SettingsStore::valueExists(const std::string& name) const {
    return find(name) != nullptr;
}

std::string SettingsStore::readString(const std::string& name) const {
    const Entry* e = find(name);
    if (!e)
        return {};
    if (!e->isString)
        throw Exception(formatMessage("Ungültiger Datentyp für '%s'", name));
    return e->value;
}

void SettingsStore::writeString(const std::string& name, const std::string& value) {
    const std::string line = quote(name) + "=" + quote(value);
    // Changed in a copy, so that a failed write leaves the store as the file still is.
    std::vector<std::string> lines = m_lines;
    std::vector<Entry> entries = m_entries;
    std::size_t insertAt = m_insertAt;
    if (const Entry* found = find(name)) {
        Entry& e = entries[static_cast<std::size_t>(found - m_entries.data())];
        lines[e.line] = line;
        e.isString = true;
        e.value = value;
    } else {
        if (insertAt == std::string::npos) {
            lines.emplace_back(kSection);
            insertAt = lines.size();
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
        for (Entry& e : entries)
            if (e.line >= insertAt)
                ++e.line;
        entries.push_back(Entry{name, true, value, insertAt});
        ++insertAt;
    }
    // The store holds the FTP password: readable by its owner only, whatever mode an older file had.
    writeFileBytes(m_path, fileText(lines), WriteOptions{.mode = 0600});
    m_lines = std::move(lines);
    m_entries = std::move(entries);
    m_insertAt = insertAt;
}

} // namespace velmo
