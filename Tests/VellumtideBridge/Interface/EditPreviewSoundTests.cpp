// The edit sheet's preview through the real preview player on the test PulseAudio server: it
// ends by itself when the sound has played, and its temporary file goes with it. Skips when the
// test services did not start a server.

#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"
#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditPreview.h"

#include <cstdlib>

namespace vt::test {
namespace {

using namespace std::chrono_literals;

class EditPreviewSoundTest : public ControllerTest {
protected:
    void SetUp() override {
        if (!std::getenv("VT_TEST_PULSE"))
            GTEST_SKIP() << "no PulseAudio test server (source scripts/test-services.sh; vt_start_pulse)";
        realPlayers = std::make_shared<PulseAudioPlayerFactory>();
        take = makeSample("tone", 100, "tone.wav");
        take.duration = 0.5;
        seedLibrary({take}, false);
        writeWav(libraryRoot() / "Samples" / take.fileName, 48000,
                 replicate(sineWave(440, 48000, framesFor(0.5, 48000), 0.2), 2));
        audio.renderedSeconds = 0.4;
        start();
        settle();
    }

    SampleItem take;
};

TEST_F(EditPreviewSoundTest, PreviewsEndByThemselvesAndTakeTheirFileWithThem) {
    SampleEditPreview preview(*model, take);
    double latest = 0;
    QObject::connect(&preview, &SampleEditPreview::changed, &preview,
                     [&] { latest = std::max(latest, preview.editPreviewTime()); });

    // A rendered edit: its temporary file goes when the player reports the end.
    BridgeSampleEdit trimmed;
    trimmed.startTime = 0.1;
    awaitVoid(preview.playEditPreview(trimmed));
    ASSERT_TRUE(preview.isPreviewPlaying()) << model->errorMessage().value_or("");
    ASSERT_TRUE(preview.editPreviewURL());
    const auto file = *preview.editPreviewURL();
    EXPECT_TRUE(std::filesystem::exists(file));
    ASSERT_TRUE(playInStep([&] { return !preview.isPreviewPlaying(); }, patience));
    EXPECT_GT(latest, 0.2) << "the time moved on while it played";
    EXPECT_EQ(preview.editPreviewTime(), 0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(preview.editPreviewURL());
    EXPECT_FALSE(model->errorMessage());

    // The raw file of a neutral edit ends the same way and stays in the library.
    awaitVoid(preview.playEditPreview({}));
    ASSERT_TRUE(preview.isPreviewPlaying());
    ASSERT_TRUE(playInStep([&] { return !preview.isPreviewPlaying(); }, patience));
    EXPECT_TRUE(std::filesystem::exists(libraryRoot() / "Samples" / take.fileName));
}

} // namespace
} // namespace vt::test
