#include "memtable/notifier.h"

#include <algorithm>

namespace velmo::detail {

void Notifier::add(MemTableLink* link) {
    if (!attached(link))
        m_links.push_back(link);
}

void Notifier::remove(MemTableLink* link) {
    m_links.erase(std::remove(m_links.begin(), m_links.end(), link), m_links.end());
}

bool Notifier::attached(const MemTableLink* link) const {
    return std::find(m_links.begin(), m_links.end(), link) != m_links.end();
}

void Notifier::endUpdate() {
    if (m_updateDepth == 0 || --m_updateDepth > 0)
        return;
    const unsigned notes = m_pendingNotes;
    const int field = m_pendingField;
    m_pendingNotes = 0;
    m_pendingField = -1;
    if (notes)
        deliver(notes, field);
}

void Notifier::post(unsigned notes, int field) {
    if (m_updateDepth > 0) {
        if (notes & NoteRecord)
            m_pendingField = (m_pendingNotes & NoteRecord) && m_pendingField != field ? -1 : field;
        m_pendingNotes |= notes;
        return;
    }
    deliver(notes, field);
}

void Notifier::deliver(unsigned notes, int field) {
    // A link may detach (or attach another) while being told; only links still attached hear more.
    const auto links = m_links;
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

void Notifier::requestUpdateRecord() {
    if (m_inUpdateRecord)
        return;
    m_inUpdateRecord = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_inUpdateRecord};
    const auto links = m_links;
    for (MemTableLink* l : links) {
        if (attached(l))
            l->updateRecord();
    }
}

void Notifier::tableDestroyed() {
    const auto links = m_links;
    for (MemTableLink* l : links)
        l->tableDestroyed();
}

} // namespace velmo::detail
