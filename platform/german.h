#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// German number and date rules of the workstation, independent of the C locale. Texts passed in are
// Windows-1252 bytes (they come from the data files); error messages quote them converted to UTF-8.
namespace velmo::german {

// Days since 1899-12-30, the fraction is the time of day (the classic desktop date-time value).
// Before that day the integer part counts back and the fraction is still the time of day, so
// -1.25 is 1899-12-29 06:00.
using DateTime = double;

// Fixed point with four decimals: the value times 10,000.
struct Currency {
    std::int64_t scaled = 0;
    friend auto operator<=>(const Currency&, const Currency&) = default;
};

// Optional blanks around, optional sign, digits with at most one decimal comma, optional exponent
// ("1,5E3"). A thousands point is rejected. A value too small for a double gives 0, one too large
// is rejected. Throws EConvertError "'%s' ist kein gültiger Gleitkommawert".
double strToFloat(std::string_view text);
bool tryStrToFloat(std::string_view text, double& value);

// As strToFloat, rounded to four decimals (halves away from zero), computed on the decimal digits
// so that "0,00005" gives 0,0001. Same message, also for amounts beyond the currency's range.
Currency strToCurr(std::string_view text);
double currToDouble(Currency c);
// Rounds the value's 15 significant digits to four decimals. Throws EConvertError for NaN,
// infinities and values beyond the currency's range.
Currency doubleToCurr(double v);

// Decimal integer with optional sign (and blanks around). Throws EConvertError
// "'%s' ist kein gültiger Integerwert".
std::int64_t strToInt(std::string_view text);

// Shortest text with up to 15 significant digits, decimal comma ("12,5", "3", "0,0001"). Values from
// 1E15 up and below 0,00001 are written with an exponent ("1E20", "1,5E-7"). "NAN", "INF", "-INF".
std::string floatToStr(double value);
// Up to four decimals, trailing zeros dropped ("12,5", "-0,0001", "3").
std::string currToStr(Currency value);

// Patterns with '#', '0', ',' (thousands grouping) and '.' (decimal point) in their usual meaning:
// formatFloat("#,###,##0.00", 1234.5) == "1.234,50". The number of '0' before the point is the
// least number of integer digits, the '0' after it the least and '0' plus '#' the most decimals.
// Other characters before or after the placeholders are copied. The value is first taken to its
// 15 significant digits, then halves round away from zero. A minus sign is written only when a
// non-zero digit remains. An empty pattern gives floatToStr.
std::string formatFloat(std::string_view pattern, double value);
// The same for a currency amount, exact on all of its digits.
std::string formatCurr(std::string_view pattern, Currency value);

// Throws EConvertError for a date or time outside the calendar (year 1 to 9999).
DateTime encodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                        int msec = 0);
struct DateTimeParts {
    int year, month, day, hour, minute, second, msec;
};
// Throws EConvertError for NaN or a value outside the years 1 to 9999.
DateTimeParts decodeDateTime(DateTime value);

// "dd.mm.yyyy", followed by a blank and "hh:nn:ss" only when the time of day is not midnight.
std::string dateTimeToStr(DateTime value);
std::string dateToStr(DateTime value);

// Accepts d.m.yyyy, d.m.yy (two-digit years within 50 years of today), d.m (this year), each
// optionally followed by a blank and h:n or h:n:s. Day, month, hour, minute and second have one or
// two digits, the year one to four (three or four are taken as written). An empty (or blank) text
// gives no date. Throws EConvertError "'%s' ist keine gültige Datums- und Uhrzeitangabe".
std::optional<DateTime> strToDateTime(std::string_view text);
// The same with "this year" given: two-digit years fall into currentYear - 50 .. currentYear + 49.
std::optional<DateTime> strToDateTime(std::string_view text, int currentYear);

// The local date and time of day.
DateTime now();

} // namespace velmo::german
