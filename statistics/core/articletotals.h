#pragma once

#include "memtable/memtable.h"
#include "platform/linefile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

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

// The scrollable height of a chart of n bars: 355 pixels per eight bars, halves to the even
// neighbour.
std::int64_t chartScrollHeight(std::int64_t n);

} // namespace velmo::statistics
