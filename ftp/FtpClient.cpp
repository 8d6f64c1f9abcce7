#include "ftp/FtpClient.h"

#include "ftp/replies.h"

#include "platform/atomic_file.h"
#include "platform/cp1252.h"
#include "platform/linefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

namespace velmo {

namespace {

const char* const kListBusy = "A list command is already being processed!";
const char* const kTransferBusy = "Eine Datenübertragung läuft bereits";
const char* const kBadCharacter = "Der FTP-Befehl enthält ein unzulässiges Zeichen (CR, LF oder NUL)";
const char* const kClosedByServer = "Die Verbindung wurde vom Server getrennt";
const char* const kTransferTimedOut =
    "Zeitüberschreitung bei der Antwort des Servers, keine Daten übertragen";
const char* const kReplyTooLong =
    "Die Antwort des Servers ist zu lang (mehr als 10000 Zeilen oder 1 MiB), die Verbindung wurde getrennt";
const char* const kBadPasvReply = "Ungültige Antwort des Servers auf PASV: %s";
const char* const kShortTransfer = "Übertragung unvollständig: %s von %s Byte empfangen";
const char* const kAuthRefused =
    "Der Server bietet keine verschlüsselte Verbindung an (AUTH TLS abgelehnt): %s";
const char* const kProtRefused = "Der Server verschlüsselt die Datenverbindungen nicht: %s";
const char* const kBadFingerprint = "Ungültiger SHA-256-Fingerabdruck: %s";
const char* const kPinMismatch =
    "Der Server zeigt ein anderes Zertifikat als das hinterlegte. Das kann ein Angriff sein; die "
    "Verbindung wurde vor der Anmeldung getrennt.\nErwartet: %s\nErhalten: %s";
const char* const kUntrusted = "Dem Zertifikat des Servers wird nicht vertraut: %s";
const char* const kDataCertificate =
    "Die Datenverbindung zeigt ein anderes Zertifikat als die Steuerverbindung";
const char* const kNoCodePageName = "Der Dateiname %s lässt sich nicht in Windows-1252 darstellen";

// A listing line may be long (a name with a long path), but not unbounded.
constexpr std::size_t kMaxListingLine = std::size_t{1024} * 1024;

// The one success code RFC 959 gives the commands whose reply we rely on; 0 where any reply
// below 400 will do. A server that floods replies (several to one NOOP) must not have a stray
// "200 ok" taken as a directory or a completed change.
int expectedCode(const std::string& line) {
    static const std::pair<std::string_view, int> codes[] = {
        {"CWD ", 250}, {"DELE ", 250}, {"RMD ", 250}, {"MKD ", 257}, {"TYPE ", 200},
    };
    if (line == "PWD")
        return 257;
    for (const auto& [verb, code] : codes)
        if (line.starts_with(verb))
            return code;
    return 0;
}

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0'))
        text.pop_back();
    return text;
}

// The port of a 227 reply (see parsePasvReply); the address in it is not used.
int pasvPort(const std::string& reply) {
    PasvError error = PasvError::None;
    std::string field;
    const std::optional<PasvAddress> address = parsePasvReply(reply, error, field);
    if (error == PasvError::NotANumber)
        throw EConvertError(formatMessage("'%s' ist kein gültiger Integerwert", cp1252::toUtf8(field)));
    if (!address)
        throw ESockError(formatMessage(kBadPasvReply, cp1252::toUtf8(withoutLineEnd(reply))));
    return address->port();
}

} // namespace

const char* cmdTypeName(TCmdType type) {
    static const char* const names[] = {
        "CmdChangeDir", "CmdMakeDir", "CmdDelete",        "CmdRemoveDir",
        "CmdList",      "CmdRename",  "CmdUploadRestore", "CmdDownloadRestore",
        "CmdDownload",  "CmdUpload",  "CmdUploadAppend",  "CmdReInit",
        "CmdAllocate",  "CmdNList",   "CmdDoCommand",     "CmdCurrentDir",
    };
    return type < 16 ? names[type] : "?";
}

FTPException::FTPException(const std::string& reply) : Exception(cp1252::toUtf8(reply)), m_reply(reply) {}

// ---- listing parsers -----------------------------------------------------------------------------

