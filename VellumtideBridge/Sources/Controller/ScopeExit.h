#pragma once
// Runs a function when the scope ends, on every exit path (also when a coroutine frame ends).

#include <functional>
#include <utility>

class ScopeExit {
public:
    explicit ScopeExit(std::function<void()> action) : action(std::move(action)) {}
    ~ScopeExit() {
        if (action)
            action();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    std::function<void()> action;
};
