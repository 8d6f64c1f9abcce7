#include "tests/ftp/support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/ssl.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace velmo::test {

namespace {

int listenOn(const char* address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address, &a.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0)
        throw std::runtime_error("scripted server: cannot listen");
    return fd;
}

int localPort(int fd) {
    sockaddr_in a{};
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    return ntohs(a.sin_port);
}

void sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

} // namespace

// ---- Session ---------------------------------------------------------------------------------------

void ScriptedFtpServer::Session::send(const std::string& raw) {
    if (m_ssl) {
        if (!raw.empty())
            SSL_write(m_ssl, raw.data(), static_cast<int>(raw.size()));
        return;
    }
    sendAll(m_control, raw);
}

bool ScriptedFtpServer::Session::startTls() {
    if (!m_tlsContext)
        return false;
    m_ssl = SSL_new(m_tlsContext);
    SSL_set_fd(m_ssl, m_control);
    if (SSL_accept(m_ssl) == 1)
        return true;
    SSL_free(m_ssl);
    m_ssl = nullptr;
    closeControl();
    return false;
}

int ScriptedFtpServer::Session::listenPassive() {
    if (m_passive >= 0)
        ::close(m_passive);
    m_passive = listenOn("127.0.0.1", 0);
    if (m_dataReceiveBuffer > 0)
        ::setsockopt(m_passive, SOL_SOCKET, SO_RCVBUF, &m_dataReceiveBuffer, sizeof m_dataReceiveBuffer);
    m_usePassive = true;
    return localPort(m_passive);
}

int ScriptedFtpServer::Session::openData(const std::string& fromAddress) {
    closeData();
    if (m_usePassive) {
        pollfd p{m_passive, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            return -1;
        m_data = ::accept(m_passive, nullptr, nullptr);
        return m_data;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_dataReceiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &m_dataReceiveBuffer, sizeof m_dataReceiveBuffer);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, fromAddress.c_str(), &from.sin_addr);
    // A data connection from another address than asked would pass a test it should fail.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        ::close(fd);
        return -1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(m_portPort));
    ::inet_pton(AF_INET, m_portHost.c_str(), &to.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    m_data = fd;
    return fd;
}

void ScriptedFtpServer::Session::sendData(const std::string& bytes) {
    sendAll(m_data, bytes);
}

std::string ScriptedFtpServer::Session::receiveData() {
    std::string all;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(m_data, buf, sizeof buf, 0);
        if (n <= 0)
            return all;
        all.append(buf, static_cast<std::size_t>(n));
    }
}

void ScriptedFtpServer::Session::closeData() {
    if (m_data >= 0)
        ::close(m_data);
    m_data = -1;
}

void ScriptedFtpServer::Session::waitForHangUp(int ms) {
    pollfd p{m_control, POLLIN, 0};
    ::poll(&p, 1, ms);
}

void ScriptedFtpServer::Session::holdUntilClosed(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buf[4096];
    while (std::chrono::steady_clock::now() < until) {
        pollfd p{m_control, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0 && ::recv(m_control, buf, sizeof buf, 0) <= 0)
            return;
    }
}

void ScriptedFtpServer::Session::closeControl() {
    ::shutdown(m_control, SHUT_RDWR);
}

// ---- server ----------------------------------------------------------------------------------------

