#pragma once

// The peer the window benchmarks measure against: data files of ";;"-separated lines read into
// tables of SQLite in memory (one transaction, one prepared insert per table, every field as text),
// indexed, and one query run to its last row. That is what a program built on a database does to
// show the same data; the window's figure divided by the peer's is the ratio a benchmark prints.

#include "bench/common/measure.h"
#include "platform/linefile.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::bench {

struct PeerTable {
    std::string file;  // the data file
    std::string name;  // its table; the fields are the columns c0, c1, ...
    int columns;       // fields of a line; the last takes the rest of the line
    std::string index; // a column to index, or empty
};

struct PeerRun {
    double ms = 0;
    long rows = 0; // the query's
};

inline void sqliteCheck(int rc, sqlite3* db) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
}

inline PeerRun sqlitePeer(const std::vector<PeerTable>& tables, const std::string& query) {
    const auto t0 = Clock::now();
    sqlite3* db = nullptr;
    sqliteCheck(sqlite3_open(":memory:", &db), db);
    sqliteCheck(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    for (const PeerTable& t : tables) {
        std::string create = "CREATE TABLE " + t.name + "(";
        std::string insert = "INSERT INTO " + t.name + " VALUES(";
        for (int c = 0; c < t.columns; ++c) {
            create.append(c ? ", c" : "c").append(std::to_string(c)).append(" TEXT");
            insert.append(c ? ", ?" : "?");
        }
        sqliteCheck(sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr), db);
        sqlite3_stmt* stmt = nullptr;
        sqliteCheck(sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &stmt, nullptr), db);
        const std::string bytes = readFileBytes(t.file);
        for (std::string_view line : splitLineViews(bytes)) {
            for (int c = 0; c < t.columns; ++c) {
                const std::size_t cut = c + 1 < t.columns ? line.find(";;") : std::string_view::npos;
                const std::string_view field = line.substr(0, cut);
                sqlite3_bind_text(stmt, c + 1, field.data(), static_cast<int>(field.size()), SQLITE_STATIC);
                line.remove_prefix(cut == std::string_view::npos ? line.size() : cut + 2);
            }
            sqliteCheck(sqlite3_step(stmt), db);
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
    }
    sqliteCheck(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    for (const PeerTable& t : tables) {
        if (!t.index.empty()) {
            const std::string sql = "CREATE INDEX ix_" + t.name + " ON " + t.name + "(" + t.index + ")";
            sqliteCheck(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db);
        }
    }
    sqlite3_stmt* q = nullptr;
    sqliteCheck(sqlite3_prepare_v2(db, query.c_str(), -1, &q, nullptr), db);
    PeerRun run;
    while (sqlite3_step(q) == SQLITE_ROW)
        ++run.rows;
    sqlite3_finalize(q);
    sqlite3_close(db);
    run.ms = msSince(t0);
    return run;
}

// The median of runs of the peer.
inline PeerRun medianPeer(int runs, const std::vector<PeerTable>& tables, const std::string& query) {
    std::vector<PeerRun> all;
    all.reserve(static_cast<std::size_t>(runs));
    for (int i = 0; i < runs; ++i)
        all.push_back(sqlitePeer(tables, query));
    std::sort(all.begin(), all.end(), [](const PeerRun& a, const PeerRun& b) { return a.ms < b.ms; });
    return all[all.size() / 2];
}

} // namespace velmo::bench
