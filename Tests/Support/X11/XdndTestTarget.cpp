#include "Tests/Support/X11/XdndTestTarget.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace vt::test {

namespace {

template <typename Reply> std::unique_ptr<Reply, decltype(&std::free)> owned(Reply* reply) {
    return {reply, &std::free};
}

} // namespace

XdndTestTarget::XdndTestTarget(int x, int y, int width, int height, Behaviour behaviour)
    : behaviour(behaviour) {
    xcb_connection_t* opened = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(opened)) {
        xcb_disconnect(opened);
        return;
    }
    connection = opened;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    targetWindow = xcb_generate_id(connection);
    const std::uint32_t values[] = {screen->white_pixel, 1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, targetWindow, screen->root, std::int16_t(x),
                      std::int16_t(y), std::uint16_t(width), std::uint16_t(height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    const std::uint32_t version = 5;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, targetWindow, atom("XdndAware"), XCB_ATOM_ATOM, 32,
                        1, &version);
    xcb_map_window(connection, targetWindow);
    owned(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr)); // mapped now
}

XdndTestTarget::~XdndTestTarget() {
    if (connection)
        xcb_disconnect(connection);
}

std::uint32_t XdndTestTarget::atom(const std::string& name) {
    auto reply = owned(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::uint16_t(name.size()), name.c_str()), nullptr));
    return reply ? reply->atom : 0;
}

std::string XdndTestTarget::atomName(std::uint32_t value) {
    auto reply = owned(xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, value), nullptr));
    return reply ? std::string(xcb_get_atom_name_name(reply.get()),
                               std::size_t(xcb_get_atom_name_name_length(reply.get())))
                 : std::string();
}

void XdndTestTarget::pump() {
    if (!connection)
        return;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
        switch (event->response_type & 0x7f) {
        case XCB_CLIENT_MESSAGE:
            handleClientMessage(event);
            break;
        case XCB_SELECTION_NOTIFY:
            handleSelectionNotify(event);
            break;
        default:
            break;
        }
        std::free(event);
    }
    xcb_flush(connection);
}

void XdndTestTarget::proxyFor(int x, int y, int width, int height) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const std::uint32_t proxied = xcb_generate_id(connection);
    const std::uint32_t values[] = {screen->black_pixel, 1};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, proxied, screen->root, std::int16_t(x),
                      std::int16_t(y), std::uint16_t(width), std::uint16_t(height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    for (std::uint32_t window : {proxied, targetWindow})
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom("XdndProxy"), XCB_ATOM_WINDOW, 32,
                            1, &targetWindow);
    xcb_map_window(connection, proxied);
    owned(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

void XdndTestTarget::requestSelection(const std::string& format) {
    xcb_convert_selection(connection, targetWindow, atom("XdndSelection"), atom(format),
                          atom("VT_SELECTION_" + format), XCB_CURRENT_TIME);
    xcb_flush(connection);
}

void XdndTestTarget::takeDragSelection() {
    xcb_set_selection_owner(connection, targetWindow, atom("XdndSelection"), XCB_CURRENT_TIME);
    xcb_flush(connection);
}

std::uint32_t XdndTestTarget::dragSelectionOwner() {
    auto reply = owned(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom("XdndSelection")), nullptr));
    return reply ? reply->owner : 0;
}

void XdndTestTarget::handleClientMessage(const void* message) {
    const auto* event = static_cast<const xcb_client_message_event_t*>(message);
    const std::uint32_t* data = event->data.data32;
    const std::string type = atomName(event->type);
    if (type == "XdndEnter") {
        ++enters;
        sourceWindow = data[0];
        addressedWindow = event->window;
        offeredTypes.clear();
        for (int i = 2; i < 5; ++i)
            if (data[i])
                offeredTypes.push_back(atomName(data[i]));
    } else if (type == "XdndPosition") {
        ++positions;
        if (behaviour.answersPositions)
            sendToSource(atom("XdndStatus"), 1 | 2, 0, atom("XdndActionCopy")); // accepts, wants every move
    } else if (type == "XdndLeave") {
        ++leaves;
    } else if (type == "XdndDrop") {
        ++drops;
        fetchingDrop = true;
        xcb_convert_selection(connection, targetWindow, atom("XdndSelection"), atom("text/uri-list"),
                              atom("VT_DROP"), data[2]);
    }
}

void XdndTestTarget::handleSelectionNotify(const void* message) {
    const auto* event = static_cast<const xcb_selection_notify_event_t*>(message);
    std::optional<std::string> bytes;
    if (event->property != XCB_ATOM_NONE) {
        auto reply =
            owned(xcb_get_property_reply(connection,
                                         xcb_get_property(connection, 1, targetWindow, event->property,
                                                          XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
                                         nullptr));
        if (reply) {
            const char* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
            const auto length = std::size_t(xcb_get_property_value_length(reply.get()));
            if (reply->type == XCB_ATOM_ATOM) {
                std::string names;
                for (std::size_t i = 0; i + 4 <= length; i += 4) {
                    std::uint32_t value32 = 0;
                    std::memcpy(&value32, value + i, 4);
                    names += atomName(value32) + "\n";
                }
                bytes = names;
            } else {
                bytes = std::string(value, length);
            }
        }
    }
    const std::string format = atomName(event->target);
    if (fetchingDrop && format == "text/uri-list") {
        fetchingDrop = false;
        droppedUriLists.push_back(bytes.value_or(""));
        if (behaviour.finishesDrops)
            sendToSource(atom("XdndFinished"), bytes && !bytes->empty() ? 1 : 0, atom("XdndActionCopy"), 0);
        return;
    }
    conversions[format] = bytes;
}

void XdndTestTarget::sendToSource(std::uint32_t type, std::uint32_t data1, std::uint32_t data2,
                                  std::uint32_t data4) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = sourceWindow;
    message.type = type;
    message.data.data32[0] = addressedWindow;
    message.data.data32[1] = data1;
    message.data.data32[2] = data2;
    message.data.data32[4] = data4;
    xcb_send_event(connection, 0, sourceWindow, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

} // namespace vt::test
