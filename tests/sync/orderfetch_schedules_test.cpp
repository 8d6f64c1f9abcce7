// The proof behind "never lost, never doubled": the order fetch run against schedules of faults.
// A schedule puts faults at steps of consecutive runs of the program: a step is a command the
// fetch sends (the server refuses it, drops the connection before or after carrying it out, never
// answers, breaks or cuts short a transfer, or kills the program once it has carried it out) or a
// local step (it fails as on a full disk, or the program is killed there, in the middle of its
// append where it has one). Each run is a child process, so a killed run leaves its files as a
// killed program would. The storefront holds two orders, and a third arrives during the first
// download. After every run nothing may be lost or doubled; after the schedule, clean runs must
// leave every order exactly once in the local files and nothing on the server or in the data
// folder but the order files, the ledger and the lock.
//
// By default (CTest) a bounded part runs: every single fault, then sampled pairs and random longer
// schedules until the time budget is spent. VELMO_ORDER_SCHEDULES=all runs every schedule of up to
// two faults over three runs and 2,000 seeded random schedules of up to six faults over five runs.

#include "datafiles/ordermerge.h"
#include "tests/sync/fetch_world.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>

using namespace velmo;
using namespace velmo::test;
using datafiles::StoreStep;
using Fault = ShopServer::Fault;

