// The copies kept before local files are replaced: what is copied, how the folders are named and
// pruned, and that a failed copy leaves nothing half made.
#include "platform/backup.h"
#include "platform/errors.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <unistd.h>

using namespace velmo;
using namespace velmo::test;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::system_clock;

class Backups : public ::testing::Test {
protected:
    void SetUp() override {
        // Folder names follow the local time; the expected names below are UTC.
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    // 2026-12-10 04:30:12 UTC, plus seconds.
    static Clock::time_point at(int seconds = 0) {
        return Clock::from_time_t(1796877012) + std::chrono::seconds(seconds);
    }
    std::string backupRoot() const { return dir.file("Sicherung"); }
    std::vector<std::string> folderNames() const {
        std::vector<std::string> names;
        for (const std::string& f : backupFolders(dir.path()))
            names.push_back(fs::path(f).filename().string());
        return names;
    }

    TempDir dir;
};

std::string everyByte() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes + "\r\nEnde ohne Zeilenende";
}

TEST_F(Backups, CopiesExactlyTheFilesThatExist) {
    writeBytes(dir.file("kerzen.db"), everyByte());
    writeBytes(dir.file("db_sys.db"), "Kerzen;;Stumpen;;kerzen.db\r\nNeu;;;neu.db\r\n");
    writeBytes(dir.file("leer.db"), "");
    fs::create_directory(dir.file("ordner.db"));
    fs::create_symlink("kerzen.db", dir.file("link.db"));

    const Backup b = backUpBeforeReplacing(
        dir.path(), {"db_sys.db", "kerzen.db", "fehlt.db", "leer.db", "ordner.db", "link.db", "kerzen.db"},
        at());

    EXPECT_EQ(b.folder, dir.file("Sicherung/2026-12-10_04-30-12"));
    EXPECT_EQ(b.names, (std::vector<std::string>{"db_sys.db", "kerzen.db", "leer.db", "link.db"}));
    std::vector<std::string> inFolder;
    for (const auto& e : fs::directory_iterator(b.folder))
        inFolder.push_back(e.path().filename().string());
    std::sort(inFolder.begin(), inFolder.end());
    EXPECT_EQ(inFolder, (std::vector<std::string>{"db_sys.db", "kerzen.db", "leer.db", "link.db"}));
    EXPECT_EQ(readBytes(b.folder + "/kerzen.db"), everyByte());
    EXPECT_EQ(readBytes(b.folder + "/db_sys.db"), "Kerzen;;Stumpen;;kerzen.db\r\nNeu;;;neu.db\r\n");
    EXPECT_EQ(readBytes(b.folder + "/leer.db"), "");
    // The link's target is what a download replaces, so its bytes are kept, as a plain file.
    EXPECT_FALSE(fs::is_symlink(b.folder + "/link.db"));
    EXPECT_EQ(readBytes(b.folder + "/link.db"), everyByte());
    // The originals are as they were.
    EXPECT_EQ(readBytes(dir.file("kerzen.db")), everyByte());
}

TEST_F(Backups, NothingToKeepMakesNoFolder) {
    fs::create_directory(dir.file("ordner.db"));
    const Backup b = backUpBeforeReplacing(dir.path(), {"fehlt.db", "ordner.db"}, at());
    EXPECT_TRUE(b.folder.empty());
    EXPECT_TRUE(b.names.empty());
    EXPECT_FALSE(fs::exists(backupRoot()));
}

TEST_F(Backups, TheEleventhRunDropsTheOldest) {
    writeBytes(dir.file("a.db"), "a\r\n");
    for (int run = 0; run < 11; ++run)
        backUpBeforeReplacing(dir.path(), {"a.db"}, at(run));
    const std::vector<std::string> names = folderNames();
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "2026-12-10_04-30-13");
    EXPECT_EQ(names.back(), "2026-12-10_04-30-22");
    EXPECT_FALSE(fs::exists(backupRoot() + "/2026-12-10_04-30-12"));
}

