#pragma once
// The preview player's contract: what every player does, the PulseAudio one and the tests' fake
// alike. Each backend instantiates these cases with a type that opens its players, lets time
// pass (real or virtual), takes the sound server away and makes the server drop its streams.

#include "Platform/Audio/Player/AudioPlayer.h"
#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/Support/Patience.h"
#include "Tests/Support/TemporaryFolder.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace vt::test {

using namespace std::chrono_literals;

// Every handler call a player made, in order.
struct HandlerCalls {
    std::vector<bool> finishes;
    std::vector<std::string> errors;
    bool any() const { return !finishes.empty() || !errors.empty(); }

    void watch(AudioPlayer& player) {
        player.setFinishHandler([this](bool successfully) { finishes.push_back(successfully); });
        player.setErrorHandler([this](const std::string& description) { errors.push_back(description); });
    }
};

template <typename Backend> class AudioPlayerContract : public ::testing::Test {
protected:
    void SetUp() override {
        if (!backend.available())
            GTEST_SKIP() << backend.unavailableReason();
    }

    // A float WAV of a 440 Hz tone of the given length at 48 kHz, stereo.
    std::filesystem::path tone(const std::string& name, double seconds) {
        const auto path = folder / (name + ".wav");
        writeWav(path, 48000, replicate(sineWave(440, 48000, framesFor(seconds, 48000), 0.2), 2));
        return path;
    }

    std::unique_ptr<AudioPlayer> openTone(double seconds) { return backend.open(tone("tone", seconds)); }

    TemporaryFolder folder;
    Backend backend;
};

TYPED_TEST_SUITE_P(AudioPlayerContract);

TYPED_TEST_P(AudioPlayerContract, OpensWholeFilesAndRefusesBrokenOnesAtOnce) {
    auto player = this->openTone(0.25);
    EXPECT_NEAR(player->duration(), 0.25, 1e-6);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0);
    EXPECT_FLOAT_EQ(player->volume(), 1.0f);
    EXPECT_EQ(player->numberOfLoops(), 0);

    EXPECT_THROW(this->backend.open(this->folder / "missing.wav"), AudioPlayerError);
    std::ofstream(this->folder / "broken.wav") << "RIFF but nothing else";
    EXPECT_THROW(this->backend.open(this->folder / "broken.wav"), AudioPlayerError);
}

TYPED_TEST_P(AudioPlayerContract, PlaysToItsEndOnceAndReportsTheFinishOnce) {
    auto player = this->openTone(1.0);
    HandlerCalls calls;
    calls.watch(*player);
    ASSERT_TRUE(player->prepareToPlay());
    ASSERT_TRUE(player->play());
    EXPECT_TRUE(player->isPlaying()) << "playing is set by play() itself";
    EXPECT_LT(player->currentTime(), 0.5) << "it starts at the beginning";

    // While it plays, the time moves on and stays within the sound; up to the finish (the stream
    // drains after the last frame) it never starts again at 0 on a sound that plays once.
    double latest = 0;
    ASSERT_TRUE(this->backend.waitUntil(
        [&] {
            // A time read after the finish reads 0: only a read while it still plays counts.
            const double time = player->currentTime();
            const double now = player->isPlaying() ? time : latest;
            EXPECT_GE(now, latest);
            EXPECT_LE(now, 1.0 + 1e-9);
            latest = now;
            return calls.any();
        },
        patience));
    EXPECT_GT(latest, 0.0) << "the time moved on";
    EXPECT_EQ(calls.finishes, std::vector<bool>{true});
    EXPECT_TRUE(calls.errors.empty());
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0) << "after its end the time reads 0, not the duration";
    this->backend.letTimePass(300ms);
    EXPECT_EQ(calls.finishes.size(), 1u) << "the finish is reported once";

    // Played again, it starts from the beginning and finishes again.
    ASSERT_TRUE(player->play());
    EXPECT_LT(player->currentTime(), 0.5);
    ASSERT_TRUE(this->backend.waitUntil([&] { return calls.finishes.size() == 2; }, patience));
}

TYPED_TEST_P(AudioPlayerContract, LoopsWrapTheTimeAndFinishOnlyAfterTheLastPass) {
    auto endless = this->openTone(0.2);
    HandlerCalls calls;
    calls.watch(*endless);
    endless->setNumberOfLoops(-7);
    EXPECT_EQ(endless->numberOfLoops(), -1);
    ASSERT_TRUE(endless->play());
    double previous = 0;
    bool wrapped = false;
    ASSERT_TRUE(this->backend.waitUntil(
        [&] {
            const double now = endless->currentTime();
            EXPECT_GE(now, 0.0);
            EXPECT_LE(now, 0.2 + 1e-9);
            wrapped = wrapped || now + 0.05 < previous;
            previous = now;
            return wrapped;
        },
        patience))
        << "the time starts again at each pass";
    this->backend.letTimePass(500ms);
    EXPECT_TRUE(endless->isPlaying()) << "an endless loop never ends by itself";
    EXPECT_FALSE(calls.any());

    endless->setNumberOfLoops(0); // changed while playing: ends after this pass
    ASSERT_TRUE(this->backend.waitUntil([&] { return calls.any(); }, patience));
    EXPECT_EQ(calls.finishes, std::vector<bool>{true});

    // One further pass: the time starts again while it plays, and only then does it finish.
    auto twice = this->openTone(0.5);
    HandlerCalls twiceCalls;
    twiceCalls.watch(*twice);
    twice->setNumberOfLoops(1);
    ASSERT_TRUE(twice->play());
    double last = 0;
    bool secondPass = false;
    ASSERT_TRUE(this->backend.waitUntil(
        [&] {
            const double now = twice->currentTime(); // read before the state: 0 once it has ended
            secondPass = secondPass || (twice->isPlaying() && now + 0.05 < last);
            last = now;
            return secondPass || twiceCalls.any();
        },
        patience));
    EXPECT_TRUE(secondPass) << "it finished after one pass";
    ASSERT_TRUE(this->backend.waitUntil([&] { return twiceCalls.any(); }, patience));
    EXPECT_EQ(twiceCalls.finishes.size(), 1u);
}

