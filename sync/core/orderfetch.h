#pragma once

#include "sync/core/transfer.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The new orders download of the "Bestellungen" menu, run as a transaction that never loses and
// never doubles an order; the states are described in orderfetch.cpp.
namespace velmo::sync {

// Where the fetch has got to, for a test that stops the program there.
enum class FetchPoint { Claimed, Downloaded, Merged, Deleted };

class OrderFetch {
public:
    explicit OrderFetch(const TransferContext& ctx);

    // Called at each point; a test throws from here to stop the fetch as a killed program would.
    std::function<void(FetchPoint)> checkpoint;
    // The unique part of the claim names; a fresh one per run unless a test sets it.
    std::string claimId;

    // Fetches, merges and removes the new orders on the server. Finishes an earlier run's work
    // first. Errors end the action; the local files are then as before or hold every order of the
    // claims fetched, and what was not merged stays on the server.
    void run();

    // The merge step alone, for server files already downloaded (the benchmark measures it): the
    // lines are appended to the local files under the journal's protection.
    void mergeDownloaded(std::string_view serverOrders, std::string_view serverPositions);

    // The local journal of an unfinished fetch, in the data directory.
    static constexpr const char* kJournalName = "orderfetch.journal";
    // The server names a claim gives the two files.
    static std::string claimName(const std::string& file, const std::string& id);

    // Cuts the local order files back after a merge that was cut off half-way. Runs by itself at
    // the start of every fetch; the program may call it at start-up too.
    static void rollBackInterruptedMerge(const std::string& localDat);

private:
    struct Journal;

    bool resume(Journal& journal);
    bool claimAndFetch(Journal& journal);
    bool fetchDirectly(Journal& journal);
    bool downloadTo(const std::string& remote, const std::string& local, bool& refused);
    void merge(Journal& journal, const std::string& orderTail, const std::string& positionTail,
               const std::function<void(Journal&)>& recordMerged = {});
    void removeClaims(Journal& journal);
    bool serverHas(const std::string& name);
    void reach(FetchPoint point);
    std::string orderFile() const;
    std::string positionFile() const;
    std::string tempFile(const char* name) const;

    TransferContext m_ctx;
};

} // namespace velmo::sync
