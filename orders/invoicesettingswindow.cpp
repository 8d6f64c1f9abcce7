#include "orders/invoicesettingswindow.h"

#include "datafiles/catalogindex.h"
#include "orders/core/invoiceledger.h"
#include "platform/cp1252.h"
#include "platform/qt/text.h"
#include "platform/settings_store.h"
#include "shell/shop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace velmo {

namespace {

constexpr int kRegular = 0;
constexpr int kSmallBusiness = 1;

QString utf8(const std::string& s) {
    return QString::fromStdString(s);
}

std::string utf8(const QString& s) {
    return s.trimmed().toStdString();
}

} // namespace

InvoiceSettingsWindow::InvoiceSettingsWindow(Shop& shop, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnScreen, parent), m_shop(shop) {
    setObjectName("Rechnungsangaben");
    setWindowTitle(QStringLiteral("Rechnungsangaben"));

    completeBox = new QCheckBox(QStringLiteral("&Vollständige Rechnung mit Steuerangaben drucken"), this);
    completeBox->setAccessibleName(QStringLiteral("Vollständige Rechnung"));

    auto* form = new QFormLayout;
    auto row = [&](const char* caption, QWidget* field) {
        auto* label = new QLabel(QString::fromUtf8(caption), this);
        label->setBuddy(field);
        field->setAccessibleName(label->text().remove(QLatin1Char('&')).remove(QLatin1Char(':')));
        form->addRow(label, field);
    };
    auto edit = [&](const char* caption, int maxLength = 120) {
        auto* e = new QLineEdit(this);
        e->setMaxLength(maxLength);
        row(caption, e);
        return e;
    };
    nameEdit = edit("&Name des Verkäufers:");
    streetEdit = edit("&Straße:");
    townEdit = edit("&PLZ und Ort:");
    taxNumberEdit = edit("S&teuernummer:");
    vatIdEdit = edit("&USt-IdNr.:");
    contactEdit = edit("&E-Mail oder Telefon:");
    bankEdit = edit("&Bankverbindung (freiwillig):", 200);

    taxModeBox = new QComboBox(this);
    taxModeBox->addItem(QStringLiteral("Regelbesteuerung"));
    taxModeBox->addItem(QStringLiteral("Kleinunternehmer (§ 19 UStG, keine Umsatzsteuer)"));
    row("U&msatzsteuer:", taxModeBox);
    auto rate = [&](const char* caption) {
        auto* box = new QSpinBox(this);
        box->setRange(0, 99);
        box->setSuffix(QStringLiteral(" %"));
        row(caption, box);
        return box;
    };
    standardRateBox = rate("&Regelsatz:");
    reducedRateBox = rate("Er&mäßigter Satz:");
    groupList = new QListWidget(this);
    groupList->setMinimumHeight(90);
    row("&Warengruppen zum ermäßigten Satz:", groupList);

    prefixEdit = edit("&Vorsatz der Rechnungsnummer:", 20);
    nextNumberBox = new QSpinBox(this);
    nextNumberBox->setRange(1, 999999999);
    row("&Nächste Rechnungsnummer:", nextNumberBox);
    lastNumberLabel = new QLabel(this);
    form->addRow(QString(), lastNumberLabel);

    okButton = new QPushButton(QStringLiteral("&OK"), this);
    cancelButton = new QPushButton(QStringLiteral("&Abbrechen"), this);
    okButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(completeBox);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(okButton, &QPushButton::clicked, this, guard([this] { okClick(); }));
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(taxModeBox, &QComboBox::currentIndexChanged, this, [this] { showTaxMode(); });
    resize(520, 600);
}

void InvoiceSettingsWindow::showTaxMode() {
    const bool regular = taxModeBox->currentIndex() == kRegular;
    standardRateBox->setEnabled(regular);
    reducedRateBox->setEnabled(regular);
    groupList->setEnabled(regular);
}

