#pragma once
// The fixed colours of both windows (sRGB, fully opaque). Shades are these colours, or white
// and black, at an opacity: see withOpacity().

#include <QColor>

namespace vt::ui {

namespace palette {
inline const QColor background = QColor::fromRgbF(0.035f, 0.038f, 0.045f);
inline const QColor surface = QColor::fromRgbF(0.075f, 0.08f, 0.092f);
inline const QColor surface2 = QColor::fromRgbF(0.105f, 0.112f, 0.128f);
inline const QColor cyan = QColor::fromRgbF(0.32f, 0.86f, 0.80f);
inline const QColor amber = QColor::fromRgbF(0.98f, 0.70f, 0.28f);
// The desktop program's colour for destructive actions and failures.
inline const QColor danger = QColor::fromRgbF(1.0f, 0.35f, 0.34f);
// The plug-in window's warning colour.
inline const QColor warningRed = QColor::fromRgbF(1.0f, 0.38f, 0.44f);
} // namespace palette

// The colour with its alpha set to opacity (0...1).
inline QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

// The colour with its alpha multiplied by opacity (0...1): a translucent colour stays relatively
// as translucent.
inline QColor faded(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

inline QColor white(double opacity) {
    return withOpacity(Qt::white, opacity);
}
inline QColor black(double opacity) {
    return withOpacity(Qt::black, opacity);
}

} // namespace vt::ui