void TFTPDirectoryList::ParseLine(const std::string& line) {
    for (auto& w : Words)
        w.clear();
    int word = 1;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            while (i < line.size() && line[i] == ' ')
                ++i;
            ++word;
            continue;
        }
        if (word <= MaxWords && Words[word - 1].size() < MaxWordLength)
            Words[word - 1] += line[i];
        ++i;
    }
    WordCount = word > MaxWords ? MaxWords : word;
}

void TFTPDirectoryList::ClearLists() {
    Attributes.clear();
    Names.clear();
    Dates.clear();
    Sizes.clear();
}

void TFTPUnixList::ParseLine(const std::string& line) {
    TFTPDirectoryList::ParseLine(line);
    const int n = WordCount;
    if (n <= 7)
        return;
    Names.push_back(Words[n - 1]);
    Sizes.push_back(Words[n - 5]);
    Dates.push_back(Words[n - 4] + " " + Words[n - 3] + " " + Words[n - 2]);
    Attributes.push_back(Words[0]);
}

// ---- TFtpClient: control session -----------------------------------------------------------------

TFtpClient::TFtpClient() {
    Port = 21;
    OnDataArrival = [](TSockSession&) {};
}

TFtpClient::~TFtpClient() {
    m_dataSocket.reset();
    m_listParser.reset();
}

std::int64_t TFtpClient::BytesSent() const {
    return m_dataSocket ? m_dataSocket->BytesSent() : 0;
}

std::int64_t TFtpClient::BytesRecvd() const {
    return m_dataSocket ? m_dataSocket->BytesRecvd() : 0;
}

bool TFtpClient::isFailure(int code, FailureRange range) {
    switch (range) {
    case FailureRange::Login:
        return code >= 401 && code <= 599;
    case FailureRange::Command:
        return code >= 400 && code <= 599;
    case FailureRange::Quit:
    case FailureRange::Transfer:
        return code >= 301 && code <= 599;
    case FailureRange::Pasv:
        return code >= 500;
    }
    return false;
}

void TFtpClient::reportLevel1(const std::string& bytes) {
    ReportStatus(1, cp1252::toUtf8(bytes));
}

void TFtpClient::checkCommandText(const std::string& text) const {
    // Line breaks would smuggle further commands onto the control connection, and a NUL would cut
    // the command short.
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        throw Exception(kBadCharacter);
}

void TFtpClient::discardStaleInput() {
    if (DataAvailable())
        Read(0);
}

void TFtpClient::fireSuccess(TCmdType type) {
    if (OnSuccess)
        OnSuccess(*this, type);
}

std::string TFtpClient::Transaction(const std::string& command) {
    std::string first = TSockSession::Transaction(command);
    ReadMultiLine(first);
    return first;
}

void TFtpClient::ReadMultiLine(const std::string& line) {
    readReplyRest(line);
}

std::string TFtpClient::readReplyRest(const std::string& first,
                                      const std::function<void(const std::string&)>& perLine) {
    std::string current = first;
    ReplyLines reply;
    ReplyLines::Next next = reply.take(first);
    while (next == ReplyLines::Next::More) {
        current = ReadLn();
        if (current.empty())
            break; // the server hung up
        next = reply.take(current);
        if (next == ReplyLines::Next::TooLong) {
            // The rest of the reply cannot be told from what follows it: the session is unusable.
            if (Connected())
                Close();
            throw ESockError(kReplyTooLong);
        }
        reportLevel1(current);
        if (perLine)
            perLine(current);
    }
    return current;
}

void TFtpClient::Abort() {
    ReportStatus(8, "Abbrechen");
    if (m_dataSocket)
        m_dataSocket->Cancel();
}

[[noreturn]] void TFtpClient::loginFailed() {
    if (OnConnectionFailed)
        OnConnectionFailed(*this);
    if (LastReply().empty())
        throw ESockError(kClosedByServer);
    throw FTPException(LastReply());
}

void TFtpClient::loginCommand(const std::string& command, const std::string& report) {
    if (!report.empty())
        reportLevel1(report);
    Transaction(command);
    // A server that hangs up instead of answering has not let us in.
    if (LastReply().empty() || isFailure(ReplyNumber(), FailureRange::Login))
        loginFailed();
}

