#pragma once

#include "platform/linefile.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the FTP browser makes of a server listing and of file names, without any widget: the rows of
// its remote grid, the transfer type a name travels in, and which remote names may become local
// files. Everything here is bytes as the server sent them (Windows-1252).
namespace velmo::browser {

// The grid's columns.
enum Column : int {
    ColKind = 0,  // "[D]" for a directory, else " "
    ColName = 1,  // everything after the eighth word
    ColLinks = 2, // the words keep their trailing blank
    ColOwner = 3,
    ColGroup = 4,
    ColSize = 5,
    ColDate = 6,  // words six to eight
    ColPerms = 7, // the first word
    ColumnCount = 8,
};

// One row of the remote grid: its cells side by side in a text it shares with the other rows of its
// listing, so that a listing of many thousand lines is one allocation, not one a cell or a row.
class GridRow {
public:
    GridRow() = default;
    // The cells in column order; fewer leave the later ones empty.
    GridRow(std::initializer_list<std::string_view> cells);

    std::string_view operator[](std::size_t column) const {
        if (!m_text)
            return {};
        const std::uint32_t from = column == 0 ? m_start : m_ends[column - 1];
        return std::string_view(*m_text).substr(from, m_ends[column] - from);
    }
    // Alike when every cell is.
    bool operator==(const GridRow& other) const;

private:
    friend GridRow gridRow(std::string_view line);
    friend std::vector<GridRow> gridRows(const Lines& listing);
    // The cells of a listing line appended to text; the row still has to be given the text.
    static GridRow cut(std::string_view line, std::string& text);

    std::shared_ptr<const std::string> m_text;
    std::uint32_t m_start = 0;
    std::array<std::uint32_t, ColumnCount> m_ends{};
};

inline constexpr std::string_view DirectoryMark = "[D]";

// One listing line cut into the grid's cells, word by word. A word runs up to and including the
// first blank; after each word the line loses it and its leading blanks. A line of fewer than nine
// words leaves the later columns empty and its last word becomes the name.
GridRow gridRow(std::string_view line);

// The row that leads to the parent directory.
GridRow parentRow();

// The rows below the grid's header: the parent row, then one row per listing line, the lines in
// ascending order without regard to case (Windows-1252 letters folded, equal lines in their
// listing order).
std::vector<GridRow> gridRows(const Lines& listing);

inline bool isDirectory(const GridRow& row) {
    return row[ColKind] == DirectoryMark;
}

// "TYPE A" for the storefront's data and script files (extension exactly "db", "txt", "pl" or
// "cgi", the extension being everything after the first "."; a name without "." is its own
// extension), "TYPE I" for everything else.
std::string typeCommandFor(std::string_view name);

// The mode of "SITE CHMOD": the permission value's decimal digits (which are the octal ones),
// padded to three, so that a mode of 4 goes out as "004". Servers that take the mode as an
// octal number read both forms alike; some (pyftpdlib among them) refuse fewer than three digits.
std::string chmodModeText(int permissionMode);

// A name from a server listing that may become a file in the local directory: not empty, no
// path separator, no "..", no control character. Anything else could write outside the directory
// or make a file nobody can name.
bool isSafeLocalName(std::string_view name);

// Whether a server name fits as a local file name of at most nameMax bytes. The local name is the
// UTF-8 form, where one Windows-1252 byte can take two or three bytes ("ä" two, "€" three).
bool fitsLocalNameMax(std::string_view name, std::size_t nameMax);

// The permission boxes (owner read, write, execute; group ...; other ...) that a listing's
// permissions word such as "-rwxr-xr-- " ticks; none for a word of another form. An execute place
// counts as ticked for "x", "s" and "t", and as not for "S", "T" and "-".
std::optional<std::array<bool, 9>> permissionBits(std::string_view word);

} // namespace velmo::browser
