#pragma once

#include "memtable/blocklist.h"
#include "memtable/definitions.h"
#include "memtable/recordstore.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::detail {

class IndexSet;

// One order of a table's records: the insertion order, or the order of an index definition's key.
// Among equal keys the record posted last comes first.
class Index {
public:
    const IndexDef& def() const { return m_def; }
    const std::vector<int>& fields() const { return m_fields; }
    bool insertion() const { return m_insertion; }
    bool descending() const { return m_descending; }
    bool caseInsensitive() const { return m_caseInsensitive; }
    bool unique() const { return m_unique; }
    // Complete only after IndexSet::ready().
    const BlockList& order() const { return m_order; }
    // Changes whenever a record's place in the order may have changed.
    std::uint64_t version() const { return m_version; }

private:
    friend class IndexSet;

    IndexDef m_def;
    std::vector<int> m_fields;
    bool m_insertion = false;
    bool m_descending = false;
    bool m_caseInsensitive = false;
    bool m_unique = false;
    // False after a bulk load: the order is sorted when it is next needed.
    bool m_built = true;
    BlockList m_order;
    // Records appended since the order was last complete; they are placed when the order is next
    // used, or the order is sorted anew when too many have gathered.
    std::vector<RecordId> m_pending;
    std::uint64_t m_version = 0;
    // During a post: the record was taken out and must be placed again.
    bool m_displaced = false;
};

// Every order of a table, kept in step with its records: [0] is the insertion order, then one index
// per definition. An index is sorted in one go when first needed after a bulk load and kept in order
// record by record afterwards; a unique index refuses a duplicate key before anything is stored.
class IndexSet {
public:
    explicit IndexSet(RecordStore& store);

    std::size_t size() const { return m_indexes.size(); }
    Index& at(std::size_t i) { return *m_indexes[i]; }
    const Index& at(std::size_t i) const { return *m_indexes[i]; }
    // Position of the index with this name, size() when there is none (the insertion order has no
    // name).
    std::size_t find(std::string_view name) const;

    // Adds an index over the given field numbers; throws EMemTableError when it is unique and the
    // records already hold a duplicate key.
    void add(const IndexDef& def, std::vector<int> fields);
    // Leaves only the insertion order.
    void removeDefinitions();
    // Lets the orders of the non-unique indexes go but index `keep`; each is sorted when next used.
    void dropOrders(std::size_t keep);
    // Forgets every record (the record store is emptied alongside).
    void clearRecords();

    // Brings an order up to date: sorts it, or places the records appended since.
    void ready(Index& ix) {
        if (!ix.m_built || !ix.m_pending.empty())
            catchUp(ix);
    }

    // Throw EMemTableError when a unique index already holds the key of newBlob: for a new record,
    // or for the record id about to get newBlob's values. Most tables have no unique index, and a
    // load asks once per record.
    void checkNew(const char* newBlob) {
        if (m_uniqueCount > 0)
            checkUniqueAll(newBlob, kNoRecord);
    }
    void checkChange(RecordId id, const char* newBlob) {
        if (m_uniqueCount > 0)
            checkUniqueAll(newBlob, id);
    }

    // The record was just stored: put it at the end of the insertion order, or before `anchor` when
    // that is a stored record, and into the other orders.
    void appended(RecordId id);
    void inserted(RecordId id, RecordId anchor);
    // Stores new values for a record and moves it where its keys now belong.
    void repost(RecordId id, std::unique_ptr<char[]> newBlob);
    // Takes a record out of every order, before the store lets it go.
    void remove(RecordId id);

    // Compares one key field of two values (no value first), ascending.
    int compareValues(const Index& ix, int field, StoredValue a, StoredValue b) const;
    // Whether record a stands before record b in the order.
    bool before(const Index& ix, RecordId a, RecordId b) const;

private:
    void catchUp(Index& ix);
    int compareKeys(const Index& ix, const char* a, const char* b) const;
    bool sameKeyBytes(const Index& ix, const char* a, const char* b) const;
    void appendSortKey(std::string& out, const Index& ix, const char* blob) const;
    void build(Index& ix);
    void place(Index& ix, RecordId id);
    void unplace(Index& ix, RecordId id);
    void dropOrder(Index& ix);
    bool repostInPlace(Index& ix, RecordId id, const char* newBlob);
    void checkUnique(Index& ix, const char* newBlob, RecordId self);
    void checkUniqueAll(const char* newBlob, RecordId self);
    std::uint64_t nextLabel();
    void setLabelBefore(RecordId id, RecordId anchor);
    void relabel();

    RecordStore& m_store;
    std::vector<std::unique_ptr<Index>> m_indexes;
    std::size_t m_uniqueCount = 0;
    std::uint64_t m_lastLabel = 0;
};

} // namespace velmo::detail
