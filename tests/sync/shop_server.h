#pragma once

#include "tests/ftp/support/scripted_server.h"

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// A storefront's FTP server for the transfer tests: a small file tree in memory (paths from the
// root, "/db/kunden.db"), the commands the transfers use, and faults to inject by verb and name.
namespace velmo::test {

class ShopServer {
public:
    // What a fault does to the command it matches.
    enum class Fault {
        Refuse,      // 550
        Unsupported, // 502
        CutTransfer, // RETR: half the data, then the connection is gone
    };

    ShopServer() {
        for (const char* verb : {"CWD", "PWD", "NLST", "RETR", "STOR", "DELE", "RNFR", "RNTO", "TYPE"})
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
    }
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

    std::string resolve(const std::string& arg) const {
        std::string p = arg.empty() ? m_cwd : (arg[0] == '/' ? arg : m_cwd + (m_cwd == "/" ? "" : "/") + arg);
        while (p.size() > 1 && p.back() == '/')
            p.pop_back();
        return p;
    }

    bool takeFault(const std::string& verb, const std::string& arg, Fault& kind) {
        const std::string last =
            arg.substr(arg.find_last_of('/') == std::string::npos ? 0 : arg.find_last_of('/') + 1);
        for (auto& f : m_faults) {
            if (f.times > 0 && f.verb == verb && last.rfind(f.name, 0) == 0) {
                --f.times;
                kind = f.kind;
                return true;
            }
        }
        return false;
    }

    bool isDir(const std::string& path) const {
        if (path == "/")
            return true;
        for (const auto& [p, bytes] : m_files)
            if (p.rfind(path + "/", 0) == 0)
                return true;
        return m_dirs.count(path) > 0;
    }

    void handle(ScriptedFtpServer::Session& s, const std::string& line) {
        const auto sp = line.find(' ');
        const std::string verb = line.substr(0, sp);
        const std::string arg = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        std::unique_lock lock(m_mutex);
        Fault kind{};
        if (takeFault(verb, arg, kind)) {
            if (kind == Fault::Refuse) {
                s.send("550 " + arg + ": refused\r\n");
                return;
            }
            if (kind == Fault::Unsupported) {
                s.send("502 " + verb + " not implemented\r\n");
                return;
            }
            const std::string bytes = m_files[resolve(arg)];
            lock.unlock();
            s.send("150 Opening data connection (" + std::to_string(bytes.size()) + " bytes)\r\n");
            s.openData();
            s.sendData(bytes.substr(0, bytes.size() / 2));
            s.closeData();
            s.closeControl();
            return;
        }
        if (verb == "CWD") {
            const std::string p = resolve(arg);
            if (!isDir(p))
                return s.send("550 " + arg + ": No such directory\r\n");
            m_cwd = p;
            s.send("250 OK\r\n");
        } else if (verb == "PWD") {
            s.send("257 \"" + m_cwd + "\" is the current directory\r\n");
        } else if (verb == "TYPE") {
            s.send("200 Type set\r\n");
        } else if (verb == "NLST") {
            std::string names;
            const std::string prefix = m_cwd == "/" ? "/" : m_cwd + "/";
            for (const auto& [p, bytes] : m_files)
                if (p.rfind(prefix, 0) == 0 && p.find('/', prefix.size()) == std::string::npos)
                    names += p.substr(prefix.size()) + "\r\n";
            lock.unlock();
            s.send("150 Here comes the listing\r\n");
            s.openData();
            s.sendData(names);
            s.closeData();
            s.send("226 Done\r\n");
        } else if (verb == "RETR") {
            const std::string p = resolve(arg);
            auto it = m_files.find(p);
            if (it == m_files.end())
                return s.send("550 " + arg + ": No such file\r\n");
            const std::string bytes = it->second;
            auto after = m_afterRetr;
            lock.unlock();
            s.send("150 Opening data connection (" + std::to_string(bytes.size()) + " bytes)\r\n");
            s.openData();
            s.sendData(bytes);
            s.closeData();
            if (after)
                after(p);
            s.send("226 Transfer complete\r\n");
        } else if (verb == "STOR") {
            const std::string p = resolve(arg);
            lock.unlock();
            s.send("150 Ok to send data\r\n");
            s.openData();
            std::string data = s.receiveData();
            s.closeData();
            put(p, std::move(data));
            s.send("226 Transfer complete\r\n");
        } else if (verb == "DELE") {
            if (m_files.erase(resolve(arg)) == 0)
                return s.send("550 " + arg + ": No such file\r\n");
            s.send("250 Deleted\r\n");
        } else if (verb == "RNFR") {
            m_renameFrom = resolve(arg);
            if (!m_files.count(m_renameFrom))
                return s.send("550 " + arg + ": No such file\r\n");
            s.send("350 Ready for RNTO\r\n");
        } else if (verb == "RNTO") {
            auto it = m_files.find(m_renameFrom);
            if (it == m_files.end())
                return s.send("503 RNFR first\r\n");
            std::string bytes = std::move(it->second);
            m_files.erase(it);
            m_files[resolve(arg)] = std::move(bytes);
            s.send("250 Renamed\r\n");
        }
    }

    ScriptedFtpServer m_server;
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_files;
    std::set<std::string> m_dirs{"/db", "/pictures", "/thumbs"};
    std::string m_cwd = "/";
    std::string m_renameFrom;
    std::vector<FaultRule> m_faults;
    std::function<void(const std::string&)> m_afterRetr;
};

} // namespace velmo::test
