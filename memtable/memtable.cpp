#include "memtable/memtable.h"

#include "memtable/collation.h"
#include "memtable/values.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

namespace velmo {

using detail::BlockList;

namespace {

constexpr const char* kNotInEditMode = "Dataset is not in edit mode.";
constexpr const char* kEmptyDataSet = "Operation bei leerer Datenmenge nicht ausführbar";
constexpr const char* kClosedDataSet = "Operation bei geschlossener Datenmenge nicht ausführbar";
constexpr const char* kDuplicateKey = "Duplicate index value. Operation aborted.";
constexpr const char* kFieldNotFound = "Feld '%s' nicht gefunden";

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

struct MemTable::Index {
    IndexDef def;
    std::vector<int> fields;
    bool insertion = false;
    bool descending = false;
    bool caseInsensitive = false;
    bool unique = false;
    // False after a bulk load: the order is sorted when it is next needed.
    bool built = true;
    BlockList order;
    // Records appended since the order was last complete; they are placed when the order is next
    // used, or the order is sorted anew when too many have gathered.
    std::vector<RecordId> pending;
    std::uint64_t version = 0;
    // During a post: the record was taken out and must be placed again.
    bool displaced = false;
};

// --- definition ----------------------------------------------------------------------------------

MemTable::MemTable() {
    auto ins = std::make_unique<Index>();
    ins->insertion = true;
    m_indexes.push_back(std::move(ins));
}

MemTable::~MemTable() {
    auto links = m_links;
    for (MemTableLink* l : links)
        l->tableDestroyed();
}

Field& MemTable::addField(FieldDef def) {
    if (Active())
        throw std::logic_error("MemTable: fields can only be added while the table is inactive");
    if (def.type == FieldType::String && (def.size < 1 || def.size > 0xFFFF))
        throw std::invalid_argument("MemTable: string field size out of range");
    if (findField(def.name))
        throw std::invalid_argument("MemTable: duplicate field name " + def.name);
    const int i = fieldCount();
    m_fields.push_back(std::unique_ptr<Field>(new Field(*this, i, std::move(def))));
    computeLayout();
    return *m_fields.back();
}

Field& MemTable::addField(std::string name, FieldType type, int size, FieldKind kind) {
    return addField(FieldDef{std::move(name), type, size, kind});
}

Field* MemTable::findField(std::string_view name) {
    for (auto& f : m_fields) {
        if (f->name() == name)
            return f.get();
    }
    return nullptr;
}

Field& MemTable::fieldByName(std::string_view name) {
    if (Field* f = findField(name))
        return *f;
    throw EDatabaseError(formatMessage(kFieldNotFound, name));
}

void MemTable::computeLayout() {
    const std::size_t n = m_fields.size();
    std::size_t maxBytes = 0;
    for (auto& f : m_fields)
        maxBytes +=
            f->type() == FieldType::String ? static_cast<std::size_t>(f->size()) : detail::kNumberBytes;
    m_wideOffsets = maxBytes > 0xFFFF;
    m_bitmapBytes = static_cast<int>((n + 7) / 8);
    m_headerBytes = m_bitmapBytes + static_cast<int>(n * (m_wideOffsets ? 4 : 2));
    m_editValues.assign(n, {});
    m_editPresent.assign(n, 0);
}

std::unique_ptr<MemTable::Index> MemTable::makeIndex(const IndexDef& def) {
    if (def.name.empty())
        throw std::invalid_argument("MemTable: an index needs a name");
    if (def.fields.empty())
        throw std::invalid_argument("MemTable: index " + def.name + " has no fields");
    auto ix = std::make_unique<Index>();
    ix->def = def;
    for (const auto& name : def.fields)
        ix->fields.push_back(fieldByName(name).index());
    ix->descending = def.options & ixDescending;
    ix->caseInsensitive = def.options & ixCaseInsensitive;
    ix->unique = def.options & ixUnique;
    ix->built = m_live == 0;
    return ix;
}

void MemTable::addIndexDef(IndexDef def) {
    for (auto& ix : m_indexes) {
        if (!ix->insertion && ix->def.name == def.name)
            throw std::invalid_argument("MemTable: duplicate index name " + def.name);
    }
    auto ix = makeIndex(def);
    if (ix->unique && m_live > 0) {
        build(*ix);
        BlockList::Pos p{};
        RecordId prev = ix->order.at(p);
        while (ix->order.next(p)) {
            RecordId id = ix->order.at(p);
            if (compareKeys(*ix, blob(prev), blob(id)) == 0)
                throw EMemTableError(kDuplicateKey);
            prev = id;
        }
    }
    m_indexes.push_back(std::move(ix));
    m_indexDefs.push_back(std::move(def));
}

void MemTable::clearIndexDefs() {
    const bool hadCurrent = m_current != 0;
    if (hadCurrent && Active())
        checkBrowse();
    m_indexes.resize(1);
    m_indexDefs.clear();
    m_current = 0;
    m_curPosIndex = nullptr;
    if (hadCurrent) {
        invalidateViews();
        notify(NoteDataSet | NoteCursor);
    }
}

// --- state ---------------------------------------------------------------------------------------

void MemTable::setActive(bool on) {
    if (on == Active())
        return;
    m_blobs.clear();
    m_labels.clear();
    m_seqs.clear();
    m_free.clear();
    m_live = 0;
    m_lastLabel = 0;
    for (auto& ix : m_indexes) {
        ix->order.clear();
        ix->pending.clear();
        ix->built = true;
        ++ix->version;
    }
    clearBuffer();
    m_cur = kNoRecord;
    m_eof = m_bof = true;
    m_curPosIndex = nullptr;
    invalidateViews();
    if (on)
        computeLayout();
    m_state = on ? TableState::Browse : TableState::Inactive;
    notify(NoteDataSet | NoteState | NoteCursor);
}

void MemTable::checkActive() const {
    if (!Active())
        throw EDatabaseError(kClosedDataSet);
}

void MemTable::checkEditable() const {
    if (m_state != TableState::Edit && m_state != TableState::Insert)
        throw EDatabaseError(kNotInEditMode);
}

void MemTable::checkBrowse() {
    if (m_state != TableState::Edit && m_state != TableState::Insert)
        return;
    requestUpdateRecord();
    if (m_modified)
        Post();
    else
        cancel();
}

const std::string& MemTable::IndexName() const {
    return m_indexes[m_current]->def.name;
}

void MemTable::setIndexName(std::string_view name) {
    if (Active())
        checkBrowse();
    std::size_t found = m_indexes.size();
    if (name.empty()) {
        found = 0;
    } else {
        for (std::size_t i = 1; i < m_indexes.size(); ++i) {
            if (m_indexes[i]->def.name == name) {
                found = i;
                break;
            }
        }
    }
    if (found == m_indexes.size() || found == m_current)
        return;
    m_current = found;
    m_curPosIndex = nullptr;
    invalidateViews();
    notify(NoteDataSet | NoteCursor);
}

void MemTable::SyncIndexes() {
    if (Active())
        ready(current());
}

// --- record storage ------------------------------------------------------------------------------

MemTable::Value MemTable::valueIn(const char* b, int f) const {
    const bool present = (static_cast<unsigned char>(b[f >> 3]) >> (f & 7)) & 1;
    const char* offsets = b + m_bitmapBytes;
    auto endOf = [&](int i) -> std::size_t {
        if (m_wideOffsets) {
            std::uint32_t v;
            std::memcpy(&v, offsets + 4 * i, 4);
            return v;
        }
        std::uint16_t v;
        std::memcpy(&v, offsets + 2 * i, 2);
        return v;
    };
    const std::size_t start = f == 0 ? 0 : endOf(f - 1);
    const std::size_t end = endOf(f);
    return {present, std::string_view(b + m_headerBytes + start, end - start)};
}

MemTable::Value MemTable::currentValue(int f) const {
    if (m_probe != kNoRecord)
        return valueIn(blob(m_probe), f);
    if (m_state == TableState::Edit || m_state == TableState::Insert)
        return {m_editPresent[static_cast<std::size_t>(f)] != 0, m_editValues[static_cast<std::size_t>(f)]};
    if (m_cur != kNoRecord && m_state != TableState::Inactive)
        return valueIn(blob(m_cur), f);
    return {};
}

namespace {

// Writes one stored record from its values; parts[i] is ignored where present[i] is 0.
template <class Part>
std::unique_ptr<char[]> writeBlob(int bitmapBytes, int headerBytes, bool wide, std::size_t n,
                                  const Part* parts, const char* present) {
    std::size_t total = static_cast<std::size_t>(headerBytes);
    for (std::size_t i = 0; i < n; ++i) {
        if (present[i])
            total += std::string_view(parts[i]).size();
    }
    std::unique_ptr<char[]> b(new char[total]);
    std::memset(b.get(), 0, static_cast<std::size_t>(bitmapBytes));
    char* offsets = b.get() + bitmapBytes;
    char* data = b.get() + headerBytes;
    std::size_t end = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (present[i]) {
            b[i >> 3] = static_cast<char>(b[i >> 3] | (1 << (i & 7)));
            std::string_view v(parts[i]);
            std::memcpy(data + end, v.data(), v.size());
            end += v.size();
        }
        if (wide) {
            auto v = static_cast<std::uint32_t>(end);
            std::memcpy(offsets + 4 * i, &v, 4);
        } else {
            auto v = static_cast<std::uint16_t>(end);
            std::memcpy(offsets + 2 * i, &v, 2);
        }
    }
    return b;
}

} // namespace

std::unique_ptr<char[]> MemTable::buildBlob(const std::vector<std::string>& values,
                                            const std::vector<char>& present) const {
    return writeBlob(m_bitmapBytes, m_headerBytes, m_wideOffsets, values.size(), values.data(),
                     present.data());
}

RecordId MemTable::allocateRecord() {
    if (!m_free.empty()) {
        RecordId id = m_free.back();
        m_free.pop_back();
        return id;
    }
    m_blobs.emplace_back();
    m_labels.push_back(0);
    m_seqs.push_back(0);
    return static_cast<RecordId>(m_blobs.size() - 1);
}

void MemTable::freeRecord(RecordId id) {
    m_blobs[id].reset();
    m_free.push_back(id);
}

// --- edit buffer ---------------------------------------------------------------------------------

void MemTable::loadBuffer(RecordId id) {
    for (int f = 0; f < fieldCount(); ++f) {
        Value v = valueIn(blob(id), f);
        m_editPresent[static_cast<std::size_t>(f)] = v.present;
        m_editValues[static_cast<std::size_t>(f)].assign(v.bytes);
    }
    m_modified = false;
}

void MemTable::clearBuffer() {
    for (auto& v : m_editValues)
        v.clear();
    std::fill(m_editPresent.begin(), m_editPresent.end(), 0);
    m_modified = false;
    m_insertAnchor = kNoRecord;
}

void MemTable::assign(int field, bool present, std::string bytes) {
    checkEditable();
    m_editPresent[static_cast<std::size_t>(field)] = present;
    m_editValues[static_cast<std::size_t>(field)] = std::move(bytes);
    m_modified = true;
    notify(NoteRecord, field);
}

// --- ordering ------------------------------------------------------------------------------------

int MemTable::compareValues(const Index& ix, int f, Value a, Value b) const {
    if (!a.present || !b.present)
        return static_cast<int>(a.present) - static_cast<int>(b.present);
    switch (m_fields[static_cast<std::size_t>(f)]->type()) {
    case FieldType::String:
        return collation::compare(a.bytes, b.bytes, ix.caseInsensitive);
    case FieldType::Float:
    case FieldType::DateTime: {
        const double x = detail::loadDouble(a.bytes), y = detail::loadDouble(b.bytes);
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    case FieldType::Currency: {
        const auto x = detail::loadInt64(a.bytes), y = detail::loadInt64(b.bytes);
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    }
    return 0;
}

int MemTable::compareKeys(const Index& ix, const char* a, const char* b) const {
    for (int f : ix.fields) {
        const int c = compareValues(ix, f, valueIn(a, f), valueIn(b, f));
        if (c != 0)
            return ix.descending ? -c : c;
    }
    return 0;
}

bool MemTable::before(const Index& ix, RecordId a, RecordId b) const {
    if (ix.insertion)
        return m_labels[a] < m_labels[b];
    const int c = compareKeys(ix, blob(a), blob(b));
    if (c != 0)
        return c < 0;
    return m_seqs[a] > m_seqs[b];
}

// The byte key of a record under an index, ordered as compareKeys orders: per field a marker (no value
// sorts first), then the collation key or the number's ordered bytes.
void MemTable::appendSortKey(std::string& out, const Index& ix, const char* b) const {
    const std::size_t start = out.size();
    for (int f : ix.fields) {
        Value v = valueIn(b, f);
        if (!v.present) {
            out += '\x01';
            continue;
        }
        out += '\x02';
        switch (m_fields[static_cast<std::size_t>(f)]->type()) {
        case FieldType::String:
            collation::appendSortKey(out, v.bytes, ix.caseInsensitive);
            break;
        case FieldType::Float:
        case FieldType::DateTime:
            appendBigEndian(out, orderedDouble(detail::loadDouble(v.bytes)));
            break;
        case FieldType::Currency:
            appendBigEndian(out, orderedInt64(detail::loadInt64(v.bytes)));
            break;
        }
    }
    // Every key of one index is self-delimiting, so no key is a prefix of another and inverting the
    // bytes reverses the order exactly.
    if (ix.descending) {
        for (std::size_t i = start; i < out.size(); ++i)
            out[i] = static_cast<char>(~static_cast<unsigned char>(out[i]));
    }
}

// Sorts an index from scratch: one collation key per record (per distinct value while there are few
// of them), computed once, then a plain byte sort. The keys exist only during the sort.
void MemTable::build(Index& ix) {
    struct Entry {
        std::uint64_t head; // the key's first 8 bytes, big-endian: decides most comparisons
        const char* key;
        std::uint32_t length;
        RecordId id;
    };
    // Keys go into fixed chunks, so growing never copies them and the peak stays near their size.
    constexpr std::size_t kChunk = 256 * 1024;
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
    // Manufacturers, groups and the like repeat a lot: their keys are computed once per value.
    const int cacheField =
        ix.fields.size() == 1 && m_fields[static_cast<std::size_t>(ix.fields[0])]->type() == FieldType::String
            ? ix.fields[0]
            : -1;
    bool useCache = cacheField >= 0;
    std::unordered_map<std::string_view, std::pair<const char*, std::uint32_t>> cache;

    std::vector<Entry> entries;
    entries.reserve(m_live);
    for (RecordId id = 0; id < m_blobs.size(); ++id) {
        if (!m_blobs[id])
            continue;
        Value v{};
        if (useCache) {
            v = valueIn(blob(id), cacheField);
            if (v.present) {
                auto it = cache.find(v.bytes);
                if (it != cache.end()) {
                    entries.push_back({0, it->second.first, it->second.second, id});
                    continue;
                }
            }
        }
        scratch.clear();
        appendSortKey(scratch, ix, blob(id));
        const char* key = store(scratch);
        entries.push_back({0, key, static_cast<std::uint32_t>(scratch.size()), id});
        if (useCache && v.present) {
            // Mostly distinct values gain nothing from the cache.
            if (cache.size() < 4096)
                cache.emplace(v.bytes, std::make_pair(key, static_cast<std::uint32_t>(scratch.size())));
            else
                useCache = false;
        }
    }
    for (Entry& e : entries) {
        unsigned char head[8] = {};
        std::memcpy(head, e.key, std::min<std::size_t>(8, e.length));
        for (unsigned char c : head)
            e.head = (e.head << 8) | c;
    }
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.head != b.head)
            return a.head < b.head;
        if (a.key != b.key) {
            const int c = std::memcmp(a.key, b.key, std::min(a.length, b.length));
            if (c != 0)
                return c < 0;
            if (a.length != b.length)
                return a.length < b.length;
        }
        return m_seqs[a.id] > m_seqs[b.id];
    });
    std::vector<RecordId> ids;
    ids.reserve(entries.size());
    for (const Entry& e : entries)
        ids.push_back(e.id);
    entries = {};
    chunks.clear();
    ix.order.assign(ids);
    ix.pending.clear();
    ix.built = true;
    ++ix.version;
}

