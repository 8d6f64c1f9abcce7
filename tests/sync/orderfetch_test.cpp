// The order fetch against a scripted storefront: the exact commands of a clean fetch, and every step
// failing in turn. Whatever fails, afterwards each order is in the local files exactly once or still
// on the server, and a clean run after it leaves every order in the local files exactly once.

#include "datafiles/ordermerge.h"
#include "sync/core/orderfetch.h"
#include "tests/sync/shop_server.h"
#include "tests/sync/transfer_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <memory>

using namespace velmo;
using namespace velmo::test;
using sync::FetchPoint;
using sync::OrderFetch;

namespace {

const std::string kOldOrders =
    "01.12.2026;;1001;;Alt;;;;Weg 1;;11111 Ort;;D;;;;;;a@x.de;;Vorkasse;;4,90;;1\r\n";
const std::string kOldPositions = "1001;;x;;2;;A-1;;Kerze;;9,80;;0\r\n";

std::string order(int nr) {
    return "08.12.2026-10:00;;" + std::to_string(nr) + ";;Kunde " + std::to_string(nr) +
           ";;;;Weg;;12345 Ort;;D;;;;;;k@x.de;;Vorkasse;;4.90";
}
std::string position(int nr, int i) {
    return std::to_string(nr) + ";;x;;1;;P-" + std::to_string(i) + ";;Stern;;3.50";
}

struct Killed {};

class OrderFetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        h.ftp.Port = server.port();
        h.ftp.UserID = "shop";
        h.ftp.Password = "pw";
        h.ftp.Connect();
        h.writeLocal("kunden.db", kOldOrders);
        h.writeLocal("bestellungen.db", kOldPositions);
    }

    // The storefront takes an order: a header line, two positions (a new positions file starts with
    // a line that is no position).
    void placeOrder(int nr) {
        server.append("/db/kunden.db", order(nr) + "\r\n");
        if (!server.has("/db/bestellungen.db"))
            server.put("/db/bestellungen.db", "Bestellungen\r\n");
        server.append("/db/bestellungen.db", position(nr, 1) + "\r\n" + position(nr, 2) + "\r\n");
        placed.push_back(nr);
    }

    void fetch(std::function<void(FetchPoint)> checkpoint = {}) {
        auto ctx = h.context();
        OrderFetch f(ctx);
        f.checkpoint = std::move(checkpoint);
        f.run();
    }

    // A fresh start of the program: a new connection.
    void restart() {
        h.ftp.Disconnect();
        h.ftp.Connect();
    }

    static int count(const std::string& hay, const std::string& needle) {
        int n = 0;
        for (auto p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1))
            ++n;
        return n;
    }

    std::string serverText() const {
        std::string all;
        for (const auto& path : server.filesIn("/db/"))
            all += server.get(path);
        return all;
    }

    // No order lost, none doubled: locally at most once, and where not locally, on the server.
    void expectNothingLostOrDoubled() {
        const std::string orders = h.localFile("kunden.db");
        const std::string positions = h.localFile("bestellungen.db");
        const std::string onServer = serverText();
        EXPECT_EQ(orders.rfind(kOldOrders, 0), 0u) << "earlier orders changed";
        EXPECT_EQ(positions.rfind(kOldPositions, 0), 0u) << "earlier positions changed";
        for (int nr : placed) {
            const int local = count(orders, order(nr) + ";;0\r\n");
            EXPECT_LE(local, 1) << "order " << nr << " doubled";
            if (local == 0) {
                EXPECT_EQ(count(onServer, order(nr) + "\r\n"), 1) << "order " << nr << " lost";
            }
            for (int i : {1, 2}) {
                const int localPos = count(positions, position(nr, i) + ";;0\r\n");
                EXPECT_LE(localPos, 1) << "position " << nr << "/" << i << " doubled";
                if (localPos == 0) {
                    EXPECT_GE(count(onServer, position(nr, i) + "\r\n"), 1)
                        << "position " << nr << "/" << i << " lost";
                }
            }
        }
    }

    // After clean runs: every order fetched exactly once, in the order placed, and nothing left.
    void expectAllFetched() {
        std::string orders = kOldOrders, positions = kOldPositions;
        for (int nr : placed) {
            orders += order(nr) + ";;0\r\n";
            positions += position(nr, 1) + ";;0\r\n" + position(nr, 2) + ";;0\r\n";
        }
        EXPECT_EQ(h.localFile("kunden.db"), orders);
        EXPECT_EQ(h.localFile("bestellungen.db"), positions);
        EXPECT_EQ(server.filesIn("/db/"), std::vector<std::string>{});
        EXPECT_FALSE(fileExists(h.local.file(OrderFetch::kJournalName)));
    }

    void finishCleanly() {
        server.clearFaults();
        server.afterRetr({});
        ::chmod(h.local.file("kunden.db").c_str(), 0644);
        if (!h.ftp.Connected())
            h.ftp.Connect();
        h.informations.clear();
        for (int i = 0; i < 3 && h.informations.empty(); ++i)
            fetch();
        EXPECT_EQ(h.informations, std::vector<std::string>{"Es sind keine neuen Bestellungen vorhanden"});
    }

    ShopServer server;
    TransferHarness h;
    std::vector<int> placed;
};

