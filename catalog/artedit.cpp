#include "catalog/artedit.h"

#include "catalog/core/articledocument.h"
#include "datafiles/articlefile.h"
#include "memtable/memtable.h"
#include "memtable/qt/boundeditors.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/qt/text.h"
#include "shell/picturedialog.h"
#include "shell/shop.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>

namespace velmo {

namespace af = datafiles::articlefield;
using datafiles::kArticleFields;

namespace {

QString fieldName(std::size_t field) {
    return QString::fromLatin1(kArticleFields[field].name.data(),
                               static_cast<qsizetype>(kArticleFields[field].name.size()));
}

QFrame* makeArea(QWidget* parent) {
    auto* area = new QFrame(parent);
    area->setFrameShape(QFrame::StyledPanel);
    area->setFrameShadow(QFrame::Raised);
    return area;
}

} // namespace

std::string joinDescriptionLines(const std::string& text) {
    const Lines lines = splitLines(text);
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            joined += ' ';
        joined += lines[i];
    }
    return joined;
}

TForm5::TForm5(Shop& shop, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnOwner, parent), m_shop(shop) {
    setObjectName("Form5");
    setWindowTitle(QStringLiteral("Erstellen/Ändern"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);

    DBEdit1 = new BoundLineEdit(this);
    DBComboBox1 = new BoundComboBox(this);
    DBComboBox1->setEditable(false);
    DBEdit2 = new BoundLineEdit(this);
    DBEdit3 = new BoundLineEdit(this);
    DBEdit4 = new BoundLineEdit(this);
    DBEdit5 = new BoundLineEdit(this);
    DBEdit6 = new BoundLineEdit(this);
    DBMemo1 = new BoundTextEdit(this);
    DBMemo1->setTabChangesFocus(true);
    DBEdit7 = new BoundLineEdit(this);
    DBEdit8 = new BoundLineEdit(this);
    DBEdit9 = new BoundLineEdit(this);
    DBEdit10 = new BoundLineEdit(this);
    DBEdit11 = new BoundLineEdit(this);
    DBEdit12 = new BoundLineEdit(this);

    auto smallButton = [this] {
        auto* b = new QPushButton(QStringLiteral("..."), this);
        QFont f = b->font();
        f.setBold(true);
        b->setFont(f);
        b->setFixedWidth(28);
        b->setAutoDefault(false);
        return b;
    };
    SpeedButton1 = smallButton();
    SpeedButton2 = smallButton();
    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    // Return in a field must not close the window or open a picture chooser.
    Button1->setAutoDefault(false);

    auto label = [this](std::size_t field, QWidget* buddy) {
        auto* l = new QLabel(QString::fromUtf8(kArticleFieldCaptions[field]), this);
        l->setBuddy(buddy);
        return l;
    };

    // Top: what identifies and classifies the article.
    QFrame* top = makeArea(this);
    auto* topGrid = new QGridLayout(top);
    topGrid->addWidget(label(af::ArtikelNr, DBEdit1), 0, 0);
    topGrid->addWidget(DBEdit1, 0, 1);
    topGrid->addWidget(label(af::Warengruppe, DBComboBox1), 0, 2);
    topGrid->addWidget(DBComboBox1, 0, 3);
    topGrid->addWidget(label(af::KatalogID, DBEdit2), 1, 0);
    topGrid->addWidget(DBEdit2, 1, 1);
    topGrid->addWidget(label(af::Lieferant, DBEdit3), 1, 2);
    topGrid->addWidget(DBEdit3, 1, 3);
    topGrid->addWidget(label(af::Hersteller, DBEdit4), 2, 0);
    topGrid->addWidget(DBEdit4, 2, 1);
    topGrid->addWidget(label(af::HerstellerURL, DBEdit5), 2, 2);
    topGrid->addWidget(DBEdit5, 2, 3);
    topGrid->setColumnStretch(1, 1);
    topGrid->setColumnStretch(3, 1);

    // Middle: what the storefront shows, and the picture files.
    QFrame* middle = makeArea(this);
    auto* midGrid = new QGridLayout(middle);
    midGrid->addWidget(label(af::Bezeichnung, DBEdit6), 0, 0);
    midGrid->addWidget(DBEdit6, 0, 1, 1, 5);
    midGrid->addWidget(label(af::Beschreibung, DBMemo1), 1, 0, Qt::AlignTop);
    midGrid->addWidget(DBMemo1, 1, 1, 1, 5);
    midGrid->addWidget(label(af::Preis, DBEdit7), 2, 0);
    midGrid->addWidget(DBEdit7, 2, 1);
    midGrid->addWidget(label(af::AngebPreis, DBEdit8), 2, 3);
    midGrid->addWidget(DBEdit8, 2, 4);
    midGrid->addWidget(label(af::Gewicht, DBEdit9), 3, 0);
    midGrid->addWidget(DBEdit9, 3, 1);
    midGrid->addWidget(label(af::Bestand, DBEdit10), 3, 3);
    midGrid->addWidget(DBEdit10, 3, 4);
    auto* heading = new QLabel(QStringLiteral("Dateinamen:"), this);
    QFont headingFont = heading->font();
    headingFont.setUnderline(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.25);
    heading->setFont(headingFont);
    midGrid->addWidget(heading, 4, 0, 1, 6);
    midGrid->addWidget(label(af::thumb, DBEdit11), 5, 0);
    midGrid->addWidget(DBEdit11, 5, 1);
    midGrid->addWidget(SpeedButton1, 5, 2);
    midGrid->addWidget(label(af::picture, DBEdit12), 5, 3);
    midGrid->addWidget(DBEdit12, 5, 4);
    midGrid->addWidget(SpeedButton2, 5, 5);
    midGrid->setColumnStretch(1, 1);
    midGrid->setColumnStretch(4, 1);
    midGrid->setRowStretch(1, 1);

    // Bottom: the one button.
    QFrame* bottom = makeArea(this);
    auto* bottomRow = new QHBoxLayout(bottom);
    bottomRow->addStretch();
    bottomRow->addWidget(Button1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(top);
    layout->addWidget(middle, 1);
    layout->addWidget(bottom);

    QWidget* order[] = {DBEdit1,  DBComboBox1, DBEdit2,      DBEdit3,      DBEdit4, DBEdit5,
                        DBEdit6,  DBMemo1,     DBEdit7,      DBEdit8,      DBEdit9, DBEdit10,
                        DBEdit11, DBEdit12,    SpeedButton1, SpeedButton2, Button1};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    resize(QSize(640, 480).expandedTo(sizeHint()));

    connect(SpeedButton1, &QPushButton::clicked, this, guard([this] { SpeedButton1Click(); }));
    connect(SpeedButton2, &QPushButton::clicked, this, guard([this] { SpeedButton2Click(); }));
    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
}

template <typename Visit> void TForm5::forEachEditor(Visit&& visit) const {
    visit(DBEdit1, af::ArtikelNr);
    visit(DBComboBox1, af::Warengruppe);
    visit(DBEdit2, af::KatalogID);
    visit(DBEdit3, af::Lieferant);
    visit(DBEdit4, af::Hersteller);
    visit(DBEdit5, af::HerstellerURL);
    visit(DBEdit6, af::Bezeichnung);
    visit(DBMemo1, af::Beschreibung);
    visit(DBEdit7, af::Preis);
    visit(DBEdit8, af::AngebPreis);
    visit(DBEdit9, af::Gewicht);
    visit(DBEdit10, af::Bestand);
    visit(DBEdit11, af::thumb);
    visit(DBEdit12, af::picture);
}

void TForm5::setArticleTable(MemTable* table) {
    m_table = table;
    forEachEditor([&](auto* editor, std::size_t field) { editor->bind(table, fieldName(field)); });
}

QWidget* TForm5::editorFor(std::size_t field) const {
    QWidget* found = nullptr;
    forEachEditor([&](QWidget* editor, std::size_t shown) {
        if (shown == field)
            found = editor;
    });
    return found;
}

void TForm5::setGroups(const Lines& groups) {
    DBComboBox1->clear();
    for (const std::string& group : groups)
        DBComboBox1->addItem(toQString(group));
}

void TForm5::editCurrentArticle() {
    dialogs().showModal(*this);
}

void TForm5::FormShow() {
    DBMemo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    DBEdit1->setFocus();
}

void TForm5::choosePicture(const QString& directory, std::size_t field, Lines& pending) {
    if (!m_table)
        return;
    const QString path = dialogs().choosePicture(this, directory, pictureNameFilters());
    if (path.isEmpty())
        return;
    // The storefront finds the picture by its bare name in its own picture directory, as
    // Windows-1252 bytes: a character without a form there would be stored as "?".
    const std::string fullPath = toUtf8(path);
    const std::string_view localName = baseName(fullPath);
    if (!cp1252::representable(localName)) {
        dialogs().showMessage(fromUtf8(formatMessage(
            "Der Dateiname '%s' enthält Zeichen, die es im Zeichensatz des Shops (Windows-1252) nicht gibt. "
            "Bitte benennen Sie die Datei um und wählen Sie sie erneut.",
            localName)));
        return;
    }
    const std::string name = cp1252::fromUtf8(localName);
    // A cut name in the article would name a file that the upload never sends.
    const int width = kArticleFields[field].maxLength;
    if (name.size() > static_cast<std::size_t>(width)) {
        dialogs().showMessage(fromUtf8(formatMessage(
            "Der Dateiname '%s' ist zu lang: Das Bildfeld des Artikels fasst höchstens %s Zeichen. Bitte "
            "benennen Sie die Datei um und wählen Sie sie erneut.",
            {cp1252::toUtf8(name), std::to_string(width)})));
        return;
    }
    m_table->Edit();
    m_table->fieldByName(kArticleFields[field].name).setAsString(name);
    m_table->Post();
    pending.push_back(name);
}

void TForm5::SpeedButton1Click() {
    choosePicture(m_shop.ShopSettings.localBk, af::thumb, m_shop.MemoThumb);
}

void TForm5::SpeedButton2Click() {
    choosePicture(m_shop.ShopSettings.localBg, af::picture, m_shop.MemoPic);
}

void TForm5::joinDescription() {
    if (!m_table || !m_table->Active())
        return;
    Field& description = m_table->fieldByName(kArticleFields[af::Beschreibung].name);
    const std::string text = description.asString();
    if (text.find_first_of("\r\n") == std::string::npos)
        return;
    m_table->Edit();
    description.setAsString(joinDescriptionLines(text));
}

bool TForm5::checkFields() {
    if (!m_table || !m_table->Active())
        return true;
    if (m_table->state() == TableState::Browse && m_table->currentRecord() == kNoRecord)
        return true;
    for (std::size_t i = 0; i < datafiles::kArticleFieldCount; ++i) {
        const std::string value = m_table->fieldByName(kArticleFields[i].name).asString();
        const datafiles::FieldRule rule = datafiles::checkArticleField(i, value);
        if (rule == datafiles::FieldRule::Ok)
            continue;
        dialogs().showMessage(fromUtf8(datafiles::fieldRuleMessage(rule, articleFieldLabel(i))));
        editorFor(i)->setFocus();
        return false;
    }
    return true;
}

void TForm5::Button1Click() {
    if (!m_table) {
        accept();
        return;
    }
    const std::string joined = joinDescriptionLines(fromQString(DBMemo1->toPlainText()));
    DBMemo1->clear();
    DBMemo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    DBMemo1->setPlainText(toQString(joined));
    m_table->Edit();
    m_table->fieldByName(kArticleFields[af::Beschreibung].name).setAsString(joined);
    if (!checkFields()) {
        DBMemo1->setLineWrapMode(QPlainTextEdit::WidgetWidth); // still being edited
        return;
    }
    m_table->Post();
    accept();
}

void TForm5::reject() {
    bool stay = false;
    guarded([this, &stay] {
        joinDescription();
        stay = !checkFields();
    });
    if (!stay)
        QDialog::reject();
}

} // namespace velmo