TEST_F(Backups, RunsInOneSecondGetFoldersOfTheirOwnInTheOrderMade) {
    writeBytes(dir.file("a.db"), "a\r\n");
    for (int run = 0; run < 11; ++run) {
        writeBytes(dir.file("a.db"), "Lauf " + std::to_string(run));
        backUpBeforeReplacing(dir.path(), {"a.db"}, at());
    }
    // The suffix sorts by number: _10 and _11 come after _9, and the first one is gone.
    const std::vector<std::string> names = folderNames();
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "2026-12-10_04-30-12_2");
    EXPECT_EQ(names[8], "2026-12-10_04-30-12_10");
    EXPECT_EQ(names.back(), "2026-12-10_04-30-12_11");
    EXPECT_EQ(readBytes(backupRoot() + "/2026-12-10_04-30-12_11/a.db"), "Lauf 10");
}

TEST_F(Backups, PruningKeepsTheNewOneAndLeavesForeignEntries) {
    writeBytes(dir.file("a.db"), "a\r\n");
    for (int run = 0; run < 10; ++run)
        backUpBeforeReplacing(dir.path(), {"a.db"}, at(100 + run));
    fs::create_directory(backupRoot() + "/meine Notizen");
    fs::create_directory(backupRoot() + "/2020-01-01_00-00-00x");
    writeBytes(backupRoot() + "/2020-01-01_00-00-00", "eine Datei, kein Ordner");

    // The clock went back: the new folder sorts first, and still stays.
    const Backup b = backUpBeforeReplacing(dir.path(), {"a.db"}, at());
    EXPECT_TRUE(fs::exists(b.folder));
    const std::vector<std::string> names = folderNames();
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "2026-12-10_04-30-12");
    EXPECT_FALSE(fs::exists(backupRoot() + "/2026-12-10_04-31-52")); // the oldest of the ten before
    for (const char* foreign : {"meine Notizen", "2020-01-01_00-00-00x", "2020-01-01_00-00-00"})
        EXPECT_TRUE(fs::exists(backupRoot() + "/" + foreign)) << foreign;
}

TEST_F(Backups, AFailedCopyLeavesNoFolderAndSaysWhy) {
    writeBytes(dir.file("a.db"), "a\r\n");
    writeBytes(dir.file("gross.db"), std::string(std::size_t{64} * 1024, 'x'));
    backUpBeforeReplacing(dir.path(), {"a.db"}, at());
    {
        const FileSizeLimit diskFull(rlim_t{16} * 1024);
        try {
            backUpBeforeReplacing(dir.path(), {"a.db", "gross.db"}, at(1));
            FAIL() << "a copy past the size limit was taken for done";
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find("Es wurde nichts ersetzt"), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(folderNames(), std::vector<std::string>{"2026-12-10_04-30-12"});
    EXPECT_EQ(readBytes(dir.file("gross.db")).size(), 64u * 1024);
}

TEST_F(Backups, ABackupPlaceThatIsNoFolderIsRefused) {
    writeBytes(dir.file("a.db"), "a\r\n");
    writeBytes(backupRoot(), "kein Ordner");
    EXPECT_THROW(backUpBeforeReplacing(dir.path(), {"a.db"}, at()), Exception);
    EXPECT_EQ(readBytes(backupRoot()), "kein Ordner");
}

TEST_F(Backups, ACopyTakenBackLeavesTheRest) {
    writeBytes(dir.file("a.db"), "a\r\n");
    writeBytes(dir.file("b.db"), "b\r\n");
    Backup b = backUpBeforeReplacing(dir.path(), {"a.db", "b.db"}, at());
    const std::string folder = b.folder;
    dropFromBackup(b, "a.db");
    EXPECT_FALSE(fs::exists(folder + "/a.db"));
    EXPECT_EQ(readBytes(folder + "/b.db"), "b\r\n");
    dropFromBackup(b, "b.db");
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(b.folder.empty());
    EXPECT_EQ(readBytes(dir.file("a.db")), "a\r\n");
}

} // namespace
