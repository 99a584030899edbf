// The headless controller on a library of 10,000 samples with their files: start-up (from the
// constructor until idle) and the worst main-thread stall of each library
// operation. A stall is the largest gap of a 1 ms heartbeat timer on the main loop from the call
// until the operation's outcome shows (status text, writes done); the synchronous part of the
// call is printed beside it. Start-up runs until idle, against Python reading the same two files
// as a process of its own; the main-thread work of the full mirror pass and the metadata save is
// printed beside the stalls. The JSON readers are compared on the same two files.

#include "Platform/Async/Background.h"
#include "Platform/Async/Scheduler.h"
#include "Platform/Async/Spawn.h"
#include "Platform/Core/AtomicFile.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "Tests/Support/TemporaryFolder.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "bench/Support/ControllerBenchSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>

namespace {

using vt::bench::Clock;
using vt::bench::msSince;
using vt::bench::NoBrowsers;

constexpr int librarySize = 10000;
constexpr int peaksPerSample = 128;

class FixedChooser final : public vt::FolderChooser {
public:
    QCoro::Task<std::optional<std::filesystem::path>> chooseFolder(vt::FolderChoice) override {
        std::optional<std::filesystem::path> chosen = answer;
        co_return chosen;
    }
    std::optional<std::filesystem::path> answer;
};

class FixedAlerts final : public vt::AlertPresenter {
public:
    QCoro::Task<int> present(vt::AlertRequest) override {
        int chosen = answer;
        co_return chosen;
    }
    int answer = 0; // "Copy Existing"
};

void writePlainFile(const std::filesystem::path& path, std::size_t size) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

// Audio work that costs nothing on the main thread: renders write a small file on a pool.
BridgeAudioServices cheapAudio() {
    BridgeAudioServices audio;
    audio.render = [](std::filesystem::path, std::filesystem::path output,
                      BridgeSampleEdit) -> QCoro::Task<void> {
        auto write = [output] { writePlainFile(output, 64 * 1024); };
        co_await vt::runInBackground(vt::userInitiatedPool(), std::move(write));
    };
    audio.detectChops = [](std::filesystem::path, double) -> QCoro::Task<std::vector<BridgeSampleChop>> {
        std::vector<BridgeSampleChop> chops;
        for (int i = 0; i < 8; ++i)
            chops.push_back({vt::Uuid::random(), i, i * 0.25, i * 0.25 + 0.25, 0.5});
        co_return chops;
    };
    audio.analyze = [](std::filesystem::path) -> QCoro::Task<BridgeSampleAnalysis> {
        BridgeSampleAnalysis analysis;
        analysis.bpm = 120;
        analysis.bpmConfidence = 0.9;
        co_return analysis;
    };
    return audio;
}

struct Bench {
    vt::test::TemporaryFolder folder;
    vt::Paths paths = vt::Paths::underRoot(folder.path());
    std::shared_ptr<FixedChooser> chooser = std::make_shared<FixedChooser>();
    std::shared_ptr<FixedAlerts> alerts = std::make_shared<FixedAlerts>();

    BridgeViewModel::Dependencies dependencies() {
        auto deps = vt::bench::quietDependencies(paths, std::make_shared<vt::VirtualScheduler>());
        deps.folderChooser = chooser;
        deps.alerts = alerts;
        deps.audio = cheapAudio();
        return deps;
    }

    std::filesystem::path root() const { return paths.music / "Vellumtide"; }

