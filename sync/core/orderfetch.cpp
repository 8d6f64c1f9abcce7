// The new orders download as a transaction. The storefront may append to the server's kunden.db and
// bestellungen.db at any moment, and a run may be cut off at any step (a refused command, a lost
// connection, a full disk, the program killed), so every order must end up in the local files
// exactly once or still be on the server, whatever happens in between. What a run does:
//
//   Locked     the data folder's fetch lock is taken (a second program run is refused and changes
//              nothing); an earlier run's interrupted merge is cut back and its temporary files
//              removed (datafiles/orderstore.h).
//   Listed     NLST of the server's db directory. This listing is the only thing that says a file
//              is not there: a refused or broken download never does. Claims an earlier run left
//              behind ("kunden-<run>.claim", "bestellungen-<run>.claim") are taken up from it,
//              whether or not this workstation made them.
//   Claimed    kunden.db, then bestellungen.db, are renamed to this run's claim names, so that the
//              storefront starts fresh files for new orders. Orders and their positions go
//              together: once kunden.db is claimed, a bestellungen.db that cannot be claimed ends
//              the run before anything is merged, and the next run claims it. A server that refuses
//              the first rename is fetched directly: its kunden.db and bestellungen.db are
//              downloaded under their own names.
//   Downloaded every file is downloaded whole into the run's temporary folder: the transfer must
//              succeed, end with a line end and, where the server answers SIZE, have the size the
//              server reports. Any failure ends the run with nothing merged and nothing deleted.
//   Merged     what the local files do not yet hold of each file (the ledger says how much of it was
//              merged before) is appended in one transaction, blank lines left out, and the ledger
//              records each file's merged length and hash. A file is merged at most once, whatever
//              was lost of the run that merged it.
//   Deleted    each file is looked at once more (SIZE, or a second download where the server has
//              no SIZE) and deleted only when it holds nothing beyond what was merged; a file that
//              grew stays for the next run, which merges only what is new. Deleted files leave the
//              ledger.
//
// The one loss this cannot rule out is a directly fetched file that the storefront appends to
// between its last look and its deletion, on a server that cannot rename.
#include "sync/core/orderfetch.h"

#include "datafiles/orderfiles.h"
#include "datafiles/ordermerge.h"
#include "platform/errors.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <map>
#include <random>
#include <utility>

namespace velmo::sync {

using datafiles::kOrderFile;
using datafiles::kPositionFile;
using datafiles::MergedPrefix;

namespace {

constexpr const char* kNoNewOrders = "Es sind keine neuen Bestellungen vorhanden";
constexpr const char* kClaimSuffix = ".claim";

std::string stemOf(const std::string& file) {
    return file.substr(0, file.find('.'));
}

// The run id of a claim name made by claimName for file; empty for any other name. Only ids of the
// form this program makes are taken, so a strange name on the server never reaches the ledger.
std::string claimIdOf(std::string_view name, const std::string& file) {
    const std::string prefix = stemOf(file) + "-";
    const std::string_view suffix = kClaimSuffix;
    if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix)
        return {};
    const std::string_view id = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const bool plain =
        id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
        });
    return plain ? std::string(id) : std::string();
}

OrderFetch::Source sourceFor(std::string name, bool positions) {
    OrderFetch::Source s;
    s.name = std::move(name);
    s.positions = positions;
    return s;
}

bool endsWithLineEnd(std::string_view bytes) {
    return bytes.empty() || bytes.back() == '\n' || bytes.back() == '\r';
}

// What the local files do not hold yet of a downloaded file. `fresh` tells whether the file is
// new to the ledger (then a positions file's first line is its header and no position).
std::string_view unmergedPart(const OrderFetch::Source& s, const std::optional<MergedPrefix>& before,
                              bool& fresh) {
    fresh = true;
    if (!before)
        return s.bytes;
    const std::string_view bytes = s.bytes;
    if (bytes.size() >= before->length &&
        datafiles::contentHash(bytes.substr(0, before->length)) == before->hash) {
        fresh = false;
        return bytes.substr(before->length);
    }
    // Not the file merged before: the storefront started it anew after a deletion whose reply was
    // lost. A shorter file is taken for a new one only when the server said it was shorter; else it
    // could be a transfer cut short, whose lines are merged already.
    if (bytes.size() < before->length && !(s.sizeBefore && *s.sizeBefore < before->length))
        throw Exception(formatMessage("Die Datei %s auf dem Server ist kürzer als beim letzten Abholen. Sie "
                                      "bleibt auf dem Server; bitte später noch einmal versuchen",
                                      s.name));
    return bytes;
}

} // namespace

OrderFetch::OrderFetch(const TransferContext& ctx) : m_ctx(ctx) {}

