// Line files: the lines read from any bytes hold no line break, and writing them and reading them
// back gives the same lines.
#include "fuzz/fuzz.h"
#include "platform/linefile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const Lines lines = splitLines(fuzz::bytes(data, size));
    for (const std::string& line : lines)
        fuzz::check(line.find_first_of("\r\n") == std::string::npos, "a line holds a line break");
    fuzz::check(splitLines(joinLines(lines)) == lines, "written lines read back differently");
    return 0;
}
