#include "VellumtideBridge/Sources/Interface/Window/BridgeWidgetKit.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace bridge {

using vt::ui::FontWeight;

QFont titleFont(double pixelSize) {
    QFont font = vt::ui::systemFont(pixelSize, FontWeight::bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.025 * pixelSize);
    return font;
}

QLabel* makeText(const QString& text, const QFont& font, const QColor& color, bool wrap, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    setTextColor(label, color);
    return label;
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::WindowText, color);
        palette.setColor(group, QPalette::Text, color);
    }
    widget->setPalette(palette);
}

QVBoxLayout* makeColumn(QWidget* owner, int spacing) {
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QHBoxLayout* makeRow(QWidget* owner, int spacing) {
    auto* layout = new QHBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

// ---- ElidedLabel ----

ElidedLabel::ElidedLabel(QString text, QFont font, QColor color, Qt::TextElideMode mode, QWidget* parent)
    : QWidget(parent), text_(std::move(text)), color(std::move(color)), mode(mode) {
    setFont(font);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    updateGeometry();
    update();
}

void ElidedLabel::setColor(const QColor& newColor) {
    color = newColor;
    update();
}

QString ElidedLabel::displayedText() const {
    return fontMetrics().elidedText(text_, mode, width());
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text_) + 1, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {std::min(sizeHint().width(), fontMetrics().horizontalAdvance(QStringLiteral("W…"))),
            fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(color);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, displayedText());
}

// ---- GlyphBadge ----

GlyphBadge::GlyphBadge(std::string_view symbol, double glyphSize, QColor color, QSize frame,
                       std::optional<QColor> circleFill, QWidget* parent)
    : QWidget(parent), symbol_(symbol), glyphSize(glyphSize), color_(std::move(color)),
      circleFill(std::move(circleFill)) {
    setFixedSize(frame);
}

void GlyphBadge::setSymbol(std::string_view symbol) {
    symbol_ = std::string(symbol);
    update();
}

void GlyphBadge::setColor(const QColor& color) {
    color_ = color;
    update();
}

void GlyphBadge::setCircleFill(std::optional<QColor> fill) {
    circleFill = std::move(fill);
    update();
}

void GlyphBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (circleFill) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(*circleFill);
        painter.drawEllipse(QRectF(rect()));
    }
    vt::ui::paintGlyph(painter, QRectF(rect()), symbol_, glyphSize, color_);
}

// ---- CardFrame ----

CardFrame::CardFrame(QColor fill, std::optional<vt::ui::Border> border, QWidget* parent)
    : QWidget(parent), fill(std::move(fill)), border(std::move(border)) {}

void CardFrame::setFill(const QColor& newFill) {
    fill = newFill;
    update();
}

void CardFrame::setBorder(std::optional<vt::ui::Border> newBorder) {
    border = std::move(newBorder);
    update();
}

void CardFrame::setClickable(bool value) {
    clickable = value;
    setCursor(value ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void CardFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (pressed)
        painter.setOpacity(0.75);
    vt::ui::paintRoundedBox(painter, QRectF(rect()), fill, vt::ui::cardCornerRadius, border);
}

void CardFrame::mousePressEvent(QMouseEvent* event) {
    if (!clickable || event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    pressed = true;
    update();
}

void CardFrame::mouseReleaseEvent(QMouseEvent* event) {
    if (!clickable || event->button() != Qt::LeftButton || !pressed)
        return QWidget::mouseReleaseEvent(event);
    pressed = false;
    update();
    if (rect().contains(event->position().toPoint()))
        emit clicked();
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

// ---- PlainButton ----

PlainButton::PlainButton(QSize size, Painter painter, QWidget* parent)
    : QAbstractButton(parent), fixedSize(size), painter(std::move(painter)) {
    setFixedSize(size);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void PlainButton::setPainter(Painter newPainter) {
    painter = std::move(newPainter);
    update();
}

void PlainButton::setHelp(const QString& help) {
    setToolTip(help);
    setAccessibleName(help);
}

void PlainButton::paintEvent(QPaintEvent*) {
    QPainter canvas(this);
    canvas.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        canvas.setOpacity(0.4);
    else if (isDown())
        canvas.setOpacity(0.7);
    if (painter)
        painter(canvas, QRectF(rect()));
}

PlainButton* makeGlyphButton(std::string_view symbol, double glyphSize, QColor color, QSize frame,
                             std::optional<QColor> circleFill, const QString& help, QWidget* parent) {
    auto* button = new PlainButton(
        frame,
        [symbol = std::string(symbol), glyphSize, color, circleFill](QPainter& painter, const QRectF& rect) {
            if (circleFill) {
                painter.setPen(Qt::NoPen);
                painter.setBrush(*circleFill);
                painter.drawEllipse(rect);
            }
            vt::ui::paintGlyph(painter, rect, symbol, glyphSize, color);
        },
        parent);
    button->setHelp(help);
    return button;
}

} // namespace bridge
