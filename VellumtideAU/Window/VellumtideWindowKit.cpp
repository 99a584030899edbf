#include "VellumtideAU/Window/VellumtideWindowKit.h"

#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

PaintedButton::PaintedButton(QSize size, Painter painter, QWidget* parent)
    : QAbstractButton(parent), fixedSize(size), paint(std::move(painter)) {
    setFixedSize(size);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void PaintedButton::setPainter(Painter painter) {
    paint = std::move(painter);
    update();
}

void PaintedButton::setHelp(const QString& text) {
    setToolTip(text);
    setAccessibleName(text);
}

void PaintedButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    if (paint)
        paint(painter, *this);
}

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

void ClippingStrip::place() {
    int x = 0;
    for (QWidget* item : items) {
        QSize size = naturalSize(item);
        item->setGeometry(x, (height() - size.height()) / 2, size.width(), size.height());
        x += size.width() + spacing;
    }
}

namespace VellumtideWindowKit {

namespace {

class ElidingLabel final : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
        painter.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, shown);
    }
};

class BadgeView final : public QWidget {
public:
    BadgeView(std::string_view symbol, QString text, QColor color, QWidget* parent)
        : QWidget(parent), symbol(symbol), label(std::move(text)), color(color) {
        setFixedSize(badgeWidth(symbol, label), badgeHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        paintBadge(painter, rect(), symbol, label, color);
    }

private:
    std::string symbol;
    QString label;
    QColor color;
};

constexpr double badgeGlyphSize = 8;
constexpr double badgeSpacing = 3;
constexpr double badgePadding = 6;

} // namespace

QLabel* textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new ElidingLabel(text, parent);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLabel* glyphLabel(std::string_view symbol, double pixelSize, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(vt::ui::glyphText(symbol), parent);
    label->setFont(vt::ui::glyphFont(pixelSize));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setAlignment(Qt::AlignCenter);
    label->setFixedSize(int(std::ceil(pixelSize)) + 2, int(std::ceil(pixelSize)) + 2);
    return label;
}

int badgeWidth(std::string_view, const QString& text) {
    QFontMetricsF metrics(vt::ui::monospacedFont(8, vt::ui::FontWeight::bold));
    return int(std::ceil(badgePadding * 2 + badgeGlyphSize + badgeSpacing + metrics.horizontalAdvance(text)));
}

void paintBadge(QPainter& painter, const QRectF& rect, std::string_view symbol, const QString& text,
                const QColor& color) {
    QPainterPath capsule;
    capsule.addRoundedRect(rect, rect.height() / 2, rect.height() / 2);
    painter.fillPath(capsule, vt::ui::withOpacity(color, 0.11));
    QRectF glyphRect(rect.left() + badgePadding, rect.top(), badgeGlyphSize, rect.height());
    vt::ui::paintGlyph(painter, glyphRect, symbol, badgeGlyphSize, color);
    painter.setFont(vt::ui::monospacedFont(8, vt::ui::FontWeight::bold));
    painter.setPen(color);
    QRectF textRect(glyphRect.right() + badgeSpacing, rect.top(), rect.right() - glyphRect.right(),
                    rect.height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
}

QWidget* badge(std::string_view symbol, const QString& text, const QColor& color, QWidget* parent) {
    return new BadgeView(symbol, text, color, parent);
}

PaintedButton* badgeButton(std::string_view symbol, const QString& text, const QColor& color,
                           const QString& help, QWidget* parent) {
    std::string name(symbol);
    auto* button = new PaintedButton(
        QSize(badgeWidth(symbol, text), badgeHeight),
        [name, text, color](QPainter& painter, const PaintedButton& self) {
            paintBadge(painter, self.rect(), name, text, color);
        },
        parent);
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
