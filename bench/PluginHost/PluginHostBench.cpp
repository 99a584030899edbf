// The plug-in's window in a host that runs it only through idle calls (as a GTK host does): the
// host loads the window through suil into a window of its own on the X server, fires its 16 ms
// timer and calls idle() on every firing. Each figure is taken in a process of its own, as a host
// opens the window once, against a peer process in the same run:
// - open until the list shows, at 10,000 and 50,000 samples written by the desktop program's own
//   writer, against a Qt program that reads the same two files with Qt's JSON reader and shows
//   their titles in a QListView (uniform item sizes), until it has painted;
// - the longest time the host's loop was held by one call into the window while it opens,
//   starts the desktop program quietly (0.45 s in) and receives the list, against the same with
//   a library of one sample;
// - the longest gap between two firings of the host's timer during the first drag of a 105 MB file
//   out of the window into a window of the host (the file staged for the drag), against a later
//   drag of the same file (staged before), in the same process; the dropped file is checked whole.
//   The drag figures are the worst of the runs (their medians beside them): a stall that comes
//   in one run of several is one a person meets.
// Needs an X server with XTEST ($DISPLAY; scripts/test-services.sh starts Xvfb).

#include "Platform/UI/Widgets.h"
#include "Tests/Support/X11/XTestPointer.h"
#include "Tests/Support/X11/XdndTestTarget.h"
#include "Tests/VellumtideAU/Engine/WavFixtures.h"
#include "Tests/VellumtideAU/Window/SuilWindowHost.h"
#include "VellumtideAU/LV2/VellumtideLV2.h"
#include "bench/Support/BridgeWrittenLibrary.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListView>
#include <QStringListModel>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t sampleCount = 10'000;
constexpr std::size_t largeSampleCount = 50'000;
constexpr int runs = 3;
// A drag's longest gap now and then comes from one run in several: enough runs to see it.
constexpr int dragRuns = 5;
// About 105 MB of 32-bit float stereo at 44.1 kHz: the large file of a first drag.
constexpr std::size_t largeFileFrames = 13'107'200;
constexpr auto hostPeriod = 16ms;
// The host's window on the screen, and the drop target beside it.
constexpr int hostX = 600, hostY = 0, hostWidth = 640, hostHeight = 540;
constexpr int targetX = 20, targetY = 560, targetWidth = 300, targetHeight = 200;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// MARK: In the child: the host

// The host's loop: a 16 ms timer whose every firing calls idle() (and whatever else the host
// does). It notes the longest time one call into the window held it, and when each firing came.
class HostLoop {
public:
    explicit HostLoop(std::function<void()> onFiring = {}) : onFiring(std::move(onFiring)) {}

    // A call into the window made by the host (instantiating it, or an idle call).
    // Also notes the most time the host's thread spent working in one call (what a busy machine's
    // other programs add to a call's length is not in it).
    template <typename Call> void held(Call&& call) {
        const auto start = Clock::now();
        const double startBusy = threadBusyMilliseconds();
        call();
        const double took = millisecondsBetween(start, Clock::now());
        busiest = std::max(busiest, threadBusyMilliseconds() - startBusy);
        if (took > longest) {
            longest = took;
            longestAt = start;
        }
    }
    static double threadBusyMilliseconds() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }
    double busiestCall() const { return busiest; }
    void turn(vt::test::SuilWindowHost& window) {
        std::this_thread::sleep_until(next);
        const auto now = Clock::now();
        next = std::max(next + hostPeriod, now);
        firings.push_back(now);
        if (onFiring)
            onFiring();
        const auto before = Clock::now();
        held([&] { window.idle(); });
        holds.push_back(millisecondsBetween(before, Clock::now()));
    }
    bool runUntil(vt::test::SuilWindowHost& window, const std::function<bool()>& done,
                  std::chrono::seconds limit) {
        const auto end = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() > end)
                return false;
            turn(window);
        }
        return true;
    }
    double longestHold() const { return longest; }
    Clock::time_point longestHoldAt() const { return longestAt; }
    // The longest time between two firings of the timer from the firing numbered from on.
    double longestGapSince(std::size_t from) const {
        double gap = 0;
        for (std::size_t index = from + 1; index < firings.size(); ++index)
            gap = std::max(gap, millisecondsBetween(firings[index - 1], firings[index]));
        return gap;
    }
    // The longest idle call from the firing numbered from on.
    double longestHoldSince(std::size_t from) const {
        return from < holds.size() ? *std::max_element(holds.begin() + std::ptrdiff_t(from), holds.end()) : 0;
    }
    std::size_t firingCount() const { return firings.size(); }

