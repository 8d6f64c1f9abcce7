// What the TLS side takes from outside: a fingerprint a person typed (or pasted from the openssl
// tool) and the replies to AUTH TLS, PBSZ and PROT. A fingerprint is either refused (empty) or 32
// upper-case hex pairs with colons that normalise to themselves and keep the input's digits; a
// reply is accepted only with its command's own code.
#include "ftp/tls.h"
#include "fuzz/fuzz.h"

#include <cctype>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmo;
    const std::string_view text = fuzz::bytes(data, size);

    const std::string canonical = normalizeFingerprint(text);
    if (!canonical.empty()) {
        fuzz::check(canonical.size() == 95, "a fingerprint of another length than 32 pairs");
        for (std::size_t i = 0; i < canonical.size(); ++i) {
            const char c = canonical[i];
            if (i % 3 == 2)
                fuzz::check(c == ':', "pairs not separated by colons");
            else
                fuzz::check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'), "not upper-case hex");
        }
        fuzz::check(normalizeFingerprint(canonical) == canonical, "the canonical form changes again");
        // The hex digits after any "name=" prefix are the fingerprint's, in order.
        std::string_view body =
            text.substr(text.find('=') == std::string_view::npos ? 0 : text.find('=') + 1);
        std::string digits;
        for (char c : body)
            if (std::isxdigit(static_cast<unsigned char>(c)))
                digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::string expected;
        for (char c : canonical)
            if (c != ':')
                expected += c;
        fuzz::check(digits == expected, "digits lost or invented");
    }

    for (const char* command : {"AUTH TLS", "PBSZ 0", "PROT P"}) {
        if (!tlsReplyAccepted(command, text))
            continue;
        const std::string_view code = std::string_view(command).starts_with("AUTH") ? "234" : "200";
        fuzz::check(text.starts_with(code), "a reply accepted with another code");
        fuzz::check(text.size() == 3 || !std::isdigit(static_cast<unsigned char>(text[3])),
                    "a longer number taken for the code");
    }
    return 0;
}