ScriptedFtpServer::ScriptedFtpServer() {
    m_listener = listenOn("127.0.0.1", 0);
    m_port = localPort(m_listener);
    m_thread = std::thread([this] { run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    m_stop = true;
    const int control = m_activeControl.load();
    if (control >= 0)
        ::shutdown(control, SHUT_RDWR);
    ::shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    ::close(m_listener);
    if (m_tlsContext)
        SSL_CTX_free(m_tlsContext);
}

void ScriptedFtpServer::greeting(std::string raw) {
    std::lock_guard lock(m_mutex);
    m_greeting = std::move(raw);
}

void ScriptedFtpServer::reply(const std::string& verb, std::string raw) {
    std::lock_guard lock(m_mutex);
    m_replies[verb] = std::move(raw);
}

void ScriptedFtpServer::on(const std::string& verb, Handler handler) {
    std::lock_guard lock(m_mutex);
    m_handlers[verb] = std::move(handler);
}

void ScriptedFtpServer::enableTls(const std::string& certFile, const std::string& keyFile) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("scripted server: cannot load the certificate");
    std::lock_guard lock(m_mutex);
    if (m_tlsContext)
        SSL_CTX_free(m_tlsContext);
    m_tlsContext = ctx;
}

void ScriptedFtpServer::setDataReceiveBuffer(int bytes) {
    std::lock_guard lock(m_mutex);
    m_dataReceiveBuffer = bytes;
}

void ScriptedFtpServer::setListing(std::string bytes) {
    std::lock_guard lock(m_mutex);
    m_listing = std::move(bytes);
}

void ScriptedFtpServer::setNameList(std::string bytes) {
    std::lock_guard lock(m_mutex);
    m_nameList = std::move(bytes);
}

void ScriptedFtpServer::setFile(const std::string& name, std::string bytes) {
    std::lock_guard lock(m_mutex);
    m_files[name] = std::move(bytes);
}

std::string ScriptedFtpServer::file(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    auto it = m_files.find(name);
    return it == m_files.end() ? std::string() : it->second;
}

std::vector<std::string> ScriptedFtpServer::transcript() const {
    std::lock_guard lock(m_mutex);
    return m_transcript;
}

void ScriptedFtpServer::clearTranscript() {
    std::lock_guard lock(m_mutex);
    m_transcript.clear();
}

void ScriptedFtpServer::run() {
    while (!m_stop) {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const int control = ::accept(m_listener, nullptr, nullptr);
        if (control < 0)
            continue;
        // Replies go out at once: with Nagle's rule a reply written right after another waits for
        // the client's delayed acknowledgement, some 40 ms on every transfer.
        int one = 1;
        ::setsockopt(control, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_activeControl = control;
        serve(control);
        m_activeControl = -1;
        ::close(control);
    }
}

void ScriptedFtpServer::serve(int control) {
    Session s;
    s.m_control = control;
    std::string greeting;
    {
        std::lock_guard lock(m_mutex);
        greeting = m_greeting;
        s.m_tlsContext = m_tlsContext;
        s.m_dataReceiveBuffer = m_dataReceiveBuffer;
    }
    s.send(greeting);
    std::string pending;
    char buf[4096];
    while (!m_stop) {
        const auto lf = pending.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending.substr(0, lf);
            pending.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            {
                std::lock_guard lock(m_mutex);
                m_transcript.push_back(line);
            }
            dispatch(s, line);
            continue;
        }
        const ssize_t n = s.m_ssl ? SSL_read(s.m_ssl, buf, sizeof buf) : ::recv(control, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        pending.append(buf, static_cast<std::size_t>(n));
    }
    s.closeData();
    if (s.m_passive >= 0)
        ::close(s.m_passive);
    if (s.m_ssl) {
        SSL_shutdown(s.m_ssl);
        SSL_free(s.m_ssl);
    }
}

void ScriptedFtpServer::dispatch(Session& s, const std::string& line) {
    const std::string verb = line.substr(0, line.find(' '));
    Handler handler;
    std::string fixed;
    bool haveFixed = false;
    {
        std::lock_guard lock(m_mutex);
        if (auto h = m_handlers.find(verb); h != m_handlers.end())
            handler = h->second;
        if (auto r = m_replies.find(verb); r != m_replies.end()) {
            fixed = r->second;
            haveFixed = true;
        }
    }
    if (handler)
        handler(s, line);
    else if (haveFixed)
        s.send(fixed);
    else
        defaultHandler(s, verb, line);
}

void ScriptedFtpServer::defaultHandler(Session& s, const std::string& verb, const std::string& line) {
    const std::string arg =
        line.find(' ') == std::string::npos ? std::string() : line.substr(line.find(' ') + 1);
    if (verb == "USER") {
        s.send("331 Password required\r\n");
    } else if (verb == "PASS") {
        s.send("230 Logged in\r\n");
    } else if (verb == "SYST") {
        s.send("215 UNIX Type: L8\r\n");
    } else if (verb == "PWD") {
        s.send("257 \"/\" is the current directory\r\n");
    } else if (verb == "QUIT") {
        s.send("221 Bye\r\n");
        s.closeControl();
    } else if (verb == "PASV") {
        const int port = s.listenPassive();
        s.send("227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," +
               std::to_string(port & 0xFF) + ")\r\n");
    } else if (verb == "PORT") {
        int f[6] = {};
        if (std::sscanf(arg.c_str(), "%d,%d,%d,%d,%d,%d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]) != 6) {
            s.send("501 Bad PORT\r\n");
            return;
        }
        s.m_portHost = std::to_string(f[0]) + "." + std::to_string(f[1]) + "." + std::to_string(f[2]) + "." +
                       std::to_string(f[3]);
        s.m_portPort = f[4] * 256 + f[5];
        s.m_usePassive = false;
        s.send("200 PORT command successful\r\n");
    } else if (verb == "LIST" || verb == "NLST") {
        std::string data;
        {
            std::lock_guard lock(m_mutex);
            data = verb == "LIST" ? m_listing : m_nameList;
        }
        s.send("150 Here comes the directory listing\r\n");
        s.openData();
        s.sendData(data);
        s.closeData();
        s.send("226 Directory send OK\r\n");
    } else if (verb == "RETR") {
        std::string data;
        bool found;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_files.find(arg);
            found = it != m_files.end();
            if (found)
                data = it->second;
        }
        if (!found) {
            s.send("550 " + arg + ": No such file or directory\r\n");
            return;
        }
        s.send("150 Opening BINARY mode data connection for " + arg + " (" + std::to_string(data.size()) +
               " bytes)\r\n");
        s.openData();
        s.sendData(data);
        s.closeData();
        s.send("226 Transfer complete\r\n");
    } else if (verb == "STOR") {
        s.send("150 Ok to send data\r\n");
        s.openData();
        std::string data = s.receiveData();
        s.closeData();
        {
            std::lock_guard lock(m_mutex);
            m_files[arg] = std::move(data);
        }
        s.send("226 Transfer complete\r\n");
    } else if (verb == "AUTH" && s.m_tlsContext) {
        s.send("234 Proceed with negotiation\r\n");
        s.startTls();
    } else if ((verb == "PBSZ" || verb == "PROT") && s.m_ssl) {
        s.send("200 OK\r\n");
    } else if (verb == "ABOR") {
        s.send("226 ABOR successful\r\n");
    } else if (verb == "MKD") {
        s.send("257 \"" + arg + "\" created\r\n");
    } else if (verb == "TYPE") {
        s.send("200 Type set\r\n");
    } else if (verb == "CWD" || verb == "DELE" || verb == "RMD" || verb == "SITE" || verb == "OPEN" ||
               verb == "NOOP") {
        s.send("250 OK\r\n");
    } else {
        s.send("502 Command not implemented\r\n");
    }
}

} // namespace velmo::test
