#pragma once

// Counts the paint events of the widgets it is installed on, so that a window benchmark can tell
// that what it timed really drew.

#include <QEvent>
#include <QObject>

namespace velmo::bench {

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace velmo::bench
