#pragma once

#include <vector>

namespace velmo {

// A data link: a view bound to a table. The table calls these on every change, synchronously; while
// the table is inside beginUpdate()/endUpdate() they are collected and delivered once at the end.
class MemTableLink {
public:
    virtual ~MemTableLink() = default;
    // Which records are visible, or their order, may have changed: draw everything again.
    virtual void dataSetChanged() {}
    // A value of the current record changed (field number, or -1 for several or all fields).
    virtual void recordChanged(int field) {}
    // Another record became current (or the current record's place changed).
    virtual void cursorMoved() {}
    // Browse, edit or insert changed (or the table was opened or closed).
    virtual void stateChanged() {}
    // The record is about to be posted: write any value typed but not yet stored.
    virtual void updateRecord() {}
    // The table is being destroyed; the link must forget it.
    virtual void tableDestroyed() {}
};

namespace detail {

// The links of one table and the delivery of its notes to them, held back inside a batch.
class Notifier {
public:
    enum Note : unsigned { NoteDataSet = 1, NoteRecord = 2, NoteCursor = 4, NoteState = 8 };

    void add(MemTableLink* link);
    void remove(MemTableLink* link);

    // Nestable; the outermost end delivers what gathered, each kind of note once.
    void beginUpdate() { ++m_updateDepth; }
    void endUpdate();

    // `field` goes with NoteRecord: the field that changed, or -1 for several or all.
    void notify(unsigned notes, int field = -1) {
        if (!m_links.empty())
            post(notes, field);
    }
    // Asks every link to store what was typed but not yet written (not again while it is asking).
    void requestUpdateRecord();
    void tableDestroyed();

private:
    void post(unsigned notes, int field);
    void deliver(unsigned notes, int field);
    bool attached(const MemTableLink* link) const;

    std::vector<MemTableLink*> m_links;
    int m_updateDepth = 0;
    unsigned m_pendingNotes = 0;
    int m_pendingField = -1;
    bool m_inUpdateRecord = false;
};

} // namespace detail
} // namespace velmo
