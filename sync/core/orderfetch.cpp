// The new orders download as a transaction. The storefront may append to the server's kunden.db and
// bestellungen.db at any moment, and the fetch may be cut off at any step (a refused command, a lost
// connection, a full disk, the program killed), so the order of the steps and a small journal in the
// data directory make sure every order ends up in the local files exactly once or is still on the
// server.
//
// States, as the journal records them:
//
//   Idle       no journal. A run first claims the server files by renaming them to unique names
//              (RNFR/RNTO); the storefront then writes new orders into fresh files, fetched next time.
//   Claimed    "claim <id>" is written before the first rename. The claimed files are downloaded
//              into temporary local files; nothing local has changed yet. A run cut off here leaves
//              the claims on the server, and the next run fetches them before anything else.
//   Merging    "merging <orders length> <positions length>": the local files' lengths before the
//              new lines are appended in place. A merge cut off half-way is cut back to these
//              lengths, at the start of the next run at the latest, and then runs again.
//   Merged     "merged ...": the claimed lines are in the local files. Only now are the claims deleted
//              on the server ("deleted kunden", "deleted bestellungen" as each goes). A run cut off
//              here never merges the claims again; the next one only deletes what is left of them.
//   Done       the journal is removed.
//
// A server that refuses RNFR gets the direct fetch: the files are downloaded under their own names,
// merged, and deleted after that. Its journal line "direct" and "merged <length> <hash> ..." record
// the server bytes already merged, so a fetch whose deletion did not happen skips those bytes the next
// time and takes only what the storefront wrote since. Before deleting, the direct fetch downloads
// the files once more and takes over any order appended meanwhile; what the storefront writes
// between that last look and the deletion is the one loss this mode cannot rule out.
#include "sync/core/orderfetch.h"

#include "datafiles/orderfiles.h"
#include "datafiles/ordermerge.h"
#include "platform/errors.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <sstream>

namespace velmo::sync {

using datafiles::kOrderFile;
using datafiles::kPositionFile;

namespace {

constexpr const char* kNoNewOrders = "Es sind keine neuen Bestellungen vorhanden";
// How often the direct fetch looks again for orders appended while it merged.
constexpr int kDirectRounds = 3;

std::string newClaimId() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
    std::random_device rd;
    char rest[32];
    std::snprintf(rest, sizeof rest, "-%d-%08x", static_cast<int>(::getpid()), rd());
    return std::string(stamp) + rest;
}

// The part of a downloaded file that is new: all of it, or what follows the bytes merged before
// when the file still starts with them.
std::string_view unmerged(std::string_view bytes, std::uint64_t mergedLength, std::uint64_t mergedHash,
                          bool& continued) {
    continued = mergedLength > 0 && bytes.size() >= mergedLength &&
                datafiles::contentHash(bytes.substr(0, mergedLength)) == mergedHash;
    return continued ? bytes.substr(mergedLength) : bytes;
}

} // namespace

struct OrderFetch::Journal {
    std::string path;
    std::string mode; // "", "claim" or "direct"
    std::string id;
    bool merging = false;
    std::uint64_t oldOrders = 0, oldPositions = 0;
    bool merged = false;
    std::uint64_t ordersLength = 0, ordersHash = 0, positionsLength = 0, positionsHash = 0;
    bool ordersDeleted = false, positionsDeleted = false;

    explicit Journal(std::string p) : path(std::move(p)) {
        if (!fileExists(path))
            return;
        for (const std::string& line : readLines(path)) {
            std::istringstream in(line);
            std::string word;
            in >> word;
            if (word == "claim")
                in >> id, mode = "claim";
            else if (word == "direct")
                mode = "direct";
            else if (word == "merging")
                merging = bool(in >> oldOrders >> oldPositions);
            else if (word == "merged") {
                merged = true;
                in >> ordersLength >> ordersHash >> positionsLength >> positionsHash;
            } else if (word == "deleted") {
                in >> word;
                (word == kOrderFile ? ordersDeleted : positionsDeleted) = true;
            }
        }
    }

