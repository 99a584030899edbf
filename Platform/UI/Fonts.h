#pragma once
// The fonts of both windows, bundled into the binary so text looks the same on every machine:
// a proportional system font, a monospaced font (paths, typed addresses, small captions) and
// the glyph font. Sizes are pixel sizes (one point of the window's layout is one logical pixel).

#include <QFont>

namespace vt::ui {

// Registers the bundled fonts with the running application once; later calls do nothing.
// Returns false when a bundled font could not be registered (text then falls back to the
// platform's fonts).
bool installBundledFonts();

enum class FontWeight { regular, medium, semibold, bold, heavy, black };

QFont systemFont(double pixelSize, FontWeight weight = FontWeight::regular);
QFont monospacedFont(double pixelSize, FontWeight weight = FontWeight::regular);
// The font whose characters are the glyphs of the catalogue (see Glyphs.h).
QFont glyphFont(double pixelSize);

// The family names the bundled fonts register.
inline constexpr const char* systemFontFamily = "Inter";
inline constexpr const char* monospacedFontFamily = "JetBrains Mono";
inline constexpr const char* glyphFontFamily = "Material Icons";

} // namespace vt::ui
