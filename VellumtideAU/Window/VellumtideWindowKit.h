#pragma once
// The plug-in window's own building blocks over the shared widgets: its manner for painted
// buttons, its label, glyph and capsule-badge presets, a strip that shortens what does not fit,
// its text buttons and dividers.

#include "Platform/UI/CapsuleBadge.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Widgets.h"

#include <QColor>
#include <QHBoxLayout>
#include <QPushButton>
#include <string>
#include <string_view>

// One line of widgets, left to right and vertically centred, each at its natural width while the
// line has room. When room runs short the widgets after the first give way first, the widest
// first, each down to its least width (a badge then shows an ellipsis), then the first one; only
// widgets that do not fit even at their least widths are left out, from the end. Nothing
// overlaps and the window does not widen.
class ShorteningStrip final : public QWidget {
    Q_OBJECT

public:
    ShorteningStrip(int spacing, QWidget* parent = nullptr);
    // Adds a widget that may be narrowed down to leastWidth (its own least width when larger).
    void addWidget(QWidget* widget, int leastWidth = 0);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {0, sizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();
    int spacing;
    QList<QWidget*> items;
};

// A row whose spacing tightens from its natural value towards a least one when its width runs
// short, so that texts kept whole still fit a narrow window.
class TighteningRow final : public QWidget {
public:
    TighteningRow(int spacing, int leastSpacing, QWidget* parent = nullptr);
    QHBoxLayout* row() const { return layout; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QHBoxLayout* layout;
    int spacing;
    int leastSpacing;
};

namespace VellumtideWindowKit {

using vt::ui::FontWeight;

// Gives a painted button the window's manner: it never takes the keyboard focus from the host,
// does not dim while pressed and fades to 0.45 while disabled. Returns the button.
vt::ui::PaintedButton* windowButton(vt::ui::PaintedButton* button);

// A one-line text label, elided at its right edge when space runs out; it takes the height its
// line gives it, and a small window may squeeze it away entirely.
vt::ui::ElidedLabel* textLabel(const QString& text, const QFont& font, const QColor& color,
                               QWidget* parent = nullptr);
// A one-line text label that is never cut: it keeps the width of its whole text.
vt::ui::ElidedLabel* wholeTextLabel(const QString& text, const QFont& font, const QColor& color,
                                    QWidget* parent = nullptr);
// One glyph of the catalogue in a frame two points larger than the glyph.
vt::ui::GlyphView* glyphLabel(std::string_view symbol, double pixelSize, const QColor& color,
                              QWidget* parent = nullptr);

// Capsule badges 16 points high: glyph (8) and monospaced text (8 bold) in the colour, on a
// capsule of the colour at 0.11.
vt::ui::BadgeStyle badgeStyle();
// A badge that shows only; and one that is a button with a tooltip.
QWidget* badge(std::string_view symbol, const QString& text, const QColor& color, QWidget* parent = nullptr);
// The least width of such a badge: its glyph and an ellipsis.
int leastBadgeWidth();
vt::ui::PaintedButton* badgeButton(std::string_view symbol, const QString& text, const QColor& color,
                                   const QString& help, QWidget* parent = nullptr);

// A push button with a symbol and a title (system font 12, bold by default): filled with the
// tint (prominent) or with translucent white (bordered).
QPushButton* labelledButton(const QString& title, std::string_view symbol, bool prominent, const QColor& tint,
                            QWidget* parent = nullptr, FontWeight weight = FontWeight::bold);

// A one-point horizontal rule in white at the opacity.
QWidget* divider(double opacity, QWidget* parent = nullptr);

QString text(const std::string& utf8);

} // namespace VellumtideWindowKit
