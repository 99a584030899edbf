#include "Platform/UI/XdndDragSource.h"

#include "Platform/UI/FileDrag.h"
#include "Platform/UI/Palette.h"

#include <QApplication>
#include <QCursor>
#include <QFutureWatcher>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <xcb/xcb.h>

namespace vt::ui {

namespace {

constexpr std::uint32_t protocolVersion = 5;
constexpr std::uint32_t oldestVersion = 3; // older targets speak a different protocol
constexpr int deepestWindow = 64;          // a bound on the walk down the window tree

template <typename Reply> using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply> ReplyPointer<Reply> owned(Reply* reply) {
    return ReplyPointer<Reply>(reply, &std::free);
}

// The first 32-bit value of a window's property of the type; 0 when it has none.
std::uint32_t firstValue(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                         xcb_atom_t type) {
    auto reply = owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, 1), nullptr));
    if (!reply || reply->type != type || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) < 4)
        return 0;
    return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
}

} // namespace

struct XdndDragSource::Atoms {
    xcb_atom_t aware, proxy, enter, position, status, leave, drop, finished, selection, actionCopy, targets,
        uriList, plainText, plainTextUtf8, utf8String;
};

std::unique_ptr<XdndDragSource> XdndDragSource::create(Timeouts timeouts) {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return nullptr;
    return std::unique_ptr<XdndDragSource>(new XdndDragSource(x11->connection(), timeouts));
}

XdndDragSource* XdndDragSource::shared() {
    static QPointer<XdndDragSource> source;
    if (!source) {
        auto made = create(Timeouts{});
        if (!made)
            return nullptr;
        source = made.release();
        source->setParent(qApp); // goes with the application and its X connection
    }
    return source;
}

XdndDragSource::XdndDragSource(xcb_connection_t* connection, Timeouts timeouts)
    : connection(connection), timeouts(timeouts), atoms(std::make_unique<Atoms>()) {
    root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    internAtoms();
    offeredTypes = {atoms->uriList, atoms->plainTextUtf8, atoms->plainText};
    sourceWindow = xcb_generate_id(connection);
    const std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE}; // override-redirect, events
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, sourceWindow, root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_flush(connection);
    statusTimer.setSingleShot(true);
    finishTimer.setSingleShot(true);
    connect(&statusTimer, &QTimer::timeout, this, &XdndDragSource::statusTimedOut);
    connect(&finishTimer, &QTimer::timeout, this, [this] { finish(Outcome::timedOut); });
    QCoreApplication::instance()->installNativeEventFilter(this);
}

XdndDragSource::~XdndDragSource() {
    if (auto* application = QCoreApplication::instance())
        application->removeNativeEventFilter(this);
    if (phase == Phase::dragging)
        leave();
    releaseKeyboard();
    xcb_destroy_window(connection, sourceWindow);
    xcb_flush(connection);
}

void XdndDragSource::internAtoms() {
    const std::pair<const char*, xcb_atom_t*> names[] = {
        {"XdndAware", &atoms->aware},         {"XdndProxy", &atoms->proxy},
        {"XdndEnter", &atoms->enter},         {"XdndPosition", &atoms->position},
        {"XdndStatus", &atoms->status},       {"XdndLeave", &atoms->leave},
        {"XdndDrop", &atoms->drop},           {"XdndFinished", &atoms->finished},
        {"XdndSelection", &atoms->selection}, {"XdndActionCopy", &atoms->actionCopy},
        {"TARGETS", &atoms->targets},         {"text/uri-list", &atoms->uriList},
        {"text/plain", &atoms->plainText},    {"text/plain;charset=utf-8", &atoms->plainTextUtf8},
        {"UTF8_STRING", &atoms->utf8String},
    };
    std::vector<xcb_intern_atom_cookie_t> cookies; // all asked at once, one round trip
    for (const auto& [name, slot] : names)
        cookies.push_back(xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name));
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        auto reply = owned(xcb_intern_atom_reply(connection, cookies[i], nullptr));
        *names[i].second = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
}

