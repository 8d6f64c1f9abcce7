#pragma once

#include "datafiles/orderfiles.h"
#include "datafiles/orderstore.h"
#include "memtable/memtable.h"
#include "orders/ordervalues.h"
#include "platform/linefile.h"
#include "shell/shopwindow.h"

#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace velmo {

class BoundLabel;
class BoundLineEdit;
class MemTableGrid;
class MemTableModel;
class Shop;

// The order window: the orders of the local kunden.db with the positions of the chosen order from
// bestellungen.db. The owner filters the list by status, sorts and searches it, corrects customer
// data and prints an invoice; a printed invoice marks its order with status "1", and kunden.db is
// written back when the window closes. Every activation reloads both files.
class TForm7 : public ShopWindow {
    Q_OBJECT
public:
    TForm7(Shop& shop, OrderValues& values, InvoicePrinting& invoice, QWidget* parent = nullptr);
    ~TForm7() override;

    // Datum (date-time), BestellNr, Name, Firma, Strasse, PLZOrt, Land, Tel, Fax, mail, Paytype,
    // Versand, status; indexes on Datum, BestellNr, Name, PLZOrt and status. The filter lets through
    // the orders whose status is the shared StatusFilterValue.
    MemTable OrderTable;
    // BestellNr, menge, ArtikelNr, Bezeichnung, Preis (with a decimal comma) of the current order,
    // always in ArtikelNr order.
    MemTable PositionTable;
    // bestellungen.db as read at the last activation.
    Lines PositionLines;

    QComboBox* ComboBox1;   // Liste: all, printed or new orders
    QComboBox* ComboBox2;   // Index: Datum, Bestell-Nr., Name, PLZ-Ort
    QLabel* Label2;         // "Suche <index>:"
    QLineEdit* Edit1;       // search text
    MemTableGrid* DBGrid1;  // the orders
    BoundLineEdit* DBEdit1; // Name
    BoundLineEdit* DBEdit2; // Firma
    BoundLineEdit* DBEdit3; // Strasse
    BoundLineEdit* DBEdit4; // PLZOrt
    BoundLineEdit* DBEdit5; // Land
    BoundLineEdit* DBEdit6; // Tel
    BoundLineEdit* DBEdit7; // Fax
    BoundLineEdit* DBEdit8; // mail
    QLabel* Label13;        // goods value with currency
    BoundLabel* DBText2;    // Versand
    QLabel* Label14;        // "<currency> Versand"
    BoundLabel* DBText1;    // Paytype
    QLabel* Label12;        // "<n> Positionen"
    MemTableGrid* DBGrid2;  // the positions
    QPushButton* Button2;   // &Rechnung
    QPushButton* Button1;   // &OK
    QStatusBar* StatusBar1; // stays empty

    // Handlers, callable from tests.
    void FormActivate();
    void ComboBox1Change();
    void ComboBox2Change();
    void Edit1Change();
    // A click on an order or a key released in the order list.
    void DBGrid1Click();
    void Button1Click();
    void Button2Click();
    // Posts a pending correction and replaces kunden.db with every order, in the order of the
    // current index; the filter is off afterwards. Writes nothing when the last activation could not
    // read the file.
    void WriteOrders();

    // Lines of kunden.db behind a line the last activation could not read (that line included); they
    // are written back after the orders, so that no write drops them.
    const Lines& unreadOrderLines() const { return m_unread; }
    const datafiles::PositionIndex& positionIndex() const { return m_positionIndex; }

    void done(int result) override;

protected:
    void opening() override { FormActivate(); }
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowPositions();
    // Fills PositionTable for the current order; returns the sum of the amounts.
    double CollectPositions();
    void showTotals(double sum);
    void showListChoice();
    void showIndexChoice(int i, bool always = false);
    void loadOrders(const Lines& lines);
    QString money(double value) const;

    Shop& m_shop;
    OrderValues& m_values;
    InvoicePrinting& m_invoice;
    MemTableModel* m_orderModel = nullptr;
    MemTableModel* m_positionModel = nullptr;
    datafiles::PositionIndex m_positionIndex;
    Lines m_unread;
    // Where kunden.db stood when it was read: a rewrite keeps what a fetch appended since.
    datafiles::ReadMark m_readMark;
    // kunden.db was read at the last activation (though perhaps not to its end).
    bool m_ordersRead = false;
    // The invoice preview has been the active window since this window's last activation.
    bool m_previewActive = false;
};

} // namespace velmo
