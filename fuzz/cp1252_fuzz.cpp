// Windows-1252: every byte string survives the way to UTF-8 and back; UTF-8 of any kind converts
// without fault and what comes out is stable.
#include "fuzz/fuzz.h"
#include "platform/cp1252.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const std::string_view input = fuzz::bytes(data, size);
    fuzz::check(cp1252::fromUtf8(cp1252::toUtf8(input)) == input, "bytes changed on the way through UTF-8");
    const std::string fromAny = cp1252::fromUtf8(input);
    fuzz::check(fromAny.size() <= input.size(), "conversion from UTF-8 grew the text");
    fuzz::check(cp1252::fromUtf8(cp1252::toUtf8(fromAny)) == fromAny, "converted text is not stable");
    return 0;
}
