#include "ftp/SockSession.h"

#include "ftp/pump_internal.h"
#include "ftp/tls.h"
#include "platform/cp1252.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace velmo {

namespace {

constexpr std::size_t kBufferSize = 65536;
// How much a line read looks ahead for the line's end. Each look copies what it sees, so a listing
// of short lines read with a look at the whole buffer would copy it over and over; a longer line
// is taken in several steps.
constexpr std::size_t kLinePeek = 1024;
constexpr int kWouldBlock = 10035;
constexpr int kNotConnected = 10057;
constexpr const char* kReplyTimedOut =
    "Zeitüberschreitung: Der Server hat %s ms lang nichts gesendet, die Verbindung wurde getrennt";
constexpr const char* kTlsBroken = "Die verschlüsselte Verbindung ist gestört: %s";
constexpr const char* kTlsHandshakeFailed = "Die verschlüsselte Verbindung kam nicht zustande: %s";
constexpr const char* kTlsClosedInHandshake =
    "Die verschlüsselte Verbindung kam nicht zustande: Der Server hat die Verbindung getrennt";
constexpr const char* kTlsHandshakeCancelled = "Verschlüsselte Verbindung abgebrochen";
constexpr const char* kTlsHandshakeTimedOut =
    "Zeitüberschreitung: Der Server hat den Aufbau der verschlüsselten Verbindung %s ms lang nicht "
    "fortgesetzt, die Verbindung wurde getrennt";
// How long a close_notify may wait for room in the send queue.
constexpr int kTlsShutdownWait = 2000;
constexpr const char* kLineTooLong =
    "Der Server hat eine Zeile von mehr als %s Byte gesendet, die Verbindung wurde getrennt";

struct ErrorEntry {
    int number;
    const char* text;
};

constexpr ErrorEntry kErrorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
};

// Sockets alive in the process; the first one describes the socket library in SocketInfo.
std::atomic<int> g_liveSockets{0};

std::string dotted(std::uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = networkOrder;
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// A name look-up that runs beside the wait, so the wait can go on processing events (and give up)
// while the resolver takes its time. The result is handed over through a pipe the pump watches.
struct Lookup {
    int readFd = -1;
    int writeFd = -1;
    std::mutex mutex;
    bool done = false;
    bool ok = false;
    std::uint32_t address = 0;

    Lookup() {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            readFd = fds[0];
            writeFd = fds[1];
        }
    }
    ~Lookup() {
        if (readFd >= 0)
            ::close(readFd);
        if (writeFd >= 0)
            ::close(writeFd);
    }
    bool finished() {
        std::lock_guard lock(mutex);
        return done;
    }
};

void runLookup(const std::shared_ptr<Lookup>& job, const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    {
        std::lock_guard lock(job->mutex);
        if (rc == 0 && result && result->ai_addr) {
            job->ok = true;
            job->address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
        }
        job->done = true;
    }
    if (result)
        ::freeaddrinfo(result);
    if (job->writeFd >= 0)
        (void)!::write(job->writeFd, "x", 1);
}

} // namespace

// ---- free functions ------------------------------------------------------------------------------

std::string NthField(std::string_view text, char sep, int n) {
    if (text.empty() || n < 1)
        return {};
    std::size_t start = 0;
    for (int field = 1;; ++field) {
        const std::size_t end = text.find(sep, start);
        if (field == n)
            return std::string(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
        if (end == std::string_view::npos)
            return {};
        start = end + 1;
    }
}

std::string socketErrorText(int errorNo) {
    for (const auto& e : kErrorTexts)
        if (e.number == errorNo)
            return std::to_string(errorNo) + ":" + e.text;
    return "Unbekannte Fehlernummer " + std::to_string(errorNo);
}

int socketErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
    case EPIPE:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return 20000 + err;
    }
}

// ---- TSockSession --------------------------------------------------------------------------------

TSockSession::TSockSession()
    : m_buffer(new char[kBufferSize + 1]), m_timer(std::make_unique<TThreadTimer>()) {
    ReportStatus(8, "Erzeugen");
    m_timer->SetEnabled(false);
    m_timer->SetOnTimer([this](TThreadTimer&) { TimerFired(); });
    initSockets();
    pump_detail::listenerAdded(&m_pumpNotice);
}

// Handlers are not called once the destroying flag is set, and ReportStatus swallows what they
// throw; only running out of memory for a status text could escape, and that ends the program.
TSockSession::~TSockSession() { // NOLINT(bugprone-exception-escape)
    // Handlers must not see an object that is half gone, so the destroying flag comes first.
    m_destroying = true;
    ReportStatus(8, "Löschen");
    pump_detail::listenerRemoved(&m_pumpNotice);
    m_cancel = true;
    m_timer.reset();
    shutdownTls(false);
    Close();
    --g_liveSockets;
}

