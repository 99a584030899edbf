#include "Tests/VellumtideAU/Window/X11TestWindow.h"

#include <X11/Xlib.h>

namespace vt::test {

X11TestWindow::X11TestWindow(int width, int height, int x, int y) {
    Display* opened = XOpenDisplay(nullptr);
    if (!opened)
        return;
    display = opened;
    window = XCreateSimpleWindow(opened, DefaultRootWindow(opened), x, y, unsigned(width), unsigned(height),
                                 0, 0, 0);
    XMapWindow(opened, window);
    XSync(opened, False);
}

X11TestWindow::~X11TestWindow() {
    if (!display)
        return;
    auto* opened = static_cast<Display*>(display);
    XDestroyWindow(opened, window);
    XCloseDisplay(opened);
}

std::vector<unsigned long> X11TestWindow::children() const {
    std::vector<unsigned long> result;
    if (!display)
        return result;
    Window root = 0, parent = 0, *list = nullptr;
    unsigned count = 0;
    if (XQueryTree(static_cast<Display*>(display), window, &root, &parent, &list, &count)) {
        result.assign(list, list + count);
        XFree(list);
    }
    return result;
}

void X11TestWindow::resize(int width, int height) {
    if (!display)
        return;
    XResizeWindow(static_cast<Display*>(display), window, unsigned(width), unsigned(height));
    XSync(static_cast<Display*>(display), False);
}

std::pair<int, int> windowSize(unsigned long window) {
    Display* opened = XOpenDisplay(nullptr);
    if (!opened)
        return {0, 0};
    Window root = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    const bool asked = XGetGeometry(opened, window, &root, &x, &y, &width, &height, &border, &depth);
    XCloseDisplay(opened);
    return asked ? std::pair{int(width), int(height)} : std::pair{0, 0};
}

bool forwardKey(unsigned long window, const char* keysymName) {
    Display* opened = XOpenDisplay(nullptr);
    if (!opened)
        return false;
    XKeyEvent key{};
    key.display = opened;
    key.window = window;
    key.root = DefaultRootWindow(opened);
    key.time = CurrentTime;
    key.same_screen = True;
    key.keycode = XKeysymToKeycode(opened, XStringToKeysym(keysymName));
    for (int type : {KeyPress, KeyRelease}) {
        key.type = type;
        XSendEvent(opened, window, False, NoEventMask, reinterpret_cast<XEvent*>(&key));
    }
    XSync(opened, False);
    XCloseDisplay(opened);
    return true;
}

bool sendDeleteWindow(unsigned long window) {
    Display* opened = XOpenDisplay(nullptr);
    if (!opened)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(opened, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(opened, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(opened, window, False, NoEventMask, &event);
    XSync(opened, False);
    XCloseDisplay(opened);
    return true;
}

} // namespace vt::test
