// The owner of what the Qt seam opens: the window in front, whatever parent a window was created
// with. (tests/app/stacking_test.cpp checks the result under a real window manager.)
#include "shell/dialogs.h"
#include "shell/windows.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace velmo;

namespace {

struct Opened {
    QPointer<QWidget> window; // null again once a box has gone
    QWidget* parent = nullptr;
    QWindow* transientParent = nullptr;
    bool onTop = false;
};

// Opens front modally through the seam, runs open from inside its loop, and records the window
// that open showed while it is up; then closes both.
Opened openFrom(DialogSeam& seam, QDialog& front, const std::function<void()>& open) {
    Opened seen;
    QTimer::singleShot(0, &front, [&] {
        QTimer::singleShot(0, &front, [&] {
            QWidget* w = QApplication::activeModalWidget();
            if (w == &front)
                return;
            seen.window = w;
            seen.parent = w->parentWidget();
            seen.transientParent = w->windowHandle() ? w->windowHandle()->transientParent() : nullptr;
            seen.onTop = w->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            if (auto* d = qobject_cast<QDialog*>(w))
                d->done(QDialog::Rejected);
        });
        open();
        front.done(QDialog::Rejected);
    });
    seam.showModal(front);
    return seen;
}

class SeamOwnerTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        main.show();
        // A window of the program that stays on top (or not), created as a child of the main window
        // like every other one.
        front = new QDialog(&main);
        if (GetParam())
            front->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
        later = new QDialog(&main);
    }

    std::unique_ptr<DialogSeam> seam = makeQtDialogs();
    QWidget main;
    QDialog* front = nullptr;
    QDialog* later = nullptr;
};

TEST_P(SeamOwnerTest, AWindowOpenedFromAnotherBelongsToItAndTakesItsStayOnTopWhileOpen) {
    const Opened seen = openFrom(*seam, *front, [&] { seam->showModal(*later); });
    ASSERT_EQ(seen.window, later);
    EXPECT_EQ(seen.transientParent, front->windowHandle());
    EXPECT_EQ(seen.onTop, GetParam());
    // Opened later from the main window, it is an ordinary window again.
    EXPECT_FALSE(later->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(later->parentWidget(), &main);
}

TEST_P(SeamOwnerTest, BoxesAndChoosersBelongToTheWindowInFront) {
    auto* field = new QLineEdit(front);
    const std::function<void()> opens[] = {
        [&] { seam->showMessage(QStringLiteral("Hinweis")); },
        [&] { seam->showError(QStringLiteral("Fehler.")); },
        [&] { seam->confirm(QStringLiteral("Frage?")); },
        [&] { seam->information(QStringLiteral("Info")); },
        // A dialog asked for a control of a window belongs to that control's window.
        [&] { seam->choosePicture(field, QString(), QString()); },
    };
    for (const auto& open : opens) {
        const Opened seen = openFrom(*seam, *front, open);
        EXPECT_EQ(seen.parent, front);
        EXPECT_EQ(seen.transientParent, front->windowHandle());
        EXPECT_EQ(seen.onTop, GetParam());
    }
}

INSTANTIATE_TEST_SUITE_P(Owner, SeamOwnerTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "StaysOnTop" : "Plain"; });

TEST(CurrentOwnerTest, ModalWindowInFrontThenFallbackThenNone) {
    QWidget main;
    auto* child = new QLineEdit(&main);
    EXPECT_EQ(currentOwner(child), &main);
    QDialog front(&main);
    QWidget* inFront = nullptr;
    QTimer::singleShot(0, &front, [&] {
        inFront = currentOwner(child);
        front.reject();
    });
    front.exec();
    EXPECT_EQ(inFront, &front);
}

} // namespace
