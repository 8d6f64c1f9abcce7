#include "memtable/memtable.h"

#include "memtable/values.h"

#include <algorithm>
#include <stdexcept>

namespace velmo {

namespace {

constexpr const char* kNotInEditMode = "Dataset is not in edit mode.";
constexpr const char* kEmptyDataSet = "Operation bei leerer Datenmenge nicht ausführbar";
constexpr const char* kClosedDataSet = "Operation bei geschlossener Datenmenge nicht ausführbar";
constexpr const char* kFieldNotFound = "Feld '%s' nicht gefunden";

} // namespace

// --- definition ----------------------------------------------------------------------------------

MemTable::MemTable() = default;

MemTable::~MemTable() {
    m_notifier.tableDestroyed();
}

Field& MemTable::addField(FieldDef def) {
    if (Active())
        throw std::logic_error("MemTable: fields can only be added while the table is inactive");
    if (def.type == FieldType::String && (def.size < 1 || def.size > 0xFFFF))
        throw std::invalid_argument("MemTable: string field size out of range");
    if (findField(def.name))
        throw std::invalid_argument("MemTable: duplicate field name " + def.name);
    const int i = fieldCount();
    m_store.addField(def.type, def.size);
    m_fields.push_back(std::unique_ptr<Field>(new Field(*this, i, std::move(def))));
    sizeBuffer();
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

void MemTable::addIndexDef(IndexDef def) {
    if (m_indexes.find(def.name) != m_indexes.size())
        throw std::invalid_argument("MemTable: duplicate index name " + def.name);
    if (def.name.empty())
        throw std::invalid_argument("MemTable: an index needs a name");
    if (def.fields.empty())
        throw std::invalid_argument("MemTable: index " + def.name + " has no fields");
    std::vector<int> fields;
    for (const auto& name : def.fields)
        fields.push_back(fieldByName(name).index());
    m_indexes.add(def, std::move(fields));
    m_indexDefs.push_back(std::move(def));
}

void MemTable::clearIndexDefs() {
    const bool hadCurrent = m_currentIndex != 0;
    if (hadCurrent && Active())
        checkBrowse();
    m_indexes.removeDefinitions();
    m_indexDefs.clear();
    m_currentIndex = 0;
    m_curPosIndex = nullptr;
    if (hadCurrent) {
        invalidateViews();
        notify(NoteDataSet | NoteCursor);
    }
}

// --- state ---------------------------------------------------------------------------------------

// Drops every record; the cursor is left on none.
void MemTable::forgetRecords() {
    m_store.clear();
    m_indexes.clearRecords();
    clearBuffer();
    m_cur = kNoRecord;
    m_curPosIndex = nullptr;
    m_eof = m_bof = true;
    invalidateViews();
}

void MemTable::setActive(bool on) {
    if (on == Active())
        return;
    forgetRecords();
    if (on)
        sizeBuffer();
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
    m_notifier.requestUpdateRecord();
    if (m_modified)
        Post();
    else
        cancel();
}

const std::string& MemTable::IndexName() const {
    return m_indexes.at(m_currentIndex).def().name;
}

void MemTable::setIndexName(std::string_view name) {
    if (Active())
        checkBrowse();
    const std::size_t found = name.empty() ? 0 : m_indexes.find(name);
    if (found == m_indexes.size() || found == m_currentIndex)
        return;
    m_currentIndex = found;
    m_curPosIndex = nullptr;
    invalidateViews();
    notify(NoteDataSet | NoteCursor);
}

void MemTable::SyncIndexes() {
    if (Active())
        m_indexes.ready(current());
}

void MemTable::dropOtherOrders() {
    m_indexes.dropOrders(m_currentIndex);
}

// --- edit buffer ---------------------------------------------------------------------------------

MemTable::Value MemTable::currentValue(int f) const {
    if (m_probe != kNoRecord)
        return m_store.valueOf(m_probe, f);
    if (m_state == TableState::Edit || m_state == TableState::Insert)
        return {m_editPresent[static_cast<std::size_t>(f)] != 0, m_editValues[static_cast<std::size_t>(f)]};
    if (m_cur != kNoRecord && m_state != TableState::Inactive)
        return m_store.valueOf(m_cur, f);
    return {};
}

void MemTable::sizeBuffer() {
    m_editValues.assign(m_fields.size(), {});
    m_editPresent.assign(m_fields.size(), 0);
}

void MemTable::loadBuffer(RecordId id) {
    for (int f = 0; f < fieldCount(); ++f) {
        Value v = m_store.valueOf(id, f);
        m_editPresent[static_cast<std::size_t>(f)] = static_cast<char>(v.present);
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
    m_editPresent[static_cast<std::size_t>(field)] = static_cast<char>(present);
    m_editValues[static_cast<std::size_t>(field)] = std::move(bytes);
    m_modified = true;
    notify(NoteRecord, field);
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
    char* newBlob = m_store.packBlob(parts.data(), present.data());
    try {
        m_indexes.checkNew(newBlob);
    } catch (...) {
        m_store.dropPacked(newBlob);
        throw;
    }
    const RecordId id = m_store.addPacked(newBlob);
    m_indexes.appended(id);
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
    if (m_currentIndex == 0 && m_cur != kNoRecord)
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
    m_notifier.requestUpdateRecord();
    auto newBlob = m_store.makeBlob(m_editValues.data(), m_editPresent.data());

    if (m_state == TableState::Insert) {
        m_indexes.checkNew(newBlob.get());
        const RecordId anchor = m_insertAnchor;
        const RecordId id = m_store.add(std::move(newBlob));
        m_indexes.inserted(id, anchor);
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
    m_indexes.checkChange(id, newBlob.get());
    // Views need to redraw everything only when the record changes its row.
    const int rowBefore = m_filtered ? -1 : currentRow();
    m_indexes.repost(id, std::move(newBlob));
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
    m_indexes.remove(victim);
    m_store.remove(victim);
    m_cur = successor;
    m_curPosIndex = nullptr;
    m_eof = m_bof = successor == kNoRecord;
    invalidateViews();
    notify(NoteDataSet | NoteCursor | NoteRecord | (wasEditing ? NoteState : 0u));
}

void MemTable::emptyTable() {
    checkActive();
    forgetRecords();
    m_state = TableState::Browse;
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

bool MemTable::positionOf(Index& ix, RecordId id, Pos& pos) {
    m_indexes.ready(ix);
    if (id == kNoRecord)
        return false;
    if (&ix == &m_indexes.at(m_currentIndex) && id == m_cur && m_curPosIndex == &ix &&
        m_curPosVersion == ix.version()) {
        pos = m_curPos;
        return true;
    }
    if (!ix.order().find(id, pos))
        return false;
    if (&ix == &m_indexes.at(m_currentIndex) && id == m_cur)
        rememberPos(pos);
    return true;
}

void MemTable::rememberPos(const Pos& pos) {
    m_curPos = pos;
    m_curPosIndex = &m_indexes.at(m_currentIndex);
    m_curPosVersion = m_curPosIndex->version();
}

void MemTable::moveTo(RecordId id, const Pos* pos) {
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
bool MemTable::findAccepted(const Index& ix, Pos& p, bool forward, bool self) {
    if (self && accepts(ix.order().at(p)))
        return true;
    while (forward ? ix.order().next(p) : ix.order().prior(p)) {
        if (accepts(ix.order().at(p)))
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
    m_indexes.ready(ix);
    Pos p{};
    if (!first && !ix.order().empty())
        p = ix.order().lastPos();
    const bool found = !ix.order().empty() && findAccepted(ix, p, first, true);
    // The end moved to is always reached; the other one too when nothing is visible.
    m_bof = first || !found;
    m_eof = !first || !found;
    moveTo(found ? ix.order().at(p) : kNoRecord, found ? &p : nullptr);
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
    Pos p;
    if (positionOf(ix, m_cur, p) && findAccepted(ix, p, forward, false)) {
        m_bof = m_eof = false;
        moveTo(ix.order().at(p), &p);
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
        return static_cast<int>(m_store.liveCount());
    // The callback may depend on values outside the table, so every count asks it afresh.
    int n = 0;
    for (RecordId id = 0; id < m_store.slotCount(); ++id) {
        if (m_store.blob(id) && accepts(id))
            ++n;
    }
    return n;
}

MemTable::Value MemTable::keyValueFromText(const Index& ix, std::string_view text,
                                           std::string& storage) const {
    const FieldDef& def = m_fields[static_cast<std::size_t>(ix.fields().front())]->m_def;
    if (!detail::parseForField(def, text, storage))
        return {};
    return {true, storage};
}

bool MemTable::SeekNearest(std::string_view value) {
    checkActive();
    checkBrowse();
    Index& ix = current();
    if (ix.insertion())
        return false;
    m_indexes.ready(ix);
    std::string storage;
    const Value key = keyValueFromText(ix, value, storage);
    const int f = ix.fields().front();
    Pos p;
    const bool any = ix.order().lowerBound(
        [&](RecordId e) {
            const int c = m_indexes.compareValues(ix, f, m_store.valueOf(e, f), key);
            return (ix.descending() ? -c : c) < 0;
        },
        p);
    if (!any || !findAccepted(ix, p, true, true))
        return false;
    m_eof = m_bof = false;
    moveTo(ix.order().at(p), &p);
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
    Pos start;
    if (!positionOf(ix, id, start))
        return kNoRecord;
    for (const bool forward : {true, false}) {
        Pos p = start;
        if (findAccepted(ix, p, forward, false))
            return ix.order().at(p);
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
    m_indexes.ready(ix);
    m_visible.clear();
    ix.order().forEach([&](RecordId id) {
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
    m_indexes.ready(current());
    return static_cast<int>(current().order().size());
}

RecordId MemTable::visibleAt(int row) {
    if (row < 0 || row >= visibleCount())
        return kNoRecord;
    if (m_filtered && OnFilterRecord)
        return m_visible[static_cast<std::size_t>(row)];
    return current().order().at(static_cast<std::size_t>(row));
}

int MemTable::rowOf(RecordId id) {
    if (!Active() || !m_store.holds(id))
        return -1;
    Index& ix = current();
    if (m_filtered && OnFilterRecord) {
        buildVisible();
        auto it = std::partition_point(m_visible.begin(), m_visible.end(),
                                       [&](RecordId e) { return m_indexes.before(ix, e, id); });
        return it != m_visible.end() && *it == id ? static_cast<int>(it - m_visible.begin()) : -1;
    }
    Pos p;
    if (!positionOf(ix, id, p))
        return -1;
    return static_cast<int>(ix.order().rankOf(p));
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
    if (!m_store.holds(id))
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
    Value v = m_store.valueOf(id, field);
    return detail::formatValue(def, v.present, v.bytes);
}

bool MemTable::isNullAt(RecordId id, int field) const {
    if (id == m_cur && m_state == TableState::Edit)
        return !m_editPresent[static_cast<std::size_t>(field)];
    return !m_store.valueOf(id, field).present;
}

std::string_view MemTable::viewAt(RecordId id, int field) const {
    if (id == m_cur && m_state == TableState::Edit)
        return m_editValues[static_cast<std::size_t>(field)];
    return m_store.valueOf(id, field).bytes;
}

} // namespace velmo
