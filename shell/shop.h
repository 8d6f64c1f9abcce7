#pragma once

#include "platform/linefile.h"
#include "shell/settings.h"
#include "sync/core/shopconnection.h"

#include <QString>

#include <cstdint>
#include <string>

class QProgressBar;

namespace velmo {

class DialogSeam;

// Shows done of total bytes on a transfer's progress bar (shown); a total of 0 or less is unknown
// (a busy bar).
void showTransferProgress(QProgressBar& bar, std::int64_t done, std::int64_t total);

// The main window's status bar as the other windows see it: the last status text stays, and a
// progress bar beside it shows a running data transfer.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void setStatusText(const QString& text) = 0;
    virtual QString statusText() const = 0;
    // done of total bytes; a total of 0 or less is unknown (a busy bar).
    virtual void showProgress(std::int64_t done, std::int64_t total) = 0;
    virtual void hideProgress() = 0;
};

// The state one run of the program shares between its windows. main() creates exactly one and
// hands it, or the part a window uses, to each window's constructor; nothing reaches it through a
// global. Windows that ask the user anything do so through `dialogs`.
class Shop {
public:
    explicit Shop(DialogSeam& seam) : dialogs(seam) {}
    Shop(const Shop&) = delete;
    Shop& operator=(const Shop&) = delete;

    DialogSeam& dialogs;

    TShopSettings ShopSettings;

    // Pending pictures waiting for upload (bare names, Windows-1252 bytes).
    Lines MemoPic;
    Lines MemoThumb;

    // The program's one connection to the shop's server: every window that needs the server uses
    // its operations, one at a time, and watches it for status texts and what may be started.
    sync::ShopConnection connection;

    // A file in the data directory (UTF-8 path).
    std::string dataFile(const std::string& fileName) const {
        return localPath(ShopSettings.localDat, fileName);
    }
};

} // namespace velmo
