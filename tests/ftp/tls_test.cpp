// FTP over TLS: the scripted server for what real servers rarely show on demand (a refused AUTH, a
// handshake that stops, a certificate for another name, a changed certificate), vsftpd and
// pyftpdlib for the real thing, and a relay that sees what goes over the wire.

#include "ftp/FtpClient.h"
#include "ftp/tls.h"
#include "tests/ftp/support/real_servers.h"
#include "tests/ftp/support/scripted_server.h"
#include "tests/ftp/support/tls_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace velmo;
using velmo::test::readBytes;
using velmo::test::RealFtpServer;
using velmo::test::ScriptedFtpServer;
using velmo::test::TempDir;
using velmo::test::TlsFiles;
using velmo::test::writeBytes;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

namespace {

// Certificates made once for the whole run.
struct Certificates {
    TempDir dir{TempDir::Settings::Keep};
    TlsFiles selfSigned = velmo::test::makeSelfSigned(dir.path(), "localhost", "IP:127.0.0.1,DNS:localhost");
    // Trusted through its authority, but made out for another name than 127.0.0.1.
    TlsFiles otherName =
        velmo::test::makeAuthoritySigned(dir.path(), "elsewhere.example", "DNS:elsewhere.example");
    // Trusted through its authority and made out for 127.0.0.1.
    TlsFiles rightName = velmo::test::makeAuthoritySigned(dir.path(), "loopback", "IP:127.0.0.1");
};

const Certificates& certificates() {
    static const Certificates c;
    return c;
}

// ---- fingerprints ----------------------------------------------------------------------------------

TEST(Fingerprint, TypedFormsAreNormalisedAndNothingElseIsTaken) {
    const std::string canonical = "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
                                  "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
    const std::string bare = "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789";
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {canonical, canonical},
        {bare, canonical},
        {"  " + bare + "\r\n", canonical},
        {"sha256 Fingerprint=" + canonical, canonical}, // as the openssl tool prints it
        {"ab:cdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789", canonical},
        {"", ""},
        {bare.substr(2), ""},                // 31 pairs
        {bare + "ab", ""},                   // 33 pairs: a longer digest is no SHA-256
        {bare.substr(1), ""},                // odd number of digits
        {"g" + bare.substr(1), ""},          // not hex
        {":" + bare, ""},                    // a colon before the first pair
        {canonical + ":", ""},               // after the last
        {"AB::" + canonical.substr(3), ""},  // two in a row
        {"A:BCD" + canonical.substr(5), ""}, // inside a pair
        {bare.substr(0, 32) + " " + bare.substr(32), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(normalizeFingerprint(c.text), c.expected) << "input: " << c.text;
}

// ---- the scripted server -----------------------------------------------------------------------------

class TlsScripted : public ::testing::Test {
protected:
    void SetUp() override {
        client.Host = "127.0.0.1";
        client.Port = server.port();
        client.UserID = "anna";
        client.Password = "secret";
        client.TimeOut = 3000;
        client.ReplyTimeOut = 5000;
        client.Tls = TlsMode::Required;
    }
    void TearDown() override {
        try {
            client.Disconnect();
        } catch (...) {
        }
    }

    ScriptedFtpServer server;
    TFtpClient client;
};

TEST_F(TlsScripted, RefusedAuthFailsWhenRequiredAndStaysPlainWhenOnlyWanted) {
    struct Case {
        TlsMode mode;
        bool connects;
        Lines transcript;
    };
    const Case cases[] = {
        // Required: not a byte of the login goes out in clear.
        {TlsMode::Required, false, {"AUTH TLS"}},
        {TlsMode::IfPossible, true, {"AUTH TLS", "USER anna", "PASS secret"}},
        {TlsMode::Off, true, {"USER anna", "PASS secret"}},
    };
    for (const char* refusal : {"530 Please login with USER and PASS\r\n", "431 No security resource\r\n",
                                "502 Command not implemented\r\n"}) {
        server.reply("AUTH", refusal);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(refusal) + " mode " + std::to_string(static_cast<int>(c.mode)));
            server.clearTranscript();
            client.Tls = c.mode;
            if (c.connects) {
                client.Connect();
                EXPECT_FALSE(client.TlsActive());
                client.Disconnect();
                Lines expected = c.transcript;
                expected.push_back("QUIT");
                EXPECT_EQ(server.transcript(), expected);
            } else {
                try {
                    client.Connect();
                    ADD_FAILURE() << "connected without TLS";
                } catch (const ETlsError& e) {
                    EXPECT_NE(std::string(e.what()).find("AUTH TLS abgelehnt"), std::string::npos)
                        << e.what();
                }
                EXPECT_FALSE(client.Connected());
                // Give the server's thread the moment to record anything that still came.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                EXPECT_EQ(server.transcript(), c.transcript);
            }
        }
    }
}

