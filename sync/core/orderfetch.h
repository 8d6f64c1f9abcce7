#pragma once

#include "datafiles/orderstore.h"
#include "sync/core/transfer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The new orders download of the "Bestellungen" menu, run as a transaction that never loses and
// never doubles an order; the states are described in orderfetch.cpp.
namespace velmo::sync {

// What a fetch tells about the orders it merged: "3 neue Bestellungen", "1 neue Bestellung",
// "Keine neuen Bestellungen".
std::string newOrdersText(std::size_t count);

class OrderFetch {
public:
    explicit OrderFetch(const TransferContext& ctx);

    // Each local step, before it is taken (a test stops the program there or lets it fail).
    datafiles::StoreStepHook localStep;
    // The unique part of this run's names (claims, temporary folder); a fresh one per run unless
    // a test sets it.
    std::string runId;

    // Fetches, merges and removes the new orders on the server, together with whatever an earlier
    // run left there. Errors end the action; the local files then hold every order of the files
    // merged so far exactly once, and nothing that was not merged has been deleted. Returns how many
    // orders this run merged: the lines it appended to kunden.db, which holds one line per order.
    std::size_t run();

    // The merge step alone, for server files already downloaded (the benchmark measures it).
    void mergeDownloaded(std::string_view serverOrders, std::string_view serverPositions);

    // The server name a claim gives to kunden.db or bestellungen.db.
    static std::string claimName(const std::string& file, const std::string& id);
    // A fresh run id: the time (so that claims sort in the order they were made), the process and
    // a random part.
    static std::string newRunId();

    // One server file the run fetches.
    struct Source {
        std::string name;
        bool positions = false; // a bestellungen file, whose first line is no position
        std::string bytes;
        std::optional<std::uint64_t> sizeBefore; // the server's SIZE just before the download
    };

private:
    std::vector<std::string> listNames();
    std::vector<Source> plan(datafiles::OrderStore& store, const std::vector<std::string>& names,
                             const std::string& id);
    bool claim(datafiles::OrderStore& store, const char* file, const std::string& id);
    // Sends a command the server may not know; false when it refuses it.
    bool probe(const std::string& command);
    void download(datafiles::OrderStore& store, std::vector<Source>& sources);
    std::size_t merge(datafiles::OrderStore& store, const std::vector<Source>& sources);
    void removeFromServer(datafiles::OrderStore& store, const std::vector<Source>& sources);
    bool unchangedOnServer(datafiles::OrderStore& store, const Source& source, std::size_t spare);
    std::optional<std::uint64_t> serverSize(const std::string& name);
    std::string fetchBytes(const std::string& name, const std::string& path);

    TransferContext m_ctx;
};

} // namespace velmo::sync
