#include "Shared/Interface/VellumtideLogoMark.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/Palette.h"

#include <QPainter>
#include <array>
#include <cmath>

namespace {
constexpr double barWidthShare = 0.085;
constexpr double gapShare = 0.058;
constexpr std::array<double, 5> barHeightShares{0.48, 0.72, 0.92, 0.72, 0.48};
constexpr double barOpacity = 0.78;
} // namespace

VellumtideLogoMark::VellumtideLogoMark(double diameter, QColor accent, QWidget* parent)
    : QWidget(parent), accent(std::move(accent)) {
    const int side = static_cast<int>(std::lround(diameter));
    setFixedSize(side, side);
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName({});
    setAccessibleDescription({});
}

std::array<QRectF, 5> VellumtideLogoMark::barRects(double width, double height) {
    const double bar = barWidthShare * width;
    const double gap = gapShare * width;
    const double firstX = (width - (5 * bar + 4 * gap)) / 2;
    std::array<QRectF, 5> rects;
    for (std::size_t index = 0; index < rects.size(); ++index) {
        const double barHeight = barHeightShares[index] * height;
        rects[index] = QRectF(firstX + static_cast<double>(index) * (bar + gap), (height - barHeight) / 2,
                              bar, barHeight);
    }
    return rects;
}

void VellumtideLogoMark::paint(QPainter& painter, double width, double height, const QColor& accent) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(accent);
    painter.drawEllipse(QRectF(0, 0, width, height));
    for (const QRectF& bar : barRects(width, height))
        vt::ui::paintRoundedBar(painter, bar, vt::ui::black(barOpacity));
    painter.restore();
}

void VellumtideLogoMark::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, width(), height(), accent);
}
