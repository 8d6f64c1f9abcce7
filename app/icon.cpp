// Renders the shop logo into the icon files that the install target puts in the desktop's icon
// theme, at build time, from the same drawing the program shows.
//     velmoshop-icon <directory> <side>...
// writes <directory>/<side>x<side>/apps/velmoshop.png for each side.
#include "shell/desktop.h"
#include "shell/logo.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <directory> <side>...\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int side = QString::fromLatin1(argv[i]).toInt(&ok);
        if (!ok || side < 1 || side > 1024) {
            std::fprintf(stderr, "%s: not a size: %s\n", argv[0], argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(side);
        const QString file =
            dir + QLatin1Char('/') + QLatin1String(velmo::kDesktopName) + QStringLiteral(".png");
        if (!QDir().mkpath(dir) || !velmo::shopLogoImage(side).save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}
