#include "ftp/FtpClient.h"

#include "platform/cp1252.h"
#include "platform/linefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

namespace velmo {

namespace {

const char* const kListBusy = "A list command is already being processed!";
const char* const kTransferBusy = "Eine Datenübertragung läuft bereits";
const char* const kBadCharacter = "Der FTP-Befehl enthält ein unzulässiges Zeichen (CR, LF oder NUL)";
const char* const kClosedByServer = "Die Verbindung wurde vom Server getrennt";
const char* const kTransferTimedOut =
    "Zeitüberschreitung bei der Antwort des Servers, keine Daten übertragen";

bool isContinuation(const std::string& line) {
    return !line.empty() && (line[0] == ' ' || (line.size() > 3 && line[3] == '-'));
}

// The number conversion of the PASV fields: blanks around are tolerated, anything else is not.
int parseDecimal(const std::string& text) {
    std::size_t begin = text.find_first_not_of(' ');
    std::size_t end = text.find_last_not_of(' ');
    long value = 0;
    bool any = false;
    bool ok = begin != std::string::npos;
    for (std::size_t i = begin; ok && i <= end; ++i) {
        if (text[i] < '0' || text[i] > '9' || value > 100000000) {
            ok = false;
            break;
        }
        value = value * 10 + (text[i] - '0');
        any = true;
    }
    if (!ok || !any)
        throw EConvertError(formatMessage("'%s' ist kein gültiger Integerwert", cp1252::toUtf8(text)));
    return static_cast<int>(value);
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
    std::string current = line;
    while (isContinuation(current)) {
        current = ReadLn();
        if (!current.empty())
            reportLevel1(current);
    }
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
        if (OnConnect)
            OnConnect(*this);
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
    return NthField(LastReply(), '"', 2);
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

void TFtpClient::requireReply() {
    if (!LastReply().empty())
        return;
    if (Connected())
        Close();
    throw ESockError(kClosedByServer);
}

bool TFtpClient::openDataConnection(TCmdType type) {
    if (Passive) {
        Transaction("PASV");
        requireReply();
        if (isFailure(ReplyNumber(), FailureRange::Pasv)) {
            offerFailure(type);
            return false;
        }
        // The address in the reply is not used: the data goes to the host we are talking to.
        const std::string reply = LastReply();
        const int high = parseDecimal(NthField(reply, ',', 5));
        const int low = parseDecimal(NthField(NthField(reply, ',', 6), ')', 1));
        m_dataSocket->Port = high * 256 + low;
        m_dataSocket->Host = Host;
        m_dataSocket->Connect();
    } else {
        m_dataSocket->Port = 0;
        m_dataSocket->Listen(true);
        m_dataSocket->AcceptPeer = PeerAddress();
        Transaction("PORT " + LocalAddressCommas() + m_dataSocket->LocalPortCommas());
        requireReply();
        if (isFailure(ReplyNumber(), FailureRange::Transfer)) {
            offerFailure(type);
            return false;
        }
    }
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

bool TFtpClient::readCompletionReply(TCmdType type) {
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
    if (isFailure(ReplyNumber(), FailureRange::Transfer)) {
        offerFailure(type);
        return false;
    }
    return true;
}

void TFtpClient::listLoop(bool nameList) {
    TSockSession& ds = *m_dataSocket;
    for (;;) {
        if (ds.DataAvailable()) {
            std::string line = ds.ReadLn();
            if (line.empty())
                break;
            if (line.size() > 2)
                line.resize(line.size() - (line[line.size() - 2] == '\r' ? 2 : 1));
            if (!nameList && ParseList && m_listParser)
                m_listParser->ParseLine(line);
            if (OnListItem)
                OnListItem(*this, line);
        } else {
            // Wait for the next listing data and for the completion reply, whichever comes.
            pollfd fds[2];
            std::size_t count = 0;
            if (ds.Connected())
                fds[count++] = pollfd{ds.Handle(), POLLIN, 0};
            if (!DataAvailable())
                fds[count++] = pollfd{Handle(), POLLIN, 0};
            processPendingEvents(std::span<const pollfd>(fds, count), std::nullopt);
        }
        const bool dataConnected = ds.Connected();
        const bool replyWaiting = DataAvailable();
        const bool dataWaiting = ds.DataAvailable();
        const bool again = nameList ? (dataConnected && !replyWaiting) || dataWaiting
                                    : dataConnected || !replyWaiting || dataWaiting;
        if (!again)
            break;
    }
}

void TFtpClient::beginTransfer(bool forwardRecvd, bool forwardSent) {
    // A second transfer started from a handler of a running one would take its data connection
    // away under its feet.
    if (m_dataSocket)
        throw Exception(kTransferBusy);
    m_dataSocket = std::make_unique<TSockSession>();
    m_dataSocket->TimeOut = TimeOut;
    if (forwardRecvd)
        m_dataSocket->OnPacketRecvd = OnPacketRecvd;
    if (forwardSent)
        m_dataSocket->OnPacketSent = OnPacketSent;
}

void TFtpClient::endTransfer(bool abortOnCancel) {
    m_dataSocket.reset();
    if (abortOnCancel && CancelRequested()) {
        clearCancel();
        Transaction("ABOR");
    }
}

void TFtpClient::runTransfer(TCmdType type, TransferRules rules, const std::function<bool()>& body) {
    auto frame = [&] {
        clearCancel();
        CheckConnection();
        std::unique_lock lock(m_transferLock);
        bool successful = false;
        try {
            successful = body();
        } catch (...) {
            endTransfer(rules.abortOnCancel);
            throw;
        }
        endTransfer(rules.abortOnCancel);
        lock.unlock();
        if (successful)
            fireSuccess(type);
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
            OnFailure(*this, handled, type);
            if (handled)
                return;
        }
        throw;
    }
}

bool TFtpClient::transferCommandAccepted(TCmdType type, bool reportUnsupported) {
    requireReply();
    const int code = ReplyNumber();
    if (!isFailure(code, FailureRange::Transfer))
        return true;
    if (reportUnsupported && code >= 500 && code <= 502 && OnUnSupportedFunction)
        OnUnSupportedFunction(*this, type);
    offerFailure(type);
    return false;
}

bool TFtpClient::beginDataPhase() {
    if (!Passive)
        acceptDataConnection();
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

    runTransfer(CmdList, {.abortOnCancel = true, .offerFailure = false}, [this] {
        discardStaleInput();
        beginTransfer(true, false);
        if (ParseList)
            prepareListParser();
        if (!openDataConnection(CmdList))
            return false;
        reportLevel1("LIST");
        Transaction("LIST");
        if (!transferCommandAccepted(CmdList, true))
            return false;
        const bool move = beginDataPhase();
        if (move)
            listLoop(false);
        if (OnTransactionStop)
            OnTransactionStop(*this);
        m_dataSocket->Close();
        if (!move)
            requireDataMoved();
        return readCompletionReply(CmdList);
    });
}

void TFtpClient::Nlist() {
    clearCancel();
    CheckConnection();
    if (m_dataSocket)
        throw Exception(kTransferBusy);
    bool reached = false;
    auto refuseUnless = [this] {
        requireReply();
        if (isFailure(ReplyNumber(), FailureRange::Transfer))
            throw FTPException(LastReply());
    };
    try {
        beginTransfer(false, false);
        discardStaleInput();
        // Always PORT: the name list is not worth a second code path.
        m_dataSocket->Port = 0;
        m_dataSocket->Listen(true);
        m_dataSocket->AcceptPeer = PeerAddress();
        const std::string port = "PORT " + LocalAddressCommas() + m_dataSocket->LocalPortCommas();
        reportLevel1(port);
        Transaction(port);
        refuseUnless();
        reportLevel1("NLST");
        Transaction("NLST");
        refuseUnless();
        m_bytesTotal = ParseByteCount(LastReply());
        acceptDataConnection();
        if (OnTransactionStart)
            OnTransactionStart(*this);
        const bool move = controlFlagsClear();
        if (move)
            listLoop(true);
        endReceiving(move);
        if (controlFlagsClear()) {
            std::string line = ReadLn();
            setLastReply(line);
            reportLevel1(line);
            ReadMultiLine(line);
            refuseUnless();
        }
        reached = true;
    } catch (...) {
        m_dataSocket.reset();
        if (CancelRequested())
            DrainReply();
        throw;
    }
    m_dataSocket.reset();
    if (reached)
        fireSuccess(CmdNList);
    if (CancelRequested())
        DrainReply();
}

namespace {

std::int64_t localFileSize(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw EFOpenError(formatMessage("Datei %s kann nicht geöffnet werden", path));
    }
    ::close(fd);
    return st.st_size;
}

} // namespace

void TFtpClient::Upload(const std::string& localPath, const std::string& remoteName) {
    runTransfer(CmdUpload, {.abortOnCancel = false, .offerFailure = true}, [&] {
        // Remote names travel in the shop's code page; the local name is UTF-8.
        const std::string sendName = remoteName.empty() ? cp1252::fromUtf8(baseName(localPath)) : remoteName;
        checkCommandText(sendName);
        discardStaleInput();
        beginTransfer(false, true);
        m_bytesTotal = localFileSize(localPath);
        if (!openDataConnection(CmdUpload))
            return false;
        ReportStatus(1, "STOR " + (remoteName.empty() ? localPath : cp1252::toUtf8(remoteName)));
        Transaction("STOR " + sendName);
        if (!transferCommandAccepted(CmdUpload, true))
            return false;
        const bool move = beginDataPhase();
        if (move)
            m_dataSocket->SendFile(localPath);
        if (OnTransactionStop)
            OnTransactionStop(*this);
        // Closing must hand over what is still queued, not reset the connection.
        m_dataSocket->SetLinger(false);
        m_dataSocket->Close();
        if (!move)
            requireDataMoved();
        return readCompletionReply(CmdUpload);
    });
}

namespace {

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

} // namespace

void TFtpClient::Download(const std::string& remoteName, const std::string& localPath) {
    // Like Upload, Download reports CmdUpload in its events.
    runTransfer(CmdUpload, {.abortOnCancel = true, .offerFailure = true}, [&] {
        checkCommandText(remoteName);
        discardStaleInput();
        beginTransfer(true, false);
        if (!openDataConnection(CmdUpload))
            return false;
        reportLevel1("RETR " + remoteName);
        m_bytesTotal = 0;
        // Only the first reply line: the rest is read below for the byte count it may carry.
        TSockSession::Transaction("RETR " + remoteName);
        if (!transferCommandAccepted(CmdUpload, false))
            return false;
        m_bytesTotal = ParseByteCount(LastReply());
        std::string line = LastReply();
        while (isContinuation(line)) {
            line = ReadLn();
            reportLevel1(line);
            if (m_bytesTotal == 0)
                m_bytesTotal = ParseByteCount(line);
        }
        m_bytesTotal = ParseByteCount(line);
        const bool move = beginDataPhase();
        // The bytes go to a temporary file that replaces the local file only once the server has
        // confirmed the transfer; until then the old file stays.
        std::optional<CaptureTarget> target;
        if (move) {
            target.emplace(localPath.empty() ? localNameOf(remoteName) : localPath);
            m_dataSocket->captureInto(*target);
        }
        endReceiving(move);
        const bool confirmed = readCompletionReply(CmdUpload);
        if (OnTransactionStop)
            OnTransactionStop(*this);
        if (!confirmed)
            return false;
        target->commit();
        return true;
    });
}

} // namespace velmo
