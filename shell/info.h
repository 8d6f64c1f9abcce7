#pragma once

#include "shell/shopwindow.h"

class QPushButton;

namespace velmo {

class TAboutBox : public ShopWindow {
    Q_OBJECT
public:
    explicit TAboutBox(DialogSeam& dialogs, QWidget* parent = nullptr);

    QPushButton* OKButton;
};

// Where the program comes from, shown in the about box.
inline constexpr const char* kMakerWeb = "https://velmoshop.example.org";
inline constexpr const char* kMakerMail = "support@velmoshop.example.org";

} // namespace velmo
