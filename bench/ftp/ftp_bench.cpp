// Moves a 1 GiB file to and from a local FTP server with velmo-ftp and with curl, taking turns, and
// prints both throughputs, in plain FTP and over TLS; then measures the processor time velmo-ftp
// spends while a server takes three seconds to answer a command. The line before the last is the
// TLS ratio against curl, the last the plain download ratio.
//
// Plain FTP also downloads a file of --device-mib (2 GiB) to /dev/null, where only the clients count.
//
//   ftp_bench [--server vsftpd|pyftpdlib] [--rounds N] [--size-mib N] [--device-mib N] [--no-tls]

#include "bench/common/child.h"
#include "tests/ftp/support/real_servers.h"
#include "tests/ftp/support/scripted_server.h"
#include "tests/ftp/support/tls_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace velmo::test;

namespace {

long long fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

void makeFile(const std::string& path, long long size) {
    std::mt19937_64 random(7);
    std::string block(1 << 20, '\0');
    std::ofstream out(path, std::ios::binary);
    for (long long written = 0; written < size; written += static_cast<long long>(block.size())) {
        // Each mebibyte differs a little, so a misplaced block would show.
        for (std::size_t i = 0; i < block.size(); i += 4096)
            block[i] = static_cast<char>(random());
        out.write(block.data(), static_cast<std::streamsize>(
                                    std::min(static_cast<long long>(block.size()), size - written)));
    }
}

bool sameContent(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount() ||
            std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(fa.gcount())) != 0)
            return false;
        if (fa.gcount() == 0)
            return true;
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Throughputs in MiB/s and processor seconds, one entry a round.
struct Series {
    std::vector<double> rate, cpu;
};

struct Rates {
    Series ourGet, curlGet, ourPut, curlPut;
    Series ourDevice, curlDevice; // downloads to /dev/null, without a file system in the way
};

// velmo-ftp and curl take turns moving the file down and up, `rounds` times. ourExtra and
// curlExtra are what each needs for TLS (nothing for plain FTP).
// With deviceSize, both also download a file of that size to /dev/null.
bool runRounds(RealFtpServer& server, const TempDir& local, long long size, int rounds,
               const std::vector<std::string>& ourExtra, const std::vector<std::string>& curlExtra,
               Rates& rates, long long deviceSize = 0) {
    const std::string name = "bench.bin";
    makeFile(server.localPath(name), size);
    const std::string deviceName = "device.bin";
    if (deviceSize > 0)
        makeFile(server.localPath(deviceName), deviceSize);
    const std::string remoteDir = server.writableDir().empty() ? "" : server.writableDir() + "/";
    const std::string url = "ftp://127.0.0.1:" + std::to_string(server.port()) + "/" + remoteDir;
    const std::string account = server.user() + ":" + server.password();
    std::vector<std::string> login = {VELMO_FTP_TOOL,
                                      "--host",
                                      "127.0.0.1",
                                      "--port",
                                      std::to_string(server.port()),
                                      "--user",
                                      server.user(),
                                      "--pass",
                                      server.password(),
                                      "--passive",
                                      "--report-level",
                                      "0"};
    login.insert(login.end(), ourExtra.begin(), ourExtra.end());
    auto velmo = [&](std::vector<std::string> commands) {
        std::vector<std::string> args = login;
        if (!remoteDir.empty())
            commands.insert(commands.begin(), {"cd", server.writableDir()});
        args.insert(args.end(), commands.begin(), commands.end());
        args.insert(args.end(), {"quit"});
        return args;
    };
    auto curl = [&](std::vector<std::string> args) {
        args.insert(args.begin(), curlExtra.begin(), curlExtra.end());
        args.insert(args.begin(), {"curl", "-s", "-S", "--user", account});
        return args;
    };
    const double mib = static_cast<double>(size) / (1 << 20);
    bool checked = false;
    for (int round = 1; round <= rounds; ++round) {
        struct Step {
            const char* label;
            std::vector<std::string> argv;
            std::string result; // the file that must have the full size afterwards; empty: /dev/null
            Series* into;
        };
        std::vector<Step> steps = {
            {"velmo-ftp get", velmo({"quote", "TYPE I", "get", name, local.file("ours.bin")}),
             local.file("ours.bin"), &rates.ourGet},
            {"curl get", curl({"-o", local.file("curl.bin"), url + name}), local.file("curl.bin"),
             &rates.curlGet},
            {"velmo-ftp put", velmo({"quote", "TYPE I", "put", local.file("up.bin"), "ours_up.bin"}),
             server.localPath("ours_up.bin"), &rates.ourPut},
            {"curl put", curl({"-T", local.file("up.bin"), url + "curl_up.bin"}),
             server.localPath("curl_up.bin"), &rates.curlPut},
        };
        if (deviceSize > 0) {
            steps.push_back({"velmo-ftp get >/dev/null",
                             velmo({"quote", "TYPE I", "get", deviceName, "/dev/null"}), "",
                             &rates.ourDevice});
            steps.push_back(
                {"curl get >/dev/null", curl({"-o", "/dev/null", url + deviceName}), "", &rates.curlDevice});
        }
        std::printf("round %d:", round);
        for (auto& s : steps) {
            if (!s.result.empty())
                ::unlink(s.result.c_str());
            // The step before may have left a gigabyte to write back; it would slow whoever comes next.
            ::sync();
            const velmo::bench::ChildRun r = velmo::bench::runChild(s.argv);
            if (!r.ok || (!s.result.empty() && fileSize(s.result) != size)) {
                std::printf("\n%s failed\n", s.label);
                return false;
            }
            const double rate =
                (s.result.empty() ? static_cast<double>(deviceSize) / (1 << 20) : mib) / r.seconds;
            s.into->rate.push_back(rate);
            s.into->cpu.push_back(r.cpu);
            std::printf("  %s %.0f MiB/s", s.label, rate);
            std::fflush(stdout);
        }
        std::printf("\n");
        if (!checked) {
            checked = true;
            if (!sameContent(local.file("ours.bin"), server.localPath(name)) ||
                !sameContent(local.file("up.bin"), server.localPath("ours_up.bin"))) {
                std::printf("velmo-ftp transferred different bytes\n");
                return false;
            }
        }
    }
    return true;
}

