#include "VellumtideAU/Window/VellumtideWaveforms.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/Palette.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace VellumtideWaveformGeometry {

namespace {

// A peak that is not a number counts as 1.
double clampPeak(float value, double lower) {
    if (std::isnan(value))
        return 1.0;
    return std::clamp(static_cast<double>(value), lower, 1.0);
}

QRectF centredBar(double x, double barWidth, double barHeight, double height) {
    return QRectF(x, (height - barHeight) / 2, barWidth, barHeight);
}

bool drawable(double width, double height) {
    return width > 1 && height > 1;
}

double clampUnit(double value) {
    return std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
}

} // namespace

std::vector<Bar> padBars(const std::vector<float>& peaks, double width, double height) {
    std::vector<Bar> bars;
    if (!drawable(width, height) || peaks.empty())
        return bars;
    const std::size_t count = peaks.size();
    const std::size_t n = std::min(count, std::max<std::size_t>(10, static_cast<std::size_t>(width / 3)));
    const std::size_t stride = std::max<std::size_t>(1, count / n);
    const double pitch = width / double(n);
    const double barWidth = std::max(pitch * 0.48, 1.0);
    for (std::size_t i = 0; i < n; ++i) {
        float peak = peaks[std::min(i * stride, count - 1)];
        double barHeight = std::max(height * clampPeak(peak, 0.05), 2.0);
        bars.push_back({centredBar(pitch * double(i), barWidth, barHeight, height)});
    }
    return bars;
}

SampleShape sampleShape(const std::vector<float>& peaks, const VellumtidePluginEdit& edit,
                        double originalDuration, bool isEdited, double width, double height) {
    SampleShape shape;
    if (!drawable(width, height))
        return shape;
    const std::vector<float> values = peaks.empty() ? std::vector<float>{0.0f} : peaks;
    const std::size_t count = values.size();
    const std::size_t n = std::min(count, std::max<std::size_t>(1, static_cast<std::size_t>(width / 3)));
    const std::size_t stride = std::max<std::size_t>(1, count / n);
    const double barWidth = std::max(width / double(n) * 0.56, 1.4);

    const double duration = std::max(originalDuration, 0.05);
    const VellumtidePluginEdit kept = edit.sanitized(duration);
    double a = 0, b = 1;
    if (isEdited) {
        a = clampUnit(kept.startTime / duration);
        b = std::min(std::max(a, kept.effectiveEnd(duration) / duration), 1.0);
    }
    const double keptStartX = width * a, keptEndX = width * b;

    for (std::size_t i = 0; i < n; ++i) {
        double x = width * double(i) / double(n);
        double barHeight = std::max(height * clampPeak(values[std::min(i * stride, count - 1)], 0.04), 2.0);
        double centre = x + barWidth / 2;
        bool isKept = !isEdited || (centre >= keptStartX && centre <= keptEndX);
        shape.bars.push_back({centredBar(x, barWidth, barHeight, height), isKept});
    }
    if (!isEdited)
        return shape;
    shape.keptRangeX = {keptStartX, keptEndX};
    if (kept.fadeIn > 0.001)
        shape.fadeInRamp = QLineF(keptStartX, height - 2,
                                  std::min(keptStartX + width * kept.fadeIn / duration, keptEndX), 2);
    if (kept.fadeOut > 0.001)
        shape.fadeOutRamp =
            QLineF(std::max(keptEndX - width * kept.fadeOut / duration, keptStartX), 2, keptEndX, height - 2);
    shape.normalizeLines = kept.normalize;
    return shape;
}

std::vector<Bar> chopBars(const std::vector<float>& peaks, double sampleDuration,
                          const VellumtidePluginChop& chop, double width, double height) {
    std::vector<Bar> bars;
    if (!drawable(width, height))
        return bars;
    const std::vector<float> values = peaks.empty() ? std::vector<float>{0.0f} : peaks;
    const std::size_t m = values.size();
    const std::size_t n = std::max<std::size_t>(18, static_cast<std::size_t>(width / 3.2));
    const double pitch = width / double(n);
    const double barWidth = std::min(std::max(pitch * 0.48, 1.1), 2.2);
    const double duration = std::max(sampleDuration, 0.001);
    const double a = clampUnit(chop.startTime / duration);
    double end = chop.endTime / duration;
    const double b = std::min(std::isnan(end) ? a + 0.0001 : std::max(a + 0.0001, end), 1.0);
    const double span = double(std::max<std::size_t>(m - 1, 1));
    for (std::size_t i = 0; i < n; ++i) {
        double position = (a + (b - a) * clampUnit(double(i) / double(n - 1))) * span;
        auto k0 = static_cast<std::size_t>(std::clamp(std::floor(position), 0.0, double(m - 1)));
        std::size_t k1 = std::min(k0 + 1, m - 1);
        float value = values[k0] + (values[k1] - values[k0]) * static_cast<float>(position - double(k0));
        double barHeight = std::max(height * clampPeak(value, 0.045), 2.0);
        bars.push_back({centredBar(pitch * double(i), barWidth, barHeight, height)});
    }
    return bars;
}

} // namespace VellumtideWaveformGeometry

