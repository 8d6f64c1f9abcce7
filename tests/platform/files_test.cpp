// Line files, the settings store, Windows-1252 text and the mount table: the bytes that reach disk.
#include "platform/atomic_file.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/linefile.h"
#include "platform/mounts.h"
#include "platform/settings_store.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace velmo;
using namespace velmo::test;
namespace fs = std::filesystem;

namespace {

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
        {"a\rb", {"a", "b"}}, // lone CR and no LF anywhere
        {"\r", {""}},
        {"\n", {""}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r", {"a"}},
        {"a\r\rb\r\n\nc", {"a", "", "b", "", "c"}},
        {std::string("x\0y\r\n", 5), {std::string("x\0y", 3)}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitLines(c.text), c.lines) << c.text;
}

TEST(LineFiles, WriteEndsEveryLineWithCrLfAndKeepsEveryByte) {
    TempDir dir;
    std::string all;
    for (int b = 0; b < 256; ++b)
        if (b != '\r' && b != '\n')
            all += static_cast<char>(b);
    const Lines lines{all, "", "letzte"};
    writeLines(dir.file("x.db"), lines);
    EXPECT_EQ(readBytes(dir.file("x.db")), all + "\r\n\r\nletzte\r\n");
    EXPECT_EQ(readLines(dir.file("x.db")), lines);

    writeLines(dir.file("empty.db"), {});
    EXPECT_EQ(readBytes(dir.file("empty.db")), "");
    EXPECT_TRUE(readLines(dir.file("empty.db")).empty());
}

TEST(LineFiles, LongLinesAndLoneCarriageReturns) {
    TempDir dir;
    const std::string big(1 << 20, 'x');
    writeBytes(dir.file("big.db"), big + "\r" + big);
    Lines lines = readLines(dir.file("big.db"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].size(), big.size());
}

TEST(LineFiles, ReadFailuresNameTheFullPath) {
    TempDir dir;
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
    TempDir dir;
    const std::string target = dir.file("keep.db");
    writeBytes(target, "alt\r\n");
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
    EXPECT_EQ(readBytes(target), "alt\r\n");
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
    EXPECT_EQ(readBytes(target), "neu\r\n");
}

TEST(LineFiles, FullDiskKeepsTheOldFileAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string target = dir.file("kunden.db");
    writeBytes(target, "Bestellung 1\r\n");
    {
        test::FileSizeLimit full(100000);
        try {
            writeLines(target, {std::string(300000, 'x')});
            ADD_FAILURE() << "no error";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Datei " + target + " kann nicht erstellt werden");
        }
    }
    EXPECT_EQ(readBytes(target), "Bestellung 1\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
}

// What the writer does to whatever already stands at the path.
TEST(AtomicWriter, TargetsOfEveryKind) {
    TempDir dir;
    auto modeOf = [](const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0u;
    };

    // A symbolic link: the file it names is replaced, the link stays (also a dangling one).
    writeBytes(dir.file("real.db"), "alt");
    ASSERT_EQ(::symlink("real.db", dir.file("link.db").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("new.db").c_str(), dir.file("dangling.db").c_str()), 0);
    writeFileAtomically(dir.file("link.db"), "neu");
    writeFileAtomically(dir.file("dangling.db"), "frisch");
    EXPECT_TRUE(S_ISLNK(modeOf(dir.file("link.db"))));
    EXPECT_EQ(readBytes(dir.file("real.db")), "neu");
    EXPECT_TRUE(S_ISLNK(modeOf(dir.file("dangling.db"))));
    EXPECT_EQ(readBytes(dir.file("new.db")), "frisch");

    // Set-id and sticky bits are never carried over; the permission bits are.
    writeBytes(dir.file("setid"), "alt");
    ::chmod(dir.file("setid").c_str(), 07755);
    writeFileAtomically(dir.file("setid"), "neu");
    EXPECT_EQ(modeOf(dir.file("setid")) & 07777, 0755u);

    // An explicit mode wins over the old file's and over the umask.
    writeBytes(dir.file("secret.ini"), "alt");
    ::chmod(dir.file("secret.ini").c_str(), 0666);
    writeFileAtomically(dir.file("secret.ini"), "neu", WriteOptions{.mode = 0600});
    writeFileAtomically(dir.file("fresh.ini"), "neu", WriteOptions{.mode = 0600});
    EXPECT_EQ(modeOf(dir.file("secret.ini")) & 07777, 0600u);
    EXPECT_EQ(modeOf(dir.file("fresh.ini")) & 07777, 0600u);

    // A new file gets the usual mode, and the process's umask is what it was.
    const mode_t mask = ::umask(027);
    writeFileAtomically(dir.file("plain.db"), "x");
    EXPECT_EQ(::umask(mask), 027u);
    EXPECT_EQ(modeOf(dir.file("plain.db")) & 07777, 0640u);

    // A FIFO is written in place; without a reader it is refused rather than waited on.
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    EXPECT_THROW(writeFileAtomically(dir.file("fifo"), "x"), EFCreateError);
    const int reader = ::open(dir.file("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    writeFileAtomically(dir.file("fifo"), "durch");
    char got[16] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 5);
    ::close(reader);
    EXPECT_TRUE(S_ISFIFO(modeOf(dir.file("fifo"))));

    // A character device (a null device of our own) stays a device.
    if (::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        AtomicFileWriter writer(dir.file("null"));
        EXPECT_TRUE(writer.inPlace());
        writer.write(std::string(100000, 'x'));
        writer.commit();
        EXPECT_TRUE(S_ISCHR(modeOf(dir.file("null"))));
    }

    // Abandoned before commit: the old file stays and nothing is left beside it.
    writeBytes(dir.file("keep.db"), "alt");
    const auto before = std::distance(fs::directory_iterator(dir.path()), {});
    {
        AtomicFileWriter writer(dir.file("keep.db"));
        writer.write("halb");
    }
    EXPECT_EQ(readBytes(dir.file("keep.db")), "alt");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), before);

    // Write-protected files and directories are refused, behind a link too, with the one message.
    writeBytes(dir.file("ro.db"), "alt");
    ::chmod(dir.file("ro.db").c_str(), 0444);
    ASSERT_EQ(::symlink("ro.db", dir.file("ro-link.db").c_str()), 0);
    for (const std::string name : {"ro.db", "ro-link.db"}) {
        try {
            checkWritable(dir.file(name));
            ADD_FAILURE() << name;
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Datei " + dir.file(name) + " kann nicht erstellt werden");
        }
        EXPECT_THROW(writeFileAtomically(dir.file(name), "neu"), EFCreateError) << name;
    }
    EXPECT_EQ(readBytes(dir.file("ro.db")), "alt");
    EXPECT_THROW(checkWritable(dir.path()), EFCreateError);
    EXPECT_NO_THROW(checkWritable(dir.file("not-there-yet")));
}

// Every name the folder takes can be written, also one whose temporary name would be too long.
// Nothing is left beside the files.
TEST(AtomicWriter, NamesUpToTheFoldersLimit) {
    TempDir dir;
    const std::optional<std::size_t> max = fileNameMax(dir.path());
    ASSERT_TRUE(max.has_value());
    const std::string names[] = {std::string(*max, 'a'), std::string(*max - 10, 'b'),
                                 "c" + std::string((*max - 1) / 2 * 2, '\0'), std::string(*max / 2, 'd')};
    for (std::string name : names) {
        // Two-byte characters throughout the third name.
        for (std::size_t i = 1; i + 1 < name.size() && name[i] == '\0'; i += 2)
            name.replace(i, 2, "\xC3\xA4");
        writeFileAtomically(dir.file(name), "bytes");
        EXPECT_EQ(readBytes(dir.file(name)), "bytes") << name.size();
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);
    EXPECT_THROW(writeFileAtomically(dir.file(std::string(*max + 1, 'e')), "x"), EFCreateError);
}

// A file of many mebibytes goes to the disk while it is written: every byte arrives whatever the
// sizes of the pieces, and a write that is abandoned or runs out of room keeps the old file.
TEST(AtomicWriter, LargeFilesArriveWholeOrNotAtAll) {
    TempDir dir;
    const std::string target = dir.file("bild.bin");
    std::string content(37 * 1000 * 1000 + 17, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 2654435761U >> 13);
    auto writeInPieces = [&](AtomicFileWriter& writer) {
        for (std::size_t at = 0, piece = 1; at < content.size(); at += piece, piece = piece * 3 % 5000011 + 1)
            writer.write(std::string_view(content).substr(at, piece));
    };
    writeBytes(target, "alt");
    {
        AtomicFileWriter abandoned(target);
        writeInPieces(abandoned);
    }
    EXPECT_EQ(readBytes(target), "alt");
    {
        test::FileSizeLimit full(20000000);
        AtomicFileWriter tooBig(target);
        EXPECT_THROW(writeInPieces(tooBig), EFCreateError);
    }
    EXPECT_EQ(readBytes(target), "alt");
    AtomicFileWriter writer(target);
    writeInPieces(writer);
    writer.commit();
    EXPECT_TRUE(readBytes(target) == content);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
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
    TempDir dir;
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

    // The password must not stay readable for others in a file that was created more open.
    ::chmod(dir.file("velmo.ini").c_str(), 0644);
    store->writeString("Pass", "geheim");
    ::stat(dir.file("velmo.ini").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600);
}

TEST_F(SettingsStoreTest, NonStringValuesExistButCannotBeRead) {
    writeBytes(dir.file("velmo.ini"),
               "; written by hand\n[Other]\n\"Host\"=\"fremd\"\n[Velmo]\n\"Port\"=dword:00000015\n"
               "\"Host\"=\"ftp.example.org\"\n\"Proxy\"=\"abc\"junk\ngarbage line\n");
    auto store = SettingsStore::open();
    ASSERT_TRUE(store);
    // A quoted text with more after it is not a string either.
    for (const char* name : {"Port", "Proxy"}) {
        EXPECT_TRUE(store->valueExists(name));
        try {
            store->readString(name);
            ADD_FAILURE() << name;
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Ungültiger Datentyp für '") + name + "'");
        }
    }
    EXPECT_EQ(store->readString("Host"), "ftp.example.org");
    // Writing keeps what it does not understand.
    store->writeString("User", "shop");
    const std::string text = readBytes(dir.file("velmo.ini"));
    EXPECT_NE(text.find("\"Port\"=dword:00000015"), std::string::npos);
    EXPECT_NE(text.find("[Other]"), std::string::npos);
    EXPECT_EQ(SettingsStore::open()->readString("User"), "shop");
}

TEST_F(SettingsStoreTest, TheOverrideWinsElseTheMachineStoreThenTheUsersOwn) {
    struct Case {
        const char* velmo;
        const char* xdg;
        std::vector<std::string> paths;
    } cases[] = {
        {"/tmp/t.ini", "/x", {"/tmp/t.ini"}},
        {"", "/x", {"/etc/velmo/velmo.ini", "/x/velmo/velmo.ini"}},
        {"", "", {"/etc/velmo/velmo.ini", "/h/.config/velmo/velmo.ini"}},
        {"", "relativ", {"/etc/velmo/velmo.ini", "/h/.config/velmo/velmo.ini"}},
    };
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    ::setenv("HOME", "/h", 1);
    for (const Case& c : cases) {
        ::setenv("VELMO_SETTINGS", c.velmo, 1);
        ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
        EXPECT_EQ(SettingsStore::candidatePaths(), c.paths) << c.velmo << " " << c.xdg;
    }
    home ? ::setenv("HOME", savedHome.c_str(), 1) : ::unsetenv("HOME");
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SettingsStoreTest, AStoreThatCannotBeCreatedOrWrittenGivesWayToTheNextOrSaysWhy) {
    writeBytes(dir.file("blocker"), ""); // a file where a folder should be stops even root
    fs::create_directory(dir.file("etc"));
    writeBytes(dir.file("etc/velmo.ini"), "[Velmo]\n\"Currency\"=\"DM\"\n");
    ::chmod(dir.file("etc/velmo.ini").c_str(), 0444); // no write bit: refused even for root
    const std::string user = dir.file("home/.config/velmo/velmo.ini");

    for (const std::string& first : {dir.file("blocker/velmo.ini"), dir.file("etc/velmo.ini")}) {
        auto store = SettingsStore::openFirst({first, user});
        ASSERT_TRUE(store) << first;
        EXPECT_EQ(store->path(), user);
    }
    // The missing folders were made, private to the owner.
    struct stat st {};
    ::stat(dir.file("home/.config/velmo").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700);

    try {
        SettingsStore::openFirst({dir.file("etc/velmo.ini"), dir.file("blocker/x/velmo.ini")});
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Die Einstellungen können nicht geöffnet werden (" +
                                             dir.file("etc/velmo.ini") + ": keine Berechtigung; " +
                                             dir.file("blocker/x/velmo.ini") +
                                             ": ein Teil des Pfades ist kein Verzeichnis)");
    }
    ::setenv("VELMO_SETTINGS", dir.file("blocker/velmo.ini").c_str(), 1);
    EXPECT_EQ(SettingsStore::open(), nullptr);
}

TEST_F(SettingsStoreTest, TheKeyIsFoundHoweverItsSectionIsWritten) {
    const std::string value = "\"Host\"=\"ftp.example.org\"\r\n";
    for (const char* head : {"[velmo]\r\n", "[Velmo] \r\n", "[VELMO]\t \n", "\xEF\xBB\xBF[Velmo]\r\n"}) {
        writeBytes(dir.file("velmo.ini"), std::string(head) + value);
        auto store = SettingsStore::open();
        ASSERT_TRUE(store);
        EXPECT_EQ(store->readString("Host"), "ftp.example.org") << head;
    }
}

TEST_F(SettingsStoreTest, AWriteKeepsCommentsAndTheOrderOfTheFile) {
    writeBytes(dir.file("velmo.ini"), "; Werkstatt\n[Velmo]\n; Zugang zum Shop\n\"Host\"=\"alt\"\n"
                                      "# Ende\n[Other]\nx=1\n");
    auto store = SettingsStore::open();
    store->writeString("Host", "neu");
    store->writeString("User", "shop");
    EXPECT_EQ(readBytes(dir.file("velmo.ini")), "; Werkstatt\r\n[Velmo]\r\n; Zugang zum Shop\r\n"
                                                "\"Host\"=\"neu\"\r\n\"User\"=\"shop\"\r\n"
                                                "# Ende\r\n[Other]\r\nx=1\r\n");
    EXPECT_EQ(SettingsStore::open()->readString("User"), "shop");
}

// Found by the fuzzer: a save dropped the mark, so a second one became the mark on the next read
// and the values seen changed with every save.
TEST_F(SettingsStoreTest, AByteOrderMarkGoesBackOnSave) {
    const std::string mark = "\xEF\xBB\xBF";
    for (const std::string& head : {mark, mark + mark}) {
        writeBytes(dir.file("velmo.ini"), head + "[Velmo]\r\n\"Host\"=\"alt\"\r\n");
        const bool keyFound = SettingsStore::open()->valueExists("Host");
        SettingsStore::open()->writeString("User", "shop");
        EXPECT_TRUE(readBytes(dir.file("velmo.ini")).starts_with(head + "[Velmo]\r\n"));
        EXPECT_EQ(SettingsStore::open()->valueExists("Host"), keyFound);
    }
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
    EXPECT_EQ(cp1252::fromUtf8("\xC3"
                               "A"),
              "?A"); // a lead byte without its continuation keeps the next character
    EXPECT_EQ(cp1252::fromUtf8("日本"), "??"); // no byte for it
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
