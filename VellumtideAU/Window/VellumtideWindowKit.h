#pragma once
// Small building blocks of the plug-in window: a button drawn by a function, text and glyph
// labels in the window's fonts and colours, capsule badges, and dividers.

#include "Platform/UI/Fonts.h"

#include <QAbstractButton>
#include <QColor>
#include <QLabel>
#include <QPushButton>
#include <functional>
#include <string>
#include <string_view>

// A button whose look is one paint function; the tooltip doubles as its accessible name.
class PaintedButton final : public QAbstractButton {
    Q_OBJECT

public:
    using Painter = std::function<void(QPainter&, const PaintedButton&)>;

    PaintedButton(QSize size, Painter painter, QWidget* parent = nullptr);
    void setPainter(Painter painter);
    void setHelp(const QString& text);
    QSize sizeHint() const override { return fixedSize; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize fixedSize;
    Painter paint;
};

// One line of widgets at their natural widths, left to right and vertically centred; what does
// not fit is cut off at the right edge instead of widening the window.
class ClippingStrip final : public QWidget {
    Q_OBJECT

public:
    ClippingStrip(int spacing, QWidget* parent = nullptr);
    void addWidget(QWidget* widget);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {0, sizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();
    int spacing;
    QList<QWidget*> items;
};

namespace VellumtideWindowKit {

using vt::ui::FontWeight;

// A one-line text label; elided at its right edge when space runs out.
QLabel* textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr);
// A label showing one glyph of the catalogue.
QLabel* glyphLabel(std::string_view symbol, double pixelSize, const QColor& color, QWidget* parent = nullptr);

// The width a capsule badge needs for its symbol and text.
int badgeWidth(std::string_view symbol, const QString& text);
inline constexpr int badgeHeight = 16;
// Glyph (8 bold) and monospaced text (8 bold) in the colour, on a capsule of the colour at 0.11.
void paintBadge(QPainter& painter, const QRectF& rect, std::string_view symbol, const QString& text,
                const QColor& color);
// A badge that shows only; and one that is a button with a tooltip.
QWidget* badge(std::string_view symbol, const QString& text, const QColor& color, QWidget* parent = nullptr);
PaintedButton* badgeButton(std::string_view symbol, const QString& text, const QColor& color,
                           const QString& help, QWidget* parent = nullptr);

// A push button with a symbol and a title (system font 12, bold by default): filled with the
// tint (prominent) or with translucent white (bordered).
QPushButton* labelledButton(const QString& title, std::string_view symbol, bool prominent, const QColor& tint,
                            QWidget* parent = nullptr, FontWeight weight = FontWeight::bold);

// A one-point horizontal rule in white at the opacity.
QWidget* divider(double opacity, QWidget* parent = nullptr);

QString text(const std::string& utf8);

} // namespace VellumtideWindowKit
