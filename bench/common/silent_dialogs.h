#pragma once

// The dialog seam of the window benchmarks: nothing may wait on a user. Questions get the answer
// given at construction; every message is counted and written to stderr, since none is expected.

#include "shell/dialogs.h"

#include <QString>

#include <cstdio>

namespace velmo::bench {

class SilentDialogs : public DialogSeam {
public:
    explicit SilentDialogs(bool answer = true) : m_answer(answer) {}

    void showMessage(const QString& t) override { report("message", t); }
    void showError(const QString& t) override { report("error", t); }
    bool confirm(const QString&) override { return m_answer; }
    bool confirmDefaultNo(const QString&) override { return m_answer; }
    bool confirmOkCancel(const QString&) override { return m_answer; }
    void information(const QString& t) override { report("information", t); }
    void notice(const QString& t) override { report("notice", t); }
    QString choosePicture(QWidget*, const QString&, const QString&) override { return {}; }
    bool choosePrinter(QWidget*, QPrinter&) override { return false; }
    QString choosePdfFile(QWidget*, const QString&) override { return {}; }
    int showModal(QDialog&) override { return 0; }
    int problems = 0;

private:
    void report(const char* kind, const QString& t) {
        ++problems;
        std::fprintf(stderr, "%s: %s\n", kind, t.toLocal8Bit().constData());
    }

    bool m_answer;
};

} // namespace velmo::bench
