#pragma once

#include "datafiles/orderfiles.h"
#include "memtable/memtable.h"
#include "platform/lineblocks.h"
#include "platform/linefile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What both chart windows compute from bestellungen.db: every position of every order, and per
// article number the summed quantity and amount. No widgets here, so tests and benchmarks drive it
// directly.
namespace velmo::statistics {

// Field and index names of the two tables.
inline constexpr const char* kBestellNr = "BestellNr";
inline constexpr const char* kMenge = "menge";
inline constexpr const char* kArtikelNr = "ArtikelNr";
inline constexpr const char* kBezeichnung = "Bezeichnung";
inline constexpr const char* kPreis = "Preis";
// The whole description in ArticleTotals, for the bar's tooltip where the label is cut.
inline constexpr const char* kGanzeBezeichnung = "GanzeBezeichnung";

// The totals computed over a table of every position (defineAllPositions, loadAllPositions,
// computeArticleTotals) are the plain statement of what the charts show; the windows get the same
// records from ArticleSums below, which holds no record per position.
//
// AllPositions: BestellNr, menge (float), ArtikelNr, Bezeichnung (100), Preis (text with a decimal
// comma); one index on ArtikelNr. Opens the table.
void defineAllPositions(MemTable& table);
// ArticleTotals: BestellNr, menge (float), ArtikelNr, Bezeichnung (20, the bar label), Preis
// (currency), GanzeBezeichnung (100, the same description uncut); indexes on ArtikelNr and on chartKey (menge
// or Preis), both named after their field. Opens the table.
void defineArticleTotals(MemTable& table, const std::string& chartKey);

// Empties allPositions and fills it with the positions of bestellungen.db (its bytes taken over, to
// free them early) (the amounts with
// their first "." made a ","), then makes its ArtikelNr index current on the first record. A
// quantity that is not a number throws EConvertError and leaves the positions before it; a line
// with fewer than six separators throws EOrderLineError.
void loadAllPositions(MemTable& allPositions, std::string fileBytes);

// Called with the number of positions taken so far; every progressStep positions and at the end.
using Progress = std::function<void(std::size_t done)>;

// Empties totals and adds one record per article number of allPositions (walked in its current
// index, the ArtikelNr order): the summed menge (no value counts 0), the summed Preis (never
// multiplied by the quantity), and BestellNr and Bezeichnung of the run's last position. Article
// numbers compare exactly, case counts. An amount that is empty or not a number throws
// EConvertError; totals then holds the articles completed before that position. Leaves totals on
// its ArtikelNr index.
void computeArticleTotals(MemTable& allPositions, MemTable& totals, const Progress& progress = {},
                          std::size_t progressStep = 1);

// The same totals as loadAllPositions and computeArticleTotals give, added up while
// bestellungen.db is read, a block of whole lines at a time, without a record per position: the
// memory it takes grows with the number of articles, not with the file. Feed it every line of the
// file in order (addLines), then post the totals.
class ArticleSums {
public:
    ArticleSums();
    ~ArticleSums();
    ArticleSums(const ArticleSums&) = delete;
    ArticleSums& operator=(const ArticleSums&) = delete;

    // Adds the positions of the next lines of the file; block holds whole lines, as LineBlockReader
    // hands them out. A quantity that is not a number throws EConvertError and a line with fewer
    // than six separators EOrderLineError (with its line number), as loadAllPositions does; the
    // sums are then of no further use.
    void addLines(std::string_view block);

    // The positions added so far (lines with an article number).
    std::size_t positions() const { return m_positions; }
    std::size_t articles() const;

    // Empties totals and posts one record per article, as computeArticleTotals does after
    // loadAllPositions: in the order of the ArtikelNr index, with the run's sums, and BestellNr and
    // Bezeichnung of the article's first line. An article with an amount that is not a number
    // throws EConvertError; totals then holds the articles before it. Leaves totals on its ArtikelNr
    // index.
    void post(MemTable& totals) const;

    // Whole quantities add up to the same sum in any order, but the table adds an article's
    // quantities in the order its index walks them, the file's last line first, and where one has
    // a fraction only that order gives the same rounding. Those articles then need their
    // quantities again: the whole file once more through addQuantitiesAgain, before post.
    bool needsQuantitiesAgain() const { return m_inexact > 0; }
    void addQuantitiesAgain(std::string_view block);

private:
    struct Article;
    class Numbers;

    std::optional<double> quantityOf(std::string_view text);

    std::unique_ptr<Numbers> m_numbers;
    std::size_t m_lines = 0;
    std::size_t m_positions = 0;
    std::size_t m_inexact = 0; // articles whose quantities are needed again
    std::array<std::optional<double>, 256> m_oneByteQuantities;
};

// bestellungen.db read and added up a block at a time, for a caller that does other work (a window
// that repaints) between the blocks.
class PositionFileSums {
public:
    // Opens the file, creating it empty when it is missing (EFOpenError, EFCreateError).
    explicit PositionFileSums(const std::string& path, std::size_t blockBytes = std::size_t{1} << 20);
    ~PositionFileSums();

    // Reads and adds up the next block (in a second reading where the sums need the quantities
    // again); false once the sums are complete. Throws what ArticleSums::addLines and reading throw.
    bool step();
    // How much of the file is read, from 0 to 1.
    double fractionDone() const;
    const ArticleSums& sums() const { return m_sums; }

private:
    std::string m_path;
    std::size_t m_blockBytes;
    std::unique_ptr<LineBlockReader> m_reader;
    bool m_secondPass = false;
    ArticleSums m_sums;
};

// The scrollable height of a chart of n bars: 355 pixels per eight bars, halves to the even
// neighbour.
std::int64_t chartScrollHeight(std::int64_t n);

} // namespace velmo::statistics
