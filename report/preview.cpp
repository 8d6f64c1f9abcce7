#include "report/preview.h"

#include "platform/atomic_file.h"
#include "report/painter.h"

#include <QAction>
#include <QBuffer>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPdfWriter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velmo::report {

namespace {

constexpr double kZoomStep = 1.25;

} // namespace

PreviewWindow::PreviewWindow(Report& report, PrintSeam seam, QWidget* opener)
    : QWidget(opener, Qt::Window), m_report(report), m_seam(std::move(seam)),
      m_previewPrinter(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
    setObjectName("Vorschau");
    setWindowTitle(QStringLiteral("Vorschau"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    preparePage(m_report, *m_previewPrinter);
    m_view = new QPrintPreviewWidget(m_previewPrinter.get(), this);
    m_view->setViewMode(QPrintPreviewWidget::SinglePageView);
    connect(m_view, &QPrintPreviewWidget::paintRequested, this, [this](QPrinter* p) { paint(p); });
    connect(m_view, &QPrintPreviewWidget::previewChanged, this, [this] { updatePageLabel(); });

    auto* bar = new QToolBar(this);
    auto add = [&](const QString& text, const QKeySequence& key, auto slot, const QString& spoken = {}) {
        QAction* a = bar->addAction(text);
        // A button that shows a symbol says in words what it does.
        if (!spoken.isEmpty()) {
            a->setToolTip(spoken);
            bar->widgetForAction(a)->setAccessibleName(spoken);
        }
        if (!key.isEmpty()) {
            a->setShortcut(key);
            a->setShortcutContext(Qt::WindowShortcut);
        }
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add(QStringLiteral("Drucken…"), QKeySequence(Qt::CTRL | Qt::Key_P), [this] { print(); });
    // At the front, so that a narrow window never pushes it into the toolbar's overflow menu.
    m_closeAction = add(QStringLiteral("Schließen"), QKeySequence(Qt::Key_Escape), [this] { close(); });
    if (m_seam.choosePdfFile)
        add(QStringLiteral("Als PDF speichern…"), QKeySequence(), [this] { savePdf(); });
    bar->addSeparator();
    add(
        QStringLiteral("|<"), QKeySequence(Qt::Key_Home), [this] { setCurrentPage(1); },
        QStringLiteral("Erste Seite"));
    add(
        QStringLiteral("<"), QKeySequence(Qt::Key_PageUp), [this] { setCurrentPage(currentPage() - 1); },
        QStringLiteral("Vorige Seite"));
    m_pageLabel = new QLabel(this);
    m_pageLabel->setContentsMargins(6, 0, 6, 0);
    bar->addWidget(m_pageLabel);
    add(
        QStringLiteral(">"), QKeySequence(Qt::Key_PageDown), [this] { setCurrentPage(currentPage() + 1); },
        QStringLiteral("Nächste Seite"));
    add(
        QStringLiteral(">|"), QKeySequence(Qt::Key_End), [this] { setCurrentPage(pageCount()); },
        QStringLiteral("Letzte Seite"));
    bar->addSeparator();
    add(QStringLiteral("Vergrößern"), QKeySequence(Qt::CTRL | Qt::Key_Plus), [this] { zoomIn(); });
    add(QStringLiteral("Verkleinern"), QKeySequence(Qt::CTRL | Qt::Key_Minus), [this] { zoomOut(); });
    add(QStringLiteral("Seitenbreite"), QKeySequence(), [this] { fitToWidth(); });
    add(QStringLiteral("Ganze Seite"), QKeySequence(), [this] { fitInView(); });
    // The button that opens the commands a narrow window has no room for.
    if (auto* more = bar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(QStringLiteral("Weitere Befehle"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(m_view, 1);
    resize(720, 860);
}

PreviewWindow::~PreviewWindow() {
    if (m_quit)
        m_quit();
}

void PreviewWindow::report(const std::exception& e) {
    if (m_seam.showError)
        m_seam.showError(QString::fromUtf8(e.what()));
}

void PreviewWindow::paint(QPrinter* printer) {
    // Called by the preview widget inside Qt's event handling: nothing may escape.
    try {
        renderReport(m_report, *printer);
    } catch (const std::exception& e) {
        report(e);
    }
}

void PreviewWindow::run() {
    if (m_running)
        return;
    m_running = true;
    refresh();
    show();
    raise();
    activateWindow();
    QEventLoop loop;
    m_quit = [&loop] { loop.quit(); };
    if (isVisible())
        loop.exec();
    m_quit = nullptr;
    m_running = false;
}

bool PreviewWindow::print() {
    try {
        QPrinter printer(QPrinter::HighResolution);
        preparePage(m_report, printer);
        printer.setDocName(windowTitle());
        if (!m_seam.choosePrinter || !m_seam.choosePrinter(this, printer))
            return false;
        if (!renderReport(m_report, printer)) {
            if (m_seam.showError)
                m_seam.showError(QStringLiteral("Der Bericht konnte nicht gedruckt werden."));
            return false;
        }
        if (m_report.afterPrint)
            m_report.afterPrint();
        return true;
    } catch (const std::exception& e) {
        report(e);
        return false;
    }
}

bool PreviewWindow::savePdf() {
    try {
        if (!m_seam.choosePdfFile)
            return false;
        const QString path = m_seam.choosePdfFile(this, windowTitle() + QStringLiteral(".pdf"));
        if (path.isEmpty())
            return false;
        // Into memory first: the file is replaced only by a whole PDF.
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        bool rendered = false;
        {
            QPdfWriter writer(&buffer);
            writer.setCreator(QStringLiteral("Velmo-Shop"));
            writer.setTitle(windowTitle());
            if (m_report.pdf.archival)
                writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
            rendered = renderReport(m_report, writer);
        }
        if (!rendered) {
            if (m_seam.showError)
                m_seam.showError(QStringLiteral("Der Bericht konnte nicht als PDF gespeichert werden."));
            return false;
        }
        std::string bytes(buffer.data().constData(), static_cast<std::size_t>(buffer.data().size()));
        if (m_report.pdf.finish)
            bytes = m_report.pdf.finish(bytes);
        writeFileAtomically(path.toStdString(), bytes);
        if (m_report.afterPrint)
            m_report.afterPrint();
        return true;
    } catch (const std::exception& e) {
        report(e);
        return false;
    }
}

void PreviewWindow::refresh() {
    m_view->updatePreview();
    updatePageLabel();
}

int PreviewWindow::pageCount() const {
    return m_view->pageCount();
}

int PreviewWindow::currentPage() const {
    return m_view->currentPage();
}

void PreviewWindow::setCurrentPage(int page) {
    m_view->setCurrentPage(std::clamp(page, 1, std::max(1, pageCount())));
    updatePageLabel();
}

double PreviewWindow::zoomFactor() const {
    return m_view->zoomFactor();
}

void PreviewWindow::zoomIn() {
    m_view->zoomIn(kZoomStep);
}

void PreviewWindow::zoomOut() {
    m_view->zoomOut(kZoomStep);
}

void PreviewWindow::fitToWidth() {
    m_view->fitToWidth();
}

void PreviewWindow::fitInView() {
    m_view->fitInView();
}

void PreviewWindow::updatePageLabel() {
    m_pageLabel->setText(QStringLiteral("Seite %1 von %2").arg(currentPage()).arg(pageCount()));
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    if (m_quit)
        m_quit();
    emit closed();
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Print) ||
        (event->key() == Qt::Key_P && event->modifiers() == Qt::ControlModifier)) {
        print();
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PreviewWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        emit activated();
}

} // namespace velmo::report
