#include "memtable/collation.h"

#include "platform/cp1252.h"

#include <unicode/ucol.h>
#include <unicode/ucoleitr.h>
#include <unicode/uset.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

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

// One collation element: its primary, secondary and tertiary weight (case bits taken off the
// tertiary, as the collator compares with case-first off).
struct Element {
    std::uint32_t primary;
    std::uint16_t secondary;
    std::uint16_t tertiary;
};

// The collator's elements of a UTF-16 text, in order. The iterator hands out each element as one
// or two 32-bit halves; a second half carries the low bits and is marked as a continuation.
void elementsOf(UCollator* coll, const std::u16string& text, std::vector<Element>& out) {
    out.clear();
    UErrorCode status = U_ZERO_ERROR;
    UCollationElements* it = ucol_openElements(coll, text.data(), static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("ICU-Sortierung nicht verfügbar: ") + u_errorName(status));
    std::vector<std::uint32_t> halves;
    for (;;) {
        const int32_t order = ucol_next(it, &status);
        if (order == UCOL_NULLORDER || U_FAILURE(status))
            break;
        halves.push_back(static_cast<std::uint32_t>(order));
    }
    ucol_closeElements(it);
    for (std::size_t i = 0; i < halves.size(); ++i) {
        const std::uint32_t first = halves[i];
        std::uint32_t second = 0;
        if (i + 1 < halves.size() && (halves[i + 1] & 0xC0) == 0xC0)
            second = halves[++i];
        out.push_back({(first & 0xFFFF0000u) | (second >> 16),
                       static_cast<std::uint16_t>((first & 0xFF00u) | ((second >> 8) & 0xFFu)),
                       static_cast<std::uint16_t>((((first & 0xFFu) << 8) | (second & 0x3Fu)) & 0x3F3Fu)});
    }
}

// A weight's bytes, high first, up to its first zero byte: the collator's weights hold no zero byte
// but as padding at their end, so the written keys hold none and order as the weights do.
void appendWeight(std::string& out, std::uint32_t weight, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        const auto b = static_cast<char>((weight >> shift) & 0xFF);
        if (b == 0)
            return;
        out += b;
    }
}

// Sort keys from tables instead of the collator. Every Windows-1252 character has its fixed
// elements, and a text's elements are its characters' elements one after the other, except where
// the collator joins characters into one (a contraction: "l" with a middle dot). Those few texts
// get their elements from the collator; either way the key is the same: all primary weights, a 1,
// the secondary weights, a 1, the tertiary weights (case-sensitive only), a 0. The collator writes
// its own keys shorter (it compresses runs of common weights), but they order as these do, and
// building one from the tables costs a small part of what the collator's key costs.
class ByteElements {
public:
    ByteElements() {
        UCollator* coll = collators().get(false);
        std::u16string one(1, u'\0');
        std::vector<Element> elements;
        std::string bytes;
        for (std::size_t b = 0; b < 256; ++b) {
            one[0] = kUtf16[b];
            elementsOf(coll, one, elements);
            for (int level = 0; level < 3; ++level) {
                bytes.clear();
                for (const Element& e : elements)
                    appendWeight(bytes,
                                 level == 0   ? e.primary
                                 : level == 1 ? e.secondary
                                              : e.tertiary,
                                 level == 0 ? 4 : 2);
                if (bytes.size() > kSlot) {
                    m_joining[b] = true; // too long for the table: the collator keys such texts
                    continue;
                }
                Slot& slot = m_slots[static_cast<std::size_t>(level)][b];
                std::memcpy(slot.bytes.data(), bytes.data(), bytes.size());
                slot.length = static_cast<std::uint8_t>(bytes.size());
            }
        }
        markContractions(coll);
    }

