#include "Platform/Async/Sleep.h"

#include <coroutine>
#include <memory>

namespace vt {

namespace {

// Shared by the timer and the cancel callback: whichever runs first resumes the coroutine.
struct SleepState {
    std::coroutine_handle<> handle;
    bool resumed = false;
    bool elapsed = false;
    Scheduler::TimerId timer = 0;
    CancellationToken::Registration registration = 0;
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
        CancellationToken cancellation = token;
        state->timer = scheduler.schedule(delay, [shared, cancellation] {
            if (shared->resumed)
                return;
            shared->resumed = true;
            shared->elapsed = !cancellation.isCancelled();
            cancellation.removeCallback(shared->registration);
            shared->handle.resume();
        });
        // A cancel resumes on a later turn through a zero-delay timer, never inside cancel().
        state->registration = token.onCancel([shared, owner] {
            if (shared->resumed)
                return;
            owner->cancel(shared->timer);
            shared->timer = owner->schedule(Nanoseconds{0}, [shared] {
                if (shared->resumed)
                    return;
                shared->resumed = true;
                shared->elapsed = false;
                shared->handle.resume();
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
