#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

class QDialog;
class QPrinter;
class QWidget;

namespace velmo {

// The one seam through which windows ask the user anything: message boxes, confirmations,
// information boxes, the picture chooser, the print dialog and modal windows. main() creates the Qt
// implementation and hands it to the windows; tests hand them a scripted one that records every text
// and answers as told.
class DialogSeam {
public:
    virtual ~DialogSeam() = default;

    // Plain message box: the program's title as caption, one OK button.
    virtual void showMessage(const QString& text) = 0;
    // The standard error box: error icon, one OK button, the program's title as caption. The text
    // is shown as given (see errorBoxText).
    virtual void showError(const QString& text) = 0;
    // Confirmation box, caption "Bestätigung", buttons "&Ja" and "&Nein". True for "&Ja".
    virtual bool confirm(const QString& text) = 0;
    // The confirmation box with "&Nein" preselected (Enter and Escape answer no), for a step that
    // cannot be taken back, such as deleting a file on the server.
    virtual bool confirmDefaultNo(const QString& text) = 0;
    // The same question with the buttons "OK" and "Abbrechen" (a grid's own deletion). True for "OK".
    virtual bool confirmOkCancel(const QString& text) = 0;
    // Information box, caption "Information", one OK button.
    virtual void information(const QString& text) = 0;
    // A box of the confirmation kind (question icon, caption "Bestätigung") with one OK button.
    virtual void notice(const QString& text) = 0;
    // The picture chooser with its preview, opened in directory. Returns the chosen path, or empty
    // text when cancelled. filter is the name filter list (pictureNameFilters()).
    virtual QString choosePicture(QWidget* parent, const QString& directory, const QString& filter) = 0;
    // Print dialog for printer; true when the user chose to print.
    virtual bool choosePrinter(QWidget* parent, QPrinter& printer) = 0;
    // The file chooser for saving a PDF, starting at suggested. Returns the chosen path, or empty
    // text when cancelled.
    virtual QString choosePdfFile(QWidget* parent, const QString& suggested) = 0;
    // Shows a window modally and returns its result code when it has closed.
    virtual int showModal(QDialog& window) = 0;
};

// The seam that asks through Qt's message boxes and dialogs, for the program.
std::unique_ptr<DialogSeam> makeQtDialogs();

// The caption of the error box and of plain message boxes: the program file's name.
QString programTitle();
// The error's text with "." appended when it ends in a letter or digit.
QString errorBoxText(const QString& message);

// Shows an escaped error in the standard error box.
void showException(DialogSeam& dialogs, const std::exception& e);

// Runs f and shows any exception it throws in the standard error box of the given seam; nothing
// escapes to Qt. Returns false when f threw.
bool guarded(DialogSeam& dialogs, const std::function<void()>& f) noexcept;

namespace detail {

template <class F> struct GuardedSlot {
    DialogSeam* dialogs;
    F f;

    // Callable exactly where the handler is, with the signal's arguments or with none, so that Qt's
    // look for how many arguments a slot takes never reaches into the body.
    template <class... A,
              std::enable_if_t<std::is_invocable_v<const F&, A...> || std::is_invocable_v<const F&>, int> = 0>
    void operator()(A&&... args) const {
        guarded(*dialogs, [&] {
            if constexpr (std::is_invocable_v<const F&, A...>)
                f(std::forward<A>(args)...);
            else
                f();
        });
    }
};

} // namespace detail

// Wraps a handler for connect(): the slot runs inside the guard. Signal arguments the handler does
// not take are dropped.
template <class F> auto guard(DialogSeam& dialogs, F f) {
    return detail::GuardedSlot<F>{&dialogs, std::move(f)};
}

} // namespace velmo
