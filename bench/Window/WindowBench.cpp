// The plug-in window with a large library (offscreen Qt), each figure against a peer measured in
// the same run:
// - the time from opening the window until its list shows, at 10,000 samples, against reading
//   and decoding the library once and a QListView of as many items (uniform item sizes, as a Qt
//   user writes a long list);
// - one preview click (play or stop) against one item of that QListView changed;
// - with the live refresh on its real once-a-second timer while a writer thread rewrites
//   "bridge-metadata.json" once a second as the desktop program does while it analyses: the
//   latency of clicks made ten times a second and the longest stall of the window's thread (a
//   1 ms timer watching its own lateness), at 10,000 and at 50,000 samples;
// - how long a removed or added audio file takes to show, with neither library file changed.

#include "Platform/Core/AtomicFile.h"
#include "Platform/UI/Widgets.h"
#include "Tests/VellumtideAU/Window/WindowTestSupport.h"
#include "VellumtideAU/Window/VellumtideAUView.h"
#include "VellumtideAU/Window/VellumtideRows.h"
#include "VellumtideAU/Window/VellumtideSampleList.h"

#include <QApplication>
#include <QListView>
#include <QScrollBar>
#include <QStringListModel>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t sampleCount = 10'000;
constexpr std::size_t largeSampleCount = 50'000;
constexpr int openRuns = 5;
constexpr int clickRuns = 41;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double milliseconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return millisecondsSince(start);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double medianOf(int runs, const std::function<double()>& run) {
    std::vector<double> values;
    for (int index = 0; index < runs; ++index)
        values.push_back(run());
    return median(values);
}

// Lays out and paints the widget as the screen would, then runs what the event loop has queued.
void settle(QWidget& widget) {
    QApplication::processEvents();
    widget.repaint();
    QApplication::processEvents();
}

// Runs what a change queued and paints the list's visible part again.
void settleList(QAbstractScrollArea& list) {
    QApplication::processEvents();
    list.viewport()->repaint();
    QApplication::processEvents();
}

// Counts the paint events of every widget while it is installed.
class PaintCounter final : public QObject {
public:
    PaintCounter() { QApplication::instance()->installEventFilter(this); }
    ~PaintCounter() override { QApplication::instance()->removeEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// Runs the event loop as a host's idle calls do, until done() or the time is up.
void runLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!done() && Clock::now() < end)
        QApplication::processEvents(QEventLoop::AllEvents, 1);
}

// This thread's processor time in milliseconds.
double threadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// A 1 ms timer that records the longest time between two of its ticks beyond its interval: as
// wall-clock time (which also counts time the scheduler gave the thread to others on a busy
// machine) and as this thread's own processor time (the work that held the thread).
class StallWatch {
public:
    StallWatch() {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            const double busyNow = threadMilliseconds();
            const double gap = std::chrono::duration<double, std::milli>(now - last).count() - 1;
            wall = std::max(wall, gap);
            busy = std::max(busy, busyNow - lastBusy);
            last = now;
            lastBusy = busyNow;
        });
    }
    void start() {
        last = Clock::now();
        lastBusy = threadMilliseconds();
        wall = busy = 0;
        timer.start(1);
    }
    void stop() { timer.stop(); }
    double longestWall() const { return wall; }
    double longestBusy() const { return busy; }

private:
    QTimer timer;
    Clock::time_point last;
    double lastBusy = 0;
    double wall = 0;
    double busy = 0;
};

