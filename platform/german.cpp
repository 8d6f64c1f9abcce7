#include "platform/german.h"

#include "platform/cp1252.h"
#include "platform/errors.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>
#include <system_error>

namespace velmo::german {

namespace {

constexpr const char* kFloatError = "'%s' ist kein gültiger Gleitkommawert";
constexpr const char* kIntError = "'%s' ist kein gültiger Integerwert";
constexpr const char* kDateError = "'%s' ist keine gültige Datums- und Uhrzeitangabe";
constexpr const char* kEncodeError = "Ungültiges Argument für die Datums- und Zeitumrechnung";

constexpr std::int64_t kMsPerDay = 86'400'000;

// The message quotes the text as the user would see it. A NUL byte would end the message text early
// wherever it is taken as a C string, so it is shown as '?'.
[[noreturn]] void fail(const char* pattern, std::string_view text) {
    std::string quoted = cp1252::toUtf8(text);
    for (char& c : quoted) {
        if (c == '\0')
            c = '?';
    }
    throw EConvertError(formatMessage(pattern, quoted));
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A non-negative decimal number: the integer written by `digits` times 10^exponent. `digits` has
// no leading zeros; zero is the empty string.
struct Decimal {
    bool negative = false;
    std::string digits;
    long exponent = 0;
};

void stripLeadingZeros(std::string& digits) {
    std::size_t i = 0;
    while (i < digits.size() && digits[i] == '0')
        ++i;
    digits.erase(0, i);
}

// The German number grammar. Returns nothing when the text does not follow it.
std::optional<Decimal> scanNumber(std::string_view text) {
    std::string_view s = trimBlanks(text);
    Decimal d;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        d.negative = s[i++] == '-';
    std::size_t mantissaDigits = 0;
    long fractionDigits = 0;
    for (; i < s.size() && isDigit(s[i]); ++i, ++mantissaDigits)
        d.digits += s[i];
    if (i < s.size() && s[i] == ',') {
        for (++i; i < s.size() && isDigit(s[i]); ++i, ++mantissaDigits, ++fractionDigits)
            d.digits += s[i];
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    long exponent = 0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            negativeExponent = s[i++] == '-';
        std::size_t start = i;
        for (; i < s.size() && isDigit(s[i]); ++i) {
            // Saturate: anything this far out is zero or out of range for every use anyway.
            if (exponent < 1'000'000)
                exponent = exponent * 10 + (s[i] - '0');
        }
        if (i == start)
            return std::nullopt;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != s.size())
        return std::nullopt;
    stripLeadingZeros(d.digits);
    d.exponent = exponent - fractionDigits;
    return d;
}

// Adds one to a string of decimal digits.
void increment(std::string& digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

// digits * 10^exponent rounded to an integer, halves away from zero (the sign is kept apart).
// Returns the digits of the result without leading zeros ("" for zero).
std::string roundToInteger(const std::string& digits, long exponent) {
    if (digits.empty())
        return {};
    if (exponent >= 0)
        return digits + std::string(static_cast<std::size_t>(exponent), '0');
    const std::size_t cut = static_cast<std::size_t>(-exponent);
    if (cut > digits.size())
        return {};
    std::string result = digits.substr(0, digits.size() - cut);
    if (digits[digits.size() - cut] >= '5')
        increment(result);
    stripLeadingZeros(result);
    return result;
}

// A finite double's first 15 significant digits, the precision a double holds reliably.
Decimal significantDigits(double value) {
    Decimal d;
    d.negative = std::signbit(value);
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
    std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf)); // "d.dddddddddddddde+XX"
    std::size_t e = text.find('e');
    d.digits = std::string(text.substr(0, 1)) + std::string(text.substr(2, e - 2));
    int exponent10 = 0;
    std::string_view expText = text.substr(e + 1);
    if (!expText.empty() && expText.front() == '+')
        expText.remove_prefix(1);
    std::from_chars(expText.data(), expText.data() + expText.size(), exponent10);
    d.exponent = exponent10 - 14;
    stripLeadingZeros(d.digits);
    return d;
}

std::optional<Currency> decimalToCurr(const Decimal& d) {
    // Anything with more than 19 integer digits after scaling cannot fit; avoid building huge strings.
    if (!d.digits.empty() && static_cast<long>(d.digits.size()) + d.exponent + 4 > 20)
        return std::nullopt;
    std::string scaled = roundToInteger(d.digits, d.exponent + 4);
    if (scaled.empty())
        return Currency{0};
    std::uint64_t magnitude = 0;
    auto res = std::from_chars(scaled.data(), scaled.data() + scaled.size(), magnitude);
    const auto max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (res.ec != std::errc() || magnitude > max + (d.negative ? 1 : 0))
        return std::nullopt;
    // Negated as unsigned so that the most negative amount does not overflow.
    return Currency{static_cast<std::int64_t>(d.negative ? 0 - magnitude : magnitude)};
}

std::optional<double> decimalToDouble(const Decimal& d) {
    if (d.digits.empty())
        return d.negative ? -0.0 : 0.0;
    // Far beyond the range of a double either way; keep the text short.
    const long magnitude = static_cast<long>(d.digits.size()) + d.exponent;
    if (magnitude > 400)
        return std::nullopt;
    if (magnitude < -400)
        return d.negative ? -0.0 : 0.0;
    std::string text = d.digits + "e" + std::to_string(d.exponent);
    double v = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        if (magnitude > 0)
            return std::nullopt;
        v = 0; // underflow
    } else if (res.ec != std::errc() || res.ptr != text.data() + text.size() || !std::isfinite(v)) {
        return std::nullopt;
    }
    return d.negative ? -v : v;
}

struct NumberPattern {
    std::string prefix, suffix;
    bool grouping = false;
    int minInt = 0;
    int minFrac = 0;
    int maxFrac = 0;
};

bool isPlaceholder(char c) {
    return c == '#' || c == '0' || c == ',' || c == '.';
}

NumberPattern parsePattern(std::string_view pattern) {
    NumberPattern p;
    std::size_t begin = 0;
    while (begin < pattern.size() && !isPlaceholder(pattern[begin]))
        ++begin;
    std::size_t end = pattern.size();
    while (end > begin && !isPlaceholder(pattern[end - 1]))
        --end;
    p.prefix = pattern.substr(0, begin);
    p.suffix = pattern.substr(end);
    bool fraction = false;
    for (char c : pattern.substr(begin, end - begin)) {
        if (c == '.') {
            fraction = true;
        } else if (c == ',') {
            p.grouping = p.grouping || !fraction;
        } else if (c == '0') {
            ++(fraction ? p.minFrac : p.minInt);
            if (fraction)
                ++p.maxFrac;
        } else if (c == '#' && fraction) {
            ++p.maxFrac;
        }
    }
    return p;
}

std::string applyPattern(const NumberPattern& p, const Decimal& d) {
    std::string scaled = roundToInteger(d.digits, d.exponent + p.maxFrac);
    const bool negative = d.negative && !scaled.empty();
    const std::size_t frac = static_cast<std::size_t>(p.maxFrac);
    if (scaled.size() < frac)
        scaled.insert(0, frac - scaled.size(), '0');
    std::string intPart = scaled.substr(0, scaled.size() - frac);
    std::string fracPart = scaled.substr(scaled.size() - frac);
    while (fracPart.size() > static_cast<std::size_t>(p.minFrac) && fracPart.back() == '0')
        fracPart.pop_back();
    if (intPart.size() < static_cast<std::size_t>(p.minInt))
        intPart.insert(0, static_cast<std::size_t>(p.minInt) - intPart.size(), '0');
    std::string out;
    if (negative)
        out += '-';
    out += p.prefix;
    for (std::size_t i = 0; i < intPart.size(); ++i) {
        if (p.grouping && i > 0 && (intPart.size() - i) % 3 == 0)
            out += '.';
        out += intPart[i];
    }
    if (!fracPart.empty()) {
        out += ',';
        out += fracPart;
    }
    out += p.suffix;
    return out;
}

std::string nonFiniteText(double value) {
    if (std::isnan(value))
        return "NAN";
    return value < 0 ? "-INF" : "INF";
}

// --- calendar -------------------------------------------------------------------------------------

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's civil calendar algorithms).
constexpr std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

constexpr std::int64_t kEpoch = daysFromCivil(1899, 12, 30);
constexpr std::int64_t kFirstDay = daysFromCivil(1, 1, 1) - kEpoch;
constexpr std::int64_t kLastDay = daysFromCivil(9999, 12, 31) - kEpoch;

bool validDateTime(int y, int mo, int d, int h, int mi, int s, int ms) {
    return y >= 1 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 && d <= daysInMonth(y, mo) && h >= 0 &&
           h <= 23 && mi >= 0 && mi <= 59 && s >= 0 && s <= 59 && ms >= 0 && ms <= 999;
}

std::string twoDigits(int v) {
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

std::string fourDigits(int v) {
    std::string s = std::to_string(v);
    return s.size() < 4 ? std::string(4 - s.size(), '0') + s : s;
}

// Reads 1..maxDigits digits at s[i]; false when there are none or too many.
bool scanField(std::string_view s, std::size_t& i, std::size_t maxDigits, int& value, std::size_t& count) {
    std::size_t start = i;
    value = 0;
    while (i < s.size() && isDigit(s[i])) {
        if (i - start == maxDigits)
            return false;
        value = value * 10 + (s[i] - '0');
        ++i;
    }
    count = i - start;
    return count > 0;
}

int currentYear() {
    return decodeDateTime(now()).year;
}

} // namespace

// --- numbers --------------------------------------------------------------------------------------

namespace {

// Nearly every number in the shop's files is short and has no exponent: "3", "12,50", "-0,75".
// Such a number is read into one integer without building a digit string; anything else goes
// the general way, which gives the same results.
struct PlainNumber {
    bool negative = false;
    std::uint64_t digits = 0; // all digits, those after the comma included, as one integer
    int fraction = 0;         // how many digits follow the comma
};

constexpr int kPlainDigits = 18; // 10^18 - 1 fits an unsigned 64-bit integer

bool scanPlain(std::string_view text, PlainNumber& n) {
    const std::string_view s = trimBlanks(text);
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        n.negative = s[i++] == '-';
    int count = 0;
    for (; i < s.size() && isDigit(s[i]); ++i, ++count)
        n.digits = n.digits * 10 + static_cast<std::uint64_t>(s[i] - '0');
    if (i < s.size() && s[i] == ',') {
        for (++i; i < s.size() && isDigit(s[i]); ++i, ++count, ++n.fraction)
            n.digits = n.digits * 10 + static_cast<std::uint64_t>(s[i] - '0');
    }
    return count > 0 && count <= kPlainDigits && i == s.size();
}

constexpr std::uint64_t kPow10[] = {1,
                                    10,
                                    100,
                                    1'000,
                                    10'000,
                                    100'000,
                                    1'000'000,
                                    10'000'000,
                                    100'000'000,
                                    1'000'000'000,
                                    10'000'000'000,
                                    100'000'000'000,
                                    1'000'000'000'000,
                                    10'000'000'000'000,
                                    100'000'000'000'000,
                                    1'000'000'000'000'000,
                                    10'000'000'000'000'000,
                                    100'000'000'000'000'000,
                                    1'000'000'000'000'000'000};

// Digits and the power of ten are both exact doubles below 2^53 and 10^22, so one division rounds
// the quotient correctly, as reading the whole decimal text would.
std::optional<double> plainToDouble(const PlainNumber& n) {
    if (n.digits > (std::uint64_t{1} << 53))
        return std::nullopt;
    const double v = static_cast<double>(n.digits) / static_cast<double>(kPow10[n.fraction]);
    return n.negative ? -v : v;
}

// Four decimals, the fifth and later rounded half up as the general way does.
std::optional<Currency> plainToCurr(const PlainNumber& n) {
    std::uint64_t magnitude;
    if (n.fraction <= 4) {
        if (__builtin_mul_overflow(n.digits, kPow10[4 - n.fraction], &magnitude))
            return std::nullopt;
    } else {
        const std::uint64_t unit = kPow10[n.fraction - 4];
        magnitude = n.digits / unit + (n.digits % unit >= unit / 2 ? 1 : 0);
    }
    const auto max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (magnitude > max + (n.negative ? 1 : 0))
        return std::nullopt;
    return Currency{static_cast<std::int64_t>(n.negative ? 0 - magnitude : magnitude)};
}

} // namespace

bool tryStrToFloat(std::string_view text, double& value) {
    if (PlainNumber n; scanPlain(text, n)) {
        if (const auto v = plainToDouble(n)) {
            value = *v;
            return true;
        }
    }
    auto d = scanNumber(text);
    if (!d)
        return false;
    auto v = decimalToDouble(*d);
    if (!v)
        return false;
    value = *v;
    return true;
}

double strToFloat(std::string_view text) {
    double v = 0;
    if (!tryStrToFloat(text, v))
        fail(kFloatError, text);
    return v;
}

Currency strToCurr(std::string_view text) {
    if (PlainNumber n; scanPlain(text, n)) {
        if (const auto c = plainToCurr(n))
            return *c;
    }
    auto d = scanNumber(text);
    std::optional<Currency> c = d ? decimalToCurr(*d) : std::nullopt;
    if (!c)
        fail(kFloatError, text);
    return *c;
}

double currToDouble(Currency c) {
    return static_cast<double>(c.scaled) / 10000.0;
}

Currency doubleToCurr(double v) {
    std::optional<Currency> c;
    if (std::isfinite(v))
        c = decimalToCurr(significantDigits(v));
    if (!c)
        throw EConvertError(formatMessage(kFloatError, floatToStr(v)));
    return *c;
}

std::int64_t strToInt(std::string_view text) {
    std::string_view s = trimBlanks(text);
    if (!s.empty() && s.front() == '+' && (s.size() < 2 || s[1] != '-'))
        s.remove_prefix(1);
    std::int64_t v = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    if (s.empty() || res.ec != std::errc() || res.ptr != s.data() + s.size())
        fail(kIntError, text);
    return v;
}

std::string floatToStr(double value) {
    if (!std::isfinite(value))
        return nonFiniteText(value);
    Decimal d = significantDigits(value);
    if (d.digits.empty())
        return "0";
    while (d.digits.back() == '0') {
        d.digits.pop_back();
        ++d.exponent;
    }
    // Position of the first digit: value = 0,d... * 10^(point) ... written as d,ddd * 10^e.
    const long e = d.exponent + static_cast<long>(d.digits.size()) - 1;
    std::string out = d.negative ? "-" : "";
    if (e >= 15 || e < -5) {
        out += d.digits[0];
        if (d.digits.size() > 1) {
            out += ',';
            out += d.digits.substr(1);
        }
        out += 'E';
        out += std::to_string(e);
    } else if (e < 0) {
        out += "0,";
        out += std::string(static_cast<std::size_t>(-e - 1), '0');
        out += d.digits;
    } else {
        const auto intDigits = static_cast<std::size_t>(e + 1);
        if (d.digits.size() <= intDigits) {
            out += d.digits + std::string(intDigits - d.digits.size(), '0');
        } else {
            out += d.digits.substr(0, intDigits);
            out += ',';
            out += d.digits.substr(intDigits);
        }
    }
    return out;
}

std::string currToStr(Currency value) {
    return formatCurr("0.####", value);
}

std::string formatFloat(std::string_view pattern, double value) {
    if (pattern.empty())
        return floatToStr(value);
    if (!std::isfinite(value))
        return nonFiniteText(value);
    return applyPattern(parsePattern(pattern), significantDigits(value));
}

std::string formatCurr(std::string_view pattern, Currency value) {
    if (pattern.empty())
        return currToStr(value);
    Decimal d;
    d.negative = value.scaled < 0;
    // Via unsigned so that the most negative amount has a magnitude too.
    std::uint64_t magnitude =
        d.negative ? 0 - static_cast<std::uint64_t>(value.scaled) : static_cast<std::uint64_t>(value.scaled);
    if (magnitude != 0)
        d.digits = std::to_string(magnitude);
    d.exponent = -4;
    return applyPattern(parsePattern(pattern), d);
}

// --- dates ----------------------------------------------------------------------------------------

DateTime encodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    if (!validDateTime(year, month, day, hour, minute, second, msec))
        throw EConvertError(kEncodeError);
    const auto days = static_cast<double>(
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch);
    const double time = static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + msec) /
                        static_cast<double>(kMsPerDay);
    return days >= 0 ? days + time : days - time;
}

