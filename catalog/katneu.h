#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace velmo {

// The prompt for a new catalog's name, opened modally by the catalog editor's "&Neu". The field is
// never reset: it holds "Katalog" at start and afterwards whatever was typed last.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    QLineEdit* Edit1;     // the name
    QPushButton* Button1; // &OK
    QPushButton* Button2; // &Abbrechen

    // "&OK": refuses a name that would break the catalog index line (a message, the prompt stays
    // open); otherwise sets newCatalogNamed and closes with Accepted. Whether the name is taken is
    // the editor's decision.
    void Button1Click();
};

// Set when the prompt is closed with "&OK"; cleared by the editor's "&Neu" before it opens the
// prompt; never cleared otherwise, so it stays set for the rest of the run after the first name.
inline bool newCatalogNamed = false;

// The program's name prompt, for the catalog editor.
inline TForm3* Form3 = nullptr;

} // namespace velmo
