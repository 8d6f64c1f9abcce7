// The order fetch against a scripted storefront: the exact commands of a clean fetch, and each of
// the roads on which orders were once lost or doubled. The schedules of faults in
// orderfetch_schedules_test.cpp explore the combinations.

#include "datafiles/ordermerge.h"
#include "platform/filelock.h"
#include "tests/sync/fetch_world.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

using namespace velmo;
using namespace velmo::test;
using datafiles::OrderStore;
using datafiles::StoreStep;
using sync::OrderFetch;
using Fault = ShopServer::Fault;

namespace {

constexpr const char* kNoNewOrders = "Es sind keine neuen Bestellungen vorhanden";

class OrderFetchTest : public ::testing::Test, protected FetchWorld {
protected:
    // Clean runs until one finds nothing new; then everything must be fetched.
    void finishCleanly() {
        server.clearFaults();
        server.afterRetr({});
        RunEnd end;
        for (int i = 0; i < 3 && end.kind != RunEnd::NothingNew; ++i)
            end = runHere();
        EXPECT_EQ(end.kind, RunEnd::NothingNew) << end.message;
        EXPECT_EQ(allFetched(), "");
    }
    std::vector<std::string> verbs() const {
        std::vector<std::string> out;
        for (const auto& line : server.transcript())
            if (line.rfind("PORT", 0) != 0 && line.rfind("USER", 0) != 0 && line.rfind("PASS", 0) != 0)
                out.push_back(line);
        return out;
    }
    std::string localBytes() const { return h.localFile("kunden.db") + "|" + h.localFile("bestellungen.db"); }
};

TEST_F(OrderFetchTest, ClaimsDownloadsMergesThenDeletesWithExactCommands) {
    placeOrder(1002);
    placeOrder(1003);
    h.ftp.Connect();
    server.scripted().clearTranscript();
    OrderFetch f(h.context());
    f.runId = "T1";
    EXPECT_EQ(f.run(), 2u);
    EXPECT_EQ(verbs(), (std::vector<std::string>{
                           "CWD /", "CWD /db", "TYPE I", "NLST", "RNFR kunden.db", "RNTO kunden-T1.claim",
                           "RNFR bestellungen.db", "RNTO bestellungen-T1.claim", "SIZE kunden-T1.claim",
                           "RETR kunden-T1.claim", "SIZE bestellungen-T1.claim", "RETR bestellungen-T1.claim",
                           "SIZE kunden-T1.claim", "DELE kunden-T1.claim", "SIZE bestellungen-T1.claim",
                           "DELE bestellungen-T1.claim", "TYPE A"}));
    EXPECT_EQ(allFetched(), "");
    EXPECT_EQ(h.statuses.back(), "Connected");
    EXPECT_TRUE(h.informations.empty());
    // Nothing new: the second run only says so.
    const RunEnd second = runHere();
    EXPECT_EQ(second.kind, RunEnd::NothingNew);
    EXPECT_EQ(second.merged, 0u);
    EXPECT_EQ(h.informations, std::vector<std::string>{kNoNewOrders});
    EXPECT_EQ(allFetched(), "");
}

TEST_F(OrderFetchTest, FirstFetchCreatesTheLocalFilesAndAnOddLocalFileIsNormalisedFirst) {
    ::unlink(h.local.file("kunden.db").c_str());
    // No final line break and a lone LF: the merged file is what rewriting its lines would give.
    h.writeLocal("bestellungen.db", "1001;;x;;2;;A-1;;Kerze;;9,80;;0\n1001;;x;;1;;A-2;;Band;;1;;1");
    server.put("/db/kunden.db", orderText(7) + "\r\n");
    server.put("/db/bestellungen.db", "only a first line\r\n");
    EXPECT_EQ(runHere().kind, RunEnd::Fetched);
    EXPECT_EQ(h.localFile("kunden.db"), orderText(7) + ";;0\r\n");
    EXPECT_EQ(h.localFile("bestellungen.db"),
              "1001;;x;;2;;A-1;;Kerze;;9,80;;0\r\n1001;;x;;1;;A-2;;Band;;1;;1\r\n");
}

TEST_F(OrderFetchTest, OrdersWithoutPositionsFileAreFetchedAlone) {
    server.put("/db/kunden.db", orderText(5) + "\r\n");
    EXPECT_EQ(runHere().kind, RunEnd::Fetched);
    EXPECT_EQ(h.localFile("kunden.db"), oldOrders + orderText(5) + ";;0\r\n");
    EXPECT_EQ(h.localFile("bestellungen.db"), oldPositions);
    EXPECT_EQ(server.filesIn("/db/"), std::vector<std::string>{});
}

TEST_F(OrderFetchTest, ANotConnectedClientLeavesEverythingAsItWas) {
    placeOrder(1002);
    EXPECT_ANY_THROW(OrderFetch(h.context()).run());
    EXPECT_EQ(localBytes(), oldOrders + "|" + oldPositions);
}

TEST_F(OrderFetchTest, BlankLinesFromTheStorefrontAreLeftOut) {
    server.put("/db/kunden.db", "\r\n" + orderText(5) + "\r\n \t\r\n\r\n");
    server.put("/db/bestellungen.db", "Bestellungen\r\n\r\n" + positionText(5, 1) + "\r\n   \r\n");
    const RunEnd end = runHere();
    EXPECT_EQ(end.kind, RunEnd::Fetched);
    EXPECT_EQ(end.merged, 1u) << "a blank line counted as an order";
    EXPECT_EQ(h.localFile("kunden.db"), oldOrders + orderText(5) + ";;0\r\n");
    EXPECT_EQ(h.localFile("bestellungen.db"), oldPositions + positionText(5, 1) + ";;0\r\n");
}

// A download that fails in any way fails the run: it never reads as "no such file". Twice in a
// row, then normal service; the third fetch has every order, once.
struct DownloadFault {
    const char* name;
    Fault fault;
    const char* file;
};
class FailedDownloads : public OrderFetchTest, public ::testing::WithParamInterface<DownloadFault> {};

TEST_P(FailedDownloads, FailTheRunAndLoseNothing) {
    placeOrder(1002);
    placeOrder(1003);
    h.ftp.ReplyTimeOut = 200;
    h.ftp.TimeOut = 200;
    server.fault("RETR", GetParam().file, GetParam().fault, 2);
    for (int run = 0; run < 2; ++run) {
        const RunEnd end = runHere();
        EXPECT_EQ(end.kind, RunEnd::Failed) << "run " << run;
        EXPECT_EQ(localBytes(), oldOrders + "|" + oldPositions) << "run " << run;
        EXPECT_EQ(nothingLostOrDoubled(), "");
    }
    placeOrder(1004);
    finishCleanly();
}

INSTANTIATE_TEST_SUITE_P(
    EachFault, FailedDownloads,
    ::testing::Values(DownloadFault{"orders_425", Fault::DataFails, "kunden-"},
                      DownloadFault{"orders_550", Fault::Refuse, "kunden-"},
                      DownloadFault{"orders_450", Fault::Busy, "kunden-"},
                      DownloadFault{"positions_425", Fault::DataFails, "bestellungen-"},
                      DownloadFault{"orders_cut", Fault::CutTransfer, "kunden-"},
                      DownloadFault{"orders_half_then_226", Fault::ShortTransfer, "kunden-"},
                      DownloadFault{"positions_half_then_226", Fault::ShortTransfer, "bestellungen-"},
                      DownloadFault{"orders_no_reply", Fault::Silent, "kunden-"},
                      DownloadFault{"every_download_refused", Fault::Refuse, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Half a file with 226 from a server without SIZE: the cut line ends the run, and one that ends
// at a line end is merged but not deleted, since the second look finds more.
TEST_F(OrderFetchTest, HalfAFileFromAServerWithoutSizeIsNeverDeleted) {
    for (int nr = 1002; nr < 1012; ++nr)
        placeOrder(nr);
    server.fault("SIZE", "", Fault::Unsupported, 1000);
    server.fault("RETR", "kunden-", Fault::ShortTransfer);
    runHere();
    EXPECT_EQ(nothingLostOrDoubled(), "");
    finishCleanly();
}

// Orders and positions go together: a positions file that cannot be claimed holds its orders back.
TEST_F(OrderFetchTest, ARefusedOrLostRenameOfThePositionsMergesNothing) {
    for (Fault fault : {Fault::Refuse, Fault::DropAfter, Fault::DropBefore}) {
        placeOrder(int(fault) + 2000);
        server.fault(fault == Fault::Refuse ? "RNFR" : "RNTO", "bestellungen", fault);
        EXPECT_EQ(runHere().kind, RunEnd::Failed);
        EXPECT_EQ(localBytes(), oldOrders + "|" + oldPositions);
        EXPECT_EQ(nothingLostOrDoubled(), "");
    }
    finishCleanly();
}

// A run killed between the two renames left a claimed kunden file beside bestellungen.db, and no
// journal: the next run claims the positions and merges both.
TEST_F(OrderFetchTest, ARunKilledBetweenTheTwoRenamesIsFinished) {
    placeOrder(1002);
    server.put("/db/kunden-20261201000000-1-00000000.claim", server.get("/db/kunden.db"));
    server.remove("/db/kunden.db");
    placeOrder(1003);
    finishCleanly();
    const std::string orders = h.localFile("kunden.db");
    EXPECT_LT(orders.find(orderText(1002)), orders.find(orderText(1003)))
        << "claims merged in the order made";
}

// A claim whose journal is gone (another workstation, a deleted journal) is taken up from the
// listing; one the ledger knows as merged is only deleted.
TEST_F(OrderFetchTest, StrandedClaimsAreFetchedOnceWithoutTheJournal) {
    placeOrder(1002);
    EXPECT_EQ(runHere().kind, RunEnd::Fetched);
    // As if the deletion of the claims had been lost: they are back on the server, merged already.
    const std::string orders = orderText(1002) + "\r\n";
    const std::string positions =
        "Bestellungen\r\n" + positionText(1002, 1) + "\r\n" + positionText(1002, 2) + "\r\n";
    server.put("/db/kunden-20261210000000-7-0000000a.claim", orders);
    server.put("/db/bestellungen-20261210000000-7-0000000a.claim", positions);
    OrderStore(h.local.path(), "X")
        .merge("", "",
               {{"kunden-20261210000000-7-0000000a.claim", {orders.size(), datafiles::contentHash(orders)}},
                {"bestellungen-20261210000000-7-0000000a.claim",
                 {positions.size(), datafiles::contentHash(positions)}}});
    // And claims another workstation made and never fetched.
    placeOrder(1003);
    server.put("/db/kunden-20261211000000-8-0000000b.claim", server.get("/db/kunden.db"));
    server.put("/db/bestellungen-20261211000000-8-0000000b.claim", server.get("/db/bestellungen.db"));
    server.remove("/db/kunden.db");
    server.remove("/db/bestellungen.db");
    finishCleanly();
}

// With a server that cannot rename: the storefront takes an order after every download; the
// fetch deletes only after a last look that found nothing new.
TEST_F(OrderFetchTest, TheDirectFetchLeavesFilesThatGrewSinceItsDownload) {
    placeOrder(1002);
    server.fault("RNFR", "", Fault::Unsupported, 1000);
    auto next = std::make_shared<int>(1100);
    server.afterRetr([this, next](const std::string& path) {
        if (path == "/db/kunden.db" && *next < 1103)
            placeOnServer((*next)++);
    });
    const RunEnd first = runHere();
    EXPECT_EQ(first.kind, RunEnd::Fetched);
    for (int nr = 1100; nr < *next; ++nr)
        placed.push_back(nr);
    EXPECT_EQ(nothingLostOrDoubled(), "");
    EXPECT_TRUE(server.has("/db/kunden.db")) << "deleted although it held new orders";
    server.afterRetr({});
    const RunEnd second = runHere();
    EXPECT_EQ(second.kind, RunEnd::Fetched);
    // The second run counts only what the first did not merge of the same file.
    EXPECT_EQ(first.merged + second.merged, placed.size());
    EXPECT_EQ(runHere().kind, RunEnd::NothingNew);
    EXPECT_EQ(allFetched(), "");
}

// Commands a server may not know (RNFR, SIZE) are no failure the user is shown on every fetch.
TEST_F(OrderFetchTest, AServerWithoutRenameOrSizeIsFetchedWithoutMessages) {
    placeOrder(1002);
    server.fault("RNFR", "", Fault::Unsupported, 1000);
    server.fault("SIZE", "", Fault::Unsupported, 1000);
    std::vector<TCmdType> told;
    h.ftp.OnUnSupportedFunction = [&told](TSockSession&, TCmdType type) { told.push_back(type); };
    h.ftp.OnFailure = [&told](TSockSession&, bool&, TCmdType type) { told.push_back(type); };
    EXPECT_EQ(runHere().kind, RunEnd::Fetched);
    EXPECT_TRUE(told.empty()) << told.size() << " failures reported";
    EXPECT_EQ(allFetched(), "");
}

// A direct fetch cut off between its two deletions left the merged positions file alone on the
// server: the next fetch removes it although no orders wait.
TEST_F(OrderFetchTest, AMergedPositionsFileLeftAloneIsRemovedNextTime) {
    placeOrder(1002);
    server.fault("RNFR", "", Fault::Unsupported);
    server.fault("DELE", "kunden.db", Fault::DropAfter);
    EXPECT_EQ(runHere().kind, RunEnd::Failed);
    EXPECT_EQ(server.filesIn("/db/"), std::vector<std::string>{"/db/bestellungen.db"});
    finishCleanly();
}

// A directly fetched file whose deletion was carried out but not answered: the storefront's next
// file is new, whatever its length.
TEST_F(OrderFetchTest, ANewFileAfterADeletionWhoseReplyWasLostIsMergedWhole) {
    for (int nr = 1002; nr < 1006; ++nr)
        placeOrder(nr);
    server.fault("RNFR", "", Fault::Unsupported, 1000);
    server.fault("DELE", "kunden.db", Fault::DropAfter);
    EXPECT_EQ(runHere().kind, RunEnd::Failed);
    placeOrder(1006); // a shorter file than the one merged
    const RunEnd whole = runHere();
    EXPECT_EQ(whole.kind, RunEnd::Fetched);
    EXPECT_EQ(whole.merged, 1u);
    EXPECT_EQ(nothingLostOrDoubled(), "");
    // The positions merged directly, and then claimed by a server that renames again.
    placeOrder(1007);
    finishCleanly();
}

TEST_F(OrderFetchTest, ASecondRunOnTheSameFolderIsRefusedAndChangesNothing) {
    placeOrder(1002);
    // Another program run holds the folder.
    std::optional<FileLock> other = FileLock::tryLock(h.local.file(OrderStore::kLockName));
    ASSERT_TRUE(other);
    h.ftp.Connect();
    server.scripted().clearTranscript();
    EXPECT_EQ(runHere().message, OrderStore::kBusy);
    EXPECT_EQ(verbs(), std::vector<std::string>{}) << "no command before the lock";
    EXPECT_EQ(localBytes(), oldOrders + "|" + oldPositions);
    other.reset();
    finishCleanly();
}

// Two program runs in two processes: the first is stopped in the middle of its merge; the second
// start neither fetches nor cuts the first one's files back.
TEST_F(OrderFetchTest, ASecondStartDuringAMergeLeavesItAlone) {
    placeOrder(1002);
    placeOrder(1003);
    int paused[2], resume[2];
    ASSERT_EQ(::pipe(paused), 0);
    ASSERT_EQ(::pipe(resume), 0);
    const auto stopInMerge = [&](StoreStep s, std::string_view) {
        if (s == StoreStep::AppendOrders) {
            (void)!::write(paused[1], "p", 1);
            char c;
            (void)!::read(resume[0], &c, 1);
        }
    };
    std::thread first([&] { EXPECT_EQ(runInChild(stopInMerge).kind, RunEnd::Fetched); });
    char c;
    ASSERT_EQ(::read(paused[0], &c, 1), 1);
    const std::string halfMerged = localBytes();

    EXPECT_FALSE(OrderStore::recoverIfIdle(h.local.path()));
    TFtpClient second; // never connected: the lock comes first
    const sync::TransferContext other = h.context(second);
    try {
        OrderFetch(other).run();
        ADD_FAILURE() << "the second run fetched";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), OrderStore::kBusy);
    }
    EXPECT_EQ(localBytes(), halfMerged);

    (void)!::write(resume[1], "r", 1);
    first.join();
    for (int fd : {paused[0], paused[1], resume[0], resume[1]})
        ::close(fd);
    EXPECT_EQ(allFetched(), "");
}

TEST_F(OrderFetchTest, LeftoverTemporaryFilesAreRemovedUnderTheLock) {
    std::filesystem::create_directory(h.local.file("orderfetch-20261201000000-1-1.tmp"));
    h.writeLocal("orderfetch-20261201000000-1-1.tmp/0", "half a download");
    h.writeLocal("kunden.db.fetch", "an older version's download");
    placeOrder(1002);
    finishCleanly();
}

// A journal that does not fit the files (another folder's, an older version's) cuts nothing.
TEST_F(OrderFetchTest, AJournalFromElsewhereIsSetAsideNotFollowed) {
    for (const char* journal : {"claim K\r\nmerging 10 10\r\n", "merge K 10 0 5 10 0 5\r\n"}) {
        h.writeLocal(OrderStore::kJournalName, journal);
        EXPECT_TRUE(OrderStore::recoverIfIdle(h.local.path()));
        EXPECT_EQ(localBytes(), oldOrders + "|" + oldPositions) << journal;
        EXPECT_EQ(h.localFile(OrderStore::kSetAsideName), journal);
        EXPECT_FALSE(fileExists(h.local.file(OrderStore::kJournalName)));
    }
}

} // namespace
