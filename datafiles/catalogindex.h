#pragma once

#include "platform/linefile.h"

#include <optional>
#include <string>
#include <string_view>

// The catalog index db_sys.db: one line per main catalog, in the order the catalogs were created,
// no header. A line is the catalog name, ";;", each group followed by ";", one more ";", and the
// file name of the catalog's article file: "Bücher;;Romane;Sachbücher;;bücher.db",
// "Sonstiges;;;sonstiges.db". The storefront reads these lines as they are.
namespace velmo::datafiles {

inline constexpr const char* kCatalogIndexFile = "db_sys.db";

struct CatalogEntry {
    std::string name;
    // The groups in order. An empty group text gives one empty group; a line holding only a name
    // gives none.
    Lines groups;
    // Empty for a line holding only a name.
    std::string fileName;
};

// Splits a line: the name is the text before the first ";;" (the whole line when there is none);
// of the rest, the group text is what comes before its first ";;" and the file name what follows;
// a rest without ";;" starts with the ";" of an empty group list, which is dropped.
CatalogEntry splitCatalogLine(std::string_view line);
// The name part alone, as the catalog lists show it.
std::string catalogName(std::string_view line);
Lines catalogNames(const Lines& indexLines);

// The catalog's article file name, when it is a plain name of a file in the data directory (see
// isPlainFileName); an empty name too. db_sys.db can come from the server, so a name such as
// "../x.db" is a path from outside: it throws EFieldFormatError naming the catalog and the file.
const std::string& articleFileNameOf(const CatalogEntry& entry);

// name + ";;" + every non-empty group line followed by ";" + ";" + fileName. Values are taken as
// they are; check them with fieldcheck.h first.
std::string buildCatalogLine(std::string_view name, const Lines& groupLines, std::string_view fileName);

// The name with the letters A to Z lowered, all other bytes unchanged, followed by ".db"
// ("Bücher" -> "bücher.db", "Neue Artikel" -> "neue artikel.db").
std::string defaultCatalogFileName(std::string_view name);
// A new catalog's name must begin with an upper-case letter A to Z (an umlaut does not count).
bool isAcceptedNewCatalogName(std::string_view name);

// Reads the index. A missing file is created empty and nothing is returned, so that the caller keeps
// the catalogs it holds. A file that exists but cannot be read throws EFOpenError and is left alone;
// failing to create a missing one throws EFCreateError.
std::optional<Lines> loadCatalogIndex(const std::string& path);

enum class CatalogSaveResult { Saved, WriteProtected };

// Refuses to save when the index file is missing or write-protected (not writable for this process,
// or without any write permission bit): nothing is written and the result is WriteProtected; show
// writeProtectedMessage(path) then. Otherwise the file is replaced atomically, so a failed write
// (EFCreateError "Datei %s kann nicht erstellt werden") keeps the old index whole. A line holding a
// CR or LF throws EFieldFormatError before anything is touched.
CatalogSaveResult saveCatalogIndex(const std::string& path, const Lines& lines);

// "Datei " + path + " ist schreibgeschützt. Kann Daten nicht speichern!"
std::string writeProtectedMessage(const std::string& path);

} // namespace velmo::datafiles
