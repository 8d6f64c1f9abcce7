#include "tests/support/scripted_dialogs.h"

#include <QPrinter>

#include <gtest/gtest.h>

namespace velmo::test {

QStringList ScriptedDialogs::texts(const QString& kind) const {
    QStringList out;
    for (const Call& c : m_calls)
        if (c.kind == kind)
            out << c.text;
    return out;
}

void ScriptedDialogs::showMessage(const QString& text) {
    m_calls.push_back({"message", text});
}

void ScriptedDialogs::notice(const QString& text) {
    m_calls.push_back({"notice", text});
}

void ScriptedDialogs::showError(const QString& text) {
    m_calls.push_back({"error", text});
}

bool ScriptedDialogs::confirm(const QString& text) {
    m_calls.push_back({"confirm", text});
    return nextConfirm(text);
}

bool ScriptedDialogs::confirmDefaultNo(const QString& text) {
    m_calls.push_back({"confirmDefaultNo", text});
    return nextConfirm(text);
}

bool ScriptedDialogs::confirmOkCancel(const QString& text) {
    m_calls.push_back({"okcancel", text});
    return nextConfirm(text);
}

bool ScriptedDialogs::nextConfirm(const QString& text) {
    if (m_confirms.empty()) {
        ADD_FAILURE() << "unscripted question: " << text.toStdString();
        return false;
    }
    bool yes = m_confirms.front();
    m_confirms.pop_front();
    return yes;
}

void ScriptedDialogs::information(const QString& text) {
    m_calls.push_back({"information", text});
}

QString ScriptedDialogs::choosePicture(QWidget*, const QString& directory, const QString& filter) {
    m_calls.push_back({"picture", directory});
    lastPictureDirectory = directory;
    lastPictureFilter = filter;
    if (m_pictures.empty())
        return {};
    QString path = m_pictures.front();
    m_pictures.pop_front();
    return path;
}

QString ScriptedDialogs::choosePdfFile(QWidget*, const QString& suggested) {
    m_calls.push_back({"pdffile", suggested});
    if (m_pdfFiles.empty())
        return {};
    QString path = m_pdfFiles.front();
    m_pdfFiles.pop_front();
    return path;
}

bool ScriptedDialogs::choosePrinter(QWidget*, QPrinter& printer) {
    m_calls.push_back({"printer", {}});
    if (m_printers.empty())
        return false;
    bool print = m_printers.front();
    m_printers.pop_front();
    if (print && !m_pdfPath.isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_pdfPath);
    }
    return print;
}

int ScriptedDialogs::showModal(QDialog& window) {
    m_calls.push_back({"modal", window.objectName()});
    if (m_modals.empty())
        return QDialog::Rejected;
    auto script = std::move(m_modals.front());
    m_modals.pop_front();
    // The window is up while the script runs, as it would be in its modal loop.
    window.show();
    int result = script(window);
    window.hide();
    return result;
}

} // namespace velmo::test