void InvoiceSettingsWindow::FormShow() {
    std::unique_ptr<SettingsStore> store = SettingsStore::openOrThrow();
    const InvoiceSettings s = InvoiceSettings::load(*store);
    completeBox->setChecked(s.complete);
    nameEdit->setText(utf8(s.sellerName));
    streetEdit->setText(utf8(s.street));
    townEdit->setText(utf8(s.town));
    taxNumberEdit->setText(utf8(s.taxNumber));
    vatIdEdit->setText(utf8(s.vatId));
    contactEdit->setText(utf8(s.contact));
    bankEdit->setText(utf8(s.bank));
    taxModeBox->setCurrentIndex(s.taxMode == InvoiceSettings::TaxMode::SmallBusiness ? kSmallBusiness
                                                                                     : kRegular);
    standardRateBox->setValue(s.standardPercent);
    reducedRateBox->setValue(s.reducedPercent);
    prefixEdit->setText(utf8(s.numberPrefix));
    nextNumberBox->setValue(static_cast<int>(std::min<std::int64_t>(s.nextNumber, nextNumberBox->maximum())));
    showTaxMode();

    // The groups the catalogs offer, in index order, each once (they are Windows-1252 bytes there);
    // a reduced group that no catalog offers any more stays, so that saving does not drop it.
    std::vector<std::string> groups;
    const std::string indexPath = m_shop.dataFile(datafiles::kCatalogIndexFile);
    std::error_code ec;
    if (std::filesystem::exists(indexPath, ec)) {
        if (std::optional<Lines> index = datafiles::loadCatalogIndex(indexPath)) {
            for (const std::string& line : *index) {
                for (const std::string& g : datafiles::splitCatalogLine(line).groups) {
                    const std::string group = cp1252::toUtf8(g);
                    if (!group.empty() && std::find(groups.begin(), groups.end(), group) == groups.end())
                        groups.push_back(group);
                }
            }
        }
    }
    for (const std::string& g : s.reducedGroups) {
        if (std::find(groups.begin(), groups.end(), g) == groups.end())
            groups.push_back(g);
    }
    groupList->clear();
    for (const std::string& g : groups) {
        auto* item = new QListWidgetItem(utf8(g), groupList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        const bool reduced =
            std::find(s.reducedGroups.begin(), s.reducedGroups.end(), g) != s.reducedGroups.end();
        item->setCheckState(reduced ? Qt::Checked : Qt::Unchecked);
    }

    InvoiceLedger ledger(m_shop.dataFile(InvoiceLedger::kFileName));
    ledger.load();
    lastNumberLabel->setText(ledger.entries().empty() ? QStringLiteral("Noch keine Rechnung vergeben")
                                                      : QStringLiteral("Zuletzt vergeben: ") +
                                                            utf8(ledger.entries().back().numberText));
}

InvoiceSettings InvoiceSettingsWindow::fields() const {
    InvoiceSettings s;
    s.complete = completeBox->isChecked();
    s.sellerName = utf8(nameEdit->text());
    s.street = utf8(streetEdit->text());
    s.town = utf8(townEdit->text());
    s.taxNumber = utf8(taxNumberEdit->text());
    s.vatId = utf8(vatIdEdit->text());
    s.contact = utf8(contactEdit->text());
    s.bank = utf8(bankEdit->text());
    s.taxMode = taxModeBox->currentIndex() == kSmallBusiness ? InvoiceSettings::TaxMode::SmallBusiness
                                                             : InvoiceSettings::TaxMode::Regular;
    s.standardPercent = standardRateBox->value();
    s.reducedPercent = reducedRateBox->value();
    for (int i = 0; i < groupList->count(); ++i) {
        if (groupList->item(i)->checkState() == Qt::Checked)
            s.reducedGroups.push_back(utf8(groupList->item(i)->text()));
    }
    s.numberPrefix = utf8(prefixEdit->text());
    s.nextNumber = nextNumberBox->value();
    return s;
}

void InvoiceSettingsWindow::okClick() {
    const InvoiceSettings s = fields();
    if (s.complete) {
        const std::string missing = s.missingDetail();
        if (!missing.empty()) {
            dialogs().showMessage(errorBoxText(utf8(missing)));
            return;
        }
    }
    s.save(*SettingsStore::openOrThrow());
    accept();
}

} // namespace velmo
