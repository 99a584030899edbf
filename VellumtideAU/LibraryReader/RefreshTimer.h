#pragma once
// The repeating timer that drives the library's live refresh, injected so that tests fire it by
// hand instead of waiting real seconds.

#include <chrono>
#include <functional>
#include <memory>

class RefreshTimer {
public:
    virtual ~RefreshTimer() = default;
    // Calls onTick every interval on the calling thread's event loop until stop().
    virtual void start(std::chrono::milliseconds interval, std::function<void()> onTick) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// A QTimer on the current thread's Qt event loop.
std::unique_ptr<RefreshTimer> makeQtRefreshTimer();
