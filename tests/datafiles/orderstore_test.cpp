// The local side of the order fetch: a merge killed at each of its steps is found whole or not at
// all after the recovery; the journals the recovery follows and the ones it sets aside; the ledger,
// the lock and the temporary folders.

#include "datafiles/ordermerge.h"
#include "datafiles/orderstore.h"
#include "platform/errors.h"
#include "platform/filelock.h"
#include "platform/linefile.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

using namespace velmo;
using namespace velmo::test;
using namespace velmo::datafiles;

namespace {

const std::string kOrders = "01.12.2026;;1;;Alt\r\n", kPositions = "1;;x;;1;;A;;B;;1,00;;0\r\n";
const std::string kNewOrders = "08.12.2026;;2;;Neu;;0\r\n", kNewPositions = "2;;x;;1;;C;;D;;2,50;;0\r\n";

struct Folder {
    TempDir dir;
    Folder(const std::string& orders = kOrders, const std::string& positions = kPositions) {
        writeBytes(dir.file("kunden.db"), orders);
        writeBytes(dir.file("bestellungen.db"), positions);
    }
    std::string files() const {
        return readBytes(dir.file("kunden.db")) + "|" + readBytes(dir.file("bestellungen.db"));
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

const std::map<std::string, MergedPrefix> kPrefixes = {{"kunden-A.claim", {30, 7}},
                                                       {"bestellungen-A.claim", {40, 9}}};

// A merge killed at each step (a child process that ends right there, half an append written
// where it has one): after the next store's recovery the files and the ledger are as before the
// merge or as after it, never in between. For a history in written form and for one in another.
TEST(OrderStore, AMergeKilledAtAnyStepIsFoundWholeOrNotAtAll) {
    for (const bool written : {true, false}) {
        for (int at = 0; at <= int(StoreStep::JournalRemoved); ++at) {
            Folder f(written ? kOrders : "01.12.2026;;1;;Alt\n",
                     written ? kPositions : "1;;x;;1;;A;;B;;1,00;;0");
            const std::string before = f.files();
            const pid_t pid = ::fork();
            if (pid == 0) {
                OrderStore store(f.dir.path(), "A", [&](StoreStep s) {
                    if (int(s) != at)
                        return;
                    if (s == StoreStep::AppendOrders)
                        appendToFile(f.dir.file("kunden.db"), "08.12.20");
                    _exit(9);
                });
                store.merge(kNewOrders, kNewPositions, kPrefixes);
                _exit(0);
            }
            int status = 0;
            ::waitpid(pid, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << at;

            OrderStore next(f.dir.path(), "B");
            const bool committed = at > int(StoreStep::Ledger);
            std::string after = kOrders;
            after.append(kNewOrders).append("|").append(kPositions).append(kNewPositions);
            std::string unchanged = before;
            if (at > int(StoreStep::Normalise))
                unchanged = std::string(kOrders).append("|").append(kPositions);
            EXPECT_EQ(f.files(), committed ? after : unchanged)
                << "written " << written << ", killed at " << at;
            EXPECT_EQ(next.merged("kunden-A.claim"),
                      committed ? std::optional(MergedPrefix{30, 7}) : std::nullopt)
                << at;
            EXPECT_FALSE(fileExists(f.dir.file(OrderStore::kJournalName))) << at;
        }
    }
}

// What the recovery makes of a journal: it cuts back only a merge that is this folder's and was
// not committed; anything else is set aside and nothing is cut.
TEST(OrderStore, TheRecoveryFollowsOnlyAJournalThatFitsTheFiles) {
    auto entry = [](const std::string& old, std::size_t added) {
        return std::to_string(old.size()) + " " + std::to_string(contentHash(old)) + " " +
               std::to_string(added);
    };
    const std::string fits = "merge R " + entry(kOrders, 100) + " " + entry(kPositions, 100) + "\r\n";
    struct Case {
        const char* name;
        std::string journal, orders, ledger;
        std::string expectOrders;
        bool setAside;
    };
    const std::string half = kOrders + "08.12.2026;;2;;N";
    const Case cases[] = {
        {"half a merge is cut back", fits, half, "", kOrders, false},
        {"a committed merge stays", fits, kOrders + kNewOrders, "velmo orderfetch ledger 1\r\nrun R\r\n",
         kOrders + kNewOrders, false},
        {"longer than the merge adds", "merge R " + entry(kOrders, 3) + " " + entry(kPositions, 0) + "\r\n",
         half, "", half, true},
        {"shorter than recorded", "merge R 500 1 10 " + entry(kPositions, 0) + "\r\n", half, "", half, true},
        {"other bytes before the cut",
         "merge R " + entry("01.12.2026;;9;;Xyz\r\n", 100) + " " + entry(kPositions, 0) + "\r\n", half, "",
         half, true},
        {"an older version's journal", "claim K\r\nmerging 10 10\r\n", half, "", half, true},
        {"not a journal", "\x01\x02", half, "", half, true},
    };
    for (const Case& c : cases) {
        Folder f(c.orders);
        writeBytes(f.dir.file(OrderStore::kJournalName), c.journal);
        if (!c.ledger.empty())
            writeBytes(f.dir.file(OrderStore::kLedgerName), c.ledger);
        EXPECT_TRUE(OrderStore::recoverIfIdle(f.dir.path())) << c.name;
        EXPECT_EQ(readBytes(f.dir.file("kunden.db")), c.expectOrders) << c.name;
        EXPECT_EQ(readBytes(f.dir.file("bestellungen.db")), kPositions) << c.name;
        EXPECT_FALSE(fileExists(f.dir.file(OrderStore::kJournalName))) << c.name;
        EXPECT_EQ(fileExists(f.dir.file(OrderStore::kSetAsideName)), c.setAside) << c.name;
    }
}

TEST(OrderStore, TheLedgerKeepsWhatWasMergedOfEachServerFile) {
    Folder f;
    {
        OrderStore store(f.dir.path(), "A");
        store.merge(kNewOrders, "", {{"kunden.db", {10, 1}}, {"kunden-x y.claim", {20, 2}}});
        store.inherit("kunden.db", "kunden-B.claim");
        store.inherit("nothing.db", "kunden-C.claim");
        store.forget({"kunden-x y.claim", "never.claim"});
    }
    OrderStore again(f.dir.path(), "B");
    EXPECT_EQ(again.merged("kunden.db"), (MergedPrefix{10, 1}));
    EXPECT_EQ(again.merged("kunden-B.claim"), (MergedPrefix{10, 1}));
    EXPECT_EQ(again.merged("kunden-x y.claim"), std::nullopt);
    EXPECT_EQ(again.merged("kunden-C.claim"), std::nullopt);
    EXPECT_EQ(f.files(), kOrders + kNewOrders + "|" + kPositions);
}

TEST(OrderStore, ADamagedLedgerStopsTheFetchInsteadOfFetchingTwice) {
    Folder f;
    writeBytes(f.dir.file(OrderStore::kLedgerName),
               "velmo orderfetch ledger 1\r\nrun A\r\nzehn 1 kunden.db\r\n");
    try {
        OrderStore store(f.dir.path(), "B");
        ADD_FAILURE() << "a damaged ledger was taken";
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("Zeile 3"), std::string::npos) << e.what();
    }
}

// A failed append (a write-protected file) leaves files, ledger and folder as they were.
TEST(OrderStore, AFailedMergeLeavesEverythingAsItWas) {
    Folder f;
    ::chmod(f.dir.file("kunden.db").c_str(), 0444);
    OrderStore store(f.dir.path(), "A");
    EXPECT_THROW(store.merge(kNewOrders, kNewPositions, kPrefixes), EFCreateError);
    EXPECT_EQ(f.files(), kOrders + "|" + kPositions);
    EXPECT_EQ(store.merged("kunden-A.claim"), std::nullopt);
    EXPECT_FALSE(fileExists(f.dir.file(OrderStore::kJournalName)));
}

TEST(OrderStore, OneHolderAtATimeAndNoTemporaryFolderOutlivesItsRun) {
    Folder f;
    std::filesystem::create_directory(f.dir.file("orderfetch-old.tmp"));
    writeBytes(f.dir.file("orderfetch-old.tmp/0"), "left by a killed run");
    writeBytes(f.dir.file("bestellungen.db.fetch"), "left by an older version");
    writeBytes(f.dir.file("orderfetch-notes.txt"), "not ours");
    {
        OrderStore store(f.dir.path(), "A");
        writeBytes(store.tempFile(0), "a download");
        EXPECT_EQ(f.names(), (std::vector<std::string>{"bestellungen.db", "kunden.db", "orderfetch-A.tmp",
                                                       "orderfetch-notes.txt", "orderfetch.lock"}));
        try {
            OrderStore second(f.dir.path(), "B");
            ADD_FAILURE() << "two stores on one folder";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), OrderStore::kBusy);
        }
        EXPECT_FALSE(OrderStore::recoverIfIdle(f.dir.path()));
    }
    EXPECT_EQ(f.names(), (std::vector<std::string>{"bestellungen.db", "kunden.db", "orderfetch-notes.txt",
                                                   "orderfetch.lock"}));
    EXPECT_TRUE(OrderStore::recoverIfIdle(f.dir.path()));
}

} // namespace
