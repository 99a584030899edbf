// The bridge's main window on a library of 10,000 samples written by the bridge's own writer
// (offscreen Qt, 1100 by 720): a preview click on a card, alternately play and stop, until what it
// changed is painted, against a QListView whose delegate paints the same cards (one card changed
// and painted), in the same run.

#include "Platform/Async/Spawn.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "Tests/Support/TemporaryFolder.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleRow.h"
#include "VellumtideBridge/Sources/Interface/Samples/BridgeSampleList.h"
#include "VellumtideBridge/Sources/Interface/Samples/BridgeSamplesPane.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeMainWindow.h"
#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"
#include "bench/Support/ControllerBenchSupport.h"
#include "bench/Support/PaintCounter.h"
#include "bench/Window/BridgeLibraryWriting.h"
#include "bench/Window/CardListPeer.h"

#include <QAbstractButton>
#include <QApplication>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace vt::bench {
namespace {

constexpr std::size_t sampleCount = 10'000;
constexpr int clickRuns = 41;

// A player that plays nothing: the click's work is the window's, not a decoder's.
class SilentPlayer final : public vt::AudioPlayer {
public:
    double duration() const override { return 1.0; }
    double currentTime() const override { return 0; }
    bool isPlaying() const override { return playing; }
    void setVolume(float value) override { level = value; }
    float volume() const override { return level; }
    void setNumberOfLoops(int value) override { loops = value; }
    int numberOfLoops() const override { return loops; }
    bool prepareToPlay() override { return true; }
    bool play() override { return playing = true; }
    void stop() override { playing = false; }
    void setFinishHandler(FinishHandler) override {}
    void setErrorHandler(ErrorHandler) override {}

private:
    bool playing = false;
    float level = 1;
    int loops = 0;
};

class SilentPlayers final : public vt::AudioPlayerFactory {
public:
    std::unique_ptr<vt::AudioPlayer> open(const std::filesystem::path&) override {
        return std::make_unique<SilentPlayer>();
    }
};

BridgeViewModel::Dependencies dependencies(const vt::Paths& paths) {
    auto deps = vt::bench::quietDependencies(paths, std::make_shared<vt::VirtualScheduler>());
    deps.audioPlayers = std::make_shared<SilentPlayers>();
    return deps;
}

double milliseconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return msSince(start);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs what a click queued, the paints of what it changed among them.
void settleUpdates() {
    QApplication::processEvents();
    QApplication::processEvents();
}

struct Side {
    std::function<void(bool playing)> click;
    QWidget* list = nullptr; // what a full repaint paints again
    std::vector<double> times;
    int paints = 0;
    double milliseconds() const { return median(times); }
};

// Clicks on both sides in turns (so that both see the same load), each until what it changed is
// painted, and then, when wanted, with the whole visible list painted again, as when it scrolls.
void clickInTurns(Side& ours, Side& peer, int runs, bool repaintList) {
    for (int run = 0; run < runs; ++run)
        for (Side* side : {&ours, &peer}) {
            vt::bench::PaintCounter counter;
            side->times.push_back(milliseconds([&] {
                side->click(run % 2 == 0);
                settleUpdates();
                if (repaintList) {
                    side->list->repaint();
                    settleUpdates();
                }
            }));
            side->paints += counter.paints;
        }
}

// The card of a sample as the peer paints it.
PeerCard peerCard(const SampleItem& sample) {
    PeerCard card;
    card.title = QString::fromStdString(sample.title);
    card.date = QString::fromStdString(BridgeFormatters::sampleDate().format(sample.createdAt));
    card.info = QString::fromStdString(sample.subtitle());
    card.peaks = sample.peaks;
    card.chopCount = static_cast<int>(sample.chops.size());
    card.isFavorite = sample.isFavorite;
    card.isEdited = sample.edit.isActive(sample.duration);
    if (card.chopCount > 0)
        card.badges << QStringLiteral("%1 CHOPS").arg(card.chopCount);
    for (const auto& label :
         {sample.analysis.tempoLabel(), sample.analysis.rootLabel(), sample.analysis.keyLabel()})
        if (label)
            card.badges << QString::fromStdString(*label);
    return card;
}

} // namespace
} // namespace vt::bench

