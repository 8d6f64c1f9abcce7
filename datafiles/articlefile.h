#pragma once

#include "datafiles/fieldcheck.h"
#include "platform/linefile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// An article file, one per catalog (its name comes from the catalog index). The first line is a
// header that is kept as it was read; every further line is one article of 14 fields joined by
// ";;". The storefront reads these files as they are, the price with a decimal point.
namespace velmo::datafiles {

inline constexpr std::size_t kArticleFieldCount = 14;

struct ArticleFieldInfo {
    std::string_view header; // the word of the header line
    std::string_view name;   // the record field of the article table
    int maxLength;           // the record field's length; longer values are cut when they enter the table
};

// In file order.
inline constexpr std::array<ArticleFieldInfo, kArticleFieldCount> kArticleFields = {{
    {"Artikel-Nr", "ArtikelNr", 20},
    {"Katalog-ID", "KatalogID", 40},
    {"Hersteller", "Hersteller", 50},
    {"Lieferant", "Lieferant", 50},
    {"Warengruppe", "Warengruppe", 40},
    {"Bezeichnung", "Bezeichnung", 100},
    {"Preis", "Preis", 20},
    {"Gewicht", "Gewicht", 20},
    {"Bestand", "Bestand", 12},
    {"Beschreibung", "Beschreibung", 512},
    {"Angeb.Preis", "AngebPreis", 20},
    {"thumb", "thumb", 20},
    {"picture", "picture", 20},
    {"Hersteller-URL", "HerstellerURL", 100},
}};

// Positions of the fields in a line and in ArticleValues.
namespace articlefield {
inline constexpr std::size_t ArtikelNr = 0, KatalogID = 1, Hersteller = 2, Lieferant = 3, Warengruppe = 4,
                             Bezeichnung = 5, Preis = 6, Gewicht = 7, Bestand = 8, Beschreibung = 9,
                             AngebPreis = 10, thumb = 11, picture = 12, HerstellerURL = 13;
} // namespace articlefield

using ArticleValues = std::array<std::string, kArticleFieldCount>;

// The header words joined by ";;": the first line of a new article file.
std::string articleHeaderLine();

// Takes 13 fields one after the other, each the text before the next ";;". What is left after the
// 13th ";;" is the 14th field as it stands, further ";;" included. When no ";;" is left, the rest is
// the current field and the later ones are empty, so an empty line gives 14 empty fields.
ArticleValues splitArticleLine(std::string_view line);
// What would break an article line as it is written: checkArticleField, except that the last field
// may keep a ";;" it was read with, since no separator follows it and it reads back the same.
FieldRule articleLineRule(std::size_t field, std::string_view value);

// The 14 fields joined by ";;", nothing after the last.
std::string joinArticleLine(const ArticleValues& values);

// The price as the storefront reads it: the first "," becomes "."; anything else stays.
std::string priceForSave(std::string_view price);

struct ArticleFile {
    std::string header;                  // the first line as read; the standard one for an empty file
    std::vector<ArticleValues> articles; // the further lines in file order
};

// An empty file (no line at all) has no header to keep: it gets articleHeaderLine(), so that the
// storefront still finds one after the next save.
ArticleFile parseArticleFile(const Lines& lines);

// Reads an article file. A missing file is first created holding exactly the header line. Throws
// EFOpenError for a file that cannot be read, EFCreateError for one that cannot be created.
ArticleFile loadArticleFile(const std::string& path);

// The lines to save: the header as read, then one line per article in the order given. Each
// article's price gets the price rule, and the changed price is stored back into the article, as the
// table shows it after a save; the offer price is left as entered. Throws EFieldFormatError (and
// changes nothing) when a value would break the line: a line break anywhere, the header included, or
// ";;" or a final ";" in one of the first 13 fields. (The last field may hold ";;": it reads back.)
Lines articleFileLines(std::string_view header, std::vector<ArticleValues>& articles);

// The same bytes built in one buffer, for a save of many articles: a string per value and per line
// would cost more than writing the file. The header with its CR LF; throws EFieldFormatError for a
// header with a line break.
std::string articleHeaderBytes(std::string_view header);
using ArticleViews = std::array<std::string_view, kArticleFieldCount>;
// Appends one article's line with its CR LF, the price rule applied. The values must have passed
// articleLineRule; nothing is checked here.
void appendArticleLine(std::string& out, const ArticleViews& values);

// articleFileLines written to path, replacing the file atomically. Throws EFieldFormatError before
// anything changes, EFCreateError "Datei %s kann nicht erstellt werden" when writing fails (the old
// file stays whole; the prices in `articles` are converted all the same).
void saveArticleFile(const std::string& path, std::string_view header, std::vector<ArticleValues>& articles);

// What the article table holds of a value: up to the first NUL byte, at most maxLength bytes.
std::string_view tableForm(std::string_view value, int maxLength);

// The article table keeps at most a field's length of each value and ends it at a NUL byte, which
// is what its editors let the owner type. A file may hold more: a longer description, a picture
// name longer than the field, a NUL. Such values are kept here whole, per article, and written back
// whole unless the owner changed that value, so that a save of other articles loses nothing.
class WholeValues {
public:
    using Key = std::uint64_t; // identifies an article, for example its record number

    // Keeps each value of an article just read whose table form differs from it.
    void keep(Key article, const ArticleValues& values);
    // The article was deleted (its key may be used again).
    void forget(Key article);
    void clear() { m_kept.clear(); }
    bool empty() const { return m_kept.empty(); }

    // Gives back the whole value for each field whose value is still the table form of it.
    void restore(Key article, ArticleValues& values) const;
    // The same for views of the table's values: a view is pointed at the whole value it stands for.
    // Returns whether anything is kept for the article.
    bool restore(Key article, ArticleViews& values) const;

private:
    struct Kept {
        std::size_t field;
        std::string value;
    };
    std::unordered_map<Key, std::vector<Kept>> m_kept;
};

} // namespace velmo::datafiles
