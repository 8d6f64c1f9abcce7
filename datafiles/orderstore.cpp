#include "datafiles/orderstore.h"

#include "datafiles/orderfiles.h"
#include "datafiles/ordermerge.h"
#include "platform/errors.h"
#include "platform/linefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace velmo::datafiles {

namespace {

namespace fs = std::filesystem;

constexpr const char* kLedgerHeader = "velmo orderfetch ledger 1";
constexpr std::size_t kTailBytes = 256;
// Download names an earlier version of the program used; a run it left behind may have kept them.
constexpr const char* kOldTempNames[] = {"kunden.db.fetch", "bestellungen.db.fetch"};

// Reads the next blank-separated number of text; false when there is none.
bool takeNumber(std::string_view& text, std::uint64_t& value) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || (end != text.data() + text.size() && *end != ' '))
        return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

bool takeWord(std::string_view& text, std::string_view& word) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    const std::size_t end = std::min(text.find(' '), text.size());
    word = text.substr(0, end);
    text.remove_prefix(end);
    return !word.empty();
}

// The hash of the (at most kTailBytes) bytes before length; a file shorter than length has none.
std::optional<std::uint64_t> tailHash(const std::string& path, std::uint64_t length) {
    if (fileLength(path) < length)
        return std::nullopt;
    const std::uint64_t from = length > kTailBytes ? length - kTailBytes : 0;
    std::string bytes(static_cast<std::size_t>(length - from), '\0');
    if (bytes.empty())
        return contentHash(bytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EFOpenError(formatMessage("Datei %s kann nicht geöffnet werden", path));
    const ssize_t n = ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(from));
    ::close(fd);
    if (n != static_cast<ssize_t>(bytes.size()))
        throw EFOpenError(formatMessage("Datei %s kann nicht geöffnet werden", path));
    return contentHash(bytes);
}

// One local file in the journal: its length before the merge, the hash of the bytes before that
// length, and how many bytes the merge adds.
struct JournalFile {
    std::uint64_t oldLength = 0, tail = 0, added = 0;

    bool read(std::string_view& text) {
        return takeNumber(text, oldLength) && takeNumber(text, tail) && takeNumber(text, added);
    }
    std::string text() const {
        return std::to_string(oldLength) + " " + std::to_string(tail) + " " + std::to_string(added);
    }
    // The file is this merge's: the old bytes end where recorded, and no more was added.
    bool fits(const std::string& path) const {
        const std::uint64_t now = fileLength(path);
        return now >= oldLength && now - oldLength <= added && tailHash(path, oldLength) == tail;
    }
};

struct Journal {
    std::string run;
    JournalFile orders, positions;

    static std::optional<Journal> parse(const std::string& bytes) {
        const Lines lines = splitLines(bytes);
        if (lines.size() != 1)
            return std::nullopt;
        std::string_view text = lines[0], word, run;
        Journal j;
        if (!takeWord(text, word) || word != "merge" || !takeWord(text, run) || !j.orders.read(text) ||
            !j.positions.read(text) || !text.empty())
            return std::nullopt;
        j.run = run;
        return j;
    }
    std::string text() const {
        return "merge " + run + " " + orders.text() + " " + positions.text() + "\r\n";
    }
};

void removeQuietly(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

} // namespace

ReadMark markOf(std::string_view bytes) {
    const std::size_t from = bytes.size() > kTailBytes ? bytes.size() - kTailBytes : 0;
    return {bytes.size(), contentHash(bytes.substr(from))};
}

Lines linesAppendedSince(const std::string& path, const ReadMark& mark) {
    const std::uint64_t now = fileLength(path);
    if (now <= mark.length || tailHash(path, mark.length) != mark.tail)
        return {};
    const std::string bytes = readFileBytes(path);
    return splitLines(std::string_view(bytes).substr(static_cast<std::size_t>(mark.length)));
}

OrderStore::OrderStore(std::string localDat, std::string runId, StoreStepHook hook)
    : m_localDat(std::move(localDat)), m_runId(std::move(runId)), m_hook(std::move(hook)) {
    step(StoreStep::Lock);
    m_lock = FileLock::tryLock(file(kLockName));
    if (!m_lock)
        throw Exception(kBusy);
    recover();
    removeTempFolders();
    m_tempDir = joinPath(m_localDat, "orderfetch-" + m_runId + ".tmp");
    std::error_code ec;
    if (!fs::create_directory(m_tempDir, ec) || ec)
        throw EFCreateError(formatMessage("Datei %s kann nicht erstellt werden", m_tempDir));
}

OrderStore::~OrderStore() {
    if (!m_tempDir.empty()) {
        std::error_code ec;
        fs::remove_all(m_tempDir, ec);
    }
}

bool OrderStore::recoverIfIdle(const std::string& localDat) {
    std::optional<FileLock> lock = FileLock::tryLock(joinPath(localDat, kLockName));
    if (!lock)
        return false;
    OrderStore store;
    store.m_localDat = localDat;
    store.recover();
    store.removeTempFolders();
    return true;
}

std::string OrderStore::file(const char* name) const {
    return joinPath(m_localDat, name);
}

void OrderStore::step(StoreStep s, std::string_view bytes) const {
    if (m_hook)
        m_hook(s, bytes);
}

std::string OrderStore::tempFile(std::size_t n) const {
    return joinPath(m_tempDir, std::to_string(n));
}