    void save() const {
        Lines lines;
        lines.push_back(mode == "claim" ? "claim " + id : mode);
        if (merged)
            lines.push_back("merged " + std::to_string(ordersLength) + " " + std::to_string(ordersHash) +
                            " " + std::to_string(positionsLength) + " " + std::to_string(positionsHash));
        if (merging)
            lines.push_back("merging " + std::to_string(oldOrders) + " " + std::to_string(oldPositions));
        if (ordersDeleted)
            lines.push_back(std::string("deleted ") + kOrderFile);
        if (positionsDeleted)
            lines.push_back(std::string("deleted ") + kPositionFile);
        writeLines(path, lines);
    }

    void clear() {
        ::unlink(path.c_str());
        *this = Journal(path);
    }
};

OrderFetch::OrderFetch(const TransferContext& ctx) : m_ctx(ctx) {}

std::string OrderFetch::claimName(const std::string& file, const std::string& id) {
    // No ".db" in the name, so the article download never takes a claim for a data file.
    const std::string stem = file.substr(0, file.find('.'));
    return stem + "-" + id + ".claim";
}

std::string OrderFetch::orderFile() const {
    return joinPath(m_ctx.localDat, kOrderFile);
}

std::string OrderFetch::positionFile() const {
    return joinPath(m_ctx.localDat, kPositionFile);
}

std::string OrderFetch::tempFile(const char* name) const {
    return joinPath(m_ctx.localDat, std::string(name) + ".fetch");
}

void OrderFetch::reach(FetchPoint point) {
    if (checkpoint)
        checkpoint(point);
}

void OrderFetch::rollBackInterruptedMerge(const std::string& localDat) {
    Journal journal(joinPath(localDat, kJournalName));
    if (!journal.merging)
        return;
    datafiles::truncateFile(joinPath(localDat, kOrderFile), journal.oldOrders);
    datafiles::truncateFile(joinPath(localDat, kPositionFile), journal.oldPositions);
    journal.merging = false;
    journal.save();
}

void OrderFetch::run() {
    rollBackInterruptedMerge(m_ctx.localDat);
    Journal journal(joinPath(m_ctx.localDat, kJournalName));
    m_ctx.enterServerDir("db");

    bool fetched = false;
    if (journal.mode == "claim")
        fetched = resume(journal);
    if (journal.mode == "direct")
        fetched = fetchDirectly(journal) || fetched;
    else
        fetched = claimAndFetch(journal) || fetched;
    if (!fetched)
        m_ctx.information(kNoNewOrders);
}

void OrderFetch::mergeDownloaded(std::string_view serverOrders, std::string_view serverPositions) {
    rollBackInterruptedMerge(m_ctx.localDat);
    Journal journal(joinPath(m_ctx.localDat, kJournalName));
    journal.mode = "claim";
    journal.id = claimId.empty() ? newClaimId() : claimId;
    merge(journal, datafiles::mergedLines(serverOrders, false),
          datafiles::mergedLines(serverPositions, true));
    journal.clear();
}

bool OrderFetch::downloadTo(const std::string& remote, const std::string& local, bool& refused) {
    refused = false;
    try {
        m_ctx.ftp.Download(remote, local);
        return true;
    } catch (const FTPException&) {
        // The server has no such file (or will not give it). A lost connection or a local file that
        // cannot be written is no refusal and ends the fetch.
        refused = true;
        return false;
    }
}

bool OrderFetch::resume(Journal& journal) {
    bool fetched = false;
    if (!journal.merged) {
        const std::string tmpOrders = tempFile(kOrderFile), tmpPositions = tempFile(kPositionFile);
        bool refused = false;
        const bool haveOrders = downloadTo(claimName(kOrderFile, journal.id), tmpOrders, refused);
        const bool havePositions = downloadTo(claimName(kPositionFile, journal.id), tmpPositions, refused);
        if (haveOrders || havePositions) {
            merge(journal,
                  haveOrders ? datafiles::mergedLines(readFileBytes(tmpOrders), false) : std::string(),
                  havePositions ? datafiles::mergedLines(readFileBytes(tmpPositions), true) : std::string());
            fetched = true;
        } else {
            journal.merged = true; // nothing was claimed: nothing to merge, nothing to delete
            journal.ordersDeleted = journal.positionsDeleted = true;
        }
        ::unlink(tmpOrders.c_str());
        ::unlink(tmpPositions.c_str());
    }
    removeClaims(journal);
    journal.clear();
    return fetched;
}

