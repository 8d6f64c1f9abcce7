#pragma once

#include "platform/errors.h"
#include "platform/filelock.h"
#include "platform/linefile.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The local side of the order fetch: the data folder's fetch lock, the ledger of what the local
// order files already hold of each server file, and the journal that undoes a merge cut off
// half-way. Files in the data folder:
//   orderfetch.lock      flock'ed for the whole of a fetch and for the start-up recovery;
//   orderfetch.ledger    per server file (a claim, or kunden.db and bestellungen.db fetched
//                        directly) the length and hash of the prefix that has been merged, and the
//                        run that merged last; replaced atomically;
//   orderfetch.journal   present only while a merge appends: the run, and for each local file its
//                        length before the merge, a hash of the bytes just before that length and
//                        the number of bytes being added;
//   orderfetch-<run>.tmp a run's folder for its downloads, removed when the run ends.
//
// A merge is one transaction whose commit is the ledger naming its run:
//   - killed or failing before the journal is written: nothing has changed;
//   - killed while appending or before the ledger is written: the next lock holder finds the journal,
//     sees that the ledger does not name its run, and cuts both files back to their old lengths;
//     the server files are still unmerged in the ledger's eyes and are merged again;
//   - failing while appending or writing the ledger (a full disk): the files are cut back at once;
//   - killed after the ledger was written: the journal is only removed.
// A journal is trusted only when each file is at least as long as recorded, at most as long as the
// merge would make it, and ends at the recorded length in the recorded bytes; otherwise (a journal
// from elsewhere, files changed by hand) nothing is cut and the journal is set aside as
// "orderfetch.journal.ungueltig".
namespace velmo::datafiles {

// The local steps of a fetch, each reported before it is taken, with the bytes an append is about
// to write (a test stops the program there, or in the middle of the append).
enum class StoreStep {
    Lock,
    Normalise,
    Journal,
    AppendPositions,
    AppendOrders,
    Ledger,
    JournalRemoved,
    Forget
};
using StoreStepHook = std::function<void(StoreStep, std::string_view bytes)>;

// What the local files hold of one server file: its first `length` bytes, whose hash is `hash`.
struct MergedPrefix {
    std::uint64_t length = 0;
    std::uint64_t hash = 0;
    bool operator==(const MergedPrefix&) const = default;
};

// A writer of kunden.db that finds the folder's fetch lock taken: it must not write now.
class EOrderFilesBusy : public Exception {
public:
    using Exception::Exception;
};

// Where a reader found kunden.db: its length and a hash of the bytes before that length.
struct ReadMark {
    std::uint64_t length = 0;
    std::uint64_t tail = 0;
};
ReadMark markOf(std::string_view bytes);
// The lines a merge has appended to the file since it was read at `mark`; none when it is as it
// was read, or was replaced meanwhile. A rewrite of the file from what was read keeps them.
Lines linesAppendedSince(const std::string& path, const ReadMark& mark);

class OrderStore {
public:
    static constexpr const char* kLockName = "orderfetch.lock";
    static constexpr const char* kLedgerName = "orderfetch.ledger";
    static constexpr const char* kJournalName = "orderfetch.journal";
    static constexpr const char* kSetAsideName = "orderfetch.journal.ungueltig";
    // A rewrite of kunden.db while a fetch holds the data folder.
    static constexpr const char* kBusyWriting =
        "Die Bestellungen werden gerade abgeholt; kunden.db wurde nicht gespeichert. Bitte versuchen Sie es "
        "gleich noch einmal";
    // The error a second program run gets while one fetch holds the data folder.
    static constexpr const char* kBusy =
        "Die Bestellungen werden gerade von einem anderen laufenden Programm in dieses Datenverzeichnis "
        "abgeholt. Bitte warten Sie, "
        "bis es fertig ist, und versuchen Sie es dann noch einmal";

    // Takes the fetch lock of the data folder (Exception kBusy when another run holds it), finishes
    // what a killed run left (an interrupted merge, temporary folders) and makes this run's
    // temporary folder. runId names that folder and the merges of this run.
    OrderStore(std::string localDat, std::string runId, StoreStepHook hook = {});
    ~OrderStore();
    OrderStore(const OrderStore&) = delete;
    OrderStore& operator=(const OrderStore&) = delete;

    // At program start: the recovery above, when no fetch runs. False when one holds the lock.
    static bool recoverIfIdle(const std::string& localDat);

    // A path in this run's temporary folder, for the n-th download.
    std::string tempFile(std::size_t n) const;

    // What has been merged of a server file; no value for one never merged.
    std::optional<MergedPrefix> merged(const std::string& serverName) const;

    // Appends the tails (lines in written form) to bestellungen.db and kunden.db and records the
    // prefixes in the ledger, all or nothing (see above). Local files not in written form are
    // rewritten into it first. Throws the file error; the local files are then as before.
    void merge(std::string_view orderTail, std::string_view positionTail,
               const std::map<std::string, MergedPrefix>& prefixes);

    // Records for `to` what was merged of `from` (a server file about to be renamed to `to`), in
    // the ledger on disk; nothing when nothing was merged of `from`.
    void inherit(const std::string& from, const std::string& to);

    // Drops the ledger entries of server files that are gone (deleted by this run).
    void forget(const std::vector<std::string>& serverNames);

private:
    OrderStore() = default;
    void step(StoreStep s, std::string_view bytes = {}) const;
    void recover();
    void loadLedger();
    void removeTempFolders() const;
    void saveLedger() const;
    std::string file(const char* name) const;

    std::string m_localDat;
    std::string m_runId;
    StoreStepHook m_hook;
    std::optional<FileLock> m_lock;
    std::string m_tempDir;
    std::string m_lastRun;
    std::map<std::string, MergedPrefix> m_ledger;
};

} // namespace velmo::datafiles
