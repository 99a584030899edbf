#pragma once
// Small widgets the sample rows and the edit sheet are built from: a widget and a flat button
// drawn by a function, a one-line label that elides, buttons in the bordered and prominent
// styles, a slider over a range of doubles, and a labelled switch.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QWidget>
#include <functional>
#include <string>

class QSlider;

namespace bridgeui {

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

// A button without chrome (the plain style): a function draws all of it, in a fixed size.
class PaintedButton : public QAbstractButton {
    Q_OBJECT

public:
    PaintedButton(QSize size, PaintFunction paint, QWidget* parent = nullptr);
    QSize sizeHint() const override { return fixedSize; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize fixedSize;
    PaintFunction paint;
};

// One line of text in one font and colour, cut with an ellipsis when it does not fit.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    ElidedLabel(const QFont& font, const QColor& color, QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return content; }
    void setColor(const QColor& color);
    void setAlignment(Qt::Alignment alignment);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString content;
    QColor color;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

// A push button with a title and an optional glyph: "bordered" is a faint box with white text,
// "prominent" is filled with its tint.
class StyledButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Style { bordered, prominent };

    StyledButton(Style style, const QColor& tint, QWidget* parent = nullptr);

    void setContent(const QString& title, std::string symbol = {});
    void setLabelFont(const QFont& font);
    const std::string& symbol() const { return symbolName; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Style style;
    QColor tint;
    QFont labelFont;
    std::string symbolName;
};

// A horizontal slider over a closed range of doubles. Only the user's moves are reported;
// setRange() and setValue() are silent.
class DoubleSlider : public QWidget {
    Q_OBJECT

public:
    explicit DoubleSlider(const QColor& tint, QWidget* parent = nullptr);

    void setRange(double lowest, double highest);
    void setValue(double value);
    double value() const;
    double minimum() const { return lowest; }
    double maximum() const { return highest; }
    QSlider* slider() const { return inner; }

    static constexpr int steps = 10000;

signals:
    void valueEdited(double value);
    void editingStarted();
    void editingEnded();

private:
    int position(double value) const;
    double valueAt(int position) const;

    QSlider* inner;
    double lowest = 0;
    double highest = 1;
    bool isSettingSilently = false;
};

// A checkable switch with its title and glyph on the left and the switch at the right end.
class SwitchToggle : public QAbstractButton {
    Q_OBJECT

public:
    SwitchToggle(const QString& title, std::string symbol, const QColor& tint, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbolName;
    QColor tint;
};

// A colour with its opacity multiplied by opacity.
QColor faded(const QColor& color, double opacity);

// Draws glyph and title side by side, centred in rect, in one colour.
void paintGlyphAndTitle(QPainter& painter, const QRectF& rect, std::string_view symbol, double glyphSize,
                        const QString& title, const QFont& font, const QColor& color, double spacing = 5);

} // namespace bridgeui
