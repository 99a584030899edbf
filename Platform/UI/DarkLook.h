#pragma once
// The dark look both windows share: one whole palette (window, text, controls, scroll bars,
// selections, tooltips) from the fixed colours, and Qt's Fusion style that draws with it.

#include <QPalette>

class QApplication;
class QWidget;

namespace vt::ui {

// Every colour role in the active, inactive and disabled groups.
QPalette darkPalette();

// The application's style, palette and tooltip palette; only for an application the caller owns.
void applyDarkLook(QApplication& application);

// The palette on one window and everything inside it, for a window inside a host's application.
void applyDarkPalette(QWidget& window);

} // namespace vt::ui