std::string OrderFetch::claimName(const std::string& file, const std::string& id) {
    // No ".db" in the name, so the article download never takes a claim for a data file.
    return stemOf(file) + "-" + id + kClaimSuffix;
}

std::string OrderFetch::newRunId() {
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

std::string newOrdersText(std::size_t count) {
    if (count == 0)
        return "Keine neuen Bestellungen";
    if (count == 1)
        return "1 neue Bestellung";
    return std::to_string(count) + " neue Bestellungen";
}

std::size_t OrderFetch::run() {
    const std::string id = runId.empty() ? newRunId() : runId;
    datafiles::OrderStore store(m_ctx.localDat, id, localStep);
    m_ctx.enterServerDir("db");
    // Binary, so that the bytes and SIZE agree with the file on the server.
    m_ctx.ftp.DoCommand("TYPE I");
    std::vector<Source> sources = plan(store, listNames(), id);
    std::size_t newOrders = 0;
    if (!sources.empty()) {
        download(store, sources);
        newOrders = merge(store, sources);
        removeFromServer(store, sources);
    }
    m_ctx.ftp.DoCommand("TYPE A");
    if (newOrders > 0)
        m_ctx.status("Connected");
    else
        m_ctx.information(kNoNewOrders);
    return newOrders;
}

void OrderFetch::mergeDownloaded(std::string_view serverOrders, std::string_view serverPositions) {
    datafiles::OrderStore store(m_ctx.localDat, runId.empty() ? newRunId() : runId, localStep);
    store.merge(datafiles::mergedLines(serverOrders, false), datafiles::mergedLines(serverPositions, true),
                {});
}

std::vector<std::string> OrderFetch::listNames() {
    std::vector<std::string> names;
    auto saved = m_ctx.ftp.OnListItem;
    m_ctx.ftp.OnListItem = [&names](TSockSession&, const std::string& line) {
        names.emplace_back(baseName(line));
    };
    try {
        m_ctx.ftp.Nlist();
    } catch (...) {
        m_ctx.ftp.OnListItem = saved;
        throw;
    }
    m_ctx.ftp.OnListItem = saved;
    return names;
}

bool OrderFetch::claim(datafiles::OrderStore& store, const char* file, const std::string& id) {
    // What was merged of a directly fetched file goes with it to its claim name, before the rename:
    // the claim must not count as new.
    store.inherit(file, claimName(file, id));
    // Refused: a lost connection is no refusal and ends the run.
    return probe(std::string("RNFR ") + file) && probe("RNTO " + claimName(file, id));
}

bool OrderFetch::probe(const std::string& command) {
    // A server without the command is no error worth a message box or a status text on every
    // fetch; the fetch knows what to do instead.
    TFtpClient& ftp = m_ctx.ftp;
    struct Quiet {
        TFtpClient& ftp;
        TFailureEvent failure = std::exchange(ftp.OnFailure, nullptr);
        TUnsupportedEvent unsupported = std::exchange(ftp.OnUnSupportedFunction, nullptr);
        ~Quiet() {
            ftp.OnFailure = std::move(failure);
            ftp.OnUnSupportedFunction = std::move(unsupported);
        }
    } quiet{ftp};
    try {
        ftp.DoCommand(command);
        return true;
    } catch (const FTPException&) {
        return false;
    }
}

namespace {

// What the listing of the db directory shows of the order files: the storefront's own, and the
// claims by run id (orders, positions). The ids begin with the time, so the claims sort in the
// order they were made.
struct Listing {
    bool orders = false, positions = false;
    std::map<std::string, std::pair<bool, bool>> claims;

    explicit Listing(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            orders = orders || name == kOrderFile;
            positions = positions || name == kPositionFile;
            if (std::string id = claimIdOf(name, kOrderFile); !id.empty())
                claims[id].first = true;
            if (std::string id = claimIdOf(name, kPositionFile); !id.empty())
                claims[id].second = true;
        }
    }
    bool claimedOrders() const {
        return std::any_of(claims.begin(), claims.end(), [](const auto& c) { return c.second.first; });
    }
    std::vector<OrderFetch::Source> sources() const {
        std::vector<OrderFetch::Source> out;
        for (const auto& [id, files] : claims) {
            if (files.first)
                out.push_back(sourceFor(OrderFetch::claimName(kOrderFile, id), false));
            if (files.second)
                out.push_back(sourceFor(OrderFetch::claimName(kPositionFile, id), true));
        }
        return out;
    }
};

} // namespace

