#include "memtable/recordstore.h"

#include "memtable/values.h"

namespace velmo::detail {

void RecordStore::addField(FieldType type, int size) {
    m_types.push_back(type);
    m_maxBytes += type == FieldType::String ? static_cast<std::size_t>(size) : kNumberBytes;
    const std::size_t n = m_types.size();
    m_wideOffsets = m_maxBytes > 0xFFFF;
    m_bitmapBytes = static_cast<int>((n + 7) / 8);
    m_headerBytes = m_bitmapBytes + static_cast<int>(n * (m_wideOffsets ? 4 : 2));
}

void RecordStore::replace(RecordId id, std::unique_ptr<char[]> blob) {
    m_blobs[id] = std::move(blob);
    m_seqs[id] = ++m_seqCounter;
}

void RecordStore::remove(RecordId id) {
    m_blobs[id].reset();
    m_free.push_back(id);
    --m_live;
}

void RecordStore::clear() {
    m_blobs.clear();
    m_labels.clear();
    m_seqs.clear();
    m_free.clear();
    m_live = 0;
}

} // namespace velmo::detail