void TSockSession::initSockets() {
    ReportStatus(8, "Winsock wird initialisiert");
    if (g_liveSockets++ == 0) {
        rlimit files{};
        ::getrlimit(RLIMIT_NOFILE, &files);
        m_socketInfo = {"Version= 1.1",
                        "Hauptversion= 2.2",
                        "Beschreibung= BSD-Sockets (Linux)",
                        "System= Running",
                        "Max Sockets= " + std::to_string(files.rlim_cur),
                        "Max Upd Pack.-Größe= 65507"};
    }
    try {
        m_fd = createSocket(true);
    } catch (...) {
        --g_liveSockets;
        throw ESockError("Die Initialisierung der Windows-Sockets ist fehlgeschlagen");
    }
}

int TSockSession::createSocket(bool lingerReset) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        CheckSocketError(kWouldBlock);
        throw ESockError("Die Initialisierung der Windows-Sockets ist fehlgeschlagen");
    }
    if (lingerReset) {
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    return fd;
}

void TSockSession::closeHandle() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_state = State::Idle;
    m_aheadBegin = m_aheadEnd = 0;
}

void TSockSession::SetLinger(bool on, int seconds) {
    linger l{on ? 1 : 0, seconds};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void TSockSession::ReportStatus(int level, std::string_view text) {
    if (level > ReportLevel)
        return;
    m_statusText = std::string(text);
    if (m_destroying || !OnStatus)
        return;
    const std::string copy = m_statusText;
    try {
        OnStatus(*this, copy);
    } catch (...) {
        // A status display must never break the operation it reports on.
    }
}

std::string TSockSession::ErrorText(int errorNo) {
    ReportStatus(8, "Fehlermeldung wird gelesen");
    return socketErrorText(errorNo);
}

std::string TSockSession::CheckSocketError(int ignore) {
    const int e = socketErrorFromErrno(errno);
    m_lastErrorNo = e;
    if (e != ignore && e > 10000) {
        const std::string text = ErrorText(e);
        if (OnError)
            OnError(*this, static_cast<std::uint16_t>(e), text);
        throw ESockError(text);
    }
    return {};
}

void TSockSession::fireNotify(const TNotifyEvent& event) {
    if (event) {
        auto handler = event;
        handler(*this);
    }
}

[[noreturn]] void TSockSession::raiseAbort(const char* text) {
    m_cancel = false;
    throw EAbortError(text);
}

void TSockSession::timedDataLoop(const std::function<void()>& loop) {
    TimerOn();
    try {
        loop();
    } catch (...) {
        TimerOff();
        throw;
    }
    TimerOff();
    if (m_cancel)
        raiseAbort("Socket-send abgebrochen");
}

void TSockSession::waitSocket(short events, std::optional<PumpClock::time_point> until) {
    if ((events & POLLIN) && holdsReadAhead()) {
        // What was read ahead is there to be taken; the socket may have nothing more.
        processPendingEvents();
        return;
    }
    if (m_tls) {
        // Records the layer holds already do not make the socket readable. Once a read said it
        // wants more, what it holds is only part of a record, and the socket is what to wait for.
        if ((events & POLLIN) && m_tlsWait == 0 && m_tls->hasPending()) {
            processPendingEvents();
            return;
        }
        if (m_tlsWait != 0)
            events = m_tlsWait;
    }
    pollfd fd{m_fd, events, 0};
    processPendingEvents(std::span<const pollfd>(&fd, 1), until);
}

[[noreturn]] void TSockSession::raiseReplyTimeOut(int milliseconds) {
    if (Connected())
        Close();
    throw EReplyTimeOut(formatMessage(kReplyTimedOut, std::to_string(milliseconds)));
}

void TSockSession::Cancel() {
    ReportStatus(8, "Beim Abbrechen");
    m_cancel = true;
    wakeEventPump();
}

void TSockSession::Abort() {
    ReportStatus(8, "Abbrechen");
    Cancel();
}

void TSockSession::CheckConnection() {
    ReportStatus(8, "Überprüfung der Verbindung");
    // A peer that closed while nobody was waiting is noticed here at the latest.
    PollNotifications();
    bool offered = false;
    while (!Connected()) {
        if (offered || !OnConnectionRequired)
            throw Exception("Nicht verbunden");
        offered = true;
        bool handled = false;
        OnConnectionRequired(*this, handled);
        if (!handled)
            throw Exception("Nicht verbunden");
    }
}

void TSockSession::TimerOn() {
    ReportStatus(8, "Zeitgeber An");
    m_timedOut = false;
    m_timer->SetInterval(TimeOut > 0 ? static_cast<unsigned>(TimeOut) : 0);
    m_timer->SetEnabled(true);
}

void TSockSession::TimerOff() {
    ReportStatus(8, "Zeitgeber Aus");
    if (m_timer)
        m_timer->SetEnabled(false);
}

void TSockSession::TimerFired() {
    ReportStatus(8, "Zeitgeber ausgelöst");
    TimerOff();
    m_timedOut = true;
    Abort();
}

void TSockSession::ResolveHost() {
    ReportStatus(8, "Auf Host zurückschreiben");
    const std::string name = Proxy.empty() ? Host : Proxy;
    in_addr parsed{};
    if (name.find('\0') == std::string::npos && ::inet_aton(name.c_str(), &parsed) != 0 &&
        parsed.s_addr != INADDR_NONE) {
        m_address = parsed.s_addr;
        return;
    }
    m_address = 0;
    TimerOn();
    bool done = false;
    auto job = std::make_shared<Lookup>();
    try {
        std::thread(runLookup, job, name).detach();
    } catch (...) {
        TimerOff();
        throw EHostLookupFailed("Host-Lookup fehlgeschlagen");
    }
    while (!done && !m_timedOut && !m_cancel) {
        pollfd fd{job->readFd, POLLIN, 0};
        processPendingEvents(std::span<const pollfd>(&fd, 1), std::nullopt);
        done = job->finished();
    }
    TimerOff();
    if (m_timedOut)
        throw ESockError("Zeitüberschreitung bei Host-Lookup");
    if (m_cancel)
        throw ESockError("Host-Lookup abgebrochen");
    bool ok;
    std::uint32_t address;
    {
        std::lock_guard lock(job->mutex);
        ok = job->done && job->ok;
        address = job->address;
    }
    if (!ok || address == 0)
        throw EHostLookupFailed("Host-Lookup fehlgeschlagen");
    m_address = address;
    fireNotify(OnHostResolved);
}

void TSockSession::Connect() {
    ReportStatus(8, "Herstellen der Verbindung");
    m_cancel = false;
    if (Connected())
        throw ESockError("Bereits verbunden");
    resolveOrAsk();
    beginConnect();
    TimerOn();
    try {
        while (m_state == State::Connecting && !m_timedOut && !m_cancel)
            waitSocket(POLLOUT);
    } catch (...) {
        TimerOff();
        if (m_state == State::Connecting)
            m_state = State::ConnectFailed;
        throw;
    }
    TimerOff();
    if (m_state == State::Connected && !m_timedOut && !m_cancel)
        return;
    connectFailed();
}

void TSockSession::resolveOrAsk() {
    auto resolve = [this] {
        try {
            ResolveHost();
        } catch (const EHostLookupFailed&) {
            m_address = 0; // offered to OnInvalidHost below; time-outs and cancels pass on
        }
    };
    resolve();
    bool offered = false;
    while (m_address == 0) {
        if (!offered && OnInvalidHost) {
            offered = true;
            bool handled = false;
            OnInvalidHost(*this, handled);
            if (handled) {
                resolve();
                continue;
            }
        }
        throw ESockError("Null Externe Adresse");
    }
}

void TSockSession::beginConnect() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(Proxy.empty() ? Port : ProxyPort));
    address.sin_addr.s_addr = m_address;

    // A socket left behind by a failed attempt (or a listening one) cannot connect again.
    if (m_state != State::Idle) {
        closeHandle();
        m_fd = createSocket(false);
    }
    m_state = State::Connecting;
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        m_state = State::Connected;
        fireNotify(OnConnect);
        return;
    }
    switch (errno) {
    case EINPROGRESS:
    case EAGAIN:
    case EINTR:
        break;
    case ECONNREFUSED:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ETIMEDOUT:
    case ECONNRESET:
        // What a connect-completed notification would carry as its error.
        m_state = State::ConnectFailed;
        break;
    default:
        m_state = State::Idle;
        CheckSocketError(kWouldBlock);
    }
}

