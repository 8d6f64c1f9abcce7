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

// Stacking: a window opened from another one belongs to it. The window system keeps it above its
// owner, in the owner's layer (above a stay-on-top owner too), and gives it the focus.

// The window that a window or box opened now belongs to: the modal window in front, else the
// window of fallback, else the active window. Null when there is none.
QWidget* currentOwner(QWidget* fallback);

// Whether w's window asks to stay on top of the others.
bool staysOnTop(const QWidget* w);

// Makes window (a top-level window) the transient child of owner's window for its next showing.
// Qt takes a window's parent as its owner when it first creates it; the windows that live for the
// whole run are opened from different windows, so the owner is set each time. Does nothing when
// owner is null or would end up owned by window.
void keepAbove(QWidget& window, QWidget* owner);

} // namespace velmo
