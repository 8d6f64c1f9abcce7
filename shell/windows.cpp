#include "shell/windows.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace velmo {

QRect centredWithin(QRect frame, QPoint centre, const QRect& area) {
    frame.moveCenter(centre);
    // The right and bottom edges give way first: the left edge and the title bar stay reachable.
    frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() - frame.width() + 1)));
    frame.moveTop(std::max(area.top(), std::min(frame.top(), area.bottom() - frame.height() + 1)));
    return frame;
}

void centreOnOwner(QWidget& window) {
    const QWidget* owner = window.parentWidget();
    if (!owner)
        return;
    QRect frame = window.frameGeometry();
    const QPoint centre = owner->window()->frameGeometry().center();
    if (const QScreen* screen = owner->screen())
        frame = centredWithin(frame, centre, screen->availableGeometry());
    else
        frame.moveCenter(centre);
    window.move(frame.topLeft());
}

void centreOnScreen(QWidget& window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window.move(centredWithin(window.frameGeometry(), area.center(), area).topLeft());
}

QWidget* currentOwner(QWidget* fallback) {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal->window();
    if (fallback)
        return fallback->window();
    return QApplication::activeWindow();
}

bool staysOnTop(const QWidget* w) {
    return w && w->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void keepAbove(QWidget& window, QWidget* owner) {
    if (!owner || !window.isWindow())
        return;
    QWidget* top = owner->window();
    if (top == &window)
        return;
    // Both need their native windows now; an owner that is not shown yet gets one early.
    window.winId();
    top->winId();
    QWindow* child = window.windowHandle();
    QWindow* parent = top->windowHandle();
    if (!child || !parent)
        return;
    for (const QWindow* w = parent; w; w = w->transientParent())
        if (w == child)
            return;
    child->setTransientParent(parent);
}

} // namespace velmo
