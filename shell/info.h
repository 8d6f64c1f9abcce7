#pragma once

#include <QDialog>

class QPushButton;

namespace velmo {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QPushButton* OKButton;

protected:
    void showEvent(QShowEvent* event) override;
};

// Where the program comes from, shown in the about box.
inline constexpr const char* kMakerWeb = "https://velmoshop.example.org";
inline constexpr const char* kMakerMail = "support@velmoshop.example.org";

} // namespace velmo