void TSockSession::connectFailed() {
    if (m_state == State::Connecting)
        m_state = State::ConnectFailed;
    if (m_state == State::Connected) {
        // Established just as the attempt was given up: do not leave a half-used connection.
        closeHandle();
        m_fd = createSocket(false);
    }
    if (OnConnectionFailed)
        OnConnectionFailed(*this);
    if (m_timedOut)
        throw ESockError("Zeitüberschreitung bei Verbindung");
    if (m_cancel)
        throw ESockError("Verbindung abgebrochen");
    throw ESockError("Verbindung fehlgeschlagen");
}

void TSockSession::Disconnect() {
    ReportStatus(8, "Verbindung wird abgebrochen");
    Close();
}

void TSockSession::Close() {
    ReportStatus(4, "Schließen des Socket anfordern");
    if (m_fd < 0) {
        m_state = State::Idle;
        return;
    }
    shutdownTls(!m_destroying);
    // On Linux the descriptor is gone after close() whatever it returns.
    closeHandle();
    if (m_destroying)
        return;
    m_fd = createSocket(false);
    fireNotify(OnDisconnect);
}

void TSockSession::SendBuffer(const char* data, std::uint16_t length) {
    ReportStatus(4, "Puffer senden");
    timedDataLoop([&] {
        if (m_cancel)
            return;
        const std::size_t size = length != 0 ? length : ::strnlen(data, 65535);
        std::size_t sent = 0;
        while (sent < size && !m_cancel) {
            const ssize_t n = ioSend(data + sent, size - sent);
            if (n == 0)
                break;
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (errno == EINTR)
                continue;
            if (errno == EPIPE && !Connected())
                errno = ENOTCONN;
            CheckSocketError(kWouldBlock);
            // The peer's window is full: wait for room instead of spinning (the time-out can end
            // this wait).
            waitSocket(POLLOUT);
        }
    });
}