private:
    std::function<void()> onFiring;
    Clock::time_point next = Clock::now();
    std::vector<Clock::time_point> firings;
    std::vector<double> holds;
    double longest = 0;
    double busiest = 0;
    Clock::time_point longestAt;
};

// The first paint of a sample row, noted as it happens.
class RowPaintWatch final : public QObject {
public:
    RowPaintWatch() { QApplication::instance()->installEventFilter(this); }
    ~RowPaintWatch() override { QApplication::instance()->removeEventFilter(this); }
    std::optional<Clock::time_point> firstPaint;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!firstPaint && event->type() == QEvent::Paint && watched->inherits("VellumtideAUSampleRow"))
            firstPaint = Clock::now();
        return false;
    }
};

// True when the window's status line says the whole library is listed.
bool statusSays(const QString& text) {
    for (QWidget* widget : QApplication::allWidgets())
        if (widget->inherits("vt::ui::ElidedLabel") && widget->isVisible() &&
            static_cast<vt::ui::ElidedLabel*>(widget)->text() == text)
            return true;
    return false;
}

QWidget* visibleRow(const QString& title) {
    for (QWidget* widget : QApplication::allWidgets())
        if (widget->inherits("VellumtideAUSampleRow") && widget->isVisible() &&
            widget->accessibleName() == title)
            return widget;
    return nullptr;
}

struct HostedWindow {
    HostedWindow() : instance(host, vt::lv2::pluginURI, 48000, 256) {}
    vt::test::LilvHost host;
    vt::test::HostedPlugin instance;
    std::unique_ptr<vt::test::SuilWindowHost> window;
};

// Opens the window in the host and runs the host's loop until the list shows all count samples
// and the desktop program was started; prints what it saw.
int childOpen(std::size_t count, const fs::path& launches) {
    HostedWindow hosted;
    if (!hosted.instance.valid())
        return 2;
    HostLoop loop;
    const auto start = Clock::now();
    hosted.window = std::make_unique<vt::test::SuilWindowHost>(hosted.host, hosted.instance, hostWidth,
                                                               hostHeight, hostX, hostY);
    const double instantiate = millisecondsBetween(start, Clock::now());
    if (!hosted.window->valid())
        return 2;
    RowPaintWatch rows;
    const QString whole = QString::number(count) + (count == 1 ? " synced sample" : " synced samples");
    std::optional<Clock::time_point> listed;
    const bool done = loop.runUntil(
        *hosted.window,
        [&] {
            if (!listed && statusSays(whole))
                listed = Clock::now();
            return rows.firstPaint && listed && fs::exists(launches);
        },
        60s);
    // A few more turns: what the start and the list left queued is handled too.
    for (int turn = 0; turn < 30; ++turn)
        loop.turn(*hosted.window);
    if (!done)
        return 1;
    std::printf("RESULT open_ms=%.3f listed_ms=%.3f instantiate_ms=%.3f hold_ms=%.3f hold_at_ms=%.3f "
                "gap_ms=%.3f busy_ms=%.3f\n",
                millisecondsBetween(start, *rows.firstPaint), millisecondsBetween(start, *listed),
                instantiate, loop.longestHold(), millisecondsBetween(start, loop.longestHoldAt()),
                loop.longestGapSince(0), loop.busiestCall());
    hosted.window.reset();
    return 0;
}

