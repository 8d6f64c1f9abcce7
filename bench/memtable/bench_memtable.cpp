// Record table benchmark: the article list's workload (100,000 articles of 14 string fields with six
// single-field indexes) on a MemTable and, as the peer, on SQLite in memory, in the same run.
//
// Work, identical on both sides: append every record; walk every index from first to last reading
// the key; 10,000 nearest-key seeks with prefixes typed key by key; 1,000 edits of three fields
// (two of them indexed) found by article number and posted. Each side runs in a child process of its
// own so that its peak memory can be measured alone. Each figure is the median of three rounds, wall
// time beside processor time (on a machine shared with other work the second tells the work apart
// from the waiting). The last line is the time ratio, against the target of 0.3.
#include "bench/common/measure.h"
#include "memtable/memtable.h"

#include <sqlite3.h>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kRecords = 100'000;
constexpr int kSeeks = 10'000;
constexpr int kEdits = 1'000;
constexpr int kRounds = 3;

struct FieldSpec {
    const char* name;
    int size;
};
constexpr std::array<FieldSpec, 14> kFields = {{{"ArtikelNr", 20},
                                                {"KatalogID", 40},
                                                {"Hersteller", 50},
                                                {"Lieferant", 50},
                                                {"Warengruppe", 40},
                                                {"Bezeichnung", 100},
                                                {"Preis", 20},
                                                {"Gewicht", 20},
                                                {"Bestand", 12},
                                                {"Beschreibung", 512},
                                                {"AngebPreis", 20},
                                                {"thumb", 20},
                                                {"picture", 20},
                                                {"HerstellerURL", 100}}};
constexpr std::array<int, 6> kIndexed = {0, 1, 2, 3, 4, 5};

// --- the data: article-like records in one arena ---------------------------------------------------

struct Data {
    std::string arena;
    std::vector<std::array<std::string_view, 14>> records;
    std::size_t rawBytes = 0;
    struct Seek {
        int index;
        std::string text;
    };
    std::vector<Seek> seeks;
    struct EditOp {
        std::string artikelNr, hersteller, bezeichnung, preis;
    };
    std::vector<EditOp> edits;
};

// Windows-1252 words with umlauts and sharp s, as the shop's data has them.
const std::vector<std::string> kSyllables = {"Ber", "ka",    "sch",  "m\xFC", "ller", "tor", "gen", "ab",
                                             "ze",  "ri",    "\xF6", "\xDF",  "an",   "tel", "bo",  "lin",
                                             "ha",  "\xC4r", "wer",  "ke",    "sta",  "dt",  "ung", "ei"};
const std::vector<std::string> kWords = {"Tasse",
                                         "Kanne",
                                         "Becher",
                                         "Teller",
                                         "Sch\xFCssel",
                                         "Glas",
                                         std::string("L\xF6") + "ffel",
                                         "Gabel",
                                         "Messer",
                                         "Dose",
                                         "gro\xDF",
                                         "klein",
                                         "rot",
                                         "blau",
                                         "wei\xDF",
                                         "Porzellan",
                                         "Edelstahl",
                                         "f\xFCr",
                                         "mit",
                                         "und",
                                         "\xD6ko",
                                         std::string("Stra\xDF") + "e",
                                         "Set",
                                         "Deckel",
                                         "Henkel",
                                         "matt",
                                         "gl\xE4nzend",
                                         "sp\xFClmaschinenfest",
                                         "Geschenk",
                                         "Karton",
                                         "6er",
                                         "12-teilig"};

std::string pickName(std::mt19937& rng, int parts) {
    std::string s;
    for (int i = 0; i < parts; ++i)
        s += kSyllables[rng() % kSyllables.size()];
    s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    return s;
}

std::string words(std::mt19937& rng, int n, std::size_t max) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        const std::string& w = kWords[rng() % kWords.size()];
        if (s.size() + w.size() + 1 > max)
            break;
        if (!s.empty())
            s += ' ';
        s += w;
    }
    return s;
}