void MemTable::ready(Index& ix) {
    if (!ix.built) {
        build(ix);
        return;
    }
    if (!ix.pending.empty()) {
        std::vector<RecordId> pending;
        pending.swap(ix.pending);
        for (RecordId id : pending)
            placeRecord(ix, id);
    }
}

void MemTable::placeRecord(Index& ix, RecordId id) {
    BlockList::Pos p;
    if (ix.order.lowerBound([&](RecordId e) { return before(ix, e, id); }, p))
        ix.order.insert(p, id);
    else
        ix.order.insert(ix.order.size(), id);
    ++ix.version;
}

void MemTable::unplaceRecord(Index& ix, RecordId id) {
    BlockList::Pos p;
    if (ix.order.find(id, p)) {
        ix.order.erase(p);
        ++ix.version;
        return;
    }
    // Missing from an order that should hold it: the order is no longer trustworthy, sort it again
    // when needed.
    dropOrder(ix);
}

void MemTable::dropOrder(Index& ix) {
    ix.built = false;
    ix.order.clear();
    ix.pending.clear();
    ++ix.version;
}

bool MemTable::sameKeyBytes(const Index& ix, const char* a, const char* b) const {
    for (int f : ix.fields) {
        const Value x = valueIn(a, f), y = valueIn(b, f);
        if (x.present != y.present || x.bytes != y.bytes)
            return false;
    }
    return true;
}