    // Every sample analysed, a quarter renamed, some edited, favourited or chopped; each with its file.
    void seed() {
        std::vector<SampleItem> library;
        BridgeMetadataMap overlay;
        BridgeSampleCache cache(paths, root());
        for (int i = 0; i < librarySize; ++i) {
            SampleItem sample;
            sample.id = vt::Uuid::random();
            sample.title = "Take " + std::to_string(i);
            sample.createdAt = vt::Date{1.7e9 + i};
            sample.fileName = "take-" + std::to_string(i) + ".m4a";
            sample.duration = 2.5 + (i % 7) * 0.37;
            sample.sampleRate = 48000;
            sample.channelCount = 1 + i % 2;
            sample.byteCount = 2048;
            for (int p = 0; p < peaksPerSample; ++p)
                sample.peaks.push_back(static_cast<float>((p * 37 + i) % 1000) / 1000.0f);
            library.push_back(sample);
            BridgeSampleMetadata& entry = overlay[sample.id];
            if (i % 4 == 0)
                entry.titleOverride = "Renamed " + std::to_string(i);
            if (i % 10 == 0)
                entry.favoriteOverride = true;
            if (i % 10 == 5) {
                entry.edit.startTime = 0.1;
                entry.edit.fadeOut = 0.2;
                entry.edit.normalize = true;
            }
            if (i % 20 == 3) {
                entry.chopSource = std::string(BridgeSampleMetadata::chopSourceBridge);
                for (int c = 0; c < 8; ++c)
                    entry.chops.push_back({vt::Uuid::random(), c, c * 0.25, c * 0.25 + 0.25, 0.4});
            }
            entry.analysis.bpm = 90 + i % 60;
            entry.analysis.bpmConfidence = 0.7;
            entry.analysis.rootNote = "C";
            entry.analysis.rootConfidence = 0.6;
            entry.analysis.musicalKey = "C major";
            entry.analysis.keyConfidence = 0.55;
            entry.analysis.analyzedAt = vt::Date{1.71e9 + i};
            entry.analysis.sourceFingerprint =
                BridgeViewModel::analysisFingerprint(sample, entry.edit.sanitized(sample.duration));
            writePlainFile(root() / "Samples" / sample.fileName, 2048);
            if (i % 10 == 5)
                writePlainFile(cache.editedSampleURL(sample), 4096);
            for (const auto& chop : entry.chops)
                writePlainFile(cache.chopSampleURL(sample, chop), 1024);
        }
        cache.saveManifest(library);
        cache.saveLocalMetadata(overlay);
    }
};

// The largest gap between ticks of a 1 ms timer on the main loop while an operation runs.
class Heartbeat {
public:
    Heartbeat() {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        worst = 0;
        clock.start();
        last = clock.nsecsElapsed();
        timer.start();
    }
    double stop() {
        tick();
        timer.stop();
        return worst;
    }

private:
    void tick() {
        qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, (now - last) / 1e6);
        last = now;
    }
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    double worst = 0;
};

struct Stall {
    double heartbeat = 0; // worst gap of the main loop, ms
    double call = 0;      // the synchronous part of the call, ms
    void take(const Stall& other) {
        heartbeat = std::max(heartbeat, other.heartbeat);
        call = std::max(call, other.call);
    }
};

// Runs the operation and turns the loop until done() holds and the library writes have ended.
Stall measure(BridgeViewModel& model, const std::function<void()>& operation,
              const std::function<bool()>& done) {
    Heartbeat heartbeat;
    vt::test::turnLoopUntil([&] { return probe(model).libraryWriter.isIdle(); }, std::chrono::seconds(60));
    heartbeat.start();
    Stall stall;
    auto t0 = Clock::now();
    operation();
    stall.call = msSince(t0);
    bool finished = vt::test::turnLoopUntil([&] { return done() && probe(model).libraryWriter.isIdle(); },
                                            std::chrono::seconds(120));
    stall.heartbeat = heartbeat.stop();
    if (!finished)
        std::printf("operation did not finish; status: %s\n", model.statusMessage().c_str());
    return stall;
}

template <typename T> void runToEnd(QCoro::Task<T> task, bool& finished) {
    vt::spawnStarted([](QCoro::Task<T> running, bool& flag) -> QCoro::Task<> {
        co_await running;
        flag = true;
    }(std::move(task), finished));
}

} // namespace

