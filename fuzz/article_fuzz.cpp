// Article lines: joining the split fields and splitting again gives the same fields; a line with all
// its separators comes back byte for byte.
#include "datafiles/articlefile.h"
#include "fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const std::string_view line = fuzz::bytes(data, size);
    const datafiles::ArticleValues values = datafiles::splitArticleLine(line);
    const std::string joined = datafiles::joinArticleLine(values);
    // A field but the last that ends in ";" runs into the separator after it; the editors refuse
    // such values, so only the others must come back whole.
    bool joinable = true;
    for (std::size_t i = 0; i + 1 < values.size(); ++i)
        joinable = joinable && !values[i].ends_with(';');
    if (joinable)
        fuzz::check(datafiles::splitArticleLine(joined) == values, "split fields changed in a round trip");
    std::size_t separators = 0;
    for (std::size_t at = line.find(";;"); at != std::string_view::npos && separators < 13;
         at = line.find(";;", at + 2))
        ++separators;
    if (joinable && separators == 13)
        fuzz::check(joined == line, "a complete line did not come back byte for byte");
    return 0;
}
