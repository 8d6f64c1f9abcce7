#pragma once

#include "ftp/EventPump.h"
#include "ftp/ThreadTimer.h"
#include "ftp/pump_internal.h"
#include "platform/atomic_file.h"
#include "platform/errors.h"
#include "platform/linefile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// One IPv4 TCP connection with a blocking-style interface on a single-threaded, non-blocking core:
// each operation returns when it has finished, failed or been cancelled, and every wait inside it
// runs the event pump (EventPump.h), so the application stays alive meanwhile.
//
// Bytes and texts: Host, Proxy and everything sent or read are bytes as given (the shop's data is
// Windows-1252). Texts meant for people (OnStatus, StatusText, exception messages) are UTF-8;
// protocol lines are converted from Windows-1252 for them. Local file paths are UTF-8.
namespace velmo {

// A socket failure. The message is UTF-8.
class ESockError : public Exception {
public:
    using Exception::Exception;
};

// A wait that was ended by the cancel flag (directly or through a time-out).
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// A name look-up that finished without an address. Connect turns it into its invalid-host step,
// while a look-up that timed out or was cancelled ends Connect.
class EHostLookupFailed : public ESockError {
public:
    using ESockError::ESockError;
};

// The peer sent nothing for longer than the session's reply limit while a line was awaited; the
// session has been closed.
class EReplyTimeOut : public ESockError {
public:
    using ESockError::ESockError;
};

// The n-th field (counted from 1) of text split at every sep; two adjacent separators delimit an
// empty field. An empty text or a missing field gives an empty result.
std::string NthField(std::string_view text, char sep, int n);

// "10061:Connection refused" for a listed socket error number, "Unbekannte Fehlernummer 12345"
// for any other.
std::string socketErrorText(int errorNo);

// The socket error number (10004 ... 11004) of a Linux errno value; 0 for 0, EAGAIN gives 10035.
// Values without a counterpart become 20000 + errno, which the text table does not know.
int socketErrorFromErrno(int err);

class TSockSession;
class TlsChannel;

using TNotifyEvent = std::function<void(TSockSession& Sender)>;
using THandlerEvent = std::function<void(TSockSession& Sender, bool& Handled)>;
using TOnHostResolved = std::function<void(TSockSession& Sender)>;
using TOnStatus = std::function<void(TSockSession& Sender, const std::string& Status)>;
using TOnErrorEvent =
    std::function<void(TSockSession& Sender, std::uint16_t Errno, const std::string& Errmsg)>;

class TSockSession {
public:
    TSockSession();
    virtual ~TSockSession(); // NOLINT(bugprone-exception-escape): see its definition
    TSockSession(const TSockSession&) = delete;
    TSockSession& operator=(const TSockSession&) = delete;

    // --- settable properties and events -------------------------------------------------------
    std::string Host;    // name or dotted IPv4 address
    int Port = 0;        // server port; for a listening socket the local port (0 = any)
    int TimeOut = 0;     // milliseconds; 0 = no time-out
    int ReportLevel = 0; // status reports at or below this level reach OnStatus
    std::string Proxy;   // when set, Connect goes to Proxy:ProxyPort instead of Host:Port
    int ProxyPort = 0;
    // Longest line ReadLn accepts, line end included; a longer one ends the read with an error and
    // closes the session (a line of unbounded length would take unbounded memory).
    std::size_t MaxLineLength = std::size_t{64} * 1024;
    // Reads the socket in large pieces and hands them out from memory, so a listing read line by
    // line costs a system call per 64 KiB instead of several per line. For a data connection:
    // Read() and the control connection's drain read the socket directly and would miss what is
    // held here.
    bool ReadAhead = false;
    // Only the control connection's peer may connect to a listening socket that has this set
    // (dotted IPv4); others are turned away and the wait goes on. Empty: anyone.
    std::string AcceptPeer;

    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnect; // the socket-level connect completed
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    TNotifyEvent OnPacketSent;
    TNotifyEvent OnPacketRecvd;
    TOnErrorEvent OnError;
    THandlerEvent OnConnectionRequired;
    TNotifyEvent OnDataArrival;
    TNotifyEvent OnAccept;

    // --- read-only state ----------------------------------------------------------------------
    bool Connected() const { return countsAsConnected(m_state); }
    std::int16_t ReplyNumber() const { return m_replyNumber; }
    const std::string& LastReply() const { return m_lastReply; } // bytes, with its line end
    int LastErrorNo() const { return m_lastErrorNo; }
    const std::string& StatusText() const { return m_statusText; }
    const std::vector<std::string>& SocketInfo() const { return m_socketInfo; }
    virtual std::int64_t BytesSent() const { return m_bytesSent; }
    virtual std::int64_t BytesRecvd() const { return m_bytesRecvd; }

