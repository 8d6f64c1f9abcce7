#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

// Placing windows: every window opens centred, on the main window or on the screen, and never with
// its title bar out of reach.
namespace velmo {

// frame moved so that its centre is centre, then only as far as needed to lie inside area. A frame
// larger than area keeps its left and top edges inside, so the title bar stays reachable.
QRect centredWithin(QRect frame, QPoint centre, const QRect& area);

// Centres a window on its owner's window (the parent's top-level window), kept on the owner's
// screen; a window without an owner stays where it is. The article windows are larger than the
// main window they open over.
void centreOnOwner(QWidget& window);

// Centres a window on the available area of the primary screen, kept on it.
void centreOnScreen(QWidget& window);

} // namespace velmo