bool XdndDragSource::begin(StagedDragFile file) {
    if (phase == Phase::dragging)
        leave();
    if (phase != Phase::idle)
        finish(Outcome::cancelled);
    offered = std::move(file);
    phase = Phase::dragging;
    target = {};
    awaitingStatus = positionChanged = accepted = dropRequested = false;
    return true;
}

// Takes the drag selection at the time of the pointer event that asks for it, never at "now": a
// window whose drag began after that event keeps it, and a target asks that window, not us.
bool XdndDragSource::takeSelection(std::uint32_t time) {
    if (ownsSelection)
        return true;
    xcb_set_selection_owner(connection, sourceWindow, atoms->selection, time);
    auto owner = owned(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atoms->selection), nullptr));
    ownsSelection = owner && owner->owner == sourceWindow;
    if (ownsSelection)
        ownedSince = time;
    return ownsSelection;
}

// Gives the selection back at the time it was taken, so that a window which took it since keeps
// it; from then on no target reads this drag's file for another drag.
void XdndDragSource::giveUpSelection() {
    if (!ownsSelection)
        return;
    ownsSelection = false;
    xcb_set_selection_owner(connection, XCB_NONE, atoms->selection, ownedSince);
    xcb_flush(connection);
}

// Not waited for: a keyboard another program holds only leaves Escape without effect.
void XdndDragSource::grabKeyboard() {
    if (keyboardGrabbed)
        return;
    const auto cookie =
        xcb_grab_keyboard(connection, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    xcb_discard_reply(connection, cookie.sequence);
    xcb_flush(connection);
    keyboardGrabbed = true;
}

void XdndDragSource::releaseKeyboard() {
    if (!keyboardGrabbed)
        return;
    keyboardGrabbed = false;
    xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    xcb_flush(connection);
}

bool XdndDragSource::isEscape(std::uint8_t keycode) {
    constexpr std::uint32_t escapeKeysym = 0xff1b;
    if (!escapeKeycodes) {
        escapeKeycodes.emplace();
        const xcb_setup_t* setup = xcb_get_setup(connection);
        const auto count = std::uint8_t(setup->max_keycode - setup->min_keycode + 1);
        auto mapping = owned(xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr));
        if (mapping) {
            const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
            const int perKeycode = mapping->keysyms_per_keycode;
            for (int index = 0; index < xcb_get_keyboard_mapping_keysyms_length(mapping.get()); ++index)
                if (keysyms[index] == escapeKeysym)
                    escapeKeycodes->push_back(std::uint8_t(setup->min_keycode + index / perKeycode));
        }
    }
    return std::ranges::find(*escapeKeycodes, keycode) != escapeKeycodes->end();
}

void XdndDragSource::moveTo(QPoint rootPosition, std::uint32_t time) {
    if (phase != Phase::dragging || dropRequested)
        return;
    position = rootPosition;
    lastTime = time;
    takeSelection(time); // the drag's first event takes it; a later one tries again
    const Target under = targetAt(rootPosition);
    if (under.window != target.window) {
        leave();
        enter(under);
    }
    if (!target.window)
        return;
    if (awaitingStatus)
        positionChanged = true; // sent when the target has answered the last one
    else
        sendPosition();
}

void XdndDragSource::release(std::uint32_t time) {
    if (phase != Phase::dragging || dropRequested)
        return;
    lastTime = time;
    if (!target.window)
        return finish(Outcome::refused);
    if (!takeSelection(time)) {
        leave(); // the target would read another window's offer
        return finish(Outcome::refused);
    }
    dropRequested = true;
    if (!awaitingStatus)
        sendDrop(); // otherwise once the target has answered the last position
}

void XdndDragSource::cancel() {
    if (phase != Phase::dragging)
        return;
    leave();
    finish(Outcome::cancelled);
}

