// The plug-in window with a library of 10,000 samples (offscreen Qt): the time to open the window,
// the main-thread time of one preview click (play or stop) and the cost of the idle library poll,
// each against a peer measured in the same run: reading and decoding the library files once, a
// plain QListView of as many items (opened, and one item changed), and a full library read per
// second (what the poll costs when it reads every time).

#include "Platform/UI/Widgets.h"
#include "Tests/VellumtideAU/Window/WindowTestSupport.h"
#include "VellumtideAU/Window/VellumtideAUView.h"
#include "VellumtideAU/Window/VellumtideRows.h"
#include "VellumtideAU/Window/VellumtideSampleList.h"

#include <QApplication>
#include <QListView>
#include <QScrollBar>
#include <QStringListModel>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

constexpr std::size_t sampleCount = 10'000;
constexpr int openRuns = 5;
constexpr int clickRuns = 41;
constexpr int pollRuns = 41;

double milliseconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
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

// The library reader's timer, kept so that the benchmark fires its ticks.
struct CapturedTimer {
    vt::test::ManualRefreshTimer* timer = nullptr;
};

void printFigure(const char* what, double value, const char* unit, double goal, const char* peerName,
                 double peer) {
    std::printf("%-26s %9.3f %-5s (goal <= %g %s)   peer %-44s %9.3f %-5s ratio %6.2f\n", what, value, unit,
                goal, unit, peerName, peer, unit, peer > 0 ? value / peer : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);

    vt::test::WindowFixture fixture;
    fixture.writeLargeLibrary(sampleCount);
    auto captured = std::make_shared<CapturedTimer>();
    fixture.services.makeRefreshTimer = [captured] {
        auto timer = std::make_unique<vt::test::ManualRefreshTimer>();
        captured->timer = timer.get();
        return timer;
    };
    auto reference = std::make_shared<VellumtideAudioUnitReference>();

    // Peer: the library files read and decoded once, as every window open must.
    const double libraryRead = medianOf(openRuns, [&] {
        return milliseconds([&] { VellumtidePluginLibrary library(fixture.services.libraryEnvironment); });
    });

    // The window: built, shown, laid out and painted.
    std::unique_ptr<VellumtideAUView> view;
    const double windowOpen = medianOf(openRuns, [&] {
        view.reset();
        QApplication::processEvents();
        return milliseconds([&] {
            view = std::make_unique<VellumtideAUView>([] {}, [](const vt::Uuid&) {}, reference,
                                                      fixture.services);
            view->resize(620, 760);
            view->show();
            settle(*view);
        });
    });
    const std::size_t listed = view->sampleListView()->samples().size();
    const int rowWidgets = view->sampleListView()->rowWidgetCount();

    // Peer: a plain list view of as many one-line items.
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
    const double click = medianOf(clickRuns, [&] {
        return milliseconds([&] {
            row->playButton()->click();
            settle(*view);
        });
    });
    // Peer: one item of the plain list changed and repainted.
    int change = 0;
    const double listViewClick = medianOf(clickRuns, [&] {
        return milliseconds([&] {
            model.setData(model.index(5),
                          (++change % 2) ? QStringLiteral("Playing") : QStringLiteral("Sample 6"));
            settle(*plainList);
        });
    });

    // The idle poll: one tick a second while the library does not change; the peer reads it every time.
    const std::size_t readsBefore = view->library().readCount();
    const double poll = medianOf(pollRuns, [&] { return milliseconds([&] { captured->timer->tick(); }); });
    const bool pollRead = view->library().readCount() != readsBefore;
    const double fullRead =
        medianOf(openRuns, [&] { return milliseconds([&] { view->library().refresh(); }); });

    std::printf("plug-in window, %zu samples listed (every tenth with 3 chops), %d row widgets, offscreen;"
                " medians of %d opens, %d clicks, %d polls\n",
                listed, rowWidgets, openRuns, clickRuns, pollRuns);
    printFigure("window open", windowOpen, "ms", 300, "library read and decoded once", libraryRead);
    printFigure("window open", windowOpen, "ms", 300, "plain QListView of as many items opened",
                listViewOpen);
    printFigure("play/stop click", click, "ms", 16, "plain QListView, one item changed", listViewClick);
    printFigure("idle poll", poll, "ms/s", 2, "full library read once a second", fullRead);
    std::printf("idle poll read the library: %s\n", pollRead ? "yes" : "no");
    std::printf("BENCH window_open_ms=%.3f click_ms=%.3f poll_ms_per_s=%.4f library_read_ms=%.3f "
                "listview_open_ms=%.3f listview_click_ms=%.3f full_read_ms_per_s=%.3f\n",
                windowOpen, click, poll, libraryRead, listViewOpen, listViewClick, fullRead);
    return listed == sampleCount && !pollRead ? 0 : 1;
}
