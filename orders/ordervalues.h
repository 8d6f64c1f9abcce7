#pragma once

#include "orders/core/orderdocument.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace velmo {

// What the order window and the invoice share for the whole run. main() creates one and hands it to
// both windows.
struct OrderValues {
    // The number of the order whose invoice has been printed (or that "&Rechnung" was chosen for while
    // it was already marked): the order window's next activation marks that order as printed.
    std::optional<std::string> PrintedMarkPending;
};

// The invoice as the order window uses it.
class InvoicePrinting {
public:
    virtual ~InvoicePrinting() = default;
    // Shows the invoice of this snapshot above opener and returns when the preview has been closed;
    // the preview and every print from it show this order alone. previewActivated runs whenever the
    // preview becomes the active window.
    virtual void Preview(const InvoiceSnapshot& invoice, QWidget* opener,
                         const std::function<void()>& previewActivated) = 0;
    // Prints these invoices in this order after one print dialog for all, each as a print job of its
    // own. printed(BestellNr) runs once the printer has accepted that invoice's pages, and only
    // then. The owner can cancel between two invoices; a failed invoice stops the batch and is named
    // in an error box. Returns how many were printed.
    virtual int PrintBatch(const std::vector<InvoiceSnapshot>& invoices, QWidget* opener,
                           const std::function<void(const std::string& bestellNr)>& printed) = 0;
};

} // namespace velmo
