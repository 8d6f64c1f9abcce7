#include "shell/main.h"

#include "datafiles/picturelists.h"
#include "platform/settings_store.h"
#include "shell/currency.h"
#include "shell/dialogs.h"
#include "shell/settings.h"
#include "shell/windows.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QStatusBar>

namespace velmo {

namespace {

const QString kConnectCaption = QStringLiteral("&Verbinden");
const QString kDisconnectCaption = QStringLiteral("&Trennen");

QString readValue(const SettingsStore& store, const char* name) {
    return QString::fromStdString(store.readString(name));
}

} // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    Form1 = this;
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Internet - Shop"));
    resize(696, 480);
    centreOnScreen(*this);

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setCentralWidget(panel);

    m_status = new QLabel(this);
    statusBar()->addWidget(m_status, 1);

    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("&Datei"));
    m_connectItem = file->addAction(kConnectCaption);
    connect(m_connectItem, &QAction::triggered, this, guard([this] { Verbinden1Click(); }));
    file->addSeparator();
    connect(file->addAction(QStringLiteral("&Beenden")), &QAction::triggered, this,
            guard([this] { Beenden1Click(); }));

    QMenu* articles = bar->addMenu(QStringLiteral("&Artikel"));
    addItem(articles, QStringLiteral("&Download"), &Actions::articleDownload);
    addItem(articles, QStringLiteral("&Upload"), &Actions::articleUpload);
    addItem(articles, QStringLiteral("&Kataloge"), &Actions::catalogs);
    addItem(articles, QStringLiteral("&Artikel"), &Actions::articles);

    QMenu* orders = bar->addMenu(QStringLiteral("&Bestellungen"));
    addItem(orders, QStringLiteral("&Download"), &Actions::ordersDownload);
    addItem(orders, QStringLiteral("&Bearbeiten"), &Actions::ordersEdit);

    addItem(nullptr, QStringLiteral("&FTP-Browser"), &Actions::ftpBrowser);

    QMenu* statistics = bar->addMenu(QStringLiteral("&Statistik"));
    addItem(statistics, QStringLiteral("&Artikel"), &Actions::statisticsArticles);
    addItem(statistics, QStringLiteral("&Umsatz"), &Actions::statisticsTurnover);

    QMenu* options = bar->addMenu(QStringLiteral("&Optionen"));
    addItem(options, QStringLiteral("&Verzeichnisse"), &Actions::directories);

    // Three entries without caption and without action stand before "&Info".
    for (int i = 0; i < 3; ++i)
        bar->addAction(QString());

    addItem(nullptr, QStringLiteral("&Info"), &Actions::about);
}

TForm1::~TForm1() {
    if (Form1 == this)
        Form1 = nullptr;
}

QAction* TForm1::addItem(QMenu* menu, const QString& caption, std::function<void()> Actions::*action) {
    QAction* item = menu ? menu->addAction(caption) : menuBar()->addAction(caption);
    connect(item, &QAction::triggered, this, guard([this, action] {
                if (const auto& f = actions.*action)
                    f();
            }));
    return item;
}

QMenuBar* TForm1::mainMenu() const {
    return menuBar();
}

void TForm1::setStatusText(const QString& text) {
    m_status->setText(text);
}

QString TForm1::statusText() const {
    return m_status->text();
}

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // The first activation loads the settings. Returning from a modal window does not count, and
    // the main window opens other windows only modally, so this runs once per run.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        ensureActivated();
}

void TForm1::ensureActivated() {
    if (!m_activated)
        guarded([this] { FormActivate(); });
}

void TForm1::FormActivate() {
    m_activated = true;
    LoadSettings();
    LoadPendingLists();
}

void TForm1::LoadSettings() {
    std::unique_ptr<SettingsStore> store = SettingsStore::open();
    if (!store)
        return; // no store: the settings stay empty, silently

    if (store->valueExists(settingnames::Currency)) {
        ShopSettings.Currency = readValue(*store, settingnames::Currency);
    } else {
        if (currencyDialog) {
            dialogs().showModal(*currencyDialog);
            ShopSettings.Currency = currencyDialog->Edit1->text();
        }
        store->writeString(settingnames::Currency, ShopSettings.Currency.toStdString());
    }

    if (store->valueExists(settingnames::localProg)) {
        ShopSettings.localProg = readValue(*store, settingnames::localProg);
        ShopSettings.localDat = readValue(*store, settingnames::localDat);
        ShopSettings.localBg = readValue(*store, settingnames::localBg);
        ShopSettings.localBk = readValue(*store, settingnames::localBk);
        ShopSettings.docRoot = readValue(*store, settingnames::docRoot);
    } else {
        const QString cwd = QString::fromStdString(currentDirectory());
        ShopSettings.localProg = ShopSettings.localDat = ShopSettings.localBg = ShopSettings.localBk = cwd;
        ShopSettings.docRoot = QStringLiteral("/");
        for (const char* name :
             {settingnames::localProg, settingnames::localDat, settingnames::localBg, settingnames::localBk})
            store->writeString(name, cwd.toStdString());
        store->writeString(settingnames::docRoot, "/");
    }
}

void TForm1::LoadPendingLists() {
    // A missing list file leaves its list as it is.
    const std::string thumbs = dataFile(datafiles::kThumbListFile);
    if (pathExists(thumbs))
        MemoThumb = datafiles::loadPictureList(thumbs);
    const std::string pics = dataFile(datafiles::kPictureListFile);
    if (pathExists(pics))
        MemoPic = datafiles::loadPictureList(pics);
}

void TForm1::SavePendingLists() {
    datafiles::savePictureList(dataFile(datafiles::kThumbListFile), MemoThumb);
    datafiles::savePictureList(dataFile(datafiles::kPictureListFile), MemoPic);
}

bool TForm1::FormCloseQuery() {
    return guarded([this] { SavePendingLists(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void TForm1::Beenden1Click() {
    // Ends the message loop at once: the close step, and with it the save of the pending lists,
    // does not run.
    QCoreApplication::exit(0);
}

void TForm1::Verbinden1Click() {
    if (ftpConnected) {
        if (actions.disconnect)
            actions.disconnect();
        m_connectItem->setText(kConnectCaption);
        return;
    }
    if (!dialogs().confirm(QStringLiteral("Bitte starten Sie jetzt Ihre Internetverbindung")))
        return;
    ftpConnected = false;
    if (actions.connect)
        actions.connect();
    if (ftpConnected)
        m_connectItem->setText(kDisconnectCaption);
}

} // namespace velmo
