#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"

#include <gtest/gtest.h>

namespace {

using vt::test::TemporaryFolder;

// The chops without their random UUIDs, for comparisons.
std::vector<std::tuple<int64_t, double, double, double>> shape(const std::vector<BridgeSampleChop>& chops) {
    std::vector<std::tuple<int64_t, double, double, double>> out;
    for (const auto& chop : chops)
        out.emplace_back(chop.index, chop.startTime, chop.endTime, chop.strength);
    return out;
}

std::vector<BridgeSampleChop> chopsOf(const TemporaryFolder& folder, const std::vector<float>& signal,
                                      double sensitivity = 0.65, double rate = 44100) {
    vt::test::writeWav(folder / "hits.wav", rate, {signal});
    return BridgeSampleRenderer::detectChopsSynchronously(folder / "hits.wav", sensitivity);
}

TEST(ChopDetection, ShortSilentAndSingleHitSamplesGiveNoChops) {
    TemporaryFolder folder;
    EXPECT_TRUE(chopsOf(folder, vt::test::noise(3000, 0.8)).empty()); // 68 ms
    EXPECT_TRUE(chopsOf(folder, std::vector<float>(44100, 0.0f)).empty());
    // Faint noise whose envelope stays at or below 0.006 counts as silence.
    EXPECT_TRUE(chopsOf(folder, vt::test::noise(44100, 0.003)).empty());
    EXPECT_TRUE(chopsOf(folder, vt::test::hitsAt({0.5}, 44100, 88200)).empty());

    EXPECT_TRUE(BridgeSampleRenderer::makeChops({1, 0, 1}, 1, 0.01, 0.65).empty());
    EXPECT_TRUE(BridgeSampleRenderer::makeChops(std::vector<float>(50, 0.006f), 1, 0.01, 0.65).empty());
    EXPECT_THROW(BridgeSampleRenderer::detectChopsSynchronously(folder / "missing.wav", 0.5),
                 vt::AudioFileError);
}

TEST(ChopDetection, HitsBecomeChopsThatTileTheSample) {
    TemporaryFolder folder;
    const std::vector<double> times{0.3, 0.8, 1.3, 1.9};
    const double duration = 2.5;
    const auto chops = chopsOf(folder, vt::test::hitsAt(times, 44100, 110250));
    ASSERT_EQ(chops.size(), times.size());
    for (size_t k = 0; k < chops.size(); ++k) {
        EXPECT_EQ(chops[k].index, static_cast<int64_t>(k));
        // 12 ms before the onset hop; the hop grid and the smoothing move it by a few hops.
        EXPECT_NEAR(chops[k].startTime, times[k] - 0.012, 0.035) << k;
        EXPECT_EQ(chops[k].endTime, k + 1 < chops.size() ? chops[k + 1].startTime : duration);
        EXPECT_GT(chops[k].strength, 0);
        EXPECT_LE(chops[k].strength, 1);
        EXPECT_FALSE(chops[k].id.isNil());
    }
    EXPECT_EQ(chops[0].strength, 1.0);
    EXPECT_NE(chops[0].id, chops[1].id);
}

TEST(ChopDetection, DenseRollsKeepTheSpacingAndTheOnsetLimit) {
    TemporaryFolder folder;
    // A steady bed from the first frame makes hop 0 the first boundary; hits every 60 ms from
    // 0.3 s on then give one onset each up to the limit.
    std::vector<double> times;
    for (double t = 0.3; t < 12; t += 0.06)
        times.push_back(t);
    const size_t frames = vt::test::framesFor(12.2, 44100);
    std::vector<float> signal = vt::test::hitsAt(times, 44100, frames);
    const auto bed = vt::test::sineWave(220, 44100, frames, 0.08);
    for (size_t i = 0; i < frames; ++i)
        signal[i] += bed[i];
    for (const double sensitivity : {0.0, 1.0}) {
        const auto chops = chopsOf(folder, signal, sensitivity);
        const double spacing = sensitivity == 0 ? 0.22 : 0.09;
        ASSERT_GE(chops.size(), 2u) << sensitivity;
        EXPECT_LE(chops.size(), 64u);
        EXPECT_EQ(chops[0].startTime, 0.0);
        for (size_t k = 2; k < chops.size(); ++k)
            EXPECT_GE(chops[k].startTime - chops[k - 1].startTime, spacing - 1e-9) << sensitivity << " " << k;
    }
    // 195 hits at sensitivity 1: the scan stops after 63 onsets, so 64 chops, the last of which
    // runs from the 63rd onset to the end of the sample.
    const auto limited = chopsOf(folder, signal, 1.0);
    ASSERT_EQ(limited.size(), 64u);
    EXPECT_LT(limited.back().startTime, 10.0);
    EXPECT_DOUBLE_EQ(limited.back().endTime, static_cast<double>(frames) / 44100);
    // Sensitivities outside 0…1 act as the nearest end.
    EXPECT_EQ(shape(chopsOf(folder, signal, 7)), shape(limited));
    EXPECT_EQ(shape(chopsOf(folder, signal, -3)), shape(chopsOf(folder, signal, 0)));
}

TEST(ChopDetection, EnvelopeRulesAtTheEnds) {
    // A hand-made envelope of 1 s in 10 ms hops: silence and two equal hits at hops 20 and 60.
    // Both novelty peaks (0.2 at hops 18 and 58) reach the threshold: the positive novelties are
    // 0.2, 0.196, 0.1904, 0.1832 and 0.1744 twice over, and index ⌊0.784 × 9⌋ = 7 holds 0.196.
    std::vector<float> envelope(100, 0.0f);
    for (int i = 0; i < 8; ++i) {
        envelope[20 + i] = 1.0f - 0.1f * static_cast<float>(i);
        envelope[60 + i] = 1.0f - 0.1f * static_cast<float>(i);
    }
    auto chops = BridgeSampleRenderer::makeChops(envelope, 1.0, 0.01, 0.65);
    ASSERT_EQ(chops.size(), 2u);
    // The smoothed envelope passes the activity level at hop 18, two hops before the first hit;
    // the onset there lies on the first boundary and is dropped.
    EXPECT_NEAR(chops[0].startTime, 0.18 - 0.012, 1e-9);
    EXPECT_EQ(chops[0].strength, 1.0);
    EXPECT_EQ(chops[0].endTime, chops[1].startTime);
    EXPECT_NEAR(chops[1].startTime, 0.58 - 0.012, 1e-9);
    EXPECT_NEAR(chops[1].strength, 1.0, 1e-6);
    EXPECT_EQ(chops[1].endTime, 1.0);

    // A boundary within 0.075 s of the end makes no chop; the previous one ends there.
    chops = BridgeSampleRenderer::makeChops(envelope, 0.62, 0.01, 0.65);
    ASSERT_EQ(chops.size(), 1u);
    EXPECT_NEAR(chops[0].endTime, 0.568, 1e-9);

    // A weaker second hit (0.8 of the first) stays below the 78th-percentile novelty: no
    // onset apart from the one on the first boundary, so no chops at all.
    for (int i = 0; i < 8; ++i)
        envelope[60 + i] *= 0.8f;
    EXPECT_TRUE(BridgeSampleRenderer::makeChops(envelope, 1.0, 0.01, 0.65).empty());
}

} // namespace
