#pragma once
// The desktop program's window's own building blocks: its large title font and its buttons in
// the bordered and prominent styles. The widgets both windows share are in Platform/UI.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <optional>
#include <string>
#include <string_view>

namespace bridge {

// The system font, bold, for large titles: display sizes are set slightly tighter.
QFont titleFont(double pixelSize);

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

} // namespace bridge
