#pragma once

#include "orders/core/orderdocument.h"

#include <functional>
#include <optional>
#include <string>

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
};

} // namespace velmo
