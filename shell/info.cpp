#include "shell/info.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmo {

namespace {

// The logo: a shopping bag with a "V", drawn rather than shipped as a file.
QPixmap logo() {
    QPixmap pix(64, 64);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x1f, 0x4e, 0x79), 3));
    p.drawArc(QRectF(20, 6, 24, 22), 0, 180 * 16);
    p.setBrush(QColor(0x2e, 0x75, 0xb6));
    p.drawRoundedRect(QRectF(8, 18, 48, 42), 5, 5);
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(20, 28), QPointF(32, 50), QPointF(44, 28)}));
    return pix;
}

} // namespace

TAboutBox::TAboutBox(DialogSeam& dialogs, QWidget* parent)
    : ShopWindow(dialogs, Placement::OnScreen, parent) {
    setObjectName("AboutBox");
    setWindowTitle(QStringLiteral("Info"));

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* grid = new QGridLayout(panel);
    auto* picture = new QLabel(panel);
    picture->setPixmap(logo());
    grid->addWidget(picture, 0, 0, 4, 1, Qt::AlignTop);
    auto* product = new QLabel(QStringLiteral("Velmo - Shop"), panel);
    QFont bold = product->font();
    bold.setBold(true);
    product->setFont(bold);
    grid->addWidget(product, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Version: 2.2"), panel), 1, 1);
    grid->addWidget(new QLabel(QString::fromLatin1(kMakerWeb), panel), 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("eMail: ") + QString::fromLatin1(kMakerMail), panel), 3, 1);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace velmo
