#pragma once

#include "ftp/SockSession.h"
#include "ftp/tls.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The FTP client: its TSockSession is the control connection; every transfer gets a data connection
// of its own (DataSocket). Remote names and commands are bytes as given (Windows-1252); local paths
// are UTF-8; exception messages and status texts are UTF-8.
namespace velmo {

// What an OnSuccess, OnFailure or OnUnSupportedFunction event reports.
enum TCmdType : std::uint8_t {
    CmdChangeDir = 0,
    CmdMakeDir = 1,
    CmdDelete = 2,
    CmdRemoveDir = 3,
    CmdList = 4,
    CmdRename = 5,
    CmdUploadRestore = 6,
    CmdDownloadRestore = 7,
    CmdDownload = 8,
    CmdUpload = 9,
    CmdUploadAppend = 10,
    CmdReInit = 11,
    CmdAllocate = 12,
    CmdNList = 13,
    CmdDoCommand = 14,
    CmdCurrentDir = 15,
};

// "CmdChangeDir", ... for logs and tools.
const char* cmdTypeName(TCmdType type);

// How to log in through an FTP proxy.
enum TFirewallType : std::uint8_t { FTUser, FtOpen, FtSite };

// A refusal by the server. what() is the reply line converted to UTF-8, CR LF included; Reply() is
// the line as the server sent it.
class FTPException : public Exception {
public:
    explicit FTPException(const std::string& reply);
    const std::string& Reply() const { return m_reply; }

private:
    std::string m_reply;
};

// The server systems a listing may come from.
enum : int {
    VendorUnix = 2400,
    VendorDos = 2401,
    VendorVm = 2402,
    VendorMacOs = 2404,
    VendorVms = 2406,
    VendorMvs = 2408,
    VendorOther = 2410,
    VendorUnknown = 2411, // detect it on the next parsed listing
    VendorOs400 = 2414,
    VendorNetware = 2416,
};

// Splits listing lines into words and collects the columns of the lines it accepts.
class TFTPDirectoryList {
public:
    static constexpr int MaxWords = 25;
    static constexpr std::size_t MaxWordLength = 255;

    virtual ~TFTPDirectoryList() = default;

    std::vector<std::string> Attributes;
    std::vector<std::string> Names;
    std::vector<std::string> Dates;
    std::vector<std::string> Sizes;
    std::array<std::string, MaxWords> Words;
    int WordCount = 0;

    // Splits the line at runs of blanks into Words (1-based word n is Words[n - 1]). The line must
    // not be empty.
    virtual void ParseLine(const std::string& line);
    void ClearLists();
};

// UNIX "ls -l" lines: the last word is the name, four before it the size, the three before the
// name the date; the first word the permissions. Lines of seven words or fewer are skipped.
class TFTPUnixList : public TFTPDirectoryList {
public:
    void ParseLine(const std::string& line) override;
};

using TFailureEvent = std::function<void(TSockSession& Sender, bool& Handled, TCmdType Trans_Type)>;
using TSuccessEvent = std::function<void(TSockSession& Sender, TCmdType Trans_Type)>;
using TListItemEvent = std::function<void(TSockSession& Sender, const std::string& Listing)>;
using TUnsupportedEvent = std::function<void(TSockSession& Sender, TCmdType Trans_Type)>;

class TFtpClient : public TSockSession {
public:
    TFtpClient();
    ~TFtpClient() override;

