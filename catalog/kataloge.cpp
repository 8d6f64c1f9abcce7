#include "catalog/kataloge.h"

#include "catalog/katneu.h"
#include "datafiles/catalogindex.h"
#include "platform/qt/text.h"
#include "shell/shop.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace velmo {

namespace {

const char* const kHelpLines[] = {
    "Katalog:",
    "Wählen Sie hier Ihren Hauptkatalog.",
    "",
    "Katalogdatei:",
    "Ihr Katalog benötigt einen Dateinamen. ",
    "Bitte benutzen Sie nur Kleinbuchstaben.",
    "",
    "Kataloggruppen:",
    "Benutzen Sie dieses Feld für die ",
    "Untergruppen des Haupkataloges.",
    "(jede Zeile entspricht einer Untergruppe)",
    "",
    "Die Bezeichnungen in Katalog und ",
    "Kataloggruppen erscheinen im ",
    "Shopsystem genau so, wie Sie diese ",
    "hier eintragen. Achten Sie also auf ",
    "korrekte Rechtschreibung und die ",
    "Reihenfolge.",
    "",
    "[Neu]  Neuen Katalog hizufügen.",
    "",
    "[Löschen] Gewählten Katalog löschen.",
};

// The group field's lines. A trailing line break does not start another line, so an empty field
// has no lines and a field holding one line break has one empty line.
Lines groupLines(const QPlainTextEdit* memo) {
    return splitLines(fromQString(memo->toPlainText()));
}

// The text that shows groups one per line, so that groupLines() gives them back, a last empty
// group included.
QString groupFieldText(const Lines& groups) {
    QString text;
    for (const std::string& group : groups)
        text += toQString(group) + QLatin1Char('\n');
    if (!groups.empty() && !groups.back().empty())
        text.chop(1);
    return text;
}

QPushButton* makeButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    // Return in the file name field must not press a button, and a click must not take the focus
    // by itself: the handler first runs the leave step of the field the focus is in.
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

} // namespace