void TFtpClient::Connect() {
    clearCancel();
    if (Connected())
        return;
    for (const std::string* text : {&UserID, &Password, &FWUserID, &FWPassword, &Host})
        checkCommandText(*text);
    std::string pin;
    if (Tls != TlsMode::Off && !TlsFingerprint.empty()) {
        pin = normalizeFingerprint(TlsFingerprint);
        if (pin.empty())
            throw ETlsError(formatMessage(kBadFingerprint, TlsFingerprint));
    }
    m_protectData = false;
    m_serverFingerprint.clear();
    ClearInput();
    TSockSession::Connect();
    try {
        std::string line = ReadLn();
        if (!line.empty())
            reportLevel1(line);
        setLastReply(line);
        ReadMultiLine(line);
        if (LastReply().empty() || isFailure(ReplyNumber(), FailureRange::Login))
            loginFailed();
        if (Tls != TlsMode::Off)
            negotiateTls(pin);
        login();
        if (TlsActive())
            protectDataConnections();
        if (OnConnect)
            OnConnect(*this);
    } catch (const ETlsError&) {
        // Nothing more goes to a server whose encryption failed or was refused, not even QUIT.
        if (Connected())
            TSockSession::Disconnect();
        ReportStatus(1, "Verbindung abgebrochen");
        throw;
    } catch (...) {
        // Only a refused QUIT may take the place of the login's error; a socket failure while
        // hanging up says nothing new.
        try {
            Disconnect();
        } catch (const FTPException&) {
            throw;
        } catch (...) {
        }
        ReportStatus(1, "Verbindung abgebrochen");
        throw;
    }
}

void TFtpClient::login() {
    if (FWAuthenticate) {
        loginCommand("USER " + FWUserID, {});
        if (ReplyNumber() == 331)
            loginCommand("PASS " + FWPassword, "PASS ");
    }
    if ((UserID.empty() || Password.empty()) && OnAuthenticationNeeded) {
        bool handled = false;
        OnAuthenticationNeeded(*this, handled);
        checkCommandText(UserID);
        checkCommandText(Password);
    }
    if (!Proxy.empty()) {
        // The proxy's own command is not judged by its reply; what follows is.
        switch (FirewallType) {
        case FTUser:
            Transaction("USER " + UserID + "@" + Host);
            break;
        case FtOpen:
            Transaction("OPEN " + Host);
            break;
        case FtSite:
            Transaction("SITE " + Host);
            break;
        }
        if (LastReply().empty())
            loginFailed();
    }
    if (Proxy.empty() || FirewallType != FTUser)
        loginCommand("USER " + UserID, "USER " + UserID);
    if (ReplyNumber() == 331)
        loginCommand("PASS " + Password, "PASS ");
}

void TFtpClient::negotiateTls(const std::string& pin) {
    reportLevel1("AUTH TLS");
    Transaction("AUTH TLS");
    requireReply();
    if (!tlsReplyAccepted("AUTH TLS", LastReply())) {
        // Any other answer leaves the connection as it was: plain.
        if (Tls == TlsMode::Required)
            throw ETlsError(formatMessage(kAuthRefused, cp1252::toUtf8(withoutLineEnd(LastReply()))));
        ReportStatus(1, "Der Server bietet keine Verschlüsselung an; die Verbindung bleibt unverschlüsselt");
        return;
    }
    // The handshake is bounded like a reply: the server may stop in the middle of it.
    StartTls(Host, TlsTrustFile, nullptr, ReplyTimeOut > 0 ? ReplyTimeOut : TimeOut);
    checkServerCertificate(pin);
    ReportStatus(1, "Verbindung verschlüsselt (TLS)");
}

void TFtpClient::checkServerCertificate(const std::string& pin) {
    const TlsCertificate certificate = tlsChannel()->peerCertificate();
    m_serverFingerprint = certificate.sha256;
    if (!pin.empty()) {
        if (certificate.sha256 != pin)
            throw ETlsPinMismatch(formatMessage(kPinMismatch, {pin, certificate.sha256}));
        return;
    }
    if (certificate.problem.empty())
        return;
    if (OnUntrustedCertificate && OnUntrustedCertificate(certificate))
        return;
    throw ETlsError(formatMessage(kUntrusted, certificate.problem));
}

void TFtpClient::protectDataConnections() {
    for (const char* command : {"PBSZ 0", "PROT P"}) {
        reportLevel1(command);
        Transaction(command);
        requireReply();
        if (!tlsReplyAccepted(command, LastReply())) {
            if (Tls == TlsMode::Required)
                throw ETlsError(formatMessage(kProtRefused, cp1252::toUtf8(withoutLineEnd(LastReply()))));
            ReportStatus(1, "Die Datenverbindungen bleiben unverschlüsselt");
            return;
        }
    }
    m_protectData = true;
}

