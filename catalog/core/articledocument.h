#pragma once

#include "datafiles/articlefile.h"

#include <array>
#include <cstddef>
#include <functional>
#include <string>

namespace velmo {

class MemTable;

// The captions of the article fields in the edit window, in file order (UTF-8).
extern const std::array<const char*, datafiles::kArticleFieldCount> kArticleFieldCaptions;

// The caption without its colon; messages about a field name it so that the owner finds it.
std::string articleFieldLabel(std::size_t field);

// The articles of one catalog as the article list edits them: the article file read into a record
// table, and written back in the order the articles entered the table. The table belongs to the
// article list window (its grid and the edit window are bound to it); this class defines its fields
// and indexes and does everything that touches the file.
class ArticleDocument {
public:
    // The sort orders, each on the field of the same position in the file.
    static constexpr int kIndexCount = 6;
    static std::string indexName(int i);

    // Defines the table's 14 string fields and one index per sort order. The table stays inactive
    // until the first load.
    explicit ArticleDocument(MemTable& table);
    ArticleDocument(const ArticleDocument&) = delete;
    ArticleDocument& operator=(const ArticleDocument&) = delete;

    // Reads the article file at path (UTF-8) into the table, replacing what it held; a missing file is
    // created holding the header line alone. The article read last stays current, at its place in
    // article-number order. Throws when the file cannot be read or created; the document then still
    // holds what it held before, and the caller decides whether to unload.
    void load(const std::string& path);
    // Nothing loaded: the table emptied, no path, nothing to save.
    void unload();
    bool isLoaded() const { return !m_path.empty(); }
    // The article file of the loaded catalog, empty when none is loaded.
    const std::string& path() const { return m_path; }

    // True when the table holds nothing the file lacks.
    bool saved() const { return m_saved; }
    void markChanged() { m_saved = false; }
    void markSaved() { m_saved = true; }

    // Deletes the table's current article; a change like any other.
    void deleteCurrent();

    // Told now and then during a save: steps done of the steps in all.
    using SaveProgress = std::function<void(std::size_t done, std::size_t total)>;

    // Writes every article in insertion order, whatever order the table shows, and stores the prices
    // back into the table as the file holds them. A value that would shift the fields of its line
    // throws EFieldFormatError before anything is written; that article is then current, so the
    // owner sees what to correct. Otherwise the current article and the sort order stay as they
    // were. Does nothing when no catalog is loaded. Does not change saved().
    void save(const SaveProgress& progress = {});

private:
    MemTable& m_table;
    std::string m_path;
    std::string m_header; // the first line of the article file as read
    bool m_saved = true;
    // Values of the file longer than their field (or holding a NUL), by record: the table holds them
    // shortened, the file gets them back whole.
    datafiles::WholeValues m_whole;
};

} // namespace velmo
