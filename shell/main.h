#pragma once

#include "platform/linefile.h"

#include <QMainWindow>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;

namespace velmo {
class TForm9;
}

namespace velmo {

// The main window: menu, status bar, the pending picture lists, and the first-activation load of
// the settings. Actions that other windows provide are plugged in by the program's start-up code,
// so this layer knows nothing of the windows above it.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
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
        std::function<void()> about;
    };
    Actions actions;
    // Asked for the currency label on the first start.
    TForm9* currencyDialog = nullptr;

    // Pending pictures waiting for upload (bare names, Windows-1252 bytes).
    Lines MemoPic;
    Lines MemoThumb;
    // Scratch lists of one transfer.
    Lines Memo1, Memo2, Memo3;

    void setStatusText(const QString& text);
    QString statusText() const;

    // Handlers, callable from tests.
    void FormActivate();
    // Runs the first activation's step now if the window system has not activated the window yet
    // (a desktop without a window manager never does).
    void ensureActivated();
    void Verbinden1Click(); // connect/disconnect toggle
    void Beenden1Click();
    // The close step: saves the pending lists. False (and the error box shown) when it failed.
    bool FormCloseQuery();

    // Settings load and pending lists load, the first activation's two steps.
    void LoadSettings();
    void LoadPendingLists();
    void SavePendingLists();

    QAction* connectItem() const { return m_connectItem; }
    QMenuBar* mainMenu() const;

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* addItem(QMenu* menu, const QString& caption, std::function<void()> Actions::*action);

    QLabel* m_status = nullptr;
    QAction* m_connectItem = nullptr;
    bool m_activated = false;
};

// The program's main window, for the windows that reach its lists and status text.
inline TForm1* Form1 = nullptr;

} // namespace velmo
