#pragma once

#include "ftp/FtpClient.h"
#include "ftp/tls.h"
#include "platform/linefile.h"
#include "sync/core/transfer.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The program's one connection to the shop's server. It owns the FTP client, installs the client's
// event handlers once and turns them into status texts, progress and messages for whoever watches
// (the main window, the FTP browser). Every use of the server is one of its named operations, and
// one runs at a time: while one waits for the server, starting another is refused, and the windows
// disable what would start one.
namespace velmo::sync {

// The shop's FTP account as the connect form gives it (bytes; the host, user and password in the
// shop's Windows-1252).
struct Account {
    std::string host;
    int port = 21;
    std::string user, password;
    bool useProxy = false;
    std::string proxy;
    int proxyPort = 0;
    // Plain FTP unless set; the connect dialog starts a new account with TlsMode::Required.
    TlsMode tls = TlsMode::Off;
    // The SHA-256 fingerprint of the server certificate the user has trusted; empty when none.
    std::string fingerprint;
};

// Why the account cannot be used (a German message), before anything is sent; none when it can.
std::optional<std::string> accountProblem(const Account& account);

// The TLS modes as the connect dialog offers them (in this order) and the settings keep them.
inline constexpr std::array<TlsMode, 3> kTlsModes = {TlsMode::Required, TlsMode::IfPossible, TlsMode::Off};
// "erforderlich", "wenn möglich", "aus".
std::string_view tlsModeText(TlsMode mode);
// The mode a stored text names. Without one (or with one no mode has) a new account requires TLS,
// while an account kept from before the program spoke TLS uses it where the server offers it: its
// server has worked without, and may offer nothing else.
TlsMode tlsModeFromText(std::string_view text, bool accountKept);

// The question shown when the server's certificate is not trusted by the system: who it names, its
// validity and its fingerprint, for a person to compare with what the provider publishes.
std::string certificateQuestion(const TlsCertificate& certificate, std::string_view host);

// Asked about a certificate the system does not trust; true trusts it (see TFtpClient).
using CertificateQuestion = std::function<bool(const TlsCertificate&)>;

// The shop's directories as the transfers need them: local ones as UTF-8 paths, the server's as
// bytes.
struct ShopDirs {
    std::string localDat, localBg, localBk;
    std::string docRoot, ftpHome;
};

// One file of an upload: local path, server name, and the TYPE command it goes in.
struct UploadFile {
    std::string localPath, remoteName, typeCommand;
};

// How much of a listing the program takes: a directory past these bounds is refused with a message
// instead of growing the program without end. 200,000 entries are far beyond any shop directory,
// and their lines fit in the bytes bound with room to spare.
struct ListingBounds {
    std::size_t lines = 200000;
    std::size_t bytes = std::size_t{64} << 20;
};

// What the connection tells its watchers; every callback does nothing unless overridden. Texts are
// UTF-8.
class ConnectionObserver {
public:
    virtual ~ConnectionObserver() = default;
    virtual void status(const std::string& text) {}
    // done of total bytes of the running transfer; total 0 or less when unknown.
    virtual void progress(std::int64_t done, std::int64_t total) {}
    virtual void progressEnded() {}
    // A plain message box, and an information box.
    virtual void message(const std::string& text) {}
    virtual void information(const std::string& text) {}
    // An operation began or ended, or the login came or went: what may be started has changed.
    virtual void stateChanged() {}
    // The client's reports of what it sends and receives ("RETR a.db", "Empfangen 12 Byte").
    virtual void report(const std::string& text) {}
    // A new orders download ended and merged count orders (0: none were waiting).
    virtual void ordersArrived(std::size_t count) {}
};

class ShopConnection {
public:
    static constexpr const char* kBusy =
        "Es läuft gerade eine andere Übertragung mit dem Server. Bitte warten Sie, bis sie beendet ist";
    static constexpr const char* kTooLarge =
        "Das Verzeichnis ist zu groß, um es anzuzeigen: mehr als %s Einträge oder %s MB";
    static constexpr const char* kCancelled = "Das Auflisten des Verzeichnisses wurde abgebrochen";

    ShopConnection();
    ~ShopConnection();
    ShopConnection(const ShopConnection&) = delete;
    ShopConnection& operator=(const ShopConnection&) = delete;

    void addObserver(ConnectionObserver& observer);
    void removeObserver(ConnectionObserver& observer);

    // Logged in to the shop's server.
    bool loggedIn() const { return m_loggedIn; }
    // The control connection is open (it may be, after a failed login, without a login).
    bool connected() const { return m_ftp.Connected(); }
    // An operation is running.
    bool busy() const { return m_busy; }
    // The client, for a look at its settings.
    const TFtpClient& client() const { return m_ftp; }

    // --- operations: each throws Exception(kBusy) while another runs ------------------------------
    // Logs in with the account (USER, PASS; through the proxy when it is set; over TLS as the
    // account says) and returns the login directory. A certificate neither the system nor the
    // account's fingerprint vouches for goes to ask. The events of a failure have been reported
    // when it throws; a TLS failure throws ETlsError (ETlsPinMismatch for another certificate than
    // the account's).
    std::string connect(const Account& account, const CertificateQuestion& ask = {});
    void disconnect();
    std::string currentDir();
    void changeDir(const std::string& directory);
    // The lines of a LIST of the current directory. Past the bounds, or when cancelled, the
    // transfer is aborted and Exception (kTooLarge, kCancelled) raised.
    std::vector<std::string> list(const ListingBounds& bounds = {});
    // A plain command (TYPE A, SITE CHMOD, MKD).
    void command(const std::string& line);
    void makeDir(const std::string& name);
    // SITE CHMOD with the mode's three octal digits.
    void chmod(const std::string& mode, const std::string& name);
    void remove(const std::string& name, bool directory);
    // The browser's transfers: each file in its TYPE; a file that fails is reported by the events
    // and the next one goes on.
    void upload(const std::vector<UploadFile>& files);
    void download(const std::string& remoteName, const std::string& localPath,
                  const std::string& typeCommand);
    // The catalog transfers of the "Artikel" menu, with the pending picture lists.
    void articleDownload(const ShopDirs& dirs, Lines& pictures, Lines& thumbs);
    void articleUpload(const ShopDirs& dirs, Lines& pictures, Lines& thumbs);
    // The new orders download; returns how many orders it merged and tells the watchers.
    std::size_t fetchOrders(const ShopDirs& dirs);

    // Cancels the running listing or data transfer (from its progress); nothing when none runs.
    void cancel();

private:
    class Operation;
    class Listing;
    template <typename Callback> void tell(Callback&& callback);
    void installHandlers();
    TransferContext transferContext(const ShopDirs& dirs, Lines& pictures, Lines& thumbs);

    TFtpClient m_ftp;
    std::vector<ConnectionObserver*> m_observers;
    bool m_loggedIn = false;
    bool m_busy = false;
    bool m_cancelled = false;
    // The current listing's lines, when one runs, and how many bytes they hold.
    std::vector<std::string>* m_listing = nullptr;
    std::size_t m_listingBytes = 0;
    ListingBounds m_bounds;
    bool m_overBounds = false;
    // The transfers' scratch lists.
    struct Scratch {
        Lines memo1, memo2, memo3, listing;
    } m_scratch;
};

} // namespace velmo::sync
