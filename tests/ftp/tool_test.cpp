// velmo-ftp against pyftpdlib: the lines it prints, and its exit status.

#include "tests/ftp/support/real_servers.h"
#include "tests/ftp/support/scripted_server.h"
#include "tests/ftp/support/tls_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

using velmo::test::readBytes;
using velmo::test::RealFtpServer;
using velmo::test::TempDir;
using velmo::test::writeBytes;
using Lines = std::vector<std::string>;

namespace {

struct ToolRun {
    int status = -1;
    Lines lines;
    bool has(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::ptrdiff_t index(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    }
};

std::string quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ToolRun runTool(const Lines& args) {
    std::string command = VELMO_FTP_TOOL;
    for (const auto& a : args)
        command += " " + quoted(a);
    command += " 2>/dev/null";
    ToolRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::string text;
    char buf[4096];
    while (const std::size_t n = std::fread(buf, 1, sizeof buf, pipe))
        text.append(buf, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::size_t start = 0;
    for (std::size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1)
        run.lines.push_back(text.substr(start, lf - start));
    return run;
}

class Tool : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = velmo::test::startPyftpdlib(); }
    static void TearDownTestSuite() { server.reset(); }
    Lines login(const std::string& password = "") const {
        // A short reply limit: a protocol fault fails in seconds instead of at the CTest time-out.
        return {"--host",          "127.0.0.1",    "--port", std::to_string(server->port()),
                "--user",          server->user(), "--pass", password.empty() ? server->password() : password,
                "--reply-timeout", "5000"};
    }
    static std::unique_ptr<RealFtpServer> server;
};

std::unique_ptr<RealFtpServer> Tool::server;

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST_F(Tool, RunsTheCommandsInOrderAndPrintsEveryEvent) {
    TempDir local;
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        bytes += static_cast<char>(i * 7);
    writeBytes(local.file("up.bin"), bytes);
    const ToolRun run = runTool(login() + Lines{"--passive", "pwd", "quote", "TYPE I", "put",
                                                local.file("up.bin"), "tool.bin", "get", "tool.bin",
                                                local.file("down.bin"), "nlist", "dele", "tool.bin", "quit"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readBytes(local.file("down.bin")), bytes);
    for (const char* line : {"status: 220 pyftpdlib 1.5.7 ready.", "connect", "dir: /",
                             "success: CmdDoCommand", "bytes: 1000 of 1000", "item: tool.bin",
                             "success: CmdNList", "success: CmdDelete", "status: 221 Goodbye.", "disconnect"})
        EXPECT_TRUE(run.has(line)) << line;
    // put: start, stop, success; get: start, stop, stop, success; nlist: start, stop.
    Lines events;
    for (const auto& l : run.lines)
        if (l == "start" || l == "stop" || l.rfind("success: CmdUpload", 0) == 0)
            events.push_back(l);
    EXPECT_EQ(events, (Lines{"start", "stop", "success: CmdUpload", "start", "stop", "stop",
                             "success: CmdUpload", "start", "stop"}));
}

TEST_F(Tool, ARaisingCommandIsReportedAndTheNextOneRuns) {
    const ToolRun run = runTool(login() + Lines{"get", "fehlt.txt", "pwd"});
    EXPECT_EQ(run.status, 1);
    const auto error = run.index("exception: FTPException: 550 No such file or directory.");
    EXPECT_LT(error, run.index("dir: /"));
    EXPECT_LT(run.index("failure: CmdUpload"), error);
}

TEST_F(Tool, RefusedLoginEndsWithStatusOne) {
    const ToolRun run = runTool(login("falsch") + Lines{"pwd"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.has("exception: FTPException: 530 Authentication failed."));
    EXPECT_FALSE(run.has("dir: /"));
}

TEST_F(Tool, BadArgumentsEndWithStatusTwo) {
    const Lines cases[] = {
        {"pwd"},
        {"--host", "127.0.0.1", "--port", "x", "pwd"},
        {"--host", "127.0.0.1", "frobnicate"},
        {"--host", "127.0.0.1", "cd"},
        {"--host", "127.0.0.1", "--fw-user", "u", "pwd"},
        {"--host", "127.0.0.1", "--firewall", "site", "pwd"},
    };
    for (const auto& args : cases) {
        const ToolRun run = runTool(args);
        EXPECT_EQ(run.status, 2) << args[args.size() - 1];
        EXPECT_TRUE(run.lines.empty());
    }
}

namespace {

TEST(ToolTls, AnUntrustedCertificateIsShownAndAPinnedOneTakenInAnyWrittenForm) {
    TempDir certDir(TempDir::Settings::Keep);
    const velmo::test::TlsFiles cert =
        velmo::test::makeSelfSigned(certDir.path(), "localhost", "IP:127.0.0.1");
    velmo::test::ScriptedFtpServer server;
    server.enableTls(cert.cert, cert.key);
    const Lines login = {"--host", "127.0.0.1", "--port", std::to_string(server.port()),
                         "--user", "anna",      "--pass", "secret"};
    auto with = [&login](Lines extra) {
        extra.insert(extra.begin(), login.begin(), login.end());
        extra.push_back("pwd");
        return extra;
    };

    const ToolRun refused = runTool(with({"--tls"}));
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.has("certificate: sha256 " + cert.fingerprint));
    EXPECT_TRUE(refused.has("certificate: problem Das Zertifikat ist selbst signiert."));
    EXPECT_FALSE(refused.has("dir: /"));

    std::string typed = cert.fingerprint; // lower case, without colons
    typed.erase(std::remove(typed.begin(), typed.end(), ':'), typed.end());
    std::transform(typed.begin(), typed.end(), typed.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    for (const std::string& pin : {cert.fingerprint, typed}) {
        const ToolRun pinned = runTool(with({"--tls-fingerprint", pin}));
        EXPECT_EQ(pinned.status, 0) << pin;
        EXPECT_TRUE(pinned.has("dir: /")) << pin;
    }

    std::string other = cert.fingerprint;
    other[0] = other[0] == 'A' ? 'B' : 'A';
    const ToolRun changed = runTool(with({"--tls-fingerprint", other}));
    EXPECT_EQ(changed.status, 1);
    const bool pinMismatch =
        std::any_of(changed.lines.begin(), changed.lines.end(),
                    [](const std::string& l) { return l.rfind("exception: ETlsPinMismatch: ", 0) == 0; });
    EXPECT_TRUE(pinMismatch);

    EXPECT_EQ(runTool(with({"--tls-fingerprint", "AB:CD"})).status, 2);
}

} // namespace
