#include "shell/currency.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmo {

TForm9::TForm9(DialogSeam& dialogs, QWidget* parent) : ShopWindow(dialogs, Placement::OnScreen, parent) {
    setObjectName("Form9");
    setWindowTitle(QStringLiteral("Setup"));
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(QStringLiteral("Bitte geben Sie Ihre Landeswährung ein:"), this);
    layout->addWidget(prompt);
    Edit1 = new QLineEdit(QStringLiteral("DM"), this);
    prompt->setBuddy(Edit1);
    Edit1->setMaximumWidth(80);
    layout->addWidget(Edit1);
    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button1->setDefault(true);
    layout->addWidget(Button1, 0, Qt::AlignHCenter);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TForm9::opening() {
    Edit1->setFocus();
    Edit1->selectAll();
}

QString TForm9::askCurrency() {
    dialogs().showModal(*this);
    return Edit1->text();
}

} // namespace velmo
