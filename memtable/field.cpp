#include "memtable/memtable.h"
#include "memtable/values.h"

#include "platform/cp1252.h"

namespace velmo {

namespace {

constexpr const char* kNotAFloat = "'%s' ist kein gültiger Gleitkommawert";
constexpr const char* kNotAFloatForField = "'%s' ist kein gültiger Fließkommawert für Feld '%s'";
constexpr const char* kNotADateTime = "'%s' ist keine gültige Datums- und Uhrzeitangabe";

// Messages are UTF-8 and quote the data as the user typed it; a NUL would end the text wherever it is
// taken as a C string.
std::string quote(std::string_view text) {
    std::string out = cp1252::toUtf8(text);
    for (char& c : out) {
        if (c == '\0')
            c = '?';
    }
    return out;
}

double parseFloat(std::string_view text) {
    double v = 0;
    if (!german::tryStrToFloat(text, v))
        throw EConvertError(formatMessage(kNotAFloat, quote(text)));
    return v;
}

// A float, currency or date-time field's value as a double; no value reads 0.
double numberAsDouble(FieldType type, bool present, std::string_view bytes) {
    if (!present)
        return 0.0;
    if (type == FieldType::Currency)
        return german::currToDouble(german::Currency{detail::loadInt64(bytes)});
    return detail::loadDouble(bytes);
}

} // namespace

namespace detail {

german::Currency textAsCurrency(std::string_view text) {
    // Validated first so the message is this one whatever the converter would say.
    parseFloat(text);
    return german::strToCurr(text);
}

bool parseForField(const FieldDef& def, std::string_view text, std::string& bytes) {
    if (def.type == FieldType::String) {
        bytes.assign(cutString(text, def.size));
        return true;
    }
    if (text.empty())
        return false;
    switch (def.type) {
    case FieldType::String:
        break;
    case FieldType::Float:
    case FieldType::Currency: {
        double v = 0;
        if (!german::tryStrToFloat(text, v))
            throw EConvertError(formatMessage(kNotAFloatForField, {quote(text), def.name}));
        bytes = def.type == FieldType::Float ? doubleBytes(v) : int64Bytes(german::strToCurr(text).scaled);
        return true;
    }
    case FieldType::DateTime: {
        std::optional<german::DateTime> d;
        try {
            d = german::strToDateTime(text);
        } catch (const EConvertError&) {
            throw EConvertError(formatMessage(kNotADateTime, quote(text)));
        }
        if (!d)
            return false;
        bytes = doubleBytes(*d);
        return true;
    }
    }
    return false;
}

std::string formatValue(const FieldDef& def, bool present, std::string_view bytes) {
    if (!present)
        return {};
    switch (def.type) {
    case FieldType::String:
        return std::string(bytes);
    case FieldType::Float:
        return german::floatToStr(loadDouble(bytes));
    case FieldType::Currency:
        return german::currToStr(german::Currency{loadInt64(bytes)});
    case FieldType::DateTime:
        return german::dateTimeToStr(loadDouble(bytes));
    }
    return {};
}

} // namespace detail

bool Field::isNull() const {
    return !m_table->currentValue(m_index).present;
}

std::string_view Field::view() const {
    if (m_def.type != FieldType::String)
        return {};
    return m_table->currentValue(m_index).bytes;
}

std::string Field::asString() const {
    auto v = m_table->currentValue(m_index);
    return detail::formatValue(m_def, v.present, v.bytes);
}

double Field::asFloat() const {
    auto v = m_table->currentValue(m_index);
    if (m_def.type == FieldType::String)
        return parseFloat(v.bytes);
    return numberAsDouble(m_def.type, v.present, v.bytes);
}

german::Currency Field::asCurrency() const {
    auto v = m_table->currentValue(m_index);
    switch (m_def.type) {
    case FieldType::String:
        return detail::textAsCurrency(v.bytes);
    case FieldType::Float:
    case FieldType::DateTime:
        return v.present ? german::doubleToCurr(detail::loadDouble(v.bytes)) : german::Currency{};
    case FieldType::Currency:
        return german::Currency{v.present ? detail::loadInt64(v.bytes) : 0};
    }
    return {};
}

german::DateTime Field::asDateTime() const {
    auto v = m_table->currentValue(m_index);
    if (m_def.type != FieldType::String)
        return numberAsDouble(m_def.type, v.present, v.bytes);
    std::optional<german::DateTime> d;
    try {
        d = german::strToDateTime(v.bytes);
    } catch (const EConvertError&) {
        throw EConvertError(formatMessage(kNotADateTime, quote(v.bytes)));
    }
    return d.value_or(0.0);
}

void Field::setAsString(std::string_view text) {
    m_table->checkEditable();
    if (m_def.type == FieldType::String) {
        m_table->assign(m_index, true, std::string(detail::cutString(text, m_def.size)));
        return;
    }
    std::string bytes;
    const bool present = detail::parseForField(m_def, text, bytes);
    m_table->assign(m_index, present, std::move(bytes));
}

void Field::setAsFloat(double value) {
    setNumber(value, german::floatToStr);
}

void Field::setAsCurrency(german::Currency value) {
    m_table->checkEditable();
    switch (m_def.type) {
    case FieldType::String:
        m_table->assign(m_index, true, std::string(detail::cutString(german::currToStr(value), m_def.size)));
        return;
    case FieldType::Float:
    case FieldType::DateTime:
        m_table->assign(m_index, true, detail::doubleBytes(german::currToDouble(value)));
        return;
    case FieldType::Currency:
        m_table->assign(m_index, true, detail::int64Bytes(value.scaled));
        return;
    }
}

void Field::setAsDateTime(german::DateTime value) {
    setNumber(value, german::dateTimeToStr);
}

// A float or a date-time: a string field keeps it as text, a currency field rounded.
void Field::setNumber(double value, std::string (*toText)(double)) {
    m_table->checkEditable();
    switch (m_def.type) {
    case FieldType::String:
        m_table->assign(m_index, true, std::string(detail::cutString(toText(value), m_def.size)));
        return;
    case FieldType::Float:
    case FieldType::DateTime:
        m_table->assign(m_index, true, detail::doubleBytes(value));
        return;
    case FieldType::Currency:
        m_table->assign(m_index, true, detail::int64Bytes(german::doubleToCurr(value).scaled));
        return;
    }
}

void Field::clear() {
    m_table->checkEditable();
    m_table->assign(m_index, false, {});
}

} // namespace velmo
