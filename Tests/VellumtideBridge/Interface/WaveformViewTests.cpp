// The waveform strips: bar geometry, raw and edited modes, normalise boost, playhead, and the
// editable strip's handles with their clamping.

#include "Tests/VellumtideBridge/Interface/SampleViewsFixture.h"
#include "VellumtideBridge/Sources/Interface/Waveform/EditableWaveformView.h"
#include "VellumtideBridge/Sources/Interface/Waveform/WaveformView.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

using vt::test::makeEdit;
using Role = WaveformShape::Role;
using Handle = EditableWaveformView::EditHandle;

std::vector<WaveformShape> withRole(const WaveformShapes& shapes, Role role) {
    std::vector<WaveformShape> result;
    for (const auto& shape : shapes)
        if (shape.role == role)
            result.push_back(shape);
    return result;
}

WaveformView::Input rawInput(std::vector<float> peaks, double progress = 0) {
    WaveformView::Input input;
    input.peaks = std::move(peaks);
    input.progress = progress;
    return input;
}

int coloured(const WaveformShapes& shapes, const QColor& color) {
    int count = 0;
    for (const auto& shape : withRole(shapes, Role::bar))
        count += shape.color == color;
    return count;
}

TEST(WaveformView, RawBarsFollowWidthStrideAndProgress) {
    // No peaks: one bar at the left edge, 0.58 of the width wide, 4 % of the height high.
    auto bars = withRole(WaveformView::shapes(rawInput({}), QSizeF(100, 38)), Role::bar);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0].rect, QRectF(0, 18, 58, 2));
    EXPECT_EQ(withRole(WaveformView::shapes(rawInput({}), QSizeF(2, 38)), Role::bar).size(), 1u);
    EXPECT_TRUE(WaveformView::shapes(rawInput({0.5f}), QSizeF(1, 38)).empty());
    EXPECT_TRUE(WaveformView::shapes(rawInput({0.5f}), QSizeF(300, 1)).empty());

    // Fewer values than W / 3: one bar per value; a peak above 1 fills the height.
    bars = withRole(WaveformView::shapes(rawInput({0.5f, 2.0f, std::nanf("")}), QSizeF(300, 38)), Role::bar);
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_DOUBLE_EQ(bars[1].rect.x(), 100);
    EXPECT_DOUBLE_EQ(bars[0].rect.height(), 19);
    EXPECT_DOUBLE_EQ(bars[1].rect.height(), 38);
    EXPECT_DOUBLE_EQ(bars[2].rect.height(), 38);
    EXPECT_DOUBLE_EQ(bars[0].cornerRadius, bars[0].rect.width() / 2);

    // 300 points wide: exactly 100 bars; 1000 values are read at a stride of 10.
    std::vector<float> many(1000, 0.0f);
    for (int index = 0; index < 1000; index += 10)
        many[index] = 1.0f;
    bars = withRole(WaveformView::shapes(rawInput(many), QSizeF(300, 38)), Role::bar);
    ASSERT_EQ(bars.size(), 100u);
    for (const auto& bar : bars)
        EXPECT_DOUBLE_EQ(bar.rect.height(), 38);

    const QColor cyan = vt::ui::palette::cyan;
    EXPECT_EQ(coloured(WaveformView::shapes(rawInput(many, 0), QSizeF(300, 38)), cyan), 0);
    EXPECT_EQ(coloured(WaveformView::shapes(rawInput(many, 0.0001), QSizeF(300, 38)), cyan), 1);
    EXPECT_EQ(coloured(WaveformView::shapes(rawInput(many, 0.5), QSizeF(300, 38)), cyan), 50);
    EXPECT_EQ(coloured(WaveformView::shapes(rawInput(many, 1.5), QSizeF(300, 38)), cyan), 100);
    EXPECT_EQ(coloured(WaveformView::shapes(rawInput({}, 0.2), QSizeF(100, 38)), cyan), 1);
}