// Saving a catalog posts every article once with only its price changed, so a post that leaves a key
// alone must not cost a removal and a search for the new place in every index. Such a record already
// stands among its equal keys, and the post makes it the newest of them: it stays where it is when it
// leads its run, and otherwise moves to the run's start. Equal means equal by the index's own
// comparison, since keys may compare equal and still differ in their bytes (case, or characters the
// collation ignores).
// Returns false when the key changed: the record has then been taken out, to be placed once the new
// values are stored.
bool MemTable::repostInPlace(Index& ix, RecordId id, const char* newBlob) {
    if (!sameKeyBytes(ix, blob(id), newBlob)) {
        unplaceRecord(ix, id);
        return false;
    }
    BlockList::Pos p;
    if (!ix.order.find(id, p)) {
        dropOrder(ix);
        return false;
    }
    auto equalAt = [&](std::size_t rank) { return compareKeys(ix, blob(ix.order.at(rank)), newBlob) == 0; };
    const std::size_t rank = ix.order.rankOf(p);
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
    ix.order.erase(p);
    ix.order.insert(hi, id);
    ++ix.version;
    return true;
}

void MemTable::checkUnique(Index& ix, const char* newBlob, RecordId self) {
    ready(ix);
    BlockList::Pos p;
    if (!ix.order.lowerBound([&](RecordId e) { return compareKeys(ix, blob(e), newBlob) < 0; }, p))
        return;
    // Among equal keys there is at most the record itself and one other.
    for (int i = 0; i < 2; ++i) {
        const RecordId e = ix.order.at(p);
        if (compareKeys(ix, blob(e), newBlob) != 0)
            return;
        if (e != self)
            throw EMemTableError(kDuplicateKey);
        if (!ix.order.next(p))
            return;
    }
}

