#include "platform/settings_store.h"

#include "platform/errors.h"
#include "platform/linefile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmo {

namespace {

constexpr const char* kSection = "[Velmo]";

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

} // namespace

std::string SettingsStore::defaultPath() {
    if (const char* env = std::getenv("VELMO_SETTINGS"); env && *env)
        return env;
    return "/etc/velmo/velmo.ini";
}

std::unique_ptr<SettingsStore> SettingsStore::open() {
    std::string path = defaultPath();
    // Create the key when missing; owner-only from the start since it will hold the password.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    ::close(fd);
    std::unique_ptr<SettingsStore> store(new SettingsStore(path));
    try {
        store->parse(readFileBytes(path));
    } catch (const Exception&) {
        return nullptr;
    }
    return store;
}

void SettingsStore::parse(const std::string& text) {
    bool inKey = false;
    for (const std::string& line : splitLines(text)) {
        if (!line.empty() && line.front() == '[') {
            inKey = line == kSection;
            if (!inKey)
                m_foreignLines.push_back(line);
            continue;
        }
        if (!inKey) {
            m_foreignLines.push_back(line);
            continue;
        }
        std::size_t pos = 0;
        std::string name;
        if (!unquote(line, pos, name) || pos >= line.size() || line[pos] != '=')
            continue; // not a value line
        Entry e{name, line.substr(pos + 1), false, {}};
        std::size_t vpos = pos + 1;
        e.isString = unquote(line, vpos, e.value) && vpos == line.size();
        put(std::move(e));
    }
}

void SettingsStore::put(Entry e) {
    for (Entry& old : m_entries)
        if (old.name == e.name) {
            old = std::move(e);
            return;
        }
    m_entries.push_back(std::move(e));
}

const SettingsStore::Entry* SettingsStore::find(const std::string& name) const {
    for (const Entry& e : m_entries)
        if (e.name == name)
            return &e;
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
    put(Entry{name, quote(value), true, value});
    save();
}

void SettingsStore::save() const {
    Lines lines = m_foreignLines;
    lines.push_back(kSection);
    for (const Entry& e : m_entries)
        lines.push_back(quote(e.name) + "=" + e.raw);
    // The store holds the FTP password: readable by its owner only, whatever mode an older file had.
    writeLines(m_path, lines, WriteOptions{.mode = 0600});
}

} // namespace velmo
