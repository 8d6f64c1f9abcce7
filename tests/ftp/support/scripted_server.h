#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A small FTP server on 127.0.0.1 that runs in a thread of the test, records every command line it
// receives (the transcript) and answers from a script: fixed replies per verb, handlers that may
// wait, refuse, inject faults or drive the data connection, and plain defaults for the rest.
struct ssl_st;
struct ssl_ctx_st;

namespace velmo::test {

class ScriptedFtpServer {
public:
    // What a handler can do with the current control connection.
    class Session {
    public:
        void send(const std::string& raw);
        // The data connection as the last PASV or PORT arranged it: accepted from the passive
        // listener, or connected to the address the client announced (from `fromAddress`).
        int openData(const std::string& fromAddress = "127.0.0.1");
        void sendData(const std::string& bytes);
        std::string receiveData(); // until the client closes
        void closeData();
        // Opens a passive listener and returns its port.
        int listenPassive();
        const std::string& portHost() const { return m_portHost; }
        int portPort() const { return m_portPort; }
        void closeControl();
        // Puts TLS over the control connection (after a 234 reply); false when the handshake failed.
        bool startTls();
        // Waits (at most ms) until the client hangs up or sends something: a silent server that
        // does not outlive the client it keeps waiting.
        void waitForHangUp(int ms = 5000);
        // Takes in and drops whatever the client sends, without an answer, until it hangs up or ms
        // pass: a server stuck in the middle of something.
        void holdUntilClosed(int ms);

    private:
        friend class ScriptedFtpServer;
        int m_control = -1;
        int m_data = -1;
        int m_passive = -1;
        std::string m_portHost;
        int m_portPort = 0;
        bool m_usePassive = false;
        ssl_ctx_st* m_tlsContext = nullptr;
        ssl_st* m_ssl = nullptr;
        int m_dataReceiveBuffer = 0;
    };
    using Handler = std::function<void(Session&, const std::string& line)>;

    ScriptedFtpServer();
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    int port() const { return m_port; }
    // Raw bytes sent when a client connects (line ends included).
    void greeting(std::string raw);
    // Fixed raw answer for a verb (the first word, as sent).
    void reply(const std::string& verb, std::string raw);
    void on(const std::string& verb, Handler handler);
    // From now on AUTH TLS is answered with 234 and TLS with this certificate is put over the
    // control connection; PBSZ and PROT are accepted then. Data connections stay plain.
    void enableTls(const std::string& certFile, const std::string& keyFile);
    // SO_RCVBUF of the data connections from now on (0: the system's): a small one makes a
    // slowly reading server hold an upload back at once.
    void setDataReceiveBuffer(int bytes);

    // Data the default LIST, NLST and RETR handlers send; STOR stores into files.
    void setListing(std::string bytes);
    void setNameList(std::string bytes);
    void setFile(const std::string& name, std::string bytes);
    std::string file(const std::string& name) const;

    // Every command line received so far, without its line end.
    std::vector<std::string> transcript() const;
    void clearTranscript();

private:
    void run();
    void serve(int control);
    void dispatch(Session& s, const std::string& line);
    void defaultHandler(Session& s, const std::string& verb, const std::string& line);

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_activeControl{-1};
    mutable std::mutex m_mutex;
    std::string m_greeting = "220 scripted server ready\r\n";
    std::map<std::string, std::string> m_replies;
    std::map<std::string, Handler> m_handlers;
    std::string m_listing;
    std::string m_nameList;
    std::map<std::string, std::string> m_files;
    std::vector<std::string> m_transcript;
    ssl_ctx_st* m_tlsContext = nullptr;
    int m_dataReceiveBuffer = 0;
    std::thread m_thread;
};

} // namespace velmo::test
