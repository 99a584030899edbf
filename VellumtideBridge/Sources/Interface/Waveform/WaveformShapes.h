#pragma once
// What the waveform views draw, computed apart from painting so the geometry can be checked:
// a list of shapes (bars, tinted ranges, lines, the fade envelope, dots) in painting order, and
// the arithmetic both views share (bar layout, normalise gain, fade envelope).

#include <QColor>
#include <QList>
#include <QPolygonF>
#include <QRectF>
#include <cstddef>
#include <vector>

class QPainter;

struct WaveformShape {
    // What the shape stands for.
    enum class Role {
        bar,          // a peak bar of the raw strip
        keptRange,    // the tinted trimmed range
        fadeInRange,  // the tinted fade-in range
        fadeOutRange, // the tinted fade-out range
        ghostBar,     // a peak as recorded
        processedBar, // a kept peak after gain and fades
        envelope,     // the fade envelope line
        fadeDot,      // the dot at the end of a fade
        trimLine,     // the start and end lines
        fadeLine,     // the fade-in end and fade-out start lines
        guideLine,    // a dashed line that marks a normalise boost
        playhead,
    };
    // How it is drawn: a filled rectangle, a filled bar with rounded ends, a filled ellipse, or a
    // stroked polyline.
    enum class Form { rect, roundedBar, ellipse, polyline };

    Role role = Role::bar;
    Form form = Form::rect;
    QRectF rect;      // rect, roundedBar and ellipse
    QPolygonF points; // polyline
    QColor color;
    double lineWidth = 1;     // polyline
    bool roundCaps = false;   // polyline: round caps and joins instead of butt caps and miters
    QList<qreal> dashPattern; // polyline: on and off lengths in points; empty for a solid line
    double cornerRadius = 0;  // roundedBar
};

using WaveformShapes = std::vector<WaveformShape>;

// Paints the shapes in order, antialiased.
void paintWaveformShapes(QPainter& painter, const WaveformShapes& shapes);

namespace waveform {

// The peak values to draw: the peaks, or one silent value so bar arithmetic never sees none.
std::vector<float> valuesOrSilence(const std::vector<float>& peaks);

// Where the bars of a strip stand: count N, stride S between the values they read, width B.
struct BarLayout {
    int count = 0;
    std::size_t stride = 1;
    double barWidth = 0;
    double stripWidth = 0;
    std::size_t valueCount = 0;

    double x(int bar) const { return stripWidth * bar / count; }
    std::size_t valueIndex(int bar) const;
};

// barBudget bars (at least one, never more than there are values) spread over the width, each
// widthFactor of its slot wide and at least minimumWidth.
BarLayout barLayout(std::size_t valueCount, double stripWidth, long long barBudget, double widthFactor,
                    double minimumWidth);

// A peak clamped into floor...1 for a bar's height; a value that is not a number counts as 1.
double clampedPeak(float value, double floor);

// The gain that brings the loudest kept value (value k of M stands at duration × (k + 0.5) / M,
// kept in start...end) to 0.98, in single precision; 1 when that value is silent.
float normalizeGain(const std::vector<float>& values, double start, double end, double duration);

// The fade envelope at time t: 0 outside start...end, else the smaller of the fade-in and
// fade-out ramps (a fade of 0.001 s or less does not ramp).
double fadeEnvelope(double t, double start, double end, double fadeIn, double fadeOut);

WaveformShape filledRect(WaveformShape::Role role, const QRectF& rect, const QColor& color);
WaveformShape roundedBar(WaveformShape::Role role, const QRectF& rect, double cornerRadius,
                         const QColor& color);
WaveformShape filledEllipse(WaveformShape::Role role, const QRectF& rect, const QColor& color);
WaveformShape polyline(WaveformShape::Role role, const QPolygonF& points, const QColor& color, double width);
// A vertical line over the full height at x.
WaveformShape verticalLine(WaveformShape::Role role, double x, double height, const QColor& color,
                           double width);

} // namespace waveform
