#include "shell/desktop.h"

#include "shell/logo.h"

#include <QApplication>
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

} // namespace velmo
