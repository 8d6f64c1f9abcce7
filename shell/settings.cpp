#include "shell/settings.h"

#include "platform/errors.h"
#include "platform/linefile.h"

namespace velmo {

std::string localPath(const QString& directory, const std::string& fileName) {
    // An empty directory would put the file in the root directory, where nobody looks for it.
    if (directory.isEmpty())
        throw Exception(formatMessage(
            "Für die Datei '%s' ist kein Verzeichnis eingestellt (Optionen, Verzeichnisse)", fileName));
    return joinPath(directory.toStdString(), fileName);
}

} // namespace velmo
