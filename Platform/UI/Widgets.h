#pragma once
// The small widgets both windows are built from: layouts without margins, labels of one fixed
// font and colour, one-line labels that elide, glyphs in a frame, views and bezel-less buttons
// that a function paints, and rounded cards.

#include "Platform/UI/Drawing.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vt::ui {

// Lays out children with the given spacing and no margins.
QVBoxLayout* makeColumn(QWidget* owner, int spacing);
QHBoxLayout* makeRow(QWidget* owner, int spacing);

// A plain-text label in a fixed font and colour; wrap lets it take as many lines as it needs.
QLabel* makeText(const QString& text, const QFont& font, const QColor& color, bool wrap = false,
                 QWidget* parent = nullptr);
// Sets the colour a widget draws its text in, whatever its state.
void setTextColor(QWidget* widget, const QColor& color);

// One line of text in one font and colour, cut with an ellipsis where it does not fit the width
// it is given. It is as tall as its font and asks for the width of its whole text; a squeezed row
// takes it down to its ellipsis, or to nothing when it is squeezable.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    ElidedLabel(QString text, const QFont& font, QColor color, Qt::TextElideMode mode = Qt::ElideRight,
                QWidget* parent = nullptr);

    const QString& text() const { return content; }
    void setText(const QString& text);
    const QColor& color() const { return textColor; }
    void setColor(const QColor& color);
    // Left and vertically centred unless set.
    void setAlignment(Qt::Alignment alignment);
    void setSqueezable(bool squeezable);
    // The text as painted at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString content;
    QColor textColor;
    Qt::TextElideMode mode;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool squeezable = false;
};

// A glyph of the catalogue centred in a fixed frame, optionally on a filled circle.
class GlyphView : public QWidget {
    Q_OBJECT

public:
    GlyphView(std::string_view symbol, double glyphSize, QColor color, QSize frame,
              std::optional<QColor> circleFill = std::nullopt, QWidget* parent = nullptr);

    const std::string& symbol() const { return symbol_; }
    const QColor& color() const { return color_; }
    void setSymbol(std::string_view symbol);
    void setColor(const QColor& color);
    void setCircleFill(std::optional<QColor> fill);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    double glyphSize;
    QColor color_;
    std::optional<QColor> circleFill;
};

// The function that draws a painted view or button into its rectangle (antialiased).
using PaintFunction = std::function<void(QPainter&, const QRectF&)>;

// A widget of a fixed size that a function draws.
class PaintedView : public QWidget {
    Q_OBJECT

public:
    PaintedView(QSize size, PaintFunction paint, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PaintFunction paint;
};

// A button of a fixed size without a bezel, drawn whole by a function. It shows a pointing hand,
// takes focus from the keyboard only (with a capsule focus ring unless told otherwise), dims
// while pressed and fades while disabled; Space and Return press it.
class PaintedButton : public QAbstractButton {
    Q_OBJECT

public:
    PaintedButton(QSize size, PaintFunction paint, QWidget* parent = nullptr);

    void setPainter(PaintFunction paint);
    // Sets the tooltip and the accessible name together.
    void setHelp(const QString& help);
    // The opacity of the drawing while pressed and while disabled (1 leaves it as it is).
    void setStateOpacities(double pressed, double disabled);
    // The corner radius of the focus ring (capsuleRadius for a capsule or circle).
    void setFocusRingRadius(double radius);

    QSize sizeHint() const override { return fixedSize; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize fixedSize;
    PaintFunction paint;
    double pressedOpacity = 0.7;
    double disabledOpacity = 0.4;
};

// A painted button showing one glyph in its frame, optionally on a filled circle.
PaintedButton* makeGlyphButton(std::string_view symbol, double glyphSize, QColor color, QSize frame,
                               std::optional<QColor> circleFill, const QString& help,
                               QWidget* parent = nullptr);

// A rounded card (corner radius 8) with one fill and an optional hairline border behind its
// children. When clickable it emits clicked() for a left click released inside it, and for Space
// or Return while it has the keyboard focus (which it takes by Tab, showing a focus ring).
class CardFrame : public QWidget {
    Q_OBJECT

public:
    explicit CardFrame(QColor fill, std::optional<Border> border = std::nullopt, QWidget* parent = nullptr);

    void setFill(const QColor& fill);
    void setBorder(std::optional<Border> border);
    void setClickable(bool clickable);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QColor fill;
    std::optional<Border> border;
    bool clickable = false;
    bool pressed = false;
};

} // namespace vt::ui
