#include "shell/settings.h"

#include "platform/linefile.h"

namespace velmo {

std::string localPath(const QString& directory, const std::string& fileName) {
    return joinPath(directory.toStdString(), fileName);
}

} // namespace velmo