    // --- settable properties and events (besides those of TSockSession) -----------------------
    // Fires when the login has completed. Hides the socket-level OnConnect, which stays reachable
    // as TSockSession::OnConnect.
    TNotifyEvent OnConnect;
    std::string UserID;
    std::string Password;
    TNotifyEvent OnTransactionStart;
    TNotifyEvent OnTransactionStop;
    THandlerEvent OnAuthenticationNeeded; // UserID or Password empty at login; may fill them
    THandlerEvent OnAuthenticationFailed; // declared for completeness; nothing fires it
    TFailureEvent OnFailure;
    TSuccessEvent OnSuccess;
    TListItemEvent OnListItem; // one listing line, without its line end, bytes as sent
    TUnsupportedEvent OnUnSupportedFunction;
    int Vendor = VendorUnknown;
    bool ParseList = false;
    bool Passive = false;
    TFirewallType FirewallType = FTUser;
    std::string FWUserID;
    std::string FWPassword;
    bool FWAuthenticate = false;
    // Milliseconds without a byte on the control connection after which a wait for a reply gives
    // up: the session is closed and EReplyTimeOut raised. 0 = no limit. TimeOut never ends such a
    // wait; this does.
    int ReplyTimeOut = 60000;
    // Explicit TLS (AUTH TLS after the greeting, then PBSZ 0 and PROT P after the login, and TLS on
    // every data connection). Off: the plain command sequence, byte for byte.
    TlsMode Tls = TlsMode::Off;
    // The server certificate's SHA-256 fingerprint, pinned (any form normalizeFingerprint accepts);
    // empty = none. A match is trusted whatever the issuer and host name; any other certificate
    // is refused with ETlsPinMismatch before the login.
    std::string TlsFingerprint;
    // Asked when the certificate is neither trusted by the system for Host nor pinned. true: go
    // on (the caller keeps the fingerprint). Unset or false: refused, nothing more is sent.
    std::function<bool(const TlsCertificate&)> OnUntrustedCertificate;
    // PEM certificates trusted in place of the system's store; empty = the system's store.
    std::string TlsTrustFile;
    // The control connection is encrypted now.
    bool TlsActive() const { return Connected() && tlsChannel() != nullptr; }
    // Data connections are encrypted too (PROT P accepted).
    bool TlsDataProtected() const { return TlsActive() && m_protectData; }

    // --- state --------------------------------------------------------------------------------
    // The data connection; present only while List, Nlist, Upload or Download runs.
    TSockSession* DataSocket() const { return m_dataSocket.get(); }
    // Created by the first parsed listing, freed by Disconnect.
    TFTPDirectoryList* ListParser() const { return m_listParser.get(); }
    // Expected size of the current transfer; after a download the bytes actually received.
    std::int64_t BytesTotal() const { return m_bytesTotal; }
    // The counters of the running transfer's data connection (0 outside a transfer).
    std::int64_t BytesSent() const override;
    std::int64_t BytesRecvd() const override;

    // --- operations ---------------------------------------------------------------------------
    // Connects and logs in (directly or through Proxy); does nothing when already connected.
    void Connect() override;
    // QUIT, then close; nothing when not connected.
    void Disconnect() override;
    // Sends the line (without CR LF) and reads the whole reply. 4xx and 5xx raise FTPException
    // unless an OnFailure handler sets Handled.
    void DoCommand(const std::string& line);
    void ChangeDir(const std::string& directory);
    void Delete(const std::string& name);
    void RemoveDir(const std::string& directory);
    // The directory between the first pair of double quotes of the PWD reply (bytes).
    std::string CurrentDir();
    std::string Transaction(const std::string& command) override;
    // Cancels a running transfer's data connection; the control connection is not affected.
    void Abort() override;
    // Reads the rest of a multi-line reply that began with line.
    void ReadMultiLine(const std::string& line);

    // Listing of the current directory, one OnListItem per line.
    void List();
    // Names in the current directory, one OnListItem per name; always by PORT.
    void Nlist();
    // Stores the local file in the current directory under remoteName (or the local file's name).
    void Upload(const std::string& localPath, const std::string& remoteName);
    // Fetches remoteName into localPath (or a file of the remote name). A refused RETR leaves
    // any local file untouched; so does a transfer that fails half-way.
    void Download(const std::string& remoteName, const std::string& localPath);

    // The byte count a 150 reply announces ("... (1234 bytes)"), 0 when none.
    static std::int64_t ParseByteCount(const std::string& line);
    // Reads and reports whatever reply is still coming (about a second at most).
    void DrainReply();

protected:
    int replyIdleLimit() const override { return ReplyTimeOut; }

private:
    enum class FailureRange { Login, Command, Quit, Transfer, Pasv };
    static bool isFailure(int code, FailureRange range);

