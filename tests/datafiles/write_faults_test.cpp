// Every writer of the program against the faults a write can meet: a full disk, a directory it may
// not write to, a process killed half-way, and targets that are no plain file. Whatever happens, the
// old file stays whole; links are followed, devices and FIFOs written in place.
#include "datafiles/articlefile.h"
#include "datafiles/catalogindex.h"
#include "datafiles/orderfiles.h"
#include "datafiles/picturelists.h"
#include "ftp/FtpClient.h"
#include "platform/errors.h"
#include "platform/linefile.h"
#include "platform/settings_store.h"
#include "tests/ftp/support/scripted_server.h"
#include "tests/support/file_size_limit.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

namespace {

using namespace velmo;
namespace fs = std::filesystem;

const std::string kOld = "alt;;bleibt\r\n";

void plant(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Each writer through its own entry point, writing new content of about `bytes` bytes to path.
// A refusal (a throw, or the catalog index's write-protected answer) is a throw here.
struct Writer {
    const char* name;
    std::function<void(const std::string& path, std::size_t bytes)> write;
    bool createsMissing = true; // the catalog index is only ever replaced, never created by a save
};

Lines manyLines(std::size_t bytes, const std::string& line) {
    return Lines(bytes / (line.size() + 2) + 1, line);
}

const std::vector<Writer>& writers() {
    static const std::vector<Writer> all = {
        {"line file",
         [](const std::string& path, std::size_t bytes) { writeLines(path, manyLines(bytes, "neu")); }},
        {"settings store",
         [](const std::string& path, std::size_t bytes) {
             SettingsStore::fromText(path, "")->writeString("Neu", std::string(bytes, 'n'));
         }},
        {"catalog index",
         [](const std::string& path, std::size_t bytes) {
             if (datafiles::saveCatalogIndex(path, manyLines(bytes, "Kerzen;;kerzen.db")) !=
                 datafiles::CatalogSaveResult::Saved)
                 throw EFCreateError(datafiles::writeProtectedMessage(path));
         },
         false},
        {"article file",
         [](const std::string& path, std::size_t bytes) {
             datafiles::ArticleValues article;
             article.fill("xxxx");
             std::vector<datafiles::ArticleValues> articles(bytes / 60 + 1, article);
             datafiles::saveArticleFile(path, "Kopf", articles);
         }},
        {"picture list",
         [](const std::string& path, std::size_t bytes) {
             datafiles::savePictureList(path, manyLines(bytes, "bild.jpg"));
         }},
        {"order file",
         [](const std::string& path, std::size_t bytes) {
             datafiles::OrderRecord order;
             order.BestellNr = "4711";
             order.Name = "Anna";
             datafiles::saveOrders(path, std::vector<datafiles::OrderRecord>(bytes / 30 + 1, order));
         }},
        {"FTP download",
         [](const std::string& path, std::size_t bytes) {
             test::ScriptedFtpServer server;
             server.setFile("neu.bin", std::string(bytes, 'n'));
             TFtpClient client;
             client.Host = "127.0.0.1";
             client.Port = server.port();
             client.UserID = "anna";
             client.Password = "secret";
             client.Passive = true;
             client.TimeOut = 5000;
             client.Connect();
             client.Download("neu.bin", path);
             client.Disconnect();
         }},
    };
    return all;
}

class ScratchDir {
public:
    ScratchDir() {
        char name[] = "/tmp/velmo-write-faults-XXXXXX";
        m_path = ::mkdtemp(name);
        // Reachable for the unprivileged child of the read-only case.
        ::chmod(m_path.c_str(), 0755);
    }
    ~ScratchDir() {
        ::chmod(m_path.c_str(), 0755);
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(m_path))
            names.insert(e.path().filename().string());
        return names;
    }

private:
    std::string m_path;
};

// Runs f in a child process; its exit status tells whether f refused to write (0), returned (1) or
// failed otherwise (4).
int refusedInChild(const std::function<void()>& prepare, const std::function<void()>& f) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        prepare();
        try {
            f();
        } catch (const EFCreateError&) {
            ::_exit(0);
        } catch (...) {
            ::_exit(4);
        }
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool isHiddenTemporary(const std::string& name, const std::string& target) {
    return name.starts_with("." + target + ".") && name.ends_with(".tmp");
}

TEST(WriteFaults, EveryWriterKeepsTheOldFileWhole) {
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        ScratchDir dir;
        const std::string target = dir.file("ziel.db");

        // Disk full: the write fails and leaves neither a changed file nor a temporary one.
        plant(target, kOld);
        {
            test::FileSizeLimit limit(4096);
            EXPECT_THROW(w.write(target, std::size_t{64} * 1024), EFCreateError);
        }
        EXPECT_EQ(readFileBytes(target), kOld);
        EXPECT_EQ(dir.entries(), std::set<std::string>{"ziel.db"});

        // A directory this user may not write to (as root: a child that gives up its privileges).
        // The file itself is writable for everyone, so only the directory stands in the way.
        ::chmod(target.c_str(), 0666);
        ::chmod(dir.path().c_str(), 0555);
        EXPECT_EQ(refusedInChild(
                      [] {
                          if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                              ::_exit(2);
                      },
                      [&] { w.write(target, 100); }),
                  0);
        ::chmod(dir.path().c_str(), 0755);
        EXPECT_EQ(readFileBytes(target), kOld);
        EXPECT_EQ(dir.entries(), std::set<std::string>{"ziel.db"});

        // Killed half-way: the child is stopped inside its write (at a file size limit whose signal
        // stops it) and killed there. The target is untouched; the partial bytes sit in a hidden
        // temporary file that no reader takes for the target, and the next write succeeds.
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::signal(SIGXFSZ, [](int) { ::raise(SIGSTOP); });
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = rlim_t{32} * 1024;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            try {
                w.write(target, std::size_t{1024} * 1024);
            } catch (...) {
            }
            ::_exit(3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, WUNTRACED), pid);
        ASSERT_TRUE(WIFSTOPPED(status)) << "the writer was not stopped mid-write";
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        EXPECT_EQ(readFileBytes(target), kOld);
        for (const std::string& name : dir.entries()) {
            if (name != "ziel.db") {
                EXPECT_TRUE(isHiddenTemporary(name, "ziel.db")) << name;
                EXPECT_EQ(fs::file_size(dir.file(name)), 32u * 1024);
            }
        }
        EXPECT_EQ(dir.entries().size(), 2u);
        w.write(target, 100);
        EXPECT_NE(readFileBytes(target), kOld);
    }
}

