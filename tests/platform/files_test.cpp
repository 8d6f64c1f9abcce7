// Line files, the settings store, Windows-1252 text and the mount table: the bytes that reach disk.
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/linefile.h"
#include "platform/mounts.h"
#include "platform/settings_store.h"
#include "tests/support/file_size_limit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmo;
namespace fs = std::filesystem;

namespace {

class Scratch {
public:
    Scratch() {
        char tmpl[] = "/tmp/velmo-files-XXXXXX";
        m_dir = ::mkdtemp(tmpl);
    }
    ~Scratch() {
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    }
    std::string file(const std::string& name) const { return m_dir + "/" + name; }
    const std::string& path() const { return m_dir; }

private:
    std::string m_dir;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(LineFiles, SplitAtEveryKindOfLineEnd) {
    struct Case {
        std::string text;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\rb", {"a", "", "b"}}, // LF CR is two breaks
        {"a\r\r\nb", {"a", "", "b"}},
        {std::string("x\0y\r\n", 5), {std::string("x\0y", 3)}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitLines(c.text), c.lines) << c.text;
}

TEST(LineFiles, WriteEndsEveryLineWithCrLfAndKeepsEveryByte) {
    Scratch dir;
    std::string all;
    for (int b = 0; b < 256; ++b)
        if (b != '\r' && b != '\n')
            all += static_cast<char>(b);
    const Lines lines{all, "", "letzte"};
    writeLines(dir.file("x.db"), lines);
    EXPECT_EQ(slurp(dir.file("x.db")), all + "\r\n\r\nletzte\r\n");
    EXPECT_EQ(readLines(dir.file("x.db")), lines);

    writeLines(dir.file("empty.db"), {});
    EXPECT_EQ(slurp(dir.file("empty.db")), "");
    EXPECT_TRUE(readLines(dir.file("empty.db")).empty());
}

TEST(LineFiles, LongLinesAndLoneCarriageReturns) {
    Scratch dir;
    const std::string big(1 << 20, 'x');
    spit(dir.file("big.db"), big + "\r" + big);
    Lines lines = readLines(dir.file("big.db"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].size(), big.size());
}

TEST(LineFiles, ReadFailuresNameTheFullPath) {
    Scratch dir;
    for (const std::string& path : {dir.file("missing.db"), dir.path()}) {
        try {
            readLines(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht geöffnet werden");
        }
    }
}

TEST(LineFiles, FailedWriteKeepsTheOldFile) {
    Scratch dir;
    const std::string target = dir.file("keep.db");
    spit(target, "alt\r\n");
    // A missing directory, a directory in the way, and a write-protected file.
    const std::string missingDir = dir.file("no/such.db");
    fs::create_directory(dir.file("adir"));
    for (const std::string& path : {missingDir, dir.file("adir")}) {
        try {
            writeLines(path, {"neu"});
            ADD_FAILURE() << "no error for " << path;
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht erstellt werden");
        }
    }
    ::chmod(target.c_str(), 0444); // write-protected, even for root
    EXPECT_THROW(writeLines(target, {"neu"}), EFCreateError);
    EXPECT_EQ(slurp(target), "alt\r\n");
    ::chmod(target.c_str(), 0644);
    // No temporary files are left behind by the failures.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 2); // keep.db and adir

    // A successful replace keeps the file's mode.
    ::chmod(target.c_str(), 0640);
    writeLines(target, {"neu"});
    struct stat st {};
    ::stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640);
    EXPECT_EQ(slurp(target), "neu\r\n");
}

TEST(LineFiles, FullDiskKeepsTheOldFileAndLeavesNoTemporaryFile) {
    Scratch dir;
    const std::string target = dir.file("kunden.db");
    spit(target, "Bestellung 1\r\n");
    {
        test::FileSizeLimit full(100000);
        try {
            writeLines(target, {std::string(300000, 'x')});
            ADD_FAILURE() << "no error";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Datei " + target + " kann nicht erstellt werden");
        }
    }
    EXPECT_EQ(slurp(target), "Bestellung 1\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
}

TEST(LineFiles, PathsJoinWithTheSeparatorAndSplitAtEither) {
    EXPECT_EQ(joinPath("/srv/shop", "db_sys.db"), "/srv/shop/db_sys.db");
    EXPECT_EQ(joinPath("", "db_sys.db"), "/db_sys.db");
    EXPECT_EQ(baseName("C:\\Bilder\\k1.jpg"), "k1.jpg");
    EXPECT_EQ(baseName("/home/a/b.jpg"), "b.jpg");
    EXPECT_EQ(baseName("x.jpg"), "x.jpg");
    EXPECT_EQ(baseName("dir/"), "");
}

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("VELMO_SETTINGS", dir.file("velmo.ini").c_str(), 1); }
    void TearDown() override { ::unsetenv("VELMO_SETTINGS"); }
    Scratch dir;
};

TEST_F(SettingsStoreTest, ValuesSurviveAReopenWhateverTheyHold) {
    const std::string tricky = "C:\\Pfad mit \"Zitat\" = ;; und ümläut\r\nzweite Zeile";
    {
        auto store = SettingsStore::open();
        ASSERT_TRUE(store);
        EXPECT_FALSE(store->valueExists("Pass"));
        EXPECT_EQ(store->readString("Pass"), "");
        store->writeString("Pass", tricky);
        store->writeString("Host", "ftp.example.org");
        store->writeString("Host", "ftp2.example.org");
        store->writeString("Leer", "");
    }
    auto store = SettingsStore::open();
    EXPECT_EQ(store->readString("Pass"), tricky);
    EXPECT_EQ(store->readString("Host"), "ftp2.example.org");
    EXPECT_TRUE(store->valueExists("Leer"));
    EXPECT_EQ(store->readString("Leer"), "");
    struct stat st {};
    ::stat(dir.file("velmo.ini").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600);
}

TEST_F(SettingsStoreTest, NonStringValuesExistButCannotBeRead) {
    spit(dir.file("velmo.ini"),
         "; written by hand\n[Other]\n\"Host\"=\"fremd\"\n[Velmo]\n\"Port\"=dword:00000015\n"
         "\"Host\"=\"ftp.example.org\"\ngarbage line\n");
    auto store = SettingsStore::open();
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->valueExists("Port"));
    try {
        store->readString("Port");
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Ungültiger Datentyp für 'Port'");
    }
    EXPECT_EQ(store->readString("Host"), "ftp.example.org");
    // Writing keeps what it does not understand.
    store->writeString("User", "shop");
    const std::string text = slurp(dir.file("velmo.ini"));
    EXPECT_NE(text.find("\"Port\"=dword:00000015"), std::string::npos);
    EXPECT_NE(text.find("[Other]"), std::string::npos);
    EXPECT_EQ(SettingsStore::open()->readString("User"), "shop");
}

TEST_F(SettingsStoreTest, UnreachableStoreOpensAsNothing) {
    ::setenv("VELMO_SETTINGS", dir.file("missing/velmo.ini").c_str(), 1);
    EXPECT_EQ(SettingsStore::open(), nullptr);
}

TEST(Cp1252, EveryByteSurvivesTheTripThroughUnicode) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(cp1252::fromUtf8(cp1252::toUtf8(all)), all);
    EXPECT_EQ(cp1252::toUtf8("\x80 \xe4\xf6\xfc\xdf"), "€ äöüß");
    EXPECT_EQ(cp1252::fromUtf8("Bücher €"), "B\xfc"
                                            "cher \x80");
    EXPECT_EQ(cp1252::fromUtf8("\xe2\x82"), "??"); // cut sequence
    EXPECT_EQ(cp1252::fromUtf8("日本"), "??");     // no byte for it
}

TEST(Mounts, DeviceFileSystemsOnlyRootFirst) {
    const std::string table = "proc /proc proc rw 0 0\n"
                              "/dev/sda2 /home ext4 rw 0 0\n"
                              "/dev/vda / ext4 rw 0 0\n"
                              "tmpfs /run tmpfs rw 0 0\n"
                              "/dev/sdb1 /media/USB\\040Stick vfat rw 0 0\n"
                              "/dev/sda3 /home ext4 rw 0 0\n";
    const std::vector<std::string> points = parseMountTable(table);
    EXPECT_EQ(points, (std::vector<std::string>{"/", "/home", "/media/USB Stick"}));
    EXPECT_EQ(mountPointOf("/home/anna/shop", points), "/home");
    EXPECT_EQ(mountPointOf("/homer", points), "/");
    EXPECT_EQ(mountPointOf("/media/USB Stick", points), "/media/USB Stick");
}

} // namespace
