#pragma once

#include "tests/ftp/support/tls_files.h"
#include "tests/support/temp_dir.h"

#include <memory>
#include <string>

// Real FTP servers for the tests, started on 127.0.0.1 in a temporary directory of their own and
// stopped (and their directory removed) when the object goes. A server that cannot be started
// throws std::runtime_error with its log, so the test fails loudly instead of being skipped.
namespace velmo::test {

class RealFtpServer {
public:
    virtual ~RealFtpServer();
    const std::string& name() const { return m_name; }
    int port() const { return m_port; }
    const std::string& user() const { return m_user; }
    const std::string& password() const { return m_password; }
    // The directory (relative to the login directory) where the account may write, and the
    // same directory on the local disk.
    const std::string& writableDir() const { return m_writableDir; }
    std::string localPath(const std::string& name) const;

protected:
    RealFtpServer() = default;
    void stop();

    std::string m_name;
    std::unique_ptr<TempDir> m_dir;
    std::string m_root;
    int m_pid = -1;
    int m_port = 0;
    std::string m_user;
    std::string m_password;
    std::string m_writableDir;
};

// /usr/bin/python3 -m pyftpdlib with a user and write access. With tls: its TLS handler, which
// demands TLS on the control and the data connections.
std::unique_ptr<RealFtpServer> startPyftpdlib(const TlsFiles* tls = nullptr);
// The demo shop's server (scripts/demo-ftpd, the script's path given): pyftpdlib speaking
// Windows-1252 names, with a user and write access.
std::unique_ptr<RealFtpServer> startDemoServer(const std::string& script);
// vsftpd in stand-alone mode with an anonymous account that may write below "pub". With tls: logins
// and data only over TLS, and every data connection must reuse the control connection's session.
std::unique_ptr<RealFtpServer> startVsftpd(const TlsFiles* tls = nullptr);

} // namespace velmo::test
