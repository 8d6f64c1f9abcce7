#include "catalog/katneu.h"

#include "datafiles/fieldcheck.h"
#include "platform/qt/text.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmo {

namespace {

const char* const kHelpLines[] = {
    "Katalog:",
    "Tragen Sie hier die Bezeichnung des ",
    "Hauptkataloges ein.",
    "",
    "Die Bezeichnungen im Katalog ",
    "erscheinen im Shopsystem genau so, wie ",
    "Sie diese hier eintragen. Achten Sie also ",
    "auf korrekte Rechtschreibung.",
};

} // namespace

TForm3::TForm3(DialogSeam& dialogs, QWidget* parent) : ShopWindow(dialogs, Placement::OnOwner, parent) {
    setObjectName("Form3");
    setWindowTitle(QStringLiteral("Katalogname neu"));

    Edit1 = new QLineEdit(QStringLiteral("Katalog"), this);
    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button2 = new QPushButton(QStringLiteral("&Abbrechen"), this);
    Button1->setDefault(true);
    Button2->setAutoDefault(false);

    auto* label = new QLabel(QStringLiteral("Katalogname:"), this);
    label->setBuddy(Edit1);

    QStringList help;
    for (const char* line : kHelpLines)
        help << QString::fromUtf8(line);
    auto* helpPanel = new QLabel(help.join(QLatin1Char('\n')), this);
    helpPanel->setFrameShape(QFrame::NoFrame);
    helpPanel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    helpPanel->setContentsMargins(8, 0, 0, 0);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* left = new QVBoxLayout;
    left->addWidget(label);
    left->addWidget(Edit1);
    left->addStretch();
    left->addLayout(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addWidget(helpPanel);
    resize(480, 150);

    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm3::Button1Click() {
    // The name starts the index line and ends at the first ";;": a separator, a ";" running into
    // it, or a line break would shift the groups and the file name the storefront reads.
    const datafiles::FieldRule rule = datafiles::checkCatalogName(fromQString(Edit1->text()));
    if (rule != datafiles::FieldRule::Ok) {
        dialogs().showMessage(fromUtf8(datafiles::fieldRuleMessage(rule, "Katalogname")));
        Edit1->setFocus();
        return;
    }
    m_named = true;
    accept();
}

std::optional<std::string> TForm3::askCatalogName() {
    m_named = false;
    if (dialogs().showModal(*this) != QDialog::Accepted)
        return std::nullopt;
    return fromQString(Edit1->text());
}

} // namespace velmo