int main() {
    vt::test::testApplication();
    Bench bench;
    bench.seed();
    const auto otherFolder = bench.folder.path() / "Other Library";

    // Start-up until idle (display list built, mirror pass and saves done, no task waiting): the
    // best of five constructions, the first of which fills the mirror. The peer is Python reading
    // the same two files, a process of its own, in the same rounds.
    constexpr int rounds = 5;
    double startup = 1e9, peerStartup = 1e9;
    const QStringList pythonArguments = {
        "-c", "import json, sys\nfor name in sys.argv[1:]:\n    json.load(open(name))\n",
        QString::fromStdString((bench.root() / "library.json").string()),
        QString::fromStdString((bench.root() / "bridge-metadata.json").string())};
    for (int round = 0; round < rounds; ++round) {
        auto t0 = Clock::now();
        if (QProcess::execute("python3", pythonArguments) != 0)
            std::printf("python3 could not read the library files\n");
        peerStartup = std::min(peerStartup, msSince(t0));
        t0 = Clock::now();
        BridgeViewModel model(bench.dependencies());
        vt::test::turnLoopUntil(
            [&] {
                return vt::detail::pendingSpawns().load() == 0 && probe(model).libraryWriter.isIdle() &&
                       model.analyzingSampleIDs().empty();
            },
            std::chrono::seconds(120));
        startup = std::min(startup, msSince(t0));
        if (model.samples().size() != static_cast<std::size_t>(librarySize))
            std::printf("unexpected display list: %zu samples\n", model.samples().size());
    }

    // The two readers on the same files: parse and decode, best of five.
    const std::string manifestText = *vt::readWholeFile(bench.root() / "library.json");
    const std::string metadataText = *vt::readWholeFile(bench.root() / "bridge-metadata.json");
    double strictRead = 1e9, fastRead = 1e9;
    for (int round = 0; round < rounds; ++round) {
        auto t0 = Clock::now();
        auto strictSamples = SampleItem::listFromJson(vt::json::parse(manifestText), DateForm::iso8601);
        auto strictMetadata =
            BridgeSampleMetadata::fileFromJson(vt::json::parse(metadataText), DateForm::referenceSeconds);
        strictRead = std::min(strictRead, msSince(t0));
        t0 = Clock::now();
        auto fastSamples = SampleItem::listFromJsonText(manifestText, DateForm::iso8601);
        auto fastMetadata = BridgeSampleMetadata::fileFromJsonText(metadataText, DateForm::referenceSeconds);
        fastRead = std::min(fastRead, msSince(t0));
        if (fastSamples != strictSamples || fastMetadata != strictMetadata)
            std::printf("the readers disagree\n");
    }

    BridgeViewModel model(bench.dependencies());
    vt::test::turnLoopUntil([&] { return probe(model).libraryWriter.isIdle(); }, std::chrono::seconds(60));

    // What the operations did on the main thread before, measured on the same library.
    double peerMetadataSave = 1e9, peerMirror = 1e9;
    for (int round = 0; round < 3; ++round) {
        auto t0 = Clock::now();
        probe(model).cache->saveLocalMetadata(probe(model).sampleMetadata);
        peerMetadataSave = std::min(peerMetadataSave, msSince(t0));
        t0 = Clock::now();
        probe(model).cache->mirrorLibrary(probe(model).librarySamples, probe(model).sampleMetadata);
        peerMirror = std::min(peerMirror, msSince(t0));
    }

    // The main-thread pieces every operation still pays: the display list and the state snapshots.
    double displayList = 1e9, copyList = 1e9, copyMetadata = 1e9;
    for (int round = 0; round < rounds; ++round) {
        auto t0 = Clock::now();
        auto shown = model.displaySamples(probe(model).librarySamples);
        displayList = std::min(displayList, msSince(t0));
        t0 = Clock::now();
        auto list = probe(model).librarySamples;
        copyList = std::min(copyList, msSince(t0));
        t0 = Clock::now();
        auto overlay = probe(model).sampleMetadata;
        copyMetadata = std::min(copyMetadata, msSince(t0));
    }

    std::map<std::string, Stall> worst;
    for (int round = 0; round < rounds; ++round) {
        const std::string name = "Bench " + std::to_string(round);
        worst["rename"].take(measure(
            model, [&] { model.renameSample(model.samples()[round], name); },
            [&] { return model.statusMessage() == "Renamed " + name; }));

        worst["favorite"].take(measure(
            model, [&] { model.toggleFavorite(model.samples()[round + 10]); }, [] { return true; }));

        std::string title = model.samples()[round + 20].title;
        worst["delete"].take(measure(
            model, [&] { model.deleteSample(model.samples()[round + 20]); },
            [&] { return model.statusMessage() == "Deleted " + title; }));

        bool edited = false;
        BridgeSampleEdit edit;
        edit.startTime = 0.2 + round * 0.01;
        edit.fadeIn = 0.05;
        SampleItem editTarget = model.samples()[round + 30];
        worst["apply_edit"].take(measure(
            model, [&] { runToEnd(model.applyEdit(edit, editTarget), edited); }, [&] { return edited; }));

        bool chopped = false;
        SampleItem chopTarget = model.samples()[round + 40];
        worst["chop_save"].take(measure(
            model, [&] { runToEnd(model.autoChop(chopTarget, 0.5), chopped); }, [&] { return chopped; }));

        // The phone offers eight chops of a sample the desktop program has not chopped.
        std::vector<SampleItem> phone;
        for (const auto& sample : probe(model).librarySamples)
            if (!probe(model).sampleMetadata.count(sample.id) ||
                probe(model).sampleMetadata.at(sample.id).chops.empty()) {
                SampleItem offered = sample;
                offered.isChopEnabled = true;
                for (int c = 0; c < 8; ++c)
                    offered.chops.push_back({vt::Uuid::random(), c, c * 0.25, c * 0.25 + 0.25, 0.3});
                phone.push_back(offered);
                if (phone.size() > static_cast<std::size_t>(round))
                    break;
            }
        phone.erase(phone.begin(), phone.end() - 1);
        bool imported = false;
        worst["phone_chop_save"].take(measure(
            model, [&] { runToEnd(model.syncPhoneChops(phone), imported); }, [&] { return imported; }));
    }

    // Folder changes: into a new folder with the library copied, and back to the default.
    {
        bool changed = false;
        bench.chooser->answer = otherFolder;
        bench.alerts->answer = 0; // "Copy Existing"
        worst["folder_change"].take(measure(
            model, [&] { runToEnd(model.chooseSampleFolder(), changed); },
            [&] { return changed && model.statusMessage().starts_with("Sample folder changed"); }));
        changed = false;
        bench.alerts->answer = 1; // "Use Empty"
        worst["folder_change"].take(measure(
            model, [&] { runToEnd(model.resetSampleFolderToDefault(), changed); },
            [&] { return changed && model.statusMessage().starts_with("Sample folder changed"); }));
    }

    std::printf("controller start-up until idle, %d samples: %.1f ms (python3 json.load of both files, same "
                "run: %.1f ms; ratio %.2f)\n",
                librarySize, startup, peerStartup, startup / peerStartup);
    std::printf("reading library.json (%.1f MB) and bridge-metadata.json (%.1f MB): fast reader %.1f ms, "
                "nlohmann %.1f ms, speed %.2fx\n",
                manifestText.size() / 1e6, metadataText.size() / 1e6, fastRead, strictRead,
                strictRead / fastRead);
    std::printf("main-thread work before, same run: metadata save %.1f ms, mirror pass %.1f ms\n",
                peerMetadataSave, peerMirror);
    std::printf("main-thread pieces now: display list %.1f ms, list copy %.1f ms, metadata copy %.1f ms\n",
                displayList, copyList, copyMetadata);
    std::printf("worst main-thread stall per operation (heartbeat gap / synchronous part of the call; goal < "
                "50 ms):\n");
    for (const auto& [name, stall] : worst)
        std::printf("  %-16s %7.1f ms / %7.1f ms\n", name.c_str(), stall.heartbeat, stall.call);

    std::printf("BENCH stall_ms_max_rename=%.1f stall_ms_max_delete=%.1f stall_ms_max_favorite=%.1f "
                "stall_ms_max_apply_edit=%.1f stall_ms_max_chop_save=%.1f stall_ms_max_phone_chop_save=%.1f "
                "stall_ms_max_folder_change=%.1f startup_ms_10k=%.1f startup_idle_ratio_to_python_10k=%.2f "
                "json_load_speed_vs_nlohmann=%.2f\n",
                worst["rename"].heartbeat, worst["delete"].heartbeat, worst["favorite"].heartbeat,
                worst["apply_edit"].heartbeat, worst["chop_save"].heartbeat,
                worst["phone_chop_save"].heartbeat, worst["folder_change"].heartbeat, startup,
                startup / peerStartup, strictRead / fastRead);
    return 0;
}
