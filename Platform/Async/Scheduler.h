#pragma once
// Timers behind an interface: QtScheduler runs them on the Qt event loop, VirtualScheduler on a
// virtual clock that tests advance by hand.

#include "Platform/Async/CancellationToken.h"
#include "Platform/Async/MonotonicClock.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class QTimer;

namespace vt {

class Scheduler {
public:
    using TimerId = std::uint64_t;

    virtual ~Scheduler() = default;
    virtual const MonotonicClock& clock() const = 0;
    // Runs action once, delay from now, on the scheduler's thread (the main thread).
    virtual TimerId schedule(Nanoseconds delay, std::function<void()> action) = 0;
    // Drops a timer that has not fired yet; unknown or fired ids are ignored.
    virtual void cancel(TimerId id) = 0;
    // Cancelled when the scheduler shuts down: every sleep on it then ends as cancelled, so no
    // coroutine stays suspended on a timer that will never fire.
    const CancellationToken& shutdownToken() const { return shutdown; }

protected:
    CancellationToken shutdown;
};

// Real time: one precise single-shot QTimer per scheduled action.
class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;
    const MonotonicClock& clock() const override { return steadyClock; }
    TimerId schedule(Nanoseconds delay, std::function<void()> action) override;
    void cancel(TimerId id) override;

private:
    SteadyMonotonicClock steadyClock;
    std::map<TimerId, QTimer*> timers;
    TimerId nextId = 1;
};

// Virtual time for tests: nothing fires until advanceBy() moves the clock; between timers it
// lets the Qt loop run posted work (spawned tasks) so coroutines make progress.
class VirtualScheduler final : public Scheduler {
public:
    // Shuts down (see shutDown) while a Qt application still exists to run the ending work.
    ~VirtualScheduler() override;

    class Clock final : public MonotonicClock {
    public:
        Nanoseconds now() const override { return current; }
        Nanoseconds current{0};
    };

    const MonotonicClock& clock() const override { return virtualClock; }
    TimerId schedule(Nanoseconds delay, std::function<void()> action) override;
    void cancel(TimerId id) override;

    // Fires every timer due within delta in due order (ties in scheduling order), then sets the
    // clock to now + delta.
    void advanceBy(Nanoseconds delta);
    // Runs posted Qt work and timers due now until nothing more is ready.
    void runReady();
    std::size_t pendingTimers() const { return timers.size(); }
    // For the end of a test: ends every sleep as cancelled, lets time run out for the other
    // timers (each fires in due order) and runs posted work, until nothing is left, so the
    // coroutines waiting on this scheduler finish and free their frames. Sleeps started later
    // end as cancelled at once.
    void shutDown();
    Nanoseconds now() const { return virtualClock.current; }

private:
    struct Key {
        Nanoseconds due;
        TimerId id;
        auto operator<=>(const Key&) const = default;
    };
    bool fireNextDue(Nanoseconds limit);
    Clock virtualClock;
    std::map<Key, std::function<void()>> timers;
    std::map<TimerId, Nanoseconds> dueById;
    TimerId nextId = 1;
};

// Lets posted Qt events (spawned tasks, queued calls) run until none are left; for tests.
void drainPostedEvents();

} // namespace vt
