// The edit rules and display texts of the plug-in's sample and chop records.

#include "VellumtideAU/LibraryReader/VellumtidePluginRecords.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

VellumtidePluginEdit makeEdit(double start, std::optional<double> end = std::nullopt, double fadeIn = 0,
                              double fadeOut = 0, bool normalize = false, bool denoise = false) {
    return VellumtidePluginEdit{start, end, fadeIn, fadeOut, normalize, denoise};
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

TEST(PluginEdit, SanitizingClampsTheEditToTheRecording) {
    auto wide = makeEdit(-1, 20).sanitized(10);
    EXPECT_DOUBLE_EQ(wide.startTime, 0);
    EXPECT_FALSE(wide.endTime);

    EXPECT_DOUBLE_EQ(makeEdit(9.99).sanitized(10).startTime, 9.95);
    EXPECT_FALSE(makeEdit(0, 9.9995).sanitized(10).endTime);

    auto tight = makeEdit(2.98, 3).sanitized(10);
    ASSERT_TRUE(tight.endTime);
    EXPECT_DOUBLE_EQ(*tight.endTime, 2.98 + 0.05);

    auto fades = makeEdit(5, std::nullopt, 4, 6).sanitized(10);
    EXPECT_DOUBLE_EQ(fades.fadeIn, 2.5);
    EXPECT_DOUBLE_EQ(fades.fadeOut, 2.5);

    auto tiny = makeEdit(1, std::nullopt, 1, 1, true, true).sanitized(0.02);
    EXPECT_DOUBLE_EQ(tiny.startTime, 0);
    EXPECT_FALSE(tiny.endTime);
    EXPECT_DOUBLE_EQ(tiny.fadeIn, 0.025);
    EXPECT_TRUE(tiny.normalize);
    EXPECT_TRUE(tiny.denoise);

    // Values that are not numbers fall back to the safe ends of their ranges.
    auto broken = makeEdit(nan, nan, nan, -2).sanitized(nan);
    EXPECT_DOUBLE_EQ(broken.startTime, 0);
    EXPECT_FALSE(broken.endTime);
    EXPECT_DOUBLE_EQ(broken.fadeIn, 0);
    EXPECT_DOUBLE_EQ(broken.fadeOut, 0);
}

TEST(PluginEdit, StoredValuesAndActivity) {
    // The end and the played length are computed on the stored values, unclamped.
    EXPECT_DOUBLE_EQ(makeEdit(-1).effectiveEnd(10), 10);
    EXPECT_DOUBLE_EQ(makeEdit(-1).editedDuration(10), 11);
    EXPECT_DOUBLE_EQ(makeEdit(12).editedDuration(10), 0);

    auto almostNothing = makeEdit(0.0005, std::nullopt, 0.0009, 0.0009);
    EXPECT_TRUE(almostNothing.isNeutral());
    EXPECT_FALSE(almostNothing.isActive(10));
    almostNothing.normalize = true;
    EXPECT_FALSE(almostNothing.isNeutral());
    EXPECT_TRUE(almostNothing.isActive(10));

    EXPECT_TRUE(makeEdit(0, std::nullopt, 0, 0, false, true).isActive(10));
    // An end past the recording is dropped by sanitising, so it does not make the edit active.
    EXPECT_FALSE(makeEdit(0, 12).isActive(10));
    EXPECT_FALSE(makeEdit(-3).isActive(10));
}

TEST(PluginFormats, DurationTexts) {
    EXPECT_EQ(VellumtidePluginSample::durationText(3.4), "0:03");
    EXPECT_EQ(VellumtidePluginSample::durationText(59.5), "1:00");
    EXPECT_EQ(VellumtidePluginSample::durationText(3725), "62:05");
    EXPECT_EQ(VellumtidePluginSample::durationText(-1), "0:00");
    EXPECT_EQ(VellumtidePluginSample::durationText(infinity), "0:00");
    EXPECT_EQ(VellumtidePluginSample::durationText(6e20), "10000000000000000000:00");

    EXPECT_EQ(VellumtidePluginSample::shortDuration(0), "0 ms");
    EXPECT_EQ(VellumtidePluginSample::shortDuration(nan), "0 ms");
    EXPECT_EQ(VellumtidePluginSample::shortDuration(0.25), "250 ms");
    EXPECT_EQ(VellumtidePluginSample::shortDuration(0.9996), "1000 ms");
    EXPECT_EQ(VellumtidePluginSample::shortDuration(2.5), "2.5 s");

    EXPECT_EQ(VellumtidePluginChop::preciseDuration(-0.1), "0.00s");
    EXPECT_EQ(VellumtidePluginChop::preciseDuration(9.5), "9.50s");
    EXPECT_EQ(VellumtidePluginChop::preciseDuration(12), "0:12.0");
    EXPECT_EQ(VellumtidePluginChop::preciseDuration(65), "1:05.0");
    EXPECT_EQ(VellumtidePluginChop::preciseDuration(75.3), "1:15.3");
    // Rounded to tenths before minutes and seconds are split: never "0:60.0".
    EXPECT_EQ(VellumtidePluginChop::preciseDuration(59.96), "1:00.0");
    EXPECT_EQ(VellumtidePluginChop::preciseDuration(119.97), "2:00.0");
    EXPECT_EQ(VellumtidePluginChop::preciseDuration(1e300).substr(0, 5), "16666");
}

TEST(PluginFormats, ChopTitlesAndRanges) {
    EXPECT_EQ(VellumtidePluginChop::titleForIndex(0), "Chop 01");
    EXPECT_EQ(VellumtidePluginChop::titleForIndex(99), "Chop 100");
    EXPECT_EQ(VellumtidePluginChop::titleForIndex(-1), "Chop 00");
    EXPECT_EQ(VellumtidePluginChop::titleForIndex(-5), "Chop -4");
    EXPECT_EQ(VellumtidePluginChop::titleForIndex(std::numeric_limits<std::int64_t>::max()),
              "Chop 9223372036854775808");

    VellumtidePluginChop chop;
    chop.startTime = 1;
    chop.endTime = 2.5;
    EXPECT_EQ(chop.rangeLabel(), "1.00s-2.50s");
    chop.endTime = 70.25;
    EXPECT_EQ(chop.rangeLabel(), "1.00s-1:10.3");
}

TEST(PluginFormats, SubtitleAndByteCounts) {
    VellumtidePluginSample sample;
    sample.duration = 3;
    sample.sampleRate = 44100;
    sample.byteCount = 529200;
    EXPECT_EQ(sample.subtitle(), "0:03  44 kHz  529 KB");
    sample.sampleRate = 1e300;
    EXPECT_NO_THROW(sample.subtitle());

    EXPECT_EQ(VellumtidePluginSample::byteCountText(0), "Zero KB");
    EXPECT_EQ(VellumtidePluginSample::byteCountText(1), "1 byte");
    EXPECT_EQ(VellumtidePluginSample::byteCountText(1500), "2 KB");
    EXPECT_EQ(VellumtidePluginSample::byteCountText(999600), "1 MB");
    EXPECT_EQ(VellumtidePluginSample::byteCountText(1250000), "1.3 MB");
    EXPECT_EQ(VellumtidePluginSample::byteCountText(1230000000), "1.23 GB");
    EXPECT_EQ(VellumtidePluginSample::byteCountText(std::numeric_limits<std::int64_t>::min()), "-9.22 EB");
}

TEST(PluginFormats, EditSummaryListsWhatTheEditChanges) {
    VellumtidePluginSample sample;
    sample.originalDuration = 10;
    sample.edit = makeEdit(1);
    EXPECT_FALSE(sample.editSummary());

    sample.isEdited = true;
    EXPECT_EQ(sample.editSummary(), "0:01-0:10");
    sample.edit.fadeIn = 0.25;
    sample.edit.normalize = true;
    EXPECT_EQ(sample.editSummary(), "0:01-0:10  FI 250 ms  Norm");
    sample.edit = makeEdit(0, 4, 0, 1.5);
    EXPECT_EQ(sample.editSummary(), "0:00-0:04  FO 1.5 s");
    sample.edit = makeEdit(0, std::nullopt, 0, 0, false, true);
    EXPECT_EQ(sample.editSummary(), "Edited");
}

} // namespace