    // --- operations ---------------------------------------------------------------------------
    virtual int Accept();
    virtual void Connect();
    virtual void Disconnect();
    virtual std::string Transaction(const std::string& command);
    virtual void Abort();

    void Cancel();
    void CheckConnection();
    // length 0: up to the first zero byte.
    void SendBuffer(const char* data, std::uint16_t length);
    void Write(std::string_view text);
    void Writeln(std::string_view text);
    std::string Read(std::uint16_t count);
    std::string ReadLn();
    // Refuses anything but a readable regular file before a byte is sent.
    void SendFile(const std::string& path);
    // Receives until the peer closes, through the atomic writer: the old file is replaced only when
    // the transfer ended normally; after a failure it is left as it was.
    void CaptureFile(const std::string& path);
    void Listen(bool wait);
    bool DataAvailable();
    void ClearInput();
    void ResolveHost();
    std::string ErrorText(int errorNo);
    std::string CheckSocketError(int ignore);
    void ReportStatus(int level, std::string_view text);
    void Close();
    void TimerOn();
    void TimerOff();
    void TimerFired();
    std::string LocalAddressCommas();
    std::string LocalPortCommas();

    // --- ours -------------------------------------------------------------------------------
    // ReadLn, except that the bytes of a last line the peer ended by closing are returned instead
    // of being lost (empty only when nothing was left).
    std::string ReadLnKeepingRest();
    // SendFile and CaptureFile for a file their caller has already opened and checked.
    void SendOpenFile(const ReadableFile& file);
    void CaptureInto(AtomicFileWriter& target);
    // Puts a socket returned by Accept in place of the listening one, which is closed.
    void InstallAccepted(int handle);
    // The descriptor, for an event loop that wants to watch the socket while no operation runs.
    int Handle() const { return m_fd; }
    // Looks at what happened to the socket since the last look: a peer that closed (Close, then
    // OnDisconnect), data that arrived (OnDataArrival), an incoming connection. The event pump
    // calls this after every pass; an application may call it from its own socket notifier.
    void PollNotifications();
    // Dotted IPv4 address of the connected peer, empty when there is none.
    std::string PeerAddress() const;
    // SO_LINGER: on with 0 seconds makes Close reset the connection; off delivers queued data.
    void SetLinger(bool on, int seconds = 0);
    bool TimedOut() const { return m_timedOut; }
    bool CancelRequested() const { return m_cancel; }

    // --- TLS ------------------------------------------------------------------------------------
    // Puts TLS over the connected socket: the handshake runs at once, bounded by limitMs of
    // silence (0: TimeOut, and no limit when that is 0 too). Everything read and written afterwards
    // goes through the channel. Raises ETlsError when the handshake fails (the session is closed).
    void StartTls(const std::string& hostName, const std::string& trustFile, const TlsChannel* resumeFrom,
                  int limitMs = 0);
    // The TLS layer while one is in place, else nullptr.
    const TlsChannel* tlsChannel() const { return m_tls.get(); }

protected:
    // Milliseconds a line read may wait without a byte before the session gives up (0: no limit).
    virtual int replyIdleLimit() const { return 0; }
    // Closes the session and raises EReplyTimeOut.
    [[noreturn]] void raiseReplyTimeOut(int milliseconds);
    void clearCancel() { m_cancel = false; }
    // Waits until the socket is readable (or writable), the time-out timer fires, `until` passes or
    // the wait is woken. Never spins.
    void waitSocket(short events, std::optional<PumpClock::time_point> until = std::nullopt);
    // The reply number rules of Transaction applied to a line.
    static std::int16_t replyNumberOf(std::string_view line);
    void setLastReply(std::string line);
    bool destroying() const { return m_destroying; }

private:
    // Where the socket stands, one value at a time. What is left beside it (the cancel request,
    // the time-out's outcome, the object being destroyed) says what happened to the running
    // operation, not where the connection is.
    enum class State : std::uint8_t {
        Idle,          // a fresh socket, nothing under way
        Connecting,    // connect() is under way
        ConnectFailed, // the socket is replaced before the next attempt and must not turn
                       // "connected" later when a late handshake completes
        Connected,     // data may flow (through TLS once its handshake is done)
        DataAnnounced, // connected, and OnDataArrival has told about unread data
        TlsHandshake,  // connected; TLS is being set up and nothing else may use the socket
        TlsClosing,    // close_notify is on its way and the peer's end is read; nothing else may
                       // use the socket
        Listening,     // Listen(false): OnAccept fires when a peer comes
        PeerAnnounced, // Listen(false): OnAccept has told about the waiting peer
        ListenWaiting, // Listen(true): Accept waits for a peer
        PeerWaiting,   // Listen(true): a peer is there to be accepted
        ListenFailed,  // Listen(true): the listening socket reported an error
    };
    static constexpr bool countsAsConnected(State s) {
        return s == State::Connected || s == State::DataAnnounced || s == State::TlsHandshake ||
               s == State::TlsClosing || s == State::PeerAnnounced || s == State::PeerWaiting ||
               s == State::ListenFailed;
    }
    bool dataMayFlow() const { return m_state == State::Connected || m_state == State::DataAnnounced; }
    enum class LineStep : std::uint8_t { Complete, PeerClosed, More };