Data makeData() {
    Data d;
    std::mt19937 rng(4711);
    std::vector<std::string> hersteller, lieferant, gruppe;
    for (int i = 0; i < 300; ++i)
        hersteller.push_back(pickName(rng, 2 + static_cast<int>(rng() % 3)));
    for (int i = 0; i < 80; ++i)
        lieferant.push_back(pickName(rng, 2 + static_cast<int>(rng() % 2)) + " GmbH");
    for (int i = 0; i < 60; ++i)
        gruppe.push_back(words(rng, 1 + static_cast<int>(rng() % 2), 40));
    std::vector<int> numbers(kRecords);
    for (int i = 0; i < kRecords; ++i)
        numbers[static_cast<std::size_t>(i)] = 100000 + i;
    std::shuffle(numbers.begin(), numbers.end(), rng);

    std::vector<std::array<std::string, 14>> texts(kRecords);
    for (int i = 0; i < kRecords; ++i) {
        auto& r = texts[static_cast<std::size_t>(i)];
        const std::string nr =
            std::string(1, "ABK"[rng() % 3]) + "-" + std::to_string(numbers[static_cast<std::size_t>(i)]);
        const std::string& h = hersteller[rng() % hersteller.size()];
        r[0] = nr;
        r[1] = "KAT" + std::to_string(rng() % 40);
        r[2] = h;
        r[3] = lieferant[rng() % lieferant.size()];
        r[4] = gruppe[rng() % gruppe.size()];
        r[5] = words(rng, 3 + static_cast<int>(rng() % 5), 100);
        r[6] = std::to_string(rng() % 500) + "," + std::to_string(10 + rng() % 90);
        r[7] = std::to_string(50 + rng() % 5000);
        r[8] = std::to_string(rng() % 200);
        r[9] = words(rng, 8 + static_cast<int>(rng() % 32), 512);
        r[10] = rng() % 10 < 3 ? std::to_string(rng() % 400) + ",90" : "";
        r[11] = "t" + nr + ".jpg";
        r[12] = "p" + nr + ".jpg";
        std::string host;
        for (char c : h) {
            if (std::isalpha(static_cast<unsigned char>(c)))
                host += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        r[13] = "http://www." + host + ".de";
        for (auto& f : r)
            d.rawBytes += f.size();
    }
    d.arena.reserve(d.rawBytes);
    std::vector<std::array<std::size_t, 14>> offsets(kRecords);
    for (int i = 0; i < kRecords; ++i) {
        for (int f = 0; f < 14; ++f) {
            offsets[static_cast<std::size_t>(i)][static_cast<std::size_t>(f)] = d.arena.size();
            d.arena += texts[static_cast<std::size_t>(i)][static_cast<std::size_t>(f)];
        }
    }
    d.records.resize(kRecords);
    for (int i = 0; i < kRecords; ++i) {
        for (int f = 0; f < 14; ++f) {
            const auto& t = texts[static_cast<std::size_t>(i)][static_cast<std::size_t>(f)];
            d.records[static_cast<std::size_t>(i)][static_cast<std::size_t>(f)] =
                std::string_view(d.arena).substr(
                    offsets[static_cast<std::size_t>(i)][static_cast<std::size_t>(f)], t.size());
        }
    }
    // Searches as typed: a random index, a random record's key, its prefixes one keystroke at a time.
    while (static_cast<int>(d.seeks.size()) < kSeeks) {
        const int ix = static_cast<int>(rng() % kIndexed.size());
        const std::string_view key =
            d.records[rng() % kRecords][static_cast<std::size_t>(kIndexed[static_cast<std::size_t>(ix)])];
        for (std::size_t len = 1;
             len <= std::min<std::size_t>(key.size(), 12) && static_cast<int>(d.seeks.size()) < kSeeks; ++len)
            d.seeks.push_back({ix, std::string(key.substr(0, len))});
    }
    for (int i = 0; i < kEdits; ++i) {
        const auto& r = d.records[rng() % kRecords];
        d.edits.push_back({std::string(r[0]), hersteller[rng() % hersteller.size()] + " Neu",
                           words(rng, 4, 100), std::to_string(rng() % 900) + ",50"});
    }
    return d;
}

// --- measuring -------------------------------------------------------------------------------------

using velmo::bench::Clock;
using velmo::bench::msSince;
using velmo::bench::statusKb;

struct Result {
    double load = 0, walk = 0, seek = 0, edit = 0;
    double cpu = 0; // processor time of the whole work
    long peakKb = 0;
    long long heapBytes = 0; // heap in use by the table when the work is done
    long long walkBytes = 0;
    int found = 0;
    int edited = 0;
    double total() const { return load + walk + seek + edit; }
};

// --- our side --------------------------------------------------------------------------------------

Result runMemTable(const Data& d) {
    Result r;
    const double c0 = velmo::bench::processorMs();
    auto t0 = Clock::now();
    velmo::MemTable t;
    for (const auto& f : kFields)
        t.addField(f.name, velmo::FieldType::String, f.size);
    for (int ix : kIndexed)
        t.addIndexDef(
            {kFields[static_cast<std::size_t>(ix)].name, {kFields[static_cast<std::size_t>(ix)].name}});
    t.setActive(true);
    for (const auto& rec : d.records)
        t.AppendValues(std::span<const std::string_view>(rec));
    r.load = msSince(t0);

    t0 = Clock::now();
    for (int ix : kIndexed) {
        t.setIndexName(kFields[static_cast<std::size_t>(ix)].name);
        t.SyncIndexes();
        velmo::Field& key = t.field(ix);
        for (t.First(); !t.eof(); t.Next())
            r.walkBytes += static_cast<long long>(key.view().size());
    }
    r.walk = msSince(t0);

    t0 = Clock::now();
    for (const auto& s : d.seeks) {
        t.setIndexName(kFields[static_cast<std::size_t>(kIndexed[static_cast<std::size_t>(s.index)])].name);
        r.found += t.SeekNearest(s.text);
    }
    r.seek = msSince(t0);

    t0 = Clock::now();
    t.setIndexName("ArtikelNr");
    velmo::Field& nr = t.fieldByName("ArtikelNr");
    for (const auto& e : d.edits) {
        if (!t.SeekNearest(e.artikelNr) || nr.view() != e.artikelNr)
            continue;
        t.Edit();
        t.fieldByName("Hersteller").setAsString(e.hersteller);
        t.fieldByName("Bezeichnung").setAsString(e.bezeichnung);
        t.fieldByName("Preis").setAsString(e.preis);
        t.Post();
        ++r.edited;
    }
    r.edit = msSince(t0);
    r.cpu = velmo::bench::processorMs() - c0;
    r.peakKb = statusKb("VmHWM:");
    r.heapBytes = static_cast<long long>(mallinfo2().uordblks);
    return r;
}

// --- the peer --------------------------------------------------------------------------------------

void check(int rc, sqlite3* db, int want = SQLITE_OK) {
    if (rc != want) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(2);
    }
}