bool OrderFetch::claimAndFetch(Journal& journal) {
    journal.mode = "claim";
    journal.id = claimId.empty() ? newClaimId() : claimId;
    journal.save();
    const std::string orderClaim = claimName(kOrderFile, journal.id);
    const std::string positionClaim = claimName(kPositionFile, journal.id);
    try {
        m_ctx.ftp.DoCommand(std::string("RNFR ") + kOrderFile);
        m_ctx.ftp.DoCommand("RNTO " + orderClaim);
    } catch (const FTPException&) {
        // No kunden.db, or a server that cannot rename: the direct fetch finds out which.
        journal.clear();
        return fetchDirectly(journal);
    }
    reach(FetchPoint::Claimed);
    bool positionsClaimed = true;
    try {
        m_ctx.ftp.DoCommand(std::string("RNFR ") + kPositionFile);
        m_ctx.ftp.DoCommand("RNTO " + positionClaim);
    } catch (const FTPException&) {
        positionsClaimed = false; // no positions waiting
        journal.positionsDeleted = true;
    }

    // Errors of the claimed files' downloads end the fetch: the claims stay and the next run takes
    // them first.
    const std::string tmpOrders = tempFile(kOrderFile), tmpPositions = tempFile(kPositionFile);
    m_ctx.ftp.Download(orderClaim, tmpOrders);
    if (positionsClaimed)
        m_ctx.ftp.Download(positionClaim, tmpPositions);
    reach(FetchPoint::Downloaded);

    merge(journal, datafiles::mergedLines(readFileBytes(tmpOrders), false),
          positionsClaimed ? datafiles::mergedLines(readFileBytes(tmpPositions), true) : std::string());
    ::unlink(tmpOrders.c_str());
    ::unlink(tmpPositions.c_str());
    reach(FetchPoint::Merged);

    removeClaims(journal);
    reach(FetchPoint::Deleted);
    journal.clear();
    m_ctx.status("Connected");
    return true;
}

bool OrderFetch::fetchDirectly(Journal& journal) {
    const std::string tmpOrders = tempFile(kOrderFile), tmpPositions = tempFile(kPositionFile);
    bool refused = false;
    if (!downloadTo(kOrderFile, tmpOrders, refused)) {
        // kunden.db is gone: whatever an earlier direct fetch merged of it was deleted since. Its
        // positions file may still be there, merged but not deleted; it goes only while it holds
        // nothing else, so that it is never merged twice.
        if (journal.mode == "direct" && !journal.positionsDeleted && journal.positionsLength > 0 &&
            downloadTo(kPositionFile, tmpPositions, refused)) {
            const std::string positions = readFileBytes(tmpPositions);
            ::unlink(tmpPositions.c_str());
            if (positions.size() != journal.positionsLength ||
                datafiles::contentHash(positions) != journal.positionsHash)
                return false; // newer positions: their orders come with the next kunden.db
            m_ctx.ftp.Delete(kPositionFile);
        }
        if (journal.mode == "direct")
            journal.clear();
        return false;
    }
    bool havePositions = downloadTo(kPositionFile, tmpPositions, refused);

    journal.mode = "direct";
    std::string orders = readFileBytes(tmpOrders);
    std::string positions = havePositions ? readFileBytes(tmpPositions) : std::string();
    reach(FetchPoint::Downloaded);
    for (int round = 0;; ++round) {
        bool ordersContinued = false, positionsContinued = false;
        const auto newOrders = unmerged(orders, journal.ordersLength, journal.ordersHash, ordersContinued);
        const auto newPositions =
            unmerged(positions, journal.positionsLength, journal.positionsHash, positionsContinued);
        const std::string orderTail = datafiles::mergedLines(newOrders, false);
        // The first line of a positions file is not a position; a continued file's first line was
        // skipped when the file was first merged.
        const std::string positionTail = datafiles::mergedLines(newPositions, !positionsContinued);
        merge(journal, orderTail, positionTail, [&orders, &positions](Journal& j) {
            j.ordersLength = orders.size();
            j.ordersHash = datafiles::contentHash(orders);
            j.positionsLength = positions.size();
            j.positionsHash = datafiles::contentHash(positions);
        });
        if (round == 0)
            reach(FetchPoint::Merged);
        if (round + 1 == kDirectRounds)
            break;
        // Another look for orders the storefront appended while this one downloaded and merged.
        if (!downloadTo(kOrderFile, tmpOrders, refused))
            break;
        const bool positionsNow = downloadTo(kPositionFile, tmpPositions, refused);
        std::string ordersNow = readFileBytes(tmpOrders);
        std::string positionsNowBytes = positionsNow ? readFileBytes(tmpPositions) : std::string();
        if (ordersNow == orders && positionsNowBytes == positions)
            break;
        orders = std::move(ordersNow);
        positions = std::move(positionsNowBytes);
        havePositions = havePositions || positionsNow;
    }
    ::unlink(tmpOrders.c_str());
    ::unlink(tmpPositions.c_str());

    m_ctx.ftp.Delete(kOrderFile);
    journal.ordersDeleted = true;
    journal.save();
    if (havePositions)
        m_ctx.ftp.Delete(kPositionFile);
    reach(FetchPoint::Deleted);
    journal.clear();
    m_ctx.status("Connected");
    return true;
}