// Rewrites "bridge-metadata.json" once a second, replaced whole, with the analyses of another
// fifty samples each time: the desktop program analysing the library.
class MetadataWriter {
public:
    MetadataWriter(std::filesystem::path file, std::vector<std::string> ids)
        : file(std::move(file)), ids(std::move(ids)),
          metadata(nlohmann::json::parse(vt::readWholeFile(this->file).value_or("{}"))) {
        thread = std::thread([this] { run(); });
    }
    ~MetadataWriter() {
        stopping = true;
        thread.join();
    }
    int writes() const { return written; }

private:
    void run() {
        std::size_t analysed = 0;
        while (!stopping) {
            for (std::size_t count = 0; count < 50 && analysed < ids.size(); ++count, ++analysed)
                metadata[ids[analysed]]["analysis"] = {
                    {"bpm", 90 + int(analysed % 60)}, {"bpmConfidence", 0.8},    {"rootNote", "C"},
                    {"rootConfidence", 0.7},          {"musicalKey", "C minor"}, {"keyConfidence", 0.6},
                    {"sourceFingerprint", "bench"}};
            vt::writeFileAtomically(file, metadata.dump(2));
            ++written;
            for (int slice = 0; slice < 100 && !stopping; ++slice)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::filesystem::path file;
    std::vector<std::string> ids;
    nlohmann::json metadata;
    std::atomic_bool stopping{false};
    std::atomic_int written{0};
    std::thread thread;
};

std::unique_ptr<VellumtideAUView> makeView(const VellumtideWindowServices& services) {
    static auto reference = std::make_shared<VellumtideAudioUnitReference>();
    return std::make_unique<VellumtideAUView>([] {}, [](const vt::Uuid&) {}, reference, services);
}

// From making the window until its list shows, painted.
double openUntilListed(std::unique_ptr<VellumtideAUView>& view, const VellumtideWindowServices& services,
                       std::size_t expected) {
    view.reset();
    QApplication::processEvents();
    const auto start = Clock::now();
    view = makeView(services);
    view->resize(620, 760);
    view->show();
    settle(*view);
    runLoopUntil([&] { return view->sampleListView()->samples().size() == expected; },
                 std::chrono::seconds(60));
    settle(*view);
    return millisecondsSince(start);
}

struct WhileWriting {
    double clickLatency = 0; // the slowest click, its wait for the window's thread included
    double clickBusy = 0;    // the most processor time one click took
    double stall = 0;        // the longest stall of the window's thread, wall-clock
    double block = 0;        // the longest the window's thread was busy between two ticks
    int rewrites = 0;
    std::size_t reads = 0;
};

// Ten clicks a second on a row in view for the given time while the writer rewrites the metadata.
WhileWriting clickWhileWriting(VellumtideAUView& view, const std::filesystem::path& libraryFolder,
                               const std::vector<std::string>& ids, std::chrono::milliseconds duration,
                               bool click) {
    WhileWriting result;
    const std::size_t readsBefore = view.library().readCount();
    MetadataWriter writer(libraryFolder / "bridge-metadata.json", ids);
    StallWatch watch;
    QTimer clicks;
    auto due = Clock::now();
    const auto period = std::chrono::milliseconds(100);
    QObject::connect(&clicks, &QTimer::timeout, [&] {
        const auto rows = view.sampleRows();
        if (rows.size() < 2)
            return;
        const double busyBefore = threadMilliseconds();
        rows[1]->playButton()->click();
        settleList(*view.sampleListView());
        result.clickBusy = std::max(result.clickBusy, threadMilliseconds() - busyBefore);
        result.clickLatency = std::max(result.clickLatency, millisecondsSince(due));
        due = Clock::now() + period;
    });
    watch.start();
    if (click) {
        due = Clock::now() + period;
        clicks.start(period);
    }
    runLoopUntil([] { return false; }, duration);
    clicks.stop();
    watch.stop();
    result.stall = watch.longestWall();
    result.block = watch.longestBusy();
    result.rewrites = writer.writes();
    result.reads = view.library().readCount() - readsBefore;
    return result;
}

// Seconds until the sample's row shows the availability wanted, with its file changed on disk.
double secondsUntilSeen(VellumtideAUView& view, const vt::Uuid& id, bool available,
                        const std::function<void()>& change) {
    auto shows = [&] {
        for (const auto& sample : view.library().samples())
            if (sample.id == id)
                return sample.isAvailable == available;
        return false;
    };
    const auto start = Clock::now();
    change();
    runLoopUntil(shows, std::chrono::seconds(10));
    return shows() ? millisecondsSince(start) / 1000 : 99;
}

void printFigure(const char* what, double value, const char* unit, double goal, const char* peerName,
                 double peer) {
    std::printf("%-28s %9.3f %-3s (goal <= %g %s)   peer %-46s %9.3f %-3s ratio %6.2f\n", what, value, unit,
                goal, unit, peerName, peer, unit, peer > 0 ? value / peer : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);

    // The live refresh runs on its real timer, as in a host.
    vt::test::WindowFixture fixture;
    const auto ids = fixture.writeLargeLibrary(sampleCount);
    fixture.services.makeRefreshTimer = nullptr;

    // Peer: the library files read and decoded once, as every window open must.
    const double libraryRead = medianOf(openRuns, [&] {
        return milliseconds([&] { VellumtidePluginLibrary library(fixture.services.libraryEnvironment); });
    });

    std::unique_ptr<VellumtideAUView> view;
    const double windowOpen =
        medianOf(openRuns, [&] { return openUntilListed(view, fixture.services, sampleCount); });
    const std::size_t listed = view->sampleListView()->samples().size();
    const int rowWidgets = view->sampleListView()->rowWidgetCount();

    // Peer: a list view of as many one-line items, as a Qt user writes a long list.
    QStringList items;
    for (std::size_t index = 0; index < sampleCount; ++index)
        items << QStringLiteral("Sample %1").arg(index + 1);
    std::unique_ptr<QListView> plainList;
    QStringListModel model;
    const double listViewOpen = medianOf(openRuns, [&] {
        plainList.reset();
        QApplication::processEvents();
        return milliseconds([&] {
            model.setStringList(items);
            plainList = std::make_unique<QListView>();
            plainList->setUniformItemSizes(true);
            plainList->setModel(&model);
            plainList->resize(620, 760);
            plainList->show();
            settle(*plainList);
        });
    });

    // One preview click, alternately play and stop, on a row in the middle of the list.
    view->sampleListView()->verticalScrollBar()->setValue(
        view->sampleListView()->verticalScrollBar()->maximum() / 2);
    settle(*view);
    auto* row = view->sampleRows().at(1);
    PaintCounter clickPaints;
    const double click = medianOf(clickRuns, [&] {
        return milliseconds([&] {
            row->playButton()->click();
            settleList(*view->sampleListView());
        });
    });
    const double paintsPerClick = double(clickPaints.paints) / clickRuns;
    // Peer: one item of the list view changed and repainted.
    int change = 0;
    const double listViewClick = medianOf(clickRuns, [&] {
        return milliseconds([&] {
            model.setData(model.index(5),
                          (++change % 2) ? QStringLiteral("Playing") : QStringLiteral("Sample 6"));
            settle(*plainList);
        });
    });
    plainList.reset();

    // Clicks while the desktop program rewrites the metadata once a second.
    const auto writing = clickWhileWriting(*view, fixture.libraryFolder, ids, std::chrono::seconds(6), true);

    // An audio file removed, then added back, with neither library file changed, once the reads
    // that the last rewrite started are done.
    runLoopUntil([] { return false; }, std::chrono::milliseconds(2500));
    const auto middle = view->library().samples().at(sampleCount / 2);
    const auto moved = fixture.libraryFolder / "moved.wav";
    const double removedSeen =
        secondsUntilSeen(*view, middle.id, false, [&] { std::filesystem::rename(middle.audioURL, moved); });
    const double addedSeen =
        secondsUntilSeen(*view, middle.id, true, [&] { std::filesystem::rename(moved, middle.audioURL); });
    const double fileChangeSeen = std::max(removedSeen, addedSeen);
    view.reset();

    // The same stalls with 50,000 samples.
    vt::test::WindowFixture large;
    const auto largeIDs = large.writeLargeLibrary(largeSampleCount);
    large.services.makeRefreshTimer = nullptr;
    const double largeOpen = openUntilListed(view, large.services, largeSampleCount);
    const auto largeWriting =
        clickWhileWriting(*view, large.libraryFolder, largeIDs, std::chrono::seconds(9), false);
    view.reset();

    const double clickRatio = listViewClick > 0 ? click / listViewClick : 0;
    std::printf("plug-in window, %zu samples listed (every tenth with 3 chops), %d row widgets, offscreen;"
                " medians of %d opens and %d clicks\n",
                listed, rowWidgets, openRuns, clickRuns);
    printFigure("open until listed, 10k", windowOpen, "ms", 150, "library read and decoded once",
                libraryRead);
    printFigure("open until listed, 10k", windowOpen, "ms", 150, "QListView (uniform sizes) of as many items",
                listViewOpen);
    printFigure("play/stop click", click, "ms", 16, "QListView (uniform sizes), one item changed",
                listViewClick);
    std::printf("widgets painted per click: %.1f\n", paintsPerClick);
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf(
        "while the metadata is rewritten once a second (%d rewrites, %zu reads): slowest click %.3f ms "
        "wall, %.3f ms busy (goal <= 16); window thread busy at most %.3f ms at a time (goal <= 16), "
        "longest wall-clock stall %.3f ms (load average %.1f)\n",
        writing.rewrites, writing.reads, writing.clickLatency, writing.clickBusy, writing.block,
        writing.stall, load[0]);
    std::printf(
        "50k samples: open until listed %.3f ms; while rewritten (%d rewrites, %zu reads) window thread "
        "busy at most %.3f ms at a time (goal <= 16), longest wall-clock stall %.3f ms\n",
        largeOpen, largeWriting.rewrites, largeWriting.reads, largeWriting.block, largeWriting.stall);
    std::printf("audio file removed seen after %.3f s, added back seen after %.3f s (goal <= 1.5 s)\n",
                removedSeen, addedSeen);
    std::printf("BENCH plugin_open_ms_10k=%.3f library_read_ms=%.3f listview_open_ms=%.3f click_ms=%.3f "
                "uniform_listview_click_ms=%.3f window_click_ratio_to_uniform_listview=%.3f "
                "plugin_click_ms_while_writing=%.3f plugin_click_busy_ms_while_writing=%.3f "
                "plugin_ui_block_ms_max_10k=%.3f plugin_ui_block_ms_max_50k=%.3f "
                "plugin_ui_stall_wall_ms_max_10k=%.3f "
                "plugin_ui_stall_wall_ms_max_50k=%.3f plugin_open_ms_50k=%.3f plugin_file_change_seen_s=%.3f "
                "load_average=%.1f\n",
                windowOpen, libraryRead, listViewOpen, click, listViewClick, clickRatio, writing.clickLatency,
                writing.clickBusy, writing.block, largeWriting.block, writing.stall, largeWriting.stall,
                largeOpen, fileChangeSeen, load[0]);
    return listed == sampleCount && writing.reads > 0 && largeWriting.reads > 0 ? 0 : 1;
}
