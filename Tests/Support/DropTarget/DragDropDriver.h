#pragma once
// What the real drag-and-drop tests drive: vt-drop-target as a separate process, and the one
// pointer and keyboard of the private X server, moved through XTest as a person would (small
// steps, short waits) while the test's own Qt loop keeps turning.

#include "Tests/Support/Patience.h"

#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace vt::test {

// Why the X tests cannot run here, or empty when a private X server is there (VT_TEST_X11 and
// DISPLAY, as scripts/test-services.sh sets them).
QString missingX11Reason();

// Turns the Qt loop until done() holds or limit passes; returns done().
bool turnEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// vt-drop-target running in its own process with its window at geometry.
class DropTargetProcess {
public:
    DropTargetProcess(std::filesystem::path out, QRect geometry);
    ~DropTargetProcess(); // SIGTERM, then waits for the process to end

    // Waits for "READY" on its standard output.
    bool waitUntilReady(std::chrono::milliseconds limit = patience);
    // The lines recorded so far, one per dropped URL or "EMPTY".
    QStringList records() const;
    // Turns the loop until at least count lines are recorded.
    bool waitForRecords(int count, std::chrono::milliseconds limit = patience);
    QRect geometry() const { return area; }

private:
    std::filesystem::path out;
    QRect area;
    QProcess process;
};

// One drop record split into its three fields.
struct DropRecord {
    QString url;
    qint64 size = -1;
    QString sha256; // or "MISSING"
    static DropRecord parse(const QString& line);
};

QString sha256Hex(const std::filesystem::path& file);

// The pointer and keyboard of the X server, driven through XTest on a connection of its own.
class XTestInput {
public:
    static std::unique_ptr<XTestInput> open(); // nothing without a display or XTest
    ~XTestInput();

    void moveTo(QPoint global);
    void pressButton();
    void releaseButton();
    void tapEscape();
    // Whether any window owns the drag selection, i.e. an XDND drag was started on this server
    // since clearDragSelection().
    bool dragSelectionOwned() const;
    void clearDragSelection();

private:
    explicit XTestInput(void* display) : display(display) {}
    void* display;
};

// A person's gesture, one step at a time from a timer, so every nested loop (a drag's included)
// keeps turning between the steps.
class PointerScript {
public:
    explicit PointerScript(XTestInput& input) : input(input) {}

    PointerScript& moveTo(QPoint global);
    // Moves in small steps, a short wait after each.
    PointerScript& glideTo(QPoint from, QPoint to, int steps = 24);
    PointerScript& press();
    PointerScript& release();
    PointerScript& escape();
    PointerScript& wait(std::chrono::milliseconds pause);
    // Runs fn at this point of the gesture (for checks in the middle of a drag).
    PointerScript& run(std::function<void()> fn);
    // Holds the gesture here until condition() holds, however long the other programs take.
    PointerScript& until(std::function<bool()> condition);

    // Starts the steps; finished() turns true after the last.
    void start();
    bool finished() const { return *done; }

private:
    struct Step {
        std::function<void()> action;
        std::chrono::milliseconds pause;
        std::function<bool()> until; // the step is over once this holds (or patience has passed)
    };
    void add(std::function<void()> action, std::chrono::milliseconds pause);

    XTestInput& input;
    std::vector<Step> steps;
    std::shared_ptr<bool> done = std::make_shared<bool>(false);
};

} // namespace vt::test
