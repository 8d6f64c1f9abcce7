#pragma once

#include "report/report.h"

#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QPrintPreviewWidget;
class QPrinter;

namespace velmo::report {

// What the preview asks of the program around it.
struct PrintSeam {
    // The print dialog for printer; true when the user chose to print.
    std::function<bool(QWidget* parent, QPrinter& printer)> choosePrinter;
    // An error box (a failed print, an error of a run).
    std::function<void(const QString& text)> showError;
    // The file chooser for "Als PDF speichern", starting at the suggested name; empty text when
    // cancelled. Without it the preview offers no PDF.
    std::function<QString(QWidget* parent, const QString& suggested)> choosePdfFile;
};

// The preview window of a report, caption "Vorschau": shows the pages, turns and zooms them, and
// prints the report through the print dialog (also on Ctrl+P); Escape closes it. run() blocks its
// caller in a nested event loop until the window is closed, while the program's other windows stay
// live. The window is a transient child of its opener, so it stacks above it.
class PreviewWindow : public QWidget {
    Q_OBJECT
public:
    PreviewWindow(Report& report, PrintSeam seam, QWidget* opener);
    ~PreviewWindow() override;

    // Shows the window and returns when it has been closed.
    void run();
    bool isRunning() const { return m_running; }

    // The print dialog, then a run on the chosen printer. True when the print completed; the report's
    // afterPrint has run then. A cancelled dialog or a failed print returns false.
    bool print();
    // "Als PDF speichern": the file chooser, then a run into a PDF that replaces the file at once.
    // A saved PDF counts as a completed print (afterPrint runs). True when it was saved.
    bool savePdf();
    // Produces the preview pages again from the data as it is now.
    void refresh();

    int pageCount() const;
    int currentPage() const; // from 1
    void setCurrentPage(int page);
    double zoomFactor() const;
    void zoomIn();
    void zoomOut();
    void fitToWidth();
    void fitInView();

    QPrintPreviewWidget* view() const { return m_view; }
    // The toolbar's command that closes the window.
    QAction* closeAction() const { return m_closeAction; }

signals:
    // The window became the program's active window.
    void activated();
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Keys the page view leaves alone arrive here, also where the window system delivers no
    // shortcuts (an inactive window).
    void keyPressEvent(QKeyEvent* event) override;

private:
    void paint(QPrinter* printer);
    void updatePageLabel();
    void report(const std::exception& e);

    Report& m_report;
    PrintSeam m_seam;
    std::unique_ptr<QPrinter> m_previewPrinter;
    QPrintPreviewWidget* m_view = nullptr;
    QLabel* m_pageLabel = nullptr;
    QAction* m_closeAction = nullptr;
    bool m_running = false;
    std::function<void()> m_quit;
};

} // namespace velmo::report
