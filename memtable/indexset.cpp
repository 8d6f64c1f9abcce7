#include "memtable/indexset.h"

#include "memtable/collation.h"
#include "memtable/values.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>
#include <unordered_map>

namespace velmo::detail {

namespace {

constexpr const char* kDuplicateKey = "Duplicate index value. Operation aborted.";

// Gap between the insertion-order labels of records appended one after the other; Insert takes the
// middle of a gap, so 32 insertions at the same place fit before the labels are spread out again.
constexpr std::uint64_t kLabelStep = std::uint64_t{1} << 32;

void appendBigEndian(std::string& out, std::uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8)
        out += static_cast<char>((v >> shift) & 0xFF);
}

// Doubles as bytes whose unsigned order is the numeric order.
std::uint64_t orderedDouble(double v) {
    if (v == 0.0)
        v = 0.0; // -0 and +0 are the same key
    auto bits = std::bit_cast<std::uint64_t>(v);
    return (bits & (std::uint64_t{1} << 63)) ? ~bits : bits | (std::uint64_t{1} << 63);
}

std::uint64_t orderedInt64(std::int64_t v) {
    return static_cast<std::uint64_t>(v) ^ (std::uint64_t{1} << 63);
}

} // namespace

IndexSet::IndexSet(RecordStore& store) : m_store(store) {
    auto ins = std::make_unique<Index>();
    ins->m_insertion = true;
    m_indexes.push_back(std::move(ins));
}

std::size_t IndexSet::find(std::string_view name) const {
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        if (m_indexes[i]->m_def.name == name)
            return i;
    }
    return m_indexes.size();
}

void IndexSet::add(const IndexDef& def, std::vector<int> fields) {
    auto ix = std::make_unique<Index>();
    ix->m_def = def;
    ix->m_fields = std::move(fields);
    ix->m_descending = def.options & ixDescending;
    ix->m_caseInsensitive = def.options & ixCaseInsensitive;
    ix->m_unique = def.options & ixUnique;
    ix->m_built = m_store.liveCount() == 0;
    if (ix->m_unique && m_store.liveCount() > 0) {
        build(*ix);
        BlockList::Pos p{};
        RecordId prev = ix->m_order.at(p);
        while (ix->m_order.next(p)) {
            RecordId id = ix->m_order.at(p);
            if (compareKeys(*ix, m_store.blob(prev), m_store.blob(id)) == 0)
                throw EMemTableError(kDuplicateKey);
            prev = id;
        }
    }
    m_uniqueCount += ix->m_unique ? 1 : 0;
    m_indexes.push_back(std::move(ix));
}

void IndexSet::removeDefinitions() {
    m_indexes.resize(1);
    m_uniqueCount = 0;
}

void IndexSet::dropOrders(std::size_t keep) {
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        Index& ix = *m_indexes[i];
        if (i != keep && !ix.m_unique && ix.m_built)
            dropOrder(ix);
    }
}

void IndexSet::clearRecords() {
    m_lastLabel = 0;
    for (auto& ix : m_indexes) {
        ix->m_order.clear();
        ix->m_pending.clear();
        ix->m_built = true;
        ++ix->m_version;
    }
}

// --- comparing -----------------------------------------------------------------------------------