TEST_F(TlsScripted, AHandshakeThatStopsIsATimeOutWithoutSpinning) {
    struct Case {
        const char* name;
        std::string afterClientHello; // what the server sends, then it falls silent
    };
    const Case cases[] = {
        {"nothing", ""},
        {"half a record header", std::string("\x16\x03\x03", 3)},
        {"a record cut short", std::string("\x16\x03\x03\x00\x40\x02\x00\x00", 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.on("AUTH", [&c](ScriptedFtpServer::Session& s, const std::string&) {
            s.send("234 Proceed\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the ClientHello arrives
            s.send(c.afterClientHello);
            s.holdUntilClosed(5000);
        });
        client.ReplyTimeOut = 400;
        const auto start = Clock::now();
        const std::clock_t cpuStart = std::clock();
        try {
            client.Connect();
            ADD_FAILURE() << "connected";
        } catch (const ETlsError& e) {
            EXPECT_NE(std::string(e.what()).find("Zeitüberschreitung"), std::string::npos) << e.what();
        }
        const auto elapsed = Clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(380));
        EXPECT_LT(elapsed, std::chrono::milliseconds(2500));
        // A wait that polls in a loop would burn the whole time on a core.
        EXPECT_LT(static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC, 0.2);
        EXPECT_FALSE(client.Connected());
    }
}

TEST_F(TlsScripted, CertificateVerdicts) {
    const Certificates& certs = certificates();
    struct Case {
        const char* name;
        const TlsFiles* files;
        std::string pin;
        int answer; // -1: no question handler; 0 or 1: what it answers
        bool connects;
        bool pinMismatch;
        bool asked;
    };
    const std::string otherPin = normalizeFingerprint(certs.selfSigned.fingerprint);
    std::string lowerPin = certs.otherName.fingerprint;
    for (char& ch : lowerPin)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    lowerPin.erase(std::remove(lowerPin.begin(), lowerPin.end(), ':'), lowerPin.end());
    const Case cases[] = {
        {"trusted and for this address", &certs.rightName, "", 0, true, false, false},
        {"for another name, nobody asked", &certs.otherName, "", -1, false, false, false},
        {"for another name, refused", &certs.otherName, "", 0, false, false, true},
        {"for another name, accepted", &certs.otherName, "", 1, true, false, true},
        {"for another name, pinned", &certs.otherName, lowerPin, 0, true, false, false},
        {"self-signed, accepted", &certs.selfSigned, "", 1, true, false, true},
        {"changed certificate", &certs.otherName, otherPin, 1, false, true, false},
        {"pinned but trusted anyway", &certs.rightName, otherPin, 1, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.enableTls(c.files->cert, c.files->key);
        server.clearTranscript();
        client.TlsTrustFile = c.files->ca.empty() ? certs.otherName.ca : c.files->ca;
        client.TlsFingerprint = c.pin;
        std::vector<TlsCertificate> asked;
        client.OnUntrustedCertificate = nullptr;
        if (c.answer >= 0)
            client.OnUntrustedCertificate = [&asked, &c](const TlsCertificate& cert) {
                asked.push_back(cert);
                return c.answer == 1;
            };
        bool pinMismatch = false;
        try {
            client.Connect();
        } catch (const ETlsPinMismatch&) {
            pinMismatch = true;
        } catch (const ETlsError&) {
        }
        EXPECT_EQ(client.TlsActive(), c.connects);
        EXPECT_EQ(pinMismatch, c.pinMismatch);
        ASSERT_EQ(asked.size(), c.asked ? 1U : 0U)
            << (asked.empty() ? std::string() : asked[0].problem + asked[0].subject);
        if (c.asked) {
            EXPECT_EQ(asked[0].sha256, normalizeFingerprint(c.files->fingerprint));
            EXPECT_FALSE(asked[0].problem.empty());
            EXPECT_NE(asked[0].subject.find("CN="), std::string::npos);
            EXPECT_FALSE(asked[0].notAfter.empty());
        }
        if (c.connects) {
            EXPECT_TRUE(client.TlsDataProtected());
            EXPECT_EQ(client.CurrentDir(), "/");
            client.Disconnect();
            EXPECT_EQ(server.transcript(),
                      (Lines{"AUTH TLS", "USER anna", "PASS secret", "PBSZ 0", "PROT P", "PWD", "QUIT"}));
        } else {
            EXPECT_FALSE(client.Connected());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(server.transcript(), (Lines{"AUTH TLS"}));
        }
    }
}

TEST_F(TlsScripted, AHostNameIsCheckedAgainstTheCertificate) {
    const Certificates& certs = certificates();
    server.enableTls(certs.otherName.cert, certs.otherName.key);
    client.TlsTrustFile = certs.otherName.ca;
    std::string problem;
    client.OnUntrustedCertificate = [&problem](const TlsCertificate& cert) {
        problem = cert.problem;
        return false;
    };
    EXPECT_THROW(client.Connect(), ETlsError);
    EXPECT_NE(problem.find("127.0.0.1"), std::string::npos) << problem;
}

// ---- real servers ------------------------------------------------------------------------------------

RealFtpServer& tlsServer(const std::string& kind) {
    static std::unique_ptr<RealFtpServer> pyftpdlib;
    static std::unique_ptr<RealFtpServer> vsftpd;
    auto& slot = kind == "pyftpdlib" ? pyftpdlib : vsftpd;
    if (!slot)
        slot = kind == "pyftpdlib" ? velmo::test::startPyftpdlib(&certificates().selfSigned)
                                   : velmo::test::startVsftpd(&certificates().selfSigned);
    return *slot;
}

struct Mode {
    const char* server;
    bool passive;
};

void PrintTo(const Mode& m, std::ostream* os) {
    *os << m.server << (m.passive ? " PASV" : " PORT");
}

class TlsRealServer : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        srv = &tlsServer(GetParam().server);
        client.Host = "127.0.0.1";
        client.Port = srv->port();
        client.UserID = srv->user();
        client.Password = srv->password();
        client.Passive = GetParam().passive;
        client.TimeOut = 5000;
        client.ReplyTimeOut = 5000;
        client.Tls = TlsMode::Required;
        client.TlsFingerprint = certificates().selfSigned.fingerprint;
        client.OnListItem = [this](TSockSession&, const std::string& line) { items.push_back(line); };
    }
    void TearDown() override {
        try {
            client.Disconnect();
        } catch (...) {
        }
    }

    RealFtpServer* srv = nullptr;
    TFtpClient client;
    TempDir local;
    Lines items;
};

TEST_P(TlsRealServer, ListsDownloadsAndUploadsOverTls) {
    const std::string prefix = std::string(GetParam().passive ? "pasv_" : "port_");
    // Larger than a record and than the client's buffer, with every byte value.
    std::string payload;
    for (int i = 0; i < 300000; ++i)
        payload += static_cast<char>((i * 7 + i / 256) & 0xFF);
    writeBytes(srv->localPath(prefix + "down.bin"), payload);
    client.Connect();
    ASSERT_TRUE(client.TlsActive());
    ASSERT_TRUE(client.TlsDataProtected());
    if (!srv->writableDir().empty())
        client.ChangeDir(srv->writableDir());
    client.DoCommand("TYPE I");

    client.List();
    const bool listed = std::any_of(items.begin(), items.end(), [&](const std::string& line) {
        return line.find(prefix + "down.bin") != std::string::npos;
    });
    EXPECT_TRUE(listed);

    const std::string got = local.file("down.bin");
    client.Download(prefix + "down.bin", got);
    const std::string downloaded = readBytes(got);
    EXPECT_EQ(downloaded.size(), payload.size());
    EXPECT_TRUE(downloaded == payload);

    // Two transfers in a row: each data connection reuses the session anew.
    for (int round = 0; round < 2; ++round) {
        const std::string up = local.file("up.bin");
        writeBytes(up, payload.substr(round));
        client.Upload(up, prefix + "up.bin");
        const std::string stored = readBytes(srv->localPath(prefix + "up.bin"));
        EXPECT_EQ(stored.size(), payload.size() - round) << "round " << round;
        EXPECT_TRUE(stored == payload.substr(round)) << "round " << round;
    }
    items.clear();
    client.Nlist();
    EXPECT_FALSE(items.empty());
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsRealServer,
                         ::testing::Values(Mode{"vsftpd", true}, Mode{"vsftpd", false},
                                           Mode{"pyftpdlib", true}, Mode{"pyftpdlib", false}),
                         [](const auto& info) {
                             return std::string(info.param.server) + (info.param.passive ? "_pasv" : "_port");
                         });

TEST(TlsRealServerTrust, AnUntrustedServerIsAskedAboutAndRefusedByDefault) {
    RealFtpServer& srv = tlsServer("vsftpd");
    TFtpClient client;
    client.Host = "127.0.0.1";
    client.Port = srv.port();
    client.UserID = srv.user();
    client.Password = srv.password();
    client.TimeOut = 5000;
    client.Tls = TlsMode::IfPossible;
    EXPECT_THROW(client.Connect(), ETlsError);
    std::string seen;
    client.OnUntrustedCertificate = [&seen](const TlsCertificate& cert) {
        seen = cert.sha256;
        return true;
    };
    client.Connect();
    EXPECT_EQ(seen, normalizeFingerprint(certificates().selfSigned.fingerprint));
    EXPECT_TRUE(client.TlsActive());
    client.Disconnect();
}

// ---- what goes over the wire -------------------------------------------------------------------------

// Passes one connection through to a server and keeps what the client sent.
class Relay {
public:
    explicit Relay(int targetPort) : m_target(targetPort) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listener, 1) != 0)
            throw std::runtime_error("relay: cannot listen");
        socklen_t size = sizeof a;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &size);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~Relay() {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }
    std::string sent() const {
        std::lock_guard lock(m_mutex);
        return m_sent;
    }

