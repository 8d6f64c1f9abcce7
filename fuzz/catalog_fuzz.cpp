// Catalog index lines: a line built from a split line splits into the same catalog, and the name
// alone is the first part of the split.
#include "datafiles/catalogindex.h"
#include "fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const std::string_view line = fuzz::bytes(data, size);
    const datafiles::CatalogEntry entry = datafiles::splitCatalogLine(line);
    fuzz::check(datafiles::catalogName(line) == entry.name, "catalogName differs from the split name");
    // Values the editor would refuse (";;" in a name, ";" in a group, a leading ";" in a file name)
    // cannot come back whole, nor can a line holding only a name; everything else must.
    bool buildable = !entry.groups.empty() && entry.name.find(";;") == std::string::npos &&
                     !entry.name.ends_with(';') && !entry.fileName.starts_with(';') &&
                     entry.fileName.find(";;") == std::string::npos;
    for (const std::string& g : entry.groups)
        buildable = buildable && g.find(';') == std::string::npos && !g.empty();
    if (buildable) {
        const std::string rebuilt = datafiles::buildCatalogLine(entry.name, entry.groups, entry.fileName);
        const datafiles::CatalogEntry again = datafiles::splitCatalogLine(rebuilt);
        fuzz::check(again.name == entry.name, "name changed in a round trip");
        fuzz::check(again.fileName == entry.fileName, "file name changed in a round trip");
        fuzz::check(again.groups == entry.groups, "groups changed in a round trip");
    }
    return 0;
}