XdndDragSource::Target XdndDragSource::targetAt(QPoint rootPosition) const {
    xcb_window_t window = root;
    for (int depth = 0; depth < deepestWindow; ++depth) {
        if (window != root) {
            const std::uint32_t proxy = proxyOf(window);
            const std::uint32_t version = awareVersion(proxy ? proxy : window);
            if (version >= oldestVersion)
                return {window, proxy ? proxy : window, std::min(version, protocolVersion)};
        }
        auto reply = owned(xcb_translate_coordinates_reply(
            connection,
            xcb_translate_coordinates(connection, root, window, std::int16_t(rootPosition.x()),
                                      std::int16_t(rootPosition.y())),
            nullptr));
        if (!reply || reply->child == XCB_WINDOW_NONE || reply->child == sourceWindow)
            return {};
        window = reply->child;
    }
    return {};
}

std::uint32_t XdndDragSource::awareVersion(std::uint32_t window) const {
    return firstValue(connection, window, atoms->aware, XCB_ATOM_ATOM);
}

// The window's proxy when it names one that names itself (a stale proxy is ignored).
std::uint32_t XdndDragSource::proxyOf(std::uint32_t window) const {
    const std::uint32_t proxy = firstValue(connection, window, atoms->proxy, XCB_ATOM_WINDOW);
    return proxy && firstValue(connection, proxy, atoms->proxy, XCB_ATOM_WINDOW) == proxy ? proxy : 0;
}

void XdndDragSource::enter(const Target& next) {
    target = next;
    if (!target.window)
        return;
    awaitingStatus = positionChanged = accepted = false;
    std::uint32_t types[3] = {};
    for (std::size_t i = 0; i < offeredTypes.size() && i < 3; ++i)
        types[i] = offeredTypes[i];
    send(atoms->enter, target.version << 24, types[0], types[1], types[2]);
}

void XdndDragSource::leave() {
    if (target.window)
        send(atoms->leave, 0);
    target = {};
    awaitingStatus = positionChanged = accepted = false;
    statusTimer.stop();
}

void XdndDragSource::sendPosition() {
    const std::uint32_t packed =
        (std::uint32_t(std::uint16_t(position.x())) << 16) | std::uint16_t(position.y());
    send(atoms->position, 0, packed, lastTime, atoms->actionCopy);
    awaitingStatus = true;
    positionChanged = false;
    statusTimer.start(timeouts.status);
}

void XdndDragSource::sendDrop() {
    statusTimer.stop();
    if (!accepted || !ownsSelection) {
        leave();
        return finish(Outcome::refused);
    }
    send(atoms->drop, 0, lastTime);
    phase = Phase::dropping;
    finishTimer.start(timeouts.finish);
}

