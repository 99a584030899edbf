#include "Platform/Async/Sleep.h"

#include <algorithm>
#include <array>
#include <coroutine>
#include <memory>

namespace vt {

namespace {

// Shared by the timer and the cancel callbacks: whichever runs first resumes the coroutine.
struct SleepState {
    std::coroutine_handle<> handle;
    bool resumed = false;
    bool ending = false; // a cancel has scheduled the resumption
    bool elapsed = false;
    Scheduler::TimerId timer = 0;
    // The caller's token and the scheduler's shutdown token, with their registrations.
    std::array<std::pair<CancellationToken, CancellationToken::Registration>, 2> watched;

    void resume(bool fullDelay) {
        resumed = true;
        elapsed = fullDelay;
        for (auto& [token, registration] : watched)
            token.removeCallback(registration);
        handle.resume();
    }
};

class SleepAwaiter {
public:
    SleepAwaiter(Scheduler& scheduler, Nanoseconds delay, CancellationToken token)
        : scheduler(scheduler), delay(delay), token(std::move(token)), state(std::make_shared<SleepState>()) {
    }

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> handle) {
        state->handle = handle;
        auto shared = state;
        Scheduler* owner = &scheduler;
        state->watched = {{{token, 0}, {scheduler.shutdownToken(), 0}}};
        state->timer = scheduler.schedule(delay, [shared] {
            if (shared->resumed)
                return;
            const bool cancelled = std::ranges::any_of(
                shared->watched, [](const auto& watch) { return watch.first.isCancelled(); });
            shared->resume(!cancelled);
        });
        // A cancel resumes on a later turn through a zero-delay timer, never inside cancel().
        for (auto& [watchedToken, registration] : state->watched)
            registration = watchedToken.onCancel([shared, owner] {
                if (shared->resumed || shared->ending)
                    return;
                shared->ending = true;
                owner->cancel(shared->timer);
                shared->timer = owner->schedule(Nanoseconds{0}, [shared] {
                    if (!shared->resumed)
                        shared->resume(false);
                });
            });
    }

    bool await_resume() const noexcept { return state->elapsed; }

private:
    Scheduler& scheduler;
    Nanoseconds delay;
    CancellationToken token;
    std::shared_ptr<SleepState> state;
};

} // namespace

QCoro::Task<bool> sleepFor(Scheduler& scheduler, Nanoseconds delay, CancellationToken token) {
    co_return co_await SleepAwaiter(scheduler, delay, std::move(token));
}

QCoro::Task<> nextTurn(Scheduler& scheduler) {
    co_await SleepAwaiter(scheduler, Nanoseconds{0}, CancellationToken());
}

} // namespace vt