std::optional<MergedPrefix> OrderStore::merged(const std::string& serverName) const {
    const auto it = m_ledger.find(serverName);
    return it == m_ledger.end() ? std::nullopt : std::optional<MergedPrefix>(it->second);
}

void OrderStore::recover() {
    loadLedger();
    const std::string journalPath = file(kJournalName);
    if (!fileExists(journalPath))
        return;
    const std::optional<Journal> journal = Journal::parse(readFileBytes(journalPath));
    if (journal && journal->run == m_lastRun) {
        removeQuietly(journalPath); // the merge was complete
        return;
    }
    const std::string orders = file(kOrderFile), positions = file(kPositionFile);
    if (!journal || !journal->orders.fits(orders) || !journal->positions.fits(positions)) {
        ::rename(journalPath.c_str(), file(kSetAsideName).c_str());
        return;
    }
    truncateFile(positions, journal->positions.oldLength);
    truncateFile(orders, journal->orders.oldLength);
    removeQuietly(journalPath);
}

void OrderStore::loadLedger() {
    const std::string path = file(kLedgerName);
    m_ledger.clear();
    m_lastRun.clear();
    if (!fileExists(path))
        return;
    const Lines lines = readLines(path);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view text = lines[i], word;
        MergedPrefix p;
        if (i == 0 && text == kLedgerHeader)
            continue;
        if (i == 1 && takeWord(text, word) && word == "run" && takeWord(text, word)) {
            m_lastRun = word;
            continue;
        }
        // A ledger that cannot be read might make a claim count as new: refuse rather than fetch
        // orders a second time.
        if (i == 0 || !takeNumber(text, p.length) || !takeNumber(text, p.hash) || text.size() < 2)
            throw Exception(
                formatMessage("Die Liste der abgeholten Bestelldateien %s ist beschädigt (Zeile %s)",
                              {path, std::to_string(i + 1)}));
        m_ledger[std::string(text.substr(1))] = p;
    }
}

void OrderStore::removeTempFolders() const {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_localDat, ec)) {
        const std::string name = entry.path().filename().string();
        const bool ours = name.rfind("orderfetch-", 0) == 0 && name.size() > 15 &&
                          name.compare(name.size() - 4, 4, ".tmp") == 0;
        std::error_code e;
        if (ours && entry.is_directory(e) && !entry.is_symlink(e))
            fs::remove_all(entry.path(), e);
    }
    for (const char* name : kOldTempNames)
        removeQuietly(file(name));
}

void OrderStore::saveLedger() const {
    std::string text = std::string(kLedgerHeader) + "\r\nrun " + m_lastRun + "\r\n";
    for (const auto& [name, p] : m_ledger)
        text += std::to_string(p.length) + " " + std::to_string(p.hash) + " " + name + "\r\n";
    writeFileAtomically(file(kLedgerName), text);
}

void OrderStore::merge(std::string_view orderTail, std::string_view positionTail,
                       const std::map<std::string, MergedPrefix>& prefixes) {
    const std::string orders = file(kOrderFile), positions = file(kPositionFile);
    const auto ledgerBefore = m_ledger;
    const std::string lastRunBefore = m_lastRun;
    for (const auto& [name, p] : prefixes)
        m_ledger[name] = p;
    m_lastRun = m_runId;
    if (orderTail.empty() && positionTail.empty()) {
        // Only a header line or nothing new: the ledger alone moves on.
        step(StoreStep::Ledger);
        saveLedger();
        return;
    }

    // The lengths are taken after the files are in written form: a cut back to them must land on
    // a line end of the file as it is now.
    step(StoreStep::Normalise);
    normaliseLineFile(orders);
    normaliseLineFile(positions);
    Journal journal{.run = m_runId,
                    .orders = {fileLength(orders), 0, orderTail.size()},
                    .positions = {fileLength(positions), 0, positionTail.size()}};
    journal.orders.tail = *tailHash(orders, journal.orders.oldLength);
    journal.positions.tail = *tailHash(positions, journal.positions.oldLength);
    step(StoreStep::Journal);
    writeFileAtomically(file(kJournalName), journal.text());

    try {
        step(StoreStep::AppendPositions, positionTail);
        appendToFile(positions, positionTail);
        step(StoreStep::AppendOrders, orderTail);
        appendToFile(orders, orderTail);
        step(StoreStep::Ledger);
        saveLedger();
    } catch (...) {
        m_ledger = ledgerBefore;
        m_lastRun = lastRunBefore;
        try {
            truncateFile(positions, journal.positions.oldLength);
            truncateFile(orders, journal.orders.oldLength);
            removeQuietly(file(kJournalName));
        } catch (const std::exception&) {
            // The journal stays: the next run cuts the files back.
        }
        throw;
    }
    // Committed: the journal has nothing more to say, and a journal left behind is harmless.
    try {
        step(StoreStep::JournalRemoved);
        removeQuietly(file(kJournalName));
    } catch (const std::exception&) {
    }
}

void OrderStore::inherit(const std::string& from, const std::string& to) {
    const auto it = m_ledger.find(from);
    if (it == m_ledger.end())
        return;
    m_ledger[to] = it->second;
    step(StoreStep::Ledger);
    saveLedger();
}

void OrderStore::forget(const std::vector<std::string>& serverNames) {
    bool changed = false;
    for (const std::string& name : serverNames)
        changed = m_ledger.erase(name) > 0 || changed;
    if (!changed)
        return;
    step(StoreStep::Forget);
    saveLedger();
}

} // namespace velmo::datafiles