int IndexSet::compareValues(const Index& ix, int f, StoredValue a, StoredValue b) const {
    if (!a.present || !b.present)
        return static_cast<int>(a.present) - static_cast<int>(b.present);
    switch (m_store.fieldType(f)) {
    case FieldType::String:
        return collation::compare(a.bytes, b.bytes, ix.m_caseInsensitive);
    case FieldType::Float:
    case FieldType::DateTime: {
        const double x = loadDouble(a.bytes), y = loadDouble(b.bytes);
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    case FieldType::Currency: {
        const auto x = loadInt64(a.bytes), y = loadInt64(b.bytes);
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    }
    return 0;
}

int IndexSet::compareKeys(const Index& ix, const char* a, const char* b) const {
    for (int f : ix.m_fields) {
        const int c = compareValues(ix, f, m_store.valueIn(a, f), m_store.valueIn(b, f));
        if (c != 0)
            return ix.m_descending ? -c : c;
    }
    return 0;
}

bool IndexSet::before(const Index& ix, RecordId a, RecordId b) const {
    if (ix.m_insertion)
        return m_store.label(a) < m_store.label(b);
    const int c = compareKeys(ix, m_store.blob(a), m_store.blob(b));
    if (c != 0)
        return c < 0;
    return m_store.seq(a) > m_store.seq(b);
}

bool IndexSet::sameKeyBytes(const Index& ix, const char* a, const char* b) const {
    for (int f : ix.m_fields) {
        const StoredValue x = m_store.valueIn(a, f), y = m_store.valueIn(b, f);
        if (x.present != y.present || x.bytes != y.bytes)
            return false;
    }
    return true;
}

// The byte key of a record under an index, ordered as compareKeys orders: per field a marker (no value
// sorts first), then the collation key or the number's ordered bytes.
void IndexSet::appendSortKey(std::string& out, const Index& ix, const char* b) const {
    const std::size_t start = out.size();
    for (int f : ix.m_fields) {
        StoredValue v = m_store.valueIn(b, f);
        if (!v.present) {
            out += '\x01';
            continue;
        }
        out += '\x02';
        switch (m_store.fieldType(f)) {
        case FieldType::String:
            collation::appendSortKey(out, v.bytes, ix.m_caseInsensitive);
            break;
        case FieldType::Float:
        case FieldType::DateTime:
            appendBigEndian(out, orderedDouble(loadDouble(v.bytes)));
            break;
        case FieldType::Currency:
            appendBigEndian(out, orderedInt64(loadInt64(v.bytes)));
            break;
        }
    }
    // Every key of one index is self-delimiting, so no key is a prefix of another and inverting the
    // bytes reverses the order exactly.
    if (ix.m_descending) {
        for (std::size_t i = start; i < out.size(); ++i)
            out[i] = static_cast<char>(~static_cast<unsigned char>(out[i]));
    }
}

// --- sorting and placing -------------------------------------------------------------------------

// Sorts an index from scratch: one collation key per record (per distinct value while there are few
// of them), computed once, then a plain byte sort. The keys exist only during the sort.
void IndexSet::build(Index& ix) {
    struct Entry {
        // The key's first 16 bytes, big-endian: they decide most comparisons without a look at
        // the key itself, which lies elsewhere in memory.
        std::uint64_t head;
        std::uint64_t head2;
        const char* key;
        std::uint32_t length;
        RecordId id;
    };
    // Keys go into fixed chunks, so growing never copies them and the peak stays near their size.
    constexpr std::size_t kChunk = std::size_t{256} * 1024;
    std::vector<std::unique_ptr<char[]>> chunks;
    std::size_t chunkUsed = kChunk;
    std::string scratch;
    auto store = [&](std::string_view key) -> const char* {
        if (key.size() > kChunk - chunkUsed) {
            chunks.emplace_back(new char[std::max(kChunk, key.size())]);
            chunkUsed = 0;
        }
        char* out = chunks.back().get() + chunkUsed;
        std::memcpy(out, key.data(), key.size());
        chunkUsed += key.size();
        return out;
    };
    // Manufacturers, groups and the like repeat a lot: their keys are computed once per value, and
    // while there are few values the records are dealt out by value instead of sorted one by one.
    const int cacheField = ix.m_fields.size() == 1 && m_store.fieldType(ix.m_fields[0]) == FieldType::String
                               ? ix.m_fields[0]
                               : -1;
    bool useCache = cacheField >= 0;
    struct Group {
        const char* key;
        std::uint32_t length;
    };
    constexpr std::uint32_t kNoGroup = ~std::uint32_t{0};
    std::vector<Group> groups;
    std::unordered_map<std::string_view, std::uint32_t> groupOf;
    std::uint32_t nullGroup = kNoGroup;

    // A table loaded in key order repeats each value in a row: the previous record's key is
    // checked first.
    StoredValue previous{};

    std::vector<Entry> entries;
    std::vector<std::uint32_t> entryGroups;
    entries.reserve(m_store.liveCount());
    if (useCache)
        entryGroups.reserve(m_store.liveCount());
    auto add = [&](const char* key, std::uint32_t length, RecordId id, std::uint32_t group) {
        entries.push_back({0, 0, key, length, id});
        if (useCache)
            entryGroups.push_back(group);
    };
    for (RecordId id = 0; id < m_store.slotCount(); ++id) {
        const char* blob = m_store.blob(id);
        if (!blob)
            continue;
        StoredValue v{};
        if (cacheField >= 0) {
            v = m_store.valueIn(blob, cacheField);
            if (!entries.empty() && v.present && previous.present && v.bytes == previous.bytes) {
                add(entries.back().key, entries.back().length, id, useCache ? entryGroups.back() : kNoGroup);
                continue;
            }
            previous = v;
        }
        if (useCache) {
            const auto it = v.present ? groupOf.find(v.bytes) : groupOf.end();
            const std::uint32_t known = v.present ? (it != groupOf.end() ? it->second : kNoGroup) : nullGroup;
            if (known != kNoGroup) {
                add(groups[known].key, groups[known].length, id, known);
                continue;
            }
        }
        scratch.clear();
        appendSortKey(scratch, ix, blob);
        const char* key = store(scratch);
        const auto length = static_cast<std::uint32_t>(scratch.size());
        std::uint32_t group = kNoGroup;
        if (useCache) {
            // Mostly distinct values gain nothing from the cache.
            if (groups.size() < 4096) {
                group = static_cast<std::uint32_t>(groups.size());
                groups.push_back({key, length});
                if (v.present)
                    groupOf.emplace(v.bytes, group);
                else
                    nullGroup = group;
            } else {
                useCache = false;
                entryGroups = {};
            }
        }
        add(key, length, id, group);
    }
    auto compareBytes = [](const char* a, std::uint32_t la, const char* b, std::uint32_t lb) {
        if (a == b && la == lb)
            return 0;
        const int c = std::memcmp(a, b, std::min(la, lb));
        if (c != 0)
            return c;
        return la == lb ? 0 : la < lb ? -1 : 1;
    };
    std::vector<RecordId> ids;
    ids.reserve(entries.size());
    if (useCache) {
        // The groups in key order; groups whose keys are equal share a rank.
        std::vector<std::uint32_t> sorted(groups.size());
        std::iota(sorted.begin(), sorted.end(), 0u);
        auto compareGroups = [&](std::uint32_t a, std::uint32_t b) {
            return compareBytes(groups[a].key, groups[a].length, groups[b].key, groups[b].length);
        };
        std::sort(sorted.begin(), sorted.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return compareGroups(a, b) < 0; });
        std::vector<std::uint32_t> rank(groups.size());
        std::uint32_t r = 0;
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            if (i > 0 && compareGroups(sorted[i - 1], sorted[i]) != 0)
                ++r;
            rank[sorted[i]] = r;
        }
        // The records dealt out to their ranks in post order, the latest first, so that equal keys
        // show the record posted last first. After a load the post order is the record order.
        std::vector<std::uint32_t> byPost(entries.size());
        std::iota(byPost.begin(), byPost.end(), 0u);
        bool postedInOrder = true;
        for (std::size_t i = 1; i < entries.size() && postedInOrder; ++i)
            postedInOrder = m_store.seq(entries[i - 1].id) < m_store.seq(entries[i].id);
        if (postedInOrder)
            std::reverse(byPost.begin(), byPost.end());
        else
            std::sort(byPost.begin(), byPost.end(), [&](std::uint32_t a, std::uint32_t b) {
                return m_store.seq(entries[a].id) > m_store.seq(entries[b].id);
            });
        std::vector<std::size_t> next(groups.empty() ? 1 : r + 2, 0);
        for (const std::uint32_t g : entryGroups)
            ++next[rank[g] + 1];
        for (std::size_t i = 1; i < next.size(); ++i)
            next[i] += next[i - 1];
        ids.resize(entries.size());
        for (const std::uint32_t e : byPost)
            ids[next[rank[entryGroups[e]]]++] = entries[e].id;
    } else {
        for (Entry& e : entries) {
            unsigned char head[16] = {};
            std::memcpy(head, e.key, std::min<std::size_t>(16, e.length));
            for (int i = 0; i < 8; ++i) {
                e.head = (e.head << 8) | head[i];
                e.head2 = (e.head2 << 8) | head[8 + i];
            }
        }
        // Keys compare by their bytes; equal keys put the later post first. Heads are padded with
        // zeros, so keys of up to 16 bytes with equal heads differ at most in their length.
        auto compareKeys = [&](const Entry& a, const Entry& b) {
            if (a.head != b.head)
                return a.head < b.head ? -1 : 1;
            if (a.head2 != b.head2)
                return a.head2 < b.head2 ? -1 : 1;
            if (a.length <= 16 && b.length <= 16)
                return a.length == b.length ? 0 : a.length < b.length ? -1 : 1;
            return compareBytes(a.key, a.length, b.key, b.length);
        };
        // A table loaded in key order is in order already but for each run of equal keys, which
        // holds its records in post order: turning the runs round is all the sorting it needs.
        bool inKeyOrder = true;
        std::size_t runStart = 0;
        for (std::size_t i = 1; i < entries.size() && inKeyOrder; ++i) {
            const int c = compareKeys(entries[i - 1], entries[i]);
            if (c == 0) {
                inKeyOrder = m_store.seq(entries[i - 1].id) < m_store.seq(entries[i].id);
                continue;
            }
            inKeyOrder = c < 0;
            std::reverse(entries.begin() + static_cast<std::ptrdiff_t>(runStart),
                         entries.begin() + static_cast<std::ptrdiff_t>(i));
            runStart = i;
        }
        if (inKeyOrder) {
            std::reverse(entries.begin() + static_cast<std::ptrdiff_t>(runStart), entries.end());
        } else {
            std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
                const int c = compareKeys(a, b);
                return c != 0 ? c < 0 : m_store.seq(a.id) > m_store.seq(b.id);
            });
        }
        for (const Entry& e : entries)
            ids.push_back(e.id);
    }
    entries = {};
    chunks.clear();
    ix.m_order.assign(ids);
    ix.m_pending.clear();
    ix.m_built = true;
    ++ix.m_version;
}

