#include "shell/logo.h"

#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QPolygonF>

namespace velmo {

void paintShopLogo(QPainter& p, const QRectF& target) {
    // Drawn on a 64 x 64 grid, scaled to the target.
    constexpr double kGrid = 64.0;
    p.save();
    p.translate(target.topLeft());
    p.scale(target.width() / kGrid, target.height() / kGrid);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x1f, 0x4e, 0x79), 3));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(20, 6, 24, 22), 0, 180 * 16);
    p.setBrush(QColor(0x2e, 0x75, 0xb6));
    p.drawRoundedRect(QRectF(8, 18, 48, 42), 5, 5);
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(20, 28), QPointF(32, 50), QPointF(44, 28)}));
    p.restore();
}

QImage shopLogoImage(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    paintShopLogo(p, QRectF(0, 0, side, side));
    return image;
}

QIcon shopLogoIcon() {
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(shopLogoImage(side)));
    return icon;
}

} // namespace velmo
