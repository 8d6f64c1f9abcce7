#include "ftp/tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace velmo {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string hexPairs(const unsigned char* bytes, std::size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        if (i > 0)
            text += ':';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string nameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    // RFC 2253 order and separators, but non-ASCII characters as UTF-8 instead of escapes.
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, size > 0 ? static_cast<std::size_t>(size) : 0);
    BIO_free(bio);
    return text;
}

// "dd.mm.yyyy hh:nn:ss UTC", the way the program writes dates.
std::string timeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1)
        return {};
    char text[96];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d UTC", tm.tm_mday, tm.tm_mon + 1,
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::string verifyProblem(long result, const std::string& host) {
    switch (result) {
    case X509_V_OK:
        return {};
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "Das Zertifikat ist selbst signiert.";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "Die Zertifikatskette endet bei einem selbst signierten Zertifikat, dem das System nicht "
               "vertraut.";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "Der Aussteller des Zertifikats ist dem System nicht bekannt.";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "Das Zertifikat ist abgelaufen.";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "Das Zertifikat ist noch nicht gültig.";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "Das Zertifikat gilt nicht für den Server „" + host + "“.";
    default:
        return std::string("Das Zertifikat wurde nicht bestätigt: ") + X509_verify_cert_error_string(result);
    }
}

// The newest resumable session of a control connection and its data connections: every data
// connection offers it, and a ticket a data connection receives replaces it (a server may take a
// ticket only once).
struct SessionSlot {
    SSL_SESSION* session = nullptr;
    SessionSlot() = default;
    SessionSlot(const SessionSlot&) = delete;
    SessionSlot& operator=(const SessionSlot&) = delete;
    ~SessionSlot() {
        if (session)
            SSL_SESSION_free(session);
    }
};

int slotIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int keepNewSession(SSL* ssl, SSL_SESSION* session) {
    auto* slot = static_cast<SessionSlot*>(SSL_get_ex_data(ssl, slotIndex()));
    if (!slot || !SSL_SESSION_is_resumable(session))
        return 0;
    if (slot->session)
        SSL_SESSION_free(slot->session);
    slot->session = session;
    return 1; // the slot owns it now
}

struct CtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};

std::string lastOpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// The library writes to its socket without MSG_NOSIGNAL: a close_notify to a peer that has gone
// must give EPIPE, not end the program.
void ignoreBrokenPipes() {
    static const bool done = [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

std::shared_ptr<SSL_CTX> makeContext(const std::string& trustFile) {
    ignoreBrokenPipes();
    std::shared_ptr<SSL_CTX> ctx(SSL_CTX_new(TLS_client_method()), CtxFree{});
    if (!ctx)
        throw ETlsError("TLS konnte nicht eingerichtet werden: " + lastOpenSslError());
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // A peer that closes without close_notify ends the stream like a plain FIN; the announced
    // size and the completion reply judge whether everything came.
    SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Records come in as few reads as possible: bulk data is the common case.
    SSL_CTX_set_read_ahead(ctx.get(), 1);
    // Room for several full records, so one recv() brings in as many as the socket holds and a
    // read fills the session's 64 KiB buffer without a system call per record.
    SSL_CTX_set_default_read_buffer_len(ctx.get(), std::size_t{256} * 1024);
    SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx.get(), keepNewSession);
    const int loaded = trustFile.empty()
                           ? SSL_CTX_set_default_verify_paths(ctx.get())
                           : SSL_CTX_load_verify_locations(ctx.get(), trustFile.c_str(), nullptr);
    if (loaded != 1)
        throw ETlsError("Die vertrauenswürdigen Zertifikate konnten nicht geladen werden: " +
                        lastOpenSslError());
    // The verdict is taken after the handshake (pinning and the question to the user may overrule
    // it), so the handshake itself does not stop at an untrusted certificate.
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    return ctx;
}

} // namespace

std::string normalizeFingerprint(std::string_view text) {
    // "sha256 Fingerprint=AB:CD:…" as the openssl tool prints it is taken as well.
    if (const std::size_t eq = text.find('='); eq != std::string_view::npos)
        text.remove_prefix(eq + 1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    unsigned char bytes[32];
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (count == sizeof bytes || i + 1 >= text.size())
            return {};
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0)
            return {};
        bytes[count++] = static_cast<unsigned char>(high * 16 + low);
        i += 2;
        // A colon stands only between two pairs.
        if (i < text.size() && text[i] == ':') {
            if (i + 1 >= text.size())
                return {};
            ++i;
        }
    }
    return count == sizeof bytes ? hexPairs(bytes, count) : std::string();
}

bool tlsReplyAccepted(std::string_view command, std::string_view reply) {
    const std::string_view code = command.starts_with("AUTH ") ? "234" : "200";
    if (!reply.starts_with(code))
        return false;
    // "2340" is no 234; "234 ..." and "234-..." (the first line of a longer reply) are.
    return reply.size() == 3 || reply[3] < '0' || reply[3] > '9';
}

