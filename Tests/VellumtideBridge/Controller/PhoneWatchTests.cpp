// The watch loop and the debounced automatic sync, on virtual time against the fake phone.

#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/PhoneFixture.h"

namespace vt::test {
namespace {

using namespace std::chrono_literals;

class PhoneWatchTest : public PhoneTest {
protected:
    // Lets a sync that was started finish (its requests are real, its clock is virtual).
    void finishBackgroundSync() {
        ASSERT_TRUE(turnUntil([&] { return !probe(*model).isWatchSyncing && !model->isSyncing(); }));
    }
};

TEST_F(PhoneWatchTest, WatchLoopSyncsTheSelectedPhoneOneTickAfterTheOther) {
    offer("one", 100);
    trust();
    auto& m = start();
    settle();
    EXPECT_EQ(m.watchMessage(), "Waiting for iPhone");
    scheduler->advanceBy(3s);
    EXPECT_EQ(phone.connectionCount(), 0u);

    m.merge({device()});
    scheduler->advanceBy(1500ms);
    ASSERT_TRUE(turnUntil([&] { return phone.requestCount("/samples/one.wav") == 1; }));
    finishBackgroundSync();
    EXPECT_TRUE(std::filesystem::exists(samplesFolder() / "one.wav"));
    EXPECT_TRUE(m.watchMessage().rfind("Added 1 at ", 0) == 0) << m.watchMessage();

    // The pause counts from the end of a tick.
    scheduler->advanceBy(1499ms);
    EXPECT_EQ(phone.requestCount("/health"), 1u);
    scheduler->advanceBy(1ms);
    ASSERT_TRUE(turnUntil([&] { return phone.requestCount("/health") == 2; }));
    finishBackgroundSync();
    EXPECT_EQ(m.watchMessage(), "Background sync on");

    // Switching on twice keeps one loop; switching off stops it at once.
    const auto loop = *probe(m).watchTask;
    m.setIsWatchModeEnabled(true);
    EXPECT_EQ(*probe(m).watchTask, loop);
    m.setIsWatchModeEnabled(false);
    EXPECT_FALSE(probe(m).watchTask);
    EXPECT_EQ(m.watchMessage(), "Watch mode off");
    EXPECT_EQ(m.statusMessage(), "Ready");
    scheduler->advanceBy(10s);
    turnLoopUntil([] { return false; }, 50ms);
    EXPECT_EQ(phone.requestCount("/health"), 2u);
}

TEST_F(PhoneWatchTest, SwitchingOffDuringABackgroundSyncLetsItFinish) {
    offer("one", 100);
    trust();
    FakeReply slow = FakeReply::ok("[]");
    slow.delayBeforeReply = 200ms;
    phone.queueReply("/library.json", slow);
    auto& m = start();
    settle();
    m.merge({device()});
    scheduler->advanceBy(1500ms);
    ASSERT_TRUE(turnUntil([&] { return phone.requestCount("/library.json") == 1; }));
    EXPECT_TRUE(probe(m).isWatchSyncing);
    m.setIsWatchModeEnabled(false);
    EXPECT_EQ(m.watchMessage(), "Watch mode off");
    EXPECT_EQ(m.statusMessage(), "Ready");
    finishBackgroundSync();
    EXPECT_EQ(m.watchMessage(), "Background sync on");
    scheduler->advanceBy(5s);
    EXPECT_EQ(phone.requestCount("/health"), 1u);

    // With nothing selected a tick only says so.
    m.restartBrowsing();
    m.setIsWatchModeEnabled(true);
    settle();
    EXPECT_EQ(m.watchMessage(), "Waiting for iPhone");
}

TEST_F(PhoneWatchTest, AutomaticSyncIsDebouncedAndSpacedPerPhone) {
    trust();
    auto& m = start();
    settle();
    m.setIsWatchModeEnabled(false);
    m.requestAutoSync(); // nothing selected: nothing pending
    EXPECT_FALSE(probe(m).autoSyncTask);
    m.merge({device()});

    // Two requests 0.1 s apart: one sync, 0.35 s after the second.
    m.requestAutoSync();
    scheduler->advanceBy(100ms);
    m.requestAutoSync();
    scheduler->advanceBy(349ms);
    EXPECT_EQ(phone.connectionCount(), 0u);
    scheduler->advanceBy(1ms);
    ASSERT_TRUE(turnUntil([&] { return phone.requestCount("/health") == 1; }));
    finishBackgroundSync();
    const auto firstStart = scheduler->now();

    // Within 1.25 s of the last start of this phone: skipped.
    m.requestAutoSync();
    scheduler->advanceBy(350ms);
    turnLoopUntil([] { return false; }, 50ms);
    EXPECT_EQ(phone.requestCount("/health"), 1u);

    // 1.3 s after it: runs.
    scheduler->advanceBy(firstStart + 950ms - scheduler->now());
    m.requestAutoSync();
    scheduler->advanceBy(350ms);
    ASSERT_TRUE(turnUntil([&] { return phone.requestCount("/health") == 2; }));
    finishBackgroundSync();

    // A user sync running: the due check starts nothing but still records its time.
    m.setIsSyncing(true);
    scheduler->advanceBy(2s);
    m.requestAutoSync();
    scheduler->advanceBy(350ms);
    turnLoopUntil([] { return false; }, 50ms);
    EXPECT_EQ(phone.requestCount("/health"), 2u);
    EXPECT_EQ(probe(m).lastAutoSyncAtByDeviceID.at(device().id), scheduler->now());
    m.setIsSyncing(false);
}

} // namespace
} // namespace vt::test
