#pragma once

#include "ftp/EventPump.h"
#include "platform/errors.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
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
class TThreadTimer;

using TNotifyEvent = std::function<void(TSockSession& Sender)>;
using THandlerEvent = std::function<void(TSockSession& Sender, bool& Handled)>;
using TOnHostResolved = std::function<void(TSockSession& Sender)>;
using TOnStatus = std::function<void(TSockSession& Sender, const std::string& Status)>;
using TOnErrorEvent =
    std::function<void(TSockSession& Sender, std::uint16_t Errno, const std::string& Errmsg)>;
using TTimerEvent = std::function<void(TThreadTimer& Sender)>;

// A periodic timer that fires only from inside the event pump. Setting a property to the value it
// already has does nothing; a real change (and assigning OnTimer) re-arms it: stop, then start when
// Interval is not 0, Enabled is true and OnTimer is assigned. So enabling a running timer again
// does not restart its period.
class TThreadTimer {
public:
    TThreadTimer();
    ~TThreadTimer();
    TThreadTimer(const TThreadTimer&) = delete;
    TThreadTimer& operator=(const TThreadTimer&) = delete;

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool value);
    unsigned Interval() const { return m_interval; }
    void SetInterval(unsigned milliseconds);
    const TTimerEvent& OnTimer() const { return m_onTimer; }
    void SetOnTimer(TTimerEvent handler);

    // Called by the event pump.
    bool armed() const { return m_armed; }
    PumpClock::time_point due() const { return m_due; }
    void fire();

private:
    void rearm();

    bool m_enabled = true;
    unsigned m_interval = 1000;
    TTimerEvent m_onTimer;
    bool m_armed = false;
    PumpClock::time_point m_due{};
};

class TFtpClient;

class TSockSession {
    friend class TFtpClient; // drives its data connection's file capture

public:
    TSockSession();
    virtual ~TSockSession();
    TSockSession(const TSockSession&) = delete;
    TSockSession& operator=(const TSockSession&) = delete;

    // --- settable properties and events -------------------------------------------------------
    std::string Host;    // name or dotted IPv4 address
    int Port = 0;        // server port; for a listening socket the local port (0 = any)
    int TimeOut = 0;     // milliseconds; 0 = no time-out
    int ReportLevel = 0; // status reports at or below this level reach OnStatus
    std::string Proxy;   // when set, Connect goes to Proxy:ProxyPort instead of Host:Port
    int ProxyPort = 0;
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
    bool Connected() const { return m_connected; }
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
    void SendFile(const std::string& path);
    // Receives until the peer closes. The bytes go to a temporary file beside path, which replaces
    // path only when the transfer ended normally; after a failure the old file is left as it was.
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

protected:
    // A file being received: written under a temporary name beside the target and renamed over it
    // by commit(); dropped without a trace otherwise.
    class CaptureTarget {
    public:
        explicit CaptureTarget(std::string path);
        ~CaptureTarget();
        CaptureTarget(const CaptureTarget&) = delete;
        CaptureTarget& operator=(const CaptureTarget&) = delete;
        void write(const char* data, std::size_t size);
        void commit();

    private:
        std::string m_path;
        std::string m_temp;
        int m_fd = -1;
        bool m_committed = false;
    };
    void captureInto(CaptureTarget& target);
    void clearCancel() { m_cancel = false; }
    // Waits until the socket is readable (or writable), the time-out timer fires or the wait is
    // woken. Never spins.
    void waitSocket(short events);
    // The reply number rules of Transaction applied to a line.
    static std::int16_t replyNumberOf(std::string_view line);
    void setLastReply(std::string line);
    bool destroying() const { return m_destroying; }

private:
    // Failed: a connect that did not succeed; the socket is replaced before the next attempt and
    // must not turn "connected" later when a late handshake completes.
    enum class State { None, Connecting, Failed, Connected, Listening };

    void initSockets();
    int createSocket(bool lingerReset);
    void closeHandle();
    void throwSockError(const std::string& text);
    [[noreturn]] void raiseAbort(const char* text);
    // Runs a send or receive loop with the time-out timer on, and off again however the loop ends.
    // A loop ended by a cancel (the time-out's included) raises the abort.
    void timedDataLoop(const std::function<void()>& loop);
    void fireNotify(const TNotifyEvent& event);

    int m_fd = -1;
    State m_state = State::None;
    std::unique_ptr<char[]> m_buffer; // 65,536 bytes plus a terminating byte
    std::uint32_t m_address = 0;      // IPv4 in network order; 0 = none
    std::unique_ptr<TThreadTimer> m_timer;

    bool m_cancel = false;
    bool m_destroying = false;
    bool m_timedOut = false;
    bool m_eventSeen = false;
    bool m_lastNotificationOk = true;
    bool m_listenWait = false;
    bool m_acceptNotified = false;
    bool m_dataNotified = false;

    bool m_connected = false;
    std::int16_t m_replyNumber = 0;
    std::string m_lastReply;
    int m_lastErrorNo = 0;
    std::string m_statusText;
    std::vector<std::string> m_socketInfo;
    std::int64_t m_bytesSent = 0;
    std::int64_t m_bytesRecvd = 0;
};

} // namespace velmo
