#include "shell/overz.h"

#include "platform/linefile.h"
#include "platform/mounts.h"
#include "platform/settings_store.h"
#include "shell/dialogs.h"
#include "shell/directorytree.h"
#include "shell/shop.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace velmo {

TForm10::TForm10(Shop& shop, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnScreen, parent), m_shop(shop) {
    setObjectName("Form10");
    setWindowTitle(QStringLiteral("Systemeinstellungen"));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("lokale Verzeichnisse:"), this), 0, 0, 1, 2);
    const char* labels[] = {"Programm", "Daten", "Bilder (groß)", "Bilder (klein)"};
    QLineEdit** fields[] = {&Edit1, &Edit2, &Edit3, &Edit4};
    for (int i = 0; i < 4; ++i) {
        *fields[i] = new QLineEdit(this);
        (*fields[i])->installEventFilter(this);
        auto* label = new QLabel(QString::fromUtf8(labels[i]), this);
        label->setBuddy(*fields[i]);
        grid->addWidget(label, i + 1, 0);
        grid->addWidget(*fields[i], i + 1, 1);
    }

    grid->setRowStretch(5, 1); // the fields stay at the top while the tree grows

    DriveComboBox1 = new QComboBox(this);
    const std::vector<std::string> drives = fillDriveBox(*DriveComboBox1);

    DriveComboBox1->setAccessibleName(QStringLiteral("Laufwerk"));
    DirectoryListBox1 = new QListWidget(this);
    DirectoryListBox1->setAccessibleName(QStringLiteral("Verzeichnisse"));
    DirectoryListBox1->installEventFilter(this);

    auto* rootBox = new QGroupBox(QStringLiteral("Shop Dokument - Root:"), this);
    Edit5 = new QLineEdit(rootBox);
    Edit5->setAccessibleName(QStringLiteral("Shop Dokument - Root"));
    (new QVBoxLayout(rootBox))->addWidget(Edit5);

    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button2 = new QPushButton(QStringLiteral("&Abbrechen"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* right = new QVBoxLayout;
    right->addWidget(DriveComboBox1);
    right->addWidget(DirectoryListBox1, 1);

    auto* top = new QHBoxLayout;
    top->addLayout(grid, 1);
    top->addLayout(right, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(rootBox);
    layout->addLayout(buttons);
    layout->addWidget(new QStatusBar(this)); // never receives text
    resize(560, 380);

    // The first showing starts at the process's working directory at start-up.
    const std::string cwd = currentDirectory();
    const QString startDrive = QString::fromStdString(mountPointOf(cwd, drives));
    m_driveDirectory[startDrive] = QString::fromStdString(cwd);
    DriveComboBox1->setCurrentText(startDrive);
    setDirectory(QString::fromStdString(cwd));

    connect(DriveComboBox1, &QComboBox::currentIndexChanged, this, guard([this] { DriveComboBox1Change(); }));
    connect(DirectoryListBox1, &QListWidget::itemDoubleClicked, this, guard([this](QListWidgetItem* item) {
                pick();
                openEntry(item);
            }));
    connect(DirectoryListBox1, &QListWidget::itemActivated, this,
            guard([this](QListWidgetItem* item) { openEntry(item); }));
    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm10::FormShow() {
    const TShopSettings& settings = m_shop.ShopSettings;
    Edit1->setFocus();
    m_pickTarget = 1;
    // What was typed and not stored at an earlier showing is discarded.
    Edit1->setText(settings.localProg);
    Edit2->setText(settings.localDat);
    Edit3->setText(settings.localBg);
    Edit4->setText(settings.localBk);
    Edit5->setText(settings.docRoot);
}

bool TForm10::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        const QLineEdit* fields[] = {Edit1, Edit2, Edit3, Edit4};
        for (int i = 0; i < 4; ++i)
            if (watched == fields[i])
                m_pickTarget = i + 1;
    } else if (watched == DirectoryListBox1 && event->type() == QEvent::KeyPress) {
        // A key copies the directory that is current before the key takes effect.
        guarded([this] { pick(); });
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            guarded([this] { openEntry(DirectoryListBox1->currentItem()); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QLineEdit* TForm10::targetField() const {
    switch (m_pickTarget) {
    case 1:
        return Edit1;
    case 2:
        return Edit2;
    case 3:
        return Edit3;
    case 4:
        return Edit4;
    default:
        return nullptr;
    }
}

void TForm10::pick() {
    if (QLineEdit* field = targetField())
        field->setText(QDir::toNativeSeparators(m_directory));
}

void TForm10::openEntry(QListWidgetItem* item) {
    if (item)
        setDirectory(item->data(Qt::UserRole).toString());
}

void TForm10::setDirectory(const QString& dir) {
    const QString clean = QDir::cleanPath(dir);
    if (clean == m_directory)
        return;
    m_directory = clean;
    fillTree();
    DirectoryListBox1Change();
}

void TForm10::fillTree() {
    // As in a file manager, hidden folders stay out of the list.
    fillDirectoryTree(*DirectoryListBox1, DriveComboBox1->currentText(), m_directory, HiddenFolders::LeftOut);
}

void TForm10::DirectoryListBox1Change() {
    m_driveDirectory[DriveComboBox1->currentText()] = m_directory;
    pick();
}

void TForm10::DriveComboBox1Change() {
    const QString drive = DriveComboBox1->currentText();
    setDirectory(m_driveDirectory.value(drive, drive));
}

void TForm10::Button1Click() {
    std::unique_ptr<SettingsStore> store = SettingsStore::open();
    if (store) {
        TShopSettings& settings = m_shop.ShopSettings;
        settings.localProg = Edit1->text();
        settings.localDat = Edit2->text();
        settings.localBg = Edit3->text();
        settings.localBk = Edit4->text();
        settings.docRoot = Edit5->text();
        const std::pair<const char*, const QString*> values[] = {
            {settingnames::localProg, &settings.localProg},
            {settingnames::localDat, &settings.localDat},
            {settingnames::localBg, &settings.localBg},
            {settingnames::localBk, &settings.localBk},
            {settingnames::docRoot, &settings.docRoot}};
        for (const auto& [name, value] : values)
            store->writeString(name, value->toStdString());
    }
    accept();
}

} // namespace velmo