void TSockSession::Write(std::string_view text) {
    ReportStatus(8, "Schreiben");
    if (text.size() > 65535)
        throw Exception("Fehler bei Bereichsprüfung");
    std::memcpy(m_buffer.get(), text.data(), text.size());
    m_buffer[text.size()] = '\0';
    SendBuffer(m_buffer.get(), 0);
}

void TSockSession::Writeln(std::string_view text) {
    ReportStatus(8, "Writeln");
    std::string line(text);
    line += "\r\n";
    Write(line);
}

std::string TSockSession::Read(std::uint16_t count) {
    ReportStatus(8, "Read( " + std::to_string(count) + " )");
    char* buf = m_buffer.get();
    std::size_t n = count;
    if (m_tls)
        return readTls(count);
    if (n == 0) {
        const ssize_t k = ::recv(m_fd, buf, kBufferSize, MSG_PEEK | MSG_DONTWAIT);
        if (k < 0) {
            CheckSocketError(kWouldBlock);
            return {};
        }
        if (k == 0)
            return {};
        n = static_cast<std::size_t>(k);
    } else {
        // The socket reports readable only once n bytes are there, so the wait does not spin on a
        // part that already arrived.
        int lowat = static_cast<int>(n);
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVLOWAT, &lowat, sizeof lowat);
        struct RestoreLowat {
            int fd;
            ~RestoreLowat() {
                int one = 1;
                ::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
            }
        } restore{m_fd};
        for (;;) {
            const ssize_t k = ::recv(m_fd, buf, kBufferSize, MSG_PEEK | MSG_DONTWAIT);
            if (k == 0)
                return {};
            if (k < 0 && errno != EINTR)
                CheckSocketError(kWouldBlock);
            if (k >= static_cast<ssize_t>(n) || m_cancel)
                break;
            waitSocket(POLLIN);
            if (m_cancel)
                break;
        }
    }
    if (m_cancel)
        raiseAbort("Socket-send abgebrochen");
    const ssize_t got = ::recv(m_fd, buf, n, MSG_DONTWAIT);
    return got > 0 ? std::string(buf, static_cast<std::size_t>(got)) : std::string();
}

std::string TSockSession::ReadLn() {
    ReportStatus(8, "ReadLn");
    return readLine(false);
}

std::string TSockSession::ReadLnKeepingRest() {
    ReportStatus(8, "ReadLn");
    return readLine(true);
}

std::string TSockSession::readLine(bool keepRest) {
    std::string line;
    const int idleMs = replyIdleLimit();
    auto lastByte = PumpClock::now();
    TimerOn();
    try {
        for (;;) {
            switch (takeLineBytes(line, lastByte)) {
            case LineStep::Complete:
                TimerOff();
                return line;
            case LineStep::PeerClosed:
                // A part of a line read so far is lost unless the caller wants it.
                TimerOff();
                return keepRest ? line : std::string();
            case LineStep::More:
                break;
            }
            awaitLineBytes(lastByte, idleMs);
        }
    } catch (...) {
        TimerOff();
        throw;
    }
}