// MARK: In the child: a drag of a large file

// The hand on the mouse, in a thread of its own while the host's loop goes on: rests on the
// point, presses, glides to the target in steps of 12 pixels 16 ms apart and lets go there.
void dragGesture(QPoint from, QPoint to) {
    vt::test::XTestPointer pointer;
    const auto frames = [](int count) { std::this_thread::sleep_for(count * hostPeriod); };
    pointer.moveTo(from.x(), from.y());
    frames(8);
    pointer.pressButton();
    frames(3);
    const QPoint distance = to - from;
    const int steps = std::max(1, int(std::ceil(std::hypot(distance.x(), distance.y()) / 12.0)));
    for (int step = 1; step <= steps; ++step) {
        const QPoint at = from + distance * step / steps;
        pointer.moveTo(at.x(), at.y());
        frames(1);
    }
    frames(4);
    pointer.releaseButton();
}

QByteArray sha256(const fs::path& path) {
    QFile file(QString::fromStdString(path.string()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly))
        hash.addData(&file);
    return hash.result();
}

// Drags the first sample's file (made large beforehand) out of the window into a window of the
// host twice: first when it was never staged, then again; prints the longest gap between two
// firings of the host's timer during each, from the press until the drop is in and the host has
// gone on for a few turns.
int childDrag(const fs::path& library) {
    HostedWindow hosted;
    if (!hosted.instance.valid())
        return 2;
    vt::test::XdndTestTarget target(targetX, targetY, targetWidth, targetHeight);
    HostLoop loop([&] { target.pump(); });
    hosted.window = std::make_unique<vt::test::SuilWindowHost>(hosted.host, hosted.instance, hostWidth,
                                                               hostHeight, hostX, hostY);
    if (!hosted.window->valid() || !target.valid())
        return 2;
    QWidget* row = nullptr;
    if (!loop.runUntil(
            *hosted.window, [&] { return (row = visibleRow("Sample 1")) != nullptr; }, 30s))
        return 1;
    for (int turn = 0; turn < 60; ++turn) // the list settles, the desktop program is started
        loop.turn(*hosted.window);
    row = visibleRow("Sample 1");
    if (!row)
        return 1;
    const QPoint from = row->mapToGlobal(QPoint(70, row->height() / 2));
    const QPoint to(targetX + targetWidth / 2, targetY + targetHeight / 2);
    std::vector<double> gaps, holds;
    for (int drag = 0; drag < 2; ++drag) {
        const std::size_t drops = target.droppedUriLists.size();
        const std::size_t firstFiring = loop.firingCount();
        std::atomic<bool> gestureDone = false;
        std::thread person([&] {
            dragGesture(from, to);
            gestureDone = true;
        });
        const bool dropped = loop.runUntil(
            *hosted.window, [&] { return gestureDone && target.droppedUriLists.size() > drops; }, 30s);
        person.join();
        for (int turn = 0; turn < 10; ++turn)
            loop.turn(*hosted.window);
        if (!dropped)
            return 1;
        gaps.push_back(loop.longestGapSince(firstFiring));
        holds.push_back(loop.longestHoldSince(firstFiring));
    }
    // The drop delivers the whole file.
    const QUrl url = QUrl::fromEncoded(QByteArray::fromStdString(
        target.droppedUriLists.back().substr(0, target.droppedUriLists.back().find("\r\n"))));
    const fs::path received = url.toLocalFile().toStdString();
    if (received == library || sha256(received) != sha256(library)) {
        std::printf("the dropped file %s is not a whole copy of %s\n", received.c_str(), library.c_str());
        return 1;
    }
    std::printf("RESULT first_gap_ms=%.3f later_gap_ms=%.3f first_hold_ms=%.3f later_hold_ms=%.3f\n", gaps[0],
                gaps[1], holds[0], holds[1]);
    hosted.window.reset();
    return 0;
}

// MARK: In the child: the peer

