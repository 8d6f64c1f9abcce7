#pragma once

#include "memtable/memtable.h"
#include "orders/core/orderdocument.h"
#include "orders/ordervalues.h"
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

// The order window: the view of the order document. It lists the orders of the local kunden.db with
// the positions of the chosen order from bestellungen.db; the owner filters the list by status,
// sorts and searches it, corrects customer data and opens the invoice of the chosen order. A printed
// invoice marks its order with status "1", and kunden.db is written back when the window closes.
// Every activation reloads both files.
class TForm7 : public ShopWindow {
    Q_OBJECT
    // Declared first: the tables below are its.
    OrderDocument m_document;

public:
    TForm7(Shop& shop, OrderValues& values, InvoicePrinting& invoice, QWidget* parent = nullptr);
    ~TForm7() override;

    OrderDocument& document() { return m_document; }
    // The document's order headers and the current order's positions, as the grids show them.
    MemTable& OrderTable;
    MemTable& PositionTable;

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
    QPushButton* Button3;   // Alle offenen Rechnungen drucken
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
    // Prints the invoices of every order of the list whose status is "0", in list order, and marks
    // each once its invoice has been printed; kunden.db is written when any was.
    void Button3Click();
    // Posts a pending correction and replaces kunden.db (OrderDocument::save); the filter is off
    // afterwards.
    void WriteOrders();

    // The invoice total of the order last shown ("#,###,##0.00").
    const std::string& invoiceTotalText() const { return m_totalText; }

    void done(int result) override;

protected:
    void opening() override { FormActivate(); }
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowPositions();
    void showTotals(double sum);
    void showListChoice();
    void showIndexChoice(int i, bool always = false);
    QString money(double value) const;

    Shop& m_shop;
    OrderValues& m_values;
    InvoicePrinting& m_invoice;
    MemTableModel* m_orderModel = nullptr;
    MemTableModel* m_positionModel = nullptr;
    std::string m_totalText;
    // The invoice preview is open.
    bool m_previewOpen = false;
    // The invoice preview has been the active window since this window's last activation.
    bool m_previewActive = false;
};

} // namespace velmo
