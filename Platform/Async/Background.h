#pragma once
// Work off the main thread: a function run on a thread pool and awaited from a main-thread
// coroutine. The function returns its result by value and touches no main-thread state.

#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrent>
#include <exception>
#include <memory>
#include <optional>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>
#include <type_traits>

namespace vt {

// Normal priority (rendering, chop detection).
QThreadPool& userInitiatedPool();
// Low priority (analysis).
QThreadPool& utilityPool();

// The exception work throws is rethrown, unchanged, at the co_await.
//
// g++ 12 destroys a braced or closure temporary twice when it is created inside a co_await
// expression, so a capturing lambda must not be written inside `co_await runInBackground(...)`:
// build the task in a plain (non-coroutine) function and return it, or name the lambda first.
template <typename F>
auto runInBackground(QThreadPool& pool, F work) -> QCoro::Task<std::invoke_result_t<F&>> {
    using Result = std::invoke_result_t<F&>;
    using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;
    struct Outcome {
        std::optional<Stored> value;
        std::exception_ptr error;
    };
    // Held by pointer: the future hands out copies of its result, and a large result (a whole
    // library) must not be copied on the main thread.
    auto future = QtConcurrent::run(&pool, [work = std::move(work)]() mutable {
        auto outcome = std::make_shared<Outcome>();
        try {
            if constexpr (std::is_void_v<Result>) {
                work();
                outcome->value = true;
            } else {
                outcome->value.emplace(work());
            }
        } catch (...) {
            outcome->error = std::current_exception();
        }
        return outcome;
    });
    std::shared_ptr<Outcome> outcome = co_await future;
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<Result>)
        co_return std::move(*outcome->value);
}

// Frees a large value (a whole library) on the low-priority pool, so that its destruction does
// not hold up the calling thread.
template <typename T> void releaseInBackground(T value) {
    utilityPool().start([held = std::make_shared<T>(std::move(value))]() mutable { held.reset(); });
}

} // namespace vt
