#include "datafiles/catalogindex.h"
#include "datafiles/fieldcheck.h"
#include "platform/errors.h"
#include "tests/datafiles/line_texts.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

using namespace velmo;
using namespace velmo::test;
using namespace velmo::datafiles;

// Windows-1252 bytes of the examples: ü = 0xFC.
static const std::string kBuecher = "B\xFC"
                                    "cher";
static const std::string kSachbuecher = "Sachb\xFC"
                                        "cher";
static const std::string kBuecherDb = "b\xFC"
                                      "cher.db";

TEST(CatalogLine, Split) {
    struct Case {
        std::string line;
        CatalogEntry expected;
    };
    const std::vector<Case> cases = {
        {kBuecher + ";;Romane;" + kSachbuecher + ";;" + kBuecherDb,
         {kBuecher, {"Romane", kSachbuecher}, kBuecherDb}},
        {"Kerzen;;Stumpen;;kerzen.db", {"Kerzen", {"Stumpen"}, "kerzen.db"}},
        {"Sonstiges;;;sonstiges.db", {"Sonstiges", {""}, "sonstiges.db"}},
        {"Nur Name", {"Nur Name", {}, ""}},
        {"", {"", {}, ""}},
        {"A;;", {"A", {""}, ""}},
        {"A;;;", {"A", {""}, ""}},
        {"A;;G1;G2;;f;;x", {"A", {"G1", "G2"}, "f;;x"}}, // the file name is everything after the groups
        {"A;B;;G;;f", {"A;B", {"G"}, "f"}},
        {"A;;;;f", {"A", {""}, "f"}},
        {"A;;G1;;G2;;f", {"A", {"G1"}, "G2;;f"}},
        {"  A ;; G ;; f ", {"  A ", {" G "}, " f "}}, // blanks are text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const CatalogEntry e = splitCatalogLine(c.line);
        EXPECT_EQ(e.name, c.expected.name);
        EXPECT_EQ(e.groups, c.expected.groups);
        EXPECT_EQ(e.fileName, c.expected.fileName);
        EXPECT_EQ(catalogName(c.line), c.expected.name);
    }
}

