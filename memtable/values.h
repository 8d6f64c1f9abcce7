#pragma once

#include "memtable/definitions.h"
#include "platform/german.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// How a table stores and converts one value. Numbers and date-times are kept as 8 bytes (a double,
// or the currency's scaled integer); strings as their bytes.
namespace velmo::detail {

inline constexpr std::size_t kNumberBytes = 8;

// The text a string field keeps: up to the first NUL byte, at most size bytes.
inline std::string_view cutString(std::string_view text, int size) {
    const auto nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    if (text.size() > static_cast<std::size_t>(size))
        text = text.substr(0, static_cast<std::size_t>(size));
    return text;
}

inline double loadDouble(std::string_view bytes) {
    double v = 0;
    if (bytes.size() == sizeof v)
        std::memcpy(&v, bytes.data(), sizeof v);
    return v;
}
inline std::int64_t loadInt64(std::string_view bytes) {
    std::int64_t v = 0;
    if (bytes.size() == sizeof v)
        std::memcpy(&v, bytes.data(), sizeof v);
    return v;
}
inline std::string doubleBytes(double v) {
    std::string out(sizeof v, '\0');
    std::memcpy(out.data(), &v, sizeof v);
    return out;
}
inline std::string int64Bytes(std::int64_t v) {
    std::string out(sizeof v, '\0');
    std::memcpy(out.data(), &v, sizeof v);
    return out;
}

// Parses text for a float, currency or date-time field. Returns false for the empty text (the field
// then holds no value); throws EConvertError with the field's message for anything else that is not
// a number or date.
bool parseForField(const FieldDef& def, std::string_view text, std::string& bytes);

// A string field's text as a currency amount, as Field::asCurrency reads it. Throws EConvertError
// "'%s' ist kein gültiger Gleitkommawert" for a text that is not a number.
german::Currency textAsCurrency(std::string_view text);

// The value as text (empty when absent).
std::string formatValue(const FieldDef& def, bool present, std::string_view bytes);

} // namespace velmo::detail
