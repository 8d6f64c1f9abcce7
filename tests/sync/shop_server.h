#pragma once

#include "tests/ftp/support/scripted_server.h"

#include <signal.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// A storefront's FTP server for the transfer tests: a small file tree in memory (paths from the
// root, "/db/kunden.db"), the commands the transfers use, and faults to inject by verb and name or
// by the number of a command in a run.
namespace velmo::test {

class ShopServer {
public:
    // What a fault does to the command it meets.
    enum class Fault {
        Refuse,        // 550, not carried out
        Busy,          // 450, not carried out
        Unsupported,   // 502
        DataFails,     // RETR, NLST: 425, no data connection
        CutTransfer,   // RETR, NLST: half the data, then the connection is gone
        ShortTransfer, // RETR, NLST: half the data, then 226 as if all had been sent
        DropBefore,    // the connection closes; the command is not carried out
        DropAfter,     // carried out; the connection closes before the reply
        Silent,        // no reply: the client runs into its time-out
        KillClient,    // carried out; then the client's process is killed before it reads the reply
    };
    static bool isDataVerb(const std::string& verb) { return verb == "RETR" || verb == "NLST"; }

    ShopServer() {
        for (const char* verb :
             {"CWD", "PWD", "NLST", "RETR", "STOR", "DELE", "RNFR", "RNTO", "TYPE", "SIZE"})
            m_server.on(verb,
                        [this](ScriptedFtpServer::Session& s, const std::string& line) { handle(s, line); });
    }

    int port() const { return m_server.port(); }
    ScriptedFtpServer& scripted() { return m_server; }

    void put(const std::string& path, std::string bytes) {
        std::lock_guard lock(m_mutex);
        m_files[path] = std::move(bytes);
    }
    void append(const std::string& path, const std::string& bytes) {
        std::lock_guard lock(m_mutex);
        m_files[path] += bytes;
    }
    void remove(const std::string& path) {
        std::lock_guard lock(m_mutex);
        m_files.erase(path);
    }
    bool has(const std::string& path) const {
        std::lock_guard lock(m_mutex);
        return m_files.count(path) > 0;
    }
    std::string get(const std::string& path) const {
        std::lock_guard lock(m_mutex);
        auto it = m_files.find(path);
        return it == m_files.end() ? std::string() : it->second;
    }
    // Every file below a directory ("/db/"), by path.
    std::vector<std::string> filesIn(const std::string& dir) const {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> out;
        for (const auto& [path, bytes] : m_files)
            if (path.rfind(dir, 0) == 0)
                out.push_back(path);
        return out;
    }

    // A fault for the next `times` commands of verb whose argument's last part starts with name
    // (empty: any argument).
    void fault(const std::string& verb, const std::string& name, Fault kind, int times = 1) {
        std::lock_guard lock(m_mutex);
        m_faults.push_back({verb, name, kind, times});
    }
    void clearFaults() {
        std::lock_guard lock(m_mutex);
        m_faults.clear();
        m_faultsAt.clear();
    }
    // Counting the commands anew (one run of the program): the commands this server handles, from 0.
    void beginRun() {
        std::lock_guard lock(m_mutex);
        m_commandCount = 0;
        m_runCommands.clear();
        m_faultsAt.clear();
    }
    // A fault for the command with this number in the current run.
    void faultAt(int command, Fault kind) {
        std::lock_guard lock(m_mutex);
        m_faultsAt[command] = kind;
    }
    // The commands of the current run, in order.
    std::vector<std::string> runCommands() const {
        std::lock_guard lock(m_mutex);
        return m_runCommands;
    }
    // Called for every command this server handles, before it is carried out.
    void onCommand(std::function<void()> f) {
        std::lock_guard lock(m_mutex);
        m_onCommand = std::move(f);
    }
    // The process KillClient kills.
    void setClientProcess(int pid) { m_clientPid = pid; }
    // Runs after a RETR has sent its file (the storefront writing meanwhile, say).
    void afterRetr(std::function<void(const std::string& path)> f) {
        std::lock_guard lock(m_mutex);
        m_afterRetr = std::move(f);
    }
    std::vector<std::string> transcript() const { return m_server.transcript(); }

private:
    struct FaultRule {
        std::string verb, name;
        Fault kind;
        int times;
    };
    // How a data transfer goes.
    enum class Data { All, HalfThenGone, HalfThen226 };

    std::string resolve(const std::string& arg) const {
        std::string p = arg.empty() ? m_cwd : (arg[0] == '/' ? arg : m_cwd + (m_cwd == "/" ? "" : "/") + arg);
        while (p.size() > 1 && p.back() == '/')
            p.pop_back();
        return p;
    }

    std::optional<Fault> takeFault(const std::string& verb, const std::string& arg) {
        if (auto at = m_faultsAt.find(m_commandCount - 1); at != m_faultsAt.end())
            return at->second;
        const std::string last =
            arg.substr(arg.find_last_of('/') == std::string::npos ? 0 : arg.find_last_of('/') + 1);
        for (auto& f : m_faults) {
            if (f.times > 0 && f.verb == verb && last.rfind(f.name, 0) == 0) {
                --f.times;
                return f.kind;
            }
        }
        return std::nullopt;
    }

    bool isDir(const std::string& path) const {
        if (path == "/")
            return true;
        for (const auto& [p, bytes] : m_files)
            if (p.rfind(path + "/", 0) == 0)
                return true;
        return m_dirs.count(path) > 0;
    }

