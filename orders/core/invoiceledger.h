#pragma once

#include "platform/errors.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

// The ledger of issued invoices cannot be read; no number is given out until it is repaired.
class EInvoiceLedgerError : public Exception {
public:
    using Exception::Exception;
};

// One issued invoice.
struct LedgerEntry {
    std::int64_t number = 0;
    std::string numberText; // as printed, with the prefix
    std::string bestellNr;  // bytes as kunden.db holds them
    std::string date;       // the invoice date, dd.mm.yyyy
    // The totals printed, "#,###,##0.00": gross, net and tax.
    std::string gross;
    std::string net;
    std::string tax;
};

// The invoice numbers given out so far, in a file of their own beside the order files
// ("rechnungen.db"; kunden.db belongs to the storefront). Invoice numbers are consecutive without
// gaps: a number is recorded only once its invoice has been printed, and an order that has one
// keeps it for every reprint, with its date.
//
// The file is a header line and one line per invoice, in number order, fields joined by ";;":
// number;;number as printed;;order number;;date;;gross;;net;;tax. Every write replaces it
// atomically. A line that does not read back (wrong field count, a number that is not the previous
// one plus one, an order that has a number already) stops every issue with EInvoiceLedgerError
// naming the file and the line, rather than risk giving a number out twice.
class InvoiceLedger {
public:
    static constexpr const char* kFileName = "rechnungen.db";

    explicit InvoiceLedger(std::string path) : m_path(std::move(path)) {}

    // Reads the file anew; a missing file is an empty ledger. Throws EInvoiceLedgerError for a
    // damaged line and EFOpenError for a file that cannot be read.
    void load();
    const std::vector<LedgerEntry>& entries() const { return m_entries; }
    // The entry of an order; null when its invoice has not been printed yet.
    const LedgerEntry* find(std::string_view bestellNr) const;
    // The number the next invoice gets: one after the last recorded, but not below firstNumber
    // (the number the owner set to start from).
    std::int64_t nextNumber(std::int64_t firstNumber) const;

    // What an invoice of this order carries: its recorded entry, or a new one with the next number
    // and this date (not recorded). Reads the file first.
    LedgerEntry prospective(const std::string& bestellNr, std::int64_t firstNumber, const std::string& date,
                            const std::function<std::string(std::int64_t)>& numberText);
    // Records an entry made by prospective() after its invoice was printed, and returns what the
    // ledger holds for the order (the existing entry when the order had one). Reads the file first;
    // throws EInvoiceLedgerError when the entry's number is no longer the next one, and
    // EFCreateError when the file cannot be written.
    LedgerEntry record(const LedgerEntry& entry, std::int64_t firstNumber);

    // prospective(), then print with it, then record() when print returned true. A print that fails
    // or throws records nothing. Returns the entry when printed.
    std::optional<LedgerEntry> issue(const std::string& bestellNr, std::int64_t firstNumber,
                                     const std::string& date,
                                     const std::function<std::string(std::int64_t)>& numberText,
                                     const std::function<bool(const LedgerEntry&)>& print);

private:
    [[noreturn]] void damaged(std::size_t line, const std::string& why) const;

    std::string m_path;
    std::vector<LedgerEntry> m_entries;
};

} // namespace velmo
