#include "memtable/notifier.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using velmo::MemTableLink;
using velmo::detail::Notifier;

namespace {

// Writes what it hears as one letter each: D data set, S state, R<field> record, C cursor, U update.
struct Recorder : MemTableLink {
    std::string heard;
    std::function<void()> onDataSet, onUpdate;
    void dataSetChanged() override {
        heard += 'D';
        if (onDataSet)
            onDataSet();
    }
    void stateChanged() override { heard += 'S'; }
    void recordChanged(int field) override { heard += "R" + std::to_string(field); }
    void cursorMoved() override { heard += 'C'; }
    void updateRecord() override {
        heard += 'U';
        if (onUpdate)
            onUpdate();
    }
};

struct Note {
    unsigned notes;
    int field = -1;
};

} // namespace

// Inside a batch each kind of note is delivered once at the end; a record note names its field only
// when every record note of the batch named the same one, and a moved cursor or a new data set makes
// it unnecessary.
TEST(Notifier, BatchesDeliverEachKindOnce) {
    struct Case {
        const char* name;
        std::vector<Note> notes;
        std::string heard;
    };
    const Case cases[] = {
        {"nothing", {}, ""},
        {"one field twice", {{Notifier::NoteRecord, 2}, {Notifier::NoteRecord, 2}}, "R2"},
        {"two fields", {{Notifier::NoteRecord, 2}, {Notifier::NoteRecord, 3}}, "R-1"},
        {"field, other field, first again",
         {{Notifier::NoteRecord, 1}, {Notifier::NoteRecord, 0}, {Notifier::NoteRecord, 1}},
         "R-1"},
        {"state then field", {{Notifier::NoteState}, {Notifier::NoteRecord, 4}}, "SR4"},
        {"field and a cursor move", {{Notifier::NoteRecord, 0}, {Notifier::NoteCursor}}, "C"},
        {"many appends", {{Notifier::NoteDataSet | Notifier::NoteCursor}, {Notifier::NoteDataSet}}, "DC"},
        {"all",
         {{Notifier::NoteState}, {Notifier::NoteDataSet | Notifier::NoteRecord | Notifier::NoteCursor}},
         "DSC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Notifier n;
        Recorder r;
        n.add(&r);
        n.beginUpdate();
        n.beginUpdate();
        for (const Note& note : c.notes)
            n.notify(note.notes, note.field);
        n.endUpdate();
        EXPECT_EQ(r.heard, "") << "delivered before the outermost end";
        n.endUpdate();
        EXPECT_EQ(r.heard, c.heard);
        // After the batch notes go out at once again, and an end without a begin holds nothing back.
        r.heard.clear();
        n.endUpdate();
        n.notify(Notifier::NoteRecord, 5);
        EXPECT_EQ(r.heard, "R5");
    }
}

// A link may detach itself or another one while it is being told: a detached link hears nothing
// more, while a link attached meanwhile waits for the next note.
TEST(Notifier, LinksDetachedDuringDeliveryHearNoMore) {
    Notifier n;
    Recorder first, second, late;
    n.add(&first);
    n.add(&first); // attaching twice is attaching once
    n.add(&second);
    first.onDataSet = [&] {
        n.remove(&second);
        n.remove(&first);
        n.add(&late);
    };
    n.notify(Notifier::NoteDataSet | Notifier::NoteCursor);
    EXPECT_EQ(first.heard, "D");
    EXPECT_EQ(second.heard, "");
    EXPECT_EQ(late.heard, "");
    n.notify(Notifier::NoteCursor);
    EXPECT_EQ(late.heard, "C");
}

// A link that posts while writing back what was typed asks for the write-back again; it is not asked
// a second time inside the first.
TEST(Notifier, UpdateRecordIsNotReentered) {
    Notifier n;
    Recorder a, b;
    n.add(&a);
    n.add(&b);
    a.onUpdate = [&] { n.requestUpdateRecord(); };
    n.requestUpdateRecord();
    EXPECT_EQ(a.heard, "U");
    EXPECT_EQ(b.heard, "U");
    n.requestUpdateRecord();
    EXPECT_EQ(a.heard, "UU");
}