TSockSession::LineStep TSockSession::takeLineBytes(std::string& line, PumpClock::time_point& lastByte) {
    char* buf = m_buffer.get();
    const ssize_t k = ioRecv(buf, kLinePeek, true);
    if (k == 0)
        return LineStep::PeerClosed;
    if (k < 0) {
        const int err = errno;
        if (err == EINTR)
            return LineStep::More;
        m_lastErrorNo = socketErrorFromErrno(err);
        if (m_lastErrorNo == kNotConnected || err == ECONNRESET)
            return LineStep::PeerClosed;
        errno = err;
        CheckSocketError(kWouldBlock);
        return LineStep::More;
    }
    const void* lf = std::memchr(buf, '\n', static_cast<std::size_t>(k));
    const std::size_t take =
        lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - buf) + 1 : static_cast<std::size_t>(k);
    if (line.size() + take > MaxLineLength) {
        // The rest of this line cannot be skipped reliably: the session is unusable.
        TimerOff();
        if (Connected())
            Close();
        throw ESockError(formatMessage(kLineTooLong, std::to_string(MaxLineLength)));
    }
    const ssize_t got = ioRecv(buf, take, false);
    if (got > 0) {
        line.append(buf, static_cast<std::size_t>(got));
        lastByte = PumpClock::now();
    }
    return lf && got == static_cast<ssize_t>(take) ? LineStep::Complete : LineStep::More;
}

void TSockSession::awaitLineBytes(PumpClock::time_point lastByte, int idleMs) {
    const auto deadline =
        idleMs > 0 ? std::optional(lastByte + std::chrono::milliseconds(idleMs)) : std::nullopt;
    if (m_cancel) {
        processPendingEvents();
    } else {
        waitSocket(POLLIN, deadline);
    }
    if (m_cancel) {
        TimerOff();
        raiseAbort("Socket-readln abgebrochen");
    }
    if (deadline && PumpClock::now() >= *deadline) {
        TimerOff();
        raiseReplyTimeOut(idleMs);
    }
}

std::int16_t TSockSession::replyNumberOf(std::string_view line) {
    int value = 0;
    std::size_t digits = 0;
    while (digits < line.size() && digits < 10 && line[digits] >= '0' && line[digits] <= '9') {
        value = value * 10 + (line[digits] - '0');
        if (value > 32767)
            return 0;
        ++digits;
    }
    return digits == 0 ? std::int16_t{0} : static_cast<std::int16_t>(value);
}

void TSockSession::setLastReply(std::string line) {
    m_lastReply = std::move(line);
    m_replyNumber = m_lastReply.empty() ? std::int16_t{0} : replyNumberOf(m_lastReply);
}

std::string TSockSession::Transaction(const std::string& command) {
    ReportStatus(8, "Transaktion");
    m_replyNumber = 0;
    Writeln(command);
    std::string line = ReadLn();
    m_lastReply = line;
    if (!line.empty()) {
        ReportStatus(1, cp1252::toUtf8(line));
        m_replyNumber = replyNumberOf(line);
    }
    return line;
}

void TSockSession::SendFile(const std::string& path) {
    const ReadableFile file(path);
    SendOpenFile(file);
}

