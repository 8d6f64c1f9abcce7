#include "shell/shopwindow.h"

#include "shell/windows.h"

#include <QShowEvent>

namespace velmo {

ShopWindow::ShopWindow(DialogSeam& dialogs, Placement placement, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs), m_placement(placement) {}

void ShopWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    // Opened modally from another window (not only through the seam), the window stays above it.
    keepAbove(*this, currentOwner(parentWidget()));
    if (m_placement == Placement::OnOwner)
        centreOnOwner(*this);
    else if (m_placement == Placement::OnScreen)
        centreOnScreen(*this);
    // Queued, so that a failed opening also ends the modal loop that is just starting.
    if (!guarded([this] { opening(); }) && !keepOpenOnFailure())
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
}

} // namespace velmo