VellumtideWaveformMiniature::VellumtideWaveformMiniature(int height, int minimumWidth, QWidget* parent)
    : QWidget(parent) {
    setFixedHeight(height);
    setMinimumWidth(minimumWidth);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void VellumtideWaveformMiniature::paintBars(QPainter& painter,
                                            const std::vector<VellumtideWaveformGeometry::Bar>& bars,
                                            const QColor& kept, const QColor& dimmed) {
    painter.setRenderHint(QPainter::Antialiasing);
    for (const auto& bar : bars)
        vt::ui::paintRoundedBar(painter, bar.rect, bar.isKept ? kept : dimmed);
}

VellumtidePadTinyWaveform::VellumtidePadTinyWaveform(QWidget* parent)
    : VellumtideWaveformMiniature(13, 0, parent) {}

void VellumtidePadTinyWaveform::setContent(std::vector<float> newPeaks, QColor newColor) {
    peaks = std::move(newPeaks);
    color = newColor;
    update();
}

void VellumtidePadTinyWaveform::paintEvent(QPaintEvent*) {
    const double w = width(), h = height();
    if (w <= 1 || h <= 1)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (peaks.empty()) {
        QPen pen(color, 1, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setDashPattern({2, 3});
        painter.setPen(pen);
        painter.drawLine(QPointF(0, h / 2), QPointF(w, h / 2));
        return;
    }
    paintBars(painter, VellumtideWaveformGeometry::padBars(peaks, w, h), color, color);
}

MiniWaveform::MiniWaveform(std::vector<float> peaks, QColor activeColor, QColor editColor,
                           VellumtidePluginEdit edit, double originalDuration, bool isEdited, QWidget* parent)
    : VellumtideWaveformMiniature(26, 40, parent), peaks(std::move(peaks)), activeColor(activeColor),
      editColor(editColor), edit(edit), originalDuration(originalDuration), isEdited(isEdited) {}

void MiniWaveform::paintEvent(QPaintEvent*) {
    const double w = width(), h = height();
    auto shape = VellumtideWaveformGeometry::sampleShape(peaks, edit, originalDuration, isEdited, w, h);
    QPainter painter(this);
    paintBars(painter, shape.bars, vt::ui::withOpacity(activeColor, 0.72), vt::ui::white(0.13));
    if (!shape.keptRangeX)
        return;
    auto [startX, endX] = *shape.keptRangeX;
    painter.setPen(QPen(vt::ui::withOpacity(editColor, 0.95), 1.2));
    painter.drawLine(QPointF(startX, 1), QPointF(startX, h - 1));
    painter.drawLine(QPointF(endX, 1), QPointF(endX, h - 1));
    painter.setPen(QPen(vt::ui::withOpacity(editColor, 0.72), 1.4));
    for (const auto& ramp : {shape.fadeInRamp, shape.fadeOutRamp})
        if (ramp)
            painter.drawLine(*ramp);
    if (shape.normalizeLines) {
        painter.setPen(QPen(vt::ui::withOpacity(editColor, 0.34), 1));
        painter.drawLine(QPointF(startX, 2), QPointF(endX, 2));
        painter.drawLine(QPointF(startX, h - 2), QPointF(endX, h - 2));
    }
}

ChopMiniWaveform::ChopMiniWaveform(std::vector<float> peaks, double sampleDuration, VellumtidePluginChop chop,
                                   QColor activeColor, QColor idleColor, QWidget* parent)
    : VellumtideWaveformMiniature(20, 90, parent), peaks(std::move(peaks)), sampleDuration(sampleDuration),
      chop(std::move(chop)), activeColor(activeColor), idleColor(idleColor) {}

void ChopMiniWaveform::setOpacity(double value) {
    opacity = value;
    update();
}

void ChopMiniWaveform::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(opacity);
    QColor fill = chop.isAvailable ? vt::ui::withOpacity(activeColor, 0.78) : idleColor;
    paintBars(painter, VellumtideWaveformGeometry::chopBars(peaks, sampleDuration, chop, width(), height()),
              fill, fill);
}