void TFtpClient::secureDataConnection() {
    TSockSession& ds = *m_dataSocket;
    ds.StartTls(Host, TlsTrustFile, tlsChannel());
    // The data must come from the server we checked: the same certificate as the control
    // connection (a resumed session shows it too).
    if (ds.tlsChannel()->peerCertificate().sha256 != m_serverFingerprint) {
        ds.Close();
        throw ETlsError(kDataCertificate);
    }
    // Closing hands over what is queued and the close_notify, instead of resetting.
    ds.SetLinger(false);
}

void TFtpClient::Disconnect() {
    clearCancel();
    if (!Connected())
        return;
    ReportStatus(1, "QUIT");
    m_listParser.reset();
    Vendor = VendorUnknown;
    try {
        discardStaleInput();
        Transaction("QUIT");
    } catch (...) {
        // A reply limit may have closed the session already; it is closed once.
        if (Connected())
            TSockSession::Disconnect();
        throw;
    }
    TSockSession::Disconnect();
    if (isFailure(ReplyNumber(), FailureRange::Quit))
        throw FTPException(LastReply());
}

void TFtpClient::DoCommand(const std::string& line) {
    const std::string verb = line.substr(0, line.find(' ')) + " ";
    TCmdType type = CmdDoCommand;
    if (verb == "CWD ")
        type = CmdChangeDir;
    else if (verb == "DELE ")
        type = CmdDelete;
    else if (verb == "MKD ")
        type = CmdMakeDir;
    else if (verb == "RMD ")
        type = CmdRemoveDir;
    else if (line == "PWD")
        type = CmdCurrentDir;

    checkCommandText(line);
    clearCancel();
    CheckConnection();
    reportLevel1(line);
    discardStaleInput();
    Transaction(line);
    if (LastReply().empty()) {
        // No reply at all: the server hung up. That is no success.
        if (Connected())
            Close();
        throw ESockError(kClosedByServer);
    }
    const int code = ReplyNumber();
    if (isFailure(code, FailureRange::Command)) {
        if (code >= 500 && code <= 502 && OnUnSupportedFunction)
            OnUnSupportedFunction(*this, type);
        offerFailure(type);
        return;
    }
    if (const int expected = expectedCode(line); expected != 0 && code != expected) {
        offerFailure(type);
        return;
    }
    fireSuccess(type);
}

void TFtpClient::ChangeDir(const std::string& directory) {
    DoCommand("CWD " + directory);
}

void TFtpClient::Delete(const std::string& name) {
    DoCommand("DELE " + name);
}

void TFtpClient::RemoveDir(const std::string& directory) {
    DoCommand("RMD " + directory);
}

std::string TFtpClient::CurrentDir() {
    DoCommand("PWD");
    // Without a closing quote the directory runs to the end of the line, not into its line end.
    return withoutLineEnd(NthField(LastReply(), '"', 2));
}

// ---- TFtpClient: data transfers ------------------------------------------------------------------

std::int64_t TFtpClient::ParseByteCount(const std::string& line) {
    std::string upper = line;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    const std::size_t at = upper.find("BYTE");
    if (at == std::string::npos)
        return 0;
    auto isDigit = [&](std::ptrdiff_t i) {
        return line[static_cast<std::size_t>(i)] >= '0' && line[static_cast<std::size_t>(i)] <= '9';
    };
    std::ptrdiff_t last = static_cast<std::ptrdiff_t>(at) - 1;
    while (last >= 0 && !isDigit(last))
        --last;
    if (last < 0)
        return 0;
    std::ptrdiff_t first = last;
    while (first > 0 && isDigit(first - 1))
        --first;
    std::int64_t value = 0;
    for (std::ptrdiff_t i = first; i <= last; ++i) {
        if (value > (INT64_MAX - 9) / 10)
            return 0;
        value = value * 10 + (line[static_cast<std::size_t>(i)] - '0');
    }
    return value;
}

