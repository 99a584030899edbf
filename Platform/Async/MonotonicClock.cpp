#include "Platform/Async/MonotonicClock.h"

#include <cmath>
#include <limits>

namespace vt {

Nanoseconds SteadyMonotonicClock::now() const {
    return std::chrono::duration_cast<Nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

Nanoseconds secondsToNanoseconds(double seconds) {
    if (std::isnan(seconds) || seconds <= 0)
        return Nanoseconds{0};
    const double nanos = seconds * 1e9;
    constexpr double limit = 9.0e18; // below the int64 maximum
    if (nanos >= limit)
        return Nanoseconds{static_cast<Nanoseconds::rep>(limit)};
    return Nanoseconds{static_cast<Nanoseconds::rep>(std::llround(nanos))};
}

} // namespace vt
