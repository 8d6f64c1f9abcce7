#pragma once

#include "datafiles/orderfiles.h"
#include "datafiles/orderstore.h"
#include "memtable/memtable.h"
#include "platform/linefile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

// Which orders the order list shows.
enum class OrderListFilter { All, Printed, New };

// What an invoice prints of one order, taken when the invoice is opened: printing later prints this
// order and these positions, whatever the order window shows by then.
struct InvoiceSnapshot {
    // The 13 header fields in kunden.db order (OrderDocument::kOrderFields), as the table holds them;
    // the date in the standard date-time form.
    std::array<std::string, 13> order;
    // BestellNr, menge, ArtikelNr, Bezeichnung, Preis (OrderDocument::kPositionFields), in the order
    // the position list shows them.
    std::vector<std::array<std::string, 5>> positions;
    // "#,###,##0.00", without a currency.
    std::string goodsValue;
    std::string total;

    const std::string& bestellNr() const { return order[1]; }
    // A header field by name; null for an unknown name.
    const std::string* orderField(std::string_view name) const;
    const std::string* positionField(std::size_t position, std::string_view name) const;
};

// The orders as the order window shows and changes them: kunden.db read into a record table of order
// headers, the positions of the current order from bestellungen.db, the list filter, the sort orders
// and the search, the totals, the printed mark and writing kunden.db back. The window binds its grids
// and editors to the two tables and holds nothing else of the orders.
//
// Writing gives back what was read: a field the owner did not change is written as the file held it,
// whatever its length or bytes (the table keeps at most kTextBytes of a value and ends it at a NUL),
// and so is a date whose value did not change, with any text behind a "-". A changed date is written
// in the standard date-time form.
class OrderDocument {
public:
    static constexpr std::array<const char*, 13> kOrderFields = {
        "Datum", "BestellNr", "Name", "Firma",   "Strasse", "PLZOrt", "Land",
        "Tel",   "Fax",       "mail", "Paytype", "Versand", "status"};
    static constexpr std::array<const char*, 5> kPositionFields = {"BestellNr", "menge", "ArtikelNr",
                                                                   "Bezeichnung", "Preis"};
    static constexpr int kDatum = 0;
    static constexpr int kBestellNr = 1;
    static constexpr int kVersand = 11;
    static constexpr int kStatus = 12;
    // The sort orders the index selector offers, by position: Datum, BestellNr, Name, PLZOrt.
    static constexpr int kIndexChoices = 4;
    // The most bytes the table keeps of a text value.
    static constexpr int kTextBytes = 4096;
    // No amount of a shop's order reaches these; a larger one is a fault in the file.
    static constexpr double kAmountLimit = 1e9;
    static constexpr double kQuantityLimit = 1e6;

    OrderDocument();
    OrderDocument(const OrderDocument&) = delete;
    OrderDocument& operator=(const OrderDocument&) = delete;

    MemTable& orders() { return m_orders; }
    MemTable& positions() { return m_positions; }

    // Reads kunden.db (created empty when missing) into the order table, replacing every order; the
    // Datum index is current and the first order current; the list filter stays as it was. A line that
    // cannot be read throws its error: the orders before it stay, and the lines from it on are kept to
    // be written back unchanged. Throws the file errors before anything changed.
    void loadOrders(const std::string& path);
    // Reads bestellungen.db (created empty when missing) for the positions of the orders.
    void loadPositions(const std::string& path);
    // kunden.db has been read (perhaps not to its end) since the last failed attempt.
    bool ordersLoaded() const { return m_ordersRead; }
    // The lines of kunden.db from a line the last load could not read on.
    const Lines& unreadLines() const { return m_unread; }
    const Lines& positionLines() const { return m_positionLines; }

    void setListFilter(OrderListFilter filter);
    OrderListFilter listFilter() const;
    // Makes the choice-th sort order current and the first order in it current. Throws
    // "Der Index der Liste überschreitet das Maximum (%s)" for a choice out of range.
    void setIndex(int choice);
    int indexChoice() const;
    // The first order whose key in the current sort order is the text or sorts after it; the current
    // one stays when there is none. With the Datum order the text is a date (EConvertError if not).
    void seek(std::string_view text);

    // An order is current (with the filter on, only a listed one counts).
    bool hasCurrentOrder();
    // Fills the position table with the current order's positions (ArtikelNr order, first one
    // current) and returns the goods value. A position whose amount is no number, or whose amount or
    // quantity is beyond the limits, throws after it has been listed.
    double collectPositions();
    // The goods value plus the current order's shipping charge (an empty one adds nothing). Throws for
    // a charge that is no number or beyond the limit.
    double invoiceTotal(double goods);
    // The current order for an invoice, its positions and totals collected anew; none without a
    // current order. Throws as collectPositions and invoiceTotal do.
    std::optional<InvoiceSnapshot> invoice();
    // "#,###,##0.00".
    static std::string money(double value);

    // Sets status "1" on every order with this number (pending corrections are posted first) and
    // switches the list filter off. Returns how many orders carry the number.
    int markPrinted(std::string_view bestellNr);

    // Replaces kunden.db at path with every order in the order of the current sort order, then the
    // unread lines, then what a fetch appended since the load; the filter is off afterwards. Takes
    // the data folder's fetch lock at lockPath first (EOrderFilesBusy when a fetch holds it). A changed
    // value that would break its line throws EFieldFormatError, with that order current. Writes
    // nothing when kunden.db has not been read.
    void save(const std::string& path, const std::string& lockPath);

private:
    // Where a record's line stands in m_bytes.
    struct Source {
        std::size_t offset = 0;
        std::uint32_t length = 0;
        std::uint32_t line = 0; // from 1
        bool present = false;
    };
    void appendOrders(const std::vector<std::string_view>& lines, std::size_t& n);
    // The kunden.db line of a record; throws EFieldFormatError (with the record current) for a changed
    // value that would break it.
    std::string lineOf(RecordId id);
    const Source* sourceOf(RecordId id) const;
    double checkedAmount(std::string_view text, std::size_t line, const char* file) const;

    MemTable m_orders;
    MemTable m_positions;
    OrderListFilter m_filter = OrderListFilter::All;

    // kunden.db as read, and for every record its line in it.
    std::string m_bytes;
    std::vector<Source> m_sources;
    Lines m_unread;
    // Where kunden.db stood when it was read: a rewrite keeps what a fetch appended since.
    datafiles::ReadMark m_readMark;
    bool m_ordersRead = false;

    Lines m_positionLines;
    datafiles::PositionIndex m_positionIndex;
};

} // namespace velmo
