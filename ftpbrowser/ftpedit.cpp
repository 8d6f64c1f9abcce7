#include "ftpbrowser/ftpedit.h"

#include "ftpbrowser/chmod.h"
#include "ftpbrowser/mkdir.h"
#include "ftpbrowser/remotegrid.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/linefile.h"
#include "platform/mounts.h"
#include "platform/qt/text.h"
#include "shell/desktop.h"
#include "shell/directorytree.h"
#include "shell/gridcolumns.h"
#include "shell/shop.h"

#include <QComboBox>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>

namespace velmo {

using browser::ColKind;
using browser::ColName;
using browser::GridRow;

namespace {

constexpr int kColumnWidths[browser::ColumnCount] = {16, 76, 22, 64, 64, 68, 84, 64};
constexpr int kLocalPaneWidth = 210;

// A remote name as the error box can show it: control characters become "?".
std::string printableName(const std::string& name) {
    std::string shown = name;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return cp1252::toUtf8(shown);
}

} // namespace

TForm11::TForm11(Shop& shop, std::function<void()> showConnectDialog, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnScreen, parent), m_shop(shop),
      m_showConnectDialog(std::move(showConnectDialog)) {
    setObjectName("Form11");
    setWindowTitle(QStringLiteral("FTP - Browser"));

    Button7 = new QPushButton(QStringLiteral("&Connect"), this);
    Button8 = new QPushButton(QStringLiteral("&Disconnect"), this);
    Button11 = new QPushButton(QStringLiteral("&Beenden"), this);
    auto* topBar = new QHBoxLayout;
    topBar->addWidget(Button11);
    topBar->addStretch();
    topBar->addWidget(Button7);
    topBar->addWidget(Button8);

    // Local pane: a fixed width, growing in height.
    auto* localPane = new QWidget(this);
    localPane->setFixedWidth(kLocalPaneWidth);
    DriveComboBox1 = new QComboBox(localPane);
    m_drives = fillDriveBox(*DriveComboBox1);
    DriveComboBox1->setAccessibleName(QStringLiteral("Laufwerk"));
    DirectoryListBox1 = new QListWidget(localPane);
    DirectoryListBox1->setAccessibleName(QStringLiteral("Lokale Verzeichnisse"));
    DirectoryListBox1->installEventFilter(this);
    FileListBox1 = new QListWidget(localPane);
    FileListBox1->setAccessibleName(QStringLiteral("Lokale Dateien"));
    FileListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Button1 = new QPushButton(QStringLiteral("Upload"), localPane);
    Button2 = new QPushButton(QStringLiteral("Anzeigen"), localPane);
    Button3 = new QPushButton(QStringLiteral("Löschen"), localPane);
    Button2->setEnabled(false);
    auto* localButtons = new QHBoxLayout;
    localButtons->addWidget(Button1);
    localButtons->addWidget(Button2);
    localButtons->addWidget(Button3);
    auto* local = new QVBoxLayout(localPane);
    local->setContentsMargins(0, 0, 0, 0);
    local->addWidget(DriveComboBox1);
    local->addWidget(DirectoryListBox1, 1);
    local->addWidget(FileListBox1, 1);
    local->addLayout(localButtons);

    // Remote pane: grows in width and height.
    Edit1 = new QLineEdit(this);
    Edit1->setReadOnly(true);
    Edit1->setAccessibleName(QStringLiteral("Server-Verzeichnis"));
    m_grid = new browser::RemoteGridModel(this);
    StringGrid1 = new QTableView(this);
    StringGrid1->setModel(m_grid);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setShowGrid(false);
    StringGrid1->setWordWrap(false);
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->setMinimumSectionSize(1);
    StringGrid1->verticalHeader()->setDefaultSectionSize(15);
    QHeaderView* header = StringGrid1->horizontalHeader();
    header->setSectionsMovable(true);
    header->setMinimumSectionSize(1);
    header->setFixedHeight(15);
    for (int c = 0; c < browser::ColumnCount; ++c)
        header->resizeSection(c, kColumnWidths[c]);
    StringGrid1->setAccessibleName(QStringLiteral("Dateien auf dem Server"));
    new GridColumns(*StringGrid1, QStringLiteral("Form11.StringGrid1"));
    Button4 = new QPushButton(QStringLiteral("Download"), this);
    Button10 = new QPushButton(QStringLiteral("MakeDir"), this);
    Button9 = new QPushButton(QStringLiteral("CHMOD"), this);
    Button5 = new QPushButton(QStringLiteral("Anzeigen"), this);
    Button6 = new QPushButton(QStringLiteral("Löschen"), this);
    Button5->setEnabled(false);
    auto* remoteButtons = new QHBoxLayout;
    for (QPushButton* b : {Button4, Button10, Button9, Button5, Button6})
        remoteButtons->addWidget(b);
    remoteButtons->addStretch();
    auto* remote = new QVBoxLayout;
    remote->addWidget(Edit1);
    remote->addWidget(StringGrid1, 1);
    remote->addLayout(remoteButtons);

    auto* panes = new QHBoxLayout;
    panes->addWidget(localPane);
    panes->addLayout(remote, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(topBar);
    layout->addLayout(panes, 1);
    auto* statusBar = new QStatusBar(this); // never receives text
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setMaximumWidth(200);
    ProgressBar1->setAccessibleName(QStringLiteral("Fortschritt"));
    CancelButton = new QPushButton(QStringLiteral("Abbrechen"), this);
    CancelButton->setAccessibleName(QStringLiteral("Übertragung abbrechen"));
    statusBar->addPermanentWidget(ProgressBar1);
    statusBar->addPermanentWidget(CancelButton);
    ProgressBar1->hide();
    CancelButton->hide();
    layout->addWidget(statusBar);
    resize(672, 339);

    // Its dialogs are its children: they stack above the browser.
    PermissionsDialog = new TForm12(shop.dialogs, this);
    NewDirDialog = new TForm13(shop.dialogs, this);

    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(Button3, &QPushButton::clicked, this, guard([this] { Button3Click(); }));
    connect(Button4, &QPushButton::clicked, this, guard([this] { Button4Click(); }));
    connect(Button6, &QPushButton::clicked, this, guard([this] { Button6Click(); }));
    connect(Button7, &QPushButton::clicked, this, guard([this] { Button7Click(); }));
    connect(Button8, &QPushButton::clicked, this, guard([this] { Button8Click(); }));
    connect(Button9, &QPushButton::clicked, this, guard([this] { Button9Click(); }));
    connect(Button10, &QPushButton::clicked, this, guard([this] { Button10Click(); }));
    connect(Button11, &QPushButton::clicked, this, &QDialog::reject);
    connect(CancelButton, &QPushButton::clicked, this, [this] { m_shop.connection.cancel(); });
    connect(StringGrid1, &QTableView::doubleClicked, this, guard([this] { StringGrid1DblClick(); }));
    connect(DirectoryListBox1, &QListWidget::itemDoubleClicked, this,
            guard([this](QListWidgetItem* item) { setLocalDirectory(item->data(Qt::UserRole).toString()); }));
    // A drive opens at its top directory.
    connect(DriveComboBox1, &QComboBox::currentIndexChanged, this,
            guard([this] { setLocalDirectory(DriveComboBox1->currentText()); }));
    m_shop.connection.addObserver(*this);
}

TForm11::~TForm11() {
    m_shop.connection.removeObserver(*this);
}

std::vector<QPushButton*> TForm11::serverButtons() const {
    return {Button7, Button8, Button1, Button4, Button10, Button9, Button6};
}

void TForm11::stateChanged() {
    const bool busy = m_shop.connection.busy();
    for (QPushButton* b : serverButtons())
        b->setEnabled(!busy);
    if (!busy)
        progressEnded();
}

void TForm11::progress(std::int64_t done, std::int64_t total) {
    showTransferProgress(*ProgressBar1, done, total);
    CancelButton->show();
}

void TForm11::progressEnded() {
    ProgressBar1->hide();
    CancelButton->hide();
}

bool TForm11::eventFilter(QObject* watched, QEvent* event) {
    if (watched == DirectoryListBox1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (QListWidgetItem* item = DirectoryListBox1->currentItem())
                guarded([&] { setLocalDirectory(item->data(Qt::UserRole).toString()); });
            return true;
        }
    }
    return ShopWindow::eventFilter(watched, event);
}

// ---- local side ------------------------------------------------------------------------------------

void TForm11::setLocalDirectory(const QString& dir) {
    const QString clean = QDir::cleanPath(QDir(dir).absolutePath());
    if (dir.isEmpty() || !QDir::setCurrent(clean))
        throw Exception(formatMessage("Verzeichnis %s kann nicht geöffnet werden", toUtf8(dir)));
    m_localDirectory = clean;
    {
        const QSignalBlocker quiet(DriveComboBox1);
        DriveComboBox1->setCurrentText(QString::fromStdString(mountPointOf(toUtf8(clean), m_drives)));
    }
    fillDirectoryTree(*DirectoryListBox1, DriveComboBox1->currentText(), clean);
    updateFileList();
}

void TForm11::updateFileList() {
    static const QFileIconProvider icons;
    FileListBox1->clear();
    // Hidden entries, and everything that is neither a file nor a directory, stay out.
    const QFileInfoList entries = QDir(m_localDirectory)
                                      .entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                                     QDir::DirsFirst | QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& info : entries)
        new QListWidgetItem(icons.icon(info), info.fileName(), FileListBox1);
}

