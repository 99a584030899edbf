// The bar rules of the three waveform miniatures.

#include "Platform/UI/Palette.h"
#include "VellumtideAU/Window/VellumtideWaveforms.h"

#include <QImage>
#include <cmath>
#include <gtest/gtest.h>

namespace {

namespace geometry = VellumtideWaveformGeometry;

std::vector<float> ramp(std::size_t count) {
    std::vector<float> values(count);
    for (std::size_t i = 0; i < count; ++i)
        values[i] = float(i) / float(count - 1);
    return values;
}

VellumtidePluginChop chopOf(double start, double end, bool available = true) {
    VellumtidePluginChop chop;
    chop.startTime = start;
    chop.endTime = end;
    chop.isAvailable = available;
    return chop;
}

TEST(WaveformMiniatures, PadBarsAreOnePerThreePointsButAtLeastTen) {
    EXPECT_TRUE(geometry::padBars({}, 60, 13).empty());
    EXPECT_EQ(geometry::padBars({0.5f, 0.5f, 0.5f, 0.5f, 0.5f}, 300, 13).size(), 5u);
    auto bars = geometry::padBars(ramp(100), 24, 13);
    ASSERT_EQ(bars.size(), 10u);
    EXPECT_DOUBLE_EQ(bars[1].rect.x(), 2.4);
    EXPECT_DOUBLE_EQ(bars[1].rect.width(), std::max(2.4 * 0.48, 1.0));
    EXPECT_EQ(geometry::padBars(ramp(100), 60, 13).size(), 20u);
    // Stride 100 / 20 = 5: bar 10 reads peak 50. Low and unknown peaks.
    auto wide = geometry::padBars(ramp(100), 60, 13);
    EXPECT_NEAR(wide[10].rect.height(), 13 * (50.0 / 99.0), 1e-4);
    auto low = geometry::padBars({0.0f, std::nanf("")}, 30, 13);
    EXPECT_DOUBLE_EQ(low[0].rect.height(), 2.0) << "max(13 x 0.05, 2)";
    EXPECT_DOUBLE_EQ(low[1].rect.height(), 13.0) << "not a number counts as 1";
    EXPECT_DOUBLE_EQ(low[1].rect.y(), 0.0);
    EXPECT_TRUE(geometry::padBars(ramp(10), 1, 13).empty());
}

TEST(WaveformMiniatures, SampleBarsShowTheKeptRangeOnlyForAnEditedSample) {
    auto empty = geometry::sampleShape({}, {}, 10, false, 200, 26);
    ASSERT_EQ(empty.bars.size(), 1u);
    EXPECT_DOUBLE_EQ(empty.bars[0].rect.x(), 0);
    EXPECT_DOUBLE_EQ(empty.bars[0].rect.height(), 2.0);

    VellumtidePluginEdit trimmed;
    trimmed.startTime = 5;
    trimmed.fadeIn = 3;
    auto unedited = geometry::sampleShape(ramp(200), trimmed, 10, false, 200, 26);
    EXPECT_EQ(unedited.bars.size(), 66u);
    EXPECT_TRUE(
        std::all_of(unedited.bars.begin(), unedited.bars.end(), [](auto& bar) { return bar.isKept; }));
    EXPECT_FALSE(unedited.keptRangeX);
    EXPECT_FALSE(unedited.fadeInRamp);

    auto neutral = geometry::sampleShape(ramp(200), {}, 10, true, 200, 26);
    ASSERT_TRUE(neutral.keptRangeX);
    EXPECT_EQ(*neutral.keptRangeX, std::make_pair(0.0, 200.0));
    EXPECT_TRUE(std::all_of(neutral.bars.begin(), neutral.bars.end(), [](auto& bar) { return bar.isKept; }));

    // The second half kept, with a fade-in of a quarter of the kept length.
    VellumtidePluginEdit half;
    half.startTime = 5;
    half.fadeIn = 1.25;
    half.normalize = true;
    auto shape = geometry::sampleShape(ramp(200), half, 10, true, 200, 26);
    EXPECT_EQ(*shape.keptRangeX, std::make_pair(100.0, 200.0));
    for (const auto& bar : shape.bars)
        EXPECT_EQ(bar.isKept, bar.rect.center().x() >= 100) << bar.rect.x();
    ASSERT_TRUE(shape.fadeInRamp);
    EXPECT_EQ(*shape.fadeInRamp, QLineF(100, 24, 125, 2));
    EXPECT_FALSE(shape.fadeOutRamp);
    EXPECT_TRUE(shape.normalizeLines);
}

TEST(WaveformMiniatures, ChopBarsStretchTheChopOverTheWidth) {
    EXPECT_EQ(geometry::chopBars(ramp(50), 10, chopOf(1, 2), 90, 20).size(), 28u);
    EXPECT_EQ(geometry::chopBars(ramp(50), 10, chopOf(1, 2), 180, 20).size(), 56u);
    EXPECT_EQ(geometry::chopBars(ramp(50), 10, chopOf(1, 2), 20, 20).size(), 18u);

    // First bar at the chop's start, last at its end: ramp values 0.25 and 0.75 of the height.
    auto bars = geometry::chopBars(ramp(101), 10, chopOf(2.5, 7.5), 180, 20);
    EXPECT_NEAR(bars.front().rect.height(), 20 * 0.25, 1e-3);
    EXPECT_NEAR(bars.back().rect.height(), 20 * 0.75, 1e-3);
    EXPECT_LE(bars[0].rect.width(), 2.2);

    // An end before the start draws the 0.0001 slice after the start: all bars nearly equal.
    auto backwards = geometry::chopBars(ramp(101), 10, chopOf(5, 1), 180, 20);
    EXPECT_NEAR(backwards.front().rect.height(), backwards.back().rect.height(), 0.01);
    EXPECT_NEAR(backwards.front().rect.height(), 10, 0.01);
}

TEST(WaveformMiniatures, AMissingChopIsDrawnInTheIdleColour) {
    auto redness = [](bool available) {
        ChopMiniWaveform view(std::vector<float>(20, 1.0f), 10, chopOf(0, 10, available), Qt::blue, Qt::red);
        view.resize(120, 20);
        QImage image = view.grab().toImage();
        return image.pixelColor(0, 10);
    };
    EXPECT_EQ(redness(false), QColor(Qt::red));
    EXPECT_GT(redness(true).blue(), 200) << "the active colour at 0.78";
    EXPECT_LT(redness(true).red(), 100);
}

} // namespace
