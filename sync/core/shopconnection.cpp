#include "sync/core/shopconnection.h"

#include "platform/errors.h"
#include "sync/core/articles.h"
#include "sync/core/orderfetch.h"
#include "sync/core/transfer.h"

#include <algorithm>

namespace velmo::sync {

namespace {

// The status texts of the client's success, failure and unsupported events by command type. The
// types the client never reports, and the directory query, show nothing.
struct CommandTexts {
    const char* success;
    const char* failure;
    const char* unsupported;
};

CommandTexts commandTexts(TCmdType type) {
    switch (type) {
    case CmdChangeDir:
        return {"ChangeDir success", "ChangeDir failure", "ChangeDir unsupported"};
    case CmdMakeDir:
        return {"MakeDir success", "MakeDir failure", "MakeDir unsupported"};
    case CmdDelete:
        return {"Delete success", "Delete failure", "Delete unsupported"};
    case CmdRemoveDir:
        return {"RemoveDir success", "RemoveDir failure", "RemoveDir unsupported"};
    case CmdList:
        return {"List success", "List failure", "List unsupported"};
    case CmdUpload:
        return {"success", "failure", "Upload unsupported"};
    case CmdNList:
        return {"NList success", "NList failure", "NList unsupported"};
    case CmdDoCommand:
        return {"DoCommand success", "DoCommand failure", "DoCommand unsupported"};
    default:
        return {nullptr, nullptr, nullptr};
    }
}

bool validPort(int port) {
    return port >= 1 && port <= 65535;
}

} // namespace

std::optional<std::string> accountProblem(const Account& account) {
    if (!validPort(account.port))
        return formatMessage("Der Port %s ist ungültig; erlaubt sind 1 bis 65535",
                             std::to_string(account.port));
    if (account.useProxy && !validPort(account.proxyPort))
        return formatMessage("Der Proxy-Port %s ist ungültig; erlaubt sind 1 bis 65535",
                             std::to_string(account.proxyPort));
    return std::nullopt;
}

// One operation: refused while another runs; the watchers hear when it begins and ends.
class ShopConnection::Operation {
public:
    explicit Operation(ShopConnection& c) : m_c(c) {
        if (c.m_busy)
            throw Exception(kBusy);
        c.m_busy = true;
        c.m_cancelled = false;
        c.tell([](ConnectionObserver& o) { o.stateChanged(); });
    }
    ~Operation() {
        m_c.m_busy = false;
        try {
            m_c.tell([](ConnectionObserver& o) { o.stateChanged(); });
        } catch (...) {
            // A watcher's trouble must not replace the operation's own outcome.
        }
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

private:
    ShopConnection& m_c;
};

template <typename Callback> void ShopConnection::tell(Callback&& callback) {
    // A watcher may stop watching from inside its callback.
    const std::vector<ConnectionObserver*> observers = m_observers;
    for (ConnectionObserver* o : observers)
        callback(*o);
}

ShopConnection::ShopConnection() {
    m_ftp.Port = 21;
    m_ftp.Vendor = VendorUnknown;
    m_ftp.ParseList = false;
    m_ftp.Passive = false;
    m_ftp.FirewallType = FTUser;
    m_ftp.FWAuthenticate = false;
    m_ftp.ReportLevel = 1;
    installHandlers();
}

ShopConnection::~ShopConnection() = default;

void ShopConnection::addObserver(ConnectionObserver& observer) {
    m_observers.push_back(&observer);
}

void ShopConnection::removeObserver(ConnectionObserver& observer) {
    std::erase(m_observers, &observer);
}

void ShopConnection::installHandlers() {
    TFtpClient& ftp = m_ftp;
    auto status = [this](const char* text) { tell([text](ConnectionObserver& o) { o.status(text); }); };
    auto message = [this](const std::string& text) {
        tell([&text](ConnectionObserver& o) { o.message(text); });
    };
    auto loggedIn = [this](bool now) {
        m_loggedIn = now;
        tell([](ConnectionObserver& o) { o.stateChanged(); });
    };

    ftp.OnConnect = [status, loggedIn](TSockSession&) {
        status("Connected");
        loggedIn(true);
    };
    ftp.OnDisconnect = [status, loggedIn](TSockSession&) {
        status("Disconnected");
        loggedIn(false);
    };
    ftp.OnConnectionFailed = [message, loggedIn](TSockSession&) {
        message("Connection Failed");
        loggedIn(false);
    };
    ftp.OnHostResolved = [status](TSockSession&) { status("Host resolved"); };
    ftp.OnStatus = [this](TSockSession&, const std::string& text) {
        tell([&text](ConnectionObserver& o) { o.report(text); });
    };
    ftp.OnInvalidHost = [message](TSockSession&, bool&) { message("Invalid Host"); };
    ftp.OnError = [message](TSockSession&, std::uint16_t number, const std::string& text) {
        message("Error " + std::to_string(number) + ": " + text);
    };
    ftp.OnTransactionStart = [this, status](TSockSession&) {
        status("Beginning Data Transfer");
        tell([this](ConnectionObserver& o) { o.progress(0, m_ftp.BytesTotal()); });
    };
    ftp.OnTransactionStop = [this, status](TSockSession&) {
        status("Data Transfer Complete");
        tell([](ConnectionObserver& o) { o.progressEnded(); });
    };
    auto packet = [this](std::int64_t done) {
        const std::int64_t total = m_ftp.BytesTotal();
        const std::string text = std::to_string(done) + " of " + std::to_string(total);
        tell([&](ConnectionObserver& o) {
            o.status(text);
            o.progress(done, total);
        });
    };
    ftp.OnPacketRecvd = [this, packet](TSockSession&) { packet(m_ftp.BytesRecvd()); };
    ftp.OnPacketSent = [this, packet](TSockSession&) { packet(m_ftp.BytesSent()); };
    ftp.OnSuccess = [status](TSockSession&, TCmdType type) {
        if (const char* s = commandTexts(type).success)
            status(s);
    };
    ftp.OnFailure = [status](TSockSession&, bool&, TCmdType type) {
        // Handled stays false: the client goes on to raise its error.
        if (const char* s = commandTexts(type).failure)
            status(s);
    };
    ftp.OnUnSupportedFunction = [message](TSockSession&, TCmdType type) {
        if (const char* s = commandTexts(type).unsupported)
            message(s);
    };
    ftp.OnListItem = [this](TSockSession&, const std::string& line) {
        if (!m_listing || m_overBounds)
            return;
        if (m_listing->size() >= m_bounds.lines || m_listingBytes + line.size() > m_bounds.bytes) {
            m_overBounds = true;
            m_ftp.Abort();
            return;
        }
        m_listingBytes += line.size();
        m_listing->push_back(line);
    };
}

std::string_view tlsModeText(TlsMode mode) {
    switch (mode) {
    case TlsMode::Required:
        return "erforderlich";
    case TlsMode::IfPossible:
        return "wenn möglich";
    case TlsMode::Off:
        return "aus";
    }
    return "erforderlich";
}

TlsMode tlsModeFromText(std::string_view text, bool accountKept) {
    for (TlsMode mode : kTlsModes)
        if (text == tlsModeText(mode))
            return mode;
    return accountKept ? TlsMode::IfPossible : TlsMode::Required;
}

std::string certificateQuestion(const TlsCertificate& certificate, std::string_view host) {
    return formatMessage("Der Server %s weist sich mit einem Zertifikat aus, dem dieses System nicht "
                         "vertraut (%s).\n\n"
                         "Ausgestellt für: %s\nAusgestellt von: %s\nGültig von %s bis %s\n"
                         "SHA-256-Fingerabdruck:\n%s\n\n"
                         "Vergleichen Sie den Fingerabdruck mit dem, den Ihr Anbieter nennt. Wollen Sie "
                         "diesem Zertifikat vertrauen? Der Fingerabdruck wird mit dem Zugang gespeichert; "
                         "ein anderes Zertifikat wird danach abgewiesen.",
                         {host, certificate.problem, certificate.subject, certificate.issuer,
                          certificate.notBefore, certificate.notAfter, certificate.sha256});
}

std::string ShopConnection::connect(const Account& account, const CertificateQuestion& ask) {
    Operation op(*this);
    if (std::optional<std::string> problem = accountProblem(account))
        throw Exception(*problem);
    // A proxy, once given, stays for the run.
    if (account.useProxy) {
        m_ftp.Proxy = account.proxy;
        m_ftp.ProxyPort = account.proxyPort;
    }
    m_ftp.Host = account.host;
    m_ftp.Port = account.port;
    m_ftp.TimeOut = 5000;
    m_ftp.UserID = account.user;
    m_ftp.Password = account.password;
    m_ftp.Tls = account.tls;
    m_ftp.TlsFingerprint = account.fingerprint;
    m_ftp.OnUntrustedCertificate = ask;
    m_ftp.Vendor = VendorUnknown;
    m_loggedIn = true;
    // The question belongs to this login: nothing later may ask it in the name of this caller.
    struct ForgetQuestion {
        TFtpClient& ftp;
        ~ForgetQuestion() { ftp.OnUntrustedCertificate = nullptr; }
    } forget{m_ftp};
    try {
        m_ftp.Connect();
        return m_ftp.CurrentDir();
    } catch (...) {
        m_loggedIn = false;
        throw;
    }
}

void ShopConnection::disconnect() {
    Operation op(*this);
    m_ftp.Disconnect();
}

std::string ShopConnection::currentDir() {
    Operation op(*this);
    return m_ftp.CurrentDir();
}

void ShopConnection::changeDir(const std::string& directory) {
    Operation op(*this);
    m_ftp.ChangeDir(directory);
}

// The lines of the client's listing events go to one list while it lives, within bounds.
class ShopConnection::Listing {
public:
    Listing(ShopConnection& c, std::vector<std::string>& lines, const ListingBounds& bounds) : m_c(c) {
        c.m_listing = &lines;
        c.m_listingBytes = 0;
        c.m_bounds = bounds;
        c.m_overBounds = false;
    }
    ~Listing() { m_c.m_listing = nullptr; }
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

private:
    ShopConnection& m_c;
};

std::vector<std::string> ShopConnection::list(const ListingBounds& bounds) {
    Operation op(*this);
    std::vector<std::string> lines;
    const Listing listing(*this, lines, bounds);
    try {
        m_ftp.List();
    } catch (const std::exception&) {
        // The events have shown an ordinary failure; the lines that came before it still count.
        if (!m_overBounds && !m_cancelled)
            return lines;
    }
    if (m_overBounds)
        throw Exception(
            formatMessage(kTooLarge, {std::to_string(m_bounds.lines), std::to_string(m_bounds.bytes >> 20)}));
    if (m_cancelled)
        throw Exception(kCancelled);
    return lines;
}

void ShopConnection::command(const std::string& line) {
    Operation op(*this);
    m_ftp.DoCommand(line);
}

void ShopConnection::makeDir(const std::string& name) {
    command("MKD " + name);
}

void ShopConnection::chmod(const std::string& mode, const std::string& name) {
    command("SITE CHMOD " + mode + " " + name);
}

void ShopConnection::remove(const std::string& name, bool directory) {
    Operation op(*this);
    if (directory)
        m_ftp.RemoveDir(name);
    else
        m_ftp.Delete(name);
}

void ShopConnection::upload(const std::vector<UploadFile>& files) {
    Operation op(*this);
    for (const UploadFile& f : files) {
        m_ftp.DoCommand(f.typeCommand);
        try {
            m_ftp.Upload(f.localPath, f.remoteName);
        } catch (const std::exception&) {
            // Reported by the events; the next file goes on.
        }
    }
}

void ShopConnection::download(const std::string& remoteName, const std::string& localPath,
                              const std::string& typeCommand) {
    Operation op(*this);
    m_ftp.DoCommand(typeCommand);
    try {
        m_ftp.Download(remoteName, localPath);
    } catch (const std::exception&) {
        // Reported by the events.
    }
    m_ftp.DoCommand("TYPE A");
}

TransferContext ShopConnection::transferContext(const ShopDirs& dirs, Lines& pictures, Lines& thumbs) {
    m_scratch = {};
    return TransferContext{
        .ftp = m_ftp,
        .localDat = dirs.localDat,
        .localBg = dirs.localBg,
        .localBk = dirs.localBk,
        .docRoot = dirs.docRoot,
        .ftpHome = dirs.ftpHome,
        .Memo1 = m_scratch.memo1,
        .Memo2 = m_scratch.memo2,
        .Memo3 = m_scratch.memo3,
        .MemoPic = pictures,
        .MemoThumb = thumbs,
        .ListingLines = m_scratch.listing,
        .status = [this](const std::string& t) { tell([&t](ConnectionObserver& o) { o.status(t); }); },
        .message = [this](const std::string& t) { tell([&t](ConnectionObserver& o) { o.message(t); }); },
        .information =
            [this](const std::string& t) { tell([&t](ConnectionObserver& o) { o.information(t); }); },
    };
}

void ShopConnection::articleDownload(const ShopDirs& dirs, Lines& pictures, Lines& thumbs) {
    Operation op(*this);
    const TransferContext ctx = transferContext(dirs, pictures, thumbs);
    const Listing listing(*this, m_scratch.listing, {});
    sync::articleDownload(ctx);
}

void ShopConnection::articleUpload(const ShopDirs& dirs, Lines& pictures, Lines& thumbs) {
    Operation op(*this);
    sync::articleUpload(transferContext(dirs, pictures, thumbs));
}

std::size_t ShopConnection::fetchOrders(const ShopDirs& dirs) {
    Operation op(*this);
    Lines noPictures, noThumbs;
    const std::size_t count = OrderFetch(transferContext(dirs, noPictures, noThumbs)).run();
    tell([count](ConnectionObserver& o) { o.ordersArrived(count); });
    return count;
}

void ShopConnection::cancel() {
    if (!m_busy)
        return;
    m_cancelled = true;
    m_ftp.Abort();
}

} // namespace velmo::sync
