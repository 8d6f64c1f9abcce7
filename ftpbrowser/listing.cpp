#include "ftpbrowser/listing.h"

#include "platform/cp1252.h"

#include <algorithm>
#include <numeric>

namespace velmo::browser {

namespace {

// Windows-1252 lower case: ASCII, the Latin-1 letters and the five extra pairs of the 0x80 row.
constexpr unsigned char foldCase(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + 0x20);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<unsigned char>(c + 0x20);
    switch (c) {
    case 0x8A: // Š
    case 0x8C: // Œ
    case 0x8E: // Ž
        return static_cast<unsigned char>(c + 0x10);
    case 0x9F: // Ÿ
        return 0xFF;
    default:
        return c;
    }
}

constexpr std::array<char, 256> kFolded = [] {
    std::array<char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<char>(foldCase(static_cast<unsigned char>(c)));
    return table;
}();

} // namespace

GridRow gridRow(std::string_view line) {
    GridRow row;
    for (int w = 1; w <= 8; ++w) {
        const std::size_t blank = line.find(' ');
        const std::string_view word =
            blank == std::string_view::npos ? std::string_view() : line.substr(0, blank + 1);
        if (w <= 6) {
            row[w] = word;
        } else {
            row[ColDate] += ' ';
            row[ColDate] += word;
        }
        if (blank != std::string_view::npos) {
            line.remove_prefix(blank);
            line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
        }
    }
    row[ColPerms] = std::move(row[ColName]);
    row[ColName] = line;
    row[ColKind] = !row[ColPerms].empty() && row[ColPerms].front() == 'd' ? std::string(DirectoryMark) : " ";
    return row;
}

GridRow parentRow() {
    GridRow row;
    row[ColKind] = DirectoryMark;
    row[ColName] = "..";
    return row;
}

std::vector<GridRow> gridRows(const Lines& listing) {
    // The folded lines side by side in one buffer, so a listing of many thousand lines costs two
    // allocations for its sort keys, not one a line.
    std::size_t total = 0;
    for (const std::string& line : listing)
        total += line.size();
    std::string folded(total, '\0');
    std::vector<std::string_view> keys;
    keys.reserve(listing.size());
    std::size_t at = 0;
    for (const std::string& line : listing) {
        for (std::size_t i = 0; i < line.size(); ++i)
            folded[at + i] = kFolded[static_cast<unsigned char>(line[i])];
        keys.emplace_back(folded.data() + at, line.size());
        at += line.size();
    }
    std::vector<std::size_t> order(listing.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });

    std::vector<GridRow> rows;
    rows.reserve(listing.size() + 1);
    rows.push_back(parentRow());
    for (std::size_t i : order)
        rows.push_back(gridRow(listing[i]));
    return rows;
}

std::string typeCommandFor(std::string_view name) {
    const std::size_t dot = name.find('.');
    const std::string_view ext = dot == std::string_view::npos ? name : name.substr(dot + 1);
    const bool ascii = ext == "db" || ext == "txt" || ext == "pl" || ext == "cgi";
    return ascii ? "TYPE A" : "TYPE I";
}

std::string chmodModeText(int permissionMode) {
    std::string digits = std::to_string(permissionMode);
    if (digits.size() < 3)
        digits.insert(0, 3 - digits.size(), '0');
    return digits;
}

bool isSafeLocalName(std::string_view name) {
    if (name.empty() || name == "." || name.find("..") != std::string_view::npos)
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return c == '/' || c == '\\' || b < 0x20 || b == 0x7F;
    });
}

bool fitsLocalNameMax(std::string_view name, std::size_t nameMax) {
    return cp1252::toUtf8(name).size() <= nameMax;
}

std::optional<std::array<bool, 9>> permissionBits(std::string_view word) {
    // The type character, nine places, then at most a blank (the cell keeps the word's blank) or an
    // ACL or attribute mark.
    while (!word.empty() && word.back() == ' ')
        word.remove_suffix(1);
    if (word.size() == 11 && (word.back() == '+' || word.back() == '@' || word.back() == '.'))
        word.remove_suffix(1);
    if (word.size() != 10)
        return std::nullopt;
    std::array<bool, 9> bits{};
    for (std::size_t i = 0; i < 9; ++i) {
        const char c = word[i + 1];
        switch (i % 3) {
        case 0:
            if (c != 'r' && c != '-')
                return std::nullopt;
            bits[i] = c == 'r';
            break;
        case 1:
            if (c != 'w' && c != '-')
                return std::nullopt;
            bits[i] = c == 'w';
            break;
        default:
            if (c != 'x' && c != 's' && c != 't' && c != 'S' && c != 'T' && c != '-')
                return std::nullopt;
            bits[i] = c == 'x' || c == 's' || c == 't';
        }
    }
    return bits;
}

} // namespace velmo::browser
