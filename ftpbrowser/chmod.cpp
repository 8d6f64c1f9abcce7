#include "ftpbrowser/chmod.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace velmo {

namespace {

constexpr std::array<int, 9> kWeights = {400, 200, 100, 40, 20, 10, 4, 2, 1};

} // namespace

TForm12::TForm12(DialogSeam& dialogs, QWidget* parent) : ShopWindow(dialogs, Placement::OnScreen, parent) {
    setObjectName("Form12");
    setWindowTitle(QStringLiteral("Permissions"));

    auto* groups = new QHBoxLayout;
    QCheckBox** fields[] = {&CheckBox1, &CheckBox2, &CheckBox3, &CheckBox4, &CheckBox5,
                            &CheckBox6, &CheckBox7, &CheckBox8, &CheckBox9};
    const char* groupCaptions[] = {" Owner  ", " Group  ", " Other  "};
    const char* boxCaptions[] = {"Read", "Write", "Execute"};
    for (int g = 0; g < 3; ++g) {
        auto* group = new QGroupBox(QString::fromLatin1(groupCaptions[g]), this);
        auto* column = new QVBoxLayout(group);
        for (int b = 0; b < 3; ++b) {
            auto* box = new QCheckBox(QString::fromLatin1(boxCaptions[b]), group);
            box->setObjectName(QStringLiteral("CheckBox%1").arg(g * 3 + b + 1));
            box->setChecked(b == 0); // read for everybody to begin with
            column->addWidget(box);
            *fields[g * 3 + b] = box;
        }
        groups->addWidget(group);
    }

    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button2 = new QPushButton(QStringLiteral("&Abbrechen"), this);
    Button1->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups, 1);
    layout->addLayout(buttons);
    layout->addWidget(new QStatusBar(this)); // never receives text
    resize(339, 218);

    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

std::array<QCheckBox*, 9> TForm12::boxes() const {
    return {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5,
            CheckBox6, CheckBox7, CheckBox8, CheckBox9};
}

void TForm12::setTicks(const std::array<bool, 9>& ticks) {
    const auto all = boxes();
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i]->setChecked(ticks[i]);
}

void TForm12::Button1Click() {
    const auto all = boxes();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i]->isChecked())
            PermissionMode += kWeights[i];
    accept();
}

} // namespace velmo
