#include "VellumtideAU/LibraryReader/RefreshTimer.h"

#include <QTimer>

namespace {

class QtRefreshTimer final : public RefreshTimer {
public:
    QtRefreshTimer() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (tick)
                tick();
        });
    }

    void start(std::chrono::milliseconds interval, std::function<void()> onTick) override {
        tick = std::move(onTick);
        timer.start(interval);
    }

    // The callback is kept: stop() may be called from inside it.
    void stop() override { timer.stop(); }

    bool isActive() const override { return timer.isActive(); }

private:
    QTimer timer;
    std::function<void()> tick;
};

} // namespace

std::unique_ptr<RefreshTimer> makeQtRefreshTimer() {
    return std::make_unique<QtRefreshTimer>();
}