int main(int argc, char** argv) {
    using namespace vt::bench;
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);

    vt::test::TemporaryFolder folder;
    const vt::Paths paths = vt::Paths::underRoot(folder.path());
    const auto sound = folder.path() / "sound.wav";
    std::ofstream(sound, std::ios::binary) << "RIFF";
    writeBridgeLibrary(
        paths.music / "Vellumtide", sampleCount,
        [&](const std::filesystem::path& path) { std::filesystem::create_hard_link(sound, path); },
        &BridgeViewModel::analysisFingerprint);

    BridgeViewModel model(dependencies(paths));
    // The library read and the first pass over its files (the plug-in's mirror) end before the
    // window opens.
    vt::test::turnLoopUntil(
        [&] {
            return model.samples().size() == sampleCount && vt::detail::pendingSpawns().load() == 0 &&
                   probe(model).libraryWriter.isIdle();
        },
        std::chrono::seconds(120));
    const std::size_t listed = model.samples().size();
    BridgeMainWindow window(model);
    window.resize(1100, 720);
    window.show();
    vt::test::turnLoopUntil([] { return false; }, std::chrono::milliseconds(500));
    const std::vector<BridgeSampleRow*> rows = window.samplesPane()->sampleList()->shownRows();
    if (listed != sampleCount || rows.size() < 2) {
        std::fprintf(stderr, "bridge window: %zu of %zu samples listed, %zu cards shown\n", listed,
                     sampleCount, rows.size());
        return 1;
    }
    const int cardHeight = rows[1]->height();
    auto* play = rows[1]->findChild<QAbstractButton*>(QStringLiteral("playButton"));
    BridgeSampleList* list = window.samplesPane()->sampleList();

    // The peer shows the same samples in a list of the same size, in a window of its own.
    std::vector<PeerCard> cards;
    for (const SampleItem& sample : model.samples())
        cards.push_back(peerCard(sample));
    CardListPeer peer(std::move(cards), cardHeight);
    peer.view().resize(list->size());
    peer.view().show();
    vt::test::turnLoopUntil([] { return false; }, std::chrono::milliseconds(500));

    Side ours{[&](bool) { play->click(); }, list->viewport(), {}, 0};
    Side peers{[&](bool playing) { peer.setPlaying(1, playing); }, peer.view().viewport(), {}, 0};
    Side oursUpdating = ours, peersUpdating = peers;
    clickInTurns(ours, peers, clickRuns, true);
    clickInTurns(oursUpdating, peersUpdating, clickRuns, false);

    double load[1] = {0};
    getloadavg(load, 1);
    const double ratio = ours.milliseconds() / peers.milliseconds();
    const double updateRatio = oursUpdating.milliseconds() / peersUpdating.milliseconds();
    std::printf(
        "bridge window, %zu samples listed, cards %d pixels high, list %dx%d, offscreen; medians of %d "
        "clicks, taken in turns with the peer (load average %.1f)\n",
        listed, cardHeight, list->width(), list->height(), clickRuns, load[0]);
    std::printf(
        "play/stop click, list repainted:  %8.3f ms (%5.1f widgets painted)   peer QListView of the same "
        "cards, one changed: %8.3f ms (%4.1f painted)   ratio %5.2f (goal <= 1)\n",
        ours.milliseconds(), double(ours.paints) / clickRuns, peers.milliseconds(),
        double(peers.paints) / clickRuns, ratio);
    std::printf(
        "play/stop click, what changed:    %8.3f ms (%5.1f widgets painted)   peer:                        "
        "        %8.3f ms (%4.1f painted)   ratio %5.2f\n",
        oursUpdating.milliseconds(), double(oursUpdating.paints) / clickRuns, peersUpdating.milliseconds(),
        double(peersUpdating.paints) / clickRuns, updateRatio);
    std::printf(
        "BENCH bridge_click_ms=%.3f card_listview_click_ms=%.3f window_click_ratio_to_card_listview=%.3f "
        "bridge_click_update_ms=%.3f card_listview_click_update_ms=%.3f "
        "window_click_update_ratio_to_card_listview=%.3f load_average=%.1f\n",
        ours.milliseconds(), peers.milliseconds(), ratio, oursUpdating.milliseconds(),
        peersUpdating.milliseconds(), updateRatio, load[0]);
    return 0;
}
