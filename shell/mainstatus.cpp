#include "shell/mainstatus.h"

#include "shell/main.h"

#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>
#include <limits>

namespace velmo {

MainStatusLine::MainStatusLine(TForm1& main) : m_main(main), m_bar(new QProgressBar(&main)) {
    m_bar->setMaximumWidth(200);
    m_bar->setTextVisible(false);
    main.statusBar()->addPermanentWidget(m_bar);
    m_bar->hide();
}

void MainStatusLine::setStatusText(const QString& text) {
    m_main.setStatusText(text);
}

QString MainStatusLine::statusText() const {
    return m_main.statusText();
}

void MainStatusLine::showProgress(std::int64_t done, std::int64_t total) {
    if (total > 0) {
        // QProgressBar counts in int: large files are shown in kilobytes.
        const int shift = total > std::numeric_limits<int>::max() ? 10 : 0;
        m_bar->setRange(0, static_cast<int>(total >> shift));
        m_bar->setValue(static_cast<int>(std::clamp<std::int64_t>(done, 0, total) >> shift));
    } else {
        m_bar->setRange(0, 0); // busy
    }
    m_bar->show();
}

void MainStatusLine::hideProgress() {
    m_bar->hide();
    m_bar->reset();
}

} // namespace velmo
