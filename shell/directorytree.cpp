#include "shell/directorytree.h"

#include "platform/mounts.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>

namespace velmo {

std::vector<std::string> fillDriveBox(QComboBox& box) {
    std::vector<std::string> drives = mountedFileSystems();
    for (const std::string& d : drives)
        box.addItem(QString::fromStdString(d));
    return drives;
}

void fillDirectoryTree(QListWidget& tree, const QString& drive, const QString& directory,
                       HiddenFolders hidden) {
    tree.clear();
    QStringList chain;
    for (QString d = directory; d.startsWith(drive); d = QFileInfo(d).path()) {
        chain.prepend(d);
        if (d == drive || d == QStringLiteral("/"))
            break;
    }
    if (chain.isEmpty())
        chain << directory;
    int depth = 0;
    QListWidgetItem* current = nullptr;
    auto add = [&tree](const QString& path, const QString& text, int indent) {
        auto* item = new QListWidgetItem(QString(qsizetype{2} * indent, QLatin1Char(' ')) + text, &tree);
        item->setData(Qt::UserRole, path);
        return item;
    };
    for (const QString& d : chain) {
        const QString name = d == drive ? d : QFileInfo(d).fileName();
        current = add(d, name, depth++);
    }
    QDir::Filters filters = QDir::Dirs | QDir::NoDotAndDotDot;
    if (hidden == HiddenFolders::Listed)
        filters |= QDir::Hidden;
    const QStringList subdirs = QDir(directory).entryList(filters, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : subdirs)
        add(QDir(directory).filePath(name), name, depth);
    tree.setCurrentItem(current);
}

} // namespace velmo