void TFtpClient::DrainReply() {
    clearCancel();
    const auto deadline = PumpClock::now() + std::chrono::milliseconds(950);
    std::string got;
    for (;;) {
        got = Read(0);
        if (!got.empty() || PumpClock::now() > deadline)
            break;
        pollfd fd{Handle(), POLLIN, 0};
        processPendingEvents(std::span<const pollfd>(&fd, 1), deadline);
    }
    reportLevel1(got);
}

void TFtpClient::offerFailure(TCmdType type) {
    bool handled = false;
    if (OnFailure)
        OnFailure(*this, handled, type);
    if (!handled)
        throw FTPException(LastReply());
}

bool TFtpClient::refuse(const TransferRules& rules) {
    if (rules.quietRefusal)
        throw FTPException(LastReply());
    offerFailure(rules.type);
    return false;
}

void TFtpClient::requireReply() {
    if (!LastReply().empty())
        return;
    if (Connected())
        Close();
    throw ESockError(kClosedByServer);
}

bool TFtpClient::openDataConnection(const TransferRules& rules) {
    if (Passive && !rules.alwaysPort) {
        Transaction("PASV");
        requireReply();
        // Only 227 opens a passive connection; any other reply is the server saying no.
        if (ReplyNumber() != 227)
            return refuse(rules);
        m_dataSocket->Port = pasvPort(LastReply());
        // The data goes where the control connection goes (the proxy, or the server itself): the
        // address in the reply is not used, and Host may be a name only the proxy can reach.
        const std::string peer = PeerAddress();
        m_dataSocket->Host = peer.empty() ? Host : peer;
        m_dataSocket->Connect();
        return true;
    }
    m_dataSocket->Port = 0;
    m_dataSocket->Listen(true);
    m_dataSocket->AcceptPeer = PeerAddress();
    const std::string port = "PORT " + LocalAddressCommas() + m_dataSocket->LocalPortCommas();
    if (rules.alwaysPort)
        reportLevel1(port);
    Transaction(port);
    requireReply();
    // Only 200 means the server will connect there.
    if (ReplyNumber() != 200)
        return refuse(rules);
    return true;
}

void TFtpClient::acceptDataConnection() {
    const int handle = m_dataSocket->Accept();
    m_dataSocket->InstallAccepted(handle);
}

void TFtpClient::requireDataMoved() {
    // The data was not moved because the control connection was cancelled or its reply came too
    // late. Saying "success" here would have the caller go on as if the file had arrived.
    // The cancel flag stays set, so the end of the operation sends ABOR where it does that.
    if (TimedOut())
        throw ESockError(kTransferTimedOut);
    throw EAbortError("Socket-send abgebrochen");
}

bool TFtpClient::readCompletionReply(const TransferRules& rules) {
    if (!controlFlagsClear()) {
        reportLevel1(LastReply());
        return true;
    }
    std::string line = ReadLn();
    setLastReply(line);
    reportLevel1(line);
    if (controlFlagsClear())
        ReadMultiLine(line);
    requireReply();
    // A transfer the server reports as broken (426, 451, 552, ...) is no success.
    if (isFailure(ReplyNumber(), FailureRange::Transfer))
        return refuse(rules);
    return true;
}

void TFtpClient::listLoop(bool nameList) {
    TSockSession& ds = *m_dataSocket;
    // Silence is bounded on both sides: TimeOut while the data connection is open, ReplyTimeOut
    // while only the completion reply is awaited.
    ListWait wait{PumpClock::now(), true};
    for (;;) {
        if (!Connected()) {
            // The server hung up the control connection: no reply will ever come.
            throw ESockError(kClosedByServer);
        }
        if (ds.DataAvailable()) {
            if (!deliverListLine(nameList))
                break;
            wait.lastActivity = PumpClock::now();
        } else {
            awaitListing(wait);
        }
        if (!listGoesOn(nameList))
            break;
    }
}

bool TFtpClient::deliverListLine(bool nameList) {
    std::string line = m_dataSocket->ReadLnKeepingRest();
    if (line.empty())
        return false;
    // A last line without a line end is kept whole.
    if (line.size() > 2 && line.back() == '\n')
        line.resize(line.size() - (line[line.size() - 2] == '\r' ? 2 : 1));
    if (!nameList && ParseList && m_listParser)
        m_listParser->ParseLine(line);
    if (OnListItem)
        OnListItem(*this, line);
    return true;
}