Result runSqlite(const Data& d) {
    Result r;
    const double c0 = velmo::bench::processorMs();
    auto t0 = Clock::now();
    sqlite3* db = nullptr;
    check(sqlite3_open(":memory:", &db), db);
    std::string create = "CREATE TABLE t(";
    for (std::size_t f = 0; f < kFields.size(); ++f)
        create += std::string(f ? "," : "") + kFields[f].name + " TEXT";
    create += ")";
    check(sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), db);
    for (int ix : kIndexed) {
        const std::string name = kFields[static_cast<std::size_t>(ix)].name;
        std::string sql = "CREATE INDEX ix_";
        sql.append(name).append(" ON t(").append(name).append(")");
        check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db);
    }
    check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* ins = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1, &ins, nullptr), db);
    for (const auto& rec : d.records) {
        for (int f = 0; f < 14; ++f)
            sqlite3_bind_text(ins, f + 1, rec[static_cast<std::size_t>(f)].data(),
                              static_cast<int>(rec[static_cast<std::size_t>(f)].size()), SQLITE_STATIC);
        check(sqlite3_step(ins), db, SQLITE_DONE);
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    r.load = msSince(t0);

    t0 = Clock::now();
    for (int ix : kIndexed) {
        const std::string name = kFields[static_cast<std::size_t>(ix)].name;
        sqlite3_stmt* s = nullptr;
        std::string sql = "SELECT rowid,";
        sql.append(name).append(" FROM t ORDER BY ").append(name);
        check(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), db);
        while (sqlite3_step(s) == SQLITE_ROW)
            r.walkBytes += sqlite3_column_bytes(s, 1);
        sqlite3_finalize(s);
    }
    r.walk = msSince(t0);

    t0 = Clock::now();
    std::vector<sqlite3_stmt*> seek;
    for (int ix : kIndexed) {
        const std::string name = kFields[static_cast<std::size_t>(ix)].name;
        sqlite3_stmt* s = nullptr;
        std::string sql = "SELECT rowid FROM t WHERE ";
        sql.append(name).append(" >= ? ORDER BY ").append(name).append(" LIMIT 1");
        check(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), db);
        seek.push_back(s);
    }
    for (const auto& s : d.seeks) {
        sqlite3_stmt* st = seek[static_cast<std::size_t>(s.index)];
        sqlite3_bind_text(st, 1, s.text.data(), static_cast<int>(s.text.size()), SQLITE_STATIC);
        r.found += sqlite3_step(st) == SQLITE_ROW;
        sqlite3_reset(st);
    }
    for (auto* s : seek)
        sqlite3_finalize(s);
    r.seek = msSince(t0);

    t0 = Clock::now();
    sqlite3_stmt* up = nullptr;
    check(sqlite3_prepare_v2(db, "UPDATE t SET Hersteller=?, Bezeichnung=?, Preis=? WHERE ArtikelNr=?", -1,
                             &up, nullptr),
          db);
    check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    for (const auto& e : d.edits) {
        sqlite3_bind_text(up, 1, e.hersteller.data(), static_cast<int>(e.hersteller.size()), SQLITE_STATIC);
        sqlite3_bind_text(up, 2, e.bezeichnung.data(), static_cast<int>(e.bezeichnung.size()), SQLITE_STATIC);
        sqlite3_bind_text(up, 3, e.preis.data(), static_cast<int>(e.preis.size()), SQLITE_STATIC);
        sqlite3_bind_text(up, 4, e.artikelNr.data(), static_cast<int>(e.artikelNr.size()), SQLITE_STATIC);
        check(sqlite3_step(up), db, SQLITE_DONE);
        r.edited += sqlite3_changes(db);
        sqlite3_reset(up);
    }
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqlite3_finalize(up);
    r.edit = msSince(t0);
    r.cpu = velmo::bench::processorMs() - c0;
    r.peakKb = statusKb("VmHWM:");
    r.heapBytes = static_cast<long long>(mallinfo2().uordblks);
    sqlite3_close(db);
    return r;
}

