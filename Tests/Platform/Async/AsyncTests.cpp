#include "Platform/Async/Background.h"
#include "Platform/Async/CancellationToken.h"
#include "Platform/Async/Scheduler.h"
#include "Platform/Async/Sleep.h"
#include "Platform/Async/Spawn.h"
#include "Tests/Support/Patience.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace vt {
namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "AsyncTests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

TEST(SpawnTest, StartsOnNextTurnAndSwallowsExceptions) {
    app();
    std::vector<std::string> log;
    spawn([&log]() -> QCoro::Task<> {
        log.push_back("first");
        co_return;
    });
    spawn([&log]() -> QCoro::Task<> {
        log.push_back("second");
        throw std::runtime_error("boom");
        co_return;
    });
    spawn([&log]() -> QCoro::Task<> {
        log.push_back("third");
        co_return;
    });
    log.push_back("caller");
    drainPostedEvents();
    EXPECT_EQ(log, (std::vector<std::string>{"caller", "first", "second", "third"}));
}

TEST(SleepTest, VirtualTimeFiresInDueOrderAndCancelResumesOnLaterTurn) {
    app();
    VirtualScheduler scheduler;
    std::vector<std::string> log;
    CancellationToken token;
    auto sleeper = [&](std::string name, Nanoseconds delay, CancellationToken cancel) -> QCoro::Task<> {
        const bool elapsed = co_await sleepFor(scheduler, delay, cancel);
        log.push_back(name + (elapsed ? ":elapsed@" : ":cancelled@") + std::to_string(scheduler.now() / 1ms));
    };
    spawn([&] { return sleeper("long", 8s, token); });
    spawn([&] { return sleeper("short", 350ms, CancellationToken()); });
    spawn([&] { return sleeper("mid", 1250ms, CancellationToken()); });
    scheduler.runReady();
    EXPECT_TRUE(log.empty());
    scheduler.advanceBy(1300ms);
    EXPECT_EQ(log, (std::vector<std::string>{"short:elapsed@350", "mid:elapsed@1250"}));

    token.cancel();
    log.push_back("after-cancel"); // the cancelled sleeper must not run inside cancel()
    scheduler.runReady();
    EXPECT_EQ(log.back(), "long:cancelled@1300");
    EXPECT_EQ(log[2], "after-cancel");
    EXPECT_EQ(scheduler.pendingTimers(), 0u);

    // A token cancelled before the sleep starts ends it at once, on the next turn.
    spawn([&] { return sleeper("pre", 5s, token); });
    scheduler.runReady();
    EXPECT_EQ(log.back(), "pre:cancelled@1300");
}

TEST(SleepTest, ShutDownEndsEverySleepAsCancelledSoItsCoroutinesFinish) {
    app();
    VirtualScheduler scheduler;
    std::vector<std::string> log;
    // Lives in the coroutine's frame: its destructor says that the frame was freed.
    struct FrameWitness {
        std::vector<std::string>* log;
        ~FrameWitness() { log->push_back("frame freed"); }
    };
    spawn([&]() -> QCoro::Task<> {
        FrameWitness witness{&log};
        int ticks = 0;
        while (co_await sleepFor(scheduler, 1s)) // a loop that nothing but shutdown stops
            ++ticks;
        log.push_back("loop ended after " + std::to_string(ticks) + " ticks");
    });
    scheduler.schedule(10s, [&] { log.push_back("timeout fired"); });
    scheduler.advanceBy(2500ms);
    EXPECT_TRUE(log.empty());

    scheduler.shutDown();
    EXPECT_EQ(log, (std::vector<std::string>{"loop ended after 2 ticks", "frame freed", "timeout fired"}));
    EXPECT_EQ(scheduler.pendingTimers(), 0u);

    // A sleep started after shutdown ends at once, as cancelled.
    std::optional<bool> late;
    spawn([&]() -> QCoro::Task<> { late = co_await sleepFor(scheduler, 1h); });
    scheduler.runReady();
    EXPECT_EQ(late, false);
}

TEST(SleepTest, RealSchedulerSleepsAtLeastTheDelay) {
    app();
    QtScheduler scheduler;
    bool done = false;
    bool elapsed = false;
    QElapsedTimer watch;
    watch.start();
    spawn([&]() -> QCoro::Task<> {
        elapsed = co_await sleepFor(scheduler, 30ms);
        done = true;
    });
    while (!done && watch.elapsed() < vt::test::patienceMilliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    EXPECT_TRUE(done);
    EXPECT_TRUE(elapsed);
    EXPECT_GE(watch.elapsed(), 30);
}

TEST(BackgroundTest, ReturnsValuesAndRethrowsTheOriginalException) {
    app();
    int value = 0;
    std::string error;
    bool done = false;
    spawn([&]() -> QCoro::Task<> {
        value = co_await runInBackground(userInitiatedPool(), [] { return 6 * 7; });
        try {
            co_await runInBackground(utilityPool(), [] { throw std::invalid_argument("bad input"); });
        } catch (const std::invalid_argument& failure) {
            error = failure.what();
        }
        done = true;
    });
    QElapsedTimer watch;
    watch.start();
    while (!done && watch.elapsed() < vt::test::patienceMilliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(error, "bad input");
}

TEST(CancellationTokenTest, CopiesShareStateAndCallbacksRunOnce) {
    CancellationToken token;
    CancellationToken copy = token;
    int calls = 0;
    const auto removed = token.onCancel([&] { calls += 100; });
    token.onCancel([&] { ++calls; });
    token.removeCallback(removed);
    copy.cancel();
    copy.cancel();
    EXPECT_TRUE(token.isCancelled());
    EXPECT_EQ(calls, 1);
    token.onCancel([&] { ++calls; }); // already cancelled: runs at once
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(CancellationToken().isCancelled());
}

} // namespace
} // namespace vt
