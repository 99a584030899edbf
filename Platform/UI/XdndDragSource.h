#pragma once
// A drag source of the X11 drag-and-drop protocol (XDND, version 5) on the application's own X
// connection. It runs no loop of its own: the pointer's motion and release and the Escape key are
// handed to it, and the targets' answers reach it through the application's event handling, so a
// host that drives the window from its idle calls keeps running during a drag.

#include "Platform/Desktop/DragStaging.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPoint>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;
struct xcb_connection_t;

namespace vt::ui {

class XdndDragSource final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    enum class Outcome {
        dropped,   // the target took the drop and reported it done
        refused,   // released over nothing, or over a target that declined
        cancelled, // Escape, or the drag's widget went away
        timedOut,  // the target stopped answering
    };
    // How long a target may take to answer a position and to finish a drop.
    struct Timeouts {
        std::chrono::milliseconds status{600};
        std::chrono::milliseconds finish{8000};
    };

    // The source on the application's X connection; nothing when the application is not on X11.
    static std::unique_ptr<XdndDragSource> create(Timeouts timeouts);
    // The one source of the application, made on first use; nothing when it is not on X11.
    static XdndDragSource* shared();
    ~XdndDragSource() override;

    // Starts a drag of the file. The drag selection, through which targets read the file, is taken
    // at the time of the drag's first pointer event and given back when the drag ends; a drag that
    // cannot own it drops nothing.
    bool begin(StagedDragFile file);
    // The pointer is at the position (root window pixels); time is the X server's event time.
    void moveTo(QPoint rootPosition, std::uint32_t time);
    void release(std::uint32_t time);
    void cancel();
    // From begin() until the drag's outcome is known.
    bool isActive() const { return phase != Phase::idle; }
    // Takes the keyboard for the drag, Escape cancelling it, until it is let go or the drag ends.
    // Taken on the root window rather than a window of the application: the application's window
    // keeps its activation (and is not drawn again) when the keyboard is taken and given back.
    void grabKeyboard();
    void releaseKeyboard();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void finished(vt::ui::XdndDragSource::Outcome outcome);

private:
    enum class Phase { idle, dragging, dropping };
    struct Target {
        std::uint32_t window = 0;   // the XdndAware window under the pointer
        std::uint32_t messages = 0; // where its messages go (its proxy, or itself)
        std::uint32_t version = 0;
    };

    XdndDragSource(xcb_connection_t* connection, Timeouts timeouts);
    void internAtoms();
    Target targetAt(QPoint rootPosition) const;
    std::uint32_t awareVersion(std::uint32_t window) const;
    std::uint32_t proxyOf(std::uint32_t window) const;
    void enter(const Target& next);
    void leave();
    void sendPosition();
    void sendDrop();
    void send(std::uint32_t type, std::uint32_t data1, std::uint32_t data2 = 0, std::uint32_t data3 = 0,
              std::uint32_t data4 = 0);
    void handleStatus(const std::uint32_t* data);
    void handleFinished(const std::uint32_t* data);
    bool takeSelection(std::uint32_t time);
    void giveUpSelection();
    void answerSelectionRequest(const void* request);
    void finish(Outcome outcome);
    void statusTimedOut();
    bool isEscape(std::uint8_t keycode);

    xcb_connection_t* connection;
    Timeouts timeouts;
    std::uint32_t root = 0;
    std::uint32_t sourceWindow = 0;
    struct Atoms;
    std::unique_ptr<Atoms> atoms;
    std::vector<std::uint32_t> offeredTypes;
    std::optional<std::vector<std::uint8_t>> escapeKeycodes; // looked up at the first Escape
    bool keyboardGrabbed = false;

    Phase phase = Phase::idle;
    std::optional<StagedDragFile> offered;
    bool ownsSelection = false;
    std::uint32_t ownedSince = 0; // the event time it was taken at
    Target target;
    QPoint position;
    std::uint32_t lastTime = 0;
    bool awaitingStatus = false;
    bool positionChanged = false;
    bool accepted = false;
    bool dropRequested = false;
    QTimer statusTimer;
    QTimer finishTimer;
};

// Drags the staged file out of a widget whose left button is held: the widget grabs the pointer,
// the drag source the keyboard, and the widget's mouse events and Escape move, drop or cancel the
// drag. A file still
// being written (see StagedDragFile::written) is dropped once it is, and the drag is cancelled
// when it could not be; the pointer is free at its release all the same. done (when given) is
// called once the pointer is let go and the drop is handed on. False, and no drag, when the
// application is not on X11.
bool startXdndFileDrag(QWidget* source, StagedDragFile file, std::function<void()> done = {});

// Drags the staged file out of a widget whose left button is held, never in a loop of its own
// where no event loop runs (a host that drives the window from its idle calls): through XDND.
// Where the application's own event loop runs (a Qt host), Qt's drag serves: it runs that loop,
// and it reaches the host's own windows, which read a drop's data while they wait (for a file
// still being written, until it is). done is called once the pointer is let go; false when no
// drag could start.
bool startFileDragOut(QWidget* source, StagedDragFile file, std::function<void()> done);

} // namespace vt::ui