// How each kind of target is written: a symbolic link's target is replaced and the link stays (also
// a dangling one, whose target is created); a directory is refused and left as it is; a device and
// a FIFO are written in place and never renamed over.
TEST(WriteFaults, TargetsThatAreNoPlainFile) {
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        ScratchDir dir;

        plant(dir.file("echt.db"), kOld);
        ASSERT_EQ(::symlink("echt.db", dir.file("link.db").c_str()), 0);
        {
            test::FileSizeLimit limit(4096);
            EXPECT_THROW(w.write(dir.file("link.db"), std::size_t{64} * 1024), EFCreateError);
        }
        EXPECT_EQ(readFileBytes(dir.file("echt.db")), kOld);
        w.write(dir.file("link.db"), 100);
        EXPECT_TRUE(fs::is_symlink(dir.file("link.db")));
        EXPECT_NE(readFileBytes(dir.file("echt.db")), kOld);
        ASSERT_EQ(::symlink("fehlt.db", dir.file("lose.db").c_str()), 0);
        if (w.createsMissing)
            w.write(dir.file("lose.db"), 100);
        else
            EXPECT_THROW(w.write(dir.file("lose.db"), 100), EFCreateError);
        EXPECT_TRUE(fs::is_symlink(dir.file("lose.db")));
        EXPECT_EQ(fs::is_regular_file(fs::symlink_status(dir.file("fehlt.db"))), w.createsMissing);

        ASSERT_EQ(::mkdir(dir.file("ordner.db").c_str(), 0755), 0);
        plant(dir.file("ordner.db/drin"), kOld);
        EXPECT_THROW(w.write(dir.file("ordner.db"), 100), EFCreateError);
        EXPECT_EQ(readFileBytes(dir.file("ordner.db/drin")), kOld);

        // A null device of our own where the file system allows one; the machine's otherwise.
        const std::string device = dir.file("null.db");
        const bool ownDevice = ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                               ::close(::open(device.c_str(), O_WRONLY)) == 0;
        if (!ownDevice) {
            ::unlink(device.c_str());
            ASSERT_EQ(::symlink("/dev/null", device.c_str()), 0);
        }
        w.write(device, std::size_t{64} * 1024);
        EXPECT_TRUE(fs::is_character_file(device));

        const std::string fifo = dir.file("fifo.db");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        ::fcntl(reader, F_SETFL, 0);
        // Held open until the writer is done, so that the reader sees no end before it began.
        const int keepOpen = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        std::string received;
        std::thread drain([&] {
            char buf[65536];
            for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;)
                received.append(buf, static_cast<std::size_t>(n));
        });
        EXPECT_NO_THROW(w.write(fifo, std::size_t{64} * 1024));
        ::close(keepOpen);
        drain.join();
        ::close(reader);
        EXPECT_GE(received.size(), 64u * 1024);
        EXPECT_TRUE(fs::is_fifo(fifo));
    }
}

} // namespace
