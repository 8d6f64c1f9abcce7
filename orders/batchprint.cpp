// Printing the invoices of many orders in one go (TForm8::PrintBatch).
#include "orders/print.h"

#include "platform/atomic_file.h"
#include "platform/qt/text.h"
#include "report/painter.h"
#include "shell/dialogs.h"
#include "shell/shop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPrinter>
#include <QProgressDialog>
#include <QTemporaryDir>

#include <optional>

namespace velmo {

namespace {

// "rechnungen.pdf", 3 of 12 → "rechnungen-003.pdf": one file per invoice, named by its place in the
// batch (an order number comes from the storefront and is no file name).
QString numberedFile(const QString& path, int n, int total) {
    const QFileInfo info(path);
    const int width = std::max(3, static_cast<int>(QString::number(total).size()));
    QString name =
        info.completeBaseName() + QLatin1Char('-') + QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0'));
    if (!info.suffix().isEmpty())
        name += QLatin1Char('.') + info.suffix();
    return info.dir().filePath(name);
}

} // namespace

int TForm8::PrintBatch(const std::vector<InvoiceSnapshot>& invoices, QWidget* opener,
                       const std::function<void(const std::string& bestellNr)>& printed) {
    if (m_preview || m_batchProgress || invoices.empty())
        return 0;
    report::Report& rep = chosenReport();
    const bool complete = &rep == &CompleteRep.report;
    QPrinter printer(QPrinter::HighResolution);
    report::preparePage(rep, printer);
    printer.setDocName(QStringLiteral("Rechnungen"));
    if (!m_shop.dialogs.choosePrinter(opener ? opener : this, printer))
        return 0;
    const QString file = printer.outputFileName();
    const int total = static_cast<int>(invoices.size());
    // Complete invoices printed to PDF files are e-invoices: each is drawn into a scratch file, made
    // an e-invoice, and only then put in place of its file.
    const bool eInvoices = complete && !file.isEmpty() && printer.outputFormat() == QPrinter::PdfFormat;
    std::optional<QTemporaryDir> scratch;
    QString drawnPath;
    if (eInvoices) {
        scratch.emplace();
        drawnPath = scratch->filePath(QStringLiteral("rechnung.pdf"));
        if (!scratch->isValid())
            throw EFCreateError(formatMessage(kFileCreateError, {fromQString(drawnPath)}));
        printer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
    }

    QProgressDialog progress(QStringLiteral("Rechnungen werden gedruckt …"), QStringLiteral("Abbrechen"), 0,
                             total, opener ? opener : this);
    progress.setWindowTitle(QStringLiteral("Rechnungen drucken"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    struct Reset {
        TForm8& f;
        ~Reset() {
            f.m_batchProgress = nullptr;
            f.m_batchGroups.reset();
        }
    } reset{*this};
    m_batchProgress = &progress;
    if (complete)
        m_batchGroups = loadArticleGroups([this](const std::string& name) { return m_shop.dataFile(name); });

    int done = 0;
    for (const InvoiceSnapshot& invoice : invoices) {
        // Cancelling stops between two invoices; the one being printed is finished.
        QCoreApplication::processEvents();
        if (progress.wasCanceled())
            break;
        progress.setLabelText(QStringLiteral("Rechnung %1 von %2: Bestellung %3")
                                  .arg(done + 1)
                                  .arg(total)
                                  .arg(toQString(invoice.bestellNr())));
        const QString target = !file.isEmpty() && total > 1 ? numberedFile(file, done + 1, total) : file;
        if (!file.isEmpty())
            printer.setOutputFileName(eInvoices ? drawnPath : target);
        QString failure;
        try {
            bind(invoice);
            if (!report::renderReport(rep, printer)) {
                failure = QStringLiteral("Der Drucker hat sie nicht angenommen.");
            } else if (eInvoices) {
                // The run has ended its painter, which closed the printer's file.
                QFile drawn(drawnPath);
                if (!drawn.open(QIODevice::ReadOnly))
                    throw EFOpenError(formatMessage(kFileOpenError, {fromQString(drawn.fileName())}));
                const QByteArray pdf = drawn.readAll();
                writeFileAtomically(
                    target.toStdString(),
                    eInvoicePdf(std::string(pdf.constData(), static_cast<std::size_t>(pdf.size()))));
            }
            if (failure.isEmpty() && complete)
                m_entry = InvoiceLedger(m_shop.dataFile(InvoiceLedger::kFileName))
                              .record(m_entry, m_settings.nextNumber);
        } catch (const std::exception& e) {
            failure = QString::fromUtf8(e.what());
        }
        if (!failure.isEmpty()) {
            QString text = QStringLiteral("Die Rechnung der Bestellung %1 konnte nicht gedruckt werden: %2")
                               .arg(toQString(invoice.bestellNr()), errorBoxText(failure));
            if (const int left = total - done - 1; left > 0)
                text += QStringLiteral(" Die %1 folgenden Rechnungen wurden nicht gedruckt.").arg(left);
            m_shop.dialogs.showError(text);
            break;
        }
        ++done;
        printed(invoice.bestellNr());
        progress.setValue(done);
        emit batchInvoicePrinted(done, total);
    }
    return done;
}

} // namespace velmo
