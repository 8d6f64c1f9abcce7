#pragma once

#include "platform/errors.h"
#include "platform/german.h"
#include "platform/linefile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The order files. The storefront writes one line per order to kunden.db (the order header) and one
// line per ordered article to bestellungen.db (the positions); the order fetch appends them to local
// files of the same names, adding a status field ";;0" to each line. Fields are separated by ";;"
// without quoting; only the last field of a cut may hold ";;".
namespace velmo::datafiles {

inline constexpr const char* kOrderFile = "kunden.db";
inline constexpr const char* kPositionFile = "bestellungen.db";

// A local kunden.db line has 13 fields: 12 cuts.
inline constexpr std::size_t kOrderCuts = 12;
// A bestellungen.db line is read up to its sixth separator: 6 cuts, the rest is never read.
inline constexpr std::size_t kPositionCuts = 6;

// A line with fewer separators than its file's reading needs. The message names the file and the
// line number (from 1).
class EOrderLineError : public Exception {
public:
    using Exception::Exception;
};

// A line with nothing but white space (blanks, tabs, vertical tabs, form feeds) or nothing at all:
// no order and no position. Every reader of the order files passes over it.
bool isBlankLine(std::string_view line);

// Cuts k fields off line, each the text before the next ";;", and returns them followed by what
// remains (k + 1 fields; the last may hold ";;"). No value when the line has fewer than k ";;".
std::optional<std::vector<std::string>> cutFields(std::string_view line, std::size_t k);

// The storefront may write amounts with a decimal point: the first "." becomes ",".
std::string decimalComma(std::string_view amount);

// The order date: the text before the first "-" (a time or other text behind it is dropped), read
// with the German date-time rules; an empty text gives no date. Throws EConvertError
// "'%s' ist keine gültige Datums- und Uhrzeitangabe".
std::optional<german::DateTime> orderDate(std::string_view text);

// One order header, fields 2 to 13 of the line as text (Versand already with the decimal comma).
struct OrderRecord {
    std::optional<german::DateTime> Datum;
    std::string BestellNr, Name, Firma, Strasse, PLZOrt, Land, Tel, Fax, mail, Paytype, Versand, status;
};

// The record's 12 text fields in file order (BestellNr .. status), for tables filled field by field.
std::array<std::string*, 12> textFields(OrderRecord& order);
std::array<const std::string*, 12> textFields(const OrderRecord& order);

// One position: fields 1, 3, 4, 5 and 6 of the line (Preis already with the decimal comma).
struct Position {
    std::string BestellNr, menge, ArtikelNr, Bezeichnung, Preis;
};

// One position line cut without copying: views into the line, Preis as it stands in the file (the
// decimal-point rule not yet applied). For readers of many lines that keep only a part of each.
struct PositionView {
    std::string_view BestellNr, menge, ArtikelNr, Bezeichnung, Preis;
};
// False for a line with fewer than 6 separators.
bool viewPositionLine(std::string_view line, PositionView& out);

// Throws EOrderLineError for line lineNumber (from 1) of fileName, which has fewer than cuts ";;".
[[noreturn]] void throwShortLine(std::string_view fileName, std::size_t lineNumber, std::size_t cuts);

// Reads one kunden.db line. Throws EConvertError for a date it cannot read; no value for a line with
// fewer than 12 separators.
std::optional<OrderRecord> parseOrderLine(std::string_view line);
// Reads one bestellungen.db line. No value for a line with fewer than 6 separators. A line with an
// empty ArtikelNr is returned as well; it is no position and readers skip it (isPosition).
std::optional<Position> parsePositionLine(std::string_view line);
inline bool isPosition(const Position& p) {
    return !p.ArtikelNr.empty();
}

// The 13 texts of a kunden.db line as a table takes them: the date cut before its first "-" (still
// text), Versand with the decimal comma. No value for a line with fewer than 12 separators.
std::optional<std::vector<std::string>> orderFields(std::string_view line);

// Every order of kunden.db's lines, in file order. A short line (empty lines included) throws
// EOrderLineError naming fileName and its line number, so that a caller never rewrites the file
// without the orders behind it.
std::vector<OrderRecord> parseOrders(const Lines& lines, std::string_view fileName = kOrderFile);
// The positions of bestellungen.db's lines, in file order; those of one order only when bestellNr is
// given (compared exactly). Lines with an empty ArtikelNr are skipped; a short line throws
// EOrderLineError as above.
std::vector<Position> parsePositions(const Lines& lines, std::optional<std::string_view> bestellNr = {},
                                     std::string_view fileName = kPositionFile);

// The line numbers (from 0) of bestellungen.db's lines by order number (the text before the first
// ";;"), each order's in file order. Built once over the lines, it serves every look-up of one order's
// positions until the lines change; it refers to the lines' bytes, so they must outlive it unchanged.
class PositionIndex {
public:
    PositionIndex() = default;
    explicit PositionIndex(const Lines& lines);
    // Empty for an order without lines.
    std::vector<std::uint32_t> linesOf(std::string_view bestellNr) const;
    std::size_t orderCount() const { return m_first.size(); }

private:
    static constexpr std::uint32_t kEnd = ~std::uint32_t{0};
    // Each order's first line, and for every line the next line of its order: one chain per order.
    std::unordered_map<std::string_view, std::uint32_t> m_first;
    std::vector<std::uint32_t> m_next;
};

// The positions of one order, as parsePositions(lines, bestellNr) reads them, through the index.
std::vector<Position> indexedPositions(const Lines& lines, const PositionIndex& index,
                                       std::string_view bestellNr, std::string_view fileName = kPositionFile);

// The kunden.db line of an order: 13 fields joined by ";;", the date in the standard date-time form
// (empty when there is none).
std::string orderLine(const OrderRecord& order);

// Reads a local order file whole. A missing file is first created empty, so it reads as no lines.
// Throws EFOpenError / EFCreateError.
Lines loadOrderFile(const std::string& path);
// The same as one block of bytes, for readers of many lines (splitLineViews).
std::string loadOrderFileBytes(const std::string& path);
// Replaces kunden.db atomically with one line per order, in the order given.
void saveOrders(const std::string& path, const std::vector<OrderRecord>& orders);

} // namespace velmo::datafiles