    // The event pump tells every session after each pass; the session then looks at its socket.
    struct PumpNotice : pump_detail::PumpListener {
        explicit PumpNotice(TSockSession& s) : session(s) {}
        void pumpPassed() override { session.PollNotifications(); }
        TSockSession& session;
    };

    std::string readLine(bool keepRest);
    // One look at the socket for the line being read: what is there up to the line end is taken.
    LineStep takeLineBytes(std::string& line, PumpClock::time_point& lastByte);
    // Waits for more of the line; raises when cancelled or when idleMs passed since lastByte.
    void awaitLineBytes(PumpClock::time_point lastByte, int idleMs);
    void sendChunk(const char* data, std::size_t size, PumpClock::time_point& lastProgress);
    void noteSent(ssize_t count, PumpClock::time_point& lastProgress);
    // After a send that could not go on: raises for a socket error or after TimeOut of silence
    // since lastProgress, else waits until the socket takes more.
    void awaitRoomToSend(PumpClock::time_point lastProgress);
    // Connect's steps: the address (OnInvalidHost may offer another), the connect() call, and
    // what a failed or given-up attempt leaves.
    void resolveOrAsk();
    void beginConnect();
    [[noreturn]] void connectFailed();
    // What PollNotifications looks at, by state.
    void noticeConnectDone();
    void noticePeer();
    void noticeData();
    // recv and send without waiting, through the TLS layer when there is one. -1 with errno
    // EAGAIN when the socket has to become ready first (m_tlsWait says which way for TLS).
    ssize_t ioRecv(char* buffer, std::size_t size, bool peek);
    // ioRecv of a plain socket with ReadAhead: from the bytes held, refilled when they are used up.
    ssize_t recvAhead(char* buffer, std::size_t size, bool peek);
    bool holdsReadAhead() const { return m_aheadBegin != m_aheadEnd; }
    ssize_t ioSend(const char* data, std::size_t size);
    // Sends close_notify before the socket closes; waits for room at most a short while.
    void shutdownTls(bool mayWait);
    std::string readTls(std::uint16_t count);
    void initSockets();
    int createSocket(bool lingerReset);
    void closeHandle();
    void throwSockError(const std::string& text);
    [[noreturn]] void raiseAbort(const char* text);
    // Runs a send or receive loop with the time-out timer on, and off again however the loop ends.
    // A loop ended by a cancel (the time-out's included) raises the abort.
    void timedDataLoop(const std::function<void()>& loop);
    void fireNotify(const TNotifyEvent& event);

    PumpNotice m_pumpNotice{*this};
    int m_fd = -1;
    State m_state = State::Idle;
    std::unique_ptr<char[]> m_buffer; // 65,536 bytes plus a terminating byte
    std::unique_ptr<char[]> m_ahead;  // ReadAhead: what was read and not yet taken, from m_aheadBegin
    std::size_t m_aheadBegin = 0;
    std::size_t m_aheadEnd = 0;
    std::uint32_t m_address = 0; // IPv4 in network order; 0 = none
    std::unique_ptr<TThreadTimer> m_timer;
    std::unique_ptr<TlsChannel> m_tls;
    short m_tlsWait = 0; // POLLIN or POLLOUT: what the TLS layer last said it waits for

    bool m_cancel = false;
    bool m_destroying = false;
    bool m_timedOut = false;

    std::int16_t m_replyNumber = 0;
    std::string m_lastReply;
    int m_lastErrorNo = 0;
    std::string m_statusText;
    std::vector<std::string> m_socketInfo;
    std::int64_t m_bytesSent = 0;
    std::int64_t m_bytesRecvd = 0;
};

} // namespace velmo
