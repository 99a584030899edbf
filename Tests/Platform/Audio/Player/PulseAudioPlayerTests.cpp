// The preview player against a real PulseAudio server with a null sink, recorded through the
// sink's monitor. Skips when the test services did not start a server (VT_TEST_PULSE unset).

#include "Platform/Audio/Player/AudioPlayer.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "Tests/Support/TemporaryFolder.h"

#include <QProcess>
#include <cmath>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace vt::test {
namespace {

using namespace std::chrono_literals;

constexpr double rate = 48000;

std::vector<std::vector<float>> tone(double seconds, double frequency = 1000) {
    std::vector<float> samples(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * frequency * double(i) / rate));
    return {samples, samples};
}

// parecord on the null sink's monitor, ended with SIGINT so the WAV header is finalised.
class MonitorRecording {
public:
    explicit MonitorRecording(std::filesystem::path file) : file(std::move(file)) {
        process.start("parecord",
                      {"-d", "vt_null.monitor", "--latency-msec=20", "--file-format=wav", "--format=s16le",
                       "--rate=48000", "--channels=2", QString::fromStdString(this->file.string())});
        process.waitForStarted(5000);
        std::this_thread::sleep_for(300ms);
    }
    // Left-channel samples, -1...1.
    std::vector<double> finish() {
        std::this_thread::sleep_for(300ms);
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        process.waitForFinished(5000);
        std::ifstream in(file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<double> left;
        auto data = bytes.find("data");
        if (data == std::string::npos)
            return left;
        for (size_t i = data + 8; i + 4 <= bytes.size(); i += 4) {
            int16_t value;
            std::memcpy(&value, bytes.data() + i, 2);
            left.push_back(value / 32768.0);
        }
        return left;
    }

private:
    std::filesystem::path file;
    QProcess process;
};

// Seconds of the recording whose 10 ms blocks are loud, and the zero-crossing frequency there.
struct Loudness {
    double seconds = 0;
    double frequency = 0;
};

Loudness measure(const std::vector<double>& samples) {
    Loudness result;
    size_t block = 480, loudBlocks = 0, crossings = 0;
    for (size_t start = 0; start + block <= samples.size(); start += block) {
        double energy = 0;
        for (size_t i = start; i < start + block; ++i)
            energy += samples[i] * samples[i];
        if (std::sqrt(energy / block) < 0.1)
            continue;
        ++loudBlocks;
        for (size_t i = start + 1; i < start + block; ++i)
            if ((samples[i - 1] < 0) != (samples[i] < 0))
                ++crossings;
    }
    result.seconds = loudBlocks * block / rate;
    result.frequency = result.seconds > 0 ? crossings / 2.0 / result.seconds : 0;
    return result;
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
    EXPECT_LT(player->currentTime(), 0.05);
    ASSERT_TRUE(turnLoopUntil([&] { return finished; }, 5s));
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0);
    auto heard = measure(recording.finish());
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
        ASSERT_TRUE(turnLoopUntil([&] { return finished; }, 5s));
        EXPECT_NEAR(measure(recording.finish()).seconds, 0.5, 0.08);
    }

    auto endless = makePulseAudioPlayer(rate, tone(0.2));
    bool late = false;
    endless->setFinishHandler([&](bool) { late = true; });
    endless->setNumberOfLoops(-1);
    MonitorRecording recording(folder / "stop.wav");
    ASSERT_TRUE(endless->play());
    turnLoopUntil([] { return false; }, 700ms);
    EXPECT_TRUE(endless->isPlaying()) << "an endless loop never ends by itself";
    double position = endless->currentTime();
    EXPECT_GE(position, 0.0);
    EXPECT_LT(position, 0.2 + 1e-9);
    endless->setNumberOfLoops(0); // changed while playing: ends after this pass
    ASSERT_TRUE(turnLoopUntil([&] { return late; }, 3s));
    late = false;
    ASSERT_TRUE(endless->play());
    endless->stop();
    turnLoopUntil([] { return false; }, 400ms);
    EXPECT_FALSE(late) << "a stopped player reports nothing";
    EXPECT_FALSE(endless->isPlaying());
    auto heard = measure(recording.finish());
    EXPECT_GT(heard.seconds, 0.6);
    EXPECT_LT(heard.seconds, 1.3);
}

TEST_F(PulseAudioPlayerTest, PlayIsRefusedWithoutAServer) {
    std::string saved = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : "";
    setenv("PULSE_SERVER", ("unix:" + (folder / "no-server").string()).c_str(), 1);
    auto player = makePulseAudioPlayer(rate, tone(0.1));
    EXPECT_FALSE(player->play());
    EXPECT_FALSE(player->isPlaying());
    if (saved.empty())
        unsetenv("PULSE_SERVER");
    else
        setenv("PULSE_SERVER", saved.c_str(), 1);
    EXPECT_THROW(makePulseAudioPlayer(rate, {}), AudioPlayerError);
    PulseAudioPlayerFactory factory;
    EXPECT_THROW(factory.open(folder / "missing.m4a"), AudioPlayerError);
}

} // namespace
} // namespace vt::test
