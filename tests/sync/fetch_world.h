#pragma once

#include "datafiles/orderfiles.h"
#include "datafiles/orderstore.h"
#include "sync/core/orderfetch.h"
#include "tests/sync/shop_server.h"
#include "tests/sync/transfer_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// A storefront with orders on its server and a workstation with an order history, for the order
// fetch tests: orders placed, runs of the fetch (in this process, or in a child process that a
// fault may kill), and the checks behind "never lost, never doubled".
namespace velmo::test {

inline std::string orderText(int nr) {
    return "08.12.2026-10:00;;" + std::to_string(nr) + ";;Kunde " + std::to_string(nr) +
           ";;;;Weg;;12345 Ort;;D;;;;;;k@x.de;;Vorkasse;;4.90";
}
inline std::string positionText(int nr, int i) {
    return std::to_string(nr) + ";;x;;1;;P-" + std::to_string(i) + ";;Stern;;3.50";
}

// How a run of the fetch ended.
struct RunEnd {
    enum Kind { Fetched, NothingNew, Failed, Killed, Hung } kind = Fetched;
    std::string message;    // the error's text, when it failed
    std::size_t merged = 0; // the orders the run said it merged
};

struct FetchWorld {
    static constexpr const char* kOldOrders =
        "01.12.2026;;1001;;Alt;;;;Weg 1;;11111 Ort;;D;;;;;;a@x.de;;Vorkasse;;4,90;;1\r\n";
    static constexpr const char* kOldPositions = "1001;;x;;2;;A-1;;Kerze;;9,80;;0\r\n";

    ShopServer server;
    TransferHarness h;
    std::vector<int> placed;
    // The history as the merge leaves it before the new lines (the written form of the old lines).
    std::string oldOrders = kOldOrders, oldPositions = kOldPositions;
    // The history's bytes as they were before any merge.
    std::string originalOrders = kOldOrders, originalPositions = kOldPositions;

    // A history in another form than the written one (LF line ends) is first rewritten by the merge:
    // what must stay unchanged is then its written form.
    explicit FetchWorld(bool writtenHistory = true) {
        if (!writtenHistory) {
            oldOrders = oldOrders + oldOrders + oldOrders;
            oldPositions = oldPositions + oldPositions + oldPositions;
            originalOrders = lf(oldOrders);
            originalPositions = lf(oldPositions);
            h.writeLocal("kunden.db", originalOrders);
            h.writeLocal("bestellungen.db", originalPositions);
        } else {
            h.writeLocal("kunden.db", oldOrders);
            h.writeLocal("bestellungen.db", oldPositions);
        }
        h.ftp.Port = server.port();
        h.ftp.UserID = "shop";
        h.ftp.Password = "pw";
    }

    static std::string lf(std::string crlf) {
        for (std::size_t p; (p = crlf.find("\r\n")) != std::string::npos;)
            crlf.erase(p, 1);
        return crlf;
    }

    // The storefront takes an order: a header line and two positions (a new positions file starts
    // with a line that is no position).
    void placeOrder(int nr) {
        placeOnServer(nr);
        placed.push_back(nr);
    }
    // The same, from the server's thread: the caller notes the order in `placed` itself.
    void placeOnServer(int nr) {
        server.append("/db/kunden.db", orderText(nr) + "\r\n");
        if (!server.has("/db/bestellungen.db"))
            server.put("/db/bestellungen.db", "Bestellungen\r\n");
        server.append("/db/bestellungen.db", positionText(nr, 1) + "\r\n" + positionText(nr, 2) + "\r\n");
    }

    // One run in this process, with the harness's client (connected first when it is not).
    RunEnd runHere(const datafiles::StoreStepHook& hook = {}) {
        h.informations.clear();
        std::size_t merged = 0;
        try {
            if (!h.ftp.Connected())
                h.ftp.Connect();
            sync::OrderFetch f(h.context());
            f.localStep = hook;
            merged = f.run();
        } catch (const std::exception& e) {
            return {RunEnd::Failed, e.what()};
        }
        return {h.informations.empty() ? RunEnd::Fetched : RunEnd::NothingNew, {}, merged};
    }

