#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmo::detail {

// An ordered sequence of record numbers, kept in blocks of a few hundred so that one insertion or
// removal moves at most a block's worth of entries instead of the whole order. Position by rank
// needs a binary search over the block starts; walking to the neighbour is constant time.
//
// Every entry also knows its block, so an entry is found again by scanning one block instead of
// searching the order by key (each step of such a search compares two records' keys).
class BlockList {
public:
    struct Pos {
        std::size_t block = 0;
        std::size_t offset = 0;
    };

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

    void clear() {
        m_blocks.clear();
        m_starts.clear();
        m_validStarts = 0;
        m_size = 0;
        m_tags.clear();
        m_blockOfTag.clear();
        m_freeTags.clear();
        m_tagOf = {};
    }

    // Takes over an already sorted sequence.
    void assign(const std::vector<std::uint32_t>& sorted) {
        clear();
        if (!sorted.empty())
            m_tagOf.assign(static_cast<std::size_t>(*std::max_element(sorted.begin(), sorted.end())) + 1,
                           kNoTag);
        for (std::size_t i = 0; i < sorted.size(); i += kFill) {
            const std::size_t n = std::min(kFill, sorted.size() - i);
            m_blocks.emplace_back(sorted.begin() + static_cast<std::ptrdiff_t>(i),
                                  sorted.begin() + static_cast<std::ptrdiff_t>(i + n));
            m_tags.push_back(newTag());
            m_blockOfTag[m_tags.back()] = m_blocks.size() - 1;
            for (std::uint32_t id : m_blocks.back())
                setTag(id, m_tags.back());
        }
        m_size = sorted.size();
    }

    // Where the entry id stands; false when it is not in the sequence.
    bool find(std::uint32_t id, Pos& out) const {
        if (id >= m_tagOf.size() || m_tagOf[id] == kNoTag)
            return false;
        const std::uint32_t tag = m_tagOf[id];
        const std::size_t block = m_blockOfTag[tag];
        if (block >= m_blocks.size() || m_tags[block] != tag)
            return false;
        const auto& b = m_blocks[block];
        const auto it = std::find(b.begin(), b.end(), id);
        if (it == b.end())
            return false;
        out = {block, static_cast<std::size_t>(it - b.begin())};
        return true;
    }

    Pos locate(std::size_t rank) const {
        updateStarts();
        auto it = std::upper_bound(m_starts.begin(), m_starts.end(), rank);
        const auto block = static_cast<std::size_t>(it - m_starts.begin()) - 1;
        return {block, rank - m_starts[block]};
    }
    std::size_t rankOf(Pos p) const {
        updateStarts();
        return m_starts[p.block] + p.offset;
    }
    std::uint32_t at(Pos p) const { return m_blocks[p.block][p.offset]; }
    std::uint32_t at(std::size_t rank) const { return at(locate(rank)); }

    // The position after p, or false at the end.
    bool next(Pos& p) const {
        if (p.offset + 1 < m_blocks[p.block].size()) {
            ++p.offset;
            return true;
        }
        if (p.block + 1 < m_blocks.size()) {
            ++p.block;
            p.offset = 0;
            return true;
        }
        return false;
    }
    bool prior(Pos& p) const {
        if (p.offset > 0) {
            --p.offset;
            return true;
        }
        if (p.block > 0) {
            --p.block;
            p.offset = m_blocks[p.block].size() - 1;
            return true;
        }
        return false;
    }
    Pos lastPos() const { return {m_blocks.size() - 1, m_blocks.back().size() - 1}; }

    // The first position whose entry e has !before(e); for a sorted sequence, the lower bound.
    // Returns false when every entry is before.
    template <class Before> bool lowerBound(Before before, Pos& out) const {
        auto blockIt =
            std::partition_point(m_blocks.begin(), m_blocks.end(),
                                 [&](const std::vector<std::uint32_t>& b) { return before(b.back()); });
        if (blockIt == m_blocks.end())
            return false;
        auto entryIt = std::partition_point(blockIt->begin(), blockIt->end(), before);
        out = {static_cast<std::size_t>(blockIt - m_blocks.begin()),
               static_cast<std::size_t>(entryIt - blockIt->begin())};
        return true;
    }
    template <class Before> std::size_t lowerBoundRank(Before before) const {
        Pos p;
        return lowerBound(before, p) ? rankOf(p) : m_size;
    }

    void pushBack(std::uint32_t id) {
        if (m_blocks.empty() || m_blocks.back().size() >= kFill) {
            m_blocks.emplace_back();
            m_blocks.back().reserve(kFill);
            m_tags.push_back(newTag());
            m_blockOfTag[m_tags.back()] = m_blocks.size() - 1;
        }
        m_blocks.back().push_back(id);
        setTag(id, m_tags.back());
        ++m_size;
        // Starts of existing blocks are unchanged; a new block's start is computed on demand.
        m_validStarts = std::min(m_validStarts, m_blocks.size() - 1);
    }

