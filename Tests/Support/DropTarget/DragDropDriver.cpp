#include "Tests/Support/DropTarget/DragDropDriver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <cstdlib>

namespace vt::test {

namespace {
Display* x11(void* display) {
    return static_cast<Display*>(display);
}
} // namespace

QString missingX11Reason() {
    if (!std::getenv("VT_TEST_X11") || !std::getenv("DISPLAY"))
        return QStringLiteral(
            "needs the private X server of scripts/test-services.sh (VT_TEST_X11 and DISPLAY)");
    return {};
}

bool turnEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer watch;
    watch.start();
    while (!done() && watch.elapsed() < limit.count())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    return done();
}

DropTargetProcess::DropTargetProcess(std::filesystem::path out, QRect geometry)
    : out(std::move(out)), area(geometry) {
    process.setProgram(QStringLiteral(VT_DROP_TARGET_PATH));
    process.setArguments({QStringLiteral("--out"), QString::fromStdString(this->out.string()),
                          QStringLiteral("--geometry"),
                          QStringLiteral("%1,%2,%3,%4")
                              .arg(geometry.x())
                              .arg(geometry.y())
                              .arg(geometry.width())
                              .arg(geometry.height())});
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
}

DropTargetProcess::~DropTargetProcess() {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(1000);
}

bool DropTargetProcess::waitUntilReady(std::chrono::milliseconds limit) {
    QByteArray output;
    return turnEventsUntil(
               [&] {
                   output += process.readAllStandardOutput();
                   return output.contains("READY\n") || process.state() == QProcess::NotRunning;
               },
               limit) &&
           output.contains("READY\n");
}

QStringList DropTargetProcess::records() const {
    QFile file(QString::fromStdString(out.string()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool DropTargetProcess::waitForRecords(int count, std::chrono::milliseconds limit) {
    return turnEventsUntil([&] { return records().size() >= count; }, limit);
}

DropRecord DropRecord::parse(const QString& line) {
    const QStringList fields = line.split(QLatin1Char('\t'));
    DropRecord record;
    record.url = fields.value(0);
    record.size = fields.value(1, QStringLiteral("-1")).toLongLong();
    record.sha256 = fields.value(2);
    return record;
}

QString sha256Hex(const std::filesystem::path& file) {
    QFile input(QString::fromStdString(file.string()));
    if (!input.open(QIODevice::ReadOnly))
        return QStringLiteral("MISSING");
    return QString::fromLatin1(QCryptographicHash::hash(input.readAll(), QCryptographicHash::Sha256).toHex());
}

std::unique_ptr<XTestInput> XTestInput::open() {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<XTestInput>(new XTestInput(display));
}

XTestInput::~XTestInput() {
    XCloseDisplay(x11(display));
}

void XTestInput::moveTo(QPoint global) {
    XTestFakeMotionEvent(x11(display), -1, global.x(), global.y(), CurrentTime);
    XFlush(x11(display));
}

void XTestInput::pressButton() {
    XTestFakeButtonEvent(x11(display), 1, True, CurrentTime);
    XFlush(x11(display));
}

void XTestInput::releaseButton() {
    XTestFakeButtonEvent(x11(display), 1, False, CurrentTime);
    XFlush(x11(display));
}

void XTestInput::tapEscape() {
    const KeyCode escape = XKeysymToKeycode(x11(display), XK_Escape);
    XTestFakeKeyEvent(x11(display), escape, True, CurrentTime);
    XTestFakeKeyEvent(x11(display), escape, False, CurrentTime);
    XFlush(x11(display));
}

bool XTestInput::dragSelectionOwned() const {
    const Atom selection = XInternAtom(x11(display), "XdndSelection", False);
    return XGetSelectionOwner(x11(display), selection) != None;
}

void XTestInput::clearDragSelection() {
    XSetSelectionOwner(x11(display), XInternAtom(x11(display), "XdndSelection", False), None, CurrentTime);
    XSync(x11(display), False);
}

void PointerScript::add(std::function<void()> action, std::chrono::milliseconds pause) {
    steps.push_back({std::move(action), pause, {}});
}

PointerScript& PointerScript::moveTo(QPoint global) {
    add([this, global] { input.moveTo(global); }, std::chrono::milliseconds(30));
    return *this;
}

PointerScript& PointerScript::glideTo(QPoint from, QPoint to, int count) {
    for (int step = 1; step <= count; ++step) {
        const QPoint at = from + (to - from) * step / count;
        add([this, at] { input.moveTo(at); }, std::chrono::milliseconds(15));
    }
    return *this;
}

PointerScript& PointerScript::press() {
    add([this] { input.pressButton(); }, std::chrono::milliseconds(60));
    return *this;
}

PointerScript& PointerScript::release() {
    add([this] { input.releaseButton(); }, std::chrono::milliseconds(60));
    return *this;
}

PointerScript& PointerScript::escape() {
    add([this] { input.tapEscape(); }, std::chrono::milliseconds(100));
    return *this;
}

PointerScript& PointerScript::wait(std::chrono::milliseconds pause) {
    add([] {}, pause);
    return *this;
}

PointerScript& PointerScript::run(std::function<void()> fn) {
    add(std::move(fn), std::chrono::milliseconds(0));
    return *this;
}

PointerScript& PointerScript::until(std::function<bool()> condition) {
    add([] {}, std::chrono::milliseconds(15));
    steps.back().until = std::move(condition);
    return *this;
}

namespace {
// Runs the steps in turn; each pending timer holds the runner, so it lives until the last step.
// A step with a condition is looked at again after its pause until the condition holds.
struct ScriptRunner : std::enable_shared_from_this<ScriptRunner> {
    std::vector<std::function<void()>> actions;
    std::vector<std::chrono::milliseconds> pauses;
    std::vector<std::function<bool()>> conditions;
    std::shared_ptr<bool> done;
    QElapsedTimer held;

    void runFrom(std::size_t index) {
        if (index == actions.size()) {
            *done = true;
            return;
        }
        actions[index]();
        held.start();
        QTimer::singleShot(pauses[index], [self = shared_from_this(), index] { self->endStep(index); });
    }
    void endStep(std::size_t index) {
        if (!conditions[index] || conditions[index]() || held.elapsed() >= patienceMilliseconds)
            return runFrom(index + 1);
        QTimer::singleShot(pauses[index], [self = shared_from_this(), index] { self->endStep(index); });
    }
};
} // namespace

void PointerScript::start() {
    *done = false;
    auto runner = std::make_shared<ScriptRunner>();
    for (const Step& step : steps) {
        runner->actions.push_back(step.action);
        runner->pauses.push_back(step.pause);
        runner->conditions.push_back(step.until);
    }
    runner->done = done;
    QTimer::singleShot(0, [runner] { runner->runFrom(0); });
}

} // namespace vt::test
