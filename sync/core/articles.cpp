#include "sync/core/articles.h"

#include "datafiles/orderfiles.h"
#include "platform/backup.h"
#include "platform/cp1252.h"

#include <cstdio>
#include <set>

namespace velmo::sync {

namespace {

// One step of the upload's name search: the rest after the first ";;"; without one, the rest after
// the first character (the search's position 0 plus the separator's length).
std::string afterSeparator(const std::string& s) {
    const auto p = s.find(";;");
    if (p == std::string::npos)
        return s.size() > 1 ? s.substr(1) : std::string();
    return s.substr(p + 2);
}

std::string skippedText(const std::string& name) {
    return "Unzulässiger Dateiname übersprungen: " + cp1252::toUtf8(name);
}

} // namespace

std::string TransferContext::dataFile(const std::string& name) const {
    return joinPath(localDat, cp1252::toUtf8(name));
}

void TransferContext::enterServerDir(const std::string& sub) const {
    ftp.ChangeDir(ftpHome);
    ftp.ChangeDir(docRoot + sub);
}

bool safeFileName(const std::string& name) {
    if (name.empty() || name.find("..") != std::string::npos)
        return false;
    for (unsigned char c : name)
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool selectedForDownload(const std::string& name) {
    const auto p = name.find(".db");
    return p != std::string::npos && p >= 1;
}

std::string replacedText(std::size_t count, const std::string& folder) {
    if (count == 1)
        return "1 Datei ersetzt; die alte liegt in " + folder;
    return std::to_string(count) + " Dateien ersetzt; die alten liegen in " + folder;
}

std::string uploadFileName(const std::string& line) {
    return afterSeparator(afterSeparator(line));
}

void articleDownload(const TransferContext& ctx) {
    ctx.status("Bitte Warten!");
    ctx.enterServerDir("db");
    ctx.ftp.ParseList = true;
    ctx.ListingLines.clear();
    ctx.Memo2.clear();
    try {
        ctx.ftp.Nlist();
    } catch (const std::exception&) {
        // A refused listing downloads nothing; the lines that did arrive still count.
    }
    // The local names are UTF-8, where a name may be longer than on the server.
    const std::optional<std::size_t> nameMax = fileNameMax(ctx.localDat);
    for (const std::string& line : ctx.ListingLines) {
        if (!selectedForDownload(line))
            continue;
        if (line == datafiles::kOrderFile || line == datafiles::kPositionFile)
            continue;
        if (!safeFileName(line)) {
            ctx.status(skippedText(line));
            continue;
        }
        if (nameMax && cp1252::toUtf8(line).size() > *nameMax) {
            ctx.status("Dateiname zu lang für das Datenverzeichnis, übersprungen: " + cp1252::toUtf8(line));
            continue;
        }
        ctx.Memo2.push_back(line);
    }
    // Every local file a download may replace is copied first; when that fails, nothing is fetched.
    std::vector<std::string> localNames;
    localNames.reserve(ctx.Memo2.size());
    for (const std::string& name : ctx.Memo2)
        localNames.push_back(cp1252::toUtf8(name));
    Backup backup = backUpBeforeReplacing(ctx.localDat, localNames);
    std::set<std::string> fetched;
    for (std::size_t i = 0; i < ctx.Memo2.size(); ++i) {
        try {
            ctx.ftp.Download(ctx.Memo2[i], ctx.dataFile(ctx.Memo2[i]));
            fetched.insert(localNames[i]);
        } catch (const std::exception&) {
            // One file that fails is skipped; the status bar shows "failure".
        }
    }
    // A failed download writes nothing (it replaces the file atomically at its end), so the copy
    // of a file that was not replaced is taken back.
    const std::vector<std::string> kept = backup.names;
    std::size_t replaced = 0;
    for (const std::string& name : kept) {
        if (fetched.contains(name))
            ++replaced;
        else
            dropFromBackup(backup, name);
    }
    if (replaced > 0)
        ctx.status(replacedText(replaced, backup.folder));
}

namespace {

void uploadEach(const TransferContext& ctx, const Lines& names, const std::string& directory) {
    for (const std::string& name : names) {
        if (!safeFileName(name)) {
            ctx.status(skippedText(name));
            continue;
        }
        try {
            ctx.ftp.Upload(joinPath(directory, cp1252::toUtf8(name)), name);
        } catch (const std::exception&) {
            // Skipped; the next file follows.
        }
    }
}

} // namespace

void articleUpload(const TransferContext& ctx) {
    const std::string index = joinPath(ctx.localDat, "db_sys.db");
    Lines catalogLines;
    try {
        catalogLines = readLines(index);
    } catch (const std::exception&) {
        ctx.message("Error! Keine Katalogdatei vorhanden!");
        return;
    }
    ctx.Memo1 = std::move(catalogLines);
    ctx.Memo2.clear();
    ctx.Memo2.push_back("db_sys.db");
    for (const std::string& line : ctx.Memo1) {
        std::string name = uploadFileName(line);
        if (!safeFileName(name)) {
            ctx.status(skippedText(name));
            continue;
        }
        ctx.Memo2.push_back(std::move(name));
    }

    ctx.enterServerDir("db");
    uploadEach(ctx, ctx.Memo2, ctx.localDat);
    ctx.enterServerDir("pictures");
    ctx.ftp.DoCommand("TYPE I");
    uploadEach(ctx, ctx.MemoPic, ctx.localBg);
    ctx.enterServerDir("thumbs");
    uploadEach(ctx, ctx.MemoThumb, ctx.localBk);
    ctx.ftp.ChangeDir(ctx.ftpHome);
    ctx.MemoPic.clear();
    ctx.MemoThumb.clear();
    ctx.ftp.DoCommand("TYPE A");
}

} // namespace velmo::sync
