#pragma once

#include "shell/shopwindow.h"

class QLineEdit;
class QPushButton;

namespace velmo {

// What the main window needs on the first start: the currency label, asked for once.
class CurrencyPrompt {
public:
    virtual ~CurrencyPrompt() = default;
    virtual QString askCurrency() = 0;
};

// Asks for the currency label on the first start. There is no cancel: however the dialog is closed,
// the field's text is taken. It opens before the main window has settled, so it has no owner and
// is centred on the screen.
class TForm9 : public ShopWindow, public CurrencyPrompt {
    Q_OBJECT
public:
    explicit TForm9(DialogSeam& dialogs, QWidget* parent = nullptr);

    QLineEdit* Edit1;
    QPushButton* Button1;

    // Shows the window modally and returns the field's text.
    QString askCurrency() override;

protected:
    // The preset text is selected, so that typing replaces it instead of adding to it.
    void opening() override;
};

} // namespace velmo