    // One run in a child process of its own, as the program would run it: its own connection,
    // short time-outs, a local fault hook that may end the process. The server may kill it too.
    RunEnd runInChild(const datafiles::StoreStepHook& hook = {}, int replyTimeOut = 5000) {
        int go[2], said[2];
        if (::pipe(go) != 0 || ::pipe2(said, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(go[1]);
            ::close(said[0]);
            char c;
            (void)!::read(go[0], &c, 1);
            _exit(childRun(hook, replyTimeOut, said[1]));
        }
        server.setClientProcess(pid);
        ::close(go[0]);
        ::close(said[1]);
        (void)!::write(go[1], "g", 1);
        ::close(go[1]);
        RunEnd end = waitForChild(pid, said[0]);
        ::close(said[0]);
        server.setClientProcess(0);
        return end;
    }

    // --- checks -----------------------------------------------------------------------------------

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

    // Whatever happened: the history unchanged, no order or position twice, every one of them
    // locally or on the server, every local file readable. Returns the first fault found.
    std::string nothingLostOrDoubled() const {
        const std::string orders = h.localFile("kunden.db"), positions = h.localFile("bestellungen.db");
        const std::string onServer = serverText();
        if (orders != originalOrders && orders.rfind(oldOrders, 0) != 0)
            return "earlier orders changed";
        if (positions != originalPositions && positions.rfind(oldPositions, 0) != 0)
            return "earlier positions changed";
        for (int nr : placed) {
            const int local = count(orders, orderText(nr) + ";;0\r\n");
            if (local > 1 || (local == 0 && count(onServer, orderText(nr) + "\r\n") == 0))
                return "order " + std::to_string(nr) + (local > 1 ? " doubled" : " lost");
            for (int i : {1, 2}) {
                const int localPos = count(positions, positionText(nr, i) + ";;0\r\n");
                if (localPos > 1 || (localPos == 0 && count(onServer, positionText(nr, i) + "\r\n") == 0))
                    return "position " + std::to_string(nr) + "/" + std::to_string(i) +
                           (localPos > 1 ? " doubled" : " lost");
            }
        }
        return readableAtStart();
    }

    // The order files as the program's windows would find them after its next start (which first
    // finishes what a killed fetch left): every line readable. Tried on a copy, so that the next
    // run still finds the folder as the last one left it.
    std::string readableAtStart() const {
        TempDir copy;
        for (const char* name : {"kunden.db", "bestellungen.db", datafiles::OrderStore::kJournalName,
                                 datafiles::OrderStore::kLedgerName})
            if (std::filesystem::exists(h.local.file(name)))
                std::filesystem::copy_file(h.local.file(name), copy.file(name));
        try {
            datafiles::OrderStore::recoverIfIdle(copy.path());
            datafiles::parseOrders(readLines(copy.file("kunden.db")));
            datafiles::parsePositions(readLines(copy.file("bestellungen.db")));
        } catch (const std::exception& e) {
            return std::string("a local file cannot be read: ") + e.what();
        }
        return {};
    }

    // After the clean runs: every order exactly once with its positions, nothing left on the
    // server, no temporary file or journal left. Returns the first fault found.
    std::string allFetched() const {
        if (std::string fault = nothingLostOrDoubled(); !fault.empty())
            return fault;
        for (int nr : placed) {
            if (count(h.localFile("kunden.db"), orderText(nr) + ";;0\r\n") != 1)
                return "order " + std::to_string(nr) + " not fetched";
            for (int i : {1, 2})
                if (count(h.localFile("bestellungen.db"), positionText(nr, i) + ";;0\r\n") != 1)
                    return "position " + std::to_string(nr) + "/" + std::to_string(i) + " not fetched";
        }
        if (!server.filesIn("/db/").empty())
            return "left on the server: " + server.filesIn("/db/").front();
        for (const auto& e : std::filesystem::directory_iterator(h.local.path())) {
            const std::string name = e.path().filename().string();
            if (name != "kunden.db" && name != "bestellungen.db" &&
                name != datafiles::OrderStore::kLockName && name != datafiles::OrderStore::kLedgerName)
                return "left in the data folder: " + name;
        }
        return {};
    }

    // A run as a program would make it: a client of its own that connects first.
    RunEnd ownRun(const datafiles::StoreStepHook& hook, int replyTimeOut) {
        bool nothingNew = false;
        try {
            TFtpClient ftp;
            ftp.Host = "127.0.0.1";
            ftp.Port = server.port();
            ftp.UserID = "shop";
            ftp.Password = "pw";
            ftp.TimeOut = replyTimeOut;
            ftp.ReplyTimeOut = replyTimeOut;
            ftp.Connect();
            sync::TransferContext own = h.context(ftp);
            own.information = [&nothingNew](const std::string&) { nothingNew = true; };
            sync::OrderFetch f(own);
            f.localStep = hook;
            f.run();
            ftp.Disconnect();
        } catch (const std::exception& e) {
            return {RunEnd::Failed, e.what()};
        }
        return {nothingNew ? RunEnd::NothingNew : RunEnd::Fetched, {}};
    }

private:
    int childRun(const datafiles::StoreStepHook& hook, int replyTimeOut, int said) {
        const RunEnd end = ownRun(hook, replyTimeOut);
        (void)!::write(said, end.message.data(), end.message.size());
        return end.kind == RunEnd::Failed ? 1 : end.kind == RunEnd::NothingNew ? 3 : 0;
    }

    static RunEnd waitForChild(pid_t pid, int said) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) != pid) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return {RunEnd::Hung, {}};
            }
            ::poll(nullptr, 0, 2);
        }
        // The child has ended, so its end of the pipe is closed and this read does not block.
        std::string message;
        char buf[512];
        for (ssize_t n; (n = ::read(said, buf, sizeof buf)) > 0;)
            message.append(buf, static_cast<std::size_t>(n));
        if (WIFSIGNALED(status))
            return {RunEnd::Killed, message};
        const int code = WEXITSTATUS(status);
        return {code == 0 ? RunEnd::Fetched : code == 3 ? RunEnd::NothingNew : RunEnd::Failed, message};
    }
};

} // namespace velmo::test
