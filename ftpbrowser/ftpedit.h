#pragma once

#include "ftpbrowser/listing.h"
#include "shell/shopwindow.h"
#include "sync/core/shopconnection.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <string>

class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;
class QTableView;

namespace velmo {

class Shop;
class TForm12;
class TForm13;
namespace browser {
class RemoteGridModel;
}

// The FTP browser: a local directory with its files on the left, the server's current directory on
// the right. It has no client of its own; every server operation is one of the shop connection's.
// Every action that changes the server side ends with RefreshRemote. While an operation runs (its
// own, or one the main window started), the buttons that would start another are disabled; its own
// listings and transfers show their progress with a button that cancels them.
//
// The current local directory is also the process's working directory. The permissions and
// new-directory dialogs are the browser's own children, so they stack above it.
class TForm11 : public ShopWindow, public sync::ConnectionObserver {
    Q_OBJECT
public:
    // showConnectDialog shows the connect dialog modally; it logs the client in or leaves it.
    TForm11(Shop& shop, std::function<void()> showConnectDialog, QWidget* parent = nullptr);
    ~TForm11() override;

    // top bar
    QPushButton* Button7;  // &Connect
    QPushButton* Button8;  // &Disconnect
    QPushButton* Button11; // &Beenden
    // local pane
    QComboBox* DriveComboBox1;
    QListWidget* DirectoryListBox1; // double-click or Enter opens a directory
    QListWidget* FileListBox1;      // several entries can be selected
    QPushButton* Button1;           // Upload
    QPushButton* Button2;           // Anzeigen (always disabled)
    QPushButton* Button3;           // Löschen
    // remote pane
    QLineEdit* Edit1; // the server's current directory
    QTableView* StringGrid1;
    QPushButton* Button4;  // Download
    QPushButton* Button10; // MakeDir
    QPushButton* Button9;  // CHMOD
    QPushButton* Button5;  // Anzeigen (always disabled)
    QPushButton* Button6;  // Löschen

    // the progress of a listing or transfer, and its cancel button
    QProgressBar* ProgressBar1;
    QPushButton* CancelButton;

    TForm12* PermissionsDialog; // its own child, so it stacks above the browser
    TForm13* NewDirDialog;

    // Handlers, callable from tests.
    void FormShow();
    void RefreshRemote();
    void StringGrid1DblClick();
    void Button1Click();  // upload
    void Button3Click();  // local files go to the desktop's trash
    void Button4Click();  // download
    void Button6Click();  // delete on the server, asked first; never the parent row
    void Button7Click();  // connect
    void Button8Click();  // disconnect
    void Button9Click();  // permissions
    void Button10Click(); // make a directory

    // The grid as rows and columns, row 0 being the header row (empty) and row 1 the parent row.
    // Cells are the server's bytes.
    int RowCount() const;
    std::string Cells(int column, int row) const;
    int Row() const;
    void setRow(int row);
    browser::RemoteGridModel& gridModel() const { return *m_grid; }

    QString localDirectory() const { return m_localDirectory; }
    // Makes dir the current local directory (and the process's working directory); the tree and
    // the file list follow. Throws when the directory cannot be entered.
    void setLocalDirectory(const QString& dir);
    // Re-reads the file list of the current local directory.
    void updateFileList();
    // Selects the file list's entries with these names (and makes the last one current).
    void selectFiles(const QStringList& names);

    // ConnectionObserver
    void progress(std::int64_t done, std::int64_t total) override;
    void progressEnded() override;
    void stateChanged() override;
    // The buttons that start work on the server.
    std::vector<QPushButton*> serverButtons() const;

protected:
    void opening() override { FormShow(); }
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::string localFile(const QString& name) const;
    // The entries of the file list that the actions work on: the current one when fewer than two
    // are selected, else every selected one in list order.
    QList<QListWidgetItem*> chosenFiles() const;
    const browser::GridRow* currentGridRow() const;

    Shop& m_shop;
    std::function<void()> m_showConnectDialog;
    browser::RemoteGridModel* m_grid;
    QString m_localDirectory;
    std::vector<std::string> m_drives;
};

} // namespace velmo