void MemTable::setLabelBefore(RecordId id, RecordId anchor) {
    Index& ins = *m_indexes[0];
    for (int attempt = 0; attempt < 2; ++attempt) {
        BlockList::Pos p;
        positionOf(ins, anchor, p);
        std::uint64_t prev = 0;
        if (ins.order.prior(p))
            prev = m_labels[ins.order.at(p)];
        const std::uint64_t next = m_labels[anchor];
        if (next - prev >= 2) {
            m_labels[id] = prev + (next - prev) / 2;
            return;
        }
        // No room left between the neighbours: spread all labels out again.
        relabel();
    }
}

void MemTable::relabel() {
    std::uint64_t label = 0;
    m_indexes[0]->order.forEach([&](RecordId r) { m_labels[r] = (label += kLabelStep); });
    m_lastLabel = label;
}

// --- records -------------------------------------------------------------------------------------

void MemTable::AppendValues(std::initializer_list<std::string_view> values) {
    AppendValues(std::span<const std::string_view>(values.begin(), values.size()));
}

void MemTable::AppendValues(const std::vector<std::string>& values) {
    std::vector<std::string_view> views(values.begin(), values.end());
    AppendValues(std::span<const std::string_view>(views));
}

void MemTable::AppendValues(std::span<const std::string_view> values) {
    checkActive();
    checkBrowse();
    const std::size_t n = m_fields.size();
    if (values.size() > n)
        throw std::invalid_argument("MemTable::AppendValues: more values than fields");
    // The bulk path: values go straight into the stored form, without the edit buffer.
    thread_local std::vector<std::string_view> parts;
    thread_local std::vector<char> present;
    thread_local std::vector<std::string> numbers;
    parts.assign(n, {});
    present.assign(n, 0);
    numbers.resize(n);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const FieldDef& def = m_fields[i]->m_def;
        if (def.type == FieldType::String) {
            parts[i] = detail::cutString(values[i], def.size);
            present[i] = 1;
        } else if (detail::parseForField(def, values[i], numbers[i])) {
            parts[i] = numbers[i];
            present[i] = 1;
        }
    }
    appendPrepared(writeBlob(m_bitmapBytes, m_headerBytes, m_wideOffsets, n, parts.data(), present.data()));
}

