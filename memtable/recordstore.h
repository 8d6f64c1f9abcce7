#pragma once

#include "memtable/definitions.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace velmo::detail {

// One field's value in a stored record: its bytes, and whether it holds a value at all.
struct StoredValue {
    bool present = false;
    std::string_view bytes;
};

// Large blocks that records are written into one after the other. A bulk load of a million records
// then costs a few hundred allocations instead of a million, its records lie in load order in
// memory, and emptying the table frees a few blocks. Space is only handed back as a whole.
class BlobArena {
public:
    BlobArena() = default;
    BlobArena(const BlobArena&) = delete;
    BlobArena& operator=(const BlobArena&) = delete;
    ~BlobArena() { clear(); }

    char* allocate(std::size_t bytes);
    // Takes back the latest allocation.
    void giveBack(char* blob, std::size_t bytes);
    void clear();

private:
    // The first block is small, for the many small tables. A table that outgrows it gets large
    // blocks mapped on their own in huge pages where the system has them: a bulk load of a big
    // file then does not fault in every 4 KiB page one by one, and emptying the table gives the
    // memory back to the system at once.
    static constexpr std::size_t kBlock = 1 << 20;
    static constexpr std::size_t kLargeBlock = std::size_t{4} << 20;
    struct Block {
        char* data;
        std::size_t size; // of a mapped block; 0 for one from the heap
    };
    std::vector<Block> m_blocks;
    char* m_next = nullptr;
    std::size_t m_left = 0;
};

// The records of a table, each one block of bytes: presence bits, then each field's end offset (16 or
// 32 bits, wide enough for the largest record the fields allow), then the bytes of all values
// (numbers as 8 bytes). Record numbers of deleted records are handed out again.
//
// A record's block either lives on its own (posted through the edit buffer) or in the arena
// (appended in bulk). An arena block that is replaced or deleted stays allocated until the table
// is emptied, so edits after a bulk load cost at most once the loaded size.
//
// Beside its bytes every record carries two numbers for the orders: its post sequence (later posts
// come first among equal keys) and its insertion-order label, which the index set assigns.
class RecordStore {
public:
    RecordStore() = default;
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;
    ~RecordStore() { freeOwnBlobs(); }

    // Fields are only added while the table holds no records.
    void addField(FieldType type, int size);
    int fieldCount() const { return static_cast<int>(m_types.size()); }
    FieldType fieldType(int field) const { return m_types[static_cast<std::size_t>(field)]; }

    StoredValue valueIn(const char* blob, int field) const {
        const bool present = (static_cast<unsigned char>(blob[field >> 3]) >> (field & 7)) & 1;
        const char* offsets = blob + m_bitmapBytes;
        auto endOf = [&](int i) -> std::size_t {
            if (m_wideOffsets) {
                std::uint32_t v;
                std::memcpy(&v, offsets + std::ptrdiff_t{4} * i, 4);
                return v;
            }
            std::uint16_t v;
            std::memcpy(&v, offsets + std::ptrdiff_t{2} * i, 2);
            return v;
        };
        const std::size_t start = field == 0 ? 0 : endOf(field - 1);
        const std::size_t end = endOf(field);
        return {present, std::string_view(blob + m_headerBytes + start, end - start)};
    }
    StoredValue valueOf(RecordId id, int field) const { return valueIn(blob(id), field); }

    // Writes one record from its values, one per field; parts[i] is ignored where present[i] is 0.
    template <class Part> std::unique_ptr<char[]> makeBlob(const Part* parts, const char* present) const;
    // The same, written into the arena; it becomes a record through addPacked, or is taken back
    // through dropPacked before anything else is packed.
    template <class Part> char* packBlob(const Part* parts, const char* present);
    void dropPacked(char* blob);

    // Record numbers run below slotCount(); a slot whose record was deleted has no blob.
    std::size_t slotCount() const { return m_blobs.size(); }
    const char* blob(RecordId id) const { return m_blobs[id]; }
    bool holds(RecordId id) const { return id < m_blobs.size() && m_blobs[id]; }
    std::size_t liveCount() const { return m_live; }

