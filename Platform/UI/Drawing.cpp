#include "Platform/UI/Drawing.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace vt::ui {

void paintRoundedBox(QPainter& painter, const QRectF& rect, const QColor& fill, double cornerRadius,
                     std::optional<Border> border) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    const double radius = std::clamp(cornerRadius, 0.0, std::min(rect.width(), rect.height()) / 2);
    painter.drawRoundedRect(rect, radius, radius);
    if (border && border->width > 0) {
        const double inset = border->width / 2;
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(border->color, border->width));
        const double innerRadius = std::max(0.0, radius - inset);
        painter.drawRoundedRect(rect.adjusted(inset, inset, -inset, -inset), innerRadius, innerRadius);
    }
    painter.restore();
}

void paintRoundedBar(QPainter& painter, const QRectF& rect, const QColor& fill) {
    paintRoundedBox(painter, rect, fill, rect.width() / 2);
}

} // namespace vt::ui
