#pragma once

#include "sync/core/transfer.h"

// The catalog data transfers of the "Artikel" menu.
namespace velmo::sync {

// Fetches every data file of the server's db directory into the data directory. The local order
// files are never replaced from here: they hold the merged history of all orders, while the
// server's files of the same names hold only new orders, which the order fetch takes over. The
// local files about to be replaced are first copied below the data directory's Sicherung folder
// (platform/backup.h); when that fails, nothing is fetched. The status then says how many files
// were replaced and where their old copies are.
void articleDownload(const TransferContext& ctx);

// Sends db_sys.db and every catalog file it names to the server's db directory, then the pending
// large and small pictures, and empties the pending lists.
void articleUpload(const TransferContext& ctx);

// Whether the article download takes a listed name: its first ".db" starts after its first
// character.
bool selectedForDownload(const std::string& name);

// That status: "3 Dateien ersetzt; die alten liegen in <folder>".
std::string replacedText(std::size_t count, const std::string& folder);

// The catalog file name of a db_sys.db line as the upload finds it: the rest after the first ";;",
// and of that the rest after its first ";;" (positions as the search gives them).
std::string uploadFileName(const std::string& line);

} // namespace velmo::sync
