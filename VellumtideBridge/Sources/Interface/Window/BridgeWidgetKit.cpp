#include "VellumtideBridge/Sources/Interface/Window/BridgeWidgetKit.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>

namespace bridge {

using vt::ui::FontWeight;

QFont titleFont(double pixelSize) {
    QFont font = vt::ui::systemFont(pixelSize, FontWeight::bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.025 * pixelSize);
    return font;
}

// ---- LabeledButton ----

namespace {
constexpr double bezelRadius = 6;
constexpr int glyphGap = 5;
} // namespace

LabeledButton::LabeledButton(const QString& text, std::string_view symbol, ButtonStyle style, QWidget* parent)
    : QAbstractButton(parent), symbol_(symbol), style(style), tint(vt::ui::palette::cyan),
      labelFont(vt::ui::systemFont(13, FontWeight::medium)) {
    setText(text);
    setAccessibleName(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    vt::ui::showFocusRing(this, bezelRadius);
    vt::ui::activateOnReturn(this);
}

void LabeledButton::setSymbol(std::string_view symbol) {
    symbol_ = std::string(symbol);
    updateGeometry();
    update();
}

void LabeledButton::setTint(const QColor& color) {
    tint = color;
    update();
}

void LabeledButton::setControlSize(ControlSize size) {
    controlSize = size;
    if (size == ControlSize::small)
        labelFont = vt::ui::systemFont(11, FontWeight::medium);
    updateGeometry();
    update();
}

void LabeledButton::setLabelFont(const QFont& font) {
    labelFont = font;
    updateGeometry();
    update();
}

void LabeledButton::setTextColor(const QColor& color) {
    textColor = color;
    update();
}

void LabeledButton::setStretch(bool stretch) {
    setSizePolicy(stretch ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
}

int LabeledButton::bezelHeight() const {
    return controlSize == ControlSize::small ? 22 : 28;
}

QSize LabeledButton::sizeHint() const {
    const QFontMetrics metrics(labelFont);
    const int padding = controlSize == ControlSize::small ? 8 : 12;
    int content = metrics.horizontalAdvance(text());
    if (!symbol_.empty())
        content += labelFont.pixelSize() + 2 + (text().isEmpty() ? 0 : glyphGap);
    return {content + 2 * padding, bezelHeight()};
}

QSize LabeledButton::minimumSizeHint() const {
    return {std::min(sizeHint().width(), 44), bezelHeight()};
}

void LabeledButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange)
        update();
    QAbstractButton::changeEvent(event);
}

void LabeledButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.4);
    const QRectF bezel(0.5, (height() - bezelHeight()) / 2.0 + 0.5, width() - 1.0, bezelHeight() - 1.0);
    const bool down = isDown();
    const bool hovered = underMouse() && isEnabled();
    QColor fill;
    std::optional<vt::ui::Border> border;
    QColor foreground;
    if (style == ButtonStyle::borderedProminent) {
        fill = down ? tint.darker(125) : hovered ? tint.lighter(108) : tint;
        foreground = vt::ui::black(0.85);
    } else {
        fill = vt::ui::white(down ? 0.2 : hovered ? 0.14 : 0.1);
        border = vt::ui::Border{vt::ui::white(0.08), 1};
        foreground = vt::ui::white(0.86);
    }
    if (textColor)
        foreground = *textColor;
    vt::ui::paintRoundedBox(painter, bezel, fill, bezelRadius, border);

    const QFontMetrics metrics(labelFont);
    const double glyphSide = symbol_.empty() ? 0 : labelFont.pixelSize() + 2;
    const double gap = symbol_.empty() || text().isEmpty() ? 0 : glyphGap;
    const double padding = controlSize == ControlSize::small ? 6 : 8;
    const double available = width() - 2 * padding - glyphSide - gap;
    const QString shown = metrics.elidedText(text(), Qt::ElideRight, int(std::max(0.0, available)));
    const double contentWidth = glyphSide + gap + metrics.horizontalAdvance(shown);
    double x = (width() - contentWidth) / 2;
    if (!symbol_.empty()) {
        vt::ui::paintGlyph(painter, QRectF(x, 0, glyphSide, height()), symbol_, glyphSide, foreground);
        x += glyphSide + gap;
    }
    painter.setFont(labelFont);
    painter.setPen(foreground);
    painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

} // namespace bridge