// The sounds last far longer than the waits before each stop, so none ends by itself first however
// late the test runs; each check for a late report waits past the sound's end.
TYPED_TEST_P(AudioPlayerContract, StopEndsAtOnceAndNothingIsReportedAfterwards) {
    auto player = this->backend.open(this->tone("long", 10.0));
    HandlerCalls calls;
    calls.watch(*player);
    ASSERT_TRUE(player->play());
    this->backend.letTimePass(100ms);
    player->stop();
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0);
    this->backend.letTimePass(500ms);
    EXPECT_FALSE(calls.any()) << "a stopped player reports no finish";

    // A new start drops the finish of the run it replaced; only the last run reports.
    auto restarted = this->openTone(1.0);
    HandlerCalls restartedCalls;
    restartedCalls.watch(*restarted);
    ASSERT_TRUE(restarted->play());
    this->backend.letTimePass(100ms);
    ASSERT_TRUE(restarted->play());
    ASSERT_TRUE(this->backend.waitUntil([&] { return restartedCalls.any(); }, patience));
    this->backend.letTimePass(300ms);
    EXPECT_EQ(restartedCalls.finishes.size(), 1u);

    // A player that goes while it plays reports nothing afterwards.
    std::vector<bool> droppedFinishes;
    {
        auto dropped = this->openTone(1.0);
        dropped->setFinishHandler([&](bool) { droppedFinishes.push_back(false); });
        ASSERT_TRUE(dropped->play());
        this->backend.letTimePass(30ms);
    }
    this->backend.letTimePass(1200ms);
    EXPECT_TRUE(droppedFinishes.empty());
}

TYPED_TEST_P(AudioPlayerContract, WithoutASoundServerPlayIsRefused) {
    auto player = this->openTone(0.2);
    HandlerCalls calls;
    calls.watch(*player);
    this->backend.withoutServer([&] {
        EXPECT_FALSE(player->prepareToPlay());
        EXPECT_FALSE(player->play());
    });
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0);
    this->backend.letTimePass(300ms);
    EXPECT_FALSE(calls.any());
}

TYPED_TEST_P(AudioPlayerContract, AStreamTheServerDropsReportsOneErrorAndNoFinish) {
    auto player = this->backend.open(this->tone("long", 10.0)); // still playing when the server drops it
    HandlerCalls calls;
    calls.watch(*player);
    ASSERT_TRUE(player->play());
    this->backend.letTimePass(150ms);
    this->backend.dropStreams();
    ASSERT_TRUE(this->backend.waitUntil([&] { return calls.any(); }, patience));
    ASSERT_EQ(calls.errors.size(), 1u);
    EXPECT_EQ(calls.errors[0].rfind("The sound output failed: ", 0), 0u) << calls.errors[0];
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0);
    this->backend.letTimePass(1200ms);
    EXPECT_TRUE(calls.finishes.empty());
    EXPECT_EQ(calls.errors.size(), 1u);

    // The player plays again afterwards.
    ASSERT_TRUE(player->play());
    EXPECT_TRUE(player->isPlaying());
    player->stop();
}

TYPED_TEST_P(AudioPlayerContract, VolumeIsClampedToTheUnitRange) {
    auto player = this->openTone(0.1);
    for (auto [given, kept] : std::vector<std::pair<float, float>>{
             {0.3f, 0.3f}, {1.5f, 1.0f}, {-0.2f, 0.0f}, {std::numeric_limits<float>::quiet_NaN(), 0.0f}}) {
        player->setVolume(given);
        EXPECT_FLOAT_EQ(player->volume(), kept) << given;
    }
    player->setVolume(0.5f);
    ASSERT_TRUE(player->play());
    EXPECT_FLOAT_EQ(player->volume(), 0.5f);
    player->setVolume(0.25f); // applies while playing
    EXPECT_FLOAT_EQ(player->volume(), 0.25f);
    player->stop();
}

REGISTER_TYPED_TEST_SUITE_P(AudioPlayerContract, OpensWholeFilesAndRefusesBrokenOnesAtOnce,
                            PlaysToItsEndOnceAndReportsTheFinishOnce,
                            LoopsWrapTheTimeAndFinishOnlyAfterTheLastPass,
                            StopEndsAtOnceAndNothingIsReportedAfterwards, WithoutASoundServerPlayIsRefused,
                            AStreamTheServerDropsReportsOneErrorAndNoFinish, VolumeIsClampedToTheUnitRange);

} // namespace vt::test
