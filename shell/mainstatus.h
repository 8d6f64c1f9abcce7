#pragma once

#include "shell/shop.h"

class QProgressBar;

namespace velmo {

class TForm1;

// The main window's status bar as a StatusLine: the status text, and beside it a progress bar that
// is shown only while a data transfer runs.
class MainStatusLine : public StatusLine {
public:
    explicit MainStatusLine(TForm1& main);

    void setStatusText(const QString& text) override;
    QString statusText() const override;
    void showProgress(std::int64_t done, std::int64_t total) override;
    void hideProgress() override;

    QProgressBar* progressBar() const { return m_bar; }

private:
    TForm1& m_main;
    QProgressBar* m_bar;
};

} // namespace velmo
