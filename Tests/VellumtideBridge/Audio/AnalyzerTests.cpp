#include "Platform/Audio/AudioFile.h"
#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleAnalyzer.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

using vt::test::TemporaryFolder;

struct FixedClock final : vt::WallClock {
    vt::Date now() const override { return vt::Date{1'700'000'000}; }
};

BridgeSampleAnalysis analyse(const TemporaryFolder& folder, const vt::test::Channels& channels, double rate) {
    vt::test::writeWav(folder / "a.wav", rate, channels);
    return BridgeSampleAnalyzer::analyzeSynchronously(folder / "a.wav", FixedClock());
}

double frequencyOf(int midi) {
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

TEST(SampleAnalyzer, TinyAndSilentFilesGiveAnEmptyDatedAnalysis) {
    TemporaryFolder folder;
    const auto tiny = analyse(folder, {vt::test::noise(128, 0.5)}, 44100);
    BridgeSampleAnalysis expected;
    expected.analyzedAt = vt::Date{1'700'000'000};
    EXPECT_EQ(tiny, expected);
    EXPECT_EQ(analyse(folder, {std::vector<float>(48000, 0.0f)}, 48000), expected);
    // Opposite channels cancel in the mono mix.
    const auto tone = vt::test::sineWave(440, 48000, 48000);
    std::vector<float> inverted(tone);
    for (float& v : inverted)
        v = -v;
    EXPECT_EQ(analyse(folder, {tone, inverted}, 48000), expected);
    EXPECT_THROW(BridgeSampleAnalyzer::analyzeSynchronously(folder / "none.wav", FixedClock()),
                 vt::AudioFileError);
}

TEST(SampleAnalyzer, DecimationAndTheNinetySecondLimit) {
    const std::vector<std::pair<double, double>> cases{
        {44100, 11025}, {48000, 12000}, {96000, 12000}, {22050, 11025}, {16000, 16000}};
    for (const auto& [rate, reduced] : cases) {
        const auto out = BridgeSampleAnalyzer::decimate({std::vector<float>(1001, 1.0f), rate});
        EXPECT_EQ(out.sampleRate, reduced);
        EXPECT_EQ(out.samples.size(), static_cast<size_t>(std::ceil(1001 * reduced / rate)));
    }
    const auto averaged = BridgeSampleAnalyzer::decimate({{1, 3, 5, 7, 9}, 24000});
    EXPECT_EQ(averaged.samples, (std::vector<float>{2, 6, 9}));

    TemporaryFolder folder;
    vt::test::writeWav(folder / "long.wav", 1000, {vt::test::sineWave(50, 1000, 95000)});
    EXPECT_EQ(BridgeSampleAnalyzer::loadMonoAudio(folder / "long.wav", 90).samples.size(), 90000u);
    vt::test::writeWav(folder / "offset.wav", 1000, {std::vector<float>(1000, 0.25f)});
    const auto centred = BridgeSampleAnalyzer::loadMonoAudio(folder / "offset.wav", 90);
    EXPECT_NEAR(centred.samples[10], 0.0f, 1e-6);
}

TEST(SampleAnalyzer, RootOfSinesAndSawsAtEveryRateAndPitchClass) {
    TemporaryFolder folder;
    for (const double rate : {16000.0, 22050.0, 44100.0, 48000.0, 96000.0}) {
        const auto a = analyse(folder, {vt::test::sineWave(440, rate, vt::test::framesFor(1.2, rate))}, rate);
        EXPECT_EQ(a.rootNote, "A") << rate;
        EXPECT_EQ(a.rootConfidence, 0.99) << rate;
        EXPECT_FALSE(a.musicalKey) << rate;
        EXPECT_FALSE(a.bpm) << rate;
        for (int pitch = 0; pitch < 12; ++pitch) {
            const int midi = 55 + pitch; // G3 … F#4
            const size_t frames = vt::test::framesFor(1.0, rate);
            const auto sine = analyse(folder, {vt::test::sineWave(frequencyOf(midi), rate, frames)}, rate);
            EXPECT_EQ(sine.rootNote, BridgeSampleAnalyzer::noteNames[midi % 12]) << rate << " sine " << midi;
            const auto saw = analyse(folder, {vt::test::sawWave(frequencyOf(midi), rate, frames)}, rate);
            EXPECT_EQ(saw.rootNote, BridgeSampleAnalyzer::noteNames[midi % 12]) << rate << " saw " << midi;
        }
    }
}

TEST(SampleAnalyzer, KeysNeedSeveralStrongPitchClasses) {
    EXPECT_DOUBLE_EQ(BridgeSampleAnalyzer::correlation(BridgeSampleAnalyzer::majorProfile,
                                                       BridgeSampleAnalyzer::majorProfile, 0),
                     1.0);
    std::array<double, 12> dMajor{};
    for (int i = 0; i < 12; ++i)
        dMajor[static_cast<size_t>((i + 2) % 12)] =
            BridgeSampleAnalyzer::majorProfile[static_cast<size_t>(i)];
    EXPECT_DOUBLE_EQ(BridgeSampleAnalyzer::correlation(dMajor, BridgeSampleAnalyzer::majorProfile, 2), 1.0);
    const auto key = BridgeSampleAnalyzer::detectKey(dMajor);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->first, "D major");
    EXPECT_FALSE(BridgeSampleAnalyzer::detectKey({}));
    EXPECT_EQ(BridgeSampleAnalyzer::correlation({}, BridgeSampleAnalyzer::minorProfile, 3), 0.0);
    // A bare major triad fits its major key and its third's minor key almost equally well
    // (0.834 against 0.760): less than 0.1 apart, so no key.
    EXPECT_FALSE(BridgeSampleAnalyzer::detectKey({1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0}));
    // An augmented triad scores three keys exactly alike.
    EXPECT_FALSE(BridgeSampleAnalyzer::detectKey({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1}));

    // A melody of 2.4 s that dwells on C, with E, G, F and D: root C and key C major, but no
    // tempo (too short).
    TemporaryFolder folder;
    const double rate = 44100;
    std::vector<float> melody;
    const int notes[] = {60, 64, 67, 60, 65, 62, 67, 60, 64, 72, 67, 60};
    for (const int midi : notes) {
        const auto tone = vt::test::sineWave(frequencyOf(midi), rate, vt::test::framesFor(0.2, rate));
        melody.insert(melody.end(), tone.begin(), tone.end());
    }
    const auto result = analyse(folder, {melody}, rate);
    EXPECT_EQ(result.rootNote, "C");
    EXPECT_EQ(result.musicalKey, "C major");
    EXPECT_GE(result.keyConfidence, 0.28);
    EXPECT_FALSE(result.bpm);
    EXPECT_EQ(result.bpmConfidence, 0);
}

TEST(SampleAnalyzer, ClickTracksReadAtTheirTempo) {
    TemporaryFolder folder;
    const double rate = 48000;
    for (const double bpm : {90.0, 120.0, 125.0, 140.0, 174.0}) {
        const auto a =
            analyse(folder, {vt::test::clickTrack(bpm, rate, vt::test::framesFor(20, rate))}, rate);
        ASSERT_TRUE(a.bpm) << bpm;
        // The onset curve has 20 ms frames: the answer is the tempo of the nearest whole lag.
        const double lag = std::round(60.0 / bpm / 0.02);
        EXPECT_EQ(*a.bpm, std::round(60.0 / (lag * 0.02))) << bpm;
        EXPECT_GE(a.bpmConfidence, 0.24);
        EXPECT_LE(a.bpmConfidence, 0.99);
    }
    const auto steady =
        analyse(folder, {vt::test::clickTrack(120, rate, vt::test::framesFor(20, rate))}, rate);
    EXPECT_EQ(steady.bpm, 120.0);

    // Accented beats keep the slower tempo although weak eighth notes repeat twice as often.
    const size_t frames = vt::test::framesFor(20, rate);
    std::vector<float> accented = vt::test::clickTrack(70, rate, frames, 0.8);
    const auto eighths = vt::test::clickTrack(140, rate, frames, 0.15);
    for (size_t i = 0; i < frames; ++i)
        accented[i] += eighths[i];
    const auto slow = analyse(folder, {accented}, rate);
    ASSERT_TRUE(slow.bpm);
    EXPECT_EQ(*slow.bpm, 70.0);
}

} // namespace
