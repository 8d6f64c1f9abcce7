#pragma once

#include "shell/shopwindow.h"

#include <optional>
#include <string>

class QLineEdit;
class QPushButton;

namespace velmo {

// What the catalog editor needs of the prompt for a new catalog's name.
class CatalogNamePrompt {
public:
    virtual ~CatalogNamePrompt() = default;
    // Opens the prompt modally. The name typed (Windows-1252) when it was closed with "&OK".
    virtual std::optional<std::string> askCatalogName() = 0;
    // Whether the prompt was closed with "&OK" the last time it was opened; false before the first
    // time. Completing the catalog does not clear it.
    virtual bool newCatalogNamed() const = 0;
};

// The prompt for a new catalog's name, opened modally by the catalog editor's "&Neu". The field is
// never reset: it holds "Katalog" at start and afterwards whatever was typed last.
class TForm3 : public ShopWindow, public CatalogNamePrompt {
    Q_OBJECT
public:
    explicit TForm3(DialogSeam& dialogs, QWidget* parent = nullptr);

    QLineEdit* Edit1;     // the name
    QPushButton* Button1; // &OK
    QPushButton* Button2; // &Abbrechen

    // "&OK": refuses a name that would break the catalog index line (a message, the prompt stays
    // open); otherwise closes with Accepted. Whether the name is taken is the editor's decision.
    void Button1Click();

    std::optional<std::string> askCatalogName() override;
    bool newCatalogNamed() const override { return m_named; }

private:
    bool m_named = false;
};

} // namespace velmo
