// The peer of the start-up benchmark: the least a Qt program with a main window, a menu and a
// status line does before its first paint.
#include "shell/application.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("&Datei"))->addAction(QStringLiteral("&Beenden"));
    window.setCentralWidget(new QLabel(QStringLiteral("Fenster")));
    window.statusBar()->showMessage(QStringLiteral("Bereit"));
    velmo::probeFirstPaint(window);
    window.show();
    return app.exec();
}