// A client message from the source window to the target (or its proxy); data0 is always the
// source window, data1 to data4 as the message wants.
void XdndDragSource::send(std::uint32_t type, std::uint32_t data1, std::uint32_t data2, std::uint32_t data3,
                          std::uint32_t data4) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = target.window;
    message.type = type;
    message.data.data32[0] = sourceWindow;
    message.data.data32[1] = data1;
    message.data.data32[2] = data2;
    message.data.data32[3] = data3;
    message.data.data32[4] = data4;
    xcb_send_event(connection, 0, target.messages, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

void XdndDragSource::handleStatus(const std::uint32_t* data) {
    if (phase != Phase::dragging || !target.window || data[0] != target.window)
        return;
    statusTimer.stop();
    awaitingStatus = false;
    accepted = (data[1] & 1) != 0;
    if (positionChanged)
        sendPosition(); // the target judges the drop at the pointer's last position
    else if (dropRequested)
        sendDrop();
}

void XdndDragSource::handleFinished(const std::uint32_t* data) {
    if (phase != Phase::dropping || data[0] != target.window)
        return;
    // Before version 5 a target could not say whether it took the drop.
    const bool taken = target.version < 5 || (data[1] & 1) != 0;
    finish(taken ? Outcome::dropped : Outcome::refused);
}

// A target whose answer does not come is taken as declining; a drop waiting for it is called off.
void XdndDragSource::statusTimedOut() {
    awaitingStatus = false;
    accepted = false;
    if (!dropRequested) {
        if (positionChanged)
            sendPosition();
        return;
    }
    leave();
    finish(Outcome::timedOut);
}

void XdndDragSource::finish(Outcome outcome) {
    releaseKeyboard();
    statusTimer.stop();
    finishTimer.stop();
    phase = Phase::idle;
    target = {};
    dropRequested = false;
    giveUpSelection(); // a drop is done once the target has reported it finished
    emit finished(outcome);
}

// Offers the file while the drag lasts, to requests made since the selection was taken (an older
// one belongs to another window's drag).
void XdndDragSource::answerSelectionRequest(const void* message) {
    const auto* request = static_cast<const xcb_selection_request_event_t*>(message);
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request->time;
    notify.requestor = request->requestor;
    notify.selection = request->selection;
    notify.target = request->target;
    notify.property = XCB_ATOM_NONE;
    const xcb_atom_t property = request->property != XCB_ATOM_NONE ? request->property : request->target;
    const bool sinceTaken = request->time == XCB_CURRENT_TIME || ownedSince == XCB_CURRENT_TIME ||
                            std::int32_t(request->time - ownedSince) >= 0; // X time wraps around
    if (ownsSelection && offered && sinceTaken) {
        if (request->target == atoms->targets) {
            std::vector<xcb_atom_t> list = offeredTypes;
            list.push_back(atoms->targets);
            list.push_back(atoms->utf8String);
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request->requestor, property,
                                XCB_ATOM_ATOM, 32, std::uint32_t(list.size()), list.data());
            notify.property = property;
        } else if (request->target == atoms->uriList) {
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request->requestor, property,
                                atoms->uriList, 8, std::uint32_t(offered->uriList.size()),
                                offered->uriList.constData());
            notify.property = property;
        } else if (request->target == atoms->plainText || request->target == atoms->plainTextUtf8 ||
                   request->target == atoms->utf8String) {
            const QByteArray text = offered->plainText.toUtf8();
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request->requestor, property,
                                request->target, 8, std::uint32_t(text.size()), text.constData());
            notify.property = property;
        }
    }
    xcb_send_event(connection, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
    xcb_flush(connection);
}

bool XdndDragSource::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
    case XCB_CLIENT_MESSAGE: {
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        if (client->window != sourceWindow || client->format != 32)
            return false;
        if (client->type == atoms->status)
            handleStatus(client->data.data32);
        else if (client->type == atoms->finished)
            handleFinished(client->data.data32);
        return true;
    }
    case XCB_SELECTION_REQUEST: {
        const auto* request = static_cast<const xcb_selection_request_event_t*>(message);
        if (request->owner != sourceWindow)
            return false;
        answerSelectionRequest(request);
        return true;
    }
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: {
        const auto* key = static_cast<const xcb_key_press_event_t*>(message);
        if (!keyboardGrabbed || key->event != root)
            return false;
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS && isEscape(key->detail))
            cancel();
        return true;
    }
    case XCB_SELECTION_CLEAR: {
        const auto* clear = static_cast<const xcb_selection_clear_event_t*>(message);
        if (clear->owner != sourceWindow)
            return false;
        ownsSelection = false;
        return true;
    }
    default:
        return false;
    }
}