    // Stores a new record as the one posted last.
    RecordId add(std::unique_ptr<char[]> blob) {
        const RecordId id = place(blob.get(), true);
        (void)blob.release(); // the store owns it now
        return id;
    }
    RecordId addPacked(char* blob) { return place(blob, false); }
    // Gives a record new values; it becomes the one posted last.
    void replace(RecordId id, std::unique_ptr<char[]> blob);
    void remove(RecordId id);
    void clear();

    std::uint64_t seq(RecordId id) const { return m_seqs[id]; }
    std::uint64_t label(RecordId id) const { return m_labels[id]; }
    void setLabel(RecordId id, std::uint64_t label) { m_labels[id] = label; }

private:
    template <class Part> std::size_t blobSize(const Part* parts, const char* present) const;
    template <class Part> void writeBlob(char* b, const Part* parts, const char* present) const;
    RecordId place(char* blob, bool own);
    void release(RecordId id);
    void freeOwnBlobs();

    std::vector<FieldType> m_types;
    int m_bitmapBytes = 0;
    int m_headerBytes = 0;
    bool m_wideOffsets = false;
    std::size_t m_maxBytes = 0; // of all values of one record together

    std::vector<char*> m_blobs;
    std::vector<bool> m_own; // the blob was allocated on its own, not in the arena
    BlobArena m_arena;
    std::size_t m_packedBytes = 0; // of the latest packed blob
    std::vector<std::uint64_t> m_labels;
    std::vector<std::uint64_t> m_seqs;
    std::vector<RecordId> m_free;
    std::size_t m_live = 0;
    std::uint64_t m_seqCounter = 0;
};

template <class Part> std::size_t RecordStore::blobSize(const Part* parts, const char* present) const {
    std::size_t total = static_cast<std::size_t>(m_headerBytes);
    for (std::size_t i = 0; i < m_types.size(); ++i) {
        if (present[i])
            total += std::string_view(parts[i]).size();
    }
    return total;
}

template <class Part> void RecordStore::writeBlob(char* b, const Part* parts, const char* present) const {
    std::memset(b, 0, static_cast<std::size_t>(m_bitmapBytes));
    char* offsets = b + m_bitmapBytes;
    char* data = b + m_headerBytes;
    std::size_t end = 0;
    for (std::size_t i = 0; i < m_types.size(); ++i) {
        if (present[i]) {
            b[i >> 3] = static_cast<char>(b[i >> 3] | (1 << (i & 7)));
            std::string_view v(parts[i]);
            std::memcpy(data + end, v.data(), v.size());
            end += v.size();
        }
        if (m_wideOffsets) {
            auto v = static_cast<std::uint32_t>(end);
            std::memcpy(offsets + 4 * i, &v, 4);
        } else {
            auto v = static_cast<std::uint16_t>(end);
            std::memcpy(offsets + 2 * i, &v, 2);
        }
    }
}

template <class Part>
std::unique_ptr<char[]> RecordStore::makeBlob(const Part* parts, const char* present) const {
    std::unique_ptr<char[]> b(new char[blobSize(parts, present)]);
    writeBlob(b.get(), parts, present);
    return b;
}

template <class Part> char* RecordStore::packBlob(const Part* parts, const char* present) {
    m_packedBytes = blobSize(parts, present);
    char* b = m_arena.allocate(m_packedBytes);
    writeBlob(b, parts, present);
    return b;
}

// Defined here: a bulk load stores every record through it.
inline RecordId RecordStore::place(char* blob, bool own) {
    RecordId id;
    if (!m_free.empty()) {
        id = m_free.back();
        m_free.pop_back();
    } else {
        m_blobs.emplace_back();
        m_own.push_back(false);
        m_labels.push_back(0);
        m_seqs.push_back(0);
        id = static_cast<RecordId>(m_blobs.size() - 1);
    }
    m_blobs[id] = blob;
    m_own[id] = own;
    m_seqs[id] = ++m_seqCounter;
    ++m_live;
    return id;
}

} // namespace velmo::detail