void OrderFetch::merge(Journal& journal, const std::string& orderTail, const std::string& positionTail,
                       const std::function<void(Journal&)>& recordMerged) {
    if (!orderTail.empty() || !positionTail.empty()) {
        const std::string orders = orderFile(), positions = positionFile();
        datafiles::normaliseLineFile(orders);
        datafiles::normaliseLineFile(positions);
        journal.merging = true;
        journal.oldOrders = datafiles::fileLength(orders);
        journal.oldPositions = datafiles::fileLength(positions);
        journal.save();
        try {
            datafiles::appendToFile(positions, positionTail);
            datafiles::appendToFile(orders, orderTail);
        } catch (...) {
            try {
                datafiles::truncateFile(positions, journal.oldPositions);
                datafiles::truncateFile(orders, journal.oldOrders);
                journal.merging = false;
                journal.save();
            } catch (const std::exception&) {
                // The journal still says "merging": the next run cuts the files back.
            }
            throw;
        }
        journal.merging = false;
    }
    // What was merged is recorded together with the end of the merge, never before it: a merge
    // rolled back must not count as done.
    journal.merged = true;
    if (recordMerged)
        recordMerged(journal);
    journal.save();
}

bool OrderFetch::serverHas(const std::string& name) {
    Lines names;
    auto saved = m_ctx.ftp.OnListItem;
    m_ctx.ftp.OnListItem = [&names](TSockSession&, const std::string& line) { names.push_back(line); };
    try {
        m_ctx.ftp.Nlist();
    } catch (...) {
        m_ctx.ftp.OnListItem = saved;
        throw;
    }
    m_ctx.ftp.OnListItem = saved;
    for (const std::string& n : names)
        if (baseName(n) == name)
            return true;
    return false;
}

void OrderFetch::removeClaims(Journal& journal) {
    const std::pair<bool*, const char*> files[] = {{&journal.ordersDeleted, kOrderFile},
                                                   {&journal.positionsDeleted, kPositionFile}};
    for (const auto& [deleted, file] : files) {
        if (*deleted)
            continue;
        const std::string claim = claimName(file, journal.id);
        try {
            m_ctx.ftp.Delete(claim);
        } catch (const FTPException&) {
            // Refused, or already gone (a run stopped between the deletion and the journal).
            bool present = true;
            try {
                present = serverHas(claim);
            } catch (const std::exception&) {
            }
            if (present)
                throw;
        }
        *deleted = true;
        journal.save();
    }
}

} // namespace velmo::sync
