#pragma once

#include <string>

// Server certificates for the TLS tests, made with the openssl tool in a directory of the test's.
namespace velmo::test {

struct TlsFiles {
    std::string cert;        // PEM certificate of the server
    std::string key;         // its private key, unencrypted
    std::string ca;          // the authority that signed it; empty for a self-signed one
    std::string fingerprint; // SHA-256 as `openssl x509 -fingerprint -sha256` prints it
};

// A self-signed certificate for subjectAltName (e.g. "IP:127.0.0.1,DNS:localhost").
TlsFiles makeSelfSigned(const std::string& dir, const std::string& name, const std::string& altNames);
// A certificate for altNames signed by an authority of its own, whose certificate lands in ca.
TlsFiles makeAuthoritySigned(const std::string& dir, const std::string& name, const std::string& altNames);

} // namespace velmo::test
