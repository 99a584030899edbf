#include "Platform/UI/Drawing.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPixmapCache>
#include <algorithm>
#include <cmath>

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

void paintCached(QPainter& painter, const QRectF& rect, const QString& key,
                 const std::function<void(QPainter&, const QRectF&)>& paint) {
    const double ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize pixels(static_cast<int>(std::ceil(rect.width() * ratio)),
                       static_cast<int>(std::ceil(rect.height() * ratio)));
    if (pixels.isEmpty())
        return;
    const QString sizedKey = QStringLiteral("vt:%1:%2x%3@%4:%5")
                                 .arg(key)
                                 .arg(rect.width())
                                 .arg(rect.height())
                                 .arg(ratio)
                                 .arg(painter.renderHints().toInt());
    QPixmap pixmap;
    if (!QPixmapCache::find(sizedKey, &pixmap)) {
        pixmap = QPixmap(pixels);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter shape(&pixmap);
        shape.setRenderHints(painter.renderHints());
        paint(shape, QRectF(QPointF(0, 0), rect.size()));
        shape.end();
        QPixmapCache::insert(sizedKey, pixmap);
    }
    painter.drawPixmap(rect.topLeft(), pixmap);
}

} // namespace vt::ui