// A Qt program that lists the library: both files read with Qt's JSON reader, the titles (with
// the desktop program's title overrides, deleted samples left out) in a QListView.
int childPeer(const fs::path& libraryFolder, std::size_t count, int argc, char** argv) {
    const auto start = Clock::now();
    QApplication application(argc, argv);
    auto read = [](const fs::path& file) {
        QFile input(QString::fromStdString(file.string()));
        return input.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(input.readAll()) : QJsonDocument();
    };
    const QJsonDocument manifest = read(libraryFolder / "library.json");
    const QJsonObject metadata = read(libraryFolder / "bridge-metadata.json").object();
    QStringList titles;
    for (const QJsonValue& value : manifest.array()) {
        const QJsonObject sample = value.toObject();
        const QJsonObject overrides = metadata.value(sample.value("id").toString()).toObject();
        if (overrides.value("isDeleted").toBool())
            continue;
        const QString title = overrides.value("titleOverride").toString();
        titles << (title.trimmed().isEmpty() ? sample.value("title").toString() : title.trimmed());
    }
    QStringListModel model(titles);
    QListView list;
    list.setUniformItemSizes(true);
    list.setModel(&model);
    list.setGeometry(hostX, hostY, hostWidth, hostHeight);
    struct Watch final : QObject {
        std::optional<Clock::time_point> painted;
        bool eventFilter(QObject*, QEvent* event) override {
            if (!painted && event->type() == QEvent::Paint)
                painted = Clock::now();
            return false;
        }
    } watch;
    list.viewport()->installEventFilter(&watch);
    list.show();
    const auto end = Clock::now() + 30s;
    while (!watch.painted && Clock::now() < end)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!watch.painted || std::size_t(titles.size()) != count)
        return 1;
    std::printf("RESULT open_ms=%.3f\n", millisecondsBetween(start, *watch.painted));
    return 0;
}

// MARK: In the parent

struct Child {
    int status = -1;
    std::string output;
    // A value the child printed on its RESULT line; -1 when it is not there.
    double value(const std::string& key) const {
        const auto line = output.find("RESULT ");
        const auto at = output.find(" " + key + "=", line);
        return line == std::string::npos || at == std::string::npos
                   ? -1
                   : std::atof(output.c_str() + at + key.size() + 2);
    }
};

