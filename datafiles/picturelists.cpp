#include "datafiles/picturelists.h"

namespace velmo::datafiles {

Lines loadPictureList(const std::string& path) {
    if (!pathExists(path))
        return {};
    return readLines(path);
}

void savePictureList(const std::string& path, const Lines& names) {
    writeLines(path, names);
}

} // namespace velmo::datafiles