TForm2::TForm2(Shop& shop, CatalogNamePrompt& namePrompt, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnScreen, parent), m_shop(shop), m_namePrompt(namePrompt) {
    setObjectName("Form2");
    setWindowTitle(QStringLiteral("Kataloge"));
    // A tool window that stays above the others.
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(false);
    Edit1 = new QLineEdit(this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setTabChangesFocus(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Button1 = makeButton(QStringLiteral("&OK"), this);
    Button2 = makeButton(QStringLiteral("&Abbrechen"), this);
    Button3 = makeButton(QStringLiteral("&Neu"), this);
    Button4 = makeButton(QStringLiteral("&Löschen"), this);

    auto label = [this](const char* caption, QWidget* buddy) {
        auto* l = new QLabel(QString::fromUtf8(caption), this);
        l->setBuddy(buddy);
        return l;
    };

    auto* grid = new QGridLayout;
    grid->addWidget(label("Katalog:", ComboBox1), 0, 0);
    grid->addWidget(ComboBox1, 1, 0);
    grid->addWidget(Button3, 1, 1);
    grid->addWidget(label("Katalogdatei:", Edit1), 2, 0);
    grid->addWidget(Edit1, 3, 0);
    grid->addWidget(Button4, 3, 1);
    grid->addWidget(label("Kataloggruppen:", Memo1), 4, 0);
    grid->addWidget(Memo1, 5, 0, 3, 1);
    grid->addWidget(Button2, 6, 1);
    grid->addWidget(Button1, 7, 1);
    grid->setRowStretch(5, 1);
    grid->setColumnStretch(0, 1);

    QStringList help;
    for (const char* line : kHelpLines)
        help << QString::fromUtf8(line);
    // Borderless, in the window's own background colour.
    Panel1 = new QLabel(help.join(QLatin1Char('\n')), this);
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Panel1->setContentsMargins(12, 0, 0, 0);

    auto* top = new QHBoxLayout;
    top->addLayout(grid, 1);
    top->addWidget(Panel1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->addLayout(top, 1);
    layout->addWidget(StatusBar1);

    setTabOrder(ComboBox1, Button3);
    setTabOrder(Button3, Edit1);
    setTabOrder(Edit1, Button4);
    setTabOrder(Button4, Memo1);
    setTabOrder(Memo1, Button2);
    setTabOrder(Button2, Button1);
    resize(sizeHint().expandedTo(QSize(560, 400)));

    Edit1->installEventFilter(this);
    Memo1->installEventFilter(this);

    // activated: only the owner's choice counts, not the selection that "&Neu" or the reload makes.
    connect(ComboBox1, &QComboBox::activated, this, guard([this] { ComboBox1Change(); }));
    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, guard([this] { Button2Click(); }));
    connect(Button3, &QPushButton::clicked, this, guard([this] { Button3Click(); }));
    connect(Button4, &QPushButton::clicked, this, guard([this] { Button4Click(); }));
}

int TForm2::selectedCatalog() const {
    return ComboBox1->currentIndex();
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Memo1 || watched == Edit1) {
        auto* field = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::FocusIn) {
            m_entered = field;
        } else if (event->type() == QEvent::FocusOut && field == m_entered) {
            // Another window (a message box, a popup menu) taking the focus does not leave the field.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
                m_entered = nullptr;
                guarded([this] { leaveFields(); });
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TForm2::clearCatalogList() {
    ComboBox1->clear();
    ComboBox1->setCurrentIndex(-1);
}

void TForm2::FormShow() {
    m_entered = nullptr;
    ComboBox1->setFocus();
    // A missing index is created empty and the lists keep what they hold, so that "&OK" can write
    // the catalogs of a run whose index has vanished.
    if (!m_document.load(m_shop.dataFile(datafiles::kCatalogIndexFile)))
        return;
    Memo1->clear();
    Edit1->clear();
    clearCatalogList();
    for (const std::string& name : datafiles::catalogNames(m_document.lines()))
        ComboBox1->addItem(toQString(name));
    // A non-editable combo box selects its first entry by itself; no catalog is chosen yet.
    ComboBox1->setCurrentIndex(-1);
}

void TForm2::ComboBox1Change() {
    Memo1->clear();
    const int i = selectedCatalog();
    if (!m_document.contains(i))
        return;
    const datafiles::CatalogEntry entry = m_document.entry(i);
    Memo1->setPlainText(groupFieldText(entry.groups));
    Edit1->setText(toQString(entry.fileName));
}

void TForm2::enterField(QWidget* field) {
    // Moving the focus from one field to the other here is not the owner leaving the first one.
    m_entered = nullptr;
    field->setFocus();
    m_entered = field;
}

bool TForm2::leaveFields() {
    const CatalogDocument::LeaveResult result = m_document.leaveFields(
        selectedCatalog(), groupLines(Memo1), fromQString(Edit1->text()), m_namePrompt.newCatalogNamed());
    if (!result.message.empty())
        dialogs().showMessage(fromUtf8(result.message));
    if (result.focus != CatalogDocument::Field::None)
        enterField(result.focus == CatalogDocument::Field::Groups ? static_cast<QWidget*>(Memo1) : Edit1);
    return result.done;
}

bool TForm2::Memo1Exit() {
    return leaveFields();
}

bool TForm2::Edit1Exit() {
    return leaveFields();
}

bool TForm2::leaveFieldFor(QWidget* button) {
    // Buttons do not take the focus on a click (nor on their "&" key), so the leave step of the
    // field the focus is in runs here, before the button's action, as a change of focus would.
    if (!m_entered)
        return true;
    m_entered = nullptr;
    if (!leaveFields())
        return false;
    if (!m_entered)
        button->setFocus();
    return true;
}

void TForm2::Button1Click() {
    if (!leaveFieldFor(Button1))
        return;
    const std::string path = m_shop.dataFile(datafiles::kCatalogIndexFile);
    // A failed write throws and the window stays open with the catalogs, so "&OK" can be tried
    // again; the old index is still whole because the file is replaced atomically.
    if (m_document.save(path) == datafiles::CatalogSaveResult::WriteProtected)
        dialogs().showMessage(fromUtf8(datafiles::writeProtectedMessage(path)));
    accept();
}

void TForm2::Button2Click() {
    reject();
}

void TForm2::Button3Click() {
    if (!leaveFieldFor(Button3))
        return;
    const std::optional<std::string> name = m_namePrompt.askCatalogName();
    // Names must begin with A to Z; anything else is dropped without a word. The line takes its
    // full form when the group or file name field is left.
    if (!name || !m_document.addCatalog(*name))
        return;
    Memo1->clear();
    ComboBox1->addItem(toQString(*name));
    ComboBox1->setCurrentIndex(ComboBox1->count() - 1);
    Edit1->setText(toQString(datafiles::defaultCatalogFileName(*name)));
    enterField(Memo1);
}

void TForm2::Button4Click() {
    if (!leaveFieldFor(Button4))
        return;
    const int i = selectedCatalog();
    if (!m_document.contains(i))
        return;
    m_document.removeCatalog(i);
    ComboBox1->removeItem(i);
    ComboBox1->setCurrentIndex(-1);
    Edit1->clear();
    Memo1->clear();
}

} // namespace velmo