    // Inserts before the entry at p (p may be one past the last entry of its block).
    void insert(Pos p, std::uint32_t id) {
        if (m_blocks.empty()) {
            pushBack(id);
            return;
        }
        auto& block = m_blocks[p.block];
        block.insert(block.begin() + static_cast<std::ptrdiff_t>(p.offset), id);
        setTag(id, m_tags[p.block]);
        ++m_size;
        if (block.size() > 2 * kFill) {
            std::vector<std::uint32_t> tail(block.begin() + static_cast<std::ptrdiff_t>(kFill), block.end());
            block.resize(kFill);
            const std::uint32_t tag = newTag();
            for (std::uint32_t moved : tail)
                setTag(moved, tag);
            m_blocks.insert(m_blocks.begin() + static_cast<std::ptrdiff_t>(p.block) + 1, std::move(tail));
            m_tags.insert(m_tags.begin() + static_cast<std::ptrdiff_t>(p.block) + 1, tag);
            renumberFrom(p.block + 1);
        }
        m_validStarts = std::min(m_validStarts, p.block + 1);
    }
    void insert(std::size_t rank, std::uint32_t id) {
        if (rank >= m_size) {
            // Appending goes to the last block, which may grow past its usual fill.
            if (m_blocks.empty()) {
                pushBack(id);
                return;
            }
            insert(Pos{m_blocks.size() - 1, m_blocks.back().size()}, id);
            return;
        }
        insert(locate(rank), id);
    }

    void erase(Pos p) {
        auto& block = m_blocks[p.block];
        m_tagOf[block[p.offset]] = kNoTag;
        block.erase(block.begin() + static_cast<std::ptrdiff_t>(p.offset));
        --m_size;
        if (block.empty()) {
            m_freeTags.push_back(m_tags[p.block]);
            m_blocks.erase(m_blocks.begin() + static_cast<std::ptrdiff_t>(p.block));
            m_tags.erase(m_tags.begin() + static_cast<std::ptrdiff_t>(p.block));
            renumberFrom(p.block);
        }
        m_validStarts = std::min(m_validStarts, p.block + 1);
    }

    template <class F> void forEach(F f) const {
        for (const auto& b : m_blocks)
            for (std::uint32_t id : b)
                f(id);
    }

private:
    static constexpr std::size_t kFill = 512;
    static constexpr std::uint32_t kNoTag = ~std::uint32_t{0};

    // Blocks move when one is split or removed, so entries name their block by a tag that stays.
    std::uint32_t newTag() {
        if (!m_freeTags.empty()) {
            const std::uint32_t tag = m_freeTags.back();
            m_freeTags.pop_back();
            return tag;
        }
        m_blockOfTag.push_back(0);
        return static_cast<std::uint32_t>(m_blockOfTag.size() - 1);
    }
    void setTag(std::uint32_t id, std::uint32_t tag) {
        if (id >= m_tagOf.size())
            m_tagOf.resize(static_cast<std::size_t>(id) + 1, kNoTag);
        m_tagOf[id] = tag;
    }
    void renumberFrom(std::size_t block) {
        for (std::size_t i = block; i < m_blocks.size(); ++i)
            m_blockOfTag[m_tags[i]] = i;
    }

    // m_starts[i] is the rank of block i's first entry; entries from m_validStarts on are stale.
    void updateStarts() const {
        if (m_validStarts == m_blocks.size() && m_starts.size() == m_blocks.size())
            return;
        m_starts.resize(m_blocks.size());
        std::size_t i = m_validStarts;
        if (i > m_blocks.size())
            i = m_blocks.size();
        std::size_t acc = i == 0 ? 0 : m_starts[i - 1] + m_blocks[i - 1].size();
        for (; i < m_blocks.size(); ++i) {
            m_starts[i] = acc;
            acc += m_blocks[i].size();
        }
        m_validStarts = m_blocks.size();
    }

    std::vector<std::vector<std::uint32_t>> m_blocks;
    mutable std::vector<std::size_t> m_starts;
    mutable std::size_t m_validStarts = 0;
    std::size_t m_size = 0;
    std::vector<std::uint32_t> m_tags;     // per block: its tag
    std::vector<std::size_t> m_blockOfTag; // per tag: the block's place
    std::vector<std::uint32_t> m_freeTags; // tags of removed blocks
    std::vector<std::uint32_t> m_tagOf;    // per entry value: its block's tag, or kNoTag
};

} // namespace velmo::detail
