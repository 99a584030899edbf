// Previews through the real preview player against the test PulseAudio server's null sink,
// heard through its monitor. Skips when the test services did not start a server.

#include "Platform/Core/AtomicFile.h"
#include "Tests/Platform/Audio/Player/MonitorRecording.h"
#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vt::test {
namespace {

using namespace std::chrono_literals;

class ControllerSoundTest : public ControllerTest {
protected:
    void SetUp() override {
        if (!std::getenv("VT_TEST_PULSE"))
            GTEST_SKIP() << "no PulseAudio test server (source scripts/test-services.sh; vt_start_services)";
        realPlayers = std::make_shared<PulseAudioPlayerFactory>();
        take = makeSample("tone", 100, "tone.wav");
        take.duration = 0.4;
        seedLibrary({take}, false);
        writeWav(libraryRoot() / "Samples" / take.fileName, monitorRate,
                 replicate(sineWave(1000, monitorRate, framesFor(0.4, monitorRate)), 2));
        start();
        settle();
        QObject::connect(model.get(), &BridgeViewModel::changed, model.get(), [this](BridgeViewModel::Field) {
            highestProgress = std::max(highestProgress, model->previewProgress());
        });
    }

    static double peak(const std::vector<double>& samples) {
        double highest = 0;
        for (double sample : samples)
            highest = std::max(highest, std::abs(sample));
        return highest;
    }

    SampleItem take;
    double highestProgress = 0;
};

TEST_F(ControllerSoundTest, SamplePreviewIsAudibleKeepsPlayingOnItsFirstTickAndEndsByItself) {
    auto& m = *model;
    MonitorRecording recording(folder / "sample.wav");
    m.togglePreview(m.samples()[0]);
    ASSERT_EQ(m.playingSampleID(), take.id) << m.errorMessage().value_or("");
    EXPECT_EQ(m.statusMessage(), "Previewing tone");
    EXPECT_NEAR(m.previewDuration(), 0.4, 1e-6);

    // The first tick comes right after play(), before the server has played anything.
    scheduler->advanceBy(40ms);
    settle();
    EXPECT_EQ(m.playingSampleID(), take.id) << "the first progress tick must not end the preview";

    ASSERT_TRUE(playInStep([&] { return !m.playingSampleID(); }, patience));
    EXPECT_GT(highestProgress, 0.5);
    EXPECT_EQ(m.previewProgress(), 0.0);
    EXPECT_EQ(m.statusMessage(), "Watch waiting for iPhone");
    EXPECT_FALSE(probe(m).previewPlayer);

    auto heard = recording.finish();
    auto loudness = measureLoudness(heard);
    EXPECT_NEAR(loudness.seconds, 0.4, 0.08);
    EXPECT_NEAR(loudness.frequency, 1000, 50);
    EXPECT_NEAR(peak(heard), 0.5 * 0.82, 0.05) << "played at the preview level";
}

TEST_F(ControllerSoundTest, ChopPreviewLoopsEndsWhenLoopingGoesOffAndStopsOnToggle) {
    auto& m = *model;
    BridgeSampleChop chop = makeChop(0, 0, 0.2);
    writeWav(m.chopURL(m.samples()[0], chop), monitorRate,
             replicate(sineWave(500, monitorRate, framesFor(0.2, monitorRate)), 2));
    m.setIsPreviewLooping(true);
    {
        MonitorRecording recording(folder / "loop.wav");
        QElapsedTimer looping;
        looping.start();
        m.toggleChopPreview(m.samples()[0], chop);
        ASSERT_EQ(m.playingChopID(), chop.id) << m.errorMessage().value_or("");
        EXPECT_EQ(m.statusMessage(), "Previewing Chop 01");
        playInStep([] { return false; }, 700ms);
        EXPECT_EQ(m.playingChopID(), chop.id) << "a looping preview never ends by itself";
        m.togglePreviewLooping();
        const double loopedFor = looping.elapsed() / 1000.0; // the sound can be no longer
        ASSERT_TRUE(playInStep([&] { return !m.playingChopID(); }, patience));
        EXPECT_EQ(m.statusMessage(), "Watch waiting for iPhone");
        auto loudness = measureLoudness(recording.finish());
        EXPECT_GT(loudness.seconds, 0.4) << "more than one pass";
        EXPECT_LT(loudness.seconds, loopedFor + 0.2 + 0.1) << "the pass under way is the last";
        EXPECT_NEAR(loudness.frequency, 500, 30);
    }

    m.setIsPreviewLooping(true);
    MonitorRecording recording(folder / "stop.wav");
    QElapsedTimer playing;
    playing.start();
    m.toggleChopPreview(m.samples()[0], chop);
    playInStep([] { return false; }, 300ms);
    m.toggleChopPreview(m.samples()[0], chop);
    const double playedFor = playing.elapsed() / 1000.0;
    EXPECT_FALSE(m.playingChopID());
    playInStep([] { return false; }, 500ms);
    auto loudness = measureLoudness(recording.finish());
    EXPECT_GT(loudness.seconds, 0.1);
    EXPECT_LT(loudness.seconds, playedFor + 0.1) << "nothing is heard after the stop";
}

} // namespace
} // namespace vt::test