void TForm11::selectFiles(const QStringList& names) {
    FileListBox1->clearSelection();
    for (const QString& name : names)
        for (QListWidgetItem* item : FileListBox1->findItems(name, Qt::MatchExactly)) {
            item->setSelected(true);
            FileListBox1->setCurrentItem(item, QItemSelectionModel::Select);
        }
}

std::string TForm11::localFile(const QString& name) const {
    return joinPath(toUtf8(m_localDirectory), toUtf8(name));
}

QList<QListWidgetItem*> TForm11::chosenFiles() const {
    QList<QListWidgetItem*> chosen;
    for (int i = 0; i < FileListBox1->count(); ++i)
        if (FileListBox1->item(i)->isSelected())
            chosen << FileListBox1->item(i);
    if (chosen.size() < 2) {
        chosen.clear();
        if (QListWidgetItem* current = FileListBox1->currentItem())
            chosen << current;
    }
    return chosen;
}

// ---- remote grid -----------------------------------------------------------------------------------

int TForm11::RowCount() const {
    return m_grid->rowCount() + 1;
}

std::string TForm11::Cells(int column, int row) const {
    const auto& rows = m_grid->rows();
    if (row < 1 || row > static_cast<int>(rows.size()) || column < 0 || column >= browser::ColumnCount)
        return {};
    return std::string(rows[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column)]);
}

