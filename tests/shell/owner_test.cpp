// What the Qt seam opens belongs to the window in front, whatever parent a window was created
// with, and a stay-on-top owner passes its hint on while the child is open. Headless; the stacking
// this gives under a real window manager is checked by tests/app/stacking_test.cpp.
#include "shell/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace velmo;

namespace {

struct Opened {
    QWidget* parent = nullptr;
    QWindow* transientParent = nullptr;
    bool onTop = false;
};

// Opens front through the seam, runs open inside its loop and records the window open showed.
Opened openFrom(DialogSeam& seam, QDialog& front, const std::function<void()>& open) {
    Opened seen;
    QTimer::singleShot(0, &front, [&] {
        QTimer::singleShot(0, &front, [&] {
            QWidget* w = QApplication::activeModalWidget();
            if (w == &front)
                return;
            seen = {w->parentWidget(), w->windowHandle() ? w->windowHandle()->transientParent() : nullptr,
                    w->windowFlags().testFlag(Qt::WindowStaysOnTopHint)};
            qobject_cast<QDialog*>(w)->done(QDialog::Rejected);
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
        if (GetParam())
            front->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    }

    std::unique_ptr<DialogSeam> seam = makeQtDialogs();
    QWidget main;
    // Both created as children of the main window, as the program creates its windows.
    QDialog* front = new QDialog(&main);
    QDialog* later = new QDialog(&main);
};

TEST_P(SeamOwnerTest, WindowsAndBoxesBelongToTheWindowInFront) {
    Opened seen = openFrom(*seam, *front, [&] { seam->showModal(*later); });
    EXPECT_EQ(seen.transientParent, front->windowHandle());
    EXPECT_EQ(seen.onTop, GetParam());
    // Its own flags and parent are back: opened from the main window it is an ordinary window.
    EXPECT_FALSE(later->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(later->parentWidget(), &main);

    seen = openFrom(*seam, *front, [&] { seam->confirm(QStringLiteral("Frage?")); });
    EXPECT_EQ(seen.parent, front);
    EXPECT_EQ(seen.transientParent, front->windowHandle());
    EXPECT_EQ(seen.onTop, GetParam());
}

// A question whose "Ja" cannot be taken back: Enter and Escape both answer no; only "&Ja" says yes.
TEST(SeamQuestions, TheRiskyQuestionHasNoPreselected) {
    std::unique_ptr<DialogSeam> seam = makeQtDialogs();
    const std::function<void(QMessageBox&)> answers[] = {
        [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); },
        [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); },
        [](QMessageBox& box) {
            for (QAbstractButton* b : box.buttons())
                if (b->text() == QStringLiteral("&Ja"))
                    b->click();
        },
    };
    const bool expected[] = {false, false, true};
    for (int i = 0; i < 3; ++i) {
        QString caption;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            caption = box->windowTitle();
            answers[i](*box);
        });
        EXPECT_EQ(seam->confirmDefaultNo(QStringLiteral("Die Datei „kunden.db“ auf dem Server löschen?")),
                  expected[i])
            << i;
        EXPECT_EQ(caption, QStringLiteral("Bestätigung"));
    }
}

INSTANTIATE_TEST_SUITE_P(Owner, SeamOwnerTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "StaysOnTop" : "Plain"; });

} // namespace
