// The catalog editor's index document: loading, adding, removing and the leave-field rules, without
// any window.
#include "catalog/core/catalogdocument.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace velmo;
using namespace velmo::test;
using Field = CatalogDocument::Field;

namespace {

CatalogDocument loaded(const TempDir& dir, const std::string& bytes) {
    writeBytes(dir.file("db_sys.db"), bytes);
    CatalogDocument doc;
    EXPECT_TRUE(doc.load(dir.file("db_sys.db")));
    return doc;
}

TEST(CatalogDocument, LeavingTheFieldsRebuildsTheSelectedLineOrRefusesAndKeepsIt) {
    const std::string kerzen = "Kerzen;;Stumpen;;kerzen.db";
    struct Case {
        const char* what;
        int selected;
        Lines groups;
        std::string fileName;
        bool named; // the name prompt was last closed with "&OK"
        bool done;
        const char* message;
        Field focus;
        std::string line0; // the first line afterwards
    };
    const Case cases[] = {
        {"groups and file name",
         0,
         {"Tafel", "", "Stumpen"},
         "kerzen2.db",
         false,
         true,
         "",
         Field::None,
         "Kerzen;;Tafel;Stumpen;;kerzen2.db"},
        {"one empty group line", 0, {""}, "kerzen.db", false, true, "", Field::None, "Kerzen;;;kerzen.db"},
        {"no groups, no name given", 0, {}, "x.db", false, true, "", Field::None, kerzen},
        {"no groups after a name",
         0,
         {},
         "x.db",
         true,
         false,
         "Ohne Kataloggruppen kann der Katalog nicht eingetragen werden!",
         Field::Groups,
         kerzen},
        {"no groups, nothing selected",
         -1,
         {},
         "x.db",
         true,
         true,
         "Ohne Kataloggruppen kann der Katalog nicht eingetragen werden!",
         Field::Groups,
         kerzen},
        {"nothing selected", -1, {"Tafel"}, "x.db", false, true, "", Field::None, kerzen},
        {"selection beyond the lines", 2, {"Tafel"}, "x.db", false, true, "", Field::None, kerzen},
        {"group with ;",
         0,
         {"Tafel", "rot;blau"},
         "kerzen.db",
         false,
         false,
         "Das Feld 'Kataloggruppen' darf kein Semikolon (;) enthalten.",
         Field::Groups,
         kerzen},
        {"file name with ;;",
         0,
         {"Tafel"},
         "a;;b.db",
         false,
         false,
         "Das Feld 'Katalogdatei' darf die Zeichenfolge ';;' nicht enthalten.",
         Field::FileName,
         kerzen},
        {"file name starting with ;",
         0,
         {"Tafel"},
         ";b.db",
         false,
         false,
         "Das Feld 'Katalogdatei' darf nicht mit einem Semikolon (;) beginnen.",
         Field::FileName,
         kerzen},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CatalogDocument doc = loaded(dir, kerzen + "\r\nB\374cher;;;b\374cher.db\r\n");
        const CatalogDocument::LeaveResult r = doc.leaveFields(c.selected, c.groups, c.fileName, c.named);
        EXPECT_EQ(r.done, c.done);
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.focus, c.focus);
        EXPECT_EQ(doc.lines()[0], c.line0);
        EXPECT_EQ(doc.lines()[1], "B\374cher;;;b\374cher.db");
    }
}

TEST(CatalogDocument, TheNameOfTheLineStaysAsItsBytesWere) {
    TempDir dir;
    // A name with a Windows-1252 umlaut and a byte that has no character in it.
    CatalogDocument doc = loaded(dir, "B\374cher\x81;;Romane;;b.db\r\n");
    EXPECT_TRUE(doc.leaveFields(0, {"Krimis"}, "b.db", false).done);
    EXPECT_EQ(doc.lines()[0], "B\374cher\x81;;Krimis;;b.db");
}

TEST(CatalogDocument, NewCatalogsAreAddedAtTheEndAndCompletedWhenTheirFieldsAreLeft) {
    TempDir dir;
    CatalogDocument doc = loaded(dir, "Kerzen;;Stumpen;;kerzen.db\r\n");
    EXPECT_FALSE(doc.addCatalog("\334berraschung")); // an umlaut is no A to Z
    EXPECT_FALSE(doc.addCatalog("kerzen"));
    EXPECT_FALSE(doc.addCatalog(""));
    ASSERT_EQ(doc.count(), 1);

    ASSERT_TRUE(doc.addCatalog("Geschenke"));
    EXPECT_EQ(doc.lines().back(), "Geschenke");
    EXPECT_EQ(doc.entry(1).fileName, "");
    EXPECT_TRUE(doc.leaveFields(1, {"Karten"}, "geschenke.db", true).done);
    EXPECT_EQ(doc.lines()[1], "Geschenke;;Karten;;geschenke.db");

    doc.removeCatalog(5); // out of range: nothing happens
    doc.removeCatalog(0);
    EXPECT_EQ(doc.lines(), Lines{"Geschenke;;Karten;;geschenke.db"});
    EXPECT_EQ(doc.save(dir.file("db_sys.db")), datafiles::CatalogSaveResult::Saved);
    EXPECT_EQ(readBytes(dir.file("db_sys.db")), "Geschenke;;Karten;;geschenke.db\r\n");
}

} // namespace
