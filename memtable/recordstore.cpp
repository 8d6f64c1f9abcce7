#include "memtable/recordstore.h"

#include "memtable/values.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace velmo::detail {

void RecordStore::addField(FieldType type, int size) {
    m_types.push_back(type);
    m_maxBytes += type == FieldType::String ? static_cast<std::size_t>(size) : kNumberBytes;
    const std::size_t n = m_types.size();
    m_wideOffsets = m_maxBytes > 0xFFFF;
    m_bitmapBytes = static_cast<int>((n + 7) / 8);
    m_headerBytes = m_bitmapBytes + static_cast<int>(n * (m_wideOffsets ? 4 : 2));
}

void RecordStore::dropPacked(char* blob) {
    m_arena.giveBack(blob, m_packedBytes);
}

void RecordStore::release(RecordId id) {
    if (m_own[id])
        delete[] m_blobs[id];
    m_blobs[id] = nullptr;
    m_own[id] = false;
}

void RecordStore::freeOwnBlobs() {
    for (RecordId id = 0; id < m_blobs.size(); ++id) {
        if (m_own[id])
            delete[] m_blobs[id];
    }
}

void RecordStore::replace(RecordId id, std::unique_ptr<char[]> blob) {
    release(id);
    m_blobs[id] = blob.release();
    m_own[id] = true;
    m_seqs[id] = ++m_seqCounter;
}

void RecordStore::remove(RecordId id) {
    release(id);
    m_free.push_back(id);
    --m_live;
}

void RecordStore::clear() {
    freeOwnBlobs();
    // Emptied, a table lets go of its memory.
    m_blobs = {};
    m_own = {};
    m_arena.clear();
    m_labels = {};
    m_seqs = {};
    m_free = {};
    m_live = 0;
}

char* BlobArena::allocate(std::size_t bytes) {
    if (bytes > m_left) {
        const bool large = !m_blocks.empty();
        std::size_t size = std::max(large ? kLargeBlock : kBlock, bytes);
        void* block = nullptr;
        if (large) {
            constexpr std::size_t kHugePage = std::size_t{2} << 20;
            size = (size + kHugePage - 1) / kHugePage * kHugePage;
            block = std::aligned_alloc(kHugePage, size);
            if (block)
                (void)::madvise(block, size, MADV_HUGEPAGE); // only advice: fine where refused
        } else {
            block = std::malloc(size);
        }
        if (!block)
            throw std::bad_alloc();
        m_blocks.emplace_back(static_cast<char*>(block));
        m_next = m_blocks.back().get();
        m_left = size;
    }
    char* b = m_next;
    m_next += bytes;
    m_left -= bytes;
    return b;
}

void BlobArena::giveBack(char* blob, std::size_t bytes) {
    if (blob + bytes == m_next) {
        m_next = blob;
        m_left += bytes;
    }
}

void BlobArena::FreeBlock::operator()(char* block) const {
    std::free(block);
}

void BlobArena::clear() {
    m_blocks.clear();
    m_next = nullptr;
    m_left = 0;
}

} // namespace velmo::detail
