#include "orders/bestell.h"

#include "datafiles/fieldcheck.h"
#include "memtable/qt/boundeditors.h"
#include "memtable/qt/tablegrid.h"
#include "memtable/qt/tablemodel.h"
#include "platform/german.h"
#include "platform/qt/text.h"
#include "shell/shop.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QValidator>

#include <array>

namespace velmo {

namespace {

constexpr const char* kMoneyFormat = "#,###,##0.00";

// The header fields in file order; Datum is a date-time, the others text. Text is kept as long as the
// file holds it (up to this many bytes), so that a rewrite never cuts a customer's data; the widths of
// the grid columns are a matter of display.
constexpr int kTextBytes = 4096;
constexpr std::array<const char*, 13> kOrderFields = {"Datum",   "BestellNr", "Name",  "Firma", "Strasse",
                                                      "PLZOrt",  "Land",      "Tel",   "Fax",   "mail",
                                                      "Paytype", "Versand",   "status"};
constexpr int kStatusField = 12;
constexpr int kVersandField = 11;
constexpr int kBestellNrField = 1;

// Index definitions by position; the index selector offers the first four.
constexpr std::array<const char*, 5> kOrderIndexes = {"Datum", "BestellNr", "Name", "PLZOrt", "status"};
constexpr std::array<const char*, 4> kIndexTitles = {"Datum", "Bestell-Nr.", "Name", "PLZ-Ort"};

constexpr std::array<const char*, 5> kPositionFields = {"BestellNr", "menge", "ArtikelNr", "Bezeichnung",
                                                        "Preis"};

// The list selector's entries.
enum ListChoice { AllOrders = 0, PrintedOrders = 1, NewOrders = 2 };

// Customer fields take nothing that would break their kunden.db line: no ";;" and no line break.
// A ";" at the end passes while typing (the next character may follow it); writing refuses it.
class CustomerFieldValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        if (input.contains(QLatin1String(";;")) || input.contains(QLatin1Char('\r')) ||
            input.contains(QLatin1Char('\n')))
            return Invalid;
        return input.endsWith(QLatin1Char(';')) ? Intermediate : Acceptable;
    }
};

QPushButton* makeButton(const char* caption, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setAutoDefault(false);
    return button;
}

MemTableModel::Column column(const char* field, const char* title, int width, bool right = false) {
    MemTableModel::Column c;
    c.field = QString::fromLatin1(field);
    c.title = QString::fromUtf8(title);
    c.width = width;
    c.alignment = (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
    return c;
}

} // namespace

