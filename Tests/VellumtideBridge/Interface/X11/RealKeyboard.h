#pragma once
// Real key presses through the X server's test extension (XTest), as a person's keyboard makes
// them; kept apart from the test code because Xlib's macros clash with GoogleTest's names.

#include <string>

namespace vt::test {

class RealKeyboard {
public:
    // Opens the display named by $DISPLAY; invalid when there is none or it lacks XTest.
    RealKeyboard();
    ~RealKeyboard();
    RealKeyboard(const RealKeyboard&) = delete;
    RealKeyboard& operator=(const RealKeyboard&) = delete;

    bool valid() const { return display != nullptr; }
    // Gives the X keyboard focus to the window.
    void focusWindow(unsigned long window);
    // Presses and releases the key of an X key name ("Tab", "Return", "1", "BackSpace"),
    // with Shift held when asked.
    void press(const std::string& keyName, bool shift = false);

private:
    void* display = nullptr;
};

} // namespace vt::test
