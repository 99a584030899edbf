#pragma once
// A long loop on the main thread cut into slices: once a slice has run its length (real time,
// whatever the scheduler's clock says), the loop gives the event loop a turn, so the window never
// waits on it for long.

#include "Platform/Async/Scheduler.h"
#include "Platform/Async/Sleep.h"

#include <chrono>
#include <qcoro/qcorotask.h>

namespace vt {

class TimeSlice {
public:
    // Well under a frame (16 ms), with room for the loop's other work.
    static constexpr std::chrono::milliseconds defaultLength{4};

    explicit TimeSlice(std::chrono::nanoseconds length = defaultLength) : length(length) {}

    // True once this slice has run its length: the loop then awaits yield() before going on.
    bool isSpent() const { return std::chrono::steady_clock::now() - start >= length; }

    // A turn of the scheduler's loop; a new slice starts after it.
    QCoro::Task<> yield(Scheduler& scheduler) {
        co_await nextTurn(scheduler);
        start = std::chrono::steady_clock::now();
    }

private:
    std::chrono::nanoseconds length;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

} // namespace vt
