#include "platform/errors.h"
#include "platform/german.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace velmo;
using namespace velmo::german;
using namespace std::string_literals;

namespace {

// The message an EConvertError carries, or "" when nothing was thrown.
template <typename F> std::string convertError(F&& f) {
    try {
        f();
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "";
}

// A NUL byte is shown as '?' in a message, the rest of the text as it is.
std::string quoted(std::string text) {
    for (char& c : text) {
        if (c == '\0')
            c = '?';
    }
    return "'" + text + "'";
}

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

} // namespace

TEST(GermanNumbers, AcceptedFloats) {
    struct Case {
        std::string text;
        double value;
    };
    const std::vector<Case> cases = {
        {"12,5", 12.5},   {" -3 ", -3},
        {"+0,5", 0.5},    {"\t7\t", 7},
        {"1,5E3", 1500},  {"1,5e-3", 0.0015},
        {"2E+2", 200},    {",5", 0.5},
        {"5,", 5},        {"007", 7},
        {"0", 0},         {"1E-400", 0},
        {"-0,25", -0.25}, {"123456789,125", 123456789.125},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(strToFloat(c.text), c.value);
        double v = -1;
        EXPECT_TRUE(tryStrToFloat(c.text, v));
        EXPECT_DOUBLE_EQ(v, c.value);
    }
}

TEST(GermanNumbers, RejectedFloatsQuoteTheText) {
    const std::vector<std::string> texts = {
        "",    " ",   "12.5",   "1,234.5", "1.234,5", "1,2,3", "abc", "1 2",      "1E",
        "E5",  "-",   "+",      ",",       "12,5x",   "0x10",  "inf", "nan",      "1E400",
        "--1", "+-1", "1,5E3,", "1E2.5",   "12\0"s,   "\0"s,   "5\r", "12,5 EUR",
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(t);
        double v = 42;
        EXPECT_FALSE(tryStrToFloat(t, v));
        EXPECT_EQ(v, 42) << "a rejected text must not change the value";
        EXPECT_EQ(convertError([&] { strToFloat(t); }), quoted(t) + " ist kein gültiger Gleitkommawert");
    }
}

TEST(GermanNumbers, MessagesShowWindows1252TextAsUtf8) {
    EXPECT_EQ(convertError([] { strToFloat("5\x80"); }), "'5€' ist kein gültiger Gleitkommawert");
    EXPECT_EQ(convertError([] { strToInt("M\xFCller"); }), "'Müller' ist kein gültiger Integerwert");
    EXPECT_EQ(convertError([] { strToDateTime("1.\xE4", 2025); }),
              "'1.ä' ist keine gültige Datums- und Uhrzeitangabe");
}

TEST(GermanNumbers, Integers) {
    EXPECT_EQ(strToInt("21"), 21);
    EXPECT_EQ(strToInt(" -7 "), -7);
    EXPECT_EQ(strToInt("+8"), 8);
    EXPECT_EQ(strToInt("0021"), 21);
    EXPECT_EQ(strToInt("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(strToInt("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    for (std::string t :
         {"", " ", "2,5", "1e3", "9223372036854775808", "+-1", "--1", "0x15", "21a", "2 1", "-", "1 000"}) {
        SCOPED_TRACE(t);
        EXPECT_EQ(convertError([&] { strToInt(t); }), "'" + t + "' ist kein gültiger Integerwert");
    }
    EXPECT_EQ(convertError([] { strToInt("2\0"s); }), "'2?' ist kein gültiger Integerwert");
}

TEST(GermanNumbers, CurrencyRoundsTheDecimalDigits) {
    struct Case {
        std::string text;
        std::int64_t scaled;
    };
    const std::vector<Case> cases = {
        {"12,345649", 123456}, // the fifth decimal decides, not the sixth
        {"0,00005", 1},        // exactly half: away from zero, although 5E-5 is below half as a double
        {"-0,00005", -1},
        {"1,23455", 12346},
        {"0,00004", 0},
        {"1,5E2", 1'500'000},
        {"1E-5", 0},
        {"922337203685477,5807", std::numeric_limits<std::int64_t>::max()},
        {"-922337203685477,5808", std::numeric_limits<std::int64_t>::min()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(strToCurr(c.text).scaled, c.scaled);
    }
    for (std::string t : {"922337203685477,5808", "1E30", "12.5", ""}) {
        SCOPED_TRACE(t);
        EXPECT_EQ(convertError([&] { strToCurr(t); }), "'" + t + "' ist kein gültiger Gleitkommawert");
    }
}

// Short numbers without an exponent are read by a shortcut; it must give what the correctly rounded
// reading of the whole decimal text gives, for doubles bit for bit and for amounts to the last
// ten-thousandth, on both sides of where the shortcut hands over (18 digits, 2^53, 22 decimals).
TEST(GermanNumbers, ShortNumbersReadExactlyAsLongOnes) {
    std::mt19937_64 rng(20261209);
    std::uniform_int_distribution<int> length(1, 20);
    for (int round = 0; round < 20'000; ++round) {
        const int digits = length(rng);
        const int fraction = std::uniform_int_distribution<int>(0, digits)(rng);
        std::string german = round % 3 == 0 ? "-" : "";
        for (int i = 0; i < digits; ++i) {
            if (i == digits - fraction)
                german += ',';
            german += static_cast<char>('0' + rng() % 10);
        }
        std::string dotted = german;
        std::replace(dotted.begin(), dotted.end(), ',', '.');
        SCOPED_TRACE(german);

        double expected = 0;
        std::from_chars(dotted.data(), dotted.data() + dotted.size(), expected);
        double value = 0;
        ASSERT_TRUE(tryStrToFloat(german, value));
        EXPECT_EQ(std::signbit(value), std::signbit(expected));
        EXPECT_EQ(value, expected);

        // The amount in ten-thousandths, the fifth decimal rounding half away from zero.
        const bool negative = german[0] == '-';
        std::string all = german.substr(negative ? 1 : 0);
        const std::size_t comma = all.find(',');
        std::string whole = all.substr(0, comma),
                    decimals = comma == std::string::npos ? "" : all.substr(comma + 1);
        decimals.resize(std::max<std::size_t>(decimals.size(), 5), '0');
        unsigned __int128 scaled = 0;
        for (char c : whole + decimals.substr(0, 4))
            scaled = scaled * 10 + static_cast<unsigned>(c - '0');
        scaled += decimals[4] >= '5' ? 1 : 0;
        const auto max = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max());
        if (scaled > max + (negative ? 1 : 0)) {
            EXPECT_THROW(strToCurr(german), EConvertError);
        } else {
            const auto magnitude = static_cast<std::uint64_t>(scaled);
            EXPECT_EQ(strToCurr(german).scaled,
                      static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude));
        }
    }
    struct Case {
        std::string text;
        double value;
    };
    const std::vector<Case> edges = {
        {"9007199254740992", 9007199254740992.0},
        {"9007199254740993", 9007199254740992.0},
        {"9007199254740995", 9007199254740996.0},
        {"999999999999999999", 1e18},
        {"0,1", 0.1},
        {"0,0000000000000000000001", 1e-22},
        {"1,00000000000000005", 1.0},
        {"-0", -0.0},
    };
    for (const auto& c : edges) {
        SCOPED_TRACE(c.text);
        double v = 0;
        ASSERT_TRUE(tryStrToFloat(c.text, v));
        EXPECT_EQ(v, c.value);
        EXPECT_EQ(std::signbit(v), std::signbit(c.value));
    }
}

TEST(GermanNumbers, CurrencyFromAndToDouble) {
    EXPECT_EQ(doubleToCurr(0.1 + 0.2).scaled, 3000);
    EXPECT_EQ(doubleToCurr(1.00005).scaled, 10001);
    EXPECT_EQ(doubleToCurr(-1.00005).scaled, -10001);
    EXPECT_EQ(doubleToCurr(0.0).scaled, 0);
    EXPECT_DOUBLE_EQ(currToDouble(Currency{125000}), 12.5);
    EXPECT_FALSE(convertError([] { doubleToCurr(kNan); }).empty());
    EXPECT_FALSE(convertError([] { doubleToCurr(1e300); }).empty());

    EXPECT_EQ(currToStr(Currency{125000}), "12,5");
    EXPECT_EQ(currToStr(Currency{-1}), "-0,0001");
    EXPECT_EQ(currToStr(Currency{30000}), "3");
    EXPECT_EQ(currToStr(Currency{0}), "0");
    EXPECT_EQ(currToStr(Currency{std::numeric_limits<std::int64_t>::min()}), "-922337203685477,5808");
}

TEST(GermanNumbers, FloatToStrIsShortestWithFifteenDigits) {
    struct Case {
        double value;
        std::string text;
    };
    const std::vector<Case> cases = {
        {12.5, "12,5"},
        {3, "3"},
        {0, "0"},
        {-0.0, "0"},
        {0.1, "0,1"},
        {0.1 + 0.2, "0,3"},
        {1.0 / 3, "0,333333333333333"},
        {2.0 / 3, "0,666666666666667"},
        {-1234.5, "-1234,5"},
        {999999999999999.0, "999999999999999"},
        {1e15, "1E15"},
        {1e20, "1E20"},
        {123456789012345678.0, "1,23456789012346E17"},
        {0.00001, "0,00001"},
        {0.000001, "1E-6"},
        {-1.5e-7, "-1,5E-7"},
        {kNan, "NAN"},
        {kInf, "INF"},
        {-kInf, "-INF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(floatToStr(c.value), c.text);
    }
    // What is written reads back.
    for (double v : {12.5, -1234.5, 1e20, 1.5e-7, 0.1 + 0.2})
        EXPECT_DOUBLE_EQ(strToFloat(floatToStr(v)), v);
}

TEST(GermanNumbers, FormatPatterns) {
    struct Case {
        std::string pattern;
        double value;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"#,###,##0.00", 1234.5, "1.234,50"},
        {"#,###,##0.00", 0, "0,00"},
        {"#,###,##0.00", -1234.5, "-1.234,50"},
        {"#,###,##0.00", 0.125, "0,13"}, // an exact binary half goes up, not to the even digit
        {"#,###,##0.00", -0.125, "-0,13"},
        {"#,###,##0.00", 1.005, "1,01"}, // the double lies just below; its 15 digits say 1,005
        {"#,###,##0.00", 2.675, "2,68"},
        {"#,###,##0.00", -0.004, "0,00"}, // no "-0,00"
        {"#,###,##0.00", 999.995, "1.000,00"},
        {"#,###,##0.00", 1234567.891, "1.234.567,89"},
        {"#,###,##0.00", 1e20, "100.000.000.000.000.000.000,00"},
        {"#,###,##0.00", 0.1 + 0.2 + 0.005, "0,31"},
        {"#,##0.###", 1234.5, "1.234,5"},
        {"#,##0.###", 3, "3"},
        {"#,##0.###", 0, "0"},
        {"#,##0.###", 0.0005, "0,001"},
        {"#,##0.###", 1234.56789, "1.234,568"},
        {"#,##0.###", -0.0004, "0"},
        {"#,##0.###", -12.25, "-12,25"},
        {"#,##0.00", 12345.678, "12.345,68"},
        {"#,##0.00", -0.5, "-0,50"},
        {"0", 2.5, "3"},
        {"0", -2.5, "-3"},
        {"0.00 DM", 3, "3,00 DM"},
        {"000", 7, "007"},
        {"", 12.5, "12,5"},
        {"#,##0.00", kNan, "NAN"},
        {"#,##0.00", -kInf, "-INF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern + " " + c.text);
        EXPECT_EQ(formatFloat(c.pattern, c.value), c.text);
    }
}

TEST(GermanNumbers, FormatCurrencyIsExact) {
    EXPECT_EQ(formatCurr("#,###,##0.00", Currency{12345}), "1,23");
    EXPECT_EQ(formatCurr("#,###,##0.00", Currency{12350}), "1,24");
    EXPECT_EQ(formatCurr("#,###,##0.00", Currency{-12350}), "-1,24");
    EXPECT_EQ(formatCurr("#,###,##0.00", Currency{std::numeric_limits<std::int64_t>::max()}),
              "922.337.203.685.477,58");
    EXPECT_EQ(formatCurr("#,###,##0.00", Currency{-49}), "0,00");
}

TEST(GermanDates, EncodeKnownDaysAndRoundTrip) {
    EXPECT_DOUBLE_EQ(encodeDateTime(1899, 12, 30), 0);
    EXPECT_DOUBLE_EQ(encodeDateTime(1900, 1, 1), 2);
    EXPECT_DOUBLE_EQ(encodeDateTime(2000, 1, 1), 36526);
    EXPECT_DOUBLE_EQ(encodeDateTime(2000, 1, 1, 18), 36526.75);
    EXPECT_DOUBLE_EQ(encodeDateTime(1899, 12, 29, 6), -1.25);

    const std::vector<DateTimeParts> parts = {
        {1, 1, 1, 0, 0, 0, 0},           {1899, 12, 29, 6, 0, 0, 0},     {1900, 2, 28, 0, 0, 0, 0},
        {1900, 3, 1, 12, 0, 0, 0},       {2000, 2, 29, 23, 59, 59, 999}, {2024, 12, 31, 0, 0, 1, 0},
        {9999, 12, 31, 23, 59, 59, 999},
    };
    for (const auto& p : parts) {
        SCOPED_TRACE(std::to_string(p.year) + "-" + std::to_string(p.month) + "-" + std::to_string(p.day));
        DateTimeParts q =
            decodeDateTime(encodeDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second, p.msec));
        EXPECT_EQ(std::tie(q.year, q.month, q.day, q.hour, q.minute, q.second, q.msec),
                  std::tie(p.year, p.month, p.day, p.hour, p.minute, p.second, p.msec));
    }
    const std::vector<std::array<int, 4>> invalid = {{2023, 2, 29, 0}, {2024, 13, 1, 0}, {0, 1, 1, 0},
                                                     {2024, 1, 1, 24}, {2024, 4, 31, 0}, {10000, 1, 1, 0}};
    for (const auto& bad : invalid) {
        EXPECT_FALSE(convertError([&] { encodeDateTime(bad[0], bad[1], bad[2], bad[3]); }).empty());
    }
    EXPECT_FALSE(convertError([] { decodeDateTime(kNan); }).empty());
    EXPECT_FALSE(convertError([] { decodeDateTime(1e9); }).empty());
}

TEST(GermanDates, StandardForm) {
    EXPECT_EQ(dateTimeToStr(encodeDateTime(2024, 2, 1)), "01.02.2024");
    EXPECT_EQ(dateTimeToStr(encodeDateTime(2024, 2, 1, 13, 5, 9)), "01.02.2024 13:05:09");
    EXPECT_EQ(dateTimeToStr(encodeDateTime(2024, 2, 1, 0, 0, 1)), "01.02.2024 00:00:01");
    EXPECT_EQ(dateTimeToStr(encodeDateTime(5, 1, 2)), "02.01.0005");
    EXPECT_EQ(dateTimeToStr(0), "30.12.1899");
    EXPECT_EQ(dateTimeToStr(-1.25), "29.12.1899 06:00:00");
    EXPECT_EQ(dateToStr(encodeDateTime(2024, 2, 1, 13, 5, 9)), "01.02.2024");
}

TEST(GermanDates, AcceptedTexts) {
    struct Case {
        std::string text;
        DateTimeParts expected;
    };
    // "Today" is in 2025 for these cases.
    const std::vector<Case> cases = {
        {"1.2.2024", {2024, 2, 1, 0, 0, 0, 0}},         {"01.02.2024 13:45", {2024, 2, 1, 13, 45, 0, 0}},
        {"1.2.24 7:05:09", {2024, 2, 1, 7, 5, 9, 0}},   {"1.2", {2025, 2, 1, 0, 0, 0, 0}},
        {"1.2 8:30", {2025, 2, 1, 8, 30, 0, 0}},        {"31.12.75", {1975, 12, 31, 0, 0, 0, 0}},
        {"1.1.74", {2074, 1, 1, 0, 0, 0, 0}},           {"1.1.0", {2000, 1, 1, 0, 0, 0, 0}},
        {"29.2.2024", {2024, 2, 29, 0, 0, 0, 0}},       {" 5.6.2020 ", {2020, 6, 5, 0, 0, 0, 0}},
        {"5.6.2020  10:00", {2020, 6, 5, 10, 0, 0, 0}}, {"5.6.2020 23:59:59", {2020, 6, 5, 23, 59, 59, 0}},
        {"1.1.0099", {99, 1, 1, 0, 0, 0, 0}},           {"5.6.999", {999, 6, 5, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto v = strToDateTime(c.text, 2025);
        ASSERT_TRUE(v.has_value());
        const auto& e = c.expected;
        EXPECT_DOUBLE_EQ(*v, encodeDateTime(e.year, e.month, e.day, e.hour, e.minute, e.second));
    }
    // The century window follows the year given as today.
    EXPECT_EQ(decodeDateTime(*strToDateTime("1.1.75", 2030)).year, 2075);
    EXPECT_EQ(decodeDateTime(*strToDateTime("1.1.80", 2030)).year, 1980);
    // Without a year given it is this year.
    EXPECT_EQ(decodeDateTime(*strToDateTime("1.2")).year, decodeDateTime(now()).year);
}

TEST(GermanDates, EmptyTextIsNoDate) {
    EXPECT_FALSE(strToDateTime("", 2025).has_value());
    EXPECT_FALSE(strToDateTime("   ", 2025).has_value());
}

TEST(GermanDates, RejectedTextsQuoteTheText) {
    const std::vector<std::string> texts = {
        "29.2.2023",
        "32.1.2020",
        "1.13.2020",
        "0.1.2020",
        "1.0.2020",
        "1",
        "1.",
        "12.0",
        "1.2.",
        "1.2.2020 24:00",
        "1.2.2020 12:60",
        "1.2.2020 12",
        "1.2.2020 12:",
        "1.2.2020 1:2:60",
        "2020-01-02",
        "1/2/2020",
        "1.2.20200",
        "1.2.2020x",
        "1.2.2020 12:00:00:00",
        "001.1.2020",
        "1.2.0000",
        "12:30",
        "1.2.2020\0"s,
        "1.2.2020 -",
        "1.2.2020 12:00x",
        "1.2.2020,12:00",
        "1.2.2020 123:00",
        "abc",
        "1.2.2020\r",
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(t);
        EXPECT_EQ(convertError([&] { strToDateTime(t, 2025); }),
                  quoted(t) + " ist keine gültige Datums- und Uhrzeitangabe");
    }
}

TEST(GermanDates, StandardFormReadsBack) {
    for (DateTime v : {encodeDateTime(2024, 2, 1), encodeDateTime(1999, 12, 31, 23, 59, 59),
                       encodeDateTime(2024, 7, 8, 0, 0, 1)}) {
        SCOPED_TRACE(dateTimeToStr(v));
        EXPECT_DOUBLE_EQ(*strToDateTime(dateTimeToStr(v), 2025), v);
    }
}
