#pragma once

#include "ftp/FtpClient.h"
#include "sync/core/transfer.h"
#include "tests/ftp/support/real_servers.h"
#include "tests/support/temp_dir.h"

#include <filesystem>
#include <string>
#include <vector>

// A transfer context on a temporary data directory that records what the user would be told.
namespace velmo::test {

struct TransferHarness {
    TFtpClient ftp;
    TempDir local;
    Lines Memo1, Memo2, Memo3, MemoPic, MemoThumb, ListingLines;
    std::vector<std::string> statuses, messages, informations;

    TransferHarness() {
        ftp.Host = "127.0.0.1";
        ftp.TimeOut = 5000;
        ftp.OnListItem = [this](TSockSession&, const std::string& line) { ListingLines.push_back(line); };
        ftp.OnSuccess = [this](TSockSession&, TCmdType type) {
            if (type == CmdUpload)
                statuses.push_back("success");
        };
        ftp.OnFailure = [this](TSockSession&, bool&, TCmdType type) {
            if (type == CmdUpload)
                statuses.push_back("failure");
        };
    }

    sync::TransferContext context(const std::string& docRoot = "/", const std::string& ftpHome = "/") {
        return context(ftp, docRoot, ftpHome);
    }
    // The same with another client (a second program run, say).
    sync::TransferContext context(TFtpClient& client, const std::string& docRoot = "/",
                                  const std::string& ftpHome = "/") {
        return sync::TransferContext{
            .ftp = client,
            .localDat = local.path(),
            .localBg = local.path(),
            .localBk = local.path(),
            .docRoot = docRoot,
            .ftpHome = ftpHome,
            .Memo1 = Memo1,
            .Memo2 = Memo2,
            .Memo3 = Memo3,
            .MemoPic = MemoPic,
            .MemoThumb = MemoThumb,
            .ListingLines = ListingLines,
            .status = [this](const std::string& s) { statuses.push_back(s); },
            .message = [this](const std::string& s) { messages.push_back(s); },
            .information = [this](const std::string& s) { informations.push_back(s); },
        };
    }

    // A file the transfer never wrote reads as empty.
    std::string localFile(const std::string& name) const {
        return std::filesystem::exists(local.file(name)) ? readBytes(local.file(name)) : std::string();
    }
    void writeLocal(const std::string& name, const std::string& bytes) {
        writeBytes(local.file(name), bytes);
    }
};

} // namespace velmo::test
