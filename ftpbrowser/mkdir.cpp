#include "ftpbrowser/mkdir.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace velmo {

TForm13::TForm13(DialogSeam& dialogs, QWidget* parent) : ShopWindow(dialogs, Placement::AsDesigned, parent) {
    setObjectName("Form13");
    setWindowTitle(QStringLiteral("new Directory"));

    Edit1 = new QLineEdit(this);
    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button2 = new QPushButton(QStringLiteral("&Abbrechen"), this);
    Button1->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Direktory Name:"), this);
    label->setBuddy(Edit1);
    layout->addWidget(label);
    layout->addWidget(Edit1);
    layout->addStretch();
    layout->addLayout(buttons);
    layout->addWidget(new QStatusBar(this)); // never receives text
    setGeometry(400, 300, 254, 168);

    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, guard([this] { Button2Click(); }));
}

void TForm13::Button1Click() {
    NewDirName = Edit1->text();
    accept();
}

void TForm13::Button2Click() {
    NewDirName.clear();
    reject();
}

} // namespace velmo
