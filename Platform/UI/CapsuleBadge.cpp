#include "Platform/UI/CapsuleBadge.h"

#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

namespace vt::ui {

QSize badgeSize(const BadgeStyle& style, const QString& text) {
    const double width = 2 * style.horizontalPadding + style.glyphSize + style.spacing +
                         QFontMetricsF(style.font).horizontalAdvance(text);
    return QSize(static_cast<int>(std::ceil(width)), style.height);
}

QSize leastBadgeSize(const BadgeStyle& style) {
    return badgeSize(style, QStringLiteral("\u2026"));
}

void paintBadge(QPainter& painter, const QRectF& rect, const BadgeStyle& style, std::string_view symbol,
                const QString& text, const QColor& color) {
    const bool outlined = style.strokeOpacity > 0;
    const double inset = outlined ? 0.5 : 0;
    const QRectF capsule = rect.adjusted(inset, inset, -inset, -inset);
    painter.save();
    painter.setPen(outlined ? QPen(faded(color, style.strokeOpacity), 1) : QPen(Qt::NoPen));
    painter.setBrush(faded(color, style.fillOpacity));
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    painter.restore();
    paintGlyphAndTitle(painter, rect.adjusted(style.horizontalPadding, 0, -style.horizontalPadding, 0),
                       symbol, style.glyphSize, text, style.font, color, style.spacing);
}

CapsuleBadge::CapsuleBadge(BadgeStyle style, QString text, std::string_view symbol, QColor color,
                           QWidget* parent)
    : QWidget(parent), style(std::move(style)), text(std::move(text)), symbol(symbol),
      tint(std::move(color)) {
    setFixedSize(sizeHint());
}

QSize CapsuleBadge::sizeHint() const {
    return badgeSize(style, text);
}

void CapsuleBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintBadge(painter, QRectF(rect()), style, symbol, text, tint);
}

} // namespace vt::ui
