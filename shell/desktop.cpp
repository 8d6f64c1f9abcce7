#include "shell/desktop.h"

#include "shell/logo.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace velmo {

bool loadQtTranslations(QCoreApplication& app) {
    // Owned by the application, which keeps it as long as it runs.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

void setUpDesktop(QApplication& app) {
    loadQtTranslations(app);
    // Qt's own dialogs write dates, sizes and numbers as a German reader expects, whatever the
    // system's locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QApplication::setWindowIcon(shopLogoIcon());
    // Lets the desktop match the windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopName));
}

bool moveToTrash(const QString& path) {
    QString inTrash;
    if (!QFile::moveToTrash(path, &inTrash))
        return false;
    if (QFileInfo(inTrash).isAbsolute())
        return true;
    // Where no trash folder can be made, Qt "succeeds" by moving the file to files/ below the
    // working directory, with its note in info/. That is no trash: the file goes back.
    const QDir here = QDir::current();
    const QString moved = here.absoluteFilePath(inTrash);
    const QString name = QFileInfo(moved).fileName();
    QFile::rename(moved, path);
    QFile::remove(here.absoluteFilePath(QStringLiteral("info/") + name + QStringLiteral(".trashinfo")));
    here.rmdir(QStringLiteral("files"));
    here.rmdir(QStringLiteral("info"));
    return false;
}

} // namespace velmo
