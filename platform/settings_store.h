#pragma once

#include <memory>
#include <string>
#include <vector>

namespace velmo {

// The workstation's key-value store: one INI-style file holding the key "Velmo" with string values.
// The machine-wide file is /etc/velmo/velmo.ini; where it cannot be created or written (a user
// without root rights), the user's own file serves. VELMO_SETTINGS names a file that replaces both.
// It holds the FTP password, so it is created readable by its owner only.
//
// Layout, one value per line below the key's section:
//     [Velmo]
//     "Currency"="DM"
// String values are quoted with \\ and \" escapes; a value written in any other form (for
// example "Port"=dword:00000015) exists but is not a string. The section name is matched without
// regard to case or trailing blanks, and a UTF-8 byte order mark at the start is skipped. A write
// keeps every line it does not change where it was: comments, other sections, lines it cannot read.
class SettingsStore {
public:
    // The files tried, in order: the one VELMO_SETTINGS names alone when it is set; otherwise the
    // machine-wide file, then $XDG_CONFIG_HOME/velmo/velmo.ini (~/.config/velmo/velmo.ini when
    // XDG_CONFIG_HOME is unset or not absolute).
    static std::vector<std::string> candidatePaths();
    // The first of candidatePaths().
    static std::string defaultPath();

    // Opens the first candidate that can be created, read and written, creating its folders and
    // the file when they are missing. Throws velmo::Exception naming every file tried and why it
    // failed.
    static std::unique_ptr<SettingsStore> openOrThrow();
    // The same over the given files.
    static std::unique_ptr<SettingsStore> openFirst(const std::vector<std::string>& paths);
    // openOrThrow(), with null in place of the error, for callers that go on without settings.
    static std::unique_ptr<SettingsStore> open();

    bool valueExists(const std::string& name) const;
    // A missing value reads as empty text. Throws velmo::Exception "Ungültiger Datentyp für '%s'"
    // for a value that is not a string.
    std::string readString(const std::string& name) const;
    // Writes the value and replaces the file at once. Throws EFCreateError when it cannot.
    void writeString(const std::string& name, const std::string& value);

    const std::string& path() const { return m_path; }

    // The parser and the writer without the file: a store read from text (written back to path),
    // the text its file holds after a write, and the names of the values in the key, each once, in
    // file order.
    static std::unique_ptr<SettingsStore> fromText(std::string path, const std::string& text);
    std::string text() const;
    std::vector<std::string> valueNames() const;

private:
    struct Entry {
        std::string name;
        bool isString;
        std::string value;    // decoded, when isString
        std::size_t line = 0; // its line in m_lines
    };

    explicit SettingsStore(std::string path) : m_path(std::move(path)) {}
    void parse(const std::string& text);
    const Entry* find(const std::string& name) const;
    std::string fileText(const std::vector<std::string>& lines) const;

    std::string m_path;
    // The file as read, line by line; a value's line is rewritten when the value is.
    std::vector<std::string> m_lines;
    std::vector<Entry> m_entries;
    // Where a new value goes: after the last line of the key's section; npos while there is none.
    std::size_t m_insertAt = std::string::npos;
    bool m_byteOrderMark = false; // the file began with one
};

} // namespace velmo