DateTimeParts decodeDateTime(DateTime value) {
    if (!std::isfinite(value) || value < static_cast<double>(kFirstDay) - 1 ||
        value > static_cast<double>(kLastDay) + 1)
        throw EConvertError(kEncodeError);
    const double whole = std::trunc(value);
    auto days = static_cast<std::int64_t>(whole);
    auto ms =
        static_cast<std::int64_t>(std::llround(std::fabs(value - whole) * static_cast<double>(kMsPerDay)));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        days += value < 0 ? -1 : 1;
    }
    if (days < kFirstDay || days > kLastDay)
        throw EConvertError(kEncodeError);
    DateTimeParts p{};
    civilFromDays(days + kEpoch, p.year, p.month, p.day);
    p.msec = static_cast<int>(ms % 1000);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.minute = static_cast<int>(ms / 60'000 % 60);
    p.hour = static_cast<int>(ms / 3'600'000);
    return p;
}

std::string dateToStr(DateTime value) {
    DateTimeParts p = decodeDateTime(value);
    return twoDigits(p.day) + "." + twoDigits(p.month) + "." + fourDigits(p.year);
}

std::string dateTimeToStr(DateTime value) {
    DateTimeParts p = decodeDateTime(value);
    std::string out = twoDigits(p.day) + "." + twoDigits(p.month) + "." + fourDigits(p.year);
    if (p.hour != 0 || p.minute != 0 || p.second != 0 || p.msec != 0)
        out += " " + twoDigits(p.hour) + ":" + twoDigits(p.minute) + ":" + twoDigits(p.second);
    return out;
}