std::vector<OrderFetch::Source>
OrderFetch::plan(datafiles::OrderStore& store, const std::vector<std::string>& names, const std::string& id) {
    Listing listing(names);
    // The storefront's own files: claimed when the server can rename, else fetched directly. The
    // positions are taken whenever there are orders they may belong to, and when they are merged
    // already (a direct fetch whose deletion of them did not happen).
    std::vector<Source> direct;
    bool renamed = false;
    if (listing.orders) {
        renamed = claim(store, kOrderFile, id);
        if (renamed)
            listing.claims[id].first = true;
        else
            direct.push_back(sourceFor(kOrderFile, false));
    }
    const bool positionsMerged = store.merged(kPositionFile).has_value();
    if (listing.positions && (listing.orders || listing.claimedOrders() || positionsMerged)) {
        if (direct.empty() && claim(store, kPositionFile, id))
            listing.claims[id].second = true;
        else if (renamed)
            throw FTPException(m_ctx.ftp.LastReply()); // its orders are claimed: they wait for it
        else
            direct.push_back(sourceFor(kPositionFile, true));
    }
    std::vector<Source> sources = listing.sources();
    sources.insert(sources.end(), direct.begin(), direct.end());
    return sources;
}

std::string OrderFetch::fetchBytes(const std::string& name, const std::string& path) {
    m_ctx.ftp.Download(name, path);
    // An error handler that took the failure leaves no file: that is a failed download too.
    if (!fileExists(path))
        throw Exception(formatMessage("Die Datei %s konnte nicht vom Server geladen werden", name));
    return readFileBytes(path);
}

std::optional<std::uint64_t> OrderFetch::serverSize(const std::string& name) {
    if (!probe("SIZE " + name))
        return std::nullopt; // no SIZE here, or not for this file
    const std::string& reply = m_ctx.ftp.LastReply();
    std::uint64_t size = 0;
    if (m_ctx.ftp.ReplyNumber() != 213 || reply.size() < 5 ||
        std::from_chars(reply.data() + 4, reply.data() + reply.size(), size).ec != std::errc())
        return std::nullopt;
    return size;
}

void OrderFetch::download(datafiles::OrderStore& store, std::vector<Source>& sources) {
    for (std::size_t i = 0; i < sources.size(); ++i) {
        Source& s = sources[i];
        // The storefront only ever appends: a download shorter than the size the server gave just
        // before it was cut short.
        s.sizeBefore = serverSize(s.name);
        s.bytes = fetchBytes(s.name, store.tempFile(i));
        if (s.sizeBefore && s.bytes.size() < *s.sizeBefore)
            throw Exception(
                formatMessage("Die Datei %s wurde nicht vollständig übertragen (%s von %s Byte). "
                              "Die Bestellungen bleiben auf dem Server",
                              {s.name, std::to_string(s.bytes.size()), std::to_string(*s.sizeBefore)}));
        // Cut short, or still being written: the rest of the line is still to come.
        if (!endsWithLineEnd(s.bytes))
            throw Exception(formatMessage("Die Datei %s auf dem Server endet mitten in einer Zeile. Die "
                                          "Bestellungen bleiben auf dem Server, bis sie vollständig ist",
                                          s.name));
    }
}

std::size_t OrderFetch::merge(datafiles::OrderStore& store, const std::vector<Source>& sources) {
    std::string orderTail, positionTail;
    std::map<std::string, MergedPrefix> prefixes;
    for (const Source& s : sources) {
        bool fresh = true;
        const std::string_view part = unmergedPart(s, store.merged(s.name), fresh);
        (s.positions ? positionTail : orderTail) += datafiles::mergedLines(part, s.positions && fresh);
        prefixes[s.name] = {s.bytes.size(), datafiles::contentHash(s.bytes)};
    }
    store.merge(orderTail, positionTail, prefixes);
    // In written form every merged order is one line with its CR LF.
    return static_cast<std::size_t>(std::count(orderTail.begin(), orderTail.end(), '\n'));
}

bool OrderFetch::unchangedOnServer(datafiles::OrderStore& store, const Source& source, std::size_t spare) {
    if (const std::optional<std::uint64_t> size = serverSize(source.name))
        return *size == source.bytes.size();
    return fetchBytes(source.name, store.tempFile(spare)) == source.bytes;
}

void OrderFetch::removeFromServer(datafiles::OrderStore& store, const std::vector<Source>& sources) {
    std::vector<std::string> gone;
    std::optional<FTPException> refused;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const Source& s = sources[i];
        // What the storefront wrote since the download stays for the next run.
        if (!unchangedOnServer(store, s, sources.size() + i))
            continue;
        try {
            m_ctx.ftp.Delete(s.name);
            gone.push_back(s.name);
        } catch (const FTPException& e) {
            // Merged already: the ledger keeps it from being merged again, and the next run deletes it.
            if (!refused)
                refused = e;
        }
    }
    store.forget(gone);
    if (refused)
        throw *refused;
}

} // namespace velmo::sync