double ratio(const Series& ours, const Series& curl) {
    return median(ours.rate) / median(curl.rate);
}

void printRow(const char* label, const Series& ours, const Series& curl) {
    std::printf("%s velmo-ftp %.0f MiB/s (processor %.2f s), curl %.0f MiB/s (processor %.2f s), median; "
                "ratio %.2f\n",
                label, median(ours.rate), median(ours.cpu), median(curl.rate), median(curl.cpu),
                ratio(ours, curl));
}

void printRates(const char* label, const Rates& r) {
    const std::string l(label);
    printRow((l + "download:").c_str(), r.ourGet, r.curlGet);
    printRow((l + "upload:  ").c_str(), r.ourPut, r.curlPut);
    if (!r.ourDevice.rate.empty())
        printRow((l + "download to /dev/null:").c_str(), r.ourDevice, r.curlDevice);
}

} // namespace

int main(int argc, char** argv) {
    std::string kind = ::geteuid() == 0 ? "vsftpd" : "pyftpdlib";
    int rounds = 3;
    long long size = 1LL << 30;
    long long deviceSize = 2LL << 30;
    bool tls = true;
    for (int i = 1; i < argc; ++i) {
        const std::string o = argv[i];
        if (o == "--no-tls")
            tls = false;
        else if (i + 1 >= argc)
            break;
        else if (o == "--server")
            kind = argv[++i];
        else if (o == "--rounds")
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (o == "--size-mib")
            size = std::max(1LL, std::atoll(argv[++i])) << 20;
        else if (o == "--device-mib")
            deviceSize = std::max(1LL, std::atoll(argv[++i])) << 20;
    }

    TempDir local;
    makeFile(local.file("up.bin"), size);
    const double mib = static_cast<double>(size) / (1 << 20);
    Rates plain;
    {
        std::unique_ptr<RealFtpServer> server = kind == "vsftpd" ? startVsftpd() : startPyftpdlib();
        std::printf("server: %s on 127.0.0.1:%d, file %.0f MiB, %d rounds, both clients passive\n",
                    kind.c_str(), server->port(), mib, rounds);
        if (!runRounds(*server, local, size, rounds, {}, {}, plain, deviceSize))
            return 1;
    }
    printRates("", plain);

    // The same over TLS: vsftpd demanding TLS and session reuse, curl told to require TLS and to
    // take the self-signed certificate, velmo-ftp pinning it.
    Rates overTls;
    if (tls) {
        const TempDir certDir(TempDir::Settings::Keep);
        const TlsFiles cert = makeSelfSigned(certDir.path(), "localhost", "IP:127.0.0.1");
        std::unique_ptr<RealFtpServer> server = kind == "vsftpd" ? startVsftpd(&cert) : startPyftpdlib(&cert);
        std::printf("TLS: %s on 127.0.0.1:%d\n", kind.c_str(), server->port());
        if (!runRounds(*server, local, size, rounds, {"--tls-fingerprint", cert.fingerprint},
                       {"--ssl-reqd", "-k"}, overTls))
            return 1;
        printRates("tls ", overTls);
    }

    // A server that takes three seconds to answer: the client must wait, not spin.
    ScriptedFtpServer slow;
    slow.reply("USER", "230 ok\r\n");
    slow.on("NOOP", [](ScriptedFtpServer::Session& s, const std::string&) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        s.send("200 finally\r\n");
    });
    const velmo::bench::ChildRun wait =
        velmo::bench::runChild({VELMO_FTP_TOOL, "--host", "127.0.0.1", "--port", std::to_string(slow.port()),
                                "--user", "u", "--report-level", "0", "quote", "NOOP", "quit"});
    std::printf("velmo-ftp processor time while the server takes 3 s to answer: %.3f s over %.1f s (target "
                "<= 0.05 s)\n",
                wait.cpu, wait.seconds);
    if (tls) {
        const double both =
            std::min(ratio(overTls.ourGet, overTls.curlGet), ratio(overTls.ourPut, overTls.curlPut));
        std::printf("tls ratio vs curl: %.2f (the lower of download and upload, target >= 0.9)\n", both);
    }
    std::printf("device ratio vs curl: %.2f (the lower of the download to /dev/null and the upload, target "
                ">= 1.0)\n",
                std::min(ratio(plain.ourDevice, plain.curlDevice), ratio(plain.ourPut, plain.curlPut)));
    std::printf("ratio vs curl: %.2f\n", ratio(plain.ourGet, plain.curlGet));
    return wait.ok ? 0 : 1;
}