void TFtpClient::awaitListing(ListWait& wait) {
    TSockSession& ds = *m_dataSocket;
    if (wait.dataOpen && !ds.Connected()) {
        wait.dataOpen = false;
        wait.lastActivity = PumpClock::now();
    }
    const int limit = wait.dataOpen ? TimeOut : ReplyTimeOut;
    std::optional<PumpClock::time_point> deadline;
    if (limit > 0)
        deadline = wait.lastActivity + std::chrono::milliseconds(limit);
    // Wait for the next listing data and for the completion reply, whichever comes.
    pollfd fds[2];
    std::size_t count = 0;
    if (wait.dataOpen)
        fds[count++] = pollfd{ds.Handle(), POLLIN, 0};
    if (!DataAvailable())
        fds[count++] = pollfd{Handle(), POLLIN, 0};
    processPendingEvents(std::span<const pollfd>(fds, count), deadline);
    // Each side is judged by its own silence: a reply that came early does not excuse a data
    // connection that stays open without sending.
    if (!deadline || PumpClock::now() < *deadline)
        return;
    if (wait.dataOpen && !ds.DataAvailable())
        throw EAbortError("Socket-readln abgebrochen");
    if (!wait.dataOpen && !DataAvailable())
        raiseReplyTimeOut(ReplyTimeOut);
}

bool TFtpClient::listGoesOn(bool nameList) {
    TSockSession& ds = *m_dataSocket;
    // Listing data still to be read always goes on; the control connection is looked at only
    // when it is used up, not once a line.
    if (ds.DataAvailable())
        return true;
    const bool dataConnected = ds.Connected();
    const bool replyWaiting = DataAvailable();
    return nameList ? dataConnected && !replyWaiting : dataConnected || !replyWaiting;
}

void TFtpClient::beginTransfer(bool forwardRecvd, bool forwardSent) {
    // A second transfer started from a handler of a running one would take its data connection
    // away under its feet.
    if (m_dataSocket)
        throw Exception(kTransferBusy);
    m_dataSocket = std::make_unique<TSockSession>();
    m_dataSocket->TimeOut = TimeOut;
    m_dataSocket->MaxLineLength = kMaxListingLine;
    m_dataSocket->ReadAhead = true;
    if (forwardRecvd)
        m_dataSocket->OnPacketRecvd = OnPacketRecvd;
    if (forwardSent)
        m_dataSocket->OnPacketSent = OnPacketSent;
}

void TFtpClient::endTransfer(const TransferRules& rules) {
    m_dataSocket.reset();
    if (!CancelRequested())
        return;
    switch (rules.onCancel) {
    case TransferRules::OnCancel::Nothing:
        break;
    case TransferRules::OnCancel::Abor:
        clearCancel();
        if (Connected())
            Transaction("ABOR");
        break;
    case TransferRules::OnCancel::Drain:
        DrainReply();
        break;
    }
}

void TFtpClient::runTransfer(const TransferRules& rules, const std::function<bool()>& body) {
    auto frame = [&] {
        clearCancel();
        CheckConnection();
        std::unique_lock lock(m_transferLock, std::defer_lock);
        if (rules.lock)
            lock.lock();
        bool successful = false;
        try {
            successful = body();
        } catch (...) {
            endTransfer(rules);
            throw;
        }
        endTransfer(rules);
        if (lock.owns_lock())
            lock.unlock();
        if (successful)
            fireSuccess(rules.type);
    };
    if (!rules.offerFailure) {
        frame();
        return;
    }
    try {
        frame();
    } catch (...) {
        if (OnFailure) {
            bool handled = false;
            OnFailure(*this, handled, rules.type);
            if (handled)
                return;
        }
        throw;
    }
}

bool TFtpClient::sendTransferCommand(const TransferRules& rules, const std::string& command,
                                     bool firstLineOnly) {
    if (firstLineOnly)
        TSockSession::Transaction(command);
    else
        Transaction(command);
    requireReply();
    const int code = ReplyNumber();
    if (!isFailure(code, FailureRange::Transfer))
        return true;
    if (rules.quietRefusal)
        throw FTPException(LastReply());
    if (rules.reportUnsupported && code >= 500 && code <= 502 && OnUnSupportedFunction)
        OnUnSupportedFunction(*this, rules.type);
    return refuse(rules);
}

