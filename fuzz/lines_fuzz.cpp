// Line files: the lines read from any bytes are those a byte-by-byte reading finds, hold no line
// break, and writing them and reading them back gives the same lines.
#include "fuzz/fuzz.h"
#include "platform/linefile.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

// Byte by byte: a line ends at CR LF, a lone CR or a lone LF.
velmo::Lines referenceLines(std::string_view bytes) {
    velmo::Lines lines;
    std::string line;
    bool open = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            open = false;
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            line += c;
            open = true;
        }
    }
    if (open)
        lines.push_back(line);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const Lines lines = splitLines(fuzz::bytes(data, size));
    fuzz::check(lines == referenceLines(fuzz::bytes(data, size)), "lines split other than byte by byte");
    const std::vector<std::string_view> views = splitLineViews(fuzz::bytes(data, size));
    fuzz::check(Lines(views.begin(), views.end()) == lines, "line views differ from the lines");
    for (const std::string& line : lines)
        fuzz::check(line.find_first_of("\r\n") == std::string::npos, "a line holds a line break");
    fuzz::check(splitLines(joinLines(lines)) == lines, "written lines read back differently");
    return 0;
}