int TForm11::Row() const {
    const QModelIndex current = StringGrid1->currentIndex();
    return current.isValid() ? current.row() + 1 : 1;
}

void TForm11::setRow(int row) {
    StringGrid1->setCurrentIndex(m_grid->index(row - 1, ColName));
}

const GridRow* TForm11::currentGridRow() const {
    const int row = Row();
    const auto& rows = m_grid->rows();
    return row >= 1 && row <= static_cast<int>(rows.size()) ? &rows[static_cast<std::size_t>(row - 1)]
                                                            : nullptr;
}

// ---- opening and the remote side ---------------------------------------------------------------

void TForm11::FormShow() {
    setLocalDirectory(m_shop.ShopSettings.localProg);
    stateChanged();
    if (!m_shop.connection.connected())
        m_showConnectDialog();
    RefreshRemote();
}

void TForm11::RefreshRemote() {
    if (!m_shop.connection.connected())
        return;
    Edit1->setText(toQString(m_shop.connection.currentDir()));
    std::vector<std::string> lines;
    try {
        // A failure the events have shown leaves the lines that came before it.
        lines = m_shop.connection.list();
    } catch (const std::exception&) {
        // Too large, or cancelled: an empty grid, and the message.
        m_grid->setRows({});
        throw;
    }
    m_grid->setRows(browser::gridRows(lines));
    setRow(1);
}

void TForm11::StringGrid1DblClick() {
    const GridRow* row = currentGridRow();
    if (!row || !browser::isDirectory(*row))
        return;
    m_shop.connection.changeDir(std::string((*row)[ColName]));
    RefreshRemote();
}

void TForm11::Button1Click() {
    const QList<QListWidgetItem*> chosen = chosenFiles();
    std::vector<sync::UploadFile> files;
    for (QListWidgetItem* file : chosen) {
        // The server gets the name as Windows-1252 bytes: a character without a form there would
        // arrive as "?", naming another file.
        const std::string localName = toUtf8(file->text());
        if (!cp1252::representable(localName)) {
            m_shop.dialogs.showMessage(fromUtf8(formatMessage(
                "Der Dateiname '%s' enthält Zeichen, die es im Zeichensatz des Shops (Windows-1252) nicht "
                "gibt. Die Datei wird nicht hochgeladen; bitte benennen Sie sie um.",
                localName)));
            continue;
        }
        std::string remoteName = fromQString(file->text());
        std::string type = browser::typeCommandFor(remoteName);
        files.push_back({localFile(file->text()), std::move(remoteName), std::move(type)});
    }
    // No file at all: the transfer fails in the client, which reports it.
    if (chosen.isEmpty())
        files.push_back({"", "", browser::typeCommandFor("")});
    m_shop.connection.upload(files);
    RefreshRemote();
    m_shop.connection.command("TYPE A");
}