void MemTable::appendPrepared(std::unique_ptr<char[]> newBlob) {
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        if (m_indexes[i]->unique)
            checkUnique(*m_indexes[i], newBlob.get(), kNoRecord);
    }
    const RecordId id = allocateRecord();
    m_blobs[id] = std::move(newBlob);
    m_seqs[id] = ++m_seqCounter;
    if (m_lastLabel > ~std::uint64_t{0} - kLabelStep)
        relabel(); // only after billions of appends
    m_labels[id] = (m_lastLabel += kLabelStep);
    ++m_live;
    Index& ins = *m_indexes[0];
    ins.order.pushBack(id);
    ++ins.version;
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        Index& ix = *m_indexes[i];
        if (!ix.built)
            continue;
        if (ix.unique) {
            ready(ix);
            placeRecord(ix, id);
        } else if (ix.pending.size() < 64 + ix.order.size() / 8) {
            ix.pending.push_back(id);
        } else {
            // A bulk load: one sort later is cheaper than placing every record now.
            dropOrder(ix);
        }
    }
    m_cur = id;
    m_curPosIndex = nullptr;
    m_eof = m_bof = false;
    invalidateViews();
    notify(NoteDataSet | NoteCursor);
}

void MemTable::Append() {
    checkActive();
    checkBrowse();
    clearBuffer();
    m_state = TableState::Insert;
    notify(NoteState | NoteCursor | NoteRecord);
}

void MemTable::Insert() {
    checkActive();
    checkBrowse();
    clearBuffer();
    if (m_current == 0 && m_cur != kNoRecord)
        m_insertAnchor = m_cur;
    m_state = TableState::Insert;
    notify(NoteState | NoteCursor | NoteRecord);
}

void MemTable::Edit() {
    checkActive();
    if (m_state != TableState::Browse)
        return;
    if (m_cur == kNoRecord) {
        Insert();
        return;
    }
    loadBuffer(m_cur);
    m_state = TableState::Edit;
    notify(NoteState);
}

void MemTable::cancel() {
    if (m_state != TableState::Edit && m_state != TableState::Insert)
        return;
    const bool wasInsert = m_state == TableState::Insert;
    clearBuffer();
    m_state = TableState::Browse;
    notify(NoteState | NoteRecord | (wasInsert ? NoteCursor : 0u));
}

