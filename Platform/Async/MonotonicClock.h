#pragma once
// A monotonic clock for every "how long since": injected so tests can run on virtual time.

#include <chrono>

namespace vt {

using Nanoseconds = std::chrono::nanoseconds;

class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    // Time since an arbitrary fixed origin; never goes backwards.
    virtual Nanoseconds now() const = 0;
};

// std::chrono::steady_clock.
class SteadyMonotonicClock final : public MonotonicClock {
public:
    Nanoseconds now() const override;
};

// Seconds as a double into nanoseconds (negative and NaN become zero, huge values saturate).
Nanoseconds secondsToNanoseconds(double seconds);

} // namespace vt
