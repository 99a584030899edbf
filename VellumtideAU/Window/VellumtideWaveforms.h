#pragma once
// The window's three read-only waveform miniatures, drawn as rounded bars from a stored peak
// list: the pad's (or a dashed line for an empty pad), the sample's with its edit's kept range,
// trim, fade and normalise marks, and the chop's stretch of its sample resampled to full width.
// The geometry is computed apart from the widgets so it can be checked on its own.

#include "VellumtideAU/LibraryReader/VellumtidePluginRecords.h"

#include <QColor>
#include <QLineF>
#include <QRectF>
#include <QWidget>
#include <optional>
#include <vector>

namespace VellumtideWaveformGeometry {

struct Bar {
    QRectF rect;
    bool isKept = true; // the sample miniature dims bars outside the edit's kept range
};

// Bars of the pad miniature; empty peaks give no bars (the dashed line is drawn instead).
std::vector<Bar> padBars(const std::vector<float>& peaks, double width, double height);

struct SampleShape {
    std::vector<Bar> bars;
    // Present only for an edited sample.
    std::optional<std::pair<double, double>> keptRangeX;
    std::optional<QLineF> fadeInRamp;
    std::optional<QLineF> fadeOutRamp;
    bool normalizeLines = false;
};
SampleShape sampleShape(const std::vector<float>& peaks, const VellumtidePluginEdit& edit,
                        double originalDuration, bool isEdited, double width, double height);

// Bars of the chop miniature, the chop's start at the first bar and its end at the last.
std::vector<Bar> chopBars(const std::vector<float>& peaks, double sampleDuration,
                          const VellumtidePluginChop& chop, double width, double height);

} // namespace VellumtideWaveformGeometry

// What the three miniatures share: a fixed height, a least width, all the width a row gives, and
// no mouse handling (clicks and drags go to the pad or row below).
class VellumtideWaveformMiniature : public QWidget {
public:
    VellumtideWaveformMiniature(int height, int minimumWidth, QWidget* parent);

protected:
    // Paints the bars as rounded bars: kept ones in one colour, the others in another.
    static void paintBars(QPainter& painter, const std::vector<VellumtideWaveformGeometry::Bar>& bars,
                          const QColor& kept, const QColor& dimmed);
};

// Inside each pad: 13 points high.
class VellumtidePadTinyWaveform final : public VellumtideWaveformMiniature {
public:
    explicit VellumtidePadTinyWaveform(QWidget* parent = nullptr);
    void setContent(std::vector<float> peaks, QColor color);
    QSize sizeHint() const override { return {40, 13}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<float> peaks;
    QColor color;
};

// In each sample row: 26 points high.
class MiniWaveform final : public VellumtideWaveformMiniature {
public:
    MiniWaveform(std::vector<float> peaks, QColor activeColor, QColor editColor, VellumtidePluginEdit edit,
                 double originalDuration, bool isEdited, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {200, 26}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<float> peaks;
    QColor activeColor;
    QColor editColor;
    VellumtidePluginEdit edit;
    double originalDuration;
    bool isEdited;
};

// In each chop row: at least 90 points wide, 20 high.
class ChopMiniWaveform final : public VellumtideWaveformMiniature {
public:
    ChopMiniWaveform(std::vector<float> peaks, double sampleDuration, VellumtidePluginChop chop,
                     QColor activeColor, QColor idleColor, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {90, 20}; }
    QSize minimumSizeHint() const override { return {90, 20}; }
    // The whole miniature's opacity (a chop whose file is missing is drawn faded).
    void setOpacity(double value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<float> peaks;
    double sampleDuration;
    VellumtidePluginChop chop;
    QColor activeColor;
    QColor idleColor;
    double opacity = 1;
};