TForm7::TForm7(Shop& shop, OrderValues& values, InvoicePrinting& invoice, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnOwner, parent), m_shop(shop), m_values(values),
      m_invoice(invoice) {
    setObjectName("Form7");
    setWindowTitle(QStringLiteral("Bestellungen"));
    // Above the program's other windows; the invoice preview opened from it stays above it.
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    m_values.PrintedMarkPending = false;

    for (int i = 0; i < static_cast<int>(kOrderFields.size()); ++i)
        OrderTable.addField(kOrderFields[static_cast<std::size_t>(i)],
                            i == 0 ? FieldType::DateTime : FieldType::String, kTextBytes);
    for (const char* name : kOrderIndexes)
        OrderTable.addIndexDef({name, {name}, 0});
    OrderTable.OnFilterRecord = [this](MemTable& t) {
        return t.field(kStatusField).view() == m_values.StatusFilterValue;
    };
    OrderTable.setActive(true);

    for (const char* name : kPositionFields)
        PositionTable.addField(name, FieldType::String, kTextBytes);
    PositionTable.addIndexDef({"ArtikelNr", {"ArtikelNr"}, 0});
    PositionTable.setActive(true);
    PositionTable.setIndexName("ArtikelNr");

    // Top strip. The selectors take their entries only: a typed text would choose nothing.
    ComboBox1 = new QComboBox(this);
    ComboBox1->addItems({QStringLiteral("Alle Vorgänge"), QStringLiteral("gedruckte Vorgänge"),
                         QStringLiteral("neue Vorgänge")});
    ComboBox2 = new QComboBox(this);
    for (const char* title : kIndexTitles)
        ComboBox2->addItem(QString::fromUtf8(title));
    Label2 = new QLabel(QStringLiteral("Suche nach Datum:"), this);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Edit1 = new QLineEdit(this);
    Label2->setBuddy(Edit1);

    m_orderModel = new MemTableModel(OrderTable, this);
    MemTableModel::Column date = column("Datum", "Datum", 55);
    date.text = [](MemTable& t, RecordId id) {
        const int f = 0;
        if (t.isNullAt(id, f))
            return QString();
        // The stored text is the standard date-time form; the grid shows the date alone.
        const std::string text = t.textAt(id, f);
        return toQString(std::string_view(text).substr(0, text.find(' ')));
    };
    m_orderModel->setColumns({column("BestellNr", "BestellNr", 57), date, column("Name", "Name", 140),
                              column("PLZOrt", "PLZOrt", 140), column("status", "Status", 35)});
    DBGrid1 = new MemTableGrid(this);
    DBGrid1->setTableModel(m_orderModel);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The chosen order stays marked while the owner types into the customer fields.
    QPalette keepSelection = DBGrid1->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        keepSelection.setColor(QPalette::Inactive, role, keepSelection.color(QPalette::Active, role));
    DBGrid1->setPalette(keepSelection);
    DBGrid1->installEventFilter(this);
    DBGrid1->viewport()->installEventFilter(this);

    // Customer fields.
    auto edit = [this](const char* field) {
        auto* e = new BoundLineEdit(this);
        e->bind(&OrderTable, QString::fromLatin1(field));
        e->setValidator(new CustomerFieldValidator(e));
        return e;
    };
    DBEdit1 = edit("Name");
    DBEdit2 = edit("Firma");
    DBEdit3 = edit("Strasse");
    DBEdit4 = edit("PLZOrt");
    DBEdit5 = edit("Land");
    DBEdit6 = edit("Tel");
    DBEdit7 = edit("Fax");
    DBEdit8 = edit("mail");
    auto* fields = new QFormLayout;
    const std::array<std::pair<const char*, BoundLineEdit*>, 8> captions = {{{"Name:", DBEdit1},
                                                                             {"Firma:", DBEdit2},
                                                                             {"Straße:", DBEdit3},
                                                                             {"PLZ/Ort:", DBEdit4},
                                                                             {"Land:", DBEdit5},
                                                                             {"Tel.:", DBEdit6},
                                                                             {"Fax:", DBEdit7},
                                                                             {"eMail:", DBEdit8}}};
    for (const auto& [caption, editor] : captions)
        fields->addRow(QString::fromUtf8(caption), editor);

    // Summary line.
    Label13 = new QLabel(QStringLiteral("0,00 DM"), this);
    Label13->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont underlined = Label13->font();
    underlined.setUnderline(true);
    Label13->setFont(underlined);
    DBText2 = new BoundLabel(this);
    DBText2->bind(&OrderTable, QStringLiteral("Versand"));
    DBText2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label14 = new QLabel(QStringLiteral("DM Versand"), this);
    DBText1 = new BoundLabel(this);
    DBText1->bind(&OrderTable, QStringLiteral("Paytype"));
    QFont bold = DBText1->font();
    bold.setBold(true);
    DBText1->setFont(bold);
    QPalette caption = DBText1->palette();
    caption.setColor(QPalette::WindowText, palette().color(QPalette::Active, QPalette::Highlight));
    DBText1->setPalette(caption);
    Label12 = new QLabel(QStringLiteral("Positionen"), this);
    Label12->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_positionModel = new MemTableModel(PositionTable, this);
    m_positionModel->setColumns({column("ArtikelNr", "ArtikelNr", 66), column("menge", "Menge", 41, true),
                                 column("Bezeichnung", "Bezeichnung", 210),
                                 column("Preis", "Preis", 48, true)});
    DBGrid2 = new MemTableGrid(this);
    DBGrid2->setTableModel(m_positionModel);
    DBGrid2->setEditTriggers(QAbstractItemView::NoEditTriggers);

    Button2 = makeButton("&Rechnung", this);
    Button1 = makeButton("&OK", this);
    StatusBar1 = new QStatusBar(this);

    auto* top = new QHBoxLayout;
    auto label = [this](const char* text, QWidget* buddy) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setBuddy(buddy);
        return l;
    };
    top->addWidget(label("Liste:", ComboBox1));
    top->addWidget(ComboBox1);
    top->addSpacing(12);
    top->addWidget(label("Index:", ComboBox2));
    top->addWidget(ComboBox2);
    top->addWidget(Label2, 1);
    top->addWidget(Edit1);

    auto* middle = new QHBoxLayout;
    middle->addWidget(DBGrid1, 3);
    middle->addLayout(fields, 2);

    auto* summary = new QHBoxLayout;
    summary->addWidget(Label12);
    summary->addStretch(1);
    summary->addWidget(DBText1);
    summary->addSpacing(16);
    summary->addWidget(DBText2);
    summary->addWidget(Label14);
    summary->addSpacing(16);
    summary->addWidget(Label13);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(Button2);
    bottom->addWidget(Button1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->addLayout(top);
    layout->addLayout(middle, 3);
    layout->addLayout(summary);
    layout->addWidget(DBGrid2, 2);
    layout->addLayout(bottom);
    layout->addWidget(StatusBar1);
    resize(760, 560);

    // activated: only the owner's choice counts, not the window's own setting of an entry.
    connect(ComboBox1, &QComboBox::activated, this, guard([this] { ComboBox1Change(); }));
    connect(ComboBox2, &QComboBox::activated, this, guard([this] { ComboBox2Change(); }));
    connect(Edit1, &QLineEdit::textChanged, this, guard([this] { Edit1Change(); }));
    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, guard([this] { Button2Click(); }));
}

