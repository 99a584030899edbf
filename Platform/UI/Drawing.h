#pragma once
// Painting helpers shared by the windows' custom widgets: filled rounded cards and boxes with an
// optional hairline border, pill-shaped bars, and a pixmap cache for large shapes.

#include <QColor>
#include <QRectF>
#include <QString>
#include <functional>
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

// Draws into rect what paint draws into a rect of its size at the origin, from a pixmap made once
// per key, size and pixel ratio and kept in Qt's pixmap cache. For a large translucent or
// antialiased shape painted again and again (a card's background): a pixmap is copied, where the
// shape would be rasterised anew, and tall translucent shapes are handed to the raster engine's
// thread pool on every paint. key names everything paint depends on besides the size.
void paintCached(QPainter& painter, const QRectF& rect, const QString& key,
                 const std::function<void(QPainter&, const QRectF&)>& paint);

} // namespace vt::ui
