#pragma once
// A plain X11 window standing in for a host's plug-in window, kept apart from the test code
// because Xlib's macros clash with GoogleTest's names.

#include <utility>
#include <vector>

namespace vt::test {

class X11TestWindow {
public:
    // Opens the display named by $DISPLAY and maps a width × height window on it at (x, y).
    X11TestWindow(int width, int height, int x = 0, int y = 0);
    ~X11TestWindow();
    X11TestWindow(const X11TestWindow&) = delete;
    X11TestWindow& operator=(const X11TestWindow&) = delete;

    bool valid() const { return display != nullptr; }
    unsigned long id() const { return window; }
    std::vector<unsigned long> children() const;
    // Resizes the window, as a host does that sizes only its own window.
    void resize(int width, int height);

private:
    void* display = nullptr;
    unsigned long window = 0;
};

// The width and height of any window on the display; zeros when it cannot be asked.
std::pair<int, int> windowSize(unsigned long window);

// Sends the window a press and a release of the key named by its keysym ("Tab"), as a GTK host's
// socket forwards the keys it gets (XSendEvent); false without a display.
bool forwardKey(unsigned long window, const char* keysymName);

// Asks the window to close as a desktop's close button does (WM_DELETE_WINDOW); false without a
// display.
bool sendDeleteWindow(unsigned long window);

} // namespace vt::test