void TSockSession::SendOpenFile(const ReadableFile& file) {
    ReportStatus(8, "SendFile");
    char* buf = m_buffer.get();
    // A peer that stops taking data would hold the upload forever: TimeOut bounds the silence
    // (never the whole transfer, which may take as long as it takes).
    auto lastProgress = PumpClock::now();
    while (!m_cancel) {
        const ssize_t n = ::read(file.handle(), buf, kBufferSize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            file.fail();
        if (n == 0)
            break;
        sendChunk(buf, static_cast<std::size_t>(n), lastProgress);
    }
    if (m_cancel)
        raiseAbort("Socket-send abgebrochen");
}

void TSockSession::sendChunk(const char* data, std::size_t size, PumpClock::time_point& lastProgress) {
    std::size_t sent = 0;
    while (sent < size && !m_cancel) {
        const ssize_t k = ioSend(data + sent, size - sent);
        if (k > 0) {
            sent += static_cast<std::size_t>(k);
            noteSent(k, lastProgress);
            continue;
        }
        if (k == 0)
            return;
        if (errno == EINTR)
            continue;
        awaitRoomToSend(lastProgress);
    }
}

void TSockSession::noteSent(ssize_t count, PumpClock::time_point& lastProgress) {
    m_bytesSent += count;
    lastProgress = PumpClock::now();
    fireNotify(OnPacketSent);
    processPendingEvents();
}

void TSockSession::awaitRoomToSend(PumpClock::time_point lastProgress) {
    if (errno == EPIPE && !Connected())
        errno = ENOTCONN;
    CheckSocketError(kWouldBlock);
    std::optional<PumpClock::time_point> deadline;
    if (TimeOut > 0)
        deadline = lastProgress + std::chrono::milliseconds(TimeOut);
    waitSocket(POLLOUT, deadline);
    if (deadline && PumpClock::now() >= *deadline)
        raiseAbort("Socket-send abgebrochen");
}

void TSockSession::CaptureFile(const std::string& path) {
    AtomicFileWriter target(path);
    CaptureInto(target);
    target.commit();
}

void TSockSession::CaptureInto(AtomicFileWriter& target) {
    ReportStatus(8, "Datei erfassen");
    m_bytesRecvd = 0;
    char* buf = m_buffer.get();
    timedDataLoop([&] {
        while (!m_cancel) {
            const ssize_t k = ioRecv(buf, kBufferSize, false);
            if (k > 0) {
                target.write(std::string_view(buf, static_cast<std::size_t>(k)));
                m_bytesRecvd += k;
                fireNotify(OnPacketRecvd);
                // The time-out measures silence, not the whole transfer: start the period anew.
                TimerOff();
                TimerOn();
                processPendingEvents();
                continue;
            }
            if (k == 0)
                break;
            const int err = errno;
            if (err == EINTR)
                continue;
            m_lastErrorNo = socketErrorFromErrno(err);
            if (m_lastErrorNo == kNotConnected)
                break;
            errno = err;
            CheckSocketError(kWouldBlock);
            waitSocket(POLLIN);
        }
    });
}

void TSockSession::Listen(bool wait) {
    ReportStatus(8, "Warten auf Ereignisse");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(Port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    (void)::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    (void)::listen(m_fd, 1);
    m_state = wait ? State::ListenWaiting : State::Listening;
}

int TSockSession::Accept() {
    ReportStatus(4, "Annahme");
    std::uint32_t expected = 0;
    if (!AcceptPeer.empty())
        ::inet_pton(AF_INET, AcceptPeer.c_str(), &expected);
    // A server that never connects back must not hang us: the wait ends after TimeOut of silence.
    TimerOn();
    try {
        for (;;) {
            while (m_state != State::PeerWaiting && m_state != State::ListenFailed && !m_cancel &&
                   !m_timedOut)
                waitSocket(POLLIN);
            if (m_timedOut)
                throw ESockError("Zeitüberschreitung beim Warten auf die Datenverbindung");
            if (m_cancel)
                throw ESockError("Annahme abgebrochen");
            if (m_state == State::ListenFailed)
                throw ESockError("Fehler beim Herstellen der Datenverbindung");
            sockaddr_in peer{};
            socklen_t size = sizeof peer;
            const int fd =
                ::accept4(m_fd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED)
                    CheckSocketError(kWouldBlock);
                m_state = State::ListenWaiting;
                continue;
            }
            if (expected != 0 && peer.sin_addr.s_addr != expected) {
                // Only the server we talk to may deliver the data; anybody else is turned away.
                ::close(fd);
                ReportStatus(4, "Fremde Datenverbindung von " + dotted(peer.sin_addr.s_addr) + " abgewiesen");
                m_state = State::ListenWaiting;
                continue;
            }
            TimerOff();
            if (m_cancel) {
                ::close(fd);
                raiseAbort("Socket-send abgebrochen");
            }
            return fd;
        }
    } catch (...) {
        TimerOff();
        throw;
    }
}

void TSockSession::InstallAccepted(int handle) {
    closeHandle();
    m_fd = handle;
    m_state = State::Connected;
}

bool TSockSession::DataAvailable() {
    ReportStatus(8, "Daten verfügbar");
    char c;
    const ssize_t n = ioRecv(&c, 1, true);
    if (n == 0 && m_tls && Connected()) {
        // The peer's close_notify may have come with the last record, so the socket need not
        // become readable again to tell: the connection ends here, as the pump would end it.
        shutdownTls(false);
        Close();
    }
    return n > 0;
}

void TSockSession::ClearInput() {
    ReportStatus(8, "Löschen der Eingabe");
    (void)ioRecv(m_buffer.get(), kBufferSize, false);
}

std::string TSockSession::LocalAddressCommas() {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &size);
    std::string text = dotted(local.sin_addr.s_addr);
    for (char& c : text)
        if (c == '.')
            c = ',';
    return text;
}

