#include "orders/bestell.h"

#include "datafiles/fieldcheck.h"
#include "memtable/qt/boundeditors.h"
#include "memtable/qt/tablegrid.h"
#include "memtable/qt/tablemodel.h"
#include "platform/german.h"
#include "platform/qt/text.h"
#include "shell/gridcolumns.h"
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

constexpr std::array<const char*, OrderDocument::kIndexChoices> kIndexTitles = {"Datum", "Bestell-Nr.",
                                                                                "Name", "PLZ-Ort"};

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
    : ShopWindow(shop.dialogs, Placement::OnOwner, parent), OrderTable(m_document.orders()),
      PositionTable(m_document.positions()), m_shop(shop), m_values(values), m_invoice(invoice) {
    setObjectName("Form7");
    setWindowTitle(QStringLiteral("Bestellungen"));
    // Above the program's other windows; the invoice preview opened from it stays above it.
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    m_values.PrintedMarkPending.reset();

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
    DBGrid1->setAccessibleName(QStringLiteral("Bestellungen"));
    new GridColumns(*DBGrid1, QStringLiteral("Form7.DBGrid1"));
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
    DBGrid2->setAccessibleName(QStringLiteral("Positionen"));
    new GridColumns(*DBGrid2, QStringLiteral("Form7.DBGrid2"));

    Button2 = makeButton("&Rechnung", this);
    Button3 = makeButton("Alle offenen Rechnungen &drucken", this);
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
    bottom->addWidget(Button3);
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
    connect(Button3, &QPushButton::clicked, this, guard([this] { Button3Click(); }));
}

TForm7::~TForm7() = default;

QString TForm7::money(double value) const {
    return fromUtf8(OrderDocument::money(value)) + QLatin1Char(' ') + m_shop.ShopSettings.Currency;
}

void TForm7::showListChoice() {
    // The selector names the filter that is in effect.
    switch (m_document.listFilter()) {
    case OrderListFilter::Printed:
        ComboBox1->setCurrentIndex(PrintedOrders);
        break;
    case OrderListFilter::New:
        ComboBox1->setCurrentIndex(NewOrders);
        break;
    case OrderListFilter::All:
        ComboBox1->setCurrentIndex(AllOrders);
        break;
    }
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
        m_document.markPrinted(*m_values.PrintedMarkPending);
        showListChoice();
        WriteOrders();
        // Only once it is in the file: a write refused now is tried again at the next activation.
        m_values.PrintedMarkPending.reset();
    }
    Label13->setText(QStringLiteral("0,00 ") + m_shop.ShopSettings.Currency);
    Label14->setText(m_shop.ShopSettings.Currency + QStringLiteral(" Versand"));

    try {
        m_document.loadOrders(m_shop.dataFile(datafiles::kOrderFile));
    } catch (...) {
        showIndexChoice(0);
        throw;
    }
    m_document.loadPositions(m_shop.dataFile(datafiles::kPositionFile));
    showListChoice();
    showIndexChoice(0);
    showTotals(m_document.collectPositions());
}

void TForm7::showTotals(double sum) {
    Label12->setText(QString::number(PositionTable.RecordCount()) + QStringLiteral(" Positionen"));
    Label13->setText(money(sum));
    m_totalText = OrderDocument::money(m_document.invoiceTotal(sum));
}

void TForm7::ShowPositions() {
    Label12->clear();
    if (!m_document.hasCurrentOrder()) {
        m_document.collectPositions();
        Label13->setText(money(0.0));
        return;
    }
    const double sum = m_document.collectPositions();
    Label12->setText(QString::number(PositionTable.RecordCount()) + QStringLiteral(" Positionen"));
    m_totalText = OrderDocument::money(m_document.invoiceTotal(sum));
    Label13->setText(money(sum));
}

void TForm7::ComboBox1Change() {
    switch (ComboBox1->currentIndex()) {
    case PrintedOrders:
        m_document.setListFilter(OrderListFilter::Printed);
        break;
    case NewOrders:
        m_document.setListFilter(OrderListFilter::New);
        break;
    default:
        m_document.setListFilter(OrderListFilter::All);
        break;
    }
    ShowPositions();
}

