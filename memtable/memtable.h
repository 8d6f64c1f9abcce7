#pragma once

#include "memtable/definitions.h"
#include "memtable/indexset.h"
#include "memtable/notifier.h"
#include "memtable/recordstore.h"
#include "platform/german.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

class MemTable;

// One field of a table. Reading and writing act on the current record (during a filter callback: on
// the record being tested). Field objects live as long as their table.
class Field {
public:
    const std::string& name() const { return m_def.name; }
    FieldType type() const { return m_def.type; }
    int size() const { return m_def.size; }
    FieldKind kind() const { return m_def.kind; }
    int index() const { return m_index; }

    // True when the field holds no value (never assigned, or cleared); the empty text is a value.
    bool isNull() const;

    // String fields: the stored bytes, without a copy (valid until the record changes). Other types:
    // empty.
    std::string_view view() const;

    // The value as text: a string as stored, numbers with a decimal comma, date-times as
    // "dd.mm.yyyy[ hh:nn:ss]". No value gives the empty text.
    std::string asString() const;
    // A string field's text parsed as a German number (error "'%s' ist kein gültiger Gleitkommawert");
    // numbers as they are; a field without value reads 0 (a string field without value is the empty
    // text, which is not a number).
    double asFloat() const;
    german::Currency asCurrency() const;
    german::DateTime asDateTime() const;

    // Assignment needs state edit or insert ("Dataset is not in edit mode."). A string is cut to the
    // field's size and at a NUL byte; the empty text assigned to a number or date-time field clears it.
    void setAsString(std::string_view text);
    void setAsFloat(double value);
    void setAsCurrency(german::Currency value);
    void setAsDateTime(german::DateTime value);
    void clear();

private:
    friend class MemTable;
    Field(MemTable& table, int index, FieldDef def)
        : m_table(&table), m_index(index), m_def(std::move(def)) {}
    void setNumber(double value, std::string (*toText)(double));

    MemTable* m_table;
    int m_index;
    FieldDef m_def;
};

// The in-memory record table behind every list of the program: typed fields, any number of named
// sort orders kept up to date, a cursor with browse, edit and insert states, a filter callback, and
// the views bound to it.
//
// Orders: every index orders the records by its key and, among equal keys, shows the record posted
// last first. The order with the empty name is the insertion order. An index is sorted when first
// needed after a bulk load and kept in order record by record afterwards.
//
// The table itself keeps the cursor, the edit buffer and the filter; the records live in a record
// store, their orders in an index set, and the views hear of changes through a notifier.
class MemTable {
public:
    using FilterFn = std::function<bool(MemTable&)>;

    MemTable();
    ~MemTable();
    MemTable(const MemTable&) = delete;
    MemTable& operator=(const MemTable&) = delete;

    // --- definition (fields only while the table is inactive) -------------------------------------
    Field& addField(FieldDef def);
    Field& addField(std::string name, FieldType type = FieldType::String, int size = 20,
                    FieldKind kind = FieldKind::Data);
    int fieldCount() const { return static_cast<int>(m_fields.size()); }
    Field& field(int i) { return *m_fields[static_cast<std::size_t>(i)]; }
    const Field& field(int i) const { return *m_fields[static_cast<std::size_t>(i)]; }
    // Throws EDatabaseError "Feld '%s' nicht gefunden".
    Field& fieldByName(std::string_view name);
    Field* findField(std::string_view name);

    // Index definitions take effect at once: each has a maintained index from the moment it is added.
    // A unique definition over records that already hold a duplicate is refused (EMemTableError).
    void addIndexDef(IndexDef def);
    void clearIndexDefs();
    const std::vector<IndexDef>& IndexDefs() const { return m_indexDefs; }

    // --- state ------------------------------------------------------------------------------------
    bool Active() const { return m_state != TableState::Inactive; }
    // On: opens an empty table (nothing happens when already active). Off: closes it, dropping every
    // record.
    void setActive(bool on);
    TableState state() const { return m_state; }
    // A value was assigned since Edit, Append or Insert.
    bool isModified() const { return m_modified; }

    const std::string& IndexName() const;
    // Posts a pending edit (or cancels it when nothing changed), then makes the named index current;
    // the current record stays current. An unknown name changes nothing.
    void setIndexName(std::string_view name);
    // Brings the current index into order (after a bulk load it is sorted here, or when first walked).
    void SyncIndexes();
    // Lets the orders of the other indexes go (but of unique ones); each is sorted when next used.
    // Before a batch of posts that leave most keys alone (a save that converts every price), one sort
    // later costs less than keeping every order in step post by post. Nothing shown changes: a sort
    // puts equal keys in post order, the order the posts would have given them.
    void dropOtherOrders();

    // --- records ----------------------------------------------------------------------------------
    // Adds one record at the end of the insertion order, values in field order (fewer values leave
    // the remaining fields without value), posts it and makes it current. On a conversion error or a
    // refused key nothing is added.
    void AppendValues(std::span<const std::string_view> values);
    void AppendValues(std::initializer_list<std::string_view> values);
    void AppendValues(const std::vector<std::string>& values);

