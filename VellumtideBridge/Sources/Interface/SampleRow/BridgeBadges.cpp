#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeBadges.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeControls.h"

#include <QPainter>
#include <cmath>

namespace {
constexpr double glyphSize = 10;
constexpr double spacing = 4;
constexpr double horizontalPadding = 7;
constexpr double verticalPadding = 3;

QFont badgeFont() {
    return vt::ui::monospacedFont(9, vt::ui::FontWeight::bold);
}
} // namespace

AnalysisBadge::AnalysisBadge(const QString& label, std::string systemImage, const QColor& color,
                             QWidget* parent)
    : AnalysisBadge(label, std::move(systemImage), color, 0.11, 0.26, parent) {}

AnalysisBadge::AnalysisBadge(const QString& label, std::string systemImage, const QColor& color,
                             double fillOpacity, double strokeOpacity, QWidget* parent)
    : QWidget(parent), text(label), symbol(std::move(systemImage)), tint(color), fillOpacity(fillOpacity),
      strokeOpacity(strokeOpacity) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFont(badgeFont());
}

QSize AnalysisBadge::sizeHint() const {
    const QFontMetricsF metrics(font());
    const double width = glyphSize + spacing + metrics.horizontalAdvance(text) + 2 * horizontalPadding;
    const double height = std::max(glyphSize, metrics.height()) + 2 * verticalPadding;
    return QSize(static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height)));
}

void AnalysisBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(bridgeui::faded(tint, strokeOpacity), 1));
    painter.setBrush(bridgeui::faded(tint, fillOpacity));
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    // The whole label, never wrapped: the badge is as wide as its text.
    bridgeui::paintGlyphAndTitle(painter,
                                 QRectF(rect()).adjusted(horizontalPadding, 0, -horizontalPadding, 0), symbol,
                                 glyphSize, text, font(), tint, spacing);
}

EditedBadge::EditedBadge(const QColor& amber, QWidget* parent)
    : AnalysisBadge(QStringLiteral("EDITED"), "scissors", amber, 0.12, 0.28, parent) {
    setToolTip(QStringLiteral("This sample has a rendered edit applied"));
}
