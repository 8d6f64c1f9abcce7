#pragma once

#include "orders/core/invoicefigures.h"
#include "orders/core/invoiceledger.h"
#include "orders/invoicesource.h"
#include "report/report.h"

namespace velmo {

// The complete invoice: the short invoice's address block, positions and totals, and besides them
// what a German invoice must state: the seller with address and tax number or VAT ID, the sender
// line above the address, invoice number and date beside the order number and the delivery date, a
// unit price and the tax rate per position, per rate the net amount and the tax (or the note that
// a small business charges none), and on every page the invoice number and "Seite n von m".
class CompleteInvoice {
public:
    CompleteInvoice();
    CompleteInvoice(const CompleteInvoice&) = delete;
    CompleteInvoice& operator=(const CompleteInvoice&) = delete;

    report::Report report;

    // The data of the next run; the snapshot must outlive it.
    void setSnapshot(const InvoiceSnapshot* invoice);
    // Sets every computed text for a run.
    void prepare(const InvoiceSettings& settings, const InvoiceFigures& figures, const LedgerEntry& entry,
                 const QString& currency, const QString& shopLine);

    // The figures of the last prepare(): what the pages print and the e-invoice states.
    const InvoiceFigures& figures() const { return m_figures; }

    // What a position row shows beside the order files' fields: "Einzelpreis", "USt" and "Betrag".
    class Positions : public report::DataSource {
    public:
        InvoiceSource fields{InvoiceSource::Part::Positions};
        const InvoiceFigures* figures = nullptr;
        bool showRates = true;
        int recordCount() const override { return fields.recordCount(); }
        QString text(int record, const QString& field) const override;
    };

private:
    void build();

    InvoiceSource m_order{InvoiceSource::Part::Order};
    Positions m_positions;
    InvoiceFigures m_figures;
};

} // namespace velmo
