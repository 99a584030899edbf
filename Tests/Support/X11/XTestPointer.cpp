#include "Tests/Support/X11/XTestPointer.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace vt::test {

namespace {

Display* opened(void* display) {
    return static_cast<Display*>(display);
}

} // namespace

XTestPointer::XTestPointer() {
    Display* candidate = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (candidate && XTestQueryExtension(candidate, &event, &error, &major, &minor))
        display = candidate;
    else if (candidate)
        XCloseDisplay(candidate);
}

XTestPointer::~XTestPointer() {
    if (display)
        XCloseDisplay(opened(display));
}

// Each event is through the server before the call returns. Without a server nothing happens
// (a test that skips for want of one still tidies up through these).
void XTestPointer::moveTo(int x, int y) {
    if (!display)
        return;
    XTestFakeMotionEvent(opened(display), -1, x, y, CurrentTime);
    XSync(opened(display), False);
}

void XTestPointer::pressButton() {
    if (!display)
        return;
    XTestFakeButtonEvent(opened(display), 1, True, CurrentTime);
    XSync(opened(display), False);
}

void XTestPointer::releaseButton() {
    if (!display)
        return;
    XTestFakeButtonEvent(opened(display), 1, False, CurrentTime);
    XSync(opened(display), False);
}

void XTestPointer::tapKey(const char* keysymName) {
    if (!display)
        return;
    const KeyCode code = XKeysymToKeycode(opened(display), XStringToKeysym(keysymName));
    XTestFakeKeyEvent(opened(display), code, True, CurrentTime);
    XTestFakeKeyEvent(opened(display), code, False, CurrentTime);
    XSync(opened(display), False);
}

} // namespace vt::test