    // Sends the data of a RETR or NLST; false when the connection is gone after it.
    bool transfer(ScriptedFtpServer::Session& s, const std::string& bytes, Data how) {
        s.send("150 Opening data connection (" + std::to_string(bytes.size()) + " bytes)\r\n");
        s.openData();
        s.sendData(how == Data::All ? bytes : bytes.substr(0, bytes.size() / 2));
        s.closeData();
        if (how != Data::HalfThenGone)
            return true;
        s.closeControl();
        return false;
    }

    std::string names() const {
        std::string out;
        const std::string prefix = m_cwd == "/" ? "/" : m_cwd + "/";
        for (const auto& [p, bytes] : m_files)
            if (p.rfind(prefix, 0) == 0 && p.find('/', prefix.size()) == std::string::npos)
                out += p.substr(prefix.size()) + "\r\n";
        return out;
    }

    // Carries out the command and returns its final reply (empty: none, the connection is gone).
    std::string execute(ScriptedFtpServer::Session& s, std::unique_lock<std::mutex>& lock,
                        const std::string& verb, const std::string& arg, Data how) {
        if (verb == "CWD") {
            const std::string p = resolve(arg);
            if (!isDir(p))
                return "550 " + arg + ": No such directory\r\n";
            m_cwd = p;
            return "250 OK\r\n";
        }
        if (verb == "PWD")
            return "257 \"" + m_cwd + "\" is the current directory\r\n";
        if (verb == "TYPE")
            return "200 Type set\r\n";
        if (verb == "SIZE") {
            auto it = m_files.find(resolve(arg));
            return it == m_files.end() ? "550 " + arg + ": No such file\r\n"
                                       : "213 " + std::to_string(it->second.size()) + "\r\n";
        }
        if (verb == "NLST") {
            const std::string list = names();
            lock.unlock();
            return transfer(s, list, how) ? "226 Done\r\n" : "";
        }
        if (verb == "RETR") {
            const std::string p = resolve(arg);
            auto it = m_files.find(p);
            if (it == m_files.end())
                return "550 " + arg + ": No such file\r\n";
            const std::string bytes = it->second;
            auto after = m_afterRetr;
            lock.unlock();
            if (!transfer(s, bytes, how))
                return "";
            if (after)
                after(p);
            return "226 Transfer complete\r\n";
        }
        if (verb == "STOR") {
            const std::string p = resolve(arg);
            lock.unlock();
            s.send("150 Ok to send data\r\n");
            s.openData();
            std::string data = s.receiveData();
            s.closeData();
            put(p, std::move(data));
            return "226 Transfer complete\r\n";
        }
        if (verb == "DELE")
            return m_files.erase(resolve(arg)) == 0 ? "550 " + arg + ": No such file\r\n" : "250 Deleted\r\n";
        if (verb == "RNFR") {
            m_renameFrom = resolve(arg);
            return m_files.count(m_renameFrom) ? "350 Ready for RNTO\r\n"
                                               : "550 " + arg + ": No such file\r\n";
        }
        // RNTO
        auto it = m_files.find(m_renameFrom);
        if (it == m_files.end())
            return "503 RNFR first\r\n";
        std::string bytes = std::move(it->second);
        m_files.erase(it);
        m_files[resolve(arg)] = std::move(bytes);
        return "250 Renamed\r\n";
    }

    void handle(ScriptedFtpServer::Session& s, const std::string& line) {
        const auto sp = line.find(' ');
        const std::string verb = line.substr(0, sp);
        const std::string arg = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        std::unique_lock lock(m_mutex);
        ++m_commandCount;
        m_runCommands.push_back(line);
        if (m_onCommand)
            m_onCommand();
        const std::optional<Fault> fault = takeFault(verb, arg);
        Data how = Data::All;
        switch (fault ? *fault : Fault::DropAfter) { // no fault: carried out and answered below
        case Fault::Refuse:
            return s.send("550 " + arg + ": refused\r\n");
        case Fault::Busy:
            return s.send("450 " + arg + ": busy, try again\r\n");
        case Fault::Unsupported:
            return s.send("502 " + verb + " not implemented\r\n");
        case Fault::DataFails:
            return s.send("425 Can't open data connection.\r\n");
        case Fault::DropBefore:
            return s.closeControl();
        case Fault::Silent:
            lock.unlock();
            return s.waitForHangUp();
        case Fault::CutTransfer:
            how = Data::HalfThenGone;
            break;
        case Fault::ShortTransfer:
            how = Data::HalfThen226;
            break;
        case Fault::DropAfter:
        case Fault::KillClient:
            break;
        }
        const std::string reply = execute(s, lock, verb, arg, how);
        if (fault == Fault::KillClient && m_clientPid > 0) {
            ::kill(m_clientPid, SIGKILL);
            return s.closeControl();
        }
        if (fault == Fault::DropAfter)
            return s.closeControl();
        if (!reply.empty())
            s.send(reply);
    }

    ScriptedFtpServer m_server;
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_files;
    std::set<std::string> m_dirs{"/db", "/pictures", "/thumbs"};
    std::string m_cwd = "/";
    std::string m_renameFrom;
    std::vector<FaultRule> m_faults;
    std::map<int, Fault> m_faultsAt;
    int m_commandCount = 0;
    std::vector<std::string> m_runCommands;
    std::atomic<int> m_clientPid{0};
    std::function<void(const std::string&)> m_afterRetr;
    std::function<void()> m_onCommand;
};

} // namespace velmo::test