TEST(WaveformView, EditedModeOnlyForAnActiveEditWithADuration) {
    auto input = rawInput(std::vector<float>(40, 0.5f), 0.3);
    const auto isRaw = [&] {
        return !withRole(WaveformView::shapes(input, QSizeF(120, 38)), Role::bar).empty();
    };
    input.duration = 4.0;
    EXPECT_TRUE(isRaw());
    input.duration.reset();
    input.edit = makeEdit(1);
    EXPECT_TRUE(isRaw());
    input.duration = 4.0;
    input.edit = makeEdit(0.0005, 3.9995);
    EXPECT_TRUE(isRaw()); // sanitises to the neutral edit

    // Denoise alone is active: the kept range spans the strip, every bar is kept, no fades.
    input.edit = makeEdit(0, std::nullopt, 0, 0, false, true);
    input.progress = 0;
    const auto shapes = WaveformView::shapes(input, QSizeF(120, 38));
    ASSERT_EQ(withRole(shapes, Role::keptRange).size(), 1u);
    EXPECT_EQ(withRole(shapes, Role::keptRange)[0].rect, QRectF(0, 0, 120, 38));
    EXPECT_TRUE(withRole(shapes, Role::fadeInRange).empty());
    EXPECT_TRUE(withRole(shapes, Role::envelope).empty());
    EXPECT_TRUE(withRole(shapes, Role::playhead).empty());
    EXPECT_EQ(withRole(shapes, Role::processedBar).size(), withRole(shapes, Role::ghostBar).size());
    for (const auto& bar : withRole(shapes, Role::processedBar))
        EXPECT_DOUBLE_EQ(bar.rect.height(), 19); // gain 1
}

TEST(WaveformView, NormaliseBoostAndPlayheadInTheKeptRange) {
    auto input = rawInput(std::vector<float>(30, 0.0f), 0);
    input.duration = 3.0;
    input.edit = makeEdit(1, 2, 0, 0, true);
    auto shapes = WaveformView::shapes(input, QSizeF(90, 38));
    EXPECT_TRUE(withRole(shapes, Role::guideLine).empty()); // silence: gain 1, no boost

    EXPECT_FLOAT_EQ(waveform::normalizeGain({0.5f, 0.9f}, 0, 0.5, 1), 1.96f); // 0.9 stands at 0.75 s
    std::fill(input.peaks.begin(), input.peaks.end(), 0.5f);
    input.progress = 0.5;
    shapes = WaveformView::shapes(input, QSizeF(90, 38));
    ASSERT_EQ(withRole(shapes, Role::guideLine).size(), 1u);
    EXPECT_EQ(withRole(shapes, Role::guideLine)[0].points[0], QPointF(30, 2));
    for (const auto& bar : withRole(shapes, Role::processedBar)) {
        EXPECT_EQ(bar.color.rgb(), QColor(Qt::white).rgb());
        EXPECT_NEAR(bar.rect.height(), 38 * std::min(1.96 * 0.5, 1.0), 1e-5);
    }
    const auto playhead = withRole(shapes, Role::playhead);
    ASSERT_EQ(playhead.size(), 1u);
    EXPECT_DOUBLE_EQ(playhead[0].points[0].x(), 45); // halfway between the trim lines at 30 and 60
    EXPECT_EQ(withRole(shapes, Role::trimLine).size(), 2u);
    EXPECT_EQ(withRole(shapes, Role::fadeLine).size(), 2u);
}