TForm7::~TForm7() = default;

QString TForm7::money(double value) const {
    return fromUtf8(german::formatFloat(kMoneyFormat, value)) + QLatin1Char(' ') +
           m_shop.ShopSettings.Currency;
}

void TForm7::showListChoice() {
    // The selector names the filter that is in effect.
    if (!OrderTable.Filtered())
        ComboBox1->setCurrentIndex(AllOrders);
    else if (m_values.StatusFilterValue == "1")
        ComboBox1->setCurrentIndex(PrintedOrders);
    else
        ComboBox1->setCurrentIndex(NewOrders);
}

void TForm7::showIndexChoice(int i, bool always) {
    // The activation leaves the search caption alone while the index it names is current.
    if (!always && ComboBox2->currentIndex() == i)
        return;
    ComboBox2->setCurrentIndex(i);
    Label2->setText(QStringLiteral("Suche ") + ComboBox2->itemText(i) + QLatin1Char(':'));
}

void TForm7::FormActivate() {
    m_previewActive = false;
    if (m_values.PrintedMarkPending) {
        if (OrderTable.currentRecord() != kNoRecord) {
            OrderTable.Edit();
            OrderTable.field(kStatusField).setAsString("1");
            OrderTable.Post();
        }
        m_values.PrintedMarkPending = false;
        OrderTable.setFiltered(false);
        showListChoice();
        WriteOrders();
    }
    Label13->setText(QStringLiteral("0,00 ") + m_shop.ShopSettings.Currency);
    Label14->setText(m_shop.ShopSettings.Currency + QStringLiteral(" Versand"));

    // Until kunden.db has been read, nothing may be written over it.
    m_ordersRead = false;
    const std::string orderBytes = datafiles::loadOrderFileBytes(m_shop.dataFile(datafiles::kOrderFile));
    m_readMark = datafiles::markOf(orderBytes);
    const Lines orders = splitLines(orderBytes);
    m_ordersRead = true;
    loadOrders(orders);

    Lines positions = datafiles::loadOrderFile(m_shop.dataFile(datafiles::kPositionFile));
    showListChoice();
    showIndexChoice(0);
    m_positionIndex = {};
    PositionLines = std::move(positions);
    m_positionIndex = datafiles::PositionIndex(PositionLines);
    showTotals(CollectPositions());
}

