#include "memtable/recordstore.h"

#include "memtable/values.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
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
        std::size_t size = std::max(m_blocks.empty() ? kBlock : kLargeBlock, bytes);
        Block block{nullptr, 0};
        if (!m_blocks.empty()) {
            // Mapped with room to start on a huge-page boundary; the slack is unmapped again.
            constexpr std::size_t kHugePage = std::size_t{2} << 20;
            size = (size + kHugePage - 1) / kHugePage * kHugePage;
            void* mapped =
                ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (mapped == MAP_FAILED)
                throw std::bad_alloc();
            auto* raw = static_cast<char*>(mapped);
            const std::size_t lead =
                (kHugePage - reinterpret_cast<std::uintptr_t>(raw) % kHugePage) % kHugePage;
            if (lead > 0)
                ::munmap(raw, lead);
            ::munmap(raw + lead + size, kHugePage - lead);
            block = {raw + lead, size};
            (void)::madvise(block.data, size, MADV_HUGEPAGE); // only advice: fine where refused
        } else {
            block.data = static_cast<char*>(std::malloc(size));
            if (!block.data)
                throw std::bad_alloc();
        }
        m_blocks.push_back(block);
        m_next = block.data;
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

void BlobArena::clear() {
    for (const Block& b : m_blocks) {
        if (b.size > 0)
            ::munmap(b.data, b.size);
        else
            std::free(b.data);
    }
    m_blocks.clear();
    m_next = nullptr;
    m_left = 0;
}

} // namespace velmo::detail
