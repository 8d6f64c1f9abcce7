#pragma once

#include "shell/shopwindow.h"

#include <array>

class QCheckBox;
class QPushButton;

namespace velmo {

// The permissions dialog: nine boxes for the UNIX permission bits. "&OK" adds the weight of every
// ticked box to PermissionMode, whose decimal digits are then the octal mode (444, 644, 4, ...).
// The ticks stay as they were left for the next showing, unless the browser sets them from the
// entry's permissions.
class TForm12 : public ShopWindow {
    Q_OBJECT
public:
    explicit TForm12(DialogSeam& dialogs, QWidget* parent = nullptr);

    // Owner read, write, execute; group ...; other ...
    QCheckBox *CheckBox1, *CheckBox2, *CheckBox3;
    QCheckBox *CheckBox4, *CheckBox5, *CheckBox6;
    QCheckBox *CheckBox7, *CheckBox8, *CheckBox9;
    QPushButton* Button1; // &OK
    QPushButton* Button2; // &Abbrechen

    // The browser resets it to 0 before it shows the dialog; 0 afterwards means "send nothing".
    int PermissionMode = 0;

    void Button1Click();
    // Ticks the boxes as given, in the order of CheckBox1 to CheckBox9.
    void setTicks(const std::array<bool, 9>& ticks);

private:
    std::array<QCheckBox*, 9> boxes() const;
};

} // namespace velmo
