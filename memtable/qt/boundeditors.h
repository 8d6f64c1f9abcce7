#pragma once

#include "memtable/memtable.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <functional>

namespace velmo {

// Ties one editor widget to one field of a table's current record. The widget shows the field's
// value and follows the cursor; when the user changes the widget's text the table goes into edit state
// by itself (or starts a new record when it has none) and the value is written into the record:
// string fields at once, other fields when the widget loses focus or when the record is posted,
// whichever comes first. A hidden widget catches up when it is shown.
class FieldBinding : private MemTableLink {
public:
    // show: put this text into the widget. text: the widget's text now.
    FieldBinding(std::function<void(const QString&)> show, std::function<QString()> text,
                 std::function<bool()> visible);
    ~FieldBinding() override;
    FieldBinding(const FieldBinding&) = delete;
    FieldBinding& operator=(const FieldBinding&) = delete;

    // Binds to the named field (an unknown name binds to nothing); a null table unbinds.
    void bind(MemTable* table, const QString& fieldName);
    MemTable* table() const { return m_table; }
    Field* field() const { return m_field; }

    // The user changed the text. Errors (a closed table, a value that does not convert) go to the
    // data-link error handler.
    void userEdited();
    // Writes a value still held back (non-string fields); errors go to the handler.
    void commit();
    // Shows the current value again (or marks the widget for it while it is hidden).
    void refresh();
    void shown();
    bool isLoading() const { return m_loading; }

private:
    void dataSetChanged() override;
    void recordChanged(int field) override;
    void cursorMoved() override;
    void stateChanged() override;
    void updateRecord() override;
    void tableDestroyed() override;
    void write(const QString& text);

    std::function<void(const QString&)> m_show;
    std::function<QString()> m_text;
    std::function<bool()> m_visible;
    MemTable* m_table = nullptr;
    Field* m_field = nullptr;
    bool m_loading = false;
    bool m_writing = false;
    bool m_pending = false;
    bool m_stale = false;
};

// A single-line field bound to a table field; its length is limited to a string field's size.
class BoundLineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit BoundLineEdit(QWidget* parent = nullptr);
    void bind(MemTable* table, const QString& fieldName);
    FieldBinding& binding() { return m_binding; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    FieldBinding m_binding;
};

// A drop-down list bound to a table field. Not editable (the default): choosing an entry writes its
// text, and a value that is not among the entries shows as no entry. Editable: typing counts as well.
class BoundComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit BoundComboBox(QWidget* parent = nullptr);
    void bind(MemTable* table, const QString& fieldName);
    FieldBinding& binding() { return m_binding; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void showValue(const QString& text);
    void connectLineEdit();

    FieldBinding m_binding;
};

// A multi-line text editor bound to a table field. Lines are kept in the record separated by CR LF.
// Every change of its text that the binding did not make itself counts as typing.
class BoundTextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit BoundTextEdit(QWidget* parent = nullptr);
    void bind(MemTable* table, const QString& fieldName);
    FieldBinding& binding() { return m_binding; }

protected:
    void showEvent(QShowEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    FieldBinding m_binding;
};

// A read-only text bound to a table field: shows the current record's value.
class BoundLabel : public QLabel {
    Q_OBJECT
public:
    explicit BoundLabel(QWidget* parent = nullptr);
    void bind(MemTable* table, const QString& fieldName);

protected:
    void showEvent(QShowEvent* e) override;

private:
    FieldBinding m_binding;
};

} // namespace velmo