namespace {

// Follows the drag's widget: its pointer and keyboard grab route every motion, the release and
// Escape to it, wherever the pointer is.
class WidgetDragDriver final : public QObject {
public:
    WidgetDragDriver(QWidget* source, XdndDragSource* drag, std::function<void()> done, QFuture<bool> written)
        : QObject(source), source(source), drag(drag), done(std::move(done)), written(std::move(written)) {
        source->installEventFilter(this);
        source->grabMouse(Qt::DragCopyCursor);
        drag->grabKeyboard();
        connect(drag, &XdndDragSource::finished, this, [this] { end(); });
    }
    ~WidgetDragDriver() override {
        if (ended)
            return;
        if (drag)
            drag->cancel(); // the widget went away mid-drag
        if (done)
            done();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            drag->moveTo(nativePosition(mouse->globalPosition()), std::uint32_t(mouse->timestamp()));
            return true;
        }
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton)
                return true;
            const auto time = std::uint32_t(mouse->timestamp());
            drag->moveTo(nativePosition(mouse->globalPosition()), time);
            if (written.isValid() && !written.isFinished()) {
                holdDrop(time);
                return true;
            }
            dropIfWritten(time);
            end();
            return true;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyRelease:
            return true;
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
                drag->cancel();
            return true;
        default:
            return false;
        }
    }

private:
    QPoint nativePosition(QPointF global) const {
        const QWindow* window = source->window()->windowHandle();
        return (global * (window ? window->devicePixelRatio() : 1.0)).toPoint();
    }

    // The pointer is let go: at the release, at Escape, or when the drag ended otherwise.
    void end() {
        if (ended)
            return;
        ended = true;
        releaseInput();
        if (done)
            done();
        deleteLater();
    }
    void releaseInput() {
        source->removeEventFilter(this);
        if (drag)
            drag->releaseKeyboard();
        source->releaseMouse();
    }

    // Drops (or cancels when the file could not be written) once the file is written.
    void dropIfWritten(std::uint32_t time) {
        if (!drag)
            return;
        if (!written.isValid() || written.result())
            drag->release(time);
        else
            drag->cancel();
    }
    // Let go before the file is written: the pointer is free at once, and the drop follows when the
    // file is there; the target waits for it meanwhile.
    void holdDrop(std::uint32_t time) {
        releaseInput();
        connect(&writing, &QFutureWatcher<bool>::finished, this, [this, time] {
            if (ended)
                return; // the drag ended meanwhile (another began, or the target went away)
            dropIfWritten(time);
            end();
        });
        writing.setFuture(written);
    }

    QWidget* source;
    QPointer<XdndDragSource> drag;
    std::function<void()> done;
    QFuture<bool> written;
    QFutureWatcher<bool> writing;
    bool ended = false;
};

// What a drag in Qt's own loop offers while the file is still being written: the data is handed
// out once it is (a receiver reads it at the drop, after the person's gesture), nothing when it
// could not be written.
class WrittenFileData final : public QMimeData {
public:
    explicit WrittenFileData(const StagedDragFile& file) : written(file.written) {
        setData(QStringLiteral("text/uri-list"), file.uriList);
        setText(file.plainText);
    }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        if (written.isValid() && !written.result())
            return {};
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    QFuture<bool> written;
};

} // namespace

bool startXdndFileDrag(QWidget* source, StagedDragFile file, std::function<void()> done) {
    XdndDragSource* drag = source ? XdndDragSource::shared() : nullptr;
    QFuture<bool> written = file.written;
    if (!drag || !drag->begin(std::move(file)))
        return false;
    new WidgetDragDriver(source, drag, std::move(done), std::move(written));
    return true;
}

bool startFileDragOut(QWidget* source, StagedDragFile file, std::function<void()> done) {
    if (!source)
        return false;
    if (QThread::currentThread()->loopLevel() == 0)
        return startXdndFileDrag(source, std::move(file), std::move(done));
    const QString title = QString::fromStdString(file.path.filename().string());
    startFileDrag(source, std::make_unique<WrittenFileData>(file),
                  fileDragChip("waveform", title, palette::cyan));
    if (done)
        done();
    return true;
}

} // namespace vt::ui