std::string TSockSession::LocalPortCommas() {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &size);
    const unsigned port = ntohs(local.sin_port);
    return "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

std::string TSockSession::PeerAddress() const {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (m_fd < 0 || ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0)
        return {};
    return dotted(peer.sin_addr.s_addr);
}

void TSockSession::PollNotifications() {
    if (m_fd < 0 || m_destroying)
        return;
    // Handlers run from here must not break the wait that happens to be running.
    try {
        switch (m_state) {
        case State::Connecting:
            noticeConnectDone();
            break;
        case State::Listening:
        case State::ListenWaiting:
            noticePeer();
            break;
        case State::Connected:
        case State::DataAnnounced:
            noticeData();
            break;
        default:
            // Nothing to notice: no connection, a handshake under way, or a peer already told.
            break;
        }
    } catch (...) {
    }
}

void TSockSession::noticeConnectDone() {
    pollfd p{m_fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) <= 0)
        return;
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size);
    m_state = error == 0 ? State::Connected : State::ConnectFailed;
    if (error == 0)
        fireNotify(OnConnect);
}

void TSockSession::noticePeer() {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
        return;
    const bool ok = (p.revents & POLLERR) == 0;
    if (m_state == State::ListenWaiting) {
        m_state = ok ? State::PeerWaiting : State::ListenFailed;
        return;
    }
    m_state = State::PeerAnnounced;
    fireNotify(OnAccept);
}

void TSockSession::noticeData() {
    char c;
    const ssize_t n = ioRecv(&c, 1, true);
    if (n > 0) {
        if (m_state == State::Connected) {
            m_state = State::DataAnnounced;
            fireNotify(OnDataArrival);
        }
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // The peer closed and nothing unread is left: the connection is over.
        shutdownTls(false);
        Close();
    } else {
        m_state = State::Connected;
    }
}

} // namespace velmo

