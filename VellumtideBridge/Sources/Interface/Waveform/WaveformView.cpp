#include "VellumtideBridge/Sources/Interface/Waveform/WaveformView.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

using vt::ui::faded;
using Role = WaveformShape::Role;
using Form = WaveformShape::Form;

namespace {

double clampedProgress(double progress) {
    return std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
}

WaveformShape bar(Role role, const waveform::BarLayout& layout, int index, double height, double stripHeight,
                  const QColor& color) {
    return waveform::roundedBar(role,
                                QRectF(layout.x(index), (stripHeight - height) / 2, layout.barWidth, height),
                                layout.barWidth / 2, color);
}

WaveformShape band(Role role, double fromX, double toX, double height, const QColor& color) {
    return waveform::filledRect(role, QRectF(fromX, 0, std::max(toX - fromX, 0.0), height), color);
}

} // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setFixedHeight(stripHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void WaveformView::setInput(Input input) {
    current = std::move(input);
    painted = QPixmap();
    update();
}

void WaveformView::setProgress(double progress) {
    if (progress == current.progress)
        return;
    current.progress = progress;
    painted = QPixmap();
    update();
}

void WaveformView::paintEvent(QPaintEvent*) {
    const double ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (painted.isNull() || painted.devicePixelRatio() != ratio || painted.size() != pixels) {
        painted = QPixmap(pixels);
        painted.setDevicePixelRatio(ratio);
        painted.fill(Qt::transparent);
        QPainter strip(&painted);
        paint(strip, QRectF(rect()), current);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, painted);
}

void WaveformView::paint(QPainter& painter, const QRectF& rect, const Input& input) {
    painter.save();
    painter.translate(rect.topLeft());
    paintWaveformShapes(painter, shapes(input, rect.size()));
    painter.restore();
}

WaveformShapes WaveformView::shapes(const Input& input, QSizeF size) {
    if (!(size.width() > 1) || !(size.height() > 1))
        return {};
    const std::vector<float> values = waveform::valuesOrSilence(input.peaks);
    if (input.duration && input.edit) {
        const BridgeSampleEdit sanitized = input.edit->sanitized(*input.duration);
        if (sanitized.isActive(*input.duration))
            return editedShapes(size, values, sanitized, std::max(*input.duration, 0.001), input);
    }
    return rawShapes(size, values, input);
}

WaveformShapes WaveformView::rawShapes(QSizeF size, const std::vector<float>& values, const Input& input) {
    const double width = size.width();
    const double height = size.height();
    const auto layout =
        waveform::barLayout(values.size(), width, static_cast<long long>(width / 3), 0.58, 1.5);
    const int played = static_cast<int>(std::ceil(clampedProgress(input.progress) * layout.count));
    WaveformShapes result;
    result.reserve(layout.count);
    for (int i = 0; i < layout.count; ++i) {
        const double barHeight =
            std::max(height * waveform::clampedPeak(values[layout.valueIndex(i)], 0.04), 2.0);
        result.push_back(
            bar(Role::bar, layout, i, barHeight, height, i < played ? input.activeColor : input.idleColor));
    }
    return result;
}

WaveformShapes WaveformView::editedShapes(QSizeF size, const std::vector<float>& values,
                                          const BridgeSampleEdit& edit, double duration, const Input& input) {
    const double width = size.width();
    const double height = size.height();
    const double start = edit.startTime;
    const double end = edit.effectiveEnd(duration);
    const double fadeIn = edit.fadeIn;
    const double fadeOut = edit.fadeOut;
    const auto toX = [&](double time) { return std::clamp(width * time / duration, 0.0, width); };
    const double startX = toX(start);
    const double endX = toX(end);
    const double fadeInEndX = toX(start + fadeIn);
    const double fadeOutStartX = toX(end - fadeOut);
    const double progressX = startX + (endX - startX) * clampedProgress(input.progress);
    const float gain = edit.normalize ? waveform::normalizeGain(values, start, end, duration) : 1.0f;
    const bool boosted = edit.normalize && gain > 1.01f;
    const auto envelope = [&](double t) { return waveform::fadeEnvelope(t, start, end, fadeIn, fadeOut); };

    WaveformShapes result;
    result.push_back(band(Role::keptRange, startX, endX, height, faded(input.activeColor, 0.08)));
    if (fadeIn > 0.001)
        result.push_back(band(Role::fadeInRange, startX, fadeInEndX, height, faded(input.fadeColor, 0.14)));
    if (fadeOut > 0.001)
        result.push_back(band(Role::fadeOutRange, fadeOutStartX, endX, height, faded(input.fadeColor, 0.14)));

    const auto layout =
        waveform::barLayout(values.size(), width, static_cast<long long>(width / 3), 0.58, 1.5);
    for (int i = 0; i < layout.count; ++i) {
        const float value = values[layout.valueIndex(i)];
        const double t = duration * i / std::max(layout.count - 1, 1);
        const bool kept = start <= t && t <= end;
        const double ghostHeight = std::max(height * waveform::clampedPeak(value, 0.04), 2.0);
        result.push_back(bar(Role::ghostBar, layout, i, ghostHeight, height,
                             kept ? faded(input.activeColor, 0.2) : faded(input.idleColor, 0.72)));
        if (!kept)
            continue;
        const double level = std::min(gain * waveform::clampedPeak(value, 0.0), 1.0) * envelope(t);
        const double processedHeight = level > 0.001 ? std::max(height * level, 2.0) : height * level;
        result.push_back(bar(Role::processedBar, layout, i, processedHeight, height,
                             boosted ? faded(Qt::white, 0.86) : faded(input.activeColor, 0.86)));
    }

    if (fadeIn > 0.001 || fadeOut > 0.001) {
        const double span = std::max(endX - startX, 0.0);
        const int segments = std::max(18, static_cast<int>(std::max(endX - startX, 1.0) / 10));
        const double amplitude = std::max((height - 6) / 2, 1.0);
        const double editedDuration = edit.editedDuration(duration);
        WaveformShape line = waveform::polyline(Role::envelope, {}, faded(input.fadeColor, 0.9), 1.4);
        for (int j = 0; j <= segments; ++j) {
            const double t = start + editedDuration * j / segments;
            line.points.append(QPointF(startX + span * j / segments, height / 2 - amplitude * envelope(t)));
        }
        line.roundCaps = true;
        result.push_back(line);
    }

    result.push_back(
        waveform::verticalLine(Role::trimLine, startX, height, faded(input.activeColor, 0.78), 1));
    result.push_back(waveform::verticalLine(Role::trimLine, endX, height, faded(input.activeColor, 0.78), 1));
    result.push_back(
        waveform::verticalLine(Role::fadeLine, fadeInEndX, height, faded(input.fadeColor, 0.86), 1));
    result.push_back(
        waveform::verticalLine(Role::fadeLine, fadeOutStartX, height, faded(input.fadeColor, 0.86), 1));

    if (boosted) {
        WaveformShape guide = waveform::polyline(
            Role::guideLine, QPolygonF({QPointF(startX, 2), QPointF(endX, 2)}), faded(Qt::white, 0.28), 1);
        guide.dashPattern = {3, 4};
        result.push_back(guide);
    }
    if (input.progress > 0)
        result.push_back(
            waveform::verticalLine(Role::playhead, progressX, height, faded(Qt::white, 0.88), 1));
    return result;
}
