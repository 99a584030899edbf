#pragma once
// A small capsule label: a glyph and a one-line text in one colour on a faint capsule of that
// colour, as wide as its content. Each window gives its badges their own style.

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>
#include <string>
#include <string_view>

namespace vt::ui {

struct BadgeStyle {
    QFont font;
    double glyphSize = 10;
    double spacing = 4;           // between glyph and text
    double horizontalPadding = 7; // at each end
    int height = 18;
    double fillOpacity = 0.11;
    double strokeOpacity = 0; // 0 draws no outline
};

// The size a badge of the style needs for its text.
QSize badgeSize(const BadgeStyle& style, const QString& text);
// The least size a badge of the style keeps when narrowed: its glyph and an ellipsis.
QSize leastBadgeSize(const BadgeStyle& style);
// Paints a badge into rect: the capsule (outlined inside rect when the style strokes), then the
// glyph and text centred between the paddings; the text ends in an ellipsis when rect is narrower
// than the badge's size.
void paintBadge(QPainter& painter, const QRectF& rect, const BadgeStyle& style, std::string_view symbol,
                const QString& text, const QColor& color);

// A badge that only shows; its size is fixed to its content unless a smaller minimum width is set,
// down to which it may be narrowed.
class CapsuleBadge : public QWidget {
    Q_OBJECT

public:
    CapsuleBadge(BadgeStyle style, QString text, std::string_view symbol, QColor color,
                 QWidget* parent = nullptr);

    const QString& label() const { return text; }
    const std::string& systemImage() const { return symbol; }
    const QColor& color() const { return tint; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    BadgeStyle style;
    QString text;
    std::string symbol;
    QColor tint;
};

} // namespace vt::ui
