#include "orders/core/orderdocument.h"

#include "datafiles/articlefile.h"
#include "datafiles/fieldcheck.h"
#include "platform/cp1252.h"
#include "platform/filelock.h"
#include "platform/german.h"

#include <cmath>
#include <span>

namespace velmo {

namespace {

constexpr const char* kMoneyFormat = "#,###,##0.00";
constexpr std::string_view kSeparator = ";;";
constexpr std::string_view kLineEnd = "\r\n";

// The sort orders by position; the index selector offers the first kIndexChoices.
constexpr std::array<int, 5> kIndexFields = {OrderDocument::kDatum, OrderDocument::kBestellNr, 2, 5,
                                             OrderDocument::kStatus};

using OrderViews = std::array<std::string_view, OrderDocument::kOrderFields.size()>;

// The 13 fields of a kunden.db line as views into it (the last may hold ";;"); false for a line with
// fewer than 12 separators.
bool cutOrderLine(std::string_view line, OrderViews& fields) {
    for (std::size_t i = 0; i + 1 < fields.size(); ++i) {
        const std::size_t at = line.find(kSeparator);
        if (at == std::string_view::npos)
            return false;
        fields[i] = line.substr(0, at);
        line.remove_prefix(at + kSeparator.size());
    }
    fields.back() = line;
    return true;
}

// The text the table was given for the date: the part before the first "-".
std::string_view dateText(std::string_view datum) {
    return datum.substr(0, datum.find('-'));
}

// The date a kunden.db Datum stands for, in the form the table gives it back; no value when it is
// no date at all.
std::optional<std::string> dateAsTableShowsIt(std::string_view datum) {
    try {
        const std::optional<german::DateTime> date = datafiles::orderDate(datum);
        return date ? german::dateTimeToStr(*date) : std::string();
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

// A number text that parses but is beyond the limit, or that only fails for being too large.
bool beyond(std::string_view text, double limit) {
    double value = 0.0;
    if (german::tryStrToFloat(text, value))
        return !(std::fabs(value) < limit);
    const bool numeric = text.find_first_of("0123456789") != std::string_view::npos &&
                         text.find_first_not_of(" +-0123456789,eE") == std::string_view::npos;
    return numeric;
}

[[noreturn]] void throwBeyond(const char* pattern, std::string_view text, std::size_t line,
                              const char* file) {
    throw EConvertError(formatMessage(pattern, {cp1252::toUtf8(text), std::to_string(line), file}));
}

} // namespace

const std::string* InvoiceSnapshot::orderField(std::string_view name) const {
    for (std::size_t f = 0; f < order.size(); ++f) {
        if (name == OrderDocument::kOrderFields[f])
            return &order[f];
    }
    return nullptr;
}

const std::string* InvoiceSnapshot::positionField(std::size_t position, std::string_view name) const {
    if (position >= positions.size())
        return nullptr;
    for (std::size_t f = 0; f < OrderDocument::kPositionFields.size(); ++f) {
        if (name == OrderDocument::kPositionFields[f])
            return &positions[position][f];
    }
    return nullptr;
}

OrderDocument::OrderDocument() {
    for (std::size_t f = 0; f < kOrderFields.size(); ++f)
        m_orders.addField(kOrderFields[f], f == kDatum ? FieldType::DateTime : FieldType::String, kTextBytes);
    for (const int f : kIndexFields)
        m_orders.addIndexDef(
            {kOrderFields[static_cast<std::size_t>(f)], {kOrderFields[static_cast<std::size_t>(f)]}, 0});
    m_orders.OnFilterRecord = [this](MemTable& t) {
        return t.field(kStatus).view() == (m_filter == OrderListFilter::Printed ? "1" : "0");
    };
    m_orders.setActive(true);

    for (const char* name : kPositionFields)
        m_positions.addField(name, FieldType::String, kTextBytes);
    m_positions.addIndexDef({kPositionFields[2], {kPositionFields[2]}, 0});
    m_positions.setActive(true);
    m_positions.setIndexName(kPositionFields[2]);
}

void OrderDocument::loadOrders(const std::string& path) {
    // Until kunden.db has been read, nothing may be written over it.
    m_ordersRead = false;
    std::string bytes = datafiles::loadOrderFileBytes(path);
    m_bytes = std::move(bytes);
    m_readMark = datafiles::markOf(m_bytes);
    m_ordersRead = true;
    const std::vector<std::string_view> lines = splitLineViews(m_bytes);

    const bool filtered = m_orders.Filtered();
    MemTable::UpdateBlock batch(m_orders);
    // Appending with the filter applied would take the visible set anew for every order.
    if (filtered)
        m_orders.setFiltered(false);
    if (m_orders.state() != TableState::Browse)
        m_orders.cancel();
    m_orders.setIndexName("");
    m_orders.emptyTable();
    m_sources.clear();
    m_unread.clear();
    auto finish = [&] {
        m_orders.setIndexName(kOrderFields[kDatum]);
        m_orders.SyncIndexes();
        if (filtered)
            m_orders.setFiltered(true);
        m_orders.First();
    };
    std::size_t n = 0;
    try {
        appendOrders(lines, n);
    } catch (...) {
        // The orders read so far stay in the list; the lines from the bad one on are kept for the
        // next write, which would otherwise drop them.
        for (std::size_t i = n; i < lines.size(); ++i)
            m_unread.emplace_back(lines[i]);
        finish();
        throw;
    }
    finish();
}

void OrderDocument::appendOrders(const std::vector<std::string_view>& lines, std::size_t& n) {
    m_sources.reserve(lines.size());
    OrderViews fields;
    std::string shipping;
    for (; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        if (datafiles::isBlankLine(line))
            continue;
        if (!cutOrderLine(line, fields))
            datafiles::throwShortLine(datafiles::kOrderFile, n + 1, datafiles::kOrderCuts);
        fields[kDatum] = dateText(fields[kDatum]);
        if (fields[kVersand].find('.') != std::string_view::npos) {
            shipping = datafiles::decimalComma(fields[kVersand]);
            fields[kVersand] = shipping;
        }
        m_orders.AppendValues(std::span<const std::string_view>(fields));
        const RecordId id = m_orders.currentRecord();
        if (id >= m_sources.size())
            m_sources.resize(static_cast<std::size_t>(id) + 1);
        m_sources[id] = {static_cast<std::size_t>(line.data() - m_bytes.data()),
                         static_cast<std::uint32_t>(line.size()), static_cast<std::uint32_t>(n + 1), true};
    }
}

void OrderDocument::loadPositions(const std::string& path) {
    Lines lines = datafiles::loadOrderFile(path);
    // The index refers to the lines' bytes: it goes before they do.
    m_positionIndex = {};
    m_positionLines = std::move(lines);
    m_positionIndex = datafiles::PositionIndex(m_positionLines);
}

void OrderDocument::setListFilter(OrderListFilter filter) {
    m_filter = filter;
    m_orders.setFiltered(filter != OrderListFilter::All);
}

OrderListFilter OrderDocument::listFilter() const {
    return m_orders.Filtered() ? m_filter : OrderListFilter::All;
}

void OrderDocument::setIndex(int choice) {
    if (choice < 0 || choice >= kIndexChoices)
        throw Exception(
            formatMessage("Der Index der Liste überschreitet das Maximum (%s)", std::to_string(choice)));
    m_orders.setIndexName(
        kOrderFields[static_cast<std::size_t>(kIndexFields[static_cast<std::size_t>(choice)])]);
    m_orders.SyncIndexes();
    m_orders.First();
}

int OrderDocument::indexChoice() const {
    for (int i = 0; i < kIndexChoices; ++i) {
        if (m_orders.IndexName() ==
            kOrderFields[static_cast<std::size_t>(kIndexFields[static_cast<std::size_t>(i)])])
            return i;
    }
    return -1;
}

void OrderDocument::seek(std::string_view text) {
    m_orders.SeekNearest(text);
}

bool OrderDocument::hasCurrentOrder() {
    return m_orders.currentRecord() != kNoRecord && m_orders.RecordCount() > 0;
}

double OrderDocument::checkedAmount(std::string_view text, std::size_t line, const char* file) const {
    const double value = german::strToFloat(text);
    if (!(std::fabs(value) < kAmountLimit))
        throwBeyond("'%s' ist kein gültiger Betrag (Zeile %s in %s)", text, line, file);
    return value;
}

double OrderDocument::collectPositions() {
    MemTable::UpdateBlock batch(m_positions);
    m_positions.emptyTable();
    auto finish = [this] {
        m_positions.setIndexName(kPositionFields[2]);
        m_positions.SyncIndexes();
        m_positions.First();
    };
    double sum = 0.0;
    try {
        if (hasCurrentOrder()) {
            const std::string nr(m_orders.field(kBestellNr).view());
            for (const std::uint32_t n : m_positionIndex.linesOf(nr)) {
                const std::string& line = m_positionLines[n];
                if (datafiles::isBlankLine(line))
                    continue;
                const std::optional<datafiles::Position> p = datafiles::parsePositionLine(line);
                if (!p)
                    datafiles::throwShortLine(datafiles::kPositionFile, n + 1, datafiles::kPositionCuts);
                if (!datafiles::isPosition(*p))
                    continue;
                m_positions.AppendValues({p->BestellNr, p->menge, p->ArtikelNr, p->Bezeichnung, p->Preis});
                // A bad position is listed, then the collecting stops.
                if (beyond(p->menge, kQuantityLimit))
                    throwBeyond("'%s' ist keine gültige Menge (Zeile %s in %s)", p->menge, n + 1,
                                datafiles::kPositionFile);
                sum += checkedAmount(p->Preis, n + 1, datafiles::kPositionFile);
            }
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return sum;
}

double OrderDocument::invoiceTotal(double goods) {
    if (!hasCurrentOrder())
        return goods;
    const std::string_view shipping = m_orders.field(kVersand).view();
    if (shipping.empty())
        return goods;
    const Source* source = sourceOf(m_orders.currentRecord());
    return goods + checkedAmount(shipping, source ? source->line : 0, datafiles::kOrderFile);
}

std::optional<InvoiceSnapshot> OrderDocument::invoice() {
    if (!hasCurrentOrder())
        return std::nullopt;
    const double goods = collectPositions();
    const double total = invoiceTotal(goods);
    InvoiceSnapshot snapshot;
    for (std::size_t f = 0; f < kOrderFields.size(); ++f)
        snapshot.order[f] = m_orders.field(static_cast<int>(f)).asString();
    const int count = m_positions.visibleCount();
    snapshot.positions.reserve(static_cast<std::size_t>(count));
    for (int row = 0; row < count; ++row) {
        const RecordId id = m_positions.visibleAt(row);
        std::array<std::string, 5>& p = snapshot.positions.emplace_back();
        for (std::size_t f = 0; f < p.size(); ++f)
            p[f] = m_positions.textAt(id, static_cast<int>(f));
    }
    snapshot.goodsValue = money(goods);
    snapshot.total = money(total);
    return snapshot;
}

std::string OrderDocument::money(double value) {
    return german::formatFloat(kMoneyFormat, value);
}

int OrderDocument::markPrinted(std::string_view bestellNr) {
    if (m_orders.state() != TableState::Browse)
        m_orders.Post();
    m_orders.setFiltered(false);
    const RecordId keep = m_orders.currentRecord();
    std::vector<RecordId> marked;
    const int count = m_orders.visibleCount();
    for (int row = 0; row < count; ++row) {
        const RecordId id = m_orders.visibleAt(row);
        if (m_orders.viewAt(id, kBestellNr) == bestellNr)
            marked.push_back(id);
    }
    for (const RecordId id : marked) {
        m_orders.gotoRecord(id);
        if (m_orders.field(kStatus).view() == "1")
            continue;
        m_orders.Edit();
        m_orders.field(kStatus).setAsString("1");
        m_orders.Post();
    }
    if (keep != kNoRecord)
        m_orders.gotoRecord(keep);
    return static_cast<int>(marked.size());
}

const OrderDocument::Source* OrderDocument::sourceOf(RecordId id) const {
    if (id >= m_sources.size() || !m_sources[id].present)
        return nullptr;
    return &m_sources[id];
}

std::string OrderDocument::lineOf(RecordId id) {
    OrderViews original;
    const Source* source = sourceOf(id);
    const bool known =
        source && cutOrderLine(std::string_view(m_bytes).substr(source->offset, source->length), original);

    const std::string date = m_orders.isNullAt(id, kDatum) ? std::string() : m_orders.textAt(id, kDatum);
    std::string line =
        known && dateAsTableShowsIt(original[kDatum]) == date ? std::string(original[kDatum]) : date;
    for (int f = 1; f < static_cast<int>(kOrderFields.size()); ++f) {
        const std::string_view value = m_orders.viewAt(id, f);
        line += kSeparator;
        const std::size_t i = static_cast<std::size_t>(f);
        // A value the owner left as it was read goes back as the file held it.
        if (known) {
            const std::string asRead =
                f == kVersand ? datafiles::decimalComma(original[i]) : std::string(original[i]);
            if (value == datafiles::tableForm(asRead, kTextBytes)) {
                line += original[i];
                continue;
            }
        }
        const datafiles::FieldRule rule = datafiles::checkOrderField(i, value);
        // A status with ";;" in it reads back the same: it is the last field.
        if (rule != datafiles::FieldRule::Ok &&
            !(f == kStatus && rule == datafiles::FieldRule::DoubleSemicolon)) {
            m_orders.gotoRecord(id);
            throw datafiles::EFieldFormatError(
                datafiles::fieldRuleMessage(rule, kOrderFields[i]) +
                " Die Bestellung ist in der Liste ausgewählt. kunden.db wurde nicht gespeichert.");
        }
        line += value;
    }
    return line;
}

void OrderDocument::save(const std::string& path, const std::string& lockPath) {
    if (!m_ordersRead)
        return;
    if (m_orders.state() != TableState::Browse)
        m_orders.Post();
    m_orders.setFiltered(false);

    const RecordId keep = m_orders.currentRecord();
    std::string bytes;
    bytes.reserve(m_bytes.size() + kLineEnd.size() * 16);
    const int count = m_orders.visibleCount();
    for (int row = 0; row < count; ++row) {
        bytes += lineOf(m_orders.visibleAt(row));
        bytes += kLineEnd;
    }
    bytes += joinLines(m_unread);
    // A fetch may have appended orders since the file was read (the window can be open while one
    // runs): they are kept, and while a fetch holds the folder nothing is written.
    const std::optional<FileLock> lock = FileLock::tryLock(lockPath);
    if (!lock)
        throw datafiles::EOrderFilesBusy(datafiles::OrderStore::kBusyWriting);
    Lines appended = datafiles::linesAppendedSince(path, m_readMark);
    bytes += joinLines(appended);
    writeFileBytes(path, bytes);
    m_readMark = datafiles::markOf(bytes);
    // They are in the file now but not in the table: a later write keeps them as well.
    std::move(appended.begin(), appended.end(), std::back_inserter(m_unread));
    if (keep != kNoRecord)
        m_orders.gotoRecord(keep);
}

} // namespace velmo