TEST_F(OrderFetchTest, ClaimsDownloadsMergesThenDeletesWithExactCommands) {
    placeOrder(1002);
    placeOrder(1003);
    server.scripted().clearTranscript();
    auto ctx = h.context();
    OrderFetch f(ctx);
    f.claimId = "T1";
    f.run();

    std::vector<std::string> verbs;
    for (const auto& line : server.transcript())
        if (line.rfind("PORT", 0) != 0)
            verbs.push_back(line);
    EXPECT_EQ(verbs, (std::vector<std::string>{"CWD /", "CWD /db", "RNFR kunden.db", "RNTO kunden-T1.claim",
                                               "RNFR bestellungen.db", "RNTO bestellungen-T1.claim",
                                               "RETR kunden-T1.claim", "RETR bestellungen-T1.claim",
                                               "DELE kunden-T1.claim", "DELE bestellungen-T1.claim"}));
    expectAllFetched();
    EXPECT_EQ(h.statuses.back(), "Connected");
    EXPECT_TRUE(h.informations.empty());

    // Nothing new: the second run only says so and changes nothing.
    fetch();
    EXPECT_EQ(h.informations, std::vector<std::string>{"Es sind keine neuen Bestellungen vorhanden"});
    expectAllFetched();
}

TEST_F(OrderFetchTest, FirstFetchCreatesTheLocalFilesAndAnOddLocalFileIsNormalisedFirst) {
    ::unlink(h.local.file("kunden.db").c_str());
    // No final line break and a lone LF: the merged file is what rewriting its lines would give.
    h.writeLocal("bestellungen.db", "1001;;x;;2;;A-1;;Kerze;;9,80;;0\n1001;;x;;1;;A-2;;Band;;1;;1");
    server.put("/db/kunden.db", order(7) + "\r\n");
    server.put("/db/bestellungen.db", "only a first line");
    fetch();
    EXPECT_EQ(h.localFile("kunden.db"), order(7) + ";;0\r\n");
    EXPECT_EQ(h.localFile("bestellungen.db"),
              "1001;;x;;2;;A-1;;Kerze;;9,80;;0\r\n1001;;x;;1;;A-2;;Band;;1;;1\r\n");
}

TEST_F(OrderFetchTest, OrdersWithoutPositionsFileAreFetchedAlone) {
    server.put("/db/kunden.db", order(5) + "\r\n");
    fetch();
    EXPECT_EQ(h.localFile("kunden.db"), kOldOrders + order(5) + ";;0\r\n");
    EXPECT_EQ(h.localFile("bestellungen.db"), kOldPositions);
    EXPECT_EQ(server.filesIn("/db/"), std::vector<std::string>{});
}

TEST_F(OrderFetchTest, ANotConnectedClientLeavesEverythingAsItWas) {
    placeOrder(1002);
    h.ftp.Disconnect();
    EXPECT_ANY_THROW(fetch());
    EXPECT_EQ(h.localFile("kunden.db"), kOldOrders);
    EXPECT_EQ(h.localFile("bestellungen.db"), kOldPositions);
}