    void Append();
    void Insert();
    void Edit();
    void Post();
    // Drops the pending edit or the new record; back to browse.
    void cancel();
    void Delete();
    // Deletes every record at once (the fast form of deleting until RecordCount is 0).
    void emptyTable();
    void Refresh();

    // --- cursor -----------------------------------------------------------------------------------
    void First();
    void Next();
    void Prior();
    void Last();
    // After Next past the last visible record, or on a table without visible records.
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    bool isEmpty();
    int RecordCount();
    bool SeekNearest(std::string_view value);

    bool Filtered() const { return m_filtered; }
    // Applies (or removes) the filter, also when it was on already: the callback may depend on values
    // the table does not know. The current record stays when it is still visible.
    void setFiltered(bool on);
    // Decides whether a record is visible while Filtered is on; it reads the record through the
    // fields as the current record and must not move the cursor or change the table.
    FilterFn OnFilterRecord;

    // --- for views --------------------------------------------------------------------------------
    void addLink(MemTableLink* link) { m_notifier.add(link); }
    void removeLink(MemTableLink* link) { m_notifier.remove(link); }
    // Holds back the notifications of a batch of changes (nestable); endUpdate delivers one of each.
    void beginUpdate() { m_notifier.beginUpdate(); }
    void endUpdate() { m_notifier.endUpdate(); }
    class UpdateBlock {
    public:
        explicit UpdateBlock(MemTable& t) : m_table(t) { m_table.beginUpdate(); }
        ~UpdateBlock() { m_table.endUpdate(); }
        UpdateBlock(const UpdateBlock&) = delete;
        UpdateBlock& operator=(const UpdateBlock&) = delete;

    private:
        MemTable& m_table;
    };

    // Visible records in the current order, as the views show them. With Filtered on, the set is
    // taken when the filter is applied and after each change of the table.
    int visibleCount();
    RecordId visibleAt(int row);
    int rowOf(RecordId id);
    int currentRow();
    RecordId currentRecord() const { return m_cur; }
    // Posts a pending edit, then makes the record current (a view's click on a row).
    void moveToRow(int row);
    void gotoRecord(RecordId id);
    // A field of any stored record, as text; the current record shows its pending edit.
    std::string textAt(RecordId id, int field) const;
    // Whether a field of any stored record holds no value, and a string field's bytes without a copy.
    bool isNullAt(RecordId id, int field) const;
    std::string_view viewAt(RecordId id, int field) const;
    std::size_t storedRecords() const { return m_store.liveCount(); }

private:
    friend class Field;
    using Value = detail::StoredValue;
    using Index = detail::Index;
    using Pos = detail::BlockList::Pos;
    using enum detail::Notifier::Note;

    // Definition and state.
    void checkEditable() const;
    void checkActive() const;
    void checkBrowse(); // implicit post (or cancel when unchanged)
    void forgetRecords();

    // Edit buffer.
    Value currentValue(int field) const;
    void sizeBuffer();
    void loadBuffer(RecordId id);
    void clearBuffer();
    void assign(int field, bool present, std::string bytes);

    // Cursor and filter.
    Index& current() { return m_indexes.at(m_currentIndex); }
    bool accepts(RecordId id);
    bool findAccepted(const Index& ix, Pos& p, bool forward, bool self);
    void moveToEnd(bool first);
    void moveOne(bool forward);
    bool positionOf(Index& ix, RecordId id, Pos& pos);
    void rememberPos(const Pos& pos);
    void moveTo(RecordId id, const Pos* pos);
    void invalidateViews();
    void buildVisible();
    RecordId visibleNeighbour(RecordId id);
    Value keyValueFromText(const Index& ix, std::string_view text, std::string& storage) const;

    void notify(unsigned notes, int field = -1) { m_notifier.notify(notes, field); }

    std::vector<std::unique_ptr<Field>> m_fields;
    std::vector<IndexDef> m_indexDefs;
    detail::RecordStore m_store;
    detail::IndexSet m_indexes{m_store};
    detail::Notifier m_notifier;
    std::size_t m_currentIndex = 0;

    TableState m_state = TableState::Inactive;
    RecordId m_cur = kNoRecord;
    bool m_eof = true;
    bool m_bof = true;
    // The record a filter callback is looking at, shown through the fields as the current one.
    RecordId m_probe = kNoRecord;
    bool m_filtered = false;

    // Cached place of the current record in the current index.
    Pos m_curPos;
    const Index* m_curPosIndex = nullptr;
    std::uint64_t m_curPosVersion = 0;

    // Visible records while filtered.
    std::vector<RecordId> m_visible;
    bool m_visibleValid = false;

    // Edit buffer.
    std::vector<std::string> m_editValues;
    std::vector<char> m_editPresent;
    bool m_modified = false;
    RecordId m_insertAnchor = kNoRecord;
};

} // namespace velmo
