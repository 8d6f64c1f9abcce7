#include "datafiles/orderfiles.h"

#include <cstring>

namespace velmo::datafiles {

namespace {

constexpr std::string_view kSeparator = ";;";

// The order number a position line belongs to.
std::string_view orderKey(std::string_view line) {
    return line.substr(0, line.find(kSeparator));
}

} // namespace

void throwShortLine(std::string_view fileName, std::size_t lineNumber, std::size_t cuts) {
    throw EOrderLineError(
        formatMessage("Zeile %s in %s ist unvollständig: sie hat weniger als %s Trennzeichen \";;\"",
                      {std::to_string(lineNumber), fileName, std::to_string(cuts)}));
}

std::optional<std::vector<std::string>> cutFields(std::string_view line, std::size_t k) {
    std::vector<std::string> fields;
    fields.reserve(k + 1);
    for (std::size_t i = 0; i < k; ++i) {
        const std::size_t at = line.find(kSeparator);
        if (at == std::string_view::npos)
            return std::nullopt;
        fields.emplace_back(line.substr(0, at));
        line.remove_prefix(at + kSeparator.size());
    }
    fields.emplace_back(line);
    return fields;
}

std::string decimalComma(std::string_view amount) {
    std::string out(amount);
    if (const std::size_t dot = out.find('.'); dot != std::string::npos)
        out[dot] = ',';
    return out;
}

std::optional<german::DateTime> orderDate(std::string_view text) {
    if (const std::size_t dash = text.find('-'); dash != std::string_view::npos)
        text = text.substr(0, dash);
    return german::strToDateTime(text);
}

std::array<std::string*, 12> textFields(OrderRecord& o) {
    return {&o.BestellNr, &o.Name, &o.Firma, &o.Strasse, &o.PLZOrt,  &o.Land,
            &o.Tel,       &o.Fax,  &o.mail,  &o.Paytype, &o.Versand, &o.status};
}

std::array<const std::string*, 12> textFields(const OrderRecord& o) {
    return {&o.BestellNr, &o.Name, &o.Firma, &o.Strasse, &o.PLZOrt,  &o.Land,
            &o.Tel,       &o.Fax,  &o.mail,  &o.Paytype, &o.Versand, &o.status};
}

bool isBlankLine(std::string_view line) {
    return line.find_first_not_of(" \t\v\f") == std::string_view::npos;
}

std::optional<std::vector<std::string>> orderFields(std::string_view line) {
    std::optional<std::vector<std::string>> fields = cutFields(line, kOrderCuts);
    if (!fields)
        return std::nullopt;
    std::string& date = (*fields)[0];
    if (const std::size_t dash = date.find('-'); dash != std::string::npos)
        date.resize(dash);
    std::string& shipping = (*fields)[11];
    if (const std::size_t dot = shipping.find('.'); dot != std::string::npos)
        shipping[dot] = ',';
    return fields;
}

std::optional<OrderRecord> parseOrderLine(std::string_view line) {
    std::optional<std::vector<std::string>> fields = orderFields(line);
    if (!fields)
        return std::nullopt;
    OrderRecord order;
    order.Datum = german::strToDateTime((*fields)[0]);
    std::array<std::string*, 12> text = textFields(order);
    for (std::size_t i = 0; i < text.size(); ++i)
        *text[i] = std::move((*fields)[i + 1]);
    return order;
}

bool viewPositionLine(std::string_view line, PositionView& out) {
    // Each separator is the first ";;" after the one before. memchr finds the next ';' many bytes at
    // a time; a ';' without a second one is text.
    std::string_view fields[kPositionCuts];
    std::size_t found = 0;
    const char* start = line.data();
    const char* at = start;
    const char* const end = line.data() + line.size();
    while (found < kPositionCuts) {
        const void* hit = at < end ? std::memchr(at, ';', static_cast<std::size_t>(end - at)) : nullptr;
        if (hit == nullptr)
            return false;
        const char* semi = static_cast<const char*>(hit);
        if (semi + 1 < end && semi[1] == ';') {
            fields[found++] = std::string_view(start, static_cast<std::size_t>(semi - start));
            start = at = semi + 2;
        } else {
            at = semi + 1;
        }
    }
    out = {fields[0], fields[2], fields[3], fields[4], fields[5]};
    return true;
}

std::optional<Position> parsePositionLine(std::string_view line) {
    PositionView v;
    if (!viewPositionLine(line, v))
        return std::nullopt;
    return Position{std::string(v.BestellNr), std::string(v.menge), std::string(v.ArtikelNr),
                    std::string(v.Bezeichnung), decimalComma(v.Preis)};
}

std::vector<OrderRecord> parseOrders(const Lines& lines, std::string_view fileName) {
    std::vector<OrderRecord> orders;
    orders.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (isBlankLine(lines[i]))
            continue;
        std::optional<OrderRecord> order = parseOrderLine(lines[i]);
        if (!order)
            throwShortLine(fileName, i + 1, kOrderCuts);
        orders.push_back(std::move(*order));
    }
    return orders;
}

