// The preview player against a real PulseAudio server with a null sink, recorded through the
// sink's monitor. Skips when the test services did not start a server (VT_TEST_PULSE unset).

#include "Platform/Audio/Player/AudioPlayer.h"
#include "Tests/Platform/Audio/Player/MonitorRecording.h"
#include "Tests/Platform/Audio/Player/ScopedEnvironment.h"
#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "Tests/Support/TemporaryFolder.h"

#include <QElapsedTimer>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace vt::test {
namespace {

using namespace std::chrono_literals;

constexpr double rate = monitorRate;

Channels tone(double seconds, double frequency = 1000) {
    return replicate(sineWave(frequency, rate, framesFor(seconds, rate)), 2);
}

class PulseAudioPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("VT_TEST_PULSE"))
            GTEST_SKIP() << "no PulseAudio test server (source scripts/test-services.sh; vt_start_services)";
        testApplication();
    }
    TemporaryFolder folder;
};

TEST_F(PulseAudioPlayerTest, PlaysAudiblyToItsEndAndReportsTheFinish) {
    auto player = makePulseAudioPlayer(rate, tone(0.4));
    EXPECT_NEAR(player->duration(), 0.4, 1e-9);
    bool finished = false;
    player->setFinishHandler([&](bool successfully) { finished = successfully; });
    player->setVolume(1.0f);
    MonitorRecording recording(folder / "once.wav");
    ASSERT_TRUE(player->play());
    EXPECT_TRUE(player->isPlaying()) << "playing is logical: set by play() itself";
    EXPECT_LT(player->currentTime(), 0.2) << "it starts at the beginning";
    ASSERT_TRUE(turnLoopUntil([&] { return finished; }, patience));
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0);
    auto heard = measureLoudness(recording.finish());
    EXPECT_NEAR(heard.seconds, 0.4, 0.08);
    EXPECT_NEAR(heard.frequency, 1000, 50);
}

TEST_F(PulseAudioPlayerTest, LoopsStopsAndDropsLateCallbacks) {
    auto looping = makePulseAudioPlayer(rate, tone(0.25));
    bool finished = false;
    looping->setFinishHandler([&](bool) { finished = true; });
    looping->setNumberOfLoops(1);
    {
        MonitorRecording recording(folder / "loop.wav");
        ASSERT_TRUE(looping->play());
        ASSERT_TRUE(turnLoopUntil([&] { return finished; }, patience));
        EXPECT_NEAR(measureLoudness(recording.finish()).seconds, 0.5, 0.08);
    }

    auto endless = makePulseAudioPlayer(rate, tone(0.2));
    bool late = false;
    endless->setFinishHandler([&](bool) { late = true; });
    endless->setNumberOfLoops(-1);
    MonitorRecording recording(folder / "stop.wav");
    QElapsedTimer playing;
    playing.start();
    ASSERT_TRUE(endless->play());
    turnLoopUntil([] { return false; }, 700ms);
    EXPECT_TRUE(endless->isPlaying()) << "an endless loop never ends by itself";
    double position = endless->currentTime();
    EXPECT_GE(position, 0.0);
    EXPECT_LT(position, 0.2 + 1e-9);
    endless->setNumberOfLoops(0);                        // changed while playing: ends after this pass
    const double loopedFor = playing.elapsed() / 1000.0; // the sound can be no longer
    ASSERT_TRUE(turnLoopUntil([&] { return late; }, patience));
    late = false;
    ASSERT_TRUE(endless->play());
    endless->stop();
    turnLoopUntil([] { return false; }, 400ms);
    EXPECT_FALSE(late) << "a stopped player reports nothing";
    EXPECT_FALSE(endless->isPlaying());
    auto heard = measureLoudness(recording.finish());
    EXPECT_GT(heard.seconds, 0.4) << "it looped";
    EXPECT_LT(heard.seconds, loopedFor + 0.2 + 0.1)
        << "it ended after the pass under way; the stop was heard";
}

// Needs no server: it points the player at one that does not exist.
TEST(PulseAudioPlayer, PlayIsRefusedWithoutAServerAndUnreadableFilesFailAtOpen) {
    testApplication();
    TemporaryFolder folder;
    {
        // The client's cookie goes into the temporary folder, never into a home folder.
        ScopedEnvironment server("PULSE_SERVER", "unix:" + (folder / "no-server").string());
        ScopedEnvironment cookie("PULSE_COOKIE", (folder / "cookie").string());
        auto player = makePulseAudioPlayer(rate, tone(0.1));
        EXPECT_FALSE(player->prepareToPlay());
        EXPECT_FALSE(player->play());
        EXPECT_FALSE(player->isPlaying());
    }
    EXPECT_THROW(makePulseAudioPlayer(rate, {}), AudioPlayerError);
    PulseAudioPlayerFactory factory;
    EXPECT_THROW(factory.open(folder / "missing.m4a"), AudioPlayerError);
    std::ofstream(folder / "broken.wav") << "RIFF but nothing else";
    EXPECT_THROW(factory.open(folder / "broken.wav"), AudioPlayerError);
    writeWav(folder / "short.wav", rate, tone(0.25));
    EXPECT_NEAR(factory.open(folder / "short.wav")->duration(), 0.25, 1e-6);
}

} // namespace
} // namespace vt::test
