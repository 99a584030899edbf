#include "VellumtideAU/LV2/ParentWindowFollower.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {

xcb_connection_t* xcb(void* connection) {
    return static_cast<xcb_connection_t*>(connection);
}

} // namespace

std::unique_ptr<ParentWindowFollower> ParentWindowFollower::follow(QWidget* view, std::uint32_t parent) {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!view || !parent || !x11 || !x11->connection())
        return nullptr;
    return std::unique_ptr<ParentWindowFollower>(new ParentWindowFollower(view, x11->connection(), parent));
}

ParentWindowFollower::ParentWindowFollower(QWidget* view, void* connection, std::uint32_t parent)
    : view(view), connection(connection), parent(parent) {
    QCoreApplication::instance()->installNativeEventFilter(this);
    watchParent();
    adoptParentSizeWhenRoomy();
}

ParentWindowFollower::~ParentWindowFollower() {
    if (auto* application = QCoreApplication::instance())
        application->removeNativeEventFilter(this);
}

// Adds the host window's size changes to what this connection hears from it, keeping the rest.
void ParentWindowFollower::watchParent() {
    auto* attributes = xcb_get_window_attributes_reply(
        xcb(connection), xcb_get_window_attributes(xcb(connection), parent), nullptr);
    if (!attributes)
        return; // the host's window is gone
    const std::uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    std::free(attributes);
    xcb_change_window_attributes(xcb(connection), parent, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(xcb(connection));
}

// A host window already large enough for the embedded one is filled from the start; a smaller
// one (not yet laid out by its host) leaves the widget at its own size until the host sizes it.
void ParentWindowFollower::adoptParentSizeWhenRoomy() {
    auto* geometry =
        xcb_get_geometry_reply(xcb(connection), xcb_get_geometry(xcb(connection), parent), nullptr);
    if (!geometry)
        return;
    const QSize size(geometry->width, geometry->height);
    std::free(geometry);
    if (view && size.width() >= view->minimumWidth() && size.height() >= view->minimumHeight())
        view->resize(size);
}

bool ParentWindowFollower::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CONFIGURE_NOTIFY)
        return false;
    const auto* configure = static_cast<const xcb_configure_notify_event_t*>(message);
    if (configure->window == parent && view && QSize(configure->width, configure->height) != view->size())
        view->resize(configure->width, configure->height);
    return false; // Qt goes on with the event as it would without this filter
}