namespace velmo {

// ---- TLS -----------------------------------------------------------------------------------------

namespace {

// A TLS step of channel as recv (reading) or send would have answered it; wait learns which way
// the socket has to become ready when the step could not go on.
ssize_t socketResult(const TlsChannel& channel, TlsChannel::Step step, std::size_t count, bool reading,
                     short& wait) {
    wait = 0;
    switch (step) {
    case TlsChannel::Step::Done:
        return static_cast<ssize_t>(count);
    case TlsChannel::Step::Closed:
        // The peer's close_notify: the end of the data for a read, a broken pipe for a write.
        if (reading)
            return 0;
        errno = EPIPE;
        return -1;
    case TlsChannel::Step::WantRead:
    case TlsChannel::Step::WantWrite:
        wait = step == TlsChannel::Step::WantRead ? POLLIN : POLLOUT;
        errno = EAGAIN;
        return -1;
    case TlsChannel::Step::Failed:
        break;
    }
    if (errno == EPROTO)
        throw ETlsError(formatMessage(kTlsBroken, channel.errorText()));
    return -1;
}

} // namespace

ssize_t TSockSession::ioRecv(char* buffer, std::size_t size, bool peek) {
    if (!m_tls && ReadAhead)
        return recvAhead(buffer, size, peek);
    if (!m_tls)
        return ::recv(m_fd, buffer, size, MSG_DONTWAIT | (peek ? MSG_PEEK : 0));
    std::size_t count = 0;
    const TlsChannel::Step step = m_tls->read(buffer, size, peek, count);
    return socketResult(*m_tls, step, count, true, m_tlsWait);
}

ssize_t TSockSession::recvAhead(char* buffer, std::size_t size, bool peek) {
    if (!holdsReadAhead()) {
        // A read as large as the buffer, with nothing held, goes straight to the caller.
        if (!peek && size >= kBufferSize)
            return ::recv(m_fd, buffer, size, MSG_DONTWAIT);
        if (!m_ahead)
            m_ahead = std::make_unique_for_overwrite<char[]>(kBufferSize);
        const ssize_t got = ::recv(m_fd, m_ahead.get(), kBufferSize, MSG_DONTWAIT);
        if (got <= 0)
            return got;
        m_aheadBegin = 0;
        m_aheadEnd = static_cast<std::size_t>(got);
    }
    const std::size_t n = std::min(size, m_aheadEnd - m_aheadBegin);
    std::memcpy(buffer, m_ahead.get() + m_aheadBegin, n);
    if (!peek)
        m_aheadBegin += n;
    return static_cast<ssize_t>(n);
}

ssize_t TSockSession::ioSend(const char* data, std::size_t size) {
    if (!m_tls)
        return ::send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    std::size_t count = 0;
    const TlsChannel::Step step = m_tls->write(data, size, count);
    return socketResult(*m_tls, step, count, false, m_tlsWait);
}

std::string TSockSession::readTls(std::uint16_t count) {
    // What the layer has decrypted so far, or up to count bytes; never waits.
    char* buf = m_buffer.get();
    const std::size_t want = count == 0 ? kBufferSize : count;
    const ssize_t got = ioRecv(buf, want, false);
    if (got < 0 && errno != EAGAIN)
        CheckSocketError(kWouldBlock);
    return got > 0 ? std::string(buf, static_cast<std::size_t>(got)) : std::string();
}

void TSockSession::StartTls(const std::string& hostName, const std::string& trustFile,
                            const TlsChannel* resumeFrom, int limitMs) {
    ReportStatus(4, "TLS-Handshake");
    if (!dataMayFlow())
        throw ESockError("Nicht verbunden");
    m_tls = std::make_unique<TlsChannel>(m_fd, hostName, trustFile, resumeFrom);
    m_state = State::TlsHandshake;
    const int limit = limitMs > 0 ? limitMs : TimeOut;
    const std::optional<PumpClock::time_point> deadline =
        limit > 0 ? std::optional(PumpClock::now() + std::chrono::milliseconds(limit)) : std::nullopt;
    auto fail = [this](const std::string& text) {
        // A half-done handshake leaves nothing worth a close_notify.
        m_tls.reset();
        m_state = State::Connected;
        Close();
        throw ETlsError(text);
    };
    for (;;) {
        const TlsChannel::Step step = m_tls->handshake();
        if (step == TlsChannel::Step::Done)
            break;
        if (step == TlsChannel::Step::Closed)
            fail(kTlsClosedInHandshake);
        if (step == TlsChannel::Step::Failed)
            fail(formatMessage(kTlsHandshakeFailed, m_tls->errorText()));
        m_tlsWait = step == TlsChannel::Step::WantRead ? POLLIN : POLLOUT;
        waitSocket(m_tlsWait, deadline);
        if (m_cancel) {
            m_cancel = false;
            fail(kTlsHandshakeCancelled);
        }
        if (deadline && PumpClock::now() >= *deadline)
            fail(formatMessage(kTlsHandshakeTimedOut, std::to_string(limit)));
    }
    m_tlsWait = 0;
    m_state = State::Connected;
}

void TSockSession::shutdownTls(bool mayWait) {
    if (!m_tls)
        return;
    std::unique_ptr<TlsChannel> channel = std::move(m_tls);
    m_tlsWait = 0;
    if (!dataMayFlow())
        return;
    // The waits below run the pump, whose look at this socket must not take the peer's last
    // records for data (or close the socket under our feet).
    m_state = State::TlsClosing;
    struct Reopen {
        TSockSession& session;
        ~Reopen() {
            if (session.m_state == State::TlsClosing)
                session.m_state = State::Connected;
        }
    } reopen{*this};
    const auto deadline = PumpClock::now() + std::chrono::milliseconds(kTlsShutdownWait);
    for (;;) {
        const TlsChannel::Step step = channel->shutdown();
        if (step != TlsChannel::Step::WantWrite || !mayWait || PumpClock::now() >= deadline)
            break;
        // The socket's send queue is full: room comes as the peer reads.
        pollfd fd{m_fd, POLLOUT, 0};
        processPendingEvents(std::span<const pollfd>(&fd, 1), deadline);
    }
    if (!mayWait || m_cancel)
        return;
    // What the peer sent and nobody read (the session tickets a server sends after the handshake,
    // on an upload's connection that never reads) is read now, up to the peer's close: the newest
    // ticket is what the next data connection offers, and unread data would turn close() into a
    // reset that could cost the peer the end of an upload.
    ::shutdown(m_fd, SHUT_WR);
    char* buf = m_buffer.get();
    while (PumpClock::now() < deadline) {
        std::size_t count = 0;
        const TlsChannel::Step step = channel->read(buf, kBufferSize, false, count);
        if (step != TlsChannel::Step::Done && step != TlsChannel::Step::WantRead)
            return;
        if (step == TlsChannel::Step::WantRead) {
            pollfd fd{m_fd, POLLIN, 0};
            processPendingEvents(std::span<const pollfd>(&fd, 1), deadline);
        }
    }
}

} // namespace velmo
