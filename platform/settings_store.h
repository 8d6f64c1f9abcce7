#pragma once

#include <memory>
#include <string>
#include <vector>

namespace velmo {

// The machine-wide key-value store of the workstation: one INI-style file holding the key "Velmo"
// with string values. The file is at /etc/velmo/velmo.ini unless VELMO_SETTINGS names another path.
// It holds the FTP password, so it is created readable by its owner only.
//
// Layout, one value per line below the key's section:
//     [Velmo]
//     "Currency"="DM"
// String values are quoted with \\ and \" escapes; a value written in any other form (for
// example "Port"=dword:00000015) exists but is not a string.
class SettingsStore {
public:
    // Opens the key for reading and writing, creating the file when it is missing. Returns null when
    // the store cannot be opened or created (no message: the caller carries on without settings).
    static std::unique_ptr<SettingsStore> open();
    static std::string defaultPath();

    bool valueExists(const std::string& name) const;
    // A missing value reads as empty text. Throws velmo::Exception "Ungültiger Datentyp für '%s'"
    // for a value that is not a string.
    std::string readString(const std::string& name) const;
    // Writes the value and replaces the file at once. Throws EFCreateError when it cannot.
    void writeString(const std::string& name, const std::string& value);

    const std::string& path() const { return m_path; }

private:
    struct Entry {
        std::string name;
        std::string raw; // the text after '=' as it stands in the file
        bool isString;
        std::string value; // decoded, when isString
    };

    explicit SettingsStore(std::string path) : m_path(std::move(path)) {}
    void parse(const std::string& text);
    void save() const;
    const Entry* find(const std::string& name) const;
    void put(Entry e);

    std::string m_path;
    std::vector<std::string> m_foreignLines; // lines outside the key, kept as they are
    std::vector<Entry> m_entries;
};

} // namespace velmo
