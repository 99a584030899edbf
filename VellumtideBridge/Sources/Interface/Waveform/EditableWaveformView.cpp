#include "VellumtideBridge/Sources/Interface/Waveform/EditableWaveformView.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

using vt::ui::faded;
using Role = WaveformShape::Role;
using Form = WaveformShape::Form;

namespace {

// The band the bars are scaled to ends this far short of the top and bottom edges together.
constexpr double barBandInset = 26;
constexpr double handleInset = 14;
constexpr double handleRowOffset = 18;

bool isTrimHandle(EditableWaveformView::EditHandle handle) {
    return handle == EditableWaveformView::EditHandle::start ||
           handle == EditableWaveformView::EditHandle::end;
}

WaveformShape dashedGuide(double fromX, double toX, double y) {
    WaveformShape guide = waveform::polyline(Role::guideLine, QPolygonF({QPointF(fromX, y), QPointF(toX, y)}),
                                             faded(Qt::white, 0.32), 1);
    guide.dashPattern = {4, 5};
    return guide;
}

WaveformShape fadeDot(double x, double y, const QColor& color) {
    return waveform::filledEllipse(Role::fadeDot, QRectF(x - 3, y - 3, 6, 6), color);
}

} // namespace

EditableWaveformView::EditableWaveformView(std::vector<float> peaks, double duration, BridgeSampleEdit edit,
                                           double previewProgress, Colors colors, QWidget* parent)
    : QWidget(parent), peaks(std::move(peaks)), duration(duration), boundEdit(std::move(edit)),
      previewProgress(previewProgress), colors(std::move(colors)) {
    setFixedHeight(viewHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void EditableWaveformView::setEdit(const BridgeSampleEdit& edit) {
    if (edit == boundEdit)
        return;
    boundEdit = edit;
    update();
}

void EditableWaveformView::setPreviewProgress(double progress) {
    if (progress == previewProgress)
        return;
    previewProgress = progress;
    update();
}

EditableWaveformView::Layout EditableWaveformView::layout(double duration, const BridgeSampleEdit& edit,
                                                          double previewProgress, double width) {
    Layout result;
    result.duration = std::max(duration, 0.001);
    result.edit = edit.sanitized(result.duration);
    result.end = result.edit.effectiveEnd(result.duration);
    const auto toX = [&](double time) { return std::clamp(width * time / result.duration, 0.0, width); };
    result.startX = toX(result.edit.startTime);
    result.endX = toX(result.end);
    result.fadeInX = toX(result.edit.startTime + result.edit.fadeIn);
    result.fadeOutX = toX(result.end - result.edit.fadeOut);
    const double progress = std::isnan(previewProgress) ? 0.0 : std::clamp(previewProgress, 0.0, 1.0);
    result.playheadX = result.startX + (result.endX - result.startX) * progress;
    return result;
}

QRectF EditableWaveformView::handleRect(EditHandle handle, const Layout& layout, QSizeF size) {
    double x = layout.fadeOutX;
    switch (handle) {
    case EditHandle::start:
        x = layout.startX;
        break;
    case EditHandle::end:
        x = layout.endX;
        break;
    case EditHandle::fadeIn:
        x = layout.fadeInX;
        break;
    case EditHandle::fadeOut:
        break;
    }
    const double centreX =
        std::min(std::max(x, handleInset), std::max(size.width() - handleInset, handleInset));
    const double centreY = isTrimHandle(handle) ? handleRowOffset : size.height() - handleRowOffset;
    return QRectF(centreX - handleWidth / 2, centreY - handleHeight / 2, handleWidth, handleHeight);
}

QString EditableWaveformView::handleTitle(EditHandle handle) {
    switch (handle) {
    case EditHandle::start:
        return QStringLiteral("S");
    case EditHandle::end:
        return QStringLiteral("E");
    case EditHandle::fadeIn:
        return QStringLiteral("FI");
    case EditHandle::fadeOut:
        break;
    }
    return QStringLiteral("FO");
}

BridgeSampleEdit EditableWaveformView::draggedEdit(EditHandle handle, double x, double width, double duration,
                                                   const BridgeSampleEdit& edit) {
    const double d = std::max(duration, 0.001);
    const double t = std::clamp(x / std::max(width, 1.0) * d, 0.0, d);
    BridgeSampleEdit changed = edit.sanitized(d);
    const double end = changed.effectiveEnd(d);
    const double gap = std::min(d, 0.05);
    switch (handle) {
    case EditHandle::start:
        changed.startTime = std::min(t, std::max(end - gap, 0.0));
        break;
    case EditHandle::end: {
        const double newEnd = std::min(d, std::max(t, changed.startTime + gap));
        changed.endTime = newEnd >= d - 0.001 ? std::nullopt : std::optional<double>(newEnd);
        break;
    }
    case EditHandle::fadeIn:
        changed.fadeIn = std::min(std::max(t - changed.startTime, 0.0), changed.editedDuration(d) * 0.5);
        break;
    case EditHandle::fadeOut:
        changed.fadeOut = std::min(std::max(end - t, 0.0), changed.editedDuration(d) * 0.5);
        break;
    }
    return changed.sanitized(d);
}

WaveformShapes EditableWaveformView::shapes(const std::vector<float>& peaks, const Layout& layout,
                                            double previewProgress, const Colors& colors, QSizeF size) {
    const double width = size.width();
    const double height = size.height();
    if (!(width > 1) || !(height > 1))
        return {};
    const BridgeSampleEdit& edit = layout.edit;
    const double start = edit.startTime;
    const double end = layout.end;
    const double duration = layout.duration;
    const std::vector<float> values = waveform::valuesOrSilence(peaks);
    const float gain = edit.normalize ? waveform::normalizeGain(values, start, end, duration) : 1.0f;
    const bool boosted = edit.normalize && gain > 1.01f;
    const auto envelope = [&](double t) {
        return waveform::fadeEnvelope(t, start, end, edit.fadeIn, edit.fadeOut);
    };
    const auto band = [&](Role role, double fromX, double toX, const QColor& color) {
        return waveform::filledRect(role, QRectF(fromX, 0, std::max(toX - fromX, 0.0), height), color);
    };

    WaveformShapes result;
    result.push_back(band(Role::keptRange, layout.startX, layout.endX, faded(colors.active, 0.08)));
    result.push_back(band(Role::fadeInRange, layout.startX, layout.fadeInX, faded(colors.fade, 0.14)));
    result.push_back(band(Role::fadeOutRange, layout.fadeOutX, layout.endX, faded(colors.fade, 0.14)));

    const double bandHeight = height - barBandInset;
    const auto bars =
        waveform::barLayout(values.size(), width, static_cast<long long>(width * 0.25), 0.55, 1.7);
    const auto bar = [&](Role role, int index, double barHeight, const QColor& color) {
        return waveform::roundedBar(role,
                                    QRectF(bars.x(index), (height - barHeight) / 2, bars.barWidth, barHeight),
                                    bars.barWidth / 2, color);
    };
    for (int i = 0; i < bars.count; ++i) {
        const float value = values[bars.valueIndex(i)];
        const double t = duration * i / std::max(bars.count - 1, 1);
        const bool kept = start <= t && t <= end;
        const double ghostHeight = std::max(bandHeight * waveform::clampedPeak(value, 0.035), 2.0);
        result.push_back(
            bar(Role::ghostBar, i, ghostHeight, kept ? faded(colors.active, 0.22) : colors.idle));
        if (!kept)
            continue;
        const double level = std::min(gain * waveform::clampedPeak(value, 0.0), 1.0) * envelope(t);
        const double processedHeight = level > 0.001 ? std::max(bandHeight * level, 2.0) : bandHeight * level;
        result.push_back(bar(Role::processedBar, i, processedHeight,
                             boosted ? faded(Qt::white, 0.88) : faded(colors.active, 0.82)));
    }

    if (boosted) {
        result.push_back(dashedGuide(layout.startX, layout.endX, 0.14 * height));
        result.push_back(dashedGuide(layout.startX, layout.endX, 0.86 * height));
    }

    if (edit.fadeIn > 0.001 || edit.fadeOut > 0.001) {
        const double span = std::max(layout.endX - layout.startX, 0.0);
        const int segments =
            std::max(24, static_cast<int>(std::max(layout.endX - layout.startX, 1.0) * 0.125));
        const double amplitude = (height - 30) / 2;
        const double editedDuration = edit.editedDuration(duration);
        WaveformShape line = waveform::polyline(Role::envelope, {}, faded(colors.fade, 0.95), 2);
        for (int j = 0; j <= segments; ++j) {
            const double t = start + editedDuration * j / segments;
            line.points.append(
                QPointF(layout.startX + span * j / segments, height / 2 - amplitude * envelope(t)));
        }
        line.roundCaps = true;
        result.push_back(line);
        if (edit.fadeIn > 0.001)
            result.push_back(fadeDot(layout.fadeInX, height / 2 - amplitude, colors.fade));
        if (edit.fadeOut > 0.001)
            result.push_back(fadeDot(layout.fadeOutX, height / 2 - amplitude, colors.fade));
    }

    result.push_back(waveform::verticalLine(Role::trimLine, layout.startX, height, colors.active, 1.6));
    result.push_back(waveform::verticalLine(Role::trimLine, layout.endX, height, colors.active, 1.6));
    result.push_back(
        waveform::verticalLine(Role::fadeLine, layout.fadeInX, height, faded(colors.fade, 0.9), 1.6));
    result.push_back(
        waveform::verticalLine(Role::fadeLine, layout.fadeOutX, height, faded(colors.fade, 0.9), 1.6));

    if (previewProgress > 0)
        result.push_back(
            waveform::verticalLine(Role::playhead, layout.playheadX, height, faded(Qt::white, 0.9), 1));
    return result;
}

void EditableWaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Layout current = layout(duration, boundEdit, previewProgress, width());
    paintWaveformShapes(painter, shapes(peaks, current, previewProgress, colors, size()));
    for (EditHandle handle : handles)
        paintHandle(painter, handle, current);
}

void EditableWaveformView::paintHandle(QPainter& painter, EditHandle handle, const Layout& layout) const {
    const QRectF box = handleRect(handle, layout, size());
    const bool isActive = active == handle;
    painter.setPen(QPen(isTrimHandle(handle) ? colors.active : colors.fade, 1));
    painter.setBrush(isActive ? colors.active : faded(Qt::black, 0.76));
    const QRectF outline = box.adjusted(0.5, 0.5, -0.5, -0.5);
    painter.drawRoundedRect(outline, outline.height() / 2, outline.height() / 2);
    painter.setFont(vt::ui::monospacedFont(9, vt::ui::FontWeight::bold));
    painter.setPen(isActive ? Qt::black : Qt::white);
    painter.drawText(box, Qt::AlignCenter, handleTitle(handle));
}

std::optional<EditableWaveformView::EditHandle> EditableWaveformView::handleAt(QPointF point) const {
    const Layout current = layout(duration, boundEdit, previewProgress, width());
    // The later handle lies on top, so it takes the click.
    for (auto it = handles.rbegin(); it != handles.rend(); ++it)
        if (handleRect(*it, current, size()).contains(point))
            return *it;
    return std::nullopt;
}

void EditableWaveformView::drag(EditHandle handle, double x) {
    active = handle;
    boundEdit = draggedEdit(handle, x, width(), duration, boundEdit);
    update();
    emit editChanged(boundEdit);
}

void EditableWaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const auto handle = handleAt(event->position());
    if (!handle) {
        event->ignore();
        return;
    }
    drag(*handle, event->position().x());
}

void EditableWaveformView::mouseMoveEvent(QMouseEvent* event) {
    if (active && (event->buttons() & Qt::LeftButton))
        drag(*active, event->position().x());
}

void EditableWaveformView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !active)
        return;
    active.reset();
    update();
}