struct FaultCase {
    const char* name;
    std::function<void(OrderFetchTest&, ShopServer&, TransferHarness&)> inject;
    std::optional<FetchPoint> killAt; // the program stops there
    bool firstRunFails;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class OrderFetchFaults : public OrderFetchTest, public ::testing::WithParamInterface<FaultCase> {
public:
    void place(int nr) { placeOrder(nr); }
};

TEST_P(OrderFetchFaults, NoOrderIsLostOrDoubled) {
    const FaultCase& c = GetParam();
    placeOrder(1002);
    placeOrder(1003);
    const std::string ordersBefore = h.localFile("kunden.db");
    c.inject(*this, server, h);

    bool failed = false;
    try {
        fetch([&c](FetchPoint p) {
            if (c.killAt && *c.killAt == p)
                throw Killed{};
        });
    } catch (const Killed&) {
        failed = true;
        restart();
    } catch (const std::exception&) {
        failed = true;
    }
    EXPECT_EQ(failed, c.firstRunFails);
    expectNothingLostOrDoubled();
    // The next start, before any new order, finishes what it can.
    try {
        fetch();
    } catch (const std::exception&) {
    }
    expectNothingLostOrDoubled();

    // The storefront keeps taking orders; the next runs take them and finish the interrupted one.
    placeOrder(1004);
    finishCleanly();
    expectAllFetched();
}

using S = ShopServer;
const FaultCase kFaults[] = {
    {"rnfr_unsupported_fetches_directly",
     [](auto&, S& s, auto&) { s.fault("RNFR", "", S::Fault::Unsupported, 99); },
     {},
     false},
    {"rnfr_refused", [](auto&, S& s, auto&) { s.fault("RNFR", "kunden", S::Fault::Refuse, 99); }, {}, false},
    {"retr_of_claimed_orders_refused",
     [](auto&, S& s, auto&) { s.fault("RETR", "kunden-", S::Fault::Refuse); },
     {},
     true},
    {"retr_of_claimed_positions_refused",
     [](auto&, S& s, auto&) { s.fault("RETR", "bestellungen-", S::Fault::Refuse); },
     {},
     true},
    {"connection_cut_during_orders",
     [](auto&, S& s, auto&) { s.fault("RETR", "kunden-", S::Fault::CutTransfer); },
     {},
     true},
    {"connection_cut_during_positions",
     [](auto&, S& s, auto&) { s.fault("RETR", "bestellungen-", S::Fault::CutTransfer); },
     {},
     true},
    {"connection_cut_in_direct_fetch",
     [](auto&, S& s, auto&) {
         s.fault("RNFR", "", S::Fault::Unsupported, 99);
         s.fault("RETR", "bestellungen.db", S::Fault::CutTransfer);
     },
     {},
     true},
    {"local_write_refused",
     [](auto&, auto&, TransferHarness& h) { ::chmod(h.local.file("kunden.db").c_str(), 0444); },
     {},
     true},
    {"dele_of_claim_refused",
     [](auto&, S& s, auto&) { s.fault("DELE", "kunden-", S::Fault::Refuse); },
     {},
     true},
    {"dele_refused_in_direct_fetch",
     [](auto&, S& s, auto&) {
         s.fault("RNFR", "", S::Fault::Unsupported, 99);
         s.fault("DELE", "kunden.db", S::Fault::Refuse);
     },
     {},
     true},
    {"dele_of_positions_refused_in_direct_fetch",
     [](auto&, S& s, auto&) {
         s.fault("RNFR", "", S::Fault::Unsupported, 99);
         s.fault("DELE", "bestellungen.db", S::Fault::Refuse);
     },
     {},
     true},
    {"stopped_after_claim", [](auto&, auto&, auto&) {}, FetchPoint::Claimed, true},
    {"stopped_after_download", [](auto&, auto&, auto&) {}, FetchPoint::Downloaded, true},
    {"stopped_after_merge", [](auto&, auto&, auto&) {}, FetchPoint::Merged, true},
    {"stopped_after_delete", [](auto&, auto&, auto&) {}, FetchPoint::Deleted, true},
    {"stopped_after_merge_in_direct_fetch",
     [](auto&, S& s, auto&) { s.fault("RNFR", "", S::Fault::Unsupported, 99); }, FetchPoint::Merged, true},
    {"storefront_appends_between_download_and_delete",
     [](OrderFetchTest& t, S& s, auto&) {
         s.afterRetr([&t, done = std::make_shared<bool>()](const std::string& path) {
             if (!*done && path.find("bestellungen") != std::string::npos) {
                 *done = true;
                 static_cast<OrderFetchFaults&>(t).place(1010);
             }
         });
     },
     {},
     false},
    {"storefront_appends_during_direct_fetch",
     [](OrderFetchTest& t, S& s, auto&) {
         s.fault("RNFR", "", S::Fault::Unsupported, 99);
         s.afterRetr([&t, done = std::make_shared<bool>()](const std::string& path) {
             if (!*done && path.find("bestellungen") != std::string::npos) {
                 *done = true;
                 static_cast<OrderFetchFaults&>(t).place(1010);
             }
         });
     },
     {},
     false},
};

INSTANTIATE_TEST_SUITE_P(EachStep, OrderFetchFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OrderFetchTest, AMergeCutOffHalfWayIsRolledBackAndRedone) {
    placeOrder(1002);
    // A run that was killed while appending: the claims are on the server, the journal says
    // merging, and half a line stands at the end of the local orders.
    for (const char* name : {"kunden", "bestellungen"}) {
        const std::string from = std::string("/db/") + name + ".db";
        server.put(std::string("/db/") + name + "-K.claim", server.get(from));
        server.remove(from);
    }
    const std::string journal = "claim K\r\nmerging " + std::to_string(kOldOrders.size()) + " " +
                                std::to_string(kOldPositions.size()) + "\r\n";
    h.writeLocal(OrderFetch::kJournalName, journal);
    h.writeLocal("kunden.db", kOldOrders + "08.12.2026;;10");
    OrderFetch::rollBackInterruptedMerge(h.local.path());
    EXPECT_EQ(h.localFile("kunden.db"), kOldOrders);

    h.writeLocal(OrderFetch::kJournalName, journal);
    h.writeLocal("kunden.db", kOldOrders + "08.12.2026;;10");
    fetch();
    EXPECT_TRUE(h.informations.empty());
    expectAllFetched();
}

} // namespace