struct TlsChannel::Impl {
    std::shared_ptr<SSL_CTX> ctx;
    std::shared_ptr<SessionSlot> slot;
    SSL* ssl = nullptr;
    std::string host;
    ~Impl() {
        if (ssl)
            SSL_free(ssl);
    }
};

TlsChannel::TlsChannel(int fd, const std::string& hostName, const std::string& trustFile,
                       const TlsChannel* resumeFrom)
    : m_impl(std::make_unique<Impl>()) {
    Impl& d = *m_impl;
    d.host = hostName;
    d.ctx = resumeFrom ? resumeFrom->m_impl->ctx : makeContext(trustFile);
    d.slot = resumeFrom ? resumeFrom->m_impl->slot : std::make_shared<SessionSlot>();
    d.ssl = SSL_new(d.ctx.get());
    if (!d.ssl || SSL_set_fd(d.ssl, fd) != 1)
        throw ETlsError("TLS konnte nicht eingerichtet werden: " + lastOpenSslError());
    SSL_set_ex_data(d.ssl, slotIndex(), d.slot.get());
    SSL_set_connect_state(d.ssl);
    in_addr ipv4{};
    if (::inet_pton(AF_INET, hostName.c_str(), &ipv4) == 1) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(d.ssl), hostName.c_str());
    } else {
        SSL_set_tlsext_host_name(d.ssl, hostName.c_str());
        SSL_set1_host(d.ssl, hostName.c_str());
    }
    if (resumeFrom && d.slot->session)
        SSL_set_session(d.ssl, d.slot->session);
}

TlsChannel::~TlsChannel() = default;

TlsChannel::Step TlsChannel::judge(int result) {
    const int saved = errno;
    switch (SSL_get_error(m_impl->ssl, result)) {
    case SSL_ERROR_NONE:
        return Step::Done;
    case SSL_ERROR_WANT_READ:
        return Step::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return Step::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return Step::Closed;
    case SSL_ERROR_SYSCALL:
        m_error = lastOpenSslError();
        if (saved == 0 && m_error.empty())
            return Step::Closed;
        if (m_error.empty())
            m_error = std::strerror(saved);
        errno = saved;
        return Step::Failed;
    default:
        m_error = lastOpenSslError();
        if (m_error.empty())
            m_error = "TLS-Protokollfehler";
        errno = EPROTO;
        return Step::Failed;
    }
}

TlsChannel::Step TlsChannel::handshake() {
    ERR_clear_error();
    errno = 0;
    return judge(SSL_do_handshake(m_impl->ssl));
}

TlsChannel::Step TlsChannel::read(char* buffer, std::size_t size, bool peek, std::size_t& count) {
    count = 0;
    while (count < size) {
        ERR_clear_error();
        errno = 0;
        std::size_t got = 0;
        const int result = peek ? SSL_peek_ex(m_impl->ssl, buffer, size, &got)
                                : SSL_read_ex(m_impl->ssl, buffer + count, size - count, &got);
        if (result != 1) {
            const Step step = judge(result);
            // What arrived before is delivered first; the reason to stop shows on the next read.
            return count > 0 && step != Step::Failed ? Step::Done : step;
        }
        count += got;
        if (peek || !hasPending())
            break;
    }
    return Step::Done;
}

TlsChannel::Step TlsChannel::write(const char* data, std::size_t size, std::size_t& count) {
    count = 0;
    ERR_clear_error();
    errno = 0;
    const int result = SSL_write_ex(m_impl->ssl, data, size, &count);
    return result == 1 ? Step::Done : judge(result);
}

TlsChannel::Step TlsChannel::shutdown() {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_shutdown(m_impl->ssl);
    // 0: our close_notify is out; the peer's is not awaited.
    return result >= 0 ? Step::Done : judge(result);
}

bool TlsChannel::hasPending() const {
    return SSL_has_pending(m_impl->ssl) == 1;
}

bool TlsChannel::sessionReused() const {
    return SSL_session_reused(m_impl->ssl) == 1;
}

TlsCertificate TlsChannel::peerCertificate() const {
    TlsCertificate info;
    X509* cert = SSL_get1_peer_certificate(m_impl->ssl);
    if (!cert) {
        info.problem = "Der Server hat kein Zertifikat gezeigt.";
        return info;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &size) == 1)
        info.sha256 = hexPairs(digest, size);
    info.subject = nameText(X509_get_subject_name(cert));
    info.issuer = nameText(X509_get_issuer_name(cert));
    info.notBefore = timeText(X509_get0_notBefore(cert));
    info.notAfter = timeText(X509_get0_notAfter(cert));
    info.problem = verifyProblem(SSL_get_verify_result(m_impl->ssl), m_impl->host);
    X509_free(cert);
    return info;
}

} // namespace velmo
