#include "tests/ftp/support/real_servers.h"
#include "tests/support/free_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace velmo::test {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// What a server has logged so far; nothing before the child opened its log.
std::string logText(const std::string& path) {
    return fs::exists(path) ? readBytes(path) : std::string();
}

// Starts the program with stdout and stderr going to logPath; the child dies with the test.
int spawn(const std::vector<std::string>& argv, const std::string& logPath) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log, 1);
        ::dup2(log, 2);
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

bool exited(int pid) {
    int status;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

class Server : public RealFtpServer {
public:
    ~Server() override { stop(); }
    using RealFtpServer::m_dir;
    using RealFtpServer::m_name;
    using RealFtpServer::m_password;
    using RealFtpServer::m_pid;
    using RealFtpServer::m_port;
    using RealFtpServer::m_root;
    using RealFtpServer::m_user;
    using RealFtpServer::m_writableDir;
    using RealFtpServer::stop;
};

} // namespace

RealFtpServer::~RealFtpServer() = default;

std::string RealFtpServer::localPath(const std::string& name) const {
    return m_root + (m_writableDir.empty() ? "" : "/" + m_writableDir) + "/" + name;
}

void RealFtpServer::stop() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    const auto until = Clock::now() + std::chrono::seconds(3);
    while (!exited(m_pid)) {
        if (Clock::now() > until) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
}

// pyftpdlib's command line has no TLS: the same server with its TLS handler, logging the same line.
const char* const kPyftpdlibTls = R"(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer
root, user, password, cert, key = sys.argv[1:6]
logging.basicConfig(level=logging.INFO)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
class Handler(TLS_FTPHandler):
    pass
Handler.authorizer = authorizer
Handler.certfile = cert
Handler.keyfile = key
Handler.tls_control_required = True
Handler.tls_data_required = True
FTPServer(("127.0.0.1", 0), Handler).serve_forever()
)";

namespace {

// The command line of a server made of pyftpdlib for a root, a user and a password.
using PyftpdlibCommand = std::function<std::vector<std::string>(
    const std::string& root, const std::string& user, const std::string& password)>;

// pyftpdlib (or a server made of it) with the account velmo/geheim over a fresh root.
std::unique_ptr<RealFtpServer> startPyftpdlibServer(const std::string& name,
                                                    const PyftpdlibCommand& command) {
    auto s = std::make_unique<Server>();
    s->m_name = name;
    s->m_dir = std::make_unique<TempDir>(TempDir::Settings::Keep);
    s->m_root = s->m_dir->file("root");
    fs::create_directory(s->m_root);
    s->m_user = "velmo";
    s->m_password = "geheim";
    const std::string log = s->m_dir->file("server.log");
    s->m_pid = spawn(command(s->m_root, s->m_user, s->m_password), log);
    // The server names the port the system gave it in its log.
    const std::regex started(R"(starting FTP(?:\+SSL)? server on 127\.0\.0\.1:(\d+))");
    const auto until = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < until) {
        std::smatch m;
        const std::string text = logText(log);
        if (std::regex_search(text, m, started)) {
            s->m_port = std::stoi(m[1]);
            return s;
        }
        if (exited(s->m_pid)) {
            s->m_pid = -1;
            std::string message = name + " did not start:\n";
            message += text;
            throw std::runtime_error(message);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error(name + " did not report its port:\n" + logText(log));
}

} // namespace

std::unique_ptr<RealFtpServer> startPyftpdlib(const TlsFiles* tls) {
    return startPyftpdlibServer(
        "pyftpdlib", [tls](const std::string& root, const std::string& user, const std::string& password) {
            if (tls)
                return std::vector<std::string>{"/usr/bin/python3", "-c",      kPyftpdlibTls, root, user,
                                                password,           tls->cert, tls->key};
            return std::vector<std::string>{"/usr/bin/python3",
                                            "-m",
                                            "pyftpdlib",
                                            "-i",
                                            "127.0.0.1",
                                            "-p",
                                            "0",
                                            "-w",
                                            "-d",
                                            root,
                                            "-u",
                                            user,
                                            "-P",
                                            password};
        });
}

std::unique_ptr<RealFtpServer> startDemoServer(const std::string& script) {
    return startPyftpdlibServer(
        "demo", [&script](const std::string& root, const std::string& user, const std::string& password) {
            return std::vector<std::string>{script, "--root", root, "--user", user, "--password", password};
        });
}

std::unique_ptr<RealFtpServer> startVsftpd(const TlsFiles* tls) {
    auto s = std::make_unique<Server>();
    s->m_name = "vsftpd";
    s->m_dir = std::make_unique<TempDir>(TempDir::Settings::Keep);
    // vsftpd insists on an empty directory nobody can write for its privilege separation, and
    // on a login root the anonymous account cannot write; "pub" is where it may.
    const std::string empty = s->m_dir->file("empty");
    s->m_root = s->m_dir->file("root");
    fs::create_directory(empty);
    fs::create_directory(s->m_root);
    fs::create_directory(s->m_root + "/pub");
    ::chmod(s->m_dir->path().c_str(), 0755);
    ::chmod(empty.c_str(), 0755);
    ::chmod(s->m_root.c_str(), 0755);
    ::chmod((s->m_root + "/pub").c_str(), 0777);
    s->m_user = "anonymous";
    s->m_password = "velmo@example.org";
    s->m_writableDir = "pub";
    const char* account = ::getpwnam("ftp") ? "ftp" : "nobody";

    std::string lastLog;
    for (int attempt = 0; attempt < 3; ++attempt) {
        s->m_port = freePort();
        const std::string conf = s->m_dir->file("vsftpd.conf");
        const std::string log = s->m_dir->file("server.log");
        std::ofstream(conf) << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                            << "listen_port=" << s->m_port << "\nbackground=NO\n"
                            << "anonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\n"
                            << "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                            << "anon_other_write_enable=YES\nanon_world_readable_only=NO\n"
                            << "no_anon_password=NO\nanon_umask=022\n"
                            << "anon_root=" << s->m_root << "\nsecure_chroot_dir=" << empty << "\n"
                            << "ftp_username=" << account << "\n"
                            << "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                            << "connect_from_port_20=NO\npasv_enable=YES\nport_enable=YES\n"
                            << "xferlog_enable=NO\nvsftpd_log_file=" << s->m_dir->file("xfer.log") << "\n"
                            << "max_clients=20\nmax_per_ip=20\n";
        if (tls)
            std::ofstream(conf, std::ios::app)
                << "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
                << "force_local_logins_ssl=YES\nforce_local_data_ssl=YES\nrequire_ssl_reuse=YES\n"
                << "rsa_cert_file=" << tls->cert << "\nrsa_private_key_file=" << tls->key << "\n";
        ::chmod(conf.c_str(), 0600);
        s->m_pid = spawn({"/usr/sbin/vsftpd", conf}, log);
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < until) {
            if (exited(s->m_pid)) {
                s->m_pid = -1;
                break;
            }
            if (accepts(s->m_port))
                return s;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        lastLog = logText(log);
        s->stop();
    }
    throw std::runtime_error("vsftpd did not start (it needs root):\n" + lastLog);
}

} // namespace velmo::test
