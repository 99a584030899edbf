#pragma once
// The glyph catalogue: the symbol names the windows use, each mapped to a character of the
// bundled glyph font, and small helpers that draw one.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QRectF>
#include <QString>
#include <string_view>

class QPainter;

namespace vt::ui {

// The glyph-font character for a symbol name ("play.fill", "star", "xmark" …); a question-mark
// glyph for a name the catalogue does not hold.
QString glyphText(std::string_view symbolName);
bool hasGlyph(std::string_view symbolName);

// Draws the symbol centred in rect at the given pixel size.
void paintGlyph(QPainter& painter, const QRectF& rect, std::string_view symbolName, double pixelSize,
                const QColor& color);

// Draws the symbol centred in rect on a circle of circleFill that fills rect.
void paintGlyphOnCircle(QPainter& painter, const QRectF& rect, std::string_view symbolName, double pixelSize,
                        const QColor& color, const QColor& circleFill);

// Draws the symbol and a one-line title side by side, centred together in rect, in one colour;
// the title is cut with an ellipsis when the two do not fit.
void paintGlyphAndTitle(QPainter& painter, const QRectF& rect, std::string_view symbolName, double glyphSize,
                        const QString& title, const QFont& font, const QColor& color, double spacing = 5);

// An icon of the symbol for buttons; size is the icon's side in pixels.
QIcon glyphIcon(std::string_view symbolName, int size, const QColor& color);

} // namespace vt::ui
