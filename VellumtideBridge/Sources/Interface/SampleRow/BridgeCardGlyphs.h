#pragma once
// Glyph sizes in the sample card: the glyph font's pixel size that matches a symbol drawn at a
// given text size.

#include <cmath>

namespace bridgeui {

inline double glyphSize(double points) {
    return std::round(points * 1.25);
}

} // namespace bridgeui