void TForm11::Button3Click() {
    // The desktop's trash is the way back. Directories are no files to delete here and stay.
    QStringList refused;
    for (QListWidgetItem* file : chosenFiles()) {
        const QString name = file->text();
        const QString path = QString::fromStdString(localFile(name));
        if (name == QLatin1String(".") || name == QLatin1String("..") || !QFileInfo(path).isFile())
            continue;
        if (!moveToTrash(path))
            refused << name;
    }
    updateFileList();
    if (!refused.isEmpty())
        m_shop.dialogs.showMessage(
            QStringLiteral("Diese Dateien konnten nicht in den Papierkorb verschoben werden und wurden nicht "
                           "gelöscht:\n%1")
                .arg(refused.join(QLatin1Char('\n'))));
}

void TForm11::Button4Click() {
    const std::string name = Cells(ColName, Row());
    // The name comes from the server: it must not lead out of the local directory.
    if (!browser::isSafeLocalName(name))
        throw Exception(formatMessage(
            "\"%s\" kann nicht heruntergeladen werden: der Name ist als lokaler Dateiname nicht zulässig",
            printableName(name)));
    // A name the local folder cannot hold would fail only after the server sent the file.
    const std::optional<std::size_t> nameMax = fileNameMax(toUtf8(m_localDirectory));
    if (nameMax && !browser::fitsLocalNameMax(name, *nameMax))
        throw Exception(formatMessage(
            "\"%s\" kann nicht heruntergeladen werden: der Name ist als lokaler Dateiname "
            "zu lang (%s Byte, erlaubt sind %s)",
            {printableName(name), std::to_string(cp1252::toUtf8(name).size()), std::to_string(*nameMax)}));
    m_shop.connection.download(name, localFile(toQString(name)), browser::typeCommandFor(name));
    updateFileList();
}

void TForm11::Button6Click() {
    const GridRow* row = currentGridRow();
    const std::string name = row ? std::string((*row)[ColName]) : std::string();
    // The parent row (and a listing's own "." and ".."): removing it would take the directory
    // the browser stands in, or its parent.
    if (name.empty() || name == "." || name == "..") {
        m_shop.dialogs.showMessage(QStringLiteral(
            "Bitte wählen Sie zuerst die Datei oder das Verzeichnis aus, das gelöscht werden soll."));
        return;
    }
    const bool directory = browser::isDirectory(*row);
    // What is deleted on the server is gone: asked first, "Nein" preselected. Without a connection
    // the deletion fails at once, and there is nothing to ask.
    if (m_shop.connection.connected()) {
        const QString shown = QString::fromStdString(printableName(name));
        const QString question =
            directory ? QStringLiteral("Das Verzeichnis „%1“ auf dem Server löschen?").arg(shown)
                      : QStringLiteral("Die Datei „%1“ auf dem Server löschen?").arg(shown);
        if (!m_shop.dialogs.confirmDefaultNo(question))
            return;
    }
    m_shop.connection.remove(name, directory);
    RefreshRemote();
}

void TForm11::Button7Click() {
    m_showConnectDialog();
    RefreshRemote();
}

void TForm11::Button8Click() {
    m_shop.connection.disconnect();
}

void TForm11::Button9Click() {
    PermissionsDialog->PermissionMode = 0;
    // The boxes start from what the entry has now; a row without a permissions word (the parent
    // row, a total line) leaves the ticks of the last use.
    if (const auto bits = browser::permissionBits(Cells(browser::ColPerms, Row())))
        PermissionsDialog->setTicks(*bits);
    dialogs().showModal(*PermissionsDialog);
    if (PermissionsDialog->PermissionMode <= 0)
        return;
    m_shop.connection.chmod(browser::chmodModeText(PermissionsDialog->PermissionMode), Cells(ColName, Row()));
    RefreshRemote();
}

void TForm11::Button10Click() {
    NewDirDialog->NewDirName.clear();
    dialogs().showModal(*NewDirDialog);
    if (NewDirDialog->NewDirName.isEmpty())
        return;
    m_shop.connection.makeDir(fromQString(NewDirDialog->NewDirName));
    RefreshRemote();
}

} // namespace velmo
