#include "shell/main.h"

#include "datafiles/picturelists.h"
#include "platform/qt/text.h"
#include "platform/settings_store.h"
#include "shell/currency.h"
#include "shell/dialogs.h"
#include "shell/settings.h"
#include "shell/windows.h"
#include "sync/core/orderfetch.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace velmo {

namespace {

const QString kConnectCaption = QStringLiteral("&Verbinden");
const QString kDisconnectCaption = QStringLiteral("&Trennen");

QString readValue(const SettingsStore& store, const char* name) {
    return QString::fromStdString(store.readString(name));
}

} // namespace

TForm1::TForm1(Shop& shop, CurrencyPrompt& currency, QWidget* parent)
    : QMainWindow(parent), m_shop(shop), m_currency(currency) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Internet - Shop"));
    resize(696, 480);
    centreOnScreen(*this);

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setCentralWidget(panel);

    m_status = new QLabel(this);
    statusBar()->addWidget(m_status, 1);
    m_progress = new QProgressBar(this);
    m_progress->setTextVisible(false);
    m_progress->setMaximumWidth(200);
    m_progress->hide();
    statusBar()->addPermanentWidget(m_progress);
    // How many orders the last order download brought, beside the status text until the next
    // server action.
    m_newOrders = new QLabel(this);
    m_newOrders->setAccessibleName(QStringLiteral("Neue Bestellungen"));
    m_newOrders->hide();
    statusBar()->addPermanentWidget(m_newOrders);

    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("&Datei"));
    m_connectItem = file->addAction(kConnectCaption);
    connect(m_connectItem, &QAction::triggered, this, guard(m_shop.dialogs, [this] { Verbinden1Click(); }));
    // A server that drops the line clears the flag behind the caption's back; the caption is put
    // right before anyone reads it.
    connect(file, &QMenu::aboutToShow, this, [this] {
        m_connectItem->setText(m_shop.connection.loggedIn() ? kDisconnectCaption : kConnectCaption);
    });
    file->addSeparator();
    connect(file->addAction(QStringLiteral("&Beenden")), &QAction::triggered, this,
            guard(m_shop.dialogs, [this] { Beenden1Click(); }));

    QMenu* articles = bar->addMenu(QStringLiteral("&Artikel"));
    m_serverItems.push_back(m_connectItem);
    m_serverItems.push_back(addItem(articles, QStringLiteral("&Download"), &Actions::articleDownload));
    m_serverItems.push_back(addItem(articles, QStringLiteral("&Upload"), &Actions::articleUpload));
    addItem(articles, QStringLiteral("&Kataloge"), &Actions::catalogs);
    addItem(articles, QStringLiteral("&Artikel"), &Actions::articles);

    QMenu* orders = bar->addMenu(QStringLiteral("&Bestellungen"));
    m_serverItems.push_back(addItem(orders, QStringLiteral("&Download"), &Actions::ordersDownload));
    addItem(orders, QStringLiteral("&Bearbeiten"), &Actions::ordersEdit);

    m_serverItems.push_back(addItem(nullptr, QStringLiteral("&FTP-Browser"), &Actions::ftpBrowser));

    QMenu* statistics = bar->addMenu(QStringLiteral("&Statistik"));
    addItem(statistics, QStringLiteral("&Artikel"), &Actions::statisticsArticles);
    addItem(statistics, QStringLiteral("&Umsatz"), &Actions::statisticsTurnover);

    QMenu* options = bar->addMenu(QStringLiteral("&Optionen"));
    addItem(options, QStringLiteral("&Verzeichnisse"), &Actions::directories);
    addItem(options, QStringLiteral("&Rechnungsangaben"), &Actions::invoiceSettings);

    // Three entries without caption and without action stand before "&Info".
    for (int i = 0; i < 3; ++i)
        bar->addAction(QString());

    addItem(nullptr, QStringLiteral("&Info"), &Actions::about);
    m_shop.connection.addObserver(*this);
}

TForm1::~TForm1() {
    m_shop.connection.removeObserver(*this);
}

QAction* TForm1::addItem(QMenu* menu, const QString& caption, std::function<void()> Actions::*action) {
    QAction* item = menu ? menu->addAction(caption) : menuBar()->addAction(caption);
    connect(item, &QAction::triggered, this,
            guard(m_shop.dialogs, [this, action] { runOrDefer(actions.*action); }));
    return item;
}

void TForm1::runOrDefer(const std::function<void()>& action) {
    if (!action)
        return;
    if (!m_shop.connection.busy()) {
        action();
        return;
    }
    m_deferred = action;
    setStatusText(QStringLiteral("Das Fenster öffnet sich, sobald die laufende Übertragung beendet ist"));
}

void TForm1::status(const std::string& text) {
    setStatusText(fromUtf8(text));
}

void TForm1::progress(std::int64_t done, std::int64_t total) {
    showProgress(done, total);
}

void TForm1::progressEnded() {
    hideProgress();
}

void TForm1::message(const std::string& text) {
    m_shop.dialogs.showMessage(fromUtf8(text));
}

void TForm1::information(const std::string& text) {
    m_shop.dialogs.information(fromUtf8(text));
}

void TForm1::ordersArrived(std::size_t count) {
    m_newOrders->setText(QString::fromStdString(sync::newOrdersText(count)));
    m_newOrders->show();
}

