// The FTP browser's grid cells from a listing line: no byte but blanks between words is lost or
// invented, each word cell is one word and its blank, the name is the line's end, and only a first
// word starting with "d" marks a directory.
#include "ftpbrowser/listing.h"
#include "fuzz/fuzz.h"

namespace {

std::string withoutBlanks(std::string_view s) {
    std::string out;
    for (char c : s)
        if (c != ' ')
            out += c;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    using namespace velmo::browser;
    const std::string_view line = fuzz::bytes(data, size);
    const GridRow row = gridRow(line);

    std::string joined;
    for (int c : {ColPerms, ColLinks, ColOwner, ColGroup, ColSize, ColDate, ColName})
        joined += row[c];
    fuzz::check(withoutBlanks(joined) == withoutBlanks(line), "bytes lost or invented");
    fuzz::check(line.ends_with(row[ColName]), "the name is not the end of the line");

    bool ended = false;
    for (int c : {ColPerms, ColLinks, ColOwner, ColGroup, ColSize}) {
        const std::string_view word = row[static_cast<std::size_t>(c)];
        if (word.empty()) {
            ended = true;
            continue;
        }
        fuzz::check(!ended, "a word after the words ran out");
        fuzz::check(word.back() == ' ' && word.find(' ') == word.size() - 1,
                    "a cell is not one word and a blank");
    }
    fuzz::check(row[ColDate].size() >= 2, "the date lost its separators");
    fuzz::check((row[ColKind] == DirectoryMark) == row[ColPerms].starts_with('d'),
                "the directory mark is wrong");
    fuzz::check(row[ColKind] == DirectoryMark || row[ColKind] == " ", "an unknown kind");
    return 0;
}
