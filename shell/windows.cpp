#include "shell/windows.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

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

} // namespace velmo
