#pragma once

#include "shell/dialogs.h"

#include <QDialog>

class QShowEvent;

namespace velmo {

// The base of the program's modal windows. It holds the dialog seam the window asks through, and
// runs the window's opening step: each time the program shows the window (not when the window
// system re-shows it, for example after un-minimising), the window is placed, then opening() runs
// inside the error guard. A failed opening closes the window again unless keepOpenOnFailure().
class ShopWindow : public QDialog {
    Q_OBJECT
public:
    // AsDesigned: the window keeps the position it was given (or the user moved it to).
    enum class Placement { OnOwner, OnScreen, AsDesigned };

    ShopWindow(DialogSeam& dialogs, Placement placement, QWidget* parent = nullptr);

    DialogSeam& dialogs() const { return m_dialogs; }

protected:
    // The opening step (FormShow or FormActivate of the window); errors end in the error box.
    virtual void opening() {}
    // Whether the window stays open after its opening step failed.
    virtual bool keepOpenOnFailure() const { return true; }

    // Runs f inside the error guard of this window's seam; for connect().
    template <class F> auto guard(F f) { return velmo::guard(m_dialogs, std::move(f)); }
    bool guarded(const std::function<void()>& f) noexcept { return velmo::guarded(m_dialogs, f); }

    void showEvent(QShowEvent* event) override;

private:
    DialogSeam& m_dialogs;
    Placement m_placement;
};

} // namespace velmo
