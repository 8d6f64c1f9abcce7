#pragma once

#include "datafiles/catalogindex.h"
#include "platform/linefile.h"

#include <string>
#include <string_view>

namespace velmo {

// The catalog editor's in-memory copy of the catalog index: line i is catalog i. The editor shows
// the names and the selected catalog's fields; this class keeps the lines and decides what the
// owner's edits do to them.
class CatalogDocument {
public:
    // Reads the index at path (UTF-8). A missing file is created empty and false returned: the lines
    // held stay, so that a save can write the catalogs of a run whose index has vanished. Throws for
    // an index that exists but cannot be read, and for one that cannot be created.
    bool load(const std::string& path);

    const Lines& lines() const { return m_lines; }
    int count() const { return static_cast<int>(m_lines.size()); }
    bool contains(int i) const { return i >= 0 && i < count(); }
    datafiles::CatalogEntry entry(int i) const;

    // A new catalog at the end whose line holds its name alone until its fields are left. A name
    // that does not begin with A to Z is dropped and false returned.
    bool addCatalog(const std::string& name);
    // The catalog's line goes; its article file stays where it is.
    void removeCatalog(int i);

    // What leaving the group or file name field did.
    enum class Field { None, Groups, FileName };
    struct LeaveResult {
        bool done = true;    // false: the owner is sent back into `focus` to correct it
        std::string message; // UTF-8, shown when not empty
        Field focus = Field::None;
    };
    // The leave step of the two fields of the selected catalog (-1 for none). groups are the group
    // field's lines, fileName the file name field. newCatalogNamed: the name prompt was closed with
    // "&OK" the last time it was opened. Nothing that would shift the fields of the line reaches it;
    // the line keeps its last good form then.
    LeaveResult leaveFields(int selected, const Lines& groups, std::string_view fileName,
                            bool newCatalogNamed);

    // Writes the lines (see datafiles::saveCatalogIndex).
    datafiles::CatalogSaveResult save(const std::string& path) const;

private:
    Lines m_lines;
};

} // namespace velmo
