// The plug-in window with a large library written by the desktop program's own writer (offscreen
// Qt), each figure against a peer measured in the same run:
// - the time from opening the window until its list shows, at 10,000 samples, against reading
//   and decoding the library once and against a QListView that reads both library files and
//   shows the same cards through an item delegate;
// - one preview click (play or stop) against one card of that QListView changed;
// - with the live refresh on its real once-a-second timer while a writer thread rewrites
//   "bridge-metadata.json" once a second as the desktop program does while it analyses: the
//   latency of clicks made ten times a second and the longest stall of the window's thread (a
//   1 ms timer watching its own lateness), at 10,000 and at 50,000 samples, taken while the
//   window reads the rewritten library (a run in which it read nothing fails);
// - how long a removed or added audio file takes to show, with neither library file changed.

#include "Platform/Core/AtomicFile.h"
#include "Platform/UI/Widgets.h"
#include "Tests/VellumtideAU/Window/WindowTestSupport.h"
#include "VellumtideAU/Window/VellumtideAUView.h"
#include "VellumtideAU/Window/VellumtideRows.h"
#include "VellumtideAU/Window/VellumtideSampleList.h"
#include "bench/Support/PaintCounter.h"
#include "bench/Window/BridgeLibraryWriting.h"
#include "bench/Window/CardListPeer.h"

#include <QApplication>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
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

