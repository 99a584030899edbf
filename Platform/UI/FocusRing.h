#pragma once
// Keyboard focus made visible: a 2-pixel cyan outline that follows a control's corner radius,
// drawn over the control while it has focus it did not get from a mouse click; and buttons that
// Return and Enter activate as Space does.

#include <QAbstractButton>
#include <QMargins>

namespace vt::ui {

// The corner radius that makes the ring a capsule (half the ring's height).
inline constexpr double capsuleRadius = -1;

// Draws the focus ring over widget, inset from its edge by inset, with the given corner radius.
void showFocusRing(QWidget* widget, double cornerRadius, QMargins inset = {});
// Every control of window that takes the focus without a ring of its own gets one with the given
// corner radius when it first takes the focus (text fields, which show their caret, excepted).
void showFocusRingsThroughout(QWidget* window, double cornerRadius);
// Whether widget shows its focus ring now.
bool isShowingFocusRing(const QWidget* widget);

// Enables or disables control. A control that has the focus when it is disabled (while it is busy)
// keeps the keyboard's place: the focus rests on its parent without a ring instead of moving on to
// the next control, and comes back, with its ring as before, when the control is enabled again and
// the focus has not moved meanwhile.
void setEnabledKeepingFocus(QWidget* control, bool enabled);
// The control whose focus rests on place while that control is disabled; nothing when none.
QWidget* controlResting(const QWidget* place);
// Whether that control showed its ring when its focus was put to rest.
bool restedWithRing(const QWidget* control);

// Return and Enter click the button while it has focus.
void activateOnReturn(QAbstractButton* button);

} // namespace vt::ui
