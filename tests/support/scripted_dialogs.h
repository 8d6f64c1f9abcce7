#pragma once

#include "shell/dialogs.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

#include <ostream>

// Readable QString values in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace velmo::test {

// The dialog seam for tests: records every question and window, answers from a script, and never
// opens a modal loop. A test hands it to the Shop (or the window) it builds.
class ScriptedDialogs : public DialogSeam {
public:
    struct Call {
        // "message", "error", "confirm", "confirmDefaultNo", "okcancel", "information", "notice",
        // "picture", "printer", "pdffile", "modal"
        QString kind;
        QString text; // the text shown, or the window's object name for "modal"
    };

    // Answers for confirm(), confirmDefaultNo() and confirmOkCancel(), in order; an unscripted question fails
    // the test and answers no.
    void answerConfirm(bool yes) { m_confirms.push_back(yes); }
    void answerPicture(const QString& path) { m_pictures.push_back(path); }
    void answerPrinter(bool print) { m_printers.push_back(print); }
    // Answers for choosePdfFile(), in order; none left answers "cancelled".
    void answerPdfFile(const QString& path) { m_pdfFiles.push_back(path); }
    // A printer chosen with "print" writes to this PDF file (there is no printer in a test).
    void printToPdf(const QString& path) { m_pdfPath = path; }
    // What happens while a window is "shown modally": the script gets the window (to type into it,
    // press its buttons, close it) and returns the result code. Unscripted windows return Rejected.
    void onModal(std::function<int(QDialog&)> script) { m_modals.push_back(std::move(script)); }

    const std::vector<Call>& calls() const { return m_calls; }
    QStringList texts(const QString& kind) const;
    void clear() { m_calls.clear(); }

    void showMessage(const QString& text) override;
    void showError(const QString& text) override;
    bool confirm(const QString& text) override;
    bool confirmDefaultNo(const QString& text) override;
    bool confirmOkCancel(const QString& text) override;
    void information(const QString& text) override;
    void notice(const QString& text) override;
    QString choosePicture(QWidget* parent, const QString& directory, const QString& filter) override;
    bool choosePrinter(QWidget* parent, QPrinter& printer) override;
    QString choosePdfFile(QWidget* parent, const QString& suggested) override;
    int showModal(QDialog& window) override;

    // Directory and filter the last picture chooser opened with.
    QString lastPictureDirectory, lastPictureFilter;

private:
    bool nextConfirm(const QString& text);

    std::vector<Call> m_calls;
    std::deque<bool> m_confirms;
    std::deque<QString> m_pictures;
    std::deque<bool> m_printers;
    std::deque<QString> m_pdfFiles;
    QString m_pdfPath;
    std::deque<std::function<int(QDialog&)>> m_modals;
};

} // namespace velmo::test