void TForm7::loadOrders(const Lines& lines) {
    const bool filtered = OrderTable.Filtered();
    MemTable::UpdateBlock batch(OrderTable);
    // Appending with the filter applied would take the visible set anew for every order.
    if (filtered)
        OrderTable.setFiltered(false);
    if (OrderTable.state() != TableState::Browse)
        OrderTable.cancel();
    OrderTable.setIndexName("");
    OrderTable.emptyTable();
    m_unread.clear();
    std::size_t n = 0;
    try {
        for (; n < lines.size(); ++n) {
            if (datafiles::isBlankLine(lines[n]))
                continue;
            std::optional<std::vector<std::string>> fields = datafiles::orderFields(lines[n]);
            if (!fields)
                datafiles::throwShortLine(datafiles::kOrderFile, n + 1, datafiles::kOrderCuts);
            OrderTable.AppendValues(*fields);
        }
    } catch (...) {
        // The orders read so far stay in the list; the lines from the bad one on are kept for the
        // next write, which would otherwise drop them.
        m_unread.assign(lines.begin() + static_cast<std::ptrdiff_t>(n), lines.end());
        OrderTable.setIndexName(kOrderIndexes[0]);
        OrderTable.SyncIndexes();
        showIndexChoice(0);
        if (filtered)
            OrderTable.setFiltered(true);
        throw;
    }
    OrderTable.setIndexName(kOrderIndexes[0]);
    OrderTable.SyncIndexes();
    if (filtered)
        OrderTable.setFiltered(true);
    OrderTable.First();
}

double TForm7::CollectPositions() {
    MemTable::UpdateBlock batch(PositionTable);
    PositionTable.emptyTable();
    double sum = 0.0;
    if (OrderTable.currentRecord() != kNoRecord) {
        const std::string nr(OrderTable.field(kBestellNrField).view());
        std::vector<datafiles::Position> positions =
            datafiles::indexedPositions(PositionLines, m_positionIndex, nr);
        for (const datafiles::Position& p : positions) {
            PositionTable.AppendValues({p.BestellNr, p.menge, p.ArtikelNr, p.Bezeichnung, p.Preis});
            // A bad amount stops the collecting after its position has been listed.
            sum += german::strToFloat(p.Preis);
        }
    }
    PositionTable.setIndexName(kPositionFields[2]);
    PositionTable.SyncIndexes();
    PositionTable.First();
    return sum;
}

void TForm7::showTotals(double sum) {
    Label12->setText(QString::number(PositionTable.RecordCount()) + QStringLiteral(" Positionen"));
    Label13->setText(money(sum));
    double total = sum;
    if (OrderTable.currentRecord() != kNoRecord) {
        const std::string_view shipping = OrderTable.field(kVersandField).view();
        if (!shipping.empty())
            total += german::strToFloat(shipping);
    }
    m_values.InvoiceTotalText = german::formatFloat(kMoneyFormat, total);
}

void TForm7::ShowPositions() {
    Label12->clear();
    if (OrderTable.RecordCount() == 0) {
        PositionTable.emptyTable();
        Label13->setText(money(0.0));
        return;
    }
    const double sum = CollectPositions();
    Label12->setText(QString::number(PositionTable.RecordCount()) + QStringLiteral(" Positionen"));
    double total = sum;
    if (OrderTable.currentRecord() != kNoRecord) {
        const std::string_view shipping = OrderTable.field(kVersandField).view();
        if (!shipping.empty())
            total += german::strToFloat(shipping);
    }
    m_values.InvoiceTotalText = german::formatFloat(kMoneyFormat, total);
    Label13->setText(money(sum));
}

void TForm7::ComboBox1Change() {
    switch (ComboBox1->currentIndex()) {
    case PrintedOrders:
        m_values.StatusFilterValue = "1";
        OrderTable.setFiltered(true);
        break;
    case NewOrders:
        m_values.StatusFilterValue = "0";
        OrderTable.setFiltered(true);
        break;
    default:
        OrderTable.setFiltered(false);
        break;
    }
    ShowPositions();
}

void TForm7::ComboBox2Change() {
    const int i = ComboBox2->currentIndex();
    if (i < 0 || i >= static_cast<int>(kIndexTitles.size()))
        throw Exception(
            formatMessage("Der Index der Liste überschreitet das Maximum (%s)", std::to_string(i)));
    OrderTable.setIndexName(kOrderIndexes[static_cast<std::size_t>(i)]);
    OrderTable.SyncIndexes();
    showIndexChoice(i, true);
    OrderTable.First();
    // Emptying a search field that holds text searches for "" (the first order) by itself.
    const QSignalBlocker quiet(Edit1);
    Edit1->clear();
    Edit1->setFocus();
    // The positions and totals follow the order that is now current, so an invoice never combines
    // one order's header with another's positions.
    ShowPositions();
}

