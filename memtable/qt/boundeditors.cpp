#include "memtable/qt/boundeditors.h"

#include "memtable/qt/datalink.h"
#include "platform/qt/text.h"

namespace velmo {

namespace {

// Sets a flag for the length of a scope, also when the scope is left by an exception.
struct FlagScope {
    bool& flag;
    bool saved;
    explicit FlagScope(bool& f) : flag(f), saved(f) { flag = true; }
    ~FlagScope() { flag = saved; }
};

} // namespace

// --- FieldBinding --------------------------------------------------------------------------------

FieldBinding::FieldBinding(std::function<void(const QString&)> show, std::function<QString()> text,
                           std::function<bool()> visible)
    : m_show(std::move(show)), m_text(std::move(text)), m_visible(std::move(visible)) {}

FieldBinding::~FieldBinding() {
    if (m_table)
        m_table->removeLink(this);
}

void FieldBinding::bind(MemTable* table, const QString& fieldName) {
    if (m_table)
        m_table->removeLink(this);
    m_table = table;
    m_field = table ? table->findField(fieldName.toStdString()) : nullptr;
    m_pending = false;
    if (m_table)
        m_table->addLink(this);
    refresh();
}

void FieldBinding::userEdited() {
    if (!m_table || !m_field || m_loading)
        return;
    // Taken before Edit: starting a new record shows its empty fields, this widget included.
    const QString text = m_text();
    runLinked([&] {
        FlagScope writing(m_writing);
        m_table->Edit();
        write(text);
    });
}

void FieldBinding::write(const QString& text) {
    if (m_field->type() == FieldType::String) {
        m_field->setAsString(fromQString(text));
        m_pending = false;
    } else {
        // Half-typed numbers and dates are not values yet: they are converted when the user leaves
        // the field or the record is posted.
        m_pending = true;
    }
}

void FieldBinding::commit() {
    if (!m_pending || !m_table || !m_field)
        return;
    runLinked([&] { updateRecord(); });
}

void FieldBinding::updateRecord() {
    if (!m_pending || !m_field)
        return;
    FlagScope writing(m_writing);
    m_field->setAsString(fromQString(m_text())); // a conversion error stops the post
    m_pending = false;
}

void FieldBinding::refresh() {
    if (m_visible && !m_visible()) {
        m_stale = true;
        return;
    }
    m_stale = false;
    m_pending = false;
    QString value;
    if (m_table && m_field && m_table->Active())
        runLinked([&] { value = toQString(m_field->asString()); });
    FlagScope loading(m_loading);
    m_show(value);
}

void FieldBinding::shown() {
    if (m_stale)
        refresh();
}

void FieldBinding::dataSetChanged() {
    if (!m_writing)
        refresh();
}

void FieldBinding::recordChanged(int field) {
    if (!m_writing && m_field && (field < 0 || field == m_field->index()))
        refresh();
}

void FieldBinding::cursorMoved() {
    if (!m_writing)
        refresh();
}

void FieldBinding::stateChanged() {
    // Opening or closing the table changes what there is to show; edit and browse do not.
    if (!m_writing && m_table && !m_table->Active())
        refresh();
}

void FieldBinding::tableDestroyed() {
    m_table = nullptr;
    m_field = nullptr;
    m_pending = false;
}

// --- BoundLineEdit -------------------------------------------------------------------------------

BoundLineEdit::BoundLineEdit(QWidget* parent)
    : QLineEdit(parent), m_binding([this](const QString& t) { setText(t); }, [this] { return text(); },
                                   [this] { return isVisible(); }) {
    connect(this, &QLineEdit::textEdited, this, [this] { m_binding.userEdited(); });
    connect(this, &QLineEdit::editingFinished, this, [this] { m_binding.commit(); });
}

void BoundLineEdit::bind(MemTable* table, const QString& fieldName) {
    m_binding.bind(table, fieldName);
    Field* f = m_binding.field();
    setMaxLength(f && f->type() == FieldType::String ? f->size() : 32767);
}

void BoundLineEdit::showEvent(QShowEvent* e) {
    QLineEdit::showEvent(e);
    m_binding.shown();
}

// --- BoundComboBox -------------------------------------------------------------------------------

BoundComboBox::BoundComboBox(QWidget* parent)
    : QComboBox(parent), m_binding([this](const QString& t) { showValue(t); },
                                   [this] { return currentText(); }, [this] { return isVisible(); }) {
    connect(this, &QComboBox::activated, this, [this] { m_binding.userEdited(); });
    // New entries may now hold the value the field has.
    auto entriesChanged = [this] {
        if (m_binding.table() && !m_binding.isLoading())
            m_binding.refresh();
    };
    connect(model(), &QAbstractItemModel::rowsInserted, this, entriesChanged);
    connect(model(), &QAbstractItemModel::modelReset, this, entriesChanged);
}

void BoundComboBox::bind(MemTable* table, const QString& fieldName) {
    connectLineEdit();
    m_binding.bind(table, fieldName);
}

void BoundComboBox::connectLineEdit() {
    if (QLineEdit* le = lineEdit()) {
        connect(
            le, &QLineEdit::textEdited, this, [this] { m_binding.userEdited(); }, Qt::UniqueConnection);
        connect(
            le, &QLineEdit::editingFinished, this, [this] { m_binding.commit(); }, Qt::UniqueConnection);
    }
}

void BoundComboBox::showValue(const QString& text) {
    if (isEditable())
        setEditText(text);
    else
        setCurrentIndex(findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void BoundComboBox::showEvent(QShowEvent* e) {
    QComboBox::showEvent(e);
    connectLineEdit();
    m_binding.shown();
}

// --- BoundTextEdit -------------------------------------------------------------------------------

namespace {

QString toEditorLines(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString toRecordLines(QString text) {
    return text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

} // namespace

BoundTextEdit::BoundTextEdit(QWidget* parent)
    : QPlainTextEdit(parent),
      m_binding([this](const QString& t) { setPlainText(toEditorLines(t)); },
                [this] { return toRecordLines(toPlainText()); }, [this] { return isVisible(); }) {
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_binding.isLoading())
            m_binding.userEdited();
    });
}

void BoundTextEdit::bind(MemTable* table, const QString& fieldName) {
    m_binding.bind(table, fieldName);
}

void BoundTextEdit::showEvent(QShowEvent* e) {
    QPlainTextEdit::showEvent(e);
    m_binding.shown();
}

void BoundTextEdit::focusOutEvent(QFocusEvent* e) {
    QPlainTextEdit::focusOutEvent(e);
    m_binding.commit();
}

// --- BoundLabel ----------------------------------------------------------------------------------

BoundLabel::BoundLabel(QWidget* parent)
    : QLabel(parent), m_binding([this](const QString& t) { setText(t); }, [this] { return text(); },
                                [this] { return isVisible(); }) {
    setTextFormat(Qt::PlainText);
}

void BoundLabel::bind(MemTable* table, const QString& fieldName) {
    m_binding.bind(table, fieldName);
}

void BoundLabel::showEvent(QShowEvent* e) {
    QLabel::showEvent(e);
    m_binding.shown();
}

} // namespace velmo