// Runs one side in a child: the data is made there, the peak resident size is reset after it, so
// the peak that follows is the workload's alone.
Result inChild(Result (*run)(const Data&)) {
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(2);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Data d = makeData();
        // Freed scratch memory of the data set-up would otherwise be reused unseen by the workload.
        malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
        const long baseKb = statusKb("VmRSS:");
        const auto heapBefore = mallinfo2().uordblks;
        Result r = run(d);
        r.peakKb -= baseKb;
        r.heapBytes -= static_cast<long long>(heapBefore);
        if (write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r))
            _exit(2);
        _exit(0);
    }
    close(fds[1]);
    Result r;
    if (read(fds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) {
        std::fprintf(stderr, "benchmark child failed\n");
        std::exit(2);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return r;
}

void print(const char* name, const Result& r) {
    std::printf("%-9s load %7.1f ms  walk %6.1f ms  seek %6.1f ms  edit %6.1f ms  total %7.1f ms  processor "
                "%7.1f ms  peak %6.1f MB  heap %6.1f MB"
                "  (walked %lld bytes, %d seeks found, %d edited)\n",
                name, r.load, r.walk, r.seek, r.edit, r.total(), r.cpu,
                static_cast<double>(r.peakKb) / 1024.0, static_cast<double>(r.heapBytes) / (1024.0 * 1024.0),
                r.walkBytes, r.found, r.edited);
}

} // namespace

int main() {
    const Data d = makeData();
    std::printf("%d records, 14 string fields, %zu indexes; raw bytes of the records: %.1f MB\n", kRecords,
                kIndexed.size(), static_cast<double>(d.rawBytes) / (1024.0 * 1024.0));
    std::vector<Result> ours, peers;
    for (int round = 0; round < kRounds; ++round) {
        ours.push_back(inChild(runMemTable));
        peers.push_back(inChild(runSqlite));
        print("memtable", ours.back());
        print("sqlite", peers.back());
    }
    // Medians, each figure on its own.
    auto median = [](std::vector<Result> v, auto key) {
        std::sort(v.begin(), v.end(), [&](const Result& a, const Result& b) { return key(a) < key(b); });
        return key(v[v.size() / 2]);
    };
    auto total = [](const Result& r) { return r.total(); };
    auto cpu = [](const Result& r) { return r.cpu; };
    auto peak = [](const Result& r) { return static_cast<double>(r.peakKb); };
    auto heap = [](const Result& r) { return static_cast<double>(r.heapBytes); };
    const double raw = static_cast<double>(d.rawBytes);
    std::printf("median of %d: memtable %.1f ms (processor %.1f ms), sqlite %.1f ms (processor %.1f ms)\n",
                kRounds, median(ours, total), median(ours, cpu), median(peers, total), median(peers, cpu));
    std::printf("peak memory: memtable %.1f MB (%.2f x raw), sqlite %.1f MB (%.2f x raw)\n",
                median(ours, peak) / 1024.0, median(ours, peak) * 1024.0 / raw, median(peers, peak) / 1024.0,
                median(peers, peak) * 1024.0 / raw);
    std::printf("heap held after the work: memtable %.2f x raw, sqlite %.2f x raw\n",
                median(ours, heap) / raw, median(peers, heap) / raw);
    std::printf("ratio vs sqlite: %.3f (processor %.3f; target 0.3)\n",
                median(ours, total) / median(peers, total), median(ours, cpu) / median(peers, cpu));
    return 0;
}