std::optional<DateTime> strToDateTime(std::string_view text) {
    return strToDateTime(text, currentYear());
}

std::optional<DateTime> strToDateTime(std::string_view text, int thisYear) {
    std::string_view s = trimBlanks(text);
    if (s.empty())
        return std::nullopt;
    std::size_t i = 0;
    std::size_t count = 0;
    int day = 0, month = 0, year = thisYear, hour = 0, minute = 0, second = 0;
    bool ok =
        scanField(s, i, 2, day, count) && i < s.size() && s[i++] == '.' && scanField(s, i, 2, month, count);
    if (ok && i < s.size() && s[i] == '.') {
        ++i;
        ok = scanField(s, i, 4, year, count);
        if (ok && count <= 2) {
            const int base = thisYear - 50;
            year = base + (((year - base) % 100) + 100) % 100;
        }
    }
    if (ok && i < s.size()) {
        // The time of day, after at least one blank.
        ok = isBlank(s[i]);
        while (i < s.size() && isBlank(s[i]))
            ++i;
        ok = ok && scanField(s, i, 2, hour, count) && i < s.size() && s[i++] == ':' &&
             scanField(s, i, 2, minute, count);
        if (ok && i < s.size() && s[i] == ':') {
            ++i;
            ok = scanField(s, i, 2, second, count);
        }
        ok = ok && i == s.size();
    }
    if (!ok || !validDateTime(year, month, day, hour, minute, second, 0))
        fail(kDateError, text);
    return encodeDateTime(year, month, day, hour, minute, second);
}

DateTime now() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    ::localtime_r(&ts.tv_sec, &tm);
    return encodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec < 60 ? tm.tm_sec : 59, static_cast<int>(ts.tv_nsec / 1'000'000));
}

} // namespace velmo::german
