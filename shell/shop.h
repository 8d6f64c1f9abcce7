#pragma once

#include "ftp/FtpClient.h"
#include "platform/linefile.h"
#include "shell/settings.h"

#include <QString>

#include <cstdint>
#include <string>

namespace velmo {

class DialogSeam;

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
    // Logged in to the shop's server; set and cleared by the connect dialog's handlers.
    bool ftpConnected = false;

    // Pending pictures waiting for upload (bare names, Windows-1252 bytes).
    Lines MemoPic;
    Lines MemoThumb;
    // Scratch lists of one transfer.
    Lines Memo1, Memo2, Memo3;

    // The program's one FTP client. The connect dialog sets it up and handles its events; the
    // transfers and the FTP browser call its operations.
    TFtpClient ftp;
    // Every line of the last listings, appended by the client's OnListItem handler.
    Lines ListingLines;

    // A file in the data directory (UTF-8 path).
    std::string dataFile(const std::string& fileName) const {
        return localPath(ShopSettings.localDat, fileName);
    }
};

} // namespace velmo
