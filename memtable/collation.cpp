#include "memtable/collation.h"

#include "platform/cp1252.h"

#include <unicode/ucol.h>

#include <array>
#include <stdexcept>

namespace velmo::collation {

namespace {

std::array<UChar, 256> makeUtf16Table() {
    std::array<UChar, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[static_cast<std::size_t>(b)] =
            static_cast<UChar>(cp1252::toUnicode(static_cast<unsigned char>(b)));
    return table;
}

const std::array<UChar, 256> kUtf16 = makeUtf16Table();

// One pair of collators per thread: ICU collators are cheap to use but not meant to be shared
// between threads while in use.
class Collators {
public:
    Collators() {
        m_caseSensitive = open(UCOL_TERTIARY);
        m_caseInsensitive = open(UCOL_SECONDARY);
    }
    ~Collators() {
        ucol_close(m_caseSensitive);
        ucol_close(m_caseInsensitive);
    }
    Collators(const Collators&) = delete;
    Collators& operator=(const Collators&) = delete;

    UCollator* get(bool caseInsensitive) const {
        return caseInsensitive ? m_caseInsensitive : m_caseSensitive;
    }

    // Scratch buffers for the UTF-16 forms of the two texts being compared.
    std::u16string a, b;
    std::string key;

private:
    static UCollator* open(UColAttributeValue strength) {
        UErrorCode status = U_ZERO_ERROR;
        UCollator* c = ucol_open("de", &status);
        if (U_FAILURE(status))
            throw std::runtime_error(std::string("ICU-Sortierung für Deutsch nicht verfügbar: ") +
                                     u_errorName(status));
        ucol_setStrength(c, strength);
        return c;
    }

    UCollator* m_caseSensitive = nullptr;
    UCollator* m_caseInsensitive = nullptr;
};

Collators& collators() {
    thread_local Collators c;
    return c;
}

void toUtf16(std::u16string& out, std::string_view text) {
    out.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        out[i] = kUtf16[static_cast<unsigned char>(text[i])];
}

bool isAscii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

int compare(std::string_view a, std::string_view b, bool caseInsensitive) {
    if (a == b)
        return 0;
    Collators& c = collators();
    UCollator* coll = c.get(caseInsensitive);
    UCollationResult r;
    if (isAscii(a) && isAscii(b)) {
        // Plain ASCII is valid UTF-8 as it stands, which saves the conversion.
        UErrorCode status = U_ZERO_ERROR;
        r = ucol_strcollUTF8(coll, a.data(), static_cast<int32_t>(a.size()), b.data(),
                             static_cast<int32_t>(b.size()), &status);
    } else {
        toUtf16(c.a, a);
        toUtf16(c.b, b);
        r = ucol_strcoll(coll, c.a.data(), static_cast<int32_t>(c.a.size()), c.b.data(),
                         static_cast<int32_t>(c.b.size()));
    }
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

void appendSortKey(std::string& out, std::string_view text, bool caseInsensitive) {
    Collators& c = collators();
    toUtf16(c.a, text);
    const std::size_t start = out.size();
    // Most keys are a little longer than their text; grow once if the guess was short.
    std::size_t room = text.size() * 3 + 16;
    for (;;) {
        out.resize(start + room);
        const int32_t needed =
            ucol_getSortKey(c.get(caseInsensitive), c.a.data(), static_cast<int32_t>(c.a.size()),
                            reinterpret_cast<uint8_t*>(out.data() + start), static_cast<int32_t>(room));
        if (static_cast<std::size_t>(needed) <= room) {
            out.resize(start + static_cast<std::size_t>(needed));
            return;
        }
        room = static_cast<std::size_t>(needed);
    }
}

} // namespace velmo::collation
