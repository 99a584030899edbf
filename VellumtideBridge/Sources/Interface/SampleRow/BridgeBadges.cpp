#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeBadges.h"

#include "Platform/UI/Fonts.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace {

// Glyph 10 and monospaced text 9 (bold), 4 apart, 7 from the ends and 3 from the top and bottom.
vt::ui::BadgeStyle cardBadgeStyle(double fillOpacity, double strokeOpacity) {
    vt::ui::BadgeStyle style;
    style.font = vt::ui::monospacedFont(9, vt::ui::FontWeight::bold);
    style.glyphSize = 10;
    style.spacing = 4;
    style.horizontalPadding = 7;
    const double verticalPadding = 3;
    style.height = static_cast<int>(
        std::ceil(std::max(style.glyphSize, QFontMetricsF(style.font).height()) + 2 * verticalPadding));
    style.fillOpacity = fillOpacity;
    style.strokeOpacity = strokeOpacity;
    return style;
}

} // namespace

AnalysisBadge::AnalysisBadge(const QString& label, std::string systemImage, const QColor& color,
                             QWidget* parent)
    : AnalysisBadge(label, std::move(systemImage), color, 0.11, 0.26, parent) {}

AnalysisBadge::AnalysisBadge(const QString& label, std::string systemImage, const QColor& color,
                             double fillOpacity, double strokeOpacity, QWidget* parent)
    : CapsuleBadge(cardBadgeStyle(fillOpacity, strokeOpacity), label, systemImage, color, parent) {}

EditedBadge::EditedBadge(const QColor& amber, QWidget* parent)
    : AnalysisBadge(QStringLiteral("EDITED"), "scissors", amber, 0.12, 0.28, parent) {
    setToolTip(QStringLiteral("This sample has a rendered edit applied"));
}