void MemTable::Post() {
    checkActive();
    if (m_state != TableState::Edit && m_state != TableState::Insert)
        return;
    requestUpdateRecord();
    auto newBlob = buildBlob(m_editValues, m_editPresent);

    if (m_state == TableState::Insert) {
        for (std::size_t i = 1; i < m_indexes.size(); ++i) {
            if (m_indexes[i]->unique)
                checkUnique(*m_indexes[i], newBlob.get(), kNoRecord);
        }
        const RecordId anchor = m_insertAnchor;
        const RecordId id = allocateRecord();
        m_blobs[id] = std::move(newBlob);
        m_seqs[id] = ++m_seqCounter;
        ++m_live;
        if (anchor != kNoRecord && anchor < m_blobs.size() && m_blobs[anchor] && anchor != id)
            setLabelBefore(id, anchor);
        else
            m_labels[id] = (m_lastLabel += kLabelStep);
        placeRecord(*m_indexes[0], id);
        for (std::size_t i = 1; i < m_indexes.size(); ++i) {
            Index& ix = *m_indexes[i];
            if (ix.built) {
                ready(ix);
                placeRecord(ix, id);
            }
        }
        clearBuffer();
        m_state = TableState::Browse;
        m_cur = id;
        m_curPosIndex = nullptr;
        m_eof = m_bof = false;
        invalidateViews();
        notify(NoteDataSet | NoteState | NoteCursor | NoteRecord);
        return;
    }

    const RecordId id = m_cur;
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        // A key that kept its bytes was accepted when it was stored.
        Index& ix = *m_indexes[i];
        if (ix.unique && !sameKeyBytes(ix, blob(id), newBlob.get()))
            checkUnique(ix, newBlob.get(), id);
    }
    // Views need to redraw everything only when the record changes its row.
    const int rowBefore = m_filtered ? -1 : currentRow();
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        Index& ix = *m_indexes[i];
        if (ix.built) {
            ready(ix);
            ix.displaced = !repostInPlace(ix, id, newBlob.get());
        }
    }
    m_blobs[id] = std::move(newBlob);
    m_seqs[id] = ++m_seqCounter;
    for (std::size_t i = 1; i < m_indexes.size(); ++i) {
        Index& ix = *m_indexes[i];
        if (ix.built && ix.displaced)
            placeRecord(ix, id);
        ix.displaced = false;
    }
    clearBuffer();
    m_state = TableState::Browse;
    // The cached place of the record stays good in an order that did not change (its version tells).
    const bool sameRow = !m_filtered && rowBefore >= 0 && currentRow() == rowBefore;
    if (!sameRow)
        invalidateViews();
    notify(NoteState | NoteRecord | (sameRow ? 0u : NoteDataSet | NoteCursor));
}

void MemTable::Delete() {
    checkActive();
    if (m_state == TableState::Insert) {
        cancel();
        return;
    }
    if (m_cur == kNoRecord)
        throw EDatabaseError(kEmptyDataSet);
    const bool wasEditing = m_state == TableState::Edit;
    if (wasEditing) {
        clearBuffer();
        m_state = TableState::Browse;
    }
    const RecordId victim = m_cur;
    const RecordId successor = visibleNeighbour(victim);
    for (auto& ixp : m_indexes) {
        Index& ix = *ixp;
        if (ix.built) {
            ready(ix);
            unplaceRecord(ix, victim);
        }
    }
    freeRecord(victim);
    --m_live;
    m_cur = successor;
    m_curPosIndex = nullptr;
    m_eof = m_bof = successor == kNoRecord;
    invalidateViews();
    notify(NoteDataSet | NoteCursor | NoteRecord | (wasEditing ? NoteState : 0u));
}

void MemTable::emptyTable() {
    checkActive();
    clearBuffer();
    m_state = TableState::Browse;
    m_blobs.clear();
    m_labels.clear();
    m_seqs.clear();
    m_free.clear();
    m_live = 0;
    m_lastLabel = 0;
    for (auto& ix : m_indexes) {
        ix->order.clear();
        ix->pending.clear();
        ix->built = true;
        ++ix->version;
    }
    m_cur = kNoRecord;
    m_curPosIndex = nullptr;
    m_eof = m_bof = true;
    invalidateViews();
    notify(NoteDataSet | NoteState | NoteCursor | NoteRecord);
}

void MemTable::Refresh() {
    checkActive();
    checkBrowse();
    invalidateViews();
    notify(NoteDataSet | NoteCursor | NoteRecord);
}

// --- cursor --------------------------------------------------------------------------------------

bool MemTable::accepts(RecordId id) {
    if (!m_filtered || !OnFilterRecord)
        return true;
    struct Probe {
        RecordId& slot;
        RecordId saved;
        ~Probe() { slot = saved; }
    } probe{m_probe, m_probe};
    m_probe = id;
    return OnFilterRecord(*this);
}

bool MemTable::positionOf(Index& ix, RecordId id, BlockList::Pos& pos) {
    ready(ix);
    if (id == kNoRecord)
        return false;
    if (&ix == m_indexes[m_current].get() && id == m_cur && m_curPosIndex == &ix &&
        m_curPosVersion == ix.version) {
        pos = m_curPos;
        return true;
    }
    if (!ix.order.find(id, pos))
        return false;
    if (&ix == m_indexes[m_current].get() && id == m_cur)
        rememberPos(pos);
    return true;
}