// Runs this program again with the arguments and the environment variables set; its output.
Child runChild(const std::vector<std::string>& arguments,
               const std::vector<std::pair<std::string, std::string>>& variables) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (name == "QT_QPA_PLATFORM" ||
            std::any_of(variables.begin(), variables.end(), [&](const auto& v) { return v.first == name; }))
            continue;
        environment.push_back(text);
    }
    for (const auto& [name, value] : variables)
        environment.push_back(name + "=" + value);
    std::vector<char*> envp, argv;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> words{"/proc/self/exe"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    Child child;
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return child;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    char self[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    pid_t pid = 0;
    const bool started =
        length > 0 && posix_spawn(&pid, self, &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        child.output.append(buffer, std::size_t(got));
    ::close(pipeEnds[0]);
    if (started)
        ::waitpid(pid, &child.status, 0);
    return child;
}

// A library in a home of its own, with the bundle installed beside a stand-in for the desktop
// program; each run gets fresh settings (the program is started again, the companion sheet of a
// first opening was seen) and a fresh drag store.
struct HostSetup {
    vt::test::WindowFixture fixture;
    fs::path prefix = fixture.temp / "prefix";
    fs::path launches = vt::test::installBundleBesideStandIn(prefix);
    int run = 0;

    std::vector<std::pair<std::string, std::string>> freshRun() {
        const fs::path runFolder = fixture.temp / ("run-" + std::to_string(++run));
        vt::test::writeFile(runFolder / "config" / "vellumtide" / "VellumtideAU.ini",
                            "[General]\nVellumtideAU.didShowCompanionAppOnFirstOpen=true\n");
        std::error_code ignored;
        fs::remove(launches, ignored);
        return {{"HOME", fixture.home.string()},
                {"XDG_CONFIG_HOME", (runFolder / "config").string()},
                {"XDG_DATA_HOME", (runFolder / "data").string()},
                {"LV2_PATH", (prefix / "lib" / "lv2").string()}};
    }
};

struct OpenFigures {
    double open = 0, listed = 0, instantiate = 0, hold = 0, gap = 0, busy = 0, peer = 0;
    bool ok = true;
};

OpenFigures measureOpen(HostSetup& setup, std::size_t count, bool withPeer) {
    std::vector<double> open, listed, instantiate, hold, gap, busy, peer;
    OpenFigures figures;
    for (int index = 0; index < runs; ++index) {
        const Child ours =
            runChild({"open", std::to_string(count), setup.launches.string()}, setup.freshRun());
        if (ours.status != 0) {
            std::printf("window run failed (%d): %s\n", ours.status, ours.output.c_str());
            figures.ok = false;
            continue;
        }
        open.push_back(ours.value("open_ms"));
        listed.push_back(ours.value("listed_ms"));
        instantiate.push_back(ours.value("instantiate_ms"));
        hold.push_back(ours.value("hold_ms"));
        gap.push_back(ours.value("gap_ms"));
        busy.push_back(ours.value("busy_ms"));
        if (!withPeer)
            continue;
        const Child other =
            runChild({"peer", setup.fixture.libraryFolder.string(), std::to_string(count)}, setup.freshRun());
        if (other.status != 0) {
            std::printf("peer run failed (%d): %s\n", other.status, other.output.c_str());
            figures.ok = false;
            continue;
        }
        peer.push_back(other.value("open_ms"));
    }
    figures.open = median(open);
    figures.listed = median(listed);
    figures.instantiate = median(instantiate);
    figures.hold = hold.empty() ? 0 : *std::max_element(hold.begin(), hold.end());
    figures.gap = gap.empty() ? 0 : *std::max_element(gap.begin(), gap.end());
    figures.busy = busy.empty() ? 0 : *std::max_element(busy.begin(), busy.end());
    figures.peer = median(peer);
    return figures;
}

struct DragFigures {
    std::vector<double> first, later, firstHold, laterHold;
    bool ok = true;
};

// The first sample's file made a large WAV; each run drags it from a fresh drag store.
DragFigures measureDrag(HostSetup& setup) {
    DragFigures figures;
    const fs::path file = setup.fixture.samplePath("sample-0.wav");
    fs::remove(file); // a link to the library's shared sound
    vt::test::writeFloatWav(file, 44100, vt::test::rampChannels(largeFileFrames, 2));
    for (int index = 0; index < dragRuns; ++index) {
        const Child run = runChild({"drag", file.string()}, setup.freshRun());
        if (run.status != 0) {
            std::printf("drag run failed (%d): %s\n", run.status, run.output.c_str());
            figures.ok = false;
            continue;
        }
        figures.first.push_back(run.value("first_gap_ms"));
        figures.later.push_back(run.value("later_gap_ms"));
        figures.firstHold.push_back(run.value("first_hold_ms"));
        figures.laterHold.push_back(run.value("later_hold_ms"));
    }
    return figures;
}

double worst(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

std::string spread(std::vector<double> values) {
    if (values.empty())
        return "none";
    std::sort(values.begin(), values.end());
    char text[96];
    std::snprintf(text, sizeof text, "%.1f / %.1f / %.1f", values.front(), median(values), values.back());
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "open") == 0)
        return childOpen(std::stoul(argv[2]), argv[3]);
    if (argc >= 4 && std::strcmp(argv[1], "peer") == 0)
        return childPeer(argv[2], std::stoul(argv[3]), 1, argv);
    if (argc >= 3 && std::strcmp(argv[1], "drag") == 0)
        return childDrag(argv[2]);

    if (!std::getenv("DISPLAY")) {
        std::printf("needs an X server: $DISPLAY is not set (scripts/test-services.sh starts Xvfb)\n");
        return 2;
    }
    double load[1] = {0};

    HostSetup small;
    vt::bench::writeBridgeLibrary(small.fixture, 1);
    const auto quiet = measureOpen(small, 1, false);

    HostSetup tenThousand;
    vt::bench::writeBridgeLibrary(tenThousand.fixture, sampleCount);
    const auto open10k = measureOpen(tenThousand, sampleCount, true);

    HostSetup fiftyThousand;
    vt::bench::writeBridgeLibrary(fiftyThousand.fixture, largeSampleCount);
    const auto open50k = measureOpen(fiftyThousand, largeSampleCount, true);

    HostSetup dragging;
    vt::bench::writeBridgeLibrary(dragging.fixture, 1);
    const auto drags = measureDrag(dragging);

    getloadavg(load, 1);
    std::printf("window in a host driven by idle calls every 16 ms; medians of %d runs, each a process\n",
                runs);
    for (const auto& [name, figures] :
         {std::pair{"10k", open10k}, std::pair{"50k", open50k}, std::pair{"1 sample", quiet}})
        std::printf(
            "%-8s open until rows shown %9.3f ms, whole list %9.3f ms, instantiate %8.3f ms, host "
            "held at most %8.3f ms by one idle call (%.3f ms of its thread's work), timer gap at most "
            "%8.3f ms; peer (Qt JSON + QListView) %9.3f ms\n",
            name, figures.open, figures.listed, figures.instantiate, figures.hold, figures.busy, figures.gap,
            figures.peer);
    std::printf("drag of a %.0f MB file into a window of the host (min / median / max of %d runs): longest "
                "gap between timer firings, first drag %s ms, later drag (staged before) %s ms; longest idle "
                "call, first %s ms, later %s ms\n",
                double(largeFileFrames) * 8 / 1e6, dragRuns, spread(drags.first).c_str(),
                spread(drags.later).c_str(), spread(drags.firstHold).c_str(),
                spread(drags.laterHold).c_str());
    const double holdMax = std::max(open10k.hold, open50k.hold);
    std::printf(
        "BENCH plugin_open_ms_10k=%.3f plugin_open_ms_50k=%.3f plugin_open_listed_ms_10k=%.3f "
        "plugin_open_listed_ms_50k=%.3f listview_peer_open_ms_10k=%.3f listview_peer_open_ms_50k=%.3f "
        "plugin_open_ratio_to_listview_10k=%.3f plugin_open_ratio_to_listview_50k=%.3f "
        "plugin_open_host_gap_ms_max=%.3f plugin_open_host_gap_ms_one_sample=%.3f "
        "plugin_first_drag_gap_ms=%.3f plugin_first_drag_gap_ms_median=%.3f "
        "plugin_later_drag_gap_ms=%.3f plugin_later_drag_gap_ms_median=%.3f "
        "plugin_first_drag_gap_ratio_to_later=%.3f "
        "plugin_first_drag_idle_ms_max=%.3f plugin_first_drag_idle_ms_median=%.3f "
        "plugin_later_drag_idle_ms_max=%.3f plugin_drag_runs=%d plugin_open_timer_gap_ms_max=%.3f "
        "plugin_open_instantiate_ms_10k=%.3f plugin_open_host_busy_ms_max=%.3f load_average=%.1f\n",
        open10k.open, open50k.open, open10k.listed, open50k.listed, open10k.peer, open50k.peer,
        open10k.peer > 0 ? open10k.open / open10k.peer : 0,
        open50k.peer > 0 ? open50k.open / open50k.peer : 0, holdMax, quiet.hold, worst(drags.first),
        median(drags.first), worst(drags.later), median(drags.later),
        worst(drags.later) > 0 ? worst(drags.first) / worst(drags.later) : 0, worst(drags.firstHold),
        median(drags.firstHold), worst(drags.laterHold), dragRuns, std::max(open10k.gap, open50k.gap),
        open10k.instantiate, std::max(open10k.busy, open50k.busy), load[0]);
    return open10k.ok && open50k.ok && quiet.ok && drags.ok ? 0 : 1;
}
