#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// German number and date rules of the workstation, independent of the C locale. Texts passed in are
// Windows-1252 bytes (they come from the data files); error messages quote them converted to UTF-8.
namespace velmo::german {

// Days since 1899-12-30, the fraction is the time of day (the classic desktop date-time value).
using DateTime = double;

// Fixed point with four decimals: the value times 10,000.
struct Currency {
    std::int64_t scaled = 0;
    friend auto operator<=>(const Currency&, const Currency&) = default;
};

// Optional blanks around, optional sign, digits with at most one decimal comma, optional exponent
// ("1,5E3"). A thousands point is rejected. Throws EConvertError
// "'%s' ist kein gültiger Gleitkommawert".
double strToFloat(std::string_view text);
bool tryStrToFloat(std::string_view text, double& value);

// As strToFloat, rounded to four decimals. Same message.
Currency strToCurr(std::string_view text);
double currToDouble(Currency c);
Currency doubleToCurr(double v);

// Decimal integer with optional sign (and blanks around). Throws EConvertError
// "'%s' ist kein gültiger Integerwert".
std::int64_t strToInt(std::string_view text);

// Shortest text with up to 15 significant digits, decimal comma ("12,5", "3", "1E20").
std::string floatToStr(double value);
std::string currToStr(Currency value);

// Patterns with '#', '0', ',' (thousands grouping) and '.' (decimal point) in their usual meaning:
// formatFloat("#,###,##0.00", 1234.5) == "1.234,50". Halves round away from zero.
std::string formatFloat(std::string_view pattern, double value);

DateTime encodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int msec = 0);
struct DateTimeParts {
    int year, month, day, hour, minute, second, msec;
};
DateTimeParts decodeDateTime(DateTime value);

// "dd.mm.yyyy", followed by a blank and "hh:nn:ss" only when the time of day is not midnight.
std::string dateTimeToStr(DateTime value);
std::string dateToStr(DateTime value);

// Accepts d.m.yyyy, d.m.yy (two-digit years within 50 years of today), d.m (this year), each
// optionally followed by a blank and h:n or h:n:s. An empty (or blank) text gives no date.
// Throws EConvertError "'%s' ist keine gültige Datums- und Uhrzeitangabe".
std::optional<DateTime> strToDateTime(std::string_view text);

DateTime now();

} // namespace velmo::german