void MemTable::rememberPos(const BlockList::Pos& pos) {
    m_curPos = pos;
    m_curPosIndex = m_indexes[m_current].get();
    m_curPosVersion = m_curPosIndex->version;
}

void MemTable::moveTo(RecordId id, const BlockList::Pos* pos) {
    const bool moved = id != m_cur;
    m_cur = id;
    if (pos)
        rememberPos(*pos);
    else
        m_curPosIndex = nullptr;
    if (moved)
        notify(NoteCursor | NoteRecord);
}

// Moves p, itself first when `self`, towards the end (or the start) of the order to a record the
// filter accepts; false when there is none.
bool MemTable::findAccepted(const Index& ix, BlockList::Pos& p, bool forward, bool self) {
    if (self && accepts(ix.order.at(p)))
        return true;
    while (forward ? ix.order.next(p) : ix.order.prior(p)) {
        if (accepts(ix.order.at(p)))
            return true;
    }
    return false;
}

void MemTable::First() {
    moveToEnd(true);
}

void MemTable::Last() {
    moveToEnd(false);
}

void MemTable::moveToEnd(bool first) {
    checkActive();
    checkBrowse();
    Index& ix = current();
    ready(ix);
    BlockList::Pos p{};
    if (!first && !ix.order.empty())
        p = ix.order.lastPos();
    const bool found = !ix.order.empty() && findAccepted(ix, p, first, true);
    // The end moved to is always reached; the other one too when nothing is visible.
    m_bof = first || !found;
    m_eof = !first || !found;
    moveTo(found ? ix.order.at(p) : kNoRecord, found ? &p : nullptr);
}

void MemTable::Next() {
    moveOne(true);
}

void MemTable::Prior() {
    moveOne(false);
}

void MemTable::moveOne(bool forward) {
    checkActive();
    checkBrowse();
    Index& ix = current();
    BlockList::Pos p;
    if (positionOf(ix, m_cur, p) && findAccepted(ix, p, forward, false)) {
        m_bof = m_eof = false;
        moveTo(ix.order.at(p), &p);
        return;
    }
    (forward ? m_eof : m_bof) = true;
}

bool MemTable::isEmpty() {
    return visibleCount() == 0;
}

int MemTable::RecordCount() {
    if (!Active())
        return 0;
    if (!m_filtered || !OnFilterRecord)
        return static_cast<int>(m_live);
    // The callback may depend on values outside the table, so every count asks it afresh.
    int n = 0;
    for (RecordId id = 0; id < m_blobs.size(); ++id) {
        if (m_blobs[id] && accepts(id))
            ++n;
    }
    return n;
}

MemTable::Value MemTable::keyValueFromText(const Index& ix, std::string_view text,
                                           std::string& storage) const {
    const FieldDef& def = m_fields[static_cast<std::size_t>(ix.fields.front())]->m_def;
    if (!detail::parseForField(def, text, storage))
        return {};
    return {true, storage};
}

bool MemTable::SeekNearest(std::string_view value) {
    checkActive();
    checkBrowse();
    Index& ix = current();
    if (ix.insertion)
        return false;
    ready(ix);
    std::string storage;
    const Value key = keyValueFromText(ix, value, storage);
    const int f = ix.fields.front();
    BlockList::Pos p;
    const bool any = ix.order.lowerBound(
        [&](RecordId e) {
            const int c = compareValues(ix, f, valueIn(blob(e), f), key);
            return (ix.descending ? -c : c) < 0;
        },
        p);
    if (!any || !findAccepted(ix, p, true, true))
        return false;
    m_eof = m_bof = false;
    moveTo(ix.order.at(p), &p);
    return true;
}

void MemTable::setFiltered(bool on) {
    if (!Active()) {
        m_filtered = on;
        return;
    }
    checkBrowse();
    m_filtered = on;
    invalidateViews();
    RecordId target = m_cur;
    if (target != kNoRecord && !accepts(target))
        target = visibleNeighbour(target);
    if (target == kNoRecord) {
        First();
    } else {
        m_eof = m_bof = false;
        moveTo(target, nullptr);
    }
    notify(NoteDataSet | NoteCursor);
}

RecordId MemTable::visibleNeighbour(RecordId id) {
    Index& ix = current();
    BlockList::Pos start;
    if (!positionOf(ix, id, start))
        return kNoRecord;
    for (const bool forward : {true, false}) {
        BlockList::Pos p = start;
        if (findAccepted(ix, p, forward, false))
            return ix.order.at(p);
    }
    return kNoRecord;
}

// --- for views -----------------------------------------------------------------------------------

void MemTable::invalidateViews() {
    m_visibleValid = false;
    m_visible.clear();
}

void MemTable::buildVisible() {
    if (m_visibleValid)
        return;
    Index& ix = current();
    ready(ix);
    m_visible.clear();
    ix.order.forEach([&](RecordId id) {
        if (accepts(id))
            m_visible.push_back(id);
    });
    m_visibleValid = true;
}

