#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeControls.h"

#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QSlider>
#include <algorithm>
#include <cmath>

namespace bridgeui {

using namespace vt::ui;

vt::ui::PaintedButton* makeViewButton(QSize size, vt::ui::PaintFunction paint) {
    auto* button = new PaintedButton(size, std::move(paint));
    button->setFocusPolicy(Qt::StrongFocus);
    button->unsetCursor();
    return button;
}

// ---- StyledButton ----

namespace {
constexpr double buttonHeight = 26;
constexpr double buttonPadding = 11;
constexpr double buttonGlyphGap = 5;
} // namespace

StyledButton::StyledButton(Style style, const QColor& tint, QWidget* parent)
    : QAbstractButton(parent), style(style), tint(tint), labelFont(systemFont(12, FontWeight::semibold)) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    showFocusRing(this, 6);
    activateOnReturn(this);
}

void StyledButton::setContent(const QString& title, std::string symbol) {
    if (title == text() && symbol == symbolName)
        return;
    setText(title);
    symbolName = std::move(symbol);
    updateGeometry();
    update();
}

void StyledButton::setLabelFont(const QFont& font) {
    labelFont = font;
    updateGeometry();
}

QSize StyledButton::sizeHint() const {
    const QFontMetricsF metrics(labelFont);
    const double glyph = symbolName.empty() ? 0 : labelFont.pixelSize() + 1 + buttonGlyphGap;
    return QSize(static_cast<int>(std::ceil(metrics.horizontalAdvance(text()) + glyph + 2 * buttonPadding)),
                 static_cast<int>(buttonHeight));
}

void StyledButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool enabled = isEnabled();
    QColor fill;
    QColor ink;
    if (style == Style::prominent) {
        fill = faded(tint, enabled ? (isDown() ? 0.78 : 1.0) : 0.32);
        ink = black(enabled ? 0.86 : 0.5);
    } else {
        fill = white(isDown() ? 0.16 : 0.1);
        ink = white(enabled ? 0.88 : 0.32);
    }
    painter.setPen(style == Style::bordered ? QPen(white(0.12), 1) : Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, 6, 6);
    paintGlyphAndTitle(painter, QRectF(rect()).adjusted(buttonPadding - 2, 0, -(buttonPadding - 2), 0),
                       symbolName, labelFont.pixelSize() + 1, text(), labelFont, ink, buttonGlyphGap);
}

// ---- DoubleSlider ----

DoubleSlider::DoubleSlider(const QColor& tint, QWidget* parent)
    : QWidget(parent), inner(new QSlider(Qt::Horizontal)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(inner);
    inner->setRange(0, steps);
    inner->setSingleStep(steps / 100);
    inner->setPageStep(steps / 10);
    showFocusRing(inner, capsuleRadius);
    const QString tintText = tint.name(QColor::HexRgb);
    inner->setStyleSheet(
        QStringLiteral("QSlider { min-height: 20px; }"
                       "QSlider::groove:horizontal { height: 4px; border-radius: 2px;"
                       "  background: rgba(255,255,255,36); }"
                       "QSlider::sub-page:horizontal { border-radius: 2px; background: %1; }"
                       "QSlider::sub-page:horizontal:disabled { background: rgba(255,255,255,50); }"
                       "QSlider::handle:horizontal { width: 16px; height: 16px; margin: -6px 0;"
                       "  border-radius: 8px; background: #f2f2f2; }"
                       "QSlider::handle:horizontal:disabled { background: #777; }")
            .arg(tintText));
    connect(inner, &QSlider::valueChanged, this, [this](int position) {
        if (!isSettingSilently)
            emit valueEdited(valueAt(position));
    });
    connect(inner, &QSlider::sliderPressed, this, &DoubleSlider::editingStarted);
    connect(inner, &QSlider::sliderReleased, this, &DoubleSlider::editingEnded);
}

void DoubleSlider::setRange(double newLowest, double newHighest) {
    lowest = newLowest;
    highest = std::max(newLowest, newHighest);
}

void DoubleSlider::setValue(double value) {
    isSettingSilently = true;
    inner->setValue(position(value));
    isSettingSilently = false;
}

double DoubleSlider::value() const {
    return valueAt(inner->value());
}

int DoubleSlider::position(double value) const {
    const double span = highest - lowest;
    if (!(span > 0) || std::isnan(value))
        return 0;
    const double fraction = std::clamp((value - lowest) / span, 0.0, 1.0);
    return static_cast<int>(std::lround(fraction * steps));
}

double DoubleSlider::valueAt(int position) const {
    if (position <= 0)
        return lowest;
    if (position >= steps)
        return highest;
    return lowest + (highest - lowest) * position / steps;
}

// ---- SwitchToggle ----

namespace {
constexpr double switchWidth = 36;
constexpr double switchHeight = 20;
} // namespace

SwitchToggle::SwitchToggle(const QString& title, std::string symbol, const QColor& tint, QWidget* parent)
    : QAbstractButton(parent), symbolName(std::move(symbol)), tint(tint) {
    setText(title);
    setCheckable(true);
    setFont(systemFont(13, FontWeight::semibold));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    showFocusRing(this, 6);
    activateOnReturn(this);
}

QSize SwitchToggle::sizeHint() const {
    const QFontMetricsF metrics(font());
    return QSize(static_cast<int>(std::ceil(metrics.horizontalAdvance(text()) + 20 + switchWidth + 16)), 24);
}

void SwitchToggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(rect());
    const QColor ink = white(0.76);
    paintGlyph(painter, QRectF(0, 0, 15, area.height()), symbolName, 15, ink);
    painter.setFont(font());
    painter.setPen(ink);
    painter.drawText(area.adjusted(21, 0, -(switchWidth + 8), 0), Qt::AlignLeft | Qt::AlignVCenter, text());

    const QRectF track(area.right() - switchWidth, area.center().y() - switchHeight / 2, switchWidth,
                       switchHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? tint : white(0.18));
    painter.drawRoundedRect(track, switchHeight / 2, switchHeight / 2);
    const double knob = switchHeight - 4;
    const double knobX = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(QColor(245, 245, 245));
    painter.drawEllipse(QRectF(knobX, track.top() + 2, knob, knob));
}

} // namespace bridgeui
