#pragma once
// The pointer and keyboard of the X server, moved and pressed through the XTEST extension as a
// person would move and press them.

namespace vt::test {

class XTestPointer {
public:
    // Opens $DISPLAY; not valid without an X server with XTEST, and then every call does nothing.
    XTestPointer();
    ~XTestPointer();
    XTestPointer(const XTestPointer&) = delete;
    XTestPointer& operator=(const XTestPointer&) = delete;

    bool valid() const { return display != nullptr; }
    void moveTo(int x, int y);
    void pressButton(); // the left button
    void releaseButton();
    // Presses and lets go of the key named by its keysym ("Escape").
    void tapKey(const char* keysymName);

private:
    void* display = nullptr;
};

} // namespace vt::test
