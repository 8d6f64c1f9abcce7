#include "shell/dialogs.h"

#include "shell/picturedialog.h"
#include "shell/windows.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

namespace velmo {

namespace {

// A stay-on-top owner passes its hint on to what it opens: a window manager that keeps such windows
// in a layer of their own would otherwise show the child below its owner, and the program would
// look frozen behind its own modal window. A dialog that lives on takes it only while it is open.
class OnTopLikeOwner {
public:
    OnTopLikeOwner(QWidget& dialog, QWidget* owner)
        : m_dialog(dialog), m_set(staysOnTop(owner) && !staysOnTop(&dialog)) {
        if (m_set)
            m_dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    ~OnTopLikeOwner() {
        if (m_set)
            m_dialog.setWindowFlag(Qt::WindowStaysOnTopHint, false);
    }
    OnTopLikeOwner(const OnTopLikeOwner&) = delete;
    OnTopLikeOwner& operator=(const OnTopLikeOwner&) = delete;

private:
    QWidget& m_dialog;
    bool m_set;
};

// Runs dialog modally as the transient child of owner.
int execOwned(QDialog& dialog, QWidget* owner) {
    const OnTopLikeOwner onTop(dialog, owner);
    keepAbove(dialog, owner);
    return dialog.exec();
}

class QtDialogs final : public DialogSeam {
public:
    void showMessage(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, programTitle(), text, QMessageBox::Ok, owner());
        execOwned(box, box.parentWidget());
    }

    void showError(const QString& text) override {
        QMessageBox box(QMessageBox::Critical, programTitle(), text, QMessageBox::Ok, owner());
        execOwned(box, box.parentWidget());
    }

    bool confirm(const QString& text) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigung"), text, QMessageBox::NoButton,
                        owner());
        QAbstractButton* yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
        execOwned(box, box.parentWidget());
        return box.clickedButton() == yes;
    }

    bool confirmDefaultNo(const QString& text) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigung"), text, QMessageBox::NoButton,
                        owner());
        QAbstractButton* yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
        box.setDefaultButton(no);
        box.setEscapeButton(no);
        execOwned(box, box.parentWidget());
        return box.clickedButton() == yes;
    }

    bool confirmOkCancel(const QString& text) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigung"), text, QMessageBox::NoButton,
                        owner());
        QAbstractButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
        execOwned(box, box.parentWidget());
        return box.clickedButton() == ok;
    }

    void notice(const QString& text) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigung"), text, QMessageBox::Ok, owner());
        execOwned(box, box.parentWidget());
    }

    void information(const QString& text) override {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok,
                        owner());
        execOwned(box, box.parentWidget());
    }

    QString choosePicture(QWidget* parent, const QString& directory, const QString&) override {
        TPictureDialog dialog(owner(parent), directory);
        if (execOwned(dialog, dialog.parentWidget()) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }

    QString choosePdfFile(QWidget* parent, const QString& suggested) override {
        QFileDialog dialog(owner(parent), QStringLiteral("Als PDF speichern"), suggested,
                           QStringLiteral("PDF-Dateien (*.pdf)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("pdf"));
        if (execOwned(dialog, dialog.parentWidget()) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }

    bool choosePrinter(QWidget* parent, QPrinter& printer) override {
        QPrintDialog dialog(&printer, owner(parent));
        return execOwned(dialog, dialog.parentWidget()) == QDialog::Accepted;
    }

    // The window is created once and opened from different windows, so its owner is the window it
    // is opened from now, not the parent it was created with.
    int showModal(QDialog& window) override { return execOwned(window, currentOwner(window.parentWidget())); }

private:
    // A box belongs to the window in front; a dialog opened for a window to that window, or to
    // the one in front when it names none.
    static QWidget* owner(QWidget* requested = nullptr) {
        return requested ? requested->window() : currentOwner(nullptr);
    }
};

} // namespace

std::unique_ptr<DialogSeam> makeQtDialogs() {
    return std::make_unique<QtDialogs>();
}

QString programTitle() {
    // Qt's application name defaults to the program file's name without its directory.
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("velmoshop") : name;
}

QString errorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().isLetterOrNumber())
        return message + QLatin1Char('.');
    return message;
}

void showException(DialogSeam& dialogs, const std::exception& e) {
    dialogs.showError(errorBoxText(QString::fromUtf8(e.what())));
}

bool guarded(DialogSeam& dialogs, const std::function<void()>& f) noexcept {
    try {
        f();
        return true;
    } catch (const std::exception& e) {
        try {
            showException(dialogs, e);
        } catch (...) {
        }
    } catch (...) {
        try {
            dialogs.showError(QStringLiteral("Unbekannter Fehler."));
        } catch (...) {
        }
    }
    return false;
}

} // namespace velmo
