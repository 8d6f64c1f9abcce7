#pragma once

#include "orders/completeinvoice.h"
#include "orders/invoicesource.h"
#include "orders/ordervalues.h"
#include "report/report.h"

#include <QDialog>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class QPagedPaintDevice;
class QProgressDialog;

namespace velmo {

class Shop;

namespace report {
class PreviewWindow;
}

// The invoice: a one-order report on A4 paper (address block, order number and date, one line per
// position, goods value, shipping, total and payment method), previewed and printed through the
// report engine. The window itself is never shown; it holds the layout.
class TForm8 : public QDialog, public InvoicePrinting {
    Q_OBJECT
public:
    TForm8(Shop& shop, OrderValues& values, QWidget* parent = nullptr);
    ~TForm8() override;

    report::Report QuickRep1;

    // Keeps its own copy of the snapshot while the preview is open; a second preview while one is
    // open is refused (it would change what the first one prints).
    void Preview(const InvoiceSnapshot& invoice, QWidget* opener,
                 const std::function<void()>& previewActivated) override;
    // One print dialog, then one print job per invoice; a progress window with "Abbrechen". Printing
    // to a file gives each invoice a file of its own, numbered ("rechnungen.pdf" →
    // "rechnungen-001.pdf", …).
    int PrintBatch(const std::vector<InvoiceSnapshot>& invoices, QWidget* opener,
                   const std::function<void(const std::string& bestellNr)>& printed) override;
    // The progress window of a running batch, null when none runs.
    QProgressDialog* batchProgress() const { return m_batchProgress; }

    // The open preview, null when none is open.
    report::PreviewWindow* preview() const { return m_preview; }

    // One run onto a device (a PDF writer, a printer) without the preview. True when it completed;
    // no after-print step.
    bool renderTo(const InvoiceSnapshot& invoice, QPagedPaintDevice& device);

    // The complete invoice (settings "Rechnungsangaben"), used instead of QuickRep1 when switched on.
    CompleteInvoice CompleteRep;
    // The layout the settings choose now: QuickRep1 unless the complete invoice is switched on.
    report::Report& chosenReport();
    // The complete invoice's computed texts, its invoice number included: the order's own when it
    // has one, otherwise the next free one, which its first completed print records.
    void CompleteRepBeforePrint();
    // Records the invoice number, then marks the order as QuickRep1AfterPrint does.
    void CompleteRepAfterPrint();
    // The complete invoice's PDF made an e-invoice: the XML of the last run (the same figures, number
    // and date the pages show) embedded as a PDF/A-3. Throws facturx::EFacturXError.
    std::string eInvoicePdf(const std::string& pdf) const;
    // The ledger entry of the last complete run.
    const LedgerEntry& invoiceEntry() const { return m_entry; }

    // Sets the computed texts; runs before every run.
    void QuickRep1BeforePrint();
    // A print on the printer has completed: its order is to be marked.
    void QuickRep1AfterPrint();

    // The shop's web address for the footer: the setting "shopUrl", or where it is not set, the web
    // name of the FTP host ("ftp.example.de" gives "www.example.de").
    static QString shopAddress(const std::string& shopUrlSetting, const std::string& ftpHost);

signals:
    // A batch has printed done of total invoices.
    void batchInvoicePrinted(int done, int total);

private:
    void buildLayout();
    void bind(const InvoiceSnapshot& invoice);

    Shop& m_shop;
    OrderValues& m_values;
    // What the report prints: a copy made when a run or a preview starts.
    InvoiceSnapshot m_invoice;
    InvoiceSource m_order{InvoiceSource::Part::Order};
    InvoiceSource m_positions{InvoiceSource::Part::Positions};
    report::PreviewWindow* m_preview = nullptr;
    InvoiceSettings m_settings;
    LedgerEntry m_entry;
    QProgressDialog* m_batchProgress = nullptr;
    // The article groups, read once for a whole batch.
    std::optional<std::unordered_map<std::string, std::string>> m_batchGroups;
};

} // namespace velmo