int MemTable::visibleCount() {
    if (!Active())
        return 0;
    if (m_filtered && OnFilterRecord) {
        buildVisible();
        return static_cast<int>(m_visible.size());
    }
    ready(current());
    return static_cast<int>(current().order.size());
}

RecordId MemTable::visibleAt(int row) {
    if (row < 0 || row >= visibleCount())
        return kNoRecord;
    if (m_filtered && OnFilterRecord)
        return m_visible[static_cast<std::size_t>(row)];
    return current().order.at(static_cast<std::size_t>(row));
}

int MemTable::rowOf(RecordId id) {
    if (!Active() || id == kNoRecord || id >= m_blobs.size() || !m_blobs[id])
        return -1;
    Index& ix = current();
    if (m_filtered && OnFilterRecord) {
        buildVisible();
        auto it = std::partition_point(m_visible.begin(), m_visible.end(),
                                       [&](RecordId e) { return before(ix, e, id); });
        return it != m_visible.end() && *it == id ? static_cast<int>(it - m_visible.begin()) : -1;
    }
    BlockList::Pos p;
    if (!positionOf(ix, id, p))
        return -1;
    return static_cast<int>(ix.order.rankOf(p));
}

int MemTable::currentRow() {
    if (m_state == TableState::Insert)
        return -1;
    return rowOf(m_cur);
}

void MemTable::moveToRow(int row) {
    gotoRecord(visibleAt(row));
}

void MemTable::gotoRecord(RecordId id) {
    checkActive();
    if (id == kNoRecord || id >= m_blobs.size() || !m_blobs[id])
        return;
    checkBrowse();
    m_eof = m_bof = false;
    moveTo(id, nullptr);
}

std::string MemTable::textAt(RecordId id, int field) const {
    const FieldDef& def = m_fields[static_cast<std::size_t>(field)]->m_def;
    if (id == m_cur && m_state == TableState::Edit)
        return detail::formatValue(def, m_editPresent[static_cast<std::size_t>(field)] != 0,
                                   m_editValues[static_cast<std::size_t>(field)]);
    Value v = valueIn(blob(id), field);
    return detail::formatValue(def, v.present, v.bytes);
}

bool MemTable::isNullAt(RecordId id, int field) const {
    if (id == m_cur && m_state == TableState::Edit)
        return !m_editPresent[static_cast<std::size_t>(field)];
    return !valueIn(blob(id), field).present;
}

std::string_view MemTable::viewAt(RecordId id, int field) const {
    if (id == m_cur && m_state == TableState::Edit)
        return m_editValues[static_cast<std::size_t>(field)];
    return valueIn(blob(id), field).bytes;
}

// --- notifications -------------------------------------------------------------------------------

void MemTable::addLink(MemTableLink* link) {
    if (std::find(m_links.begin(), m_links.end(), link) == m_links.end())
        m_links.push_back(link);
}

void MemTable::removeLink(MemTableLink* link) {
    m_links.erase(std::remove(m_links.begin(), m_links.end(), link), m_links.end());
}

void MemTable::beginUpdate() {
    ++m_updateDepth;
}

void MemTable::endUpdate() {
    if (m_updateDepth == 0 || --m_updateDepth > 0)
        return;
    const unsigned notes = m_pendingNotes;
    const int field = m_pendingField;
    m_pendingNotes = 0;
    m_pendingField = -1;
    if (notes)
        deliver(notes, field);
}

void MemTable::notify(unsigned notes, int field) {
    if (m_links.empty())
        return;
    if (m_updateDepth > 0) {
        if (notes & NoteRecord)
            m_pendingField = (m_pendingNotes & NoteRecord) && m_pendingField != field ? -1 : field;
        m_pendingNotes |= notes;
        return;
    }
    deliver(notes, field);
}

void MemTable::deliver(unsigned notes, int field) {
    // A link may detach (or attach another) while being told; only links still attached hear more.
    const auto links = m_links;
    auto attached = [&](MemTableLink* l) {
        return std::find(m_links.begin(), m_links.end(), l) != m_links.end();
    };
    for (MemTableLink* l : links) {
        if (!attached(l))
            continue;
        if (notes & NoteDataSet)
            l->dataSetChanged();
        if ((notes & NoteState) && attached(l))
            l->stateChanged();
        if ((notes & NoteRecord) && !(notes & (NoteDataSet | NoteCursor)) && attached(l))
            l->recordChanged(field);
        if ((notes & NoteCursor) && attached(l))
            l->cursorMoved();
    }
}

void MemTable::requestUpdateRecord() {
    if (m_inUpdateRecord)
        return;
    m_inUpdateRecord = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_inUpdateRecord};
    const auto links = m_links;
    for (MemTableLink* l : links) {
        if (std::find(m_links.begin(), m_links.end(), l) != m_links.end())
            l->updateRecord();
    }
}

} // namespace velmo
