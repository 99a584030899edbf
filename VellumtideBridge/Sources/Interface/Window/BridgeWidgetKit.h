#pragma once
// Small building blocks of the desktop program's window: labels of one fixed font and colour,
// one-line labels that elide, glyphs in a frame, rounded cards, and buttons drawn in the
// window's bordered, prominent and plain styles.

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

namespace bridge {

// The system font, bold, for large titles: display sizes are set slightly tighter.
QFont titleFont(double pixelSize);

// A label in a fixed font and colour; wrap lets it take as many lines as it needs.
QLabel* makeText(const QString& text, const QFont& font, const QColor& color, bool wrap = false,
                 QWidget* parent = nullptr);
void setTextColor(QWidget* widget, const QColor& color);
// Lays out children with the given spacing and no margins.
QVBoxLayout* makeColumn(QWidget* owner, int spacing);
QHBoxLayout* makeRow(QWidget* owner, int spacing);

// One line of text, cut with an ellipsis where it does not fit the width it is given.
class ElidedLabel final : public QWidget {
public:
    ElidedLabel(QString text, QFont font, QColor color, Qt::TextElideMode mode = Qt::ElideRight,
                QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);
    void setColor(const QColor& color);
    // The text as painted at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color;
    Qt::TextElideMode mode;
};

// A glyph of the catalogue centred in a fixed frame, optionally on a filled circle.
class GlyphBadge final : public QWidget {
public:
    GlyphBadge(std::string_view symbol, double glyphSize, QColor color, QSize frame,
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

// A rounded card (corner radius 8) with one fill and an optional hairline border. When
// clickable it emits clicked() for a left click released inside it.
class CardFrame : public QWidget {
    Q_OBJECT

public:
    explicit CardFrame(QColor fill, std::optional<vt::ui::Border> border = std::nullopt,
                       QWidget* parent = nullptr);

    void setFill(const QColor& fill);
    void setBorder(std::optional<vt::ui::Border> border);
    void setClickable(bool clickable);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QColor fill;
    std::optional<vt::ui::Border> border;
    bool clickable = false;
    bool pressed = false;
};

enum class ButtonStyle { bordered, borderedProminent };
enum class ControlSize { small, regular };

// A text button with an optional leading glyph, drawn as a rounded bezel: bordered (a faint
// white fill) or prominent (filled with its tint). Stretched buttons share a row equally.
class LabeledButton final : public QAbstractButton {
public:
    LabeledButton(const QString& text, std::string_view symbol, ButtonStyle style, QWidget* parent = nullptr);

    void setSymbol(std::string_view symbol);
    const std::string& symbol() const { return symbol_; }
    void setTint(const QColor& tint);
    void setControlSize(ControlSize size);
    void setLabelFont(const QFont& font);
    void setTextColor(const QColor& color);
    void setStretch(bool stretch);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int bezelHeight() const;

    std::string symbol_;
    ButtonStyle style;
    ControlSize controlSize = ControlSize::regular;
    QColor tint;
    std::optional<QColor> textColor;
    QFont labelFont;
};

// A button without a bezel whose whole look is painted by a callback (the plain style); it
// dims while pressed and fades while disabled.
class PlainButton final : public QAbstractButton {
public:
    using Painter = std::function<void(QPainter&, const QRectF&)>;

    PlainButton(QSize size, Painter painter, QWidget* parent = nullptr);
    void setPainter(Painter painter);
    // Sets the tooltip and the accessible name together.
    void setHelp(const QString& help);

    QSize sizeHint() const override { return fixedSize; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize fixedSize;
    Painter painter;
};

// A plain-style button showing one glyph in a frame, optionally on a filled circle.
PlainButton* makeGlyphButton(std::string_view symbol, double glyphSize, QColor color, QSize frame,
                             std::optional<QColor> circleFill, const QString& help,
                             QWidget* parent = nullptr);

} // namespace bridge
