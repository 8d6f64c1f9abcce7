#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace velmo {

// Asks for the currency label on the first start. There is no cancel: however the dialog is closed,
// the field's text is taken.
class TForm9 : public QDialog {
    Q_OBJECT
public:
    explicit TForm9(QWidget* parent = nullptr);

    QLineEdit* Edit1;
    QPushButton* Button1;
};

} // namespace velmo
