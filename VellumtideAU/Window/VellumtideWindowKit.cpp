#include "VellumtideAU/Window/VellumtideWindowKit.h"

#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QPainter>
#include <cmath>

ClippingStrip::ClippingStrip(int spacing, QWidget* parent) : QWidget(parent), spacing(spacing) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ClippingStrip::addWidget(QWidget* widget) {
    widget->setParent(this);
    items.append(widget);
    place();
    updateGeometry();
}

namespace {

// The natural size of an item; a fixed-size widget without a size hint gives its fixed size.
QSize naturalSize(const QWidget* item) {
    return item->sizeHint().expandedTo(item->minimumSize());
}

} // namespace

QSize ClippingStrip::sizeHint() const {
    int width = 0, height = 0;
    for (QWidget* item : items) {
        width += naturalSize(item).width() + (width ? spacing : 0);
        height = std::max(height, naturalSize(item).height());
    }
    return {width, height};
}

void ClippingStrip::resizeEvent(QResizeEvent*) {
    place();
}

// Whole items from the left; the first item alone may be narrowed (a label then shows an
// ellipsis), and an item that does not fit whole is left out with all after it.
void ClippingStrip::place() {
    int x = 0;
    bool fits = true;
    for (QWidget* item : items) {
        QSize size = naturalSize(item);
        if (item == items.front())
            size.setWidth(std::min(size.width(), width()));
        fits = fits && x + size.width() <= width();
        item->setVisible(fits);
        if (!fits)
            continue;
        item->setGeometry(x, (height() - size.height()) / 2, size.width(), size.height());
        x += size.width() + spacing;
    }
}

TighteningRow::TighteningRow(int spacing, int leastSpacing, QWidget* parent)
    : QWidget(parent), layout(new QHBoxLayout(this)), spacing(spacing), leastSpacing(leastSpacing) {
    layout->setSpacing(spacing);
}

void TighteningRow::resizeEvent(QResizeEvent* event) {
    int chosen = spacing;
    layout->setSpacing(chosen);
    while (chosen > leastSpacing && layout->minimumSize().width() > width())
        layout->setSpacing(--chosen);
    QWidget::resizeEvent(event);
}

namespace VellumtideWindowKit {

vt::ui::PaintedButton* windowButton(vt::ui::PaintedButton* button) {
    button->setFocusPolicy(Qt::NoFocus);
    button->setStateOpacities(1.0, 0.45);
    return button;
}

vt::ui::ElidedLabel* textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new vt::ui::ElidedLabel(text, font, color, Qt::ElideRight, parent);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    label->setSqueezable(true);
    return label;
}

vt::ui::ElidedLabel* wholeTextLabel(const QString& text, const QFont& font, const QColor& color,
                                    QWidget* parent) {
    auto* label = new vt::ui::ElidedLabel(text, font, color, Qt::ElideRight, parent);
    label->setMinimumWidth(label->sizeHint().width());
    return label;
}

vt::ui::GlyphView* glyphLabel(std::string_view symbol, double pixelSize, const QColor& color,
                              QWidget* parent) {
    const int side = int(std::ceil(pixelSize)) + 2;
    return new vt::ui::GlyphView(symbol, pixelSize, color, QSize(side, side), std::nullopt, parent);
}

vt::ui::BadgeStyle badgeStyle() {
    vt::ui::BadgeStyle style;
    style.font = vt::ui::monospacedFont(8, FontWeight::bold);
    style.glyphSize = 8;
    style.spacing = 3;
    style.horizontalPadding = 6;
    style.height = 16;
    style.fillOpacity = 0.11;
    return style;
}

QWidget* badge(std::string_view symbol, const QString& text, const QColor& color, QWidget* parent) {
    return new vt::ui::CapsuleBadge(badgeStyle(), text, symbol, color, parent);
}

vt::ui::PaintedButton* badgeButton(std::string_view symbol, const QString& text, const QColor& color,
                                   const QString& help, QWidget* parent) {
    const vt::ui::BadgeStyle style = badgeStyle();
    auto* button = windowButton(new vt::ui::PaintedButton(
        vt::ui::badgeSize(style, text),
        [style, name = std::string(symbol), text, color](QPainter& painter, const QRectF& rect) {
            vt::ui::paintBadge(painter, rect, style, name, text, color);
        },
        parent));
    button->setHelp(help);
    return button;
}

QPushButton* labelledButton(const QString& title, std::string_view symbol, bool prominent, const QColor& tint,
                            QWidget* parent, FontWeight weight) {
    auto* button = new QPushButton(vt::ui::glyphIcon(symbol, 14, Qt::white), title, parent);
    button->setFont(vt::ui::systemFont(12, weight));
    button->setCursor(Qt::PointingHandCursor);
    button->setFixedHeight(26);
    button->setAccessibleName(title);
    QString fill = prominent ? tint.name() : QStringLiteral("rgba(255,255,255,28)");
    QString pressed = prominent ? tint.darker(125).name() : QStringLiteral("rgba(255,255,255,48)");
    button->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none;"
                                         " border-radius: 6px; padding: 0 12px; }"
                                         "QPushButton:pressed { background: %2; }")
                              .arg(fill, pressed));
    vt::ui::showFocusRing(button, 6); // the keyboard reaches it: it shows where it is
    vt::ui::activateOnReturn(button);
    return button;
}

QWidget* divider(double opacity, QWidget* parent) {
    auto* line = new QWidget(parent);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, vt::ui::white(opacity));
    line->setPalette(palette);
    return line;
}

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

} // namespace VellumtideWindowKit