void TForm7::Edit1Change() {
    OrderTable.SeekNearest(fromQString(Edit1->text()));
    ShowPositions();
}

void TForm7::DBGrid1Click() {
    ShowPositions();
}

void TForm7::Button1Click() {
    accept();
}

void TForm7::Button2Click() {
    m_values.PrintedMarkPending =
        OrderTable.currentRecord() != kNoRecord && OrderTable.field(kStatusField).view() == "1";
    InvoiceSources sources{OrderTable, PositionTable, [this] { return Label13->text(); }};
    m_previewActive = true;
    m_invoice.Preview(sources, this, [this] { m_previewActive = true; });
    // Closing the preview brings this window back: an activation, unless the window system has
    // already delivered it.
    if (m_previewActive)
        FormActivate();
}

void TForm7::WriteOrders() {
    if (!m_ordersRead)
        return;
    if (OrderTable.state() != TableState::Browse)
        OrderTable.Post();
    OrderTable.setFiltered(false);
    showListChoice();

    const RecordId keep = OrderTable.currentRecord();
    Lines lines;
    lines.reserve(static_cast<std::size_t>(OrderTable.RecordCount()) + m_unread.size());
    std::string line;
    const int count = OrderTable.visibleCount();
    for (int row = 0; row < count; ++row) {
        const RecordId id = OrderTable.visibleAt(row);
        line.clear();
        if (!OrderTable.isNullAt(id, 0))
            line = OrderTable.textAt(id, 0);
        for (int f = 1; f < OrderTable.fieldCount(); ++f) {
            const std::string_view value = OrderTable.viewAt(id, f);
            const datafiles::FieldRule rule = datafiles::checkOrderField(static_cast<std::size_t>(f), value);
            // A status read with ";;" in it reads back the same.
            if (rule != datafiles::FieldRule::Ok &&
                !(f == kStatusField && rule == datafiles::FieldRule::DoubleSemicolon)) {
                OrderTable.gotoRecord(id);
                throw datafiles::EFieldFormatError(
                    datafiles::fieldRuleMessage(rule, kOrderFields[static_cast<std::size_t>(f)]) +
                    " Die Bestellung ist in der Liste ausgewählt. kunden.db wurde nicht gespeichert.");
            }
            line += ";;";
            line += value;
        }
        lines.push_back(line);
    }
    lines.insert(lines.end(), m_unread.begin(), m_unread.end());
    // A fetch may have appended orders since the file was read (the window can be opened while one
    // runs): they are kept, and while a fetch holds the folder nothing is written.
    const std::optional<FileLock> lock = FileLock::tryLock(m_shop.dataFile(datafiles::OrderStore::kLockName));
    if (!lock)
        throw datafiles::EOrderFilesBusy(datafiles::OrderStore::kBusyWriting);
    const std::string path = m_shop.dataFile(datafiles::kOrderFile);
    Lines appended = datafiles::linesAppendedSince(path, m_readMark);
    std::move(appended.begin(), appended.end(), std::back_inserter(lines));
    const std::string bytes = joinLines(lines);
    writeFileBytes(path, bytes);
    m_readMark = datafiles::markOf(bytes);
    if (keep != kNoRecord)
        OrderTable.gotoRecord(keep);
}

void TForm7::done(int result) {
    bool written = true;
    guarded([&] {
        try {
            WriteOrders();
        } catch (const datafiles::EFieldFormatError&) {
            // The owner corrects the field and closes again.
            written = false;
            throw;
        } catch (const datafiles::EOrderFilesBusy&) {
            // The fetch ends in a moment; the owner closes again.
            written = false;
            throw;
        }
    });
    if (written)
        ShopWindow::done(result);
}

void TForm7::changeEvent(QEvent* event) {
    ShopWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_previewActive)
        guarded([this] { FormActivate(); });
}

bool TForm7::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == DBGrid1->viewport() && event->type() == QEvent::MouseButtonRelease) ||
        (watched == DBGrid1 && event->type() == QEvent::KeyRelease))
        guarded([this] { DBGrid1Click(); });
    return ShopWindow::eventFilter(watched, event);
}

} // namespace velmo
