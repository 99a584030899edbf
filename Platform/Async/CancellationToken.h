#pragma once
// A shared cancellation flag: copies share one state; cancel() sets it once and runs the
// registered callbacks (on the calling thread). Used to stop stored tasks and their sleeps.

#include <cstdint>
#include <functional>
#include <memory>

namespace vt {

class CancellationToken {
public:
    using Callback = std::function<void()>;
    using Registration = std::uint64_t;

    CancellationToken();

    void cancel() const;
    bool isCancelled() const;

    // Runs callback on cancel(); at once when already cancelled (then returns 0).
    Registration onCancel(Callback callback) const;
    void removeCallback(Registration registration) const;

    bool operator==(const CancellationToken& other) const { return state == other.state; }

private:
    struct State;
    std::shared_ptr<State> state;
};

} // namespace vt
