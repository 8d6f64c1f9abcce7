#include "shell/info.h"

#include "shell/logo.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmo {

TAboutBox::TAboutBox(DialogSeam& dialogs, QWidget* parent)
    : ShopWindow(dialogs, Placement::OnScreen, parent) {
    setObjectName("AboutBox");
    setWindowTitle(QStringLiteral("Info"));

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* grid = new QGridLayout(panel);
    auto* picture = new QLabel(panel);
    picture->setPixmap(QPixmap::fromImage(shopLogoImage(64)));
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