void IndexSet::catchUp(Index& ix) {
    if (!ix.m_built) {
        build(ix);
        return;
    }
    if (!ix.m_pending.empty()) {
        std::vector<RecordId> pending;
        pending.swap(ix.m_pending);
        for (RecordId id : pending)
            place(ix, id);
    }
}

void IndexSet::place(Index& ix, RecordId id) {
    BlockList::Pos p;
    if (ix.m_order.lowerBound([&](RecordId e) { return before(ix, e, id); }, p))
        ix.m_order.insert(p, id);
    else
        ix.m_order.insert(ix.m_order.size(), id);
    ++ix.m_version;
}

void IndexSet::unplace(Index& ix, RecordId id) {
    BlockList::Pos p;
    if (ix.m_order.find(id, p)) {
        ix.m_order.erase(p);
        ++ix.m_version;
        return;
    }
    // Missing from an order that should hold it: the order is no longer trustworthy, sort it again
    // when needed.
    dropOrder(ix);
}

void IndexSet::dropOrder(Index& ix) {
    ix.m_built = false;
    ix.m_order.clear();
    ix.m_pending.clear();
    ++ix.m_version;
}

// Saving a catalog posts every article once with only its price changed, so a post that leaves a key
// alone must not cost a removal and a search for the new place in every index. Such a record already
// stands among its equal keys, and the post makes it the newest of them: it stays where it is when it
// leads its run, and otherwise moves to the run's start. Equal means equal by the index's own
// comparison, since keys may compare equal and still differ in their bytes (case, or characters the
// collation ignores).
// Returns false when the key changed: the record has then been taken out, to be placed once the new
// values are stored.
bool IndexSet::repostInPlace(Index& ix, RecordId id, const char* newBlob) {
    if (!sameKeyBytes(ix, m_store.blob(id), newBlob)) {
        unplace(ix, id);
        return false;
    }
    BlockList::Pos p;
    if (!ix.m_order.find(id, p)) {
        dropOrder(ix);
        return false;
    }
    auto equalAt = [&](std::size_t rank) {
        return compareKeys(ix, m_store.blob(ix.m_order.at(rank)), newBlob) == 0;
    };
    const std::size_t rank = ix.m_order.rankOf(p);
    if (rank == 0 || !equalAt(rank - 1))
        return true;
    // Gallop back over the run, whose keys mostly have the very same bytes and so compare without
    // the collation, to a key before it; then search between.
    std::size_t lo = 0, hi = rank - 1; // hi holds an equal key; the run starts in [lo, hi]
    for (std::size_t step = 1; hi > 0; step *= 2) {
        const std::size_t probe = hi > step ? hi - step : 0;
        if (!equalAt(probe)) {
            lo = probe + 1;
            break;
        }
        hi = probe;
    }
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (equalAt(mid))
            hi = mid;
        else
            lo = mid + 1;
    }
    ix.m_order.erase(p);
    ix.m_order.insert(hi, id);
    ++ix.m_version;
    return true;
}