namespace {

enum class LocalFault { Fail, Kill };

// One thing a run did, in the order it happened: a command the server handled or a local step.
struct Event {
    bool local = false;
    int index = 0; // the command's or the local step's number in its run
    std::string what;
};
using Trace = std::vector<std::vector<Event>>; // by run

struct Injection {
    int run = 0;
    bool local = false;
    int index = 0;
    int fault = 0; // a ShopServer::Fault or a LocalFault
};
using Schedule = std::vector<Injection>;

const char* faultName(const Injection& i) {
    static const char* const remote[] = {"refused 550",
                                         "refused 450",
                                         "502",
                                         "425 no data connection",
                                         "transfer cut",
                                         "short + 226",
                                         "dropped before",
                                         "dropped after",
                                         "no reply",
                                         "killed after"};
    return i.local ? (i.fault == int(LocalFault::Fail) ? "fails" : "killed") : remote[i.fault];
}

std::string describe(const Schedule& s, const Trace& trace) {
    std::string out;
    for (const Injection& i : s) {
        std::string what = "?";
        if (i.run < int(trace.size()))
            for (const Event& e : trace[i.run])
                if (e.local == i.local && e.index == i.index)
                    what = e.what;
        out += "run " + std::to_string(i.run + 1) + ": " + what + " " + faultName(i) + "; ";
    }
    return out.empty() ? "no fault" : out;
}

// What the child processes and the server's thread write down, in memory all of them share.
struct SharedLog {
    std::atomic<int> seq;
    std::atomic<int> locals, remotes;
    int localSeq[64];
    int localStep[64];
    int remoteSeq[256];
};

SharedLog* sharedLog() {
    static SharedLog* log = [] {
        void* p =
            ::mmap(nullptr, sizeof(SharedLog), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::runtime_error("mmap");
        return new (p) SharedLog{};
    }();
    return log;
}

const char* stepName(int s) {
    static const char* const names[] = {"lock",          "normalise", "journal",         "append positions",
                                        "append orders", "ledger",    "journal removed", "forget"};
    return names[s];
}

struct Outcome {
    Trace trace;
    std::string problem;
    int fired = 0;
};

class Player {
public:
    int plays = 0;
    int fired = 0;

    Outcome play(const Schedule& schedule, int runs) {
        ++plays;
        FetchWorld w(false);
        w.placeOrder(1002);
        w.placeOrder(1003);
        std::atomic<bool> arrived{false};
        w.server.afterRetr([&w, &arrived](const std::string&) {
            if (!arrived.exchange(true))
                w.placeOnServer(1010);
        });
        SharedLog* log = sharedLog();
        w.server.onCommand([log] {
            const int k = log->remotes++;
            if (k < 256)
                log->remoteSeq[k] = log->seq++;
        });
        auto noteArrival = [&] {
            if (arrived && std::find(w.placed.begin(), w.placed.end(), 1010) == w.placed.end())
                w.placed.push_back(1010);
        };

        Outcome out;
        for (int run = 0; run < runs; ++run) {
            log->seq = 0;
            log->locals = 0;
            log->remotes = 0;
            w.server.beginRun();
            std::map<int, LocalFault> local;
            for (const Injection& i : schedule) {
                if (i.run != run)
                    continue;
                if (i.local)
                    local[i.index] = LocalFault(i.fault);
                else
                    w.server.faultAt(i.index, Fault(i.fault));
            }
            // Only a run that is to be killed needs a process of its own.
            const bool killed = std::any_of(schedule.begin(), schedule.end(), [run](const Injection& i) {
                return i.run == run && (i.local ? LocalFault(i.fault) == LocalFault::Kill
                                                : Fault(i.fault) == Fault::KillClient);
            });
            const RunEnd end =
                killed ? w.runInChild(localHook(w, local), 100) : w.ownRun(localHook(w, local), 100);
            noteArrival();
            out.trace.push_back(events(w.server.runCommands()));
            for (const Injection& i : schedule)
                if (i.run == run && i.index < (i.local ? log->locals.load() : log->remotes.load()))
                    ++out.fired;
            if (end.kind == RunEnd::Hung)
                out.problem = "run " + std::to_string(run + 1) + " hung";
            else if (std::string p = w.nothingLostOrDoubled(); !p.empty())
                out.problem = "after run " + std::to_string(run + 1) + ": " + p;
            if (!out.problem.empty())
                return out;
        }
        fired += out.fired;

        // Clean runs finish what the faults left.
        for (int clean = 0; clean < 3; ++clean) {
            w.server.beginRun();
            const RunEnd end = w.ownRun({}, 5000);
            noteArrival();
            out.problem = w.allFetched();
            if (out.problem.empty())
                return out;
            if (end.kind == RunEnd::Failed || end.kind == RunEnd::Hung)
                out.problem += " (clean run: " + end.message + ")";
        }
        return out;
    }

private:
    static datafiles::StoreStepHook localHook(FetchWorld& w, std::map<int, LocalFault> faults) {
        const std::string orders = w.h.local.file("kunden.db"), positions = w.h.local.file("bestellungen.db");
        return [faults = std::move(faults), orders, positions](StoreStep step, std::string_view bytes) {
            SharedLog* log = sharedLog();
            const int k = log->locals++;
            if (k < 64) {
                log->localSeq[k] = log->seq++;
                log->localStep[k] = int(step);
            }
            const auto f = faults.find(k);
            if (f == faults.end())
                return;
            if (f->second == LocalFault::Fail)
                throw EFCreateError("Datei " + orders + " kann nicht erstellt werden");
            // Killed in the middle of an append: the first half of what it was to write stands at
            // the end of the file.
            if (step == StoreStep::AppendPositions || step == StoreStep::AppendOrders)
                datafiles::appendToFile(step == StoreStep::AppendOrders ? orders : positions,
                                        bytes.substr(0, (bytes.size() + 1) / 2));
            _exit(9);
        };
    }

    static std::vector<Event> events(const std::vector<std::string>& commands) {
        SharedLog* log = sharedLog();
        std::vector<std::pair<int, Event>> bySeq;
        bySeq.reserve(commands.size() + 64);
        const int remotes = std::min<int>(log->remotes, int(commands.size()));
        for (int i = 0; i < remotes; ++i)
            bySeq.push_back({log->remoteSeq[i], {false, i, commands[i]}});
        for (int i = 0; i < std::min(log->locals.load(), 64); ++i)
            bySeq.push_back({log->localSeq[i], {true, i, stepName(log->localStep[i])}});
        std::sort(bySeq.begin(), bySeq.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<Event> out;
        out.reserve(bySeq.size());
        for (auto& [seq, e] : bySeq)
            out.push_back(std::move(e));
        return out;
    }
};

// The faults that can meet an event.
std::vector<int> faultsAt(const Event& e) {
    if (e.local)
        return {int(LocalFault::Fail), int(LocalFault::Kill)};
    std::vector<int> f = {int(Fault::Refuse),    int(Fault::Busy),   int(Fault::DropBefore),
                          int(Fault::DropAfter), int(Fault::Silent), int(Fault::KillClient)};
    if (ShopServer::isDataVerb(e.what.substr(0, e.what.find(' '))))
        f.insert(f.end(), {int(Fault::DataFails), int(Fault::CutTransfer), int(Fault::ShortTransfer)});
    return f;
}

// Every injection at the events of a run from position `after` on.
std::vector<Injection> injections(const Trace& trace, int run, int after) {
    std::vector<Injection> out;
    if (run >= int(trace.size()))
        return out;
    for (int pos = after; pos < int(trace[run].size()); ++pos)
        for (int f : faultsAt(trace[run][pos]))
            out.push_back({run, trace[run][pos].local, trace[run][pos].index, f});
    return out;
}

int positionOf(const Trace& trace, const Injection& i) {
    const auto& events = trace[i.run];
    for (int pos = 0; pos < int(events.size()); ++pos)
        if (events[pos].local == i.local && events[pos].index == i.index)
            return pos;
    return int(events.size());
}

class Budget {
public:
    explicit Budget(int seconds) : m_end(std::chrono::steady_clock::now() + std::chrono::seconds(seconds)) {}
    bool left() const { return std::chrono::steady_clock::now() < m_end; }

private:
    std::chrono::steady_clock::time_point m_end;
};

bool wholeSet() {
    const char* v = std::getenv("VELMO_ORDER_SCHEDULES");
    return v && std::string(v) == "all";
}

// VELMO_ORDER_SHARD=k/n plays only every n-th schedule, from the k-th on, so that n processes share
// the whole set.
struct Shard {
    int k = 0, n = 1;
    Shard() {
        if (const char* v = std::getenv("VELMO_ORDER_SHARD"))
            if (std::sscanf(v, "%d/%d", &k, &n) != 2 || n < 1 || k < 0 || k >= n)
                k = 0, n = 1;
    }
    bool mine(std::size_t index) const { return int(index % std::size_t(n)) == k; }
};

#define EXPECT_SOUND(outcome, schedule)                                                                      \
    do {                                                                                                     \
        const Outcome& o_ = (outcome);                                                                       \
        if (!o_.problem.empty()) {                                                                           \
            ADD_FAILURE() << describe(schedule, o_.trace) << "-> " << o_.problem;                            \
            return;                                                                                          \
        }                                                                                                    \
    } while (0)

TEST(OrderFetchSchedules, EveryScheduleOfUpToTwoFaultsOverThreeRuns) {
    constexpr int kRuns = 3;
    const bool all = wholeSet();
    const Shard shard;
    Budget budget(35);
    Player player;
    const Outcome clean = player.play({}, kRuns);
    EXPECT_SOUND(clean, Schedule{});

    // Every single fault first, then the pairs: a second fault anywhere after the first one, in
    // the runs as the first fault left them.
    std::vector<std::pair<Injection, Trace>> singles;
    int pairs = 0;
    for (int run = 0; run < kRuns; ++run)
        for (const Injection& i : injections(clean.trace, run, 0)) {
            const Outcome o = player.play({i}, kRuns);
            EXPECT_SOUND(o, Schedule{i});
            singles.push_back({i, o.trace});
        }
    std::mt19937 rng(20261210);
    std::vector<Schedule> second;
    for (const auto& [first, trace] : singles)
        for (int run = first.run; run < kRuns; ++run)
            for (const Injection& i :
                 injections(trace, run, run == first.run ? positionOf(trace, first) + 1 : 0))
                second.push_back({first, i});
    if (!all)
        std::shuffle(second.begin(), second.end(), rng);
    for (std::size_t n = 0; n < second.size(); ++n) {
        if (!all && !budget.left())
            break;
        if (!shard.mine(n))
            continue;
        EXPECT_SOUND(player.play(second[n], kRuns), second[n]);
        ++pairs;
    }
    std::cout << "order fetch schedules: " << (shard.k == 0 ? singles.size() + 1 : 0) + pairs
              << " schedules (" << (shard.k == 0 ? singles.size() : 0) << " of one fault, " << pairs
              << " of the " << second.size() << " of two faults" << (all ? "" : ", a sample") << ") over "
              << kRuns << " runs, " << player.fired << " faults met their step\n";
}

TEST(OrderFetchSchedules, SeededRandomSchedulesOfUpToSixFaultsOverFiveRuns) {
    constexpr int kRuns = 5;
    const bool all = wholeSet();
    const int count = all ? 2000 : 400;
    const Shard shard;
    Budget budget(12);
    Player player;
    std::mt19937 rng(4711);
    int played = 0;
    for (int n = 0; n < count && (all || budget.left()); ++n) {
        Schedule s;
        const int faults = 1 + int(rng() % 6);
        for (int f = 0; f < faults; ++f) {
            Injection i;
            i.run = int(rng() % kRuns);
            i.local = rng() % 4 == 0;
            i.index = int(rng() % (i.local ? 8 : 22));
            i.fault = i.local ? int(rng() % 2) : int(rng() % 10);
            if (!i.local && Fault(i.fault) == Fault::Unsupported)
                i.fault = int(Fault::Refuse);
            s.push_back(i);
        }
        if (!shard.mine(std::size_t(n)))
            continue;
        EXPECT_SOUND(player.play(s, kRuns), s);
        ++played;
    }
    std::cout << "order fetch schedules: " << played << " random schedules of up to 6 faults over " << kRuns
              << " runs, " << player.fired << " faults met their step\n";
}

} // namespace