// A library of count samples written by the desktop program's writer into the fixture's library
// folder, each audio file a link to one playable sound (a file takes only so many links, so a
// large library links a few copies).
vt::bench::WrittenLibrary writeLibrary(const vt::test::WindowFixture& fixture, std::size_t count) {
    std::filesystem::path sound;
    std::size_t links = 0;
    return vt::bench::writeBridgeLibrary(fixture.libraryFolder, count,
                                         [&](const std::filesystem::path& path) {
                                             if (links++ % 30'000 == 0) {
                                                 sound = fixture.libraryFolder.parent_path() /
                                                         ("sound-" + std::to_string(links / 30'000) + ".wav");
                                                 vt::test::WindowFixture::writeSound(sound);
                                             }
                                             std::filesystem::create_hard_link(sound, path);
                                         });
}

// Rewrites "bridge-metadata.json" once a second through the desktop program's writer, with the
// analyses of another fifty samples changed each time: the desktop program analysing the library.
class MetadataWriter {
public:
    MetadataWriter(std::filesystem::path folder, const vt::bench::WrittenLibrary& library)
        : folder(std::move(folder)), metadata(library.metadata) {
        for (const auto& sample : library.samples)
            ids.push_back(sample.id);
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
            for (std::size_t count = 0; count < 50; ++count, ++analysed) {
                BridgeSampleAnalysis& analysis = metadata[ids[analysed % ids.size()]].analysis;
                analysis.bpm = 60 + double(analysed % 120);
                analysis.musicalKey = analysed % 2 ? "A minor" : "C major";
            }
            vt::bench::writeBridgeMetadata(folder, metadata);
            ++written;
            for (int slice = 0; slice < 100 && !stopping; ++slice)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::filesystem::path folder;
    std::vector<vt::Uuid> ids;
    BridgeMetadataMap metadata;
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

// Ten clicks a second on a row in view for at least the given time while the writer rewrites the
// metadata, and on until the window has read what was rewritten (at most a minute).
WhileWriting clickWhileWriting(VellumtideAUView& view, const std::filesystem::path& libraryFolder,
                               const vt::bench::WrittenLibrary& library, std::chrono::milliseconds duration,
                               bool click) {
    WhileWriting result;
    const std::size_t readsBefore = view.library().readCount();
    MetadataWriter writer(libraryFolder, library);
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
    runLoopUntil([&] { return view.library().readCount() > readsBefore; }, std::chrono::minutes(1));
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

// The reason a run has no figure to give, or nothing.
std::optional<std::string> missingReads(std::size_t listed, const WhileWriting& writing,
                                        const WhileWriting& largeWriting) {
    if (listed != sampleCount)
        return "the window listed " + std::to_string(listed) + " of " + std::to_string(sampleCount) +
               " samples";
    for (const auto& [name, run] : {std::pair{"10k", &writing}, {"50k", &largeWriting}})
        if (run->reads == 0)
            return std::string(name) + " samples: the window read none of the " +
                   std::to_string(run->rewrites) +
                   " rewrites of the library within a minute, so its stall figures measure no read";
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);

    // The live refresh runs on its real timer, as in a host.
    vt::test::WindowFixture fixture;
    const auto library = writeLibrary(fixture, sampleCount);
    fixture.services.makeRefreshTimer = nullptr;

    // Peer: the library files read and decoded once, as every window open must.
    const double libraryRead = medianOf(openRuns, [&] {
        return milliseconds([&] { VellumtidePluginLibrary read(fixture.services.libraryEnvironment); });
    });

    std::unique_ptr<VellumtideAUView> view;
    const double windowOpen =
        medianOf(openRuns, [&] { return openUntilListed(view, fixture.services, sampleCount); });
    const std::size_t listed = view->sampleListView()->samples().size();
    const int rowWidgets = view->sampleListView()->rowWidgetCount();
    const int cardHeight = view->sampleRows().at(1)->height();

    // Peer: a list view that reads both files and shows the same cards through a delegate.
    std::unique_ptr<vt::bench::CardListPeer> peer;
    std::size_t peerCards = 0;
    const double listViewOpen = medianOf(openRuns, [&] {
        peer.reset();
        QApplication::processEvents();
        return milliseconds([&] {
            auto cards = vt::bench::readPeerCards(fixture.libraryFolder);
            peerCards = cards.size();
            peer = std::make_unique<vt::bench::CardListPeer>(std::move(cards), cardHeight);
            peer->view().resize(620, 760);
            peer->view().show();
            settle(peer->view());
        });
    });

    // One preview click, alternately play and stop, on a row in the middle of the list.
    view->sampleListView()->verticalScrollBar()->setValue(
        view->sampleListView()->verticalScrollBar()->maximum() / 2);
    settle(*view);
    auto* row = view->sampleRows().at(1);
    vt::bench::PaintCounter clickPaints;
    const double click = medianOf(clickRuns, [&] {
        return milliseconds([&] {
            row->playButton()->click();
            settleList(*view->sampleListView());
        });
    });
    const double paintsPerClick = double(clickPaints.paints) / clickRuns;
    // Peer: one card of the list view changed and the list repainted.
    peer->view().verticalScrollBar()->setValue(peer->view().verticalScrollBar()->maximum() / 2);
    settle(peer->view());
    const int peerRow = peer->view().indexAt(QPoint(10, cardHeight + 20)).row();
    bool playing = false;
    const double listViewClick = medianOf(clickRuns, [&] {
        return milliseconds([&] {
            playing = !playing;
            peer->setPlaying(std::max(peerRow, 0), playing);
            settleList(peer->view());
        });
    });
    peer.reset();

    // Clicks while the desktop program rewrites the metadata once a second.
    const auto writing =
        clickWhileWriting(*view, fixture.libraryFolder, library, std::chrono::seconds(6), true);

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
    const auto largeLibrary = writeLibrary(large, largeSampleCount);
    large.services.makeRefreshTimer = nullptr;
    const double largeOpen = openUntilListed(view, large.services, largeSampleCount);
    const auto largeWriting =
        clickWhileWriting(*view, large.libraryFolder, largeLibrary, std::chrono::seconds(9), false);
    view.reset();

    if (const auto missing = missingReads(listed, writing, largeWriting)) {
        std::fprintf(stderr, "window_bench: no figures: %s\n", missing->c_str());
        return 1;
    }
    const double clickRatio = listViewClick > 0 ? click / listViewClick : 0;
    std::printf(
        "plug-in window, %zu samples listed (written by the desktop program's writer, every tenth with 3 "
        "chops), %d row widgets, cards %d pixels high, offscreen; medians of %d opens and %d clicks\n",
        listed, rowWidgets, cardHeight, openRuns, clickRuns);
    printFigure("open until listed, 10k", windowOpen, "ms", 150, "library read and decoded once",
                libraryRead);
    printFigure("open until listed, 10k", windowOpen, "ms", 150, "card QListView reading both files",
                listViewOpen);
    printFigure("play/stop click", click, "ms", 16, "card QListView, one card changed", listViewClick);
    std::printf("widgets painted per click: %.1f; the peer read %zu cards\n", paintsPerClick, peerCards);
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
    std::printf(
        "BENCH window_open_listed_ms_10k=%.3f library_read_ms=%.3f card_listview_open_ms=%.3f click_ms=%.3f "
        "card_listview_click_ms=%.3f plugin_click_ratio_to_card_listview=%.3f "
        "plugin_click_ms_while_writing=%.3f plugin_click_busy_ms_while_writing=%.3f "
        "plugin_ui_block_ms_max_10k=%.3f plugin_ui_block_ms_max_50k=%.3f "
        "plugin_ui_stall_wall_ms_max_10k=%.3f "
        "plugin_ui_stall_wall_ms_max_50k=%.3f window_open_listed_ms_50k=%.3f plugin_file_change_seen_s=%.3f "
        "load_average=%.1f\n",
        windowOpen, libraryRead, listViewOpen, click, listViewClick, clickRatio, writing.clickLatency,
        writing.clickBusy, writing.block, largeWriting.block, writing.stall, largeWriting.stall, largeOpen,
        fileChangeSeen, load[0]);
    return 0;
}