void IndexSet::checkUnique(Index& ix, const char* newBlob, RecordId self) {
    ready(ix);
    BlockList::Pos p;
    if (!ix.m_order.lowerBound([&](RecordId e) { return compareKeys(ix, m_store.blob(e), newBlob) < 0; }, p))
        return;
    // Among equal keys there is at most the record itself and one other.
    for (int i = 0; i < 2; ++i) {
        const RecordId e = ix.m_order.at(p);
        if (compareKeys(ix, m_store.blob(e), newBlob) != 0)
            return;
        if (e != self)
            throw EMemTableError(kDuplicateKey);
        if (!ix.m_order.next(p))
            return;
    }
}

void IndexSet::checkUniqueAll(const char* newBlob, RecordId self) {
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        Index& ix = *m_indexes[i];
        if (!ix.m_unique)
            continue;
        // A changed record's key that kept its bytes was accepted when it was stored.
        if (self == kNoRecord || !sameKeyBytes(ix, m_store.blob(self), newBlob))
            checkUnique(ix, newBlob, self);
    }
}

// --- keeping the orders in step ------------------------------------------------------------------

void IndexSet::appended(RecordId id) {
    m_store.setLabel(id, nextLabel());
    Index& ins = *m_indexes[0];
    ins.m_order.pushBack(id);
    ++ins.m_version;
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        Index& ix = *m_indexes[i];
        if (!ix.m_built)
            continue;
        if (ix.m_unique) {
            ready(ix);
            place(ix, id);
        } else if (ix.m_pending.size() < 64 + ix.m_order.size() / 8) {
            ix.m_pending.push_back(id);
        } else {
            // A bulk load: one sort later is cheaper than placing every record now.
            dropOrder(ix);
        }
    }
}