    void appendKey(std::string& out, std::string_view text, bool caseInsensitive) const {
        if (joinsCharacters(text)) {
            thread_local std::u16string utf16;
            thread_local std::vector<Element> elements;
            toUtf16(utf16, text);
            elementsOf(collators().get(false), utf16, elements);
            appendLevels(out, elements, caseInsensitive);
            return;
        }
        // Each character's bytes of a level are copied as one whole slot; the next character
        // overwrites what lies beyond its length.
        const int levels = caseInsensitive ? 2 : 3;
        // Grown, never shrunk, never cleared: only what is written is read.
        thread_local std::vector<char> scratch;
        const std::size_t room = static_cast<std::size_t>(levels) * (text.size() * kSlot + 1) + kSlot;
        if (scratch.size() < room)
            scratch.resize(room);
        char* p = scratch.data();
        for (int level = 0; level < levels; ++level) {
            const auto& slots = m_slots[static_cast<std::size_t>(level)];
            for (unsigned char c : text) {
                const Slot& slot = slots[c];
                std::memcpy(p, slot.bytes.data(), kSlot);
                p += slot.length;
            }
            *p++ = level + 1 < levels ? '\x01' : '\0';
        }
        out.append(scratch.data(), static_cast<std::size_t>(p - scratch.data()));
    }

private:
    static void appendLevels(std::string& out, const std::vector<Element>& elements, bool caseInsensitive) {
        for (const Element& e : elements)
            appendWeight(out, e.primary, 4);
        out += '\x01';
        for (const Element& e : elements)
            appendWeight(out, e.secondary, 2);
        if (!caseInsensitive) {
            out += '\x01';
            for (const Element& e : elements)
                appendWeight(out, e.tertiary, 2);
        }
        out += '\0';
    }

    // The characters after the first of every contraction written wholly in Windows-1252: a text
    // without any of them has no contraction.
    void markContractions(UCollator* coll) {
        UErrorCode status = U_ZERO_ERROR;
        USet* contractions = uset_openEmpty();
        ucol_getContractionsAndExpansions(coll, contractions, nullptr, true, &status);
        const int32_t items = U_SUCCESS(status) ? uset_getItemCount(contractions) : 0;
        for (int32_t i = 0; i < items; ++i) {
            UChar32 from = 0, to = 0;
            std::array<UChar, 32> chars{};
            UErrorCode itemStatus = U_ZERO_ERROR;
            const int32_t length = uset_getItem(contractions, i, &from, &to, chars.data(),
                                                static_cast<int32_t>(chars.size()), &itemStatus);
            if (U_FAILURE(itemStatus) || length < 2)
                continue; // a range of single characters, or too long for any text of ours to matter
            std::string bytes;
            for (int32_t k = 0; k < length; ++k) {
                const char b = cp1252::fromUnicode(chars[static_cast<std::size_t>(k)]);
                if (b == '?' && chars[static_cast<std::size_t>(k)] != u'?')
                    break;
                bytes += b;
            }
            if (bytes.size() != static_cast<std::size_t>(length))
                continue;
            for (std::size_t k = 1; k < bytes.size(); ++k)
                m_joining[static_cast<unsigned char>(bytes[k])] = true;
        }
        uset_close(contractions);
        if (U_FAILURE(status))
            m_joining.fill(true); // unknown: every text asks the collator
    }

    bool joinsCharacters(std::string_view text) const {
        for (unsigned char c : text) {
            if (m_joining[c])
                return true;
        }
        return false;
    }

    // A character's bytes of one level: its weights of that level as appendWeight writes them.
    static constexpr std::size_t kSlot = 16;
    struct Slot {
        std::array<char, kSlot> bytes{};
        std::uint8_t length = 0;
    };
    std::array<std::array<Slot, 256>, 3> m_slots{};
    std::array<bool, 256> m_joining{};
};

const ByteElements& byteElements() {
    thread_local ByteElements elements;
    return elements;
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
    byteElements().appendKey(out, text, caseInsensitive);
}

} // namespace velmo::collation