bool TFtpClient::beginDataPhase(const TransferRules& rules) {
    if (!Passive || rules.alwaysPort)
        acceptDataConnection();
    if (m_protectData && controlFlagsClear())
        secureDataConnection();
    if (OnTransactionStart)
        OnTransactionStart(*this);
    return controlFlagsClear();
}

void TFtpClient::endReceiving(bool moved) {
    if (OnTransactionStop)
        OnTransactionStop(*this);
    m_dataSocket->Close();
    m_bytesTotal = m_dataSocket->BytesRecvd();
    ReportStatus(1, "Empfangen " + std::to_string(m_bytesTotal) + " Byte");
    if (!moved)
        requireDataMoved();
}

void TFtpClient::prepareListParser() {
    if (!m_listParser) {
        if (Vendor == VendorUnknown) {
            try {
                DoCommand("SYST");
            } catch (...) {
                // Without SYST the listing is still worth having.
            }
            static const std::pair<const char*, int> systems[] = {
                {"UNIX", VendorUnix},   {"NETWARE", VendorNetware}, {"DOS", VendorDos},
                {"VMS", VendorVms},     {"MVS", VendorMvs},         {"VM", VendorVm},
                {"MACOS", VendorMacOs}, {"OS/400", VendorOs400},
            };
            Vendor = VendorOther;
            for (const auto& [text, vendor] : systems) {
                if (LastReply().find(text) != std::string::npos) {
                    Vendor = vendor;
                    break;
                }
            }
        }
        switch (Vendor) {
        case VendorUnix:
        case VendorDos:
        case VendorVm:
        case VendorMacOs:
        case VendorVms:
        case VendorMvs:
        case VendorOther:
        case VendorOs400:
        case VendorNetware:
            m_listParser = std::make_unique<TFTPUnixList>();
            break;
        default:
            break;
        }
    }
    if (m_listParser)
        m_listParser->ClearLists();
}

void TFtpClient::List() {
    if (m_listBusy)
        throw Exception(kListBusy);
    if (m_dataSocket)
        throw Exception(kTransferBusy);
    m_listBusy = true;
    struct ClearBusy {
        bool& flag;
        ~ClearBusy() { flag = false; }
    } clearBusy{m_listBusy};

    const TransferRules rules{.type = CmdList,
                              .onCancel = TransferRules::OnCancel::Abor,
                              .offerFailure = false,
                              .lock = true,
                              .quietRefusal = false,
                              .alwaysPort = false,
                              .reportUnsupported = true};
    runTransfer(rules, [&] {
        discardStaleInput();
        beginTransfer(true, false);
        if (ParseList)
            prepareListParser();
        if (!openDataConnection(rules))
            return false;
        reportLevel1("LIST");
        if (!sendTransferCommand(rules, "LIST"))
            return false;
        const bool move = beginDataPhase(rules);
        if (move)
            listLoop(false);
        if (OnTransactionStop)
            OnTransactionStop(*this);
        m_dataSocket->Close();
        if (!move)
            requireDataMoved();
        return readCompletionReply(rules);
    });
}

void TFtpClient::Nlist() {
    // Always PORT: the name list is not worth a second code path.
    const TransferRules rules{.type = CmdNList,
                              .onCancel = TransferRules::OnCancel::Drain,
                              .offerFailure = false,
                              .lock = false,
                              .quietRefusal = true,
                              .alwaysPort = true,
                              .reportUnsupported = false};
    runTransfer(rules, [&] {
        beginTransfer(false, false);
        discardStaleInput();
        openDataConnection(rules);
        reportLevel1("NLST");
        sendTransferCommand(rules, "NLST");
        m_bytesTotal = ParseByteCount(LastReply());
        const bool move = beginDataPhase(rules);
        if (move)
            listLoop(true);
        endReceiving(move);
        return readCompletionReply(rules);
    });
}

