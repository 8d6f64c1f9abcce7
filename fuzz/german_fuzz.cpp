// German numbers and dates: a value read from text formats and reads back to the same value.
#include "fuzz/fuzz.h"
#include "platform/errors.h"
#include "platform/german.h"

#include <charconv>
#include <cmath>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const std::string_view text = fuzz::bytes(data, size);
    double value = 0;
    if (german::tryStrToFloat(text, value)) {
        fuzz::check(std::isfinite(value), "a parsed number is not finite");
        // Without an exponent the value is the correctly rounded one, as the C reader finds it.
        if (text.size() <= 40 && text.find_first_of("eE") == std::string_view::npos) {
            std::string c;
            for (char ch : text) {
                if (ch != ' ' && ch != '\t' && ch != '+')
                    c += ch == ',' ? '.' : ch;
            }
            double expected = 0;
            std::from_chars(c.data(), c.data() + c.size(), expected);
            fuzz::check(value == expected && std::signbit(value) == std::signbit(expected),
                        "a number without exponent reads other than correctly rounded");
        }
        // The text holds 15 significant digits, so the value read back may differ in the last bits;
        // its text must not.
        const std::string written = german::floatToStr(value);
        fuzz::check(german::floatToStr(german::strToFloat(written)) == written,
                    "a number's text is not stable");
        fuzz::check(german::formatFloat("#,###,##0.00", value).find('.') != 0, "format starts with a point");
    }
    try {
        const german::Currency c = german::strToCurr(text);
        fuzz::check(german::strToCurr(german::currToStr(c)) == c, "a currency amount reads back differently");
    } catch (const EConvertError&) {
    }
    try {
        if (const auto date = german::strToDateTime(text)) {
            const std::string written = german::dateTimeToStr(*date);
            const auto again = german::strToDateTime(written);
            fuzz::check(again.has_value(), "a formatted date reads as no date");
            // Whole seconds survive; milliseconds are not written.
            fuzz::check(std::fabs(*again - *date) < 1.0 / 86400.0, "a formatted date reads back differently");
            fuzz::check(german::dateTimeToStr(*again) == written, "a date's text is not stable");
        }
    } catch (const EConvertError&) {
    }
    return 0;
}
