#include "memtable/qt/datalink.h"

#include <QtGlobal>

#include <stdexcept>

namespace velmo {

namespace {

DataLinkErrorHandler& handler() {
    static DataLinkErrorHandler h;
    return h;
}

} // namespace

DataLinkErrorHandler setDataLinkErrorHandler(DataLinkErrorHandler h) {
    DataLinkErrorHandler old = std::move(handler());
    handler() = std::move(h);
    return old;
}

void reportDataLinkError(const std::exception& e) {
    if (handler()) {
        try {
            handler()(e);
            return;
        } catch (...) {
            // A failing handler must not take the program down; fall through to the log.
        }
    }
    qWarning("%s", e.what());
}

bool runLinked(const std::function<void()>& f) noexcept {
    try {
        f();
        return true;
    } catch (const std::exception& e) {
        reportDataLinkError(e);
    } catch (...) {
        reportDataLinkError(std::runtime_error("unbekannter Fehler"));
    }
    return false;
}

} // namespace velmo
