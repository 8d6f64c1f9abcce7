#include "ftpbrowser/listing.h"

#include "platform/cp1252.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <stdexcept>

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

GridRow::GridRow(std::initializer_list<std::string_view> cells) {
    auto text = std::make_shared<std::string>();
    std::size_t column = 0;
    for (std::string_view cell : cells) {
        if (column == ColumnCount)
            break;
        text->append(cell);
        m_ends[column++] = static_cast<std::uint32_t>(text->size());
    }
    for (; column < ColumnCount; ++column)
        m_ends[column] = static_cast<std::uint32_t>(text->size());
    m_text = std::move(text);
}

bool GridRow::operator==(const GridRow& other) const {
    for (std::size_t column = 0; column < ColumnCount; ++column)
        if ((*this)[column] != other[column])
            return false;
    return true;
}

GridRow GridRow::cut(std::string_view line, std::string& text) {
    std::array<std::string_view, 8> words; // each with its trailing blank
    for (std::string_view& word : words) {
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos)
            continue;
        word = line.substr(0, blank + 1);
        std::size_t next = blank + 1;
        while (next < line.size() && line[next] == ' ')
            ++next;
        line.remove_prefix(next);
    }
    const std::string_view perms = words[0];
    GridRow row;
    row.m_start = static_cast<std::uint32_t>(text.size());
    auto endCell = [&](std::size_t column) { row.m_ends[column] = static_cast<std::uint32_t>(text.size()); };
    text.append(!perms.empty() && perms.front() == 'd' ? DirectoryMark : " ");
    endCell(ColKind);
    text.append(line); // the name: all that follows the eighth word
    endCell(ColName);
    for (std::size_t w = 1; w <= 4; ++w) {
        text.append(words[w]);
        endCell(ColLinks + w - 1);
    }
    text.append(words[5]);
    text += ' ';
    text.append(words[6]);
    text += ' ';
    text.append(words[7]);
    endCell(ColDate);
    text.append(perms);
    endCell(ColPerms);
    return row;
}

GridRow gridRow(std::string_view line) {
    auto text = std::make_shared<std::string>();
    text->reserve(line.size() + DirectoryMark.size() + 2);
    GridRow row = GridRow::cut(line, *text);
    row.m_text = std::move(text);
    return row;
}

GridRow parentRow() {
    return GridRow{DirectoryMark, ".."};
}

std::vector<GridRow> gridRows(const Lines& listing) {
    // Built in as few and as small buffers as will do: on a virtual machine, first touching the
    // pages of a fresh buffer costs more than the work done in it.
    std::size_t total = 0;
    for (const std::string& line : listing)
        total += line.size();
    // The rows' text: each line's bytes, a kind mark of up to three and two blanks in the date.
    const std::size_t textSize = total + listing.size() * (DirectoryMark.size() + 2);
    if (textSize > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("Das Verzeichnis ist zu groß, um es anzuzeigen.");
    const std::size_t n = listing.size();

    // The folded lines side by side in one buffer, each from where it starts to where the next does.
    const std::unique_ptr<char[]> folded(new char[total]);
    std::vector<std::uint32_t> starts(n + 1);
    char* out = folded.get();
    for (std::size_t i = 0; i < n; ++i) {
        starts[i] = static_cast<std::uint32_t>(out - folded.get());
        for (const char c : listing[i])
            *out++ = kFolded[static_cast<unsigned char>(c)];
    }
    starts[n] = static_cast<std::uint32_t>(total);
    auto key = [&](std::size_t i) {
        return std::string_view(folded.get() + starts[i], starts[i + 1] - starts[i]);
    };

    // Sorted by the folded lines, equal ones in the listing's order.
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), std::uint32_t{0});
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const int byKey = key(a).compare(key(b));
        return byKey != 0 ? byKey < 0 : a < b;
    });
    std::vector<std::uint32_t> rank(n); // each line's row
    for (std::size_t k = 0; k < n; ++k)
        rank[order[k]] = static_cast<std::uint32_t>(k + 1);

    // The rows cut in the listing's order, which reads the lines and writes the text front to back,
    // each put in its sorted place.
    auto text = std::make_shared<std::string>();
    text->reserve(textSize);
    const std::shared_ptr<const std::string> shared = text;
    std::vector<GridRow> rows(n + 1);
    rows[0] = parentRow();
    for (std::size_t i = 0; i < n; ++i) {
        GridRow& row = rows[rank[i]];
        row = GridRow::cut(listing[i], *text);
        row.m_text = shared;
    }
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
