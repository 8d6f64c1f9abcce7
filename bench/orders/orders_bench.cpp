// Order merge benchmark: the order fetch's merge step (the local files checked for their written
// form, the journal, the appends) taking 10,000 new orders with 30,000 positions into a local history
// of 1,000,000 orders and 3,000,000 positions. The peer is the plain way: read both local files
// whole, add the new lines, write them back.
//
// The last line is "merge: N ms", the median of the runs.
#include "bench/common/measure.h"
#include "datafiles/ordermerge.h"
#include "platform/linefile.h"
#include "sync/core/orderfetch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace velmo;
using bench::Clock;
using bench::msSince;
using bench::statusKb;

namespace {

constexpr int kHistoryOrders = 1'000'000;
constexpr int kNewOrders = 10'000;
constexpr int kPositionsPerOrder = 3;
constexpr int kRuns = 5;

std::string orderLine(int nr, bool local) {
    std::string line = "08.12.2026-10:15;;" + std::to_string(nr) + ";;Erika Mustermann;;Musterfirma GmbH;;" +
                       "Hauptstra\xDF" + "e " + std::to_string(nr % 200) +
                       ";;12345 Musterstadt;;Deutschland;;" +
                       "0123/456789;;;;erika@example.de;;Vorkasse;;4.90";
    return local ? line + ";;1" : line;
}

std::string positionLine(int nr, int i, bool local) {
    std::string line = std::to_string(nr) + ";;x;;" + std::to_string(1 + i) + ";;A-" +
                       std::to_string(1000 + i) + ";;Bienenwachskerze " + std::to_string(i) + ";;12.50";
    return local ? line + ";;0" : line;
}

// Writes the history in blocks, so making it takes little memory.
void writeHistory(const std::string& dir) {
    std::ofstream orders(dir + "/kunden.db", std::ios::binary);
    std::ofstream positions(dir + "/bestellungen.db", std::ios::binary);
    std::string o, p;
    for (int nr = 1; nr <= kHistoryOrders; ++nr) {
        o += orderLine(nr, true) + "\r\n";
        for (int i = 0; i < kPositionsPerOrder; ++i)
            p += positionLine(nr, i, true) + "\r\n";
        if (o.size() > (1 << 20)) {
            orders << o;
            positions << p;
            o.clear();
            p.clear();
        }
    }
    orders << o;
    positions << p;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main() {
    const std::string dir =
        std::filesystem::temp_directory_path() / ("velmo-orders-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{dir};

    std::string serverOrders, serverPositions = "Bestellungen\r\n";
    for (int nr = kHistoryOrders + 1; nr <= kHistoryOrders + kNewOrders; ++nr) {
        serverOrders += orderLine(nr, false) + "\r\n";
        for (int i = 0; i < kPositionsPerOrder; ++i)
            serverPositions += positionLine(nr, i, false) + "\r\n";
    }

    writeHistory(dir);
    const auto historyBytes =
        datafiles::fileLength(dir + "/kunden.db") + datafiles::fileLength(dir + "/bestellungen.db");
    std::printf("history: %d orders, %d positions, %.0f MB; new: %d orders, %d positions\n", kHistoryOrders,
                kHistoryOrders * kPositionsPerOrder, static_cast<double>(historyBytes) / 1e6, kNewOrders,
                kNewOrders * kPositionsPerOrder);

    // The merge, each run on the history as it was: the appended part is cut off again between runs.
    Lines none;
    TFtpClient unused;
    sync::TransferContext ctx{unused, dir,  dir,  dir,  "/", "/", none, none,
                              none,   none, none, none, {},  {},  {}};
    const auto ordersLength = datafiles::fileLength(dir + "/kunden.db");
    const auto positionsLength = datafiles::fileLength(dir + "/bestellungen.db");
    std::vector<double> merges;
    const long rssBefore = statusKb("VmRSS:");
    long peakDuringMerge = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto t0 = Clock::now();
        sync::OrderFetch(ctx).mergeDownloaded(serverOrders, serverPositions);
        merges.push_back(msSince(t0));
        peakDuringMerge = std::max(peakDuringMerge, statusKb("VmHWM:"));
        if (run + 1 < kRuns) {
            datafiles::truncateFile(dir + "/kunden.db", ordersLength);
            datafiles::truncateFile(dir + "/bestellungen.db", positionsLength);
        }
    }
    // The merged files hold exactly the history followed by the new lines.
    const std::string lastOrder = orderLine(kHistoryOrders + kNewOrders, false) + ";;0\r\n";
    const std::string mergedOrders = readFileBytes(dir + "/kunden.db");
    const bool complete =
        mergedOrders.size() == ordersLength + datafiles::mergedLines(serverOrders, false).size() &&
        mergedOrders.compare(mergedOrders.size() - lastOrder.size(), lastOrder.size(), lastOrder) == 0 &&
        datafiles::fileLength(dir + "/bestellungen.db") ==
            positionsLength + datafiles::mergedLines(serverPositions, true).size();
    datafiles::truncateFile(dir + "/kunden.db", ordersLength);
    datafiles::truncateFile(dir + "/bestellungen.db", positionsLength);

    // The peer: the whole files read into lines, the new lines added, both files written back.
    const auto t0 = Clock::now();
    Lines orders = readLines(dir + "/kunden.db");
    Lines positions = readLines(dir + "/bestellungen.db");
    for (const auto& l : splitLines(serverOrders))
        orders.push_back(l + ";;0");
    const Lines newPositions = splitLines(serverPositions);
    for (std::size_t i = 1; i < newPositions.size(); ++i)
        positions.push_back(newPositions[i] + ";;0");
    writeLines(dir + "/bestellungen.db", positions);
    writeLines(dir + "/kunden.db", orders);
    const double rewrite = msSince(t0);

    std::printf("rewrite of both files (peer): %.0f ms, peak memory %ld MB\n", rewrite,
                statusKb("VmHWM:") / 1024);
    std::printf("merge result complete: %s\n", complete ? "yes" : "NO");
    std::printf("peak memory during merge: %ld MB (resident before: %ld MB)\n", peakDuringMerge / 1024,
                rssBefore / 1024);
    std::printf("ratio merge/rewrite: %.3f\n", median(merges) / rewrite);
    std::printf("merge: %.0f ms\n", median(merges));
    return complete ? 0 : 1;
}
