#pragma once

#include <QIcon>
#include <QImage>
#include <QRectF>

class QPainter;

namespace velmo {

// The shop logo: a shopping bag with a "V". It is drawn rather than loaded, so the program needs
// no picture file at run time; the about box shows it, every window carries it as its icon, and
// the build renders the icon files installed for the desktop from the same drawing.
void paintShopLogo(QPainter& painter, const QRectF& target);

// The logo on a transparent square of side pixels.
QImage shopLogoImage(int side);

// The logo in the sizes desktops ask for.
QIcon shopLogoIcon();

} // namespace velmo
