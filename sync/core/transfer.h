#pragma once

#include "ftp/FtpClient.h"
#include "platform/linefile.h"

#include <functional>
#include <string>

// What the server transfers work with: the one FTP client, the directories of the shop and the
// main window's lists, handed in by the windows that start a transfer. Texts for people are UTF-8;
// server names and directories are the Windows-1252 bytes the server knows them by.
namespace velmo::sync {

struct TransferContext {
    TFtpClient& ftp;
    // Local directories (UTF-8, without a trailing separator).
    std::string localDat, localBg, localBk;
    // Server directories: the document root and the login directory (bytes).
    std::string docRoot, ftpHome;

    // The main window's scratch lists, pending pictures and the listing lines.
    Lines& Memo1;
    Lines& Memo2;
    Lines& Memo3;
    Lines& MemoPic;
    Lines& MemoThumb;
    Lines& ListingLines;

    // The main window's status text, a plain message box and an information box.
    std::function<void(const std::string&)> status;
    std::function<void(const std::string&)> message;
    std::function<void(const std::string&)> information;

    // A local file in the data directory for a name read from the server or a data file.
    std::string dataFile(const std::string& name) const;
    // Changes from the login directory into docRoot + sub ("db", "pictures", "thumbs").
    void enterServerDir(const std::string& sub) const;
};

// A name from a server listing or a data file that may be used as a bare file name here: not
// empty, no "/", "\", "..", and no control character. Anything else could name a file outside the
// directory it is meant for.
bool safeFileName(const std::string& name);

} // namespace velmo::sync
