#include "VellumtideAU/Window/VellumtideWindowKit.h"

#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

ShorteningStrip::ShorteningStrip(int spacing, QWidget* parent) : QWidget(parent), spacing(spacing) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ShorteningStrip::addWidget(QWidget* widget, int leastWidth) {
    widget->setParent(this);
    widget->setMinimumWidth(std::min(widget->minimumWidth(), leastWidth));
    items.append(widget);
    place();
    updateGeometry();
}

namespace {

// The natural size of an item; a fixed-size widget without a size hint gives its fixed size.
QSize naturalSize(const QWidget* item) {
    return item->sizeHint().expandedTo(item->minimumSize());
}

struct Span {
    int least;
    int natural;
};

// The total width of the spans when none is wider than cap.
int widthUnderCap(const std::vector<Span>& spans, int cap) {
    int total = 0;
    for (const Span& span : spans)
        total += std::clamp(cap, span.least, span.natural);
    return total;
}

// Narrows the widest spans first, none below its least width, until they fit room (when they can).
std::vector<int> shortenToFit(const std::vector<Span>& spans, int room) {
    int low = 0, high = 0;
    for (const Span& span : spans)
        high = std::max(high, span.natural);
    while (low < high) { // the largest cap whose widths still fit
        const int cap = (low + high + 1) / 2;
        if (widthUnderCap(spans, cap) <= room)
            low = cap;
        else
            high = cap - 1;
    }
    std::vector<int> widths;
    for (const Span& span : spans)
        widths.push_back(std::clamp(low, span.least, span.natural));
    return widths;
}

// The widths of the first items that fit room with the spacing between them: the items after the
// first give way before it; the items that fit not even at their least widths get none.
std::vector<int> shareOut(std::vector<Span> spans, int room, int spacing) {
    auto leastTotal = [&] {
        int total = 0;
        for (const Span& span : spans)
            total += span.least + spacing;
        return total - spacing;
    };
    const std::size_t count = spans.size();
    while (spans.size() > 1 && leastTotal() > room)
        spans.pop_back();
    std::vector<int> widths;
    if (!spans.empty()) {
        const int free = room - spacing * int(spans.size() - 1);
        std::vector<Span> rest(spans.begin() + 1, spans.end());
        const int restWidth = std::max(
            widthUnderCap(rest, 0), std::min(widthUnderCap(rest, INT_MAX / 2), free - spans.front().natural));
        widths.push_back(
            std::clamp(free - restWidth, std::min(spans.front().least, free), spans.front().natural));
        for (int width : shortenToFit(rest, restWidth))
            widths.push_back(width);
    }
    widths.resize(count, 0);
    return widths;
}

} // namespace

QSize ShorteningStrip::sizeHint() const {
    int width = 0, height = 0;
    for (QWidget* item : items) {
        width += naturalSize(item).width() + (width ? spacing : 0);
        height = std::max(height, naturalSize(item).height());
    }
    return {width, height};
}

void ShorteningStrip::resizeEvent(QResizeEvent*) {
    place();
}

void ShorteningStrip::place() {
    std::vector<Span> spans;
    for (QWidget* item : items) {
        const int natural = naturalSize(item).width();
        spans.push_back({std::min(item->minimumWidth(), natural), natural});
    }
    const std::vector<int> widths = shareOut(spans, width(), spacing);
    int x = 0;
    for (qsizetype index = 0; index < items.size(); ++index) {
        QWidget* item = items[index];
        const int itemWidth = widths[std::size_t(index)];
        item->setVisible(itemWidth > 0);
        if (itemWidth <= 0)
            continue;
        const int height = naturalSize(item).height();
        item->setGeometry(x, (this->height() - height) / 2, itemWidth, height);
        x += itemWidth + spacing;
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

int leastBadgeWidth() {
    return vt::ui::leastBadgeSize(badgeStyle()).width();
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
