#pragma once

#include "shell/shop.h"

#include <QMainWindow>

#include <functional>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;

namespace velmo {

class CurrencyPrompt;

// The main window: menu, status bar with the transfer progress, and the first-activation load of
// the settings and the pending picture lists into the shop. The windows the menu opens are created
// after this one (they are its children), so the start-up code plugs their actions in afterwards;
// this layer knows nothing of the windows above it.
//
// It watches the server connection: its status texts, progress and messages reach the status bar
// and the message boxes, and while an operation runs the items that would start another are
// disabled. A window asked for meanwhile opens when the operation has ended: a window opened on
// top of a running operation would hold it up until it closed.
class TForm1 : public QMainWindow, public StatusLine, public sync::ConnectionObserver {
    Q_OBJECT
public:
    TForm1(Shop& shop, CurrencyPrompt& currency, QWidget* parent = nullptr);
    ~TForm1() override;

    // Menu actions, set at start-up. An action left empty does nothing.
    struct Actions {
        std::function<void()> connect;    // shows the connect dialog modally
        std::function<void()> disconnect; // the FTP client's Disconnect
        std::function<void()> articleDownload;
        std::function<void()> articleUpload;
        std::function<void()> catalogs;
        std::function<void()> articles;
        std::function<void()> ordersDownload;
        std::function<void()> ordersEdit;
        std::function<void()> ftpBrowser;
        std::function<void()> statisticsArticles;
        std::function<void()> statisticsTurnover;
        std::function<void()> directories;
        std::function<void()> invoiceSettings;
        std::function<void()> about;
        // Once the first activation has loaded the settings, before any other window opens.
        std::function<void()> settingsLoaded;
        // Ends the message loop ("&Beenden"); left empty, the application's loop is ended.
        std::function<void()> quit;
    };
    Actions actions;

    // StatusLine
    void setStatusText(const QString& text) override;
    QString statusText() const override;
    void showProgress(std::int64_t done, std::int64_t total) override;
    void hideProgress() override;
    QProgressBar* progressBar() const { return m_progress; }
    // The field beside the status text that tells how many orders the last order download merged;
    // empty and hidden from the next server action on.
    QLabel* newOrdersField() const { return m_newOrders; }

    // ConnectionObserver
    void status(const std::string& text) override;
    void progress(std::int64_t done, std::int64_t total) override;
    void progressEnded() override;
    void message(const std::string& text) override;
    void information(const std::string& text) override;
    void stateChanged() override;
    void ordersArrived(std::size_t count) override;

    // Handlers, callable from tests.
    void FormActivate();
    // Runs the first activation's step now if the window system has not activated the window yet
    // (a desktop without a window manager never does).
    void ensureActivated();
    void Verbinden1Click(); // connect/disconnect toggle
    // Saves the pending lists, then ends the message loop. When they cannot be saved: the error box,
    // then the question whether to end all the same.
    void Beenden1Click();
    // The close step: saves the pending lists. False (and the error box shown) when it failed.
    bool FormCloseQuery();

    // Settings load and pending lists load, the first activation's two steps.
    void LoadSettings();
    void LoadPendingLists();
    void SavePendingLists();

    QAction* connectItem() const { return m_connectItem; }
    // The items that start work on the server (connect, article download and upload, order
    // download, FTP browser).
    const std::vector<QAction*>& serverItems() const { return m_serverItems; }
    QMenuBar* mainMenu() const;

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* addItem(QMenu* menu, const QString& caption, std::function<void()> Actions::*action);
    void runOrDefer(const std::function<void()>& action);

    Shop& m_shop;
    CurrencyPrompt& m_currency;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_newOrders = nullptr;
    QAction* m_connectItem = nullptr;
    std::vector<QAction*> m_serverItems;
    // A window asked for while an operation ran.
    std::function<void()> m_deferred;
    bool m_activated = false;
};

} // namespace velmo
