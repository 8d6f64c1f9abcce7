#pragma once

#include "ftp/SockSession.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Explicit FTP over TLS: the words of the API the application sees (mode, certificate, fingerprint)
// and the TLS layer of one non-blocking socket. The layer never waits by itself: every step that
// cannot go on says which way the socket has to become ready, and the session waits for that
// through the event pump.
namespace velmo {

enum class TlsMode : std::uint8_t { Off, IfPossible, Required };

// What a person needs to decide about a server certificate. All texts are UTF-8.
struct TlsCertificate {
    std::string sha256; // "AB:CD:…": upper-case hex pairs with colons
    std::string subject, issuer, notBefore, notAfter;
    std::string problem; // why the system did not trust it; empty when it did
};

// The canonical form ("AB:CD:…", 32 pairs) of a SHA-256 fingerprint typed by a person: colons and
// case optional, blanks around it ignored. Empty when the text is no such fingerprint.
std::string normalizeFingerprint(std::string_view text);

// Whether the reply line to AUTH TLS, PBSZ or PROT (the command as sent) is the one success the
// command has (234, 200, 200). Anything else, a stray reply included, is a refusal.
bool tlsReplyAccepted(std::string_view command, std::string_view reply);

// TLS could not be set up or broke down (handshake, certificate refused, protocol error).
class ETlsError : public ESockError {
public:
    using ESockError::ESockError;
};

// The server showed another certificate than the pinned one. Nothing was sent after the handshake.
class ETlsPinMismatch : public ETlsError {
public:
    using ETlsError::ETlsError;
};

// The TLS side of one connected socket (client role).
class TlsChannel {
public:
    enum class Step : std::uint8_t { Done, WantRead, WantWrite, Closed, Failed };

    // trustFile: PEM certificates trusted in place of the system's store (empty: the system's).
    // resumeFrom: a channel whose session the handshake offers for reuse (data connections).
    TlsChannel(int fd, const std::string& hostName, const std::string& trustFile,
               const TlsChannel* resumeFrom);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    Step handshake();
    // Reads (or peeks at) up to size bytes; count receives what was read when the step is Done.
    // A read fills the buffer from as many records as are already there.
    Step read(char* buffer, std::size_t size, bool peek, std::size_t& count);
    Step write(const char* data, std::size_t size, std::size_t& count);
    // Sends close_notify once; does not wait for the peer's.
    Step shutdown();
    // Decrypted or received bytes are waiting inside the layer: the socket need not become readable.
    bool hasPending() const;

    // The peer's certificate as the handshake got it, with the system's verdict in problem.
    TlsCertificate peerCertificate() const;
    bool sessionReused() const;
    // The last error's text (UTF-8) for a Failed step.
    const std::string& errorText() const { return m_error; }

private:
    struct Impl;
    Step judge(int result);
    std::unique_ptr<Impl> m_impl;
    std::string m_error;
};

} // namespace velmo