// The strip keeps what it painted until its progress, its input or its size changes: each change
// shows as a strip made anew with the same input shows it.
TEST(WaveformView, ShowsItsLatestProgressInputAndSize) {
    std::vector<float> peaks(60);
    for (std::size_t index = 0; index < peaks.size(); ++index)
        peaks[index] = float(index % 7) / 7.0f;
    auto shown = [](WaveformView& view) { return view.grab().toImage(); };
    auto madeAnew = [&](const WaveformView::Input& input, QSize size) {
        WaveformView view;
        view.resize(size);
        view.setInput(input);
        return shown(view);
    };
    WaveformView strip;
    strip.resize(240, WaveformView::stripHeight);
    strip.setInput(rawInput(peaks));
    const QImage idle = shown(strip);

    strip.setProgress(0.5);
    EXPECT_NE(shown(strip), idle);
    EXPECT_EQ(shown(strip), madeAnew(rawInput(peaks, 0.5), strip.size()));
    std::reverse(peaks.begin(), peaks.end());
    strip.setInput(rawInput(peaks, 0.5));
    EXPECT_EQ(shown(strip), madeAnew(rawInput(peaks, 0.5), strip.size()));
    strip.resize(180, WaveformView::stripHeight);
    EXPECT_EQ(shown(strip), madeAnew(rawInput(peaks, 0.5), strip.size()));
}

// ---- Editable strip ----

EditableWaveformView::Colors colors() {
    return {vt::ui::palette::cyan, vt::ui::palette::amber, vt::ui::white(0.2)};
}

TEST(EditableWaveformView, NeutralEditPutsTheHandlesAtTheEdges) {
    const auto layout = EditableWaveformView::layout(4, {}, 0, 400);
    const QSizeF size(400, 126);
    EXPECT_EQ(EditableWaveformView::handleRect(Handle::start, layout, size).center(), QPointF(14, 18));
    EXPECT_EQ(EditableWaveformView::handleRect(Handle::end, layout, size).center(), QPointF(386, 18));
    EXPECT_EQ(EditableWaveformView::handleRect(Handle::fadeIn, layout, size).center(), QPointF(14, 108));
    EXPECT_EQ(EditableWaveformView::handleRect(Handle::fadeOut, layout, size).center(), QPointF(386, 108));
    EXPECT_EQ(EditableWaveformView::handleRect(Handle::end, layout, size).size(), QSizeF(28, 18));

    const auto shapes =
        EditableWaveformView::shapes(std::vector<float>(200, 0.5f), layout, 0, colors(), size);
    EXPECT_EQ(withRole(shapes, Role::ghostBar).size(), 100u); // one bar per 4 points
    EXPECT_EQ(withRole(shapes, Role::processedBar).size(), 100u);
    EXPECT_TRUE(withRole(shapes, Role::envelope).empty());
    EXPECT_TRUE(withRole(shapes, Role::fadeDot).empty());
    EXPECT_TRUE(withRole(shapes, Role::playhead).empty());
    const auto withProgress =
        EditableWaveformView::shapes({}, EditableWaveformView::layout(4, {}, 1, 400), 1, colors(), size);
    EXPECT_DOUBLE_EQ(withRole(withProgress, Role::playhead)[0].points[0].x(), 400);
}

TEST(EditableWaveformView, DragsClampToTheKeptRangeAndItsHalves) {
    const auto drag = [](Handle handle, double x, BridgeSampleEdit edit = {}, double duration = 4) {
        return EditableWaveformView::draggedEdit(handle, x, 400, duration, edit);
    };
    const BridgeSampleEdit trimmed = makeEdit(1, 2);
    EXPECT_DOUBLE_EQ(drag(Handle::start, 300, trimmed).startTime, 1.95);
    EXPECT_DOUBLE_EQ(*drag(Handle::end, 10, trimmed).endTime, 1.05);
    EXPECT_FALSE(drag(Handle::end, 399.95, trimmed).endTime); // within 0.001 s of the end
    EXPECT_FALSE(drag(Handle::end, 900, trimmed).endTime);
    EXPECT_DOUBLE_EQ(drag(Handle::start, -50, trimmed).startTime, 0);

    EXPECT_DOUBLE_EQ(drag(Handle::fadeIn, 350, trimmed).fadeIn, 0.5);
    EXPECT_DOUBLE_EQ(drag(Handle::fadeIn, 50, trimmed).fadeIn, 0);
    EXPECT_DOUBLE_EQ(drag(Handle::fadeOut, 0, trimmed).fadeOut, 0.5);
    EXPECT_NEAR(drag(Handle::fadeOut, 190, trimmed).fadeOut, 0.1, 1e-12);

    // Moving a trim handle inwards cuts long fades to half the new kept length in the same step.
    const BridgeSampleEdit faded = makeEdit(0, std::nullopt, 1.5, 1.5);
    const auto moved = drag(Handle::end, 200, faded);
    EXPECT_DOUBLE_EQ(*moved.endTime, 2);
    EXPECT_DOUBLE_EQ(moved.fadeIn, 1);
    EXPECT_DOUBLE_EQ(moved.fadeOut, 1);

    // A sample shorter than 0.05 s keeps its whole length whatever is dragged.
    for (Handle handle : EditableWaveformView::handles)
        for (double x : {0.0, 200.0, 400.0}) {
            const auto edit = drag(handle, x, {}, 0.03);
            EXPECT_EQ(edit.startTime, 0);
            EXPECT_FALSE(edit.endTime);
        }
}