void IndexSet::inserted(RecordId id, RecordId anchor) {
    if (anchor != id && m_store.holds(anchor))
        setLabelBefore(id, anchor);
    else
        m_store.setLabel(id, nextLabel());
    place(*m_indexes[0], id);
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        Index& ix = *m_indexes[i];
        if (ix.m_built) {
            ready(ix);
            place(ix, id);
        }
    }
}

void IndexSet::repost(RecordId id, std::unique_ptr<char[]> newBlob) {
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        Index& ix = *m_indexes[i];
        if (ix.m_built) {
            ready(ix);
            ix.m_displaced = !repostInPlace(ix, id, newBlob.get());
        }
    }
    m_store.replace(id, std::move(newBlob));
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        Index& ix = *m_indexes[i];
        if (ix.m_built && ix.m_displaced)
            place(ix, id);
        ix.m_displaced = false;
    }
}

void IndexSet::remove(RecordId id) {
    for (auto& ixp : m_indexes) {
        Index& ix = *ixp;
        if (ix.m_built) {
            ready(ix);
            unplace(ix, id);
        }
    }
}

// --- insertion-order labels ----------------------------------------------------------------------

std::uint64_t IndexSet::nextLabel() {
    if (m_lastLabel > ~std::uint64_t{0} - kLabelStep)
        relabel(); // only after billions of appends
    return m_lastLabel += kLabelStep;
}

void IndexSet::setLabelBefore(RecordId id, RecordId anchor) {
    Index& ins = *m_indexes[0];
    for (int attempt = 0; attempt < 2; ++attempt) {
        ready(ins);
        BlockList::Pos p{};
        ins.m_order.find(anchor, p);
        std::uint64_t prev = 0;
        if (ins.m_order.prior(p))
            prev = m_store.label(ins.m_order.at(p));
        const std::uint64_t next = m_store.label(anchor);
        if (next - prev >= 2) {
            m_store.setLabel(id, prev + (next - prev) / 2);
            return;
        }
        // No room left between the neighbours: spread all labels out again.
        relabel();
    }
}

void IndexSet::relabel() {
    std::uint64_t label = 0;
    m_indexes[0]->m_order.forEach([&](RecordId r) { m_store.setLabel(r, label += kLabelStep); });
    m_lastLabel = label;
}

} // namespace velmo::detail
