#pragma once

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace velmo {

class MemTable;

// The three values the order window and the invoice share for the whole run. main() creates one and
// hands it to both windows.
struct OrderValues {
    // An invoice has been printed and its order is still to be marked as printed.
    bool PrintedMarkPending = false;
    // The invoice total of the current order, "#,###,##0.00".
    std::string InvoiceTotalText;
    // "1" or "0": the status the order list's filter lets through.
    std::string StatusFilterValue;
};

// What the invoice reads from the order window, each time it runs.
struct InvoiceSources {
    MemTable& OrderTable;    // its current record is the order
    MemTable& PositionTable; // every record, in the order of its current index
    // The goods value as the order window shows it (number, blank, currency).
    std::function<QString()> goodsValueText;
};

// The invoice as the order window uses it.
class InvoicePrinting {
public:
    virtual ~InvoicePrinting() = default;
    // Shows the invoice's preview above opener and returns when the preview has been closed.
    // previewActivated runs whenever the preview becomes the active window.
    virtual void Preview(const InvoiceSources& sources, QWidget* opener,
                         const std::function<void()>& previewActivated) = 0;
};

} // namespace velmo
