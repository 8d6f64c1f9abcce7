#pragma once

#include <QString>

#include <string>
#include <vector>

class QComboBox;
class QListWidget;

// The drive selector and directory tree that the windows choosing local directories share.
namespace velmo {

// Puts the machine's drives (the mounted file systems, "/" first) into box and returns them.
std::vector<std::string> fillDriveBox(QComboBox& box);

enum class HiddenFolders { Listed, LeftOut };

// Refills tree for directory on drive: the chain of directories from the drive down to directory,
// each one step further in, then directory's sub-directories; hidden ones (names starting with ".")
// as `hidden` says. A hidden folder on the chain is always shown: the owner went there. Every entry
// carries its path in Qt::UserRole; directory's own entry becomes the current one.
void fillDirectoryTree(QListWidget& tree, const QString& drive, const QString& directory,
                       HiddenFolders hidden = HiddenFolders::Listed);

} // namespace velmo
