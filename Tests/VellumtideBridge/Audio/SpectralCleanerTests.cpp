#include "Tests/Support/Audio/AudioFixtures.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"
#include "VellumtideBridge/Sources/Audio/BridgeSpectralCleaner.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

using Starts = std::vector<std::size_t>;

double rmsOf(const std::vector<float>& x, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(x[i]) * x[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

TEST(SpectralCleaner, HelpersFollowTheirRules) {
    EXPECT_EQ(BridgeSpectralCleaner::frameStarts(1000, 1024, 256), Starts{0});
    EXPECT_EQ(BridgeSpectralCleaner::frameStarts(1024, 1024, 256), Starts{0});
    EXPECT_EQ(BridgeSpectralCleaner::frameStarts(1025, 1024, 256), (Starts{0, 1}));
    EXPECT_EQ(BridgeSpectralCleaner::frameStarts(1536, 1024, 256), (Starts{0, 256, 512}));
    EXPECT_EQ(BridgeSpectralCleaner::frameStarts(1537, 1024, 256), (Starts{0, 256, 512, 513}));

    EXPECT_EQ(BridgeSpectralCleaner::percentile({}, 0.5), 0.0f);
    const std::vector<float> sorted{1, 2, 3, 4, 5};
    EXPECT_EQ(BridgeSpectralCleaner::percentile(sorted, 0.24), 1.0f);
    EXPECT_EQ(BridgeSpectralCleaner::percentile(sorted, 0.5), 3.0f);
    EXPECT_EQ(BridgeSpectralCleaner::percentile(sorted, 0.86), 4.0f);
    EXPECT_EQ(BridgeSpectralCleaner::percentile(sorted, 7), 5.0f);
    EXPECT_EQ(BridgeSpectralCleaner::percentile(sorted, -1), 1.0f);

    std::vector<float> accumulator(5, 1.0f);
    BridgeSpectralCleaner::accumulateMagnitude({-2, 3, 0, 1}, {-7, 4, 1, 0}, accumulator);
    EXPECT_EQ(accumulator, (std::vector<float>{3, 6, 2, 2, 8}));
    std::vector<float> wrongSize(4, 1.0f);
    BridgeSpectralCleaner::accumulateMagnitude({1, 1, 1, 1}, {1, 1, 1, 1}, wrongSize);
    EXPECT_EQ(wrongSize, std::vector<float>(4, 1.0f));

    std::vector<float> values{0, 0, 1, 0, 0};
    BridgeSpectralCleaner::smoothProfile(values);
    EXPECT_EQ(values, (std::vector<float>{0, 0.22f, 0.56f, 0.22f, 0}));
    std::vector<float> four{0, 1, 0, 1};
    BridgeSpectralCleaner::smoothProfile(four);
    EXPECT_EQ(four, (std::vector<float>{0, 1, 0, 1}));
}

TEST(SpectralCleaner, ShortSilentAndEmptyBuffers) {
    // Under 512 samples: unchanged apart from the clamp.
    std::vector<float> shortChannel = vt::test::noise(511, 1.5);
    const vt::AudioData out = BridgeSpectralCleaner::denoise({48000, {shortChannel}});
    for (size_t i = 0; i < shortChannel.size(); ++i)
        ASSERT_EQ(out.channels[0][i], std::clamp(shortChannel[i], -1.0f, 1.0f));

    const vt::AudioData silent = BridgeSpectralCleaner::denoise({44100, {std::vector<float>(30000, 0.0f)}});
    EXPECT_EQ(silent.channels[0], std::vector<float>(30000, 0.0f));

    // One frame (512 … N samples): a finite result of the same length.
    const vt::AudioData single =
        BridgeSpectralCleaner::denoise({16000, {vt::test::sineWave(500, 16000, 700)}});
    ASSERT_EQ(single.frameCount(), 700u);
    EXPECT_TRUE(std::all_of(single.channels[0].begin(), single.channels[0].end(),
                            [](float v) { return std::isfinite(v) && std::fabs(v) <= 1; }));

    using Error = BridgeSampleRenderer::RenderError;
    EXPECT_THROW(BridgeSpectralCleaner::denoise({48000, {}}), Error);
    EXPECT_THROW(BridgeSpectralCleaner::denoise({48000, {{}, {}}}), Error);
}

TEST(SpectralCleaner, ZeroNoiseProfileGivesBackTheInputAtItsLevel) {
    for (const double rate : {16000.0, 48000.0}) {
        const size_t edge = vt::test::framesFor(0.6, rate);
        const size_t body = vt::test::framesFor(1.0, rate);
        std::vector<float> x(edge, 0.0f);
        const auto tone = vt::test::sineWave(1000, rate, body, 0.5);
        x.insert(x.end(), tone.begin(), tone.end());
        x.resize(x.size() + edge, 0.0f);
        const vt::AudioData out = BridgeSpectralCleaner::denoise({rate, {x}});
        const size_t from = edge + vt::test::framesFor(0.3, rate),
                     to = edge + body - vt::test::framesFor(0.3, rate);
        double error = 0;
        for (size_t i = from; i < to; ++i)
            error = std::max(error, static_cast<double>(std::fabs(out.channels[0][i] - x[i])));
        EXPECT_LT(error, 1e-3) << rate;
    }
}

TEST(SpectralCleaner, QuietNoiseIsAttenuatedAndLowContentCut) {
    const double rate = 48000;
    const size_t frames = 3 * 48000;
    std::vector<float> x = vt::test::noise(frames, 0.02, 5);
    const auto tone = vt::test::sineWave(700, rate, frames, 0.4);
    for (size_t i = 60000; i < 100000; ++i)
        x[i] += tone[i];
    const vt::AudioData out = BridgeSpectralCleaner::denoise({rate, {x}});
    // Noise alone loses most of its level; the tone keeps most of its own.
    EXPECT_LT(rmsOf(out.channels[0], 24000, 48000), 0.3 * rmsOf(x, 24000, 48000));
    EXPECT_NEAR(rmsOf(out.channels[0], 70000, 90000), rmsOf(x, 70000, 90000), 0.1 * rmsOf(x, 70000, 90000));

    // A constant offset (bin 0) is cut to at most 0.15 of its level.
    const vt::AudioData dc = BridgeSpectralCleaner::denoise({rate, {std::vector<float>(frames, 0.5f)}});
    EXPECT_LT(rmsOf(dc.channels[0], 48000, 96000), 0.5 * 0.15);
}

} // namespace
