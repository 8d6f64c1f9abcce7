// velmo-ftp: drives the program's FTP client from the command line, to diagnose a shop server and
// to measure transfers. Every event of the client becomes one line on stdout.

#include "ftp/FtpClient.h"
#include "platform/cp1252.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

using namespace velmo;

namespace {

const char* const kUsage =
    "usage: velmo-ftp --host H [--port N] [--user U] [--pass P] [--passive] [--timeout MS]\n"
    "                 [--reply-timeout MS] [--parse-list] [--proxy HOST:PORT [--firewall user|open|site]]\n"
    "                 [--fw-user U --fw-pass P] [--report-level N]\n"
    "                 [--tls] [--tls-fingerprint SHA256] [--tls-ca PEMFILE] CMD...\n"
    "commands, run in order after the login:\n"
    "  pwd | cd DIR | list | nlist | get REMOTE [LOCAL] | put LOCAL [REMOTE] | dele NAME\n"
    "  rmd DIR | quote LINE | quit\n"
    "An optional argument that is itself a command name counts as the next command.\n"
    "--tls requires explicit FTP over TLS; --tls-fingerprint pins the server certificate by its\n"
    "SHA-256 fingerprint as `openssl x509 -noout -fingerprint -sha256` prints it (colons and case\n"
    "optional) and implies --tls; --tls-ca trusts the certificates of a PEM file instead of the\n"
    "system's. An untrusted certificate is printed and refused.\n";

void out(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string stripLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string className(const std::exception& e) {
    if (dynamic_cast<const FTPException*>(&e))
        return "FTPException";
    if (dynamic_cast<const ETlsPinMismatch*>(&e))
        return "ETlsPinMismatch";
    if (dynamic_cast<const ETlsError*>(&e))
        return "ETlsError";
    if (dynamic_cast<const EReplyTimeOut*>(&e))
        return "EReplyTimeOut";
    if (dynamic_cast<const EAbortError*>(&e))
        return "EAbortError";
    if (dynamic_cast<const ESockError*>(&e))
        return "ESockError";
    if (dynamic_cast<const EFOpenError*>(&e))
        return "EFOpenError";
    if (dynamic_cast<const EFCreateError*>(&e))
        return "EFCreateError";
    if (dynamic_cast<const EConvertError*>(&e))
        return "EConvertError";
    return "Exception";
}

bool parseNumber(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::atoi(text.c_str());
    return true;
}

struct Command {
    std::string name;
    std::vector<std::string> args;
};

[[noreturn]] void badArguments(const std::string& why) {
    std::fprintf(stderr, "velmo-ftp: %s\n%s", why.c_str(), kUsage);
    std::exit(2);
}

// The options as they are read: what is checked once all of them are known.
struct Options {
    std::vector<std::string> args;
    std::size_t at = 0; // the argument being read
    bool haveHost = false;
    bool fwUser = false;
    bool fwPass = false;
    std::string firewall;

    std::string value(const std::string& option) {
        if (at + 1 >= args.size())
            badArguments(option + " needs a value");
        return args[++at];
    }
    int number(const std::string& option, const char* what) {
        int n = 0;
        if (!parseNumber(value(option), n))
            badArguments(std::string("bad ") + what);
        return n;
    }
};

// Each of these takes the option it knows and says whether it did.
bool connectionOption(const std::string& o, Options& opts, TFtpClient& client) {
    if (o == "--host") {
        client.Host = opts.value(o);
        opts.haveHost = true;
    } else if (o == "--port") {
        client.Port = opts.number(o, "port");
    } else if (o == "--user") {
        client.UserID = cp1252::fromUtf8(opts.value(o));
    } else if (o == "--pass") {
        client.Password = cp1252::fromUtf8(opts.value(o));
    } else if (o == "--passive") {
        client.Passive = true;
    } else if (o == "--timeout") {
        client.TimeOut = opts.number(o, "time-out");
    } else if (o == "--reply-timeout") {
        client.ReplyTimeOut = opts.number(o, "reply time-out");
    } else if (o == "--parse-list") {
        client.ParseList = true;
    } else if (o == "--report-level") {
        client.ReportLevel = opts.number(o, "report level");
    } else {
        return false;
    }
    return true;
}

TFirewallType firewallType(const std::string& name) {
    if (name == "user")
        return FTUser;
    if (name == "open")
        return FtOpen;
    if (name == "site")
        return FtSite;
    badArguments("--firewall is user, open or site");
}

bool proxyOption(const std::string& o, Options& opts, TFtpClient& client) {
    if (o == "--proxy") {
        const std::string p = opts.value(o);
        const auto colon = p.rfind(':');
        if (colon == std::string::npos || colon == 0 || !parseNumber(p.substr(colon + 1), client.ProxyPort))
            badArguments("--proxy needs HOST:PORT");
        client.Proxy = p.substr(0, colon);
    } else if (o == "--firewall") {
        opts.firewall = opts.value(o);
        client.FirewallType = firewallType(opts.firewall);
    } else if (o == "--fw-user") {
        client.FWUserID = cp1252::fromUtf8(opts.value(o));
        opts.fwUser = true;
    } else if (o == "--fw-pass") {
        client.FWPassword = cp1252::fromUtf8(opts.value(o));
        opts.fwPass = true;
    } else {
        return false;
    }
    return true;
}

bool tlsOption(const std::string& o, Options& opts, TFtpClient& client) {
    if (o == "--tls") {
        client.Tls = TlsMode::Required;
    } else if (o == "--tls-fingerprint") {
        client.Tls = TlsMode::Required;
        client.TlsFingerprint = opts.value(o);
        if (normalizeFingerprint(client.TlsFingerprint).empty())
            badArguments("--tls-fingerprint needs 32 hex pairs (SHA-256)");
    } else if (o == "--tls-ca") {
        client.TlsTrustFile = opts.value(o);
    } else {
        return false;
    }
    return true;
}

const std::set<std::string>& commandNames() {
    static const std::set<std::string> names = {"pwd", "cd",   "list", "nlist", "get",
                                                "put", "dele", "rmd",  "quote", "quit"};
    return names;
}

// The commands after the options, each with its arguments.
std::vector<Command> parseCommands(const std::vector<std::string>& a, std::size_t i) {
    const std::set<std::string>& names = commandNames();
    std::vector<Command> commands;
    while (i < a.size()) {
        Command c{a[i++], {}};
        if (!names.count(c.name))
            badArguments("unknown command " + c.name);
        int required = 0;
        int optional = 0;
        if (c.name == "cd" || c.name == "dele" || c.name == "rmd" || c.name == "quote")
            required = 1;
        else if (c.name == "get" || c.name == "put")
            required = optional = 1;
        for (int r = 0; r < required; ++r) {
            if (i >= a.size())
                badArguments(c.name + " needs an argument");
            c.args.push_back(a[i++]);
        }
        for (int o = 0; o < optional && i < a.size() && !names.count(a[i]); ++o)
            c.args.push_back(a[i++]);
        commands.push_back(std::move(c));
    }
    return commands;
}

void printCertificate(const TlsCertificate& c) {
    out("certificate: sha256 " + c.sha256);
    out("certificate: subject " + c.subject);
    out("certificate: issuer " + c.issuer);
    out("certificate: valid " + c.notBefore + " - " + c.notAfter);
    out("certificate: problem " + c.problem);
}

void installHandlers(TFtpClient& client) {
    client.OnStatus = [](TSockSession&, const std::string& text) { out("status: " + stripLineEnd(text)); };
    client.OnConnect = [](TSockSession&) { out("connect"); };
    // Nobody to ask: the certificate is shown, so that it can be pinned, and refused.
    client.OnUntrustedCertificate = [](const TlsCertificate& c) {
        printCertificate(c);
        return false;
    };
    client.OnDisconnect = [](TSockSession&) { out("disconnect"); };
    client.OnSuccess = [](TSockSession&, TCmdType t) { out(std::string("success: ") + cmdTypeName(t)); };
    client.OnFailure = [](TSockSession&, bool&, TCmdType t) {
        out(std::string("failure: ") + cmdTypeName(t));
    };
    client.OnUnSupportedFunction = [](TSockSession&, TCmdType t) {
        out(std::string("unsupported: ") + cmdTypeName(t));
    };
    client.OnListItem = [](TSockSession&, const std::string& line) { out("item: " + cp1252::toUtf8(line)); };
    client.OnTransactionStart = [](TSockSession&) { out("start"); };
    client.OnTransactionStop = [](TSockSession&) { out("stop"); };
    client.OnPacketRecvd = [&client](TSockSession&) {
        out("bytes: " + std::to_string(client.BytesRecvd()) + " of " + std::to_string(client.BytesTotal()));
    };
    client.OnPacketSent = [&client](TSockSession&) {
        out("bytes: " + std::to_string(client.BytesSent()) + " of " + std::to_string(client.BytesTotal()));
    };
}

// Remote names travel as Windows-1252 bytes; a character without a byte there would become "?"
// and name another file.
std::string remote(const std::string& utf8) {
    if (!cp1252::representable(utf8))
        throw Exception("Der Dateiname " + utf8 + " lässt sich nicht in Windows-1252 darstellen");
    return cp1252::fromUtf8(utf8);
}

void runCommand(TFtpClient& client, const Command& c) {
    auto arg = [&](std::size_t n) { return n < c.args.size() ? c.args[n] : std::string(); };
    if (c.name == "pwd")
        out("dir: " + cp1252::toUtf8(client.CurrentDir()));
    else if (c.name == "cd")
        client.ChangeDir(remote(arg(0)));
    else if (c.name == "list")
        client.List();
    else if (c.name == "nlist")
        client.Nlist();
    else if (c.name == "get")
        client.Download(remote(arg(0)), arg(1));
    else if (c.name == "put")
        client.Upload(arg(0), remote(arg(1)));
    else if (c.name == "dele")
        client.Delete(remote(arg(0)));
    else if (c.name == "rmd")
        client.RemoveDir(remote(arg(0)));
    else if (c.name == "quote")
        client.DoCommand(cp1252::fromUtf8(arg(0)));
    else if (c.name == "quit")
        client.Disconnect();
}

// Runs action; an exception it raises becomes an "exception:" line. False when one did.
template <typename Action> bool guarded(Action&& action) {
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        out("exception: " + className(e) + ": " + stripLineEnd(e.what()));
        return false;
    }
}

int run(int argc, char** argv) {
    Options opts;
    opts.args.assign(argv + 1, argv + argc);
    TFtpClient client;
    client.TimeOut = 5000;
    client.ReportLevel = 1;
    for (; opts.at < opts.args.size() && opts.args[opts.at].rfind("--", 0) == 0; ++opts.at) {
        const std::string o = opts.args[opts.at];
        if (o == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!connectionOption(o, opts, client) && !proxyOption(o, opts, client) &&
            !tlsOption(o, opts, client))
            badArguments("unknown option " + o);
    }
    if (!opts.haveHost)
        badArguments("--host is required");
    if (!opts.firewall.empty() && client.Proxy.empty())
        badArguments("--firewall needs --proxy");
    if (opts.fwUser != opts.fwPass)
        badArguments("--fw-user and --fw-pass go together");
    client.FWAuthenticate = opts.fwUser;
    const std::vector<Command> commands = parseCommands(opts.args, opts.at);

    installHandlers(client);
    if (!guarded([&] { client.Connect(); }))
        return 1;
    bool raised = false;
    for (const auto& c : commands)
        raised = !guarded([&] { runCommand(client, c); }) || raised;
    return raised ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    // What the commands' own guard does not catch (out of memory while setting up, say) ends the
    // tool with a message instead of an abort.
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmo-ftp: %s\n", e.what());
    } catch (...) {
        std::fputs("velmo-ftp: unknown error\n", stderr);
    }
    return 1;
}
