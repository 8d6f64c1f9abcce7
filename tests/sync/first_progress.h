#pragma once

#include "sync/core/shopconnection.h"

#include <functional>
#include <utility>

namespace velmo::test {

// Runs a step once, at the first progress of the operation it watches: from inside the operation,
// while it waits for its data, as a click would come in.
struct AtFirstProgress : sync::ConnectionObserver {
    std::function<void()> step;
    void progress(std::int64_t, std::int64_t) override {
        if (step)
            std::exchange(step, {})();
    }
};

} // namespace velmo::test