void TForm7::ComboBox2Change() {
    const int i = ComboBox2->currentIndex();
    m_document.setIndex(i);
    showIndexChoice(i, true);
    // Emptying a search field that holds text searches for "" (the first order) by itself.
    const QSignalBlocker quiet(Edit1);
    Edit1->clear();
    Edit1->setFocus();
    // The positions and totals follow the order that is now current.
    ShowPositions();
}

void TForm7::Edit1Change() {
    m_document.seek(fromQString(Edit1->text()));
    ShowPositions();
}

void TForm7::DBGrid1Click() {
    ShowPositions();
}

void TForm7::Button1Click() {
    accept();
}

void TForm7::Button2Click() {
    // One preview at a time: it prints the order it was opened for.
    if (m_previewOpen)
        return;
    // The positions and totals are collected anew; an amount that is no money stops here, before an
    // invoice could show it.
    std::optional<InvoiceSnapshot> invoice = m_document.invoice();
    if (!invoice)
        return;
    Label12->setText(QString::number(invoice->positions.size()) + QStringLiteral(" Positionen"));
    Label13->setText(fromUtf8(invoice->goodsValue) + QLatin1Char(' ') + m_shop.ShopSettings.Currency);
    m_totalText = invoice->total;
    if (invoice->order[OrderDocument::kStatus] == "1")
        m_values.PrintedMarkPending = invoice->bestellNr();
    else
        m_values.PrintedMarkPending.reset();

    m_previewOpen = true;
    Button2->setEnabled(false);
    struct Reopen {
        TForm7& w;
        ~Reopen() {
            w.m_previewOpen = false;
            w.Button2->setEnabled(true);
        }
    } reopen{*this};
    m_previewActive = true;
    m_invoice.Preview(*invoice, this, [this] { m_previewActive = true; });
    // Closing the preview brings this window back: an activation, unless the window system has
    // already delivered it.
    if (m_previewActive)
        FormActivate();
}

void TForm7::Button3Click() {
    if (m_previewOpen)
        return;
    // The open orders as the list shows them, each with its positions and totals collected anew;
    // an amount that is no money stops here, before anything is printed.
    std::vector<InvoiceSnapshot> batch;
    const int row = OrderTable.currentRow();
    {
        struct Back {
            TForm7& w;
            int row;
            ~Back() {
                w.OrderTable.moveToRow(row);
                w.guarded([this] { w.ShowPositions(); });
            }
        } back{*this, row};
        for (int r = 0; r < OrderTable.visibleCount(); ++r) {
            OrderTable.moveToRow(r);
            if (OrderTable.field(OrderDocument::kStatus).view() != "0")
                continue;
            if (std::optional<InvoiceSnapshot> invoice = m_document.invoice())
                batch.push_back(std::move(*invoice));
        }
    }
    if (batch.empty()) {
        dialogs().information(QStringLiteral("Es gibt keine offenen Rechnungen."));
        return;
    }
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    struct Enable {
        TForm7& w;
        ~Enable() {
            w.Button2->setEnabled(true);
            w.Button3->setEnabled(true);
        }
    } enable{*this};
    int marked = 0;
    struct Write {
        TForm7& w;
        int& marked;
        // Printed invoices stay marked whatever stopped the batch.
        ~Write() {
            if (marked > 0)
                w.guarded([this] { w.WriteOrders(); });
        }
    } write{*this, marked};
    m_invoice.PrintBatch(batch, this, [&](const std::string& nr) {
        m_document.markPrinted(nr);
        ++marked;
    });
}

void TForm7::WriteOrders() {
    struct ShowFilter {
        TForm7& w;
        ~ShowFilter() { w.showListChoice(); }
    } show{*this};
    m_document.save(m_shop.dataFile(datafiles::kOrderFile),
                    m_shop.dataFile(datafiles::OrderStore::kLockName));
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