    // How one kind of transfer behaves where List, Nlist, Upload and Download differ.
    struct TransferRules {
        enum class OnCancel { Nothing, Abor, Drain };
        TCmdType type;
        OnCancel onCancel;      // what a cancelled transfer sends at its end
        bool offerFailure;      // any error of the whole operation goes to OnFailure first
        bool lock;              // the transfer lock is held (Nlist takes none)
        bool quietRefusal;      // a refused command raises at once, without OnFailure and its kin
        bool alwaysPort;        // Passive is ignored; PORT is reported before it is sent
        bool reportUnsupported; // 500 to 502 to the transfer command fire OnUnSupportedFunction
    };

    void checkCommandText(const std::string& text) const;
    // AUTH TLS, the handshake and the certificate's verdict; returns with the control connection
    // encrypted, or plain when IfPossible met a refusal.
    void negotiateTls(const std::string& pin);
    void checkServerCertificate(const std::string& pin);
    // PBSZ 0 and PROT P after the login.
    void protectDataConnections();
    // TLS over a data connection that the server has begun to serve.
    void secureDataConnection();
    // The login after the greeting (and after TLS): firewall, USER, PASS.
    void login();
    [[noreturn]] void loginFailed();
    void loginCommand(const std::string& command, const std::string& report);
    void discardStaleInput();
    // Reads the continuation lines of a reply that began with first, each reported and handed to
    // perLine; returns the last line read. A reply past its bound closes the session and raises.
    std::string readReplyRest(const std::string& first,
                              const std::function<void(const std::string&)>& perLine = {});
    // Raises FTPException with the last reply unless an OnFailure handler sets Handled; returns
    // only when the failure was handled.
    void offerFailure(TCmdType type);
    // The refusal of a transfer step: raised at once or offered, as the rules say. Returns false
    // when an OnFailure handler took care of it.
    bool refuse(const TransferRules& rules);
    // Opens the data connection (PASV or a listening socket announced by PORT). Returns false when
    // an OnFailure handler took care of a refusal.
    bool openDataConnection(const TransferRules& rules);
    void acceptDataConnection();
    bool controlFlagsClear() const { return !CancelRequested() && !TimedOut(); }
    void requireDataMoved();
    void requireReply();
    bool readCompletionReply(const TransferRules& rules);
    void beginTransfer(bool forwardRecvd, bool forwardSent);
    void endTransfer(const TransferRules& rules);
    // The frame all transfers share: the connection is checked and (by the rules) the transfer
    // lock held while body runs; the data connection is freed on every path (endTransfer);
    // OnSuccess(type) fires after the lock is released when body returns true.
    void runTransfer(const TransferRules& rules, const std::function<bool()>& body);
    // Sends the transfer command (LIST, NLST, STOR, RETR; with the socket-level Transaction when
    // firstLineOnly) and checks its reply. False when the server refused it and an OnFailure
    // handler took that.
    bool sendTransferCommand(const TransferRules& rules, const std::string& command,
                             bool firstLineOnly = false);
    // Accepts the data connection (PORT), fires OnTransactionStart; true when the data may move
    // (neither cancelled nor timed out).
    bool beginDataPhase(const TransferRules& rules);
    // Ends a receiving data phase (Nlist, Download): OnTransactionStop, the data connection closed,
    // BytesTotal set to what arrived and reported; raises when the data was not moved.
    void endReceiving(bool moved);
    // Detects the server system once (SYST) and makes or clears the listing parser.
    void prepareListParser();
    // Reads a listing until the data connection and the reply say it is over.
    void listLoop(bool nameList);
    struct ListWait {
        PumpClock::time_point lastActivity;
        bool dataOpen;
    };
    // Hands one listing line to the parser and OnListItem; false when the data had ended.
    bool deliverListLine(bool nameList);
    // Waits for listing data or the completion reply; raises when the side waited for was silent
    // too long.
    void awaitListing(ListWait& wait);
    bool listGoesOn(bool nameList);
    void fireSuccess(TCmdType type);
    void reportLevel1(const std::string& bytes);

    std::unique_ptr<TSockSession> m_dataSocket;
    std::unique_ptr<TFTPDirectoryList> m_listParser;
    std::int64_t m_bytesTotal = 0;
    bool m_listBusy = false;
    bool m_protectData = false;
    std::string m_serverFingerprint; // the control connection's certificate
    std::recursive_mutex m_transferLock;
};

} // namespace velmo
