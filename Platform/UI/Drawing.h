#pragma once
// Painting helpers shared by the windows' custom widgets: filled rounded cards and boxes with an
// optional hairline border, and pill-shaped bars.

#include <QColor>
#include <QRectF>
#include <optional>

class QPainter;

namespace vt::ui {

inline constexpr double cardCornerRadius = 8.0;

struct Border {
    QColor color;
    double width = 1.0;
};

// Fills rect as a rounded rectangle (antialiased); a border is drawn inside the rect's edge.
void paintRoundedBox(QPainter& painter, const QRectF& rect, const QColor& fill,
                     double cornerRadius = cardCornerRadius, std::optional<Border> border = std::nullopt);

// A bar whose corner radius is half its width (rounded ends), as waveforms draw them.
void paintRoundedBar(QPainter& painter, const QRectF& rect, const QColor& fill);

} // namespace vt::ui
