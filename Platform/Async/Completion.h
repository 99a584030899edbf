#pragma once
// A one-shot result that callback code fills and one coroutine awaits. The first resolve or
// reject wins; later ones are dropped. The waiter resumes on a later loop turn, never inside the
// callback that completed it, so that callback may still tear down its own objects.

#include <QCoreApplication>
#include <QMetaObject>
#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

namespace vt {

template <typename T> class Completion {
public:
    Completion() : state(std::make_shared<State>()) {}

    bool isDone() const { return state->done; }

    bool resolve(T value) {
        if (state->done)
            return false;
        state->value.emplace(std::move(value));
        finish();
        return true;
    }

    bool reject(std::exception_ptr error) {
        if (state->done)
            return false;
        state->error = std::move(error);
        finish();
        return true;
    }

    template <typename E> bool fail(E error) { return reject(std::make_exception_ptr(std::move(error))); }

    auto operator co_await() const {
        struct Awaiter {
            std::shared_ptr<State> state;
            bool await_ready() const noexcept { return state->done; }
            void await_suspend(std::coroutine_handle<> handle) { state->waiter = handle; }
            T await_resume() {
                if (state->error)
                    std::rethrow_exception(state->error);
                return std::move(*state->value);
            }
        };
        return Awaiter{state};
    }

private:
    struct State {
        std::optional<T> value;
        std::exception_ptr error;
        std::coroutine_handle<> waiter;
        bool done = false;
    };

    void finish() {
        state->done = true;
        if (!state->waiter)
            return;
        auto shared = state;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [shared] {
                auto handle = std::exchange(shared->waiter, nullptr);
                if (handle)
                    handle.resume();
            },
            Qt::QueuedConnection);
    }

    std::shared_ptr<State> state;
};

} // namespace vt
