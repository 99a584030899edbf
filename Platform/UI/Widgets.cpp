#include "Platform/UI/Widgets.h"

#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Glyphs.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace vt::ui {

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

// ---- ElidedLabel ----

ElidedLabel::ElidedLabel(QString text, const QFont& font, QColor color, Qt::TextElideMode mode,
                         QWidget* parent)
    : QWidget(parent), content(std::move(text)), textColor(std::move(color)), mode(mode) {
    setFont(font);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    if (text == content)
        return;
    content = text;
    updateGeometry();
    update();
}

void ElidedLabel::setColor(const QColor& color) {
    if (color == textColor)
        return;
    textColor = color;
    update();
}

void ElidedLabel::setAlignment(Qt::Alignment newAlignment) {
    alignment = newAlignment;
    update();
}

void ElidedLabel::setSqueezable(bool value) {
    squeezable = value;
    updateGeometry();
}

QString ElidedLabel::displayedText() const {
    return QFontMetricsF(font()).elidedText(content, mode, width());
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetricsF metrics(font());
    return QSize(static_cast<int>(std::ceil(metrics.horizontalAdvance(content))) + 1,
                 static_cast<int>(std::ceil(metrics.height())));
}

QSize ElidedLabel::minimumSizeHint() const {
    if (squeezable)
        return QSize(0, sizeHint().height());
    const QFontMetricsF metrics(font());
    const int ellipsis = static_cast<int>(std::ceil(metrics.horizontalAdvance(QStringLiteral("…"))));
    return QSize(std::min(sizeHint().width(), ellipsis + 1), sizeHint().height());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(textColor);
    painter.drawText(QRectF(rect()), static_cast<int>(alignment) | Qt::TextSingleLine, displayedText());
}

// ---- GlyphView ----

GlyphView::GlyphView(std::string_view symbol, double glyphSize, QColor color, QSize frame,
                     std::optional<QColor> circleFill, QWidget* parent)
    : QWidget(parent), symbol_(symbol), glyphSize(glyphSize), color_(std::move(color)),
      circleFill(std::move(circleFill)) {
    setFixedSize(frame);
}

void GlyphView::setSymbol(std::string_view symbol) {
    symbol_ = std::string(symbol);
    update();
}

void GlyphView::setColor(const QColor& color) {
    color_ = color;
    update();
}

void GlyphView::setCircleFill(std::optional<QColor> fill) {
    circleFill = std::move(fill);
    update();
}

void GlyphView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (circleFill)
        paintGlyphOnCircle(painter, QRectF(rect()), symbol_, glyphSize, color_, *circleFill);
    else
        paintGlyph(painter, QRectF(rect()), symbol_, glyphSize, color_);
}

// ---- PaintedView and PaintedButton ----

PaintedView::PaintedView(QSize size, PaintFunction paint, QWidget* parent)
    : QWidget(parent), paint(std::move(paint)) {
    setFixedSize(size);
}

void PaintedView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (paint)
        paint(painter, QRectF(rect()));
}

PaintedButton::PaintedButton(QSize size, PaintFunction paint, QWidget* parent)
    : QAbstractButton(parent), fixedSize(size), paint(std::move(paint)) {
    setFixedSize(size);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    showFocusRing(this, capsuleRadius);
    activateOnReturn(this);
}

void PaintedButton::setFocusRingRadius(double radius) {
    showFocusRing(this, radius);
}

void PaintedButton::setPainter(PaintFunction newPaint) {
    paint = std::move(newPaint);
    update();
}

void PaintedButton::setHelp(const QString& help) {
    setToolTip(help);
    setAccessibleName(help);
}

void PaintedButton::setStateOpacities(double pressed, double disabled) {
    pressedOpacity = pressed;
    disabledOpacity = disabled;
    update();
}

void PaintedButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(disabledOpacity);
    else if (isDown())
        painter.setOpacity(pressedOpacity);
    if (paint)
        paint(painter, QRectF(rect()));
}

PaintedButton* makeGlyphButton(std::string_view symbol, double glyphSize, QColor color, QSize frame,
                               std::optional<QColor> circleFill, const QString& help, QWidget* parent) {
    auto* button = new PaintedButton(
        frame,
        [symbol = std::string(symbol), glyphSize, color, circleFill](QPainter& painter, const QRectF& rect) {
            if (circleFill)
                paintGlyphOnCircle(painter, rect, symbol, glyphSize, color, *circleFill);
            else
                paintGlyph(painter, rect, symbol, glyphSize, color);
        },
        parent);
    button->setHelp(help);
    return button;
}

// ---- CardFrame ----

CardFrame::CardFrame(QColor fill, std::optional<Border> border, QWidget* parent)
    : QWidget(parent), fill(std::move(fill)), border(std::move(border)) {}

void CardFrame::setFill(const QColor& newFill) {
    fill = newFill;
    update();
}

void CardFrame::setBorder(std::optional<Border> newBorder) {
    border = std::move(newBorder);
    update();
}

void CardFrame::setClickable(bool value) {
    clickable = value;
    setCursor(value ? Qt::PointingHandCursor : Qt::ArrowCursor);
    setFocusPolicy(value ? Qt::TabFocus : Qt::NoFocus);
    if (value)
        showFocusRing(this, cardCornerRadius);
}

void CardFrame::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (!clickable || (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter))
        return QWidget::keyPressEvent(event);
    if (!event->isAutoRepeat())
        emit clicked();
}

void CardFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (pressed)
        painter.setOpacity(0.75);
    paintRoundedBox(painter, QRectF(rect()), fill, cardCornerRadius, border);
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

} // namespace vt::ui
