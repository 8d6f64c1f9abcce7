#pragma once

#include "shell/shopwindow.h"

#include <QString>

class QLineEdit;
class QPushButton;

namespace velmo {

// The new-directory dialog. Only "&OK" yields a name (exactly as typed); any other way of closing
// leaves NewDirName empty. The field keeps the last name for the next showing.
class TForm13 : public ShopWindow {
    Q_OBJECT
public:
    explicit TForm13(DialogSeam& dialogs, QWidget* parent = nullptr);

    QLineEdit* Edit1;
    QPushButton* Button1; // &OK
    QPushButton* Button2; // &Abbrechen

    QString NewDirName;

    void Button1Click();
    void Button2Click();

protected:
    // A name only comes from "&OK" of this showing, never from an earlier one.
    void opening() override { NewDirName.clear(); }
};

} // namespace velmo