std::vector<Position> parsePositions(const Lines& lines, std::optional<std::string_view> bestellNr,
                                     std::string_view fileName) {
    std::vector<Position> positions;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        // Lines of other orders are passed over without cutting them up.
        if ((bestellNr && orderKey(line) != *bestellNr) || isBlankLine(line))
            continue;
        std::optional<Position> p = parsePositionLine(line);
        if (!p)
            throwShortLine(fileName, i + 1, kPositionCuts);
        if (isPosition(*p))
            positions.push_back(std::move(*p));
    }
    return positions;
}

PositionIndex::PositionIndex(const Lines& lines) : m_next(lines.size(), kEnd) {
    m_first.reserve(lines.size() / 4 + 16);
    // From the last line up, so that every chain runs in file order.
    for (std::size_t i = lines.size(); i-- > 0;) {
        auto [it, added] = m_first.try_emplace(orderKey(lines[i]), static_cast<std::uint32_t>(i));
        if (!added) {
            m_next[i] = it->second;
            it->second = static_cast<std::uint32_t>(i);
        }
    }
}

std::vector<std::uint32_t> PositionIndex::linesOf(std::string_view bestellNr) const {
    std::vector<std::uint32_t> result;
    const auto it = m_first.find(bestellNr);
    for (std::uint32_t n = it == m_first.end() ? kEnd : it->second; n != kEnd; n = m_next[n])
        result.push_back(n);
    return result;
}

std::vector<Position> indexedPositions(const Lines& lines, const PositionIndex& index,
                                       std::string_view bestellNr, std::string_view fileName) {
    std::vector<Position> positions;
    for (const std::uint32_t n : index.linesOf(bestellNr)) {
        if (isBlankLine(lines[n]))
            continue;
        std::optional<Position> p = parsePositionLine(lines[n]);
        if (!p)
            throwShortLine(fileName, n + 1, kPositionCuts);
        if (isPosition(*p))
            positions.push_back(std::move(*p));
    }
    return positions;
}

std::string orderLine(const OrderRecord& order) {
    std::string line = order.Datum ? german::dateTimeToStr(*order.Datum) : std::string();
    for (const std::string* field : textFields(order)) {
        line += kSeparator;
        line += *field;
    }
    return line;
}

Lines loadOrderFile(const std::string& path) {
    return splitLines(loadOrderFileBytes(path));
}

std::string loadOrderFileBytes(const std::string& path) {
    if (!pathExists(path))
        writeFileBytes(path, {});
    return readFileBytes(path);
}

void saveOrders(const std::string& path, const std::vector<OrderRecord>& orders) {
    Lines lines;
    lines.reserve(orders.size());
    for (const OrderRecord& order : orders)
        lines.push_back(orderLine(order));
    writeLines(path, lines);
}

} // namespace velmo::datafiles