TEST(EditableWaveformView, PressingALabelSetsTheTimeUnderThePointer) {
    EditableWaveformView view(std::vector<float>(50, 0.4f), 4, {}, 0, colors());
    view.resize(400, EditableWaveformView::viewHeight);
    view.show();
    std::vector<BridgeSampleEdit> reported;
    QObject::connect(&view, &EditableWaveformView::editChanged,
                     [&](const BridgeSampleEdit& edit) { reported.push_back(edit); });

    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(14, 18));
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_DOUBLE_EQ(reported[0].startTime, 14.0 / 400 * 4);
    EXPECT_EQ(view.activeHandle(), Handle::start);
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(14, 18));
    EXPECT_FALSE(view.activeHandle());

    // A press away from the labels changes nothing; where "FI" and "FO" overlap, the later
    // label lies on top and takes the press.
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(200, 60));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(200, 60));
    EXPECT_EQ(reported.size(), 1u);
    view.setEdit(makeEdit(0, std::nullopt, 2, 2));
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(205, 108));
    EXPECT_EQ(view.activeHandle(), Handle::fadeOut);
    EXPECT_NEAR(reported.back().fadeOut, 1.95, 1e-12);
    EXPECT_DOUBLE_EQ(reported.back().fadeIn, 2);
}

TEST(EditableWaveformView, NormaliseBoostScalesProcessedBarsWithinTheBand) {
    const BridgeSampleEdit edit = makeEdit(0, std::nullopt, 0, 0, true);
    const QSizeF size(200, 126);
    auto shapes = EditableWaveformView::shapes(
        std::vector<float>(50, 0.5f), EditableWaveformView::layout(2, edit, 0, 200), 0, colors(), size);
    EXPECT_EQ(withRole(shapes, Role::guideLine).size(), 2u);
    for (const auto& bar : withRole(shapes, Role::processedBar)) {
        EXPECT_EQ(bar.color.rgb(), QColor(Qt::white).rgb());
        EXPECT_NEAR(bar.rect.height(), 100 * 0.98, 1e-4);
    }
    shapes = EditableWaveformView::shapes(std::vector<float>(50, 0.99f),
                                          EditableWaveformView::layout(2, edit, 0, 200), 0, colors(), size);
    EXPECT_TRUE(withRole(shapes, Role::guideLine).empty());
    EXPECT_NE(withRole(shapes, Role::processedBar)[0].color.rgb(), QColor(Qt::white).rgb());

    // Fades draw the envelope and one dot per fade.
    const BridgeSampleEdit fades = makeEdit(0, std::nullopt, 0.5);
    shapes =
        EditableWaveformView::shapes({}, EditableWaveformView::layout(2, fades, 0, 200), 0, colors(), size);
    EXPECT_EQ(withRole(shapes, Role::envelope).size(), 1u);
    ASSERT_EQ(withRole(shapes, Role::fadeDot).size(), 1u);
    EXPECT_EQ(withRole(shapes, Role::fadeDot)[0].rect.center(), QPointF(50, 15));
}

} // namespace