void TForm1::stateChanged() {
    const bool busy = m_shop.connection.busy();
    if (busy) {
        m_newOrders->clear();
        m_newOrders->hide();
    }
    for (QAction* item : m_serverItems)
        item->setEnabled(!busy);
    m_connectItem->setText(m_shop.connection.loggedIn() ? kDisconnectCaption : kConnectCaption);
    if (!busy && m_deferred) {
        // After the operation's own frame has returned, not from inside it.
        QTimer::singleShot(0, this, [this] {
            if (auto action = std::exchange(m_deferred, {}); action && !m_shop.connection.busy())
                guarded(m_shop.dialogs, action);
        });
    }
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

void showTransferProgress(QProgressBar& bar, std::int64_t done, std::int64_t total) {
    // The bar counts in thousandths: QProgressBar takes int, a transfer may pass 2 GB.
    constexpr int kSteps = 1000;
    if (total <= 0) {
        bar.setRange(0, 0); // size unknown: busy
    } else {
        bar.setRange(0, kSteps);
        const std::int64_t part = std::clamp<std::int64_t>(done, 0, total);
        bar.setValue(static_cast<int>(static_cast<double>(part) / static_cast<double>(total) * kSteps));
    }
    bar.show();
}

void TForm1::showProgress(std::int64_t done, std::int64_t total) {
    showTransferProgress(*m_progress, done, total);
}

void TForm1::hideProgress() {
    m_progress->hide();
    m_progress->reset();
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
        guarded(m_shop.dialogs, [this] { FormActivate(); });
}

void TForm1::FormActivate() {
    m_activated = true;
    LoadSettings();
    LoadPendingLists();
    if (actions.settingsLoaded)
        actions.settingsLoaded();
}

void TForm1::LoadSettings() {
    // Without a store the settings stay empty; the owner is told which store failed and why, since
    // nothing the program does would work as expected.
    std::unique_ptr<SettingsStore> store = SettingsStore::openOrThrow();
    TShopSettings& settings = m_shop.ShopSettings;

    if (store->valueExists(settingnames::Currency)) {
        settings.Currency = readValue(*store, settingnames::Currency);
    } else {
        settings.Currency = m_currency.askCurrency();
        store->writeString(settingnames::Currency, settings.Currency.toStdString());
    }

    if (store->valueExists(settingnames::localProg)) {
        settings.localProg = readValue(*store, settingnames::localProg);
        settings.localDat = readValue(*store, settingnames::localDat);
        settings.localBg = readValue(*store, settingnames::localBg);
        settings.localBk = readValue(*store, settingnames::localBk);
        settings.docRoot = readValue(*store, settingnames::docRoot);
    } else {
        const QString cwd = QString::fromStdString(currentDirectory());
        settings.localProg = settings.localDat = settings.localBg = settings.localBk = cwd;
        settings.docRoot = QStringLiteral("/");
        for (const char* name :
             {settingnames::localProg, settingnames::localDat, settingnames::localBg, settingnames::localBk})
            store->writeString(name, cwd.toStdString());
        store->writeString(settingnames::docRoot, "/");
    }
}

void TForm1::LoadPendingLists() {
    // Without a data directory there is nowhere to look; a missing list file leaves its list as it is.
    if (m_shop.ShopSettings.localDat.isEmpty())
        return;
    const std::string thumbs = m_shop.dataFile(datafiles::kThumbListFile);
    if (pathExists(thumbs))
        m_shop.MemoThumb = datafiles::loadPictureList(thumbs);
    const std::string pics = m_shop.dataFile(datafiles::kPictureListFile);
    if (pathExists(pics))
        m_shop.MemoPic = datafiles::loadPictureList(pics);
}

void TForm1::SavePendingLists() {
    // Empty lists need no file; otherwise an unset data directory is reported, not the root used.
    if (m_shop.ShopSettings.localDat.isEmpty() && m_shop.MemoThumb.empty() && m_shop.MemoPic.empty())
        return;
    datafiles::savePictureList(m_shop.dataFile(datafiles::kThumbListFile), m_shop.MemoThumb);
    datafiles::savePictureList(m_shop.dataFile(datafiles::kPictureListFile), m_shop.MemoPic);
}

bool TForm1::FormCloseQuery() {
    return guarded(m_shop.dialogs, [this] { SavePendingLists(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void TForm1::Beenden1Click() {
    // Ends the message loop at once, without the close step; the pending lists are saved all the
    // same, since pictures chosen in this run would otherwise never reach the server. When they
    // cannot be saved (a data directory gone, a full disk) the owner decides: the program never
    // keeps its user from ending it.
    if (!FormCloseQuery() &&
        !m_shop.dialogs.confirm(QStringLiteral("Die Listen der noch hochzuladenden Bilder konnten nicht "
                                               "gespeichert werden. Programm trotzdem beenden?")))
        return;
    if (actions.quit)
        actions.quit();
    else
        QCoreApplication::exit(0);
}

void TForm1::Verbinden1Click() {
    if (m_shop.connection.loggedIn()) {
        if (actions.disconnect)
            actions.disconnect();
        m_connectItem->setText(kConnectCaption);
        return;
    }
    if (!m_shop.dialogs.confirm(QStringLiteral("Bitte starten Sie jetzt Ihre Internetverbindung")))
        return;
    if (actions.connect)
        actions.connect();
    m_connectItem->setText(m_shop.connection.loggedIn() ? kDisconnectCaption : kConnectCaption);
}

} // namespace velmo
