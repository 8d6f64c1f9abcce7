#include "tests/ftp/support/tls_files.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace velmo::test {

namespace {

void run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string fingerprintOf(const std::string& cert) {
    const std::string command = "openssl x509 -noout -fingerprint -sha256 -in '" + cert + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("failed: " + command);
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    std::string text = got ? line : "";
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos)
        throw std::runtime_error("no fingerprint from: " + command);
    text.erase(0, eq + 1);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Elliptic-curve keys: quick to make, so every run can have its own.
const char* const kKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

} // namespace

TlsFiles makeSelfSigned(const std::string& dir, const std::string& name, const std::string& altNames) {
    TlsFiles f;
    f.cert = dir + "/" + name + ".crt";
    f.key = dir + "/" + name + ".key";
    run(std::string("openssl req -x509 ") + kKey + " -days 2 -subj '/CN=" + name +
        "' -addext 'subjectAltName=" + altNames + "' -keyout '" + f.key + "' -out '" + f.cert + "'");
    f.fingerprint = fingerprintOf(f.cert);
    return f;
}

TlsFiles makeAuthoritySigned(const std::string& dir, const std::string& name, const std::string& altNames) {
    TlsFiles f;
    f.ca = dir + "/" + name + "-ca.crt";
    const std::string caKey = dir + "/" + name + "-ca.key";
    run(std::string("openssl req -x509 ") + kKey + " -days 2 -subj '/CN=Test-CA " + name +
        "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign -keyout '" +
        caKey + "' -out '" + f.ca + "'");
    f.cert = dir + "/" + name + ".crt";
    f.key = dir + "/" + name + ".key";
    const std::string request = dir + "/" + name + ".csr";
    run(std::string("openssl req -new ") + kKey + " -subj '/CN=" + name + "' -keyout '" + f.key + "' -out '" +
        request + "'");
    const std::string ext = dir + "/" + name + ".ext";
    std::ofstream(ext) << "subjectAltName=" << altNames << "\n";
    run("openssl x509 -req -days 2 -in '" + request + "' -CA '" + f.ca + "' -CAkey '" + caKey +
        "' -CAcreateserial -extfile '" + ext + "' -out '" + f.cert + "'");
    f.fingerprint = fingerprintOf(f.cert);
    return f;
}

} // namespace velmo::test
