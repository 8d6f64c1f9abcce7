#include "shell/dialogs.h"

#include "shell/picturedialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

namespace velmo {

namespace {

class QtDialogs final : public DialogSeam {
public:
    void showMessage(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, programTitle(), text, QMessageBox::Ok, activeWindow());
        box.exec();
    }

    void showError(const QString& text) override {
        QMessageBox box(QMessageBox::Critical, programTitle(), text, QMessageBox::Ok, activeWindow());
        box.exec();
    }

    bool confirm(const QString& text) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigung"), text, QMessageBox::NoButton,
                        activeWindow());
        QAbstractButton* yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
        box.exec();
        return box.clickedButton() == yes;
    }

    bool confirmOkCancel(const QString& text) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigung"), text, QMessageBox::NoButton,
                        activeWindow());
        QAbstractButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
        box.exec();
        return box.clickedButton() == ok;
    }

    void information(const QString& text) override {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok,
                        activeWindow());
        box.exec();
    }

    QString choosePicture(QWidget* parent, const QString& directory, const QString&) override {
        TPictureDialog dialog(parent, directory);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }

    bool choosePrinter(QWidget* parent, QPrinter& printer) override {
        QPrintDialog dialog(&printer, parent);
        return dialog.exec() == QDialog::Accepted;
    }

    int showModal(QDialog& window) override { return window.exec(); }

private:
    static QWidget* activeWindow() { return QApplication::activeWindow(); }
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
