#pragma once
// Controls the sample cards and the edit sheet are built from: their painted buttons, buttons in
// the bordered and prominent styles, a slider over a range of doubles, and a labelled switch.

#include "Platform/UI/Widgets.h"

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QWidget>
#include <string>

class QSlider;

namespace bridgeui {

// A painted button as the sample views use it: a click takes the keyboard focus too (which ends
// a rename in progress), and the cursor stays the arrow.
vt::ui::PaintedButton* makeViewButton(QSize size, vt::ui::PaintFunction paint);

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

} // namespace bridgeui
