// Centring a window and keeping it on the screen.
#include "shell/windows.h"

#include <gtest/gtest.h>

using namespace velmo;

namespace {

struct Placement {
    const char* what;
    QSize window;
    QPoint centre;
    QRect area;
    QPoint topLeft;
};

TEST(CentredWithin, StaysOnTheAreaWithTheTitleBarReachable) {
    const QRect screen(0, 0, 1280, 1024);
    // A second screen right of the first, with a panel along its top.
    const QRect right(1280, 30, 1920, 1050);
    const Placement cases[] = {
        {"fits: centred", {400, 300}, {640, 512}, screen, {441, 363}},
        {"past the right and bottom edges", {800, 600}, {1100, 900}, screen, {480, 424}},
        {"past the left and top edges", {800, 600}, {200, 100}, screen, {0, 0}},
        {"larger than the area", {1600, 1200}, {640, 512}, screen, {0, 0}},
        {"on a screen not at the origin", {800, 600}, {1300, 40}, right, {1280, 30}},
        {"fits exactly", {1920, 1050}, {2240, 555}, right, {1280, 30}},
    };
    for (const Placement& c : cases) {
        SCOPED_TRACE(c.what);
        const QRect placed = centredWithin(QRect(QPoint(7, 9), c.window), c.centre, c.area);
        EXPECT_EQ(placed.topLeft(), c.topLeft);
        EXPECT_EQ(placed.size(), c.window);
    }
}

} // namespace
