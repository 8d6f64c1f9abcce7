#pragma once

#include "orders/core/invoicesettings.h"
#include "shell/shopwindow.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace velmo {

class Shop;

// "Rechnungsangaben": what a complete invoice states of the seller, the tax mode with the product
// groups sold at the reduced rate, and the invoice numbers. Kept in the settings store; with
// "complete" off the invoice keeps its short layout.
class InvoiceSettingsWindow : public ShopWindow {
    Q_OBJECT
public:
    explicit InvoiceSettingsWindow(Shop& shop, QWidget* parent = nullptr);

    QCheckBox* completeBox;
    QLineEdit* nameEdit;
    QLineEdit* streetEdit;
    QLineEdit* townEdit;
    QLineEdit* taxNumberEdit;
    QLineEdit* vatIdEdit;
    QLineEdit* contactEdit;
    QLineEdit* bankEdit;
    QComboBox* taxModeBox; // regular, small business
    QSpinBox* standardRateBox;
    QSpinBox* reducedRateBox;
    // The product groups of the catalog index (and any reduced one no longer in it), checked when
    // sold at the reduced rate.
    QListWidget* groupList;
    QLineEdit* prefixEdit;
    QSpinBox* nextNumberBox;
    QLabel* lastNumberLabel;
    QPushButton* okButton;
    QPushButton* cancelButton;

    // Handlers, callable from tests.
    // Fills the fields from the settings store, the groups from db_sys.db and the last number from
    // the ledger.
    void FormShow();
    // Checks and stores the fields, then closes; a complete invoice without the seller's details
    // is refused with a message and the window stays open.
    void okClick();

    InvoiceSettings fields() const;

protected:
    void opening() override { FormShow(); }

private:
    void showTaxMode();

    Shop& m_shop;
};

} // namespace velmo