namespace {

// The name a local file is stored under when no remote name is given: its file name part, which
// must have a Windows-1252 form. A character without one would be sent as "?" and might name (and
// overwrite) another file.
std::string remoteNameOf(const std::string& localPath) {
    const std::string_view name = baseName(localPath);
    if (!cp1252::representable(name))
        throw Exception(formatMessage(kNoCodePageName, name));
    return cp1252::fromUtf8(name);
}

// Without a local path the file lands in the working directory under the remote file's own name.
// That name comes from the server side, so only its last part counts: "../x" or "/etc/x" must not
// reach outside the working directory.
std::string localNameOf(const std::string& remoteName) {
    const std::string utf8 = cp1252::toUtf8(remoteName);
    const std::size_t slash = utf8.find_last_of("/\\");
    std::string name = slash == std::string::npos ? utf8 : utf8.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        throw Exception("Ungültiger lokaler Dateiname: " + utf8);
    return name;
}

// The size a 150 reply announces, when it gives one: a number before "bytes" other than the reply
// code itself ("150 Here come the bytes" announces nothing).
std::optional<std::int64_t> announcedSize(const std::string& line) {
    if (line.size() <= 4)
        return std::nullopt;
    const std::int64_t count = TFtpClient::ParseByteCount(line.substr(4));
    return count > 0 ? std::optional(count) : std::nullopt;
}

} // namespace

void TFtpClient::Upload(const std::string& localPath, const std::string& remoteName) {
    const TransferRules rules{.type = CmdUpload,
                              .onCancel = TransferRules::OnCancel::Nothing,
                              .offerFailure = true,
                              .lock = true,
                              .quietRefusal = false,
                              .alwaysPort = false,
                              .reportUnsupported = true};
    runTransfer(rules, [&] {
        // Remote names travel in the shop's code page; the local name is UTF-8.
        const std::string sendName = remoteName.empty() ? remoteNameOf(localPath) : remoteName;
        checkCommandText(sendName);
        // The local file is opened and checked before anything is sent: a STOR whose data then
        // fails to come would leave the server's file cut to nothing.
        const ReadableFile file(localPath);
        discardStaleInput();
        beginTransfer(false, true);
        m_bytesTotal = file.size();
        if (!openDataConnection(rules))
            return false;
        ReportStatus(1, "STOR " + (remoteName.empty() ? localPath : cp1252::toUtf8(remoteName)));
        if (!sendTransferCommand(rules, "STOR " + sendName))
            return false;
        const bool move = beginDataPhase(rules);
        if (move)
            m_dataSocket->SendOpenFile(file);
        if (OnTransactionStop)
            OnTransactionStop(*this);
        // Closing must hand over what is still queued, not reset the connection.
        m_dataSocket->SetLinger(false);
        m_dataSocket->Close();
        if (!move)
            requireDataMoved();
        return readCompletionReply(rules);
    });
}

void TFtpClient::Download(const std::string& remoteName, const std::string& localPath) {
    // Like Upload, Download reports CmdUpload in its events.
    const TransferRules rules{.type = CmdUpload,
                              .onCancel = TransferRules::OnCancel::Abor,
                              .offerFailure = true,
                              .lock = true,
                              .quietRefusal = false,
                              .alwaysPort = false,
                              .reportUnsupported = false};
    runTransfer(rules, [&] {
        checkCommandText(remoteName);
        // Where the bytes would go is checked before the server is asked for them.
        const std::string target = localPath.empty() ? localNameOf(remoteName) : localPath;
        checkWritable(target);
        discardStaleInput();
        beginTransfer(true, false);
        if (!openDataConnection(rules))
            return false;
        reportLevel1("RETR " + remoteName);
        m_bytesTotal = 0;
        // Only the first reply line: the rest is read below for the byte count it may carry.
        if (!sendTransferCommand(rules, "RETR " + remoteName, true))
            return false;
        m_bytesTotal = ParseByteCount(LastReply());
        const std::string last = readReplyRest(LastReply(), [this](const std::string& line) {
            if (m_bytesTotal == 0)
                m_bytesTotal = ParseByteCount(line);
        });
        m_bytesTotal = ParseByteCount(last);
        const std::optional<std::int64_t> announced = announcedSize(last);
        const bool move = beginDataPhase(rules);
        // The bytes go through the atomic writer: the local file is replaced only once the server
        // has confirmed the transfer and every announced byte has arrived.
        std::optional<AtomicFileWriter> file;
        if (move) {
            file.emplace(target);
            m_dataSocket->CaptureInto(*file);
        }
        endReceiving(move);
        const bool confirmed = readCompletionReply(rules);
        if (OnTransactionStop)
            OnTransactionStop(*this);
        if (!confirmed)
            return false;
        if (announced && m_bytesTotal < *announced)
            throw ESockError(
                formatMessage(kShortTransfer, {std::to_string(m_bytesTotal), std::to_string(*announced)}));
        file->commit();
        return true;
    });
}

} // namespace velmo
