#include "orders/core/invoiceledger.h"

#include "platform/linefile.h"

#include <charconv>
#include <filesystem>
#include <system_error>

namespace velmo {

namespace {

constexpr std::string_view kSeparator = ";;";
constexpr const char* kHeader = "Nr;;Rechnungsnummer;;BestellNr;;Datum;;Brutto;;Netto;;Steuer";
constexpr std::size_t kFields = 7;

std::vector<std::string> splitFields(std::string_view line) {
    std::vector<std::string> fields;
    while (true) {
        const std::size_t at = line.find(kSeparator);
        if (at == std::string_view::npos) {
            fields.emplace_back(line);
            return fields;
        }
        fields.emplace_back(line.substr(0, at));
        line.remove_prefix(at + kSeparator.size());
    }
}

std::string lineOf(const LedgerEntry& e) {
    std::string line = std::to_string(e.number);
    for (const std::string* f : {&e.numberText, &e.bestellNr, &e.date, &e.gross, &e.net, &e.tax}) {
        line += kSeparator;
        line += *f;
    }
    return line;
}

bool breaksLine(const std::string& value) {
    return value.find(kSeparator) != std::string::npos || value.find_first_of("\r\n") != std::string::npos;
}

} // namespace

void InvoiceLedger::damaged(std::size_t line, const std::string& why) const {
    throw EInvoiceLedgerError(formatMessage(
        "Die Rechnungsliste %s ist in Zeile %s beschädigt: %s. Solange sie nicht berichtigt ist, wird keine "
        "Rechnungsnummer vergeben",
        {m_path, std::to_string(line), why}));
}

void InvoiceLedger::load() {
    std::error_code ec;
    std::vector<LedgerEntry> entries;
    if (!std::filesystem::exists(m_path, ec)) {
        m_entries.clear();
        return;
    }
    const Lines lines = readLines(m_path);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& text = lines[i];
        if (i == 0 && text == kHeader)
            continue;
        if (text.empty() && i + 1 == lines.size())
            continue;
        std::vector<std::string> fields = splitFields(text);
        if (fields.size() != kFields)
            damaged(i + 1, "sie hat " + std::to_string(fields.size()) + " statt " + std::to_string(kFields) +
                               " Felder");
        LedgerEntry e;
        const std::string& nr = fields[0];
        const auto [end, error] = std::from_chars(nr.data(), nr.data() + nr.size(), e.number);
        if (error != std::errc() || end != nr.data() + nr.size() || e.number <= 0)
            damaged(i + 1, "'" + nr + "' ist keine Rechnungsnummer");
        if (!entries.empty() && e.number != entries.back().number + 1)
            damaged(i + 1, "auf die Nummer " + std::to_string(entries.back().number) + " folgt " + nr);
        e.numberText = std::move(fields[1]);
        e.bestellNr = std::move(fields[2]);
        e.date = std::move(fields[3]);
        e.gross = std::move(fields[4]);
        e.net = std::move(fields[5]);
        e.tax = std::move(fields[6]);
        if (e.bestellNr.empty())
            damaged(i + 1, "die Bestellnummer fehlt");
        for (const LedgerEntry& before : entries) {
            if (before.bestellNr == e.bestellNr)
                damaged(i + 1,
                        "die Bestellung " + e.bestellNr + " hat schon die Rechnung " + before.numberText);
        }
        entries.push_back(std::move(e));
    }
    m_entries = std::move(entries);
}

const LedgerEntry* InvoiceLedger::find(std::string_view bestellNr) const {
    for (const LedgerEntry& e : m_entries) {
        if (e.bestellNr == bestellNr)
            return &e;
    }
    return nullptr;
}

std::int64_t InvoiceLedger::nextNumber(std::int64_t firstNumber) const {
    const std::int64_t after = m_entries.empty() ? 1 : m_entries.back().number + 1;
    // The owner may move the start forward (a new year's range) before the first invoice of it,
    // never back into numbers already given out.
    return std::max(after, firstNumber);
}

LedgerEntry InvoiceLedger::prospective(const std::string& bestellNr, std::int64_t firstNumber,
                                       const std::string& date,
                                       const std::function<std::string(std::int64_t)>& numberText) {
    load();
    if (const LedgerEntry* existing = find(bestellNr))
        return *existing;
    LedgerEntry e;
    e.number = nextNumber(firstNumber);
    e.numberText = numberText ? numberText(e.number) : std::to_string(e.number);
    e.bestellNr = bestellNr;
    e.date = date;
    return e;
}

LedgerEntry InvoiceLedger::record(const LedgerEntry& entry, std::int64_t firstNumber) {
    load();
    if (const LedgerEntry* existing = find(entry.bestellNr))
        return *existing;
    if (entry.number != nextNumber(firstNumber))
        throw EInvoiceLedgerError(formatMessage("Die Rechnungsnummer %s ist inzwischen vergeben; die "
                                                "Rechnung der Bestellung %s bitte erneut drucken",
                                                {entry.numberText, entry.bestellNr}));
    for (const std::string* f :
         {&entry.numberText, &entry.bestellNr, &entry.date, &entry.gross, &entry.net, &entry.tax}) {
        if (breaksLine(*f))
            throw EInvoiceLedgerError(
                formatMessage("'%s' kann nicht in die Rechnungsliste %s eingetragen werden", {*f, m_path}));
    }
    Lines lines{kHeader};
    for (const LedgerEntry& e : m_entries)
        lines.push_back(lineOf(e));
    lines.push_back(lineOf(entry));
    writeLines(m_path, lines);
    m_entries.push_back(entry);
    return entry;
}

std::optional<LedgerEntry> InvoiceLedger::issue(const std::string& bestellNr, std::int64_t firstNumber,
                                                const std::string& date,
                                                const std::function<std::string(std::int64_t)>& numberText,
                                                const std::function<bool(const LedgerEntry&)>& print) {
    const LedgerEntry entry = prospective(bestellNr, firstNumber, date, numberText);
    if (!print(entry))
        return std::nullopt;
    return record(entry, firstNumber);
}

} // namespace velmo