private:
    void run() {
        pollfd p{m_listener, POLLIN, 0};
        while (!m_stop && ::poll(&p, 1, 50) <= 0) {
        }
        if (m_stop)
            return;
        const int client = ::accept(m_listener, nullptr, nullptr);
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(m_target));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            pump(client, server);
        ::close(client);
        ::close(server);
    }
    void pump(int client, int server) {
        char buf[16384];
        while (!m_stop) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(fds, 2, 50) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!fds[i].revents)
                    continue;
                const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
                if (n <= 0)
                    return;
                ::send(fds[1 - i].fd, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL);
                if (i == 0) {
                    std::lock_guard lock(m_mutex);
                    m_sent.append(buf, static_cast<std::size_t>(n));
                }
            }
        }
    }

    int m_target;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::string m_sent;
    std::thread m_thread;
};

TEST(TlsOnTheWire, ThePasswordNeverTravelsInClear) {
    const Certificates& certs = certificates();
    for (const TlsMode mode : {TlsMode::Off, TlsMode::Required}) {
        SCOPED_TRACE(static_cast<int>(mode));
        ScriptedFtpServer server;
        server.enableTls(certs.selfSigned.cert, certs.selfSigned.key);
        Relay relay(server.port());
        TFtpClient client;
        client.Host = "127.0.0.1";
        client.Port = relay.port();
        client.UserID = "anna";
        client.Password = "Pa55-w0rt";
        client.TimeOut = 3000;
        client.Tls = mode;
        client.TlsFingerprint = certs.selfSigned.fingerprint;
        client.Connect();
        EXPECT_EQ(client.CurrentDir(), "/");
        client.Disconnect();
        const std::string wire = relay.sent();
        // Without TLS the relay does see them: the look is not blind.
        const bool clear = mode == TlsMode::Off;
        EXPECT_EQ(wire.find("PASS ") != std::string::npos, clear);
        EXPECT_EQ(wire.find("Pa55-w0rt") != std::string::npos, clear);
        EXPECT_EQ(wire.find("USER anna") != std::string::npos, clear);
        EXPECT_EQ(wire.rfind("AUTH TLS\r\n", 0) == 0, !clear);
    }
}

} // namespace
