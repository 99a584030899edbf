#include "VellumtideBridge/Sources/Interface/Waveform/WaveformShapes.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

void paintWaveformShapes(QPainter& painter, const WaveformShapes& shapes) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (const WaveformShape& shape : shapes) {
        switch (shape.form) {
        case WaveformShape::Form::rect:
            painter.fillRect(shape.rect, shape.color);
            break;
        case WaveformShape::Form::roundedBar: {
            const double radius =
                std::min({shape.cornerRadius, shape.rect.width() / 2, shape.rect.height() / 2});
            painter.setPen(Qt::NoPen);
            painter.setBrush(shape.color);
            painter.drawRoundedRect(shape.rect, radius, radius);
            break;
        }
        case WaveformShape::Form::ellipse:
            painter.setPen(Qt::NoPen);
            painter.setBrush(shape.color);
            painter.drawEllipse(shape.rect);
            break;
        case WaveformShape::Form::polyline: {
            QPen pen(shape.color, shape.lineWidth, Qt::SolidLine,
                     shape.roundCaps ? Qt::RoundCap : Qt::FlatCap,
                     shape.roundCaps ? Qt::RoundJoin : Qt::MiterJoin);
            pen.setMiterLimit(10);
            if (!shape.dashPattern.isEmpty()) {
                // Qt measures dashes in line widths.
                QList<qreal> pattern;
                for (qreal length : shape.dashPattern)
                    pattern.append(length / shape.lineWidth);
                pen.setDashPattern(pattern);
                pen.setDashOffset(0);
            }
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawPolyline(shape.points);
            break;
        }
        }
    }
    painter.restore();
}

namespace waveform {

std::vector<float> valuesOrSilence(const std::vector<float>& peaks) {
    return peaks.empty() ? std::vector<float>{0.0f} : peaks;
}

std::size_t BarLayout::valueIndex(int bar) const {
    return std::min(static_cast<std::size_t>(bar) * stride, valueCount - 1);
}

BarLayout barLayout(std::size_t valueCount, double stripWidth, long long barBudget, double widthFactor,
                    double minimumWidth) {
    BarLayout layout;
    layout.valueCount = std::max<std::size_t>(valueCount, 1);
    layout.stripWidth = stripWidth;
    layout.count = static_cast<int>(
        std::min<long long>(static_cast<long long>(layout.valueCount), std::max<long long>(1, barBudget)));
    layout.stride = std::max<std::size_t>(1, layout.valueCount / static_cast<std::size_t>(layout.count));
    layout.barWidth = std::max(stripWidth / layout.count * widthFactor, minimumWidth);
    return layout;
}

double clampedPeak(float value, double floor) {
    if (std::isnan(value))
        return 1.0;
    return std::clamp(static_cast<double>(value), floor, 1.0);
}

float normalizeGain(const std::vector<float>& values, double start, double end, double duration) {
    if (values.empty())
        return 1.0f;
    float peak = 0;
    const double count = static_cast<double>(values.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
        const double time = duration * (static_cast<double>(k) + 0.5) / count;
        if (time >= start && time <= end && !std::isnan(values[k]))
            peak = std::max(peak, std::fabs(values[k]));
    }
    return peak > 0.000001f ? 0.98f / peak : 1.0f;
}

double fadeEnvelope(double t, double start, double end, double fadeIn, double fadeOut) {
    if (t < start || t > end)
        return 0;
    const double rampIn = fadeIn > 0.001 ? std::clamp((t - start) / fadeIn, 0.0, 1.0) : 1.0;
    const double rampOut = fadeOut > 0.001 ? std::clamp((end - t) / fadeOut, 0.0, 1.0) : 1.0;
    return std::min(rampIn, rampOut);
}

namespace {
WaveformShape shape(WaveformShape::Role role, WaveformShape::Form form, const QColor& color) {
    WaveformShape result;
    result.role = role;
    result.form = form;
    result.color = color;
    return result;
}
} // namespace

WaveformShape filledRect(WaveformShape::Role role, const QRectF& rect, const QColor& color) {
    WaveformShape result = shape(role, WaveformShape::Form::rect, color);
    result.rect = rect;
    return result;
}

WaveformShape roundedBar(WaveformShape::Role role, const QRectF& rect, double cornerRadius,
                         const QColor& color) {
    WaveformShape result = shape(role, WaveformShape::Form::roundedBar, color);
    result.rect = rect;
    result.cornerRadius = cornerRadius;
    return result;
}

WaveformShape filledEllipse(WaveformShape::Role role, const QRectF& rect, const QColor& color) {
    WaveformShape result = shape(role, WaveformShape::Form::ellipse, color);
    result.rect = rect;
    return result;
}

WaveformShape polyline(WaveformShape::Role role, const QPolygonF& points, const QColor& color, double width) {
    WaveformShape result = shape(role, WaveformShape::Form::polyline, color);
    result.points = points;
    result.lineWidth = width;
    return result;
}

WaveformShape verticalLine(WaveformShape::Role role, double x, double height, const QColor& color,
                           double width) {
    return polyline(role, QPolygonF({QPointF(x, 0), QPointF(x, height)}), color, width);
}

} // namespace waveform