TEST(CatalogLine, Build) {
    struct Case {
        std::string name;
        Lines groups;
        std::string file;
        std::string line;
    };
    const std::vector<Case> cases = {
        {kBuecher,
         {"Romane", kSachbuecher},
         kBuecherDb,
         kBuecher + ";;Romane;" + kSachbuecher + ";;" + kBuecherDb},
        {"Kerzen", {"Stumpen"}, "kerzen.db", "Kerzen;;Stumpen;;kerzen.db"},
        {"Kerzen", {"Stumpen", "Tafel"}, "kerzen.db", "Kerzen;;Stumpen;Tafel;;kerzen.db"},
        {"Sonstiges", {}, "sonstiges.db", "Sonstiges;;;sonstiges.db"},
        {"X", {"", "", ""}, "x.db", "X;;;x.db"}, // only empty group lines: no groups
        {"X", {"A", "", "B", ""}, "x.db", "X;;A;B;;x.db"},
        {"X", {"A"}, "", "X;;A;;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(buildCatalogLine(c.name, c.groups, c.file), c.line);
    }
}

TEST(CatalogLine, BuiltLinesReadBack) {
    const std::string all = allBytesButLineBreaks();
    std::string allButSemicolon = all;
    std::erase(allButSemicolon, ';');
    const std::string mb(1 << 20, 'x');
    struct Case {
        std::string name;
        Lines groups;
        std::string file;
    };
    const std::vector<Case> cases = {
        {"Kerzen", {"Stumpen", "Tafel"}, "kerzen.db"},
        {"Sonstiges", {}, "sonstiges.db"},
        {";A;B", {"G"}, "f;"}, // single semicolons where they cannot meet a separator
        {"A", {}, "a;b;c.db"},
        {all, {allButSemicolon, "\x80\x81\x8D\x8F\x90\x9D"}, all},
        {mb, {mb, mb}, mb},
        {std::string("N\0ull", 5), {std::string("\0", 1)}, std::string("f\0", 2)},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& c = cases[i];
        const CatalogEntry e = splitCatalogLine(buildCatalogLine(c.name, c.groups, c.file));
        EXPECT_EQ(e.name, c.name);
        EXPECT_EQ(e.groups, c.groups.empty() ? Lines{""} : c.groups);
        EXPECT_EQ(e.fileName, c.file);
    }
}

TEST(CatalogLine, DefaultFileNameAndNewNames) {
    EXPECT_EQ(defaultCatalogFileName(kBuecher), kBuecherDb);
    EXPECT_EQ(defaultCatalogFileName("Neue Artikel"), "neue artikel.db");
    EXPECT_EQ(defaultCatalogFileName("KERZEN 2"), "kerzen 2.db");
    EXPECT_EQ(defaultCatalogFileName("\xC4PFEL"), "\xC4pfel.db"); // Ä is not A to Z
    EXPECT_EQ(defaultCatalogFileName("@[`{"), "@[`{.db");         // neighbours of A-Z stay too

    EXPECT_TRUE(isAcceptedNewCatalogName("Kerzen"));
    EXPECT_TRUE(isAcceptedNewCatalogName("Z"));
    EXPECT_FALSE(isAcceptedNewCatalogName("kerzen"));
    EXPECT_FALSE(isAcceptedNewCatalogName("\xC4pfel"));
    EXPECT_FALSE(isAcceptedNewCatalogName(" Kerzen"));
    EXPECT_FALSE(isAcceptedNewCatalogName(""));
    EXPECT_FALSE(isAcceptedNewCatalogName("@"));
}

// db_sys.db may come from the server: its file names must not lead out of the data directory.
TEST(CatalogLine, AFileNameReadIsUsedOnlyWhenItIsAPlainName) {
    EXPECT_EQ(articleFileNameOf(splitCatalogLine("Kerzen;;Stumpen;;kerzen.db")), "kerzen.db");
    EXPECT_EQ(articleFileNameOf(splitCatalogLine("Nur Name")), "");
    try {
        articleFileNameOf(splitCatalogLine(kBuecher + ";;;a\x01"
                                                      "b.db"));
        ADD_FAILURE();
    } catch (const EFieldFormatError& e) { // the control character shown as "?"
        EXPECT_TRUE(std::string(e.what()).starts_with("Die Katalogdatei 'a?b.db' des Katalogs 'Bücher'"));
    }
}

TEST(CatalogIndexFile, MissingFileIsCreatedEmpty) {
    TempDir dir;
    const std::string path = dir.file(kCatalogIndexFile);
    EXPECT_FALSE(loadCatalogIndex(path).has_value());
    EXPECT_TRUE(fileExists(path));
    EXPECT_EQ(readBytes(path), "");
    // Now it exists: an empty index, not a missing one.
    auto lines = loadCatalogIndex(path);
    ASSERT_TRUE(lines.has_value());
    EXPECT_TRUE(lines->empty());
}

TEST(CatalogIndexFile, LoadSplitsAllLineBreaksAndListsNames) {
    TempDir dir;
    const std::string path = dir.file(kCatalogIndexFile);
    writeBytes(path, "Kerzen;;Stumpen;;kerzen.db\r\nSonstiges;;;sonstiges.db\nNur Name\rLetzte;;;l.db");
    auto lines = loadCatalogIndex(path);
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(catalogNames(*lines), (Lines{"Kerzen", "Sonstiges", "Nur Name", "Letzte"}));
}

TEST(CatalogIndexFile, UnreadableFileIsNotReplaced) {
    TempDir dir;
    // A directory in the index's place cannot be read; it must not be "created empty" over.
    const std::string path = dir.file(kCatalogIndexFile);
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    try {
        loadCatalogIndex(path);
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht geöffnet werden");
    }

    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files without read permission";
    const std::string other = dir.file("other.db");
    writeBytes(other, "Kerzen;;;kerzen.db\r\n");
    ::chmod(other.c_str(), 0);
    EXPECT_THROW(loadCatalogIndex(other), EFOpenError);
    ::chmod(other.c_str(), 0644);
    EXPECT_EQ(readBytes(other), "Kerzen;;;kerzen.db\r\n");
}

TEST(CatalogIndexFile, MissingDirectoryCannotBeCreated) {
    TempDir dir;
    const std::string path = dir.file("gibt-es-nicht/db_sys.db");
    try {
        loadCatalogIndex(path);
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht erstellt werden");
    }
}

TEST(CatalogIndexFile, SaveReplacesWithCrLfAfterEveryLine) {
    TempDir dir;
    const std::string path = dir.file(kCatalogIndexFile);
    writeBytes(path, "Alt;;;alt.db\n");
    EXPECT_EQ(saveCatalogIndex(path, {"Kerzen;;Stumpen;Tafel;;kerzen.db", "Sonstiges;;;sonstiges.db"}),
              CatalogSaveResult::Saved);
    EXPECT_EQ(readBytes(path), "Kerzen;;Stumpen;Tafel;;kerzen.db\r\nSonstiges;;;sonstiges.db\r\n");
    EXPECT_EQ(saveCatalogIndex(path, {}), CatalogSaveResult::Saved);
    EXPECT_EQ(readBytes(path), "");
    // Leftover temporary files would pile up beside the index.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(CatalogIndexFile, WriteProtectedOrMissingIsRefused) {
    TempDir dir;
    const std::string path = dir.file(kCatalogIndexFile);
    EXPECT_EQ(saveCatalogIndex(path, {"Kerzen;;;kerzen.db"}), CatalogSaveResult::WriteProtected);
    EXPECT_FALSE(fileExists(path)) << "a refused save writes nothing";

    writeBytes(path, "Alt;;;alt.db\r\n");
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(saveCatalogIndex(path, {"Kerzen;;;kerzen.db"}), CatalogSaveResult::WriteProtected);
    EXPECT_EQ(readBytes(path), "Alt;;;alt.db\r\n");
    EXPECT_EQ(writeProtectedMessage(path),
              "Datei " + path + " ist schreibgeschützt. Kann Daten nicht speichern!");
}

TEST(CatalogIndexFile, FailedWriteKeepsTheOldIndex) {
    TempDir dir;
    const std::string path = dir.file(kCatalogIndexFile);
    writeBytes(path, "Alt;;;alt.db\r\n");
    {
        // The disk fills up in the middle of the write (a file size limit stops it even for root).
        velmo::test::FileSizeLimit full(4);
        EXPECT_THROW(saveCatalogIndex(path, {"Neu;;;neu.db", "Zweite;;;zweite.db"}), EFCreateError);
    }
    EXPECT_EQ(readBytes(path), "Alt;;;alt.db\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no temporary file left";
}

TEST(CatalogIndexFile, LineWithBreakIsRefusedBeforeWriting) {
    TempDir dir;
    const std::string path = dir.file(kCatalogIndexFile);
    writeBytes(path, "Alt;;;alt.db\r\n");
    for (std::string bad : {"Ker\nzen;;;kerzen.db", "Kerzen;;;kerzen.db\r"}) {
        try {
            saveCatalogIndex(path, {"Gut;;;gut.db", bad});
            FAIL() << "no error";
        } catch (const EFieldFormatError& e) {
            EXPECT_EQ(std::string(e.what()), "Das Feld 'Katalog' darf keinen Zeilenumbruch enthalten.");
        }
    }
    EXPECT_EQ(readBytes(path), "Alt;;;alt.db\r\n");
}

TEST(CatalogIndexFile, EveryByteSurvivesSaveAndLoad) {
    TempDir dir;
    const std::string path = dir.file(kCatalogIndexFile);
    const std::string all = allBytesButLineBreaks();
    const Lines lines = {all, std::string(1 << 20, '\xE4'), ""};
    ASSERT_EQ(saveCatalogIndex(path, {}), CatalogSaveResult::WriteProtected); // missing
    writeBytes(path, "");
    ASSERT_EQ(saveCatalogIndex(path, lines), CatalogSaveResult::Saved);
    EXPECT_EQ(readBytes(path), all + "\r\n" + std::string(1 << 20, '\xE4') + "\r\n\r\n");
    auto back = loadCatalogIndex(path);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, lines);
}
