#pragma once
// A drop target on an X connection of its own, standing for another program's window (a DAW's
// timeline): it answers positions, fetches text/uri-list on a drop and reports the drop finished,
// without ever waiting, driven by its owner's loop through pump(). It can also play a target
// that stops answering, and ask the drag selection for any format.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace vt::test {

class XdndTestTarget {
public:
    struct Behaviour {
        bool answersPositions = true;
        bool finishesDrops = true;
    };

    // A mapped, XdndAware window at the root position; not valid without an X server.
    XdndTestTarget(int x, int y, int width, int height, Behaviour behaviour);
    XdndTestTarget(int x, int y, int width, int height) : XdndTestTarget(x, y, width, height, Behaviour{}) {}
    ~XdndTestTarget();
    XdndTestTarget(const XdndTestTarget&) = delete;
    XdndTestTarget& operator=(const XdndTestTarget&) = delete;

    bool valid() const { return connection != nullptr; }
    std::uint32_t window() const { return targetWindow; }
    // Maps a plain window at the root position that names this target as its XDND proxy; the
    // target gets that window's messages.
    void proxyFor(int x, int y, int width, int height);
    // Handles whatever has arrived; never waits.
    void pump();

    // Asks the drag selection's owner for the format; the answer lands in conversions.
    void requestSelection(const std::string& format);
    // Takes the drag selection for this window now, as another program's drag would.
    void takeDragSelection();
    // The window that owns the drag selection; 0 for none.
    std::uint32_t dragSelectionOwner();
    // Per format asked for: the bytes (TARGETS as the offered names, one a line), or nothing when
    // the owner refused.
    std::map<std::string, std::optional<std::string>> conversions;

    int enters = 0;
    int positions = 0;
    int leaves = 0;
    int drops = 0;
    std::vector<std::string> offeredTypes;    // as the last XdndEnter named them
    std::vector<std::string> droppedUriLists; // per finished fetch of a drop, as received
    std::uint32_t sourceWindow = 0;
    std::uint32_t addressedWindow = 0; // the window the last XdndEnter named (a proxied one's)

private:
    std::uint32_t atom(const std::string& name);
    std::string atomName(std::uint32_t atom);
    void handleClientMessage(const void* event);
    void handleSelectionNotify(const void* event);
    void sendToSource(std::uint32_t type, std::uint32_t data1, std::uint32_t data2, std::uint32_t data4);

    xcb_connection_t* connection = nullptr;
    std::uint32_t targetWindow = 0;
    Behaviour behaviour;
    bool fetchingDrop = false;
};

} // namespace vt::test
