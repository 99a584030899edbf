#include "Tests/VellumtideBridge/Interface/X11/RealKeyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace vt::test {

namespace {
Display* xDisplay(void* display) {
    return static_cast<Display*>(display);
}
} // namespace

RealKeyboard::RealKeyboard() {
    Display* opened = XOpenDisplay(nullptr);
    if (!opened)
        return;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(opened, &event, &error, &major, &minor)) {
        XCloseDisplay(opened);
        return;
    }
    display = opened;
}

RealKeyboard::~RealKeyboard() {
    if (display)
        XCloseDisplay(xDisplay(display));
}

void RealKeyboard::focusWindow(unsigned long window) {
    XSetInputFocus(xDisplay(display), window, RevertToParent, CurrentTime);
    XFlush(xDisplay(display));
}

void RealKeyboard::press(const std::string& keyName, bool shift) {
    Display* x = xDisplay(display);
    const KeyCode shiftKey = XKeysymToKeycode(x, XK_Shift_L);
    const KeyCode key = XKeysymToKeycode(x, XStringToKeysym(keyName.c_str()));
    if (shift)
        XTestFakeKeyEvent(x, shiftKey, True, CurrentTime);
    XTestFakeKeyEvent(x, key, True, CurrentTime);
    XTestFakeKeyEvent(x, key, False, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(x, shiftKey, False, CurrentTime);
    XFlush(x);
}

} // namespace vt::test
