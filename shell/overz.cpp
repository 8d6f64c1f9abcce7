#include "shell/overz.h"

#include "platform/linefile.h"
#include "platform/mounts.h"
#include "platform/settings_store.h"
#include "shell/dialogs.h"
#include "shell/settings.h"

#include <QComboBox>
#include <QEvent>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace velmo {

TForm10::TForm10(QWidget* parent) : QDialog(parent) {
    setObjectName("Form10");
    setWindowTitle(QStringLiteral("Systemeinstellungen"));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("lokale Verzeichnisse:"), this), 0, 0, 1, 2);
    const char* labels[] = {"Programm", "Daten", "Bilder (groß)", "Bilder (klein)"};
    QLineEdit** fields[] = {&Edit1, &Edit2, &Edit3, &Edit4};
    for (int i = 0; i < 4; ++i) {
        *fields[i] = new QLineEdit(this);
        (*fields[i])->installEventFilter(this);
        grid->addWidget(new QLabel(QString::fromUtf8(labels[i]), this), i + 1, 0);
        grid->addWidget(*fields[i], i + 1, 1);
    }

    DriveComboBox1 = new QComboBox(this);
    const std::vector<std::string> drives = mountedFileSystems();
    for (const std::string& d : drives)
        DriveComboBox1->addItem(QString::fromStdString(d));

    m_dirModel = new QFileSystemModel(this);
    m_dirModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    m_dirModel->setRootPath(QStringLiteral("/"));
    DirectoryListBox1 = new QTreeView(this);
    DirectoryListBox1->setModel(m_dirModel);
    for (int c = 1; c < m_dirModel->columnCount(); ++c)
        DirectoryListBox1->hideColumn(c);
    DirectoryListBox1->header()->hide();
    DirectoryListBox1->installEventFilter(this);

    auto* rootBox = new QGroupBox(QStringLiteral("Shop Dokument - Root:"), this);
    Edit5 = new QLineEdit(rootBox);
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
    DirectoryListBox1->setRootIndex(m_dirModel->index(startDrive));
    setDirectory(QString::fromStdString(cwd));

    connect(DriveComboBox1, &QComboBox::currentIndexChanged, this, guard([this] { DriveComboBox1Change(); }));
    connect(DirectoryListBox1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            guard([this](const QModelIndex& current, const QModelIndex&) {
                if (!current.isValid())
                    return;
                m_directory = m_dirModel->filePath(current);
                DirectoryListBox1Change();
            }));
    connect(DirectoryListBox1, &QTreeView::doubleClicked, this, guard([this] { pick(); }));
    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm10::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    guarded([this] { FormShow(); });
}

void TForm10::FormShow() {
    Edit1->setFocus();
    m_pickTarget = 1;
    // What was typed and not stored at an earlier showing is discarded.
    Edit1->setText(ShopSettings.localProg);
    Edit2->setText(ShopSettings.localDat);
    Edit3->setText(ShopSettings.localBg);
    Edit4->setText(ShopSettings.localBk);
    Edit5->setText(ShopSettings.docRoot);
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

void TForm10::setDirectory(const QString& dir) {
    const QModelIndex index = m_dirModel->index(dir);
    if (index.isValid())
        DirectoryListBox1->setCurrentIndex(index);
    if (m_directory != dir) {
        m_directory = dir;
        DirectoryListBox1Change();
    }
}

void TForm10::DirectoryListBox1Change() {
    m_driveDirectory[DriveComboBox1->currentText()] = m_directory;
    pick();
}

void TForm10::DriveComboBox1Change() {
    const QString drive = DriveComboBox1->currentText();
    DirectoryListBox1->setRootIndex(m_dirModel->index(drive));
    setDirectory(m_driveDirectory.value(drive, drive));
}

void TForm10::Button1Click() {
    std::unique_ptr<SettingsStore> store = SettingsStore::open();
    if (store) {
        ShopSettings.localProg = Edit1->text();
        ShopSettings.localDat = Edit2->text();
        ShopSettings.localBg = Edit3->text();
        ShopSettings.localBk = Edit4->text();
        ShopSettings.docRoot = Edit5->text();
        const std::pair<const char*, const QString*> values[] = {
            {settingnames::localProg, &ShopSettings.localProg},
            {settingnames::localDat, &ShopSettings.localDat},
            {settingnames::localBg, &ShopSettings.localBg},
            {settingnames::localBk, &ShopSettings.localBk},
            {settingnames::docRoot, &ShopSettings.docRoot}};
        for (const auto& [name, value] : values)
            store->writeString(name, value->toStdString());
    }
    accept();
}

} // namespace velmo
