// Start-up of the headless controller on a library of 10,000 samples with their files
// (construct, display list, mirror) and one rename on it (metadata save into the library and its
// mirror, display list rebuild), each against the bare library-folder work it is built on (the
// peer), measured in the same run. The best of five rounds counts.

#include "Platform/Async/Scheduler.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class NoBrowsers final : public vt::net::DnsSdBrowserFactory {
public:
    std::unique_ptr<vt::net::DnsSdBrowser> makeBrowser(const std::string&) override { return nullptr; }
};

BridgeViewModel::Dependencies dependencies(const vt::Paths& paths) {
    BridgeViewModel::Dependencies deps;
    deps.paths = paths;
    deps.settings = std::make_shared<vt::MemorySettingsStore>();
    deps.scheduler = std::make_shared<vt::VirtualScheduler>();
    deps.wallClock = std::make_shared<vt::SystemWallClock>();
    deps.browserFactory = std::make_shared<NoBrowsers>();
    deps.addressBook = std::make_shared<vt::net::ServiceAddressBook>();
    deps.interfaces =
        std::make_shared<vt::net::FixedInterfaceSource>(std::vector<vt::net::InterfaceAddress>{});
    deps.audio = BridgeAudioServices::standard();
    return deps;
}

} // namespace

int main() {
    vt::test::testApplication();
    vt::test::TemporaryFolder folder;
    vt::Paths paths = vt::Paths::underRoot(folder.path());
    std::vector<SampleItem> library;
    BridgeMetadataMap overlay;
    for (int i = 0; i < 10000; ++i) {
        SampleItem sample;
        sample.id = vt::Uuid::random();
        sample.title = "Take " + std::to_string(i);
        sample.createdAt = vt::Date{1.7e9 + i};
        sample.fileName = "take-" + std::to_string(i) + ".m4a";
        sample.duration = 2.5;
        sample.sampleRate = 48000;
        sample.channelCount = 1;
        sample.byteCount = 2048;
        sample.peaks.assign(64, 0.25f);
        library.push_back(sample);
        if (i % 4 == 0)
            overlay[sample.id].titleOverride = "Renamed " + std::to_string(i);
    }
    BridgeSampleCache seed(paths, paths.music / "Vellumtide");
    seed.saveManifest(library);
    seed.saveLocalMetadata(overlay);
    // Every sample has its file, so mirroring compares 10,000 real files.
    const std::string audio(2048, '\0');
    for (const auto& sample : library)
        seed.saveSampleData(audio, sample);

    constexpr int rounds = 5;
    double peerStart = 1e9, modelStart = 1e9, peerRename = 1e9, modelRename = 1e9;
    for (int round = 0; round < rounds; ++round) {
        auto t0 = Clock::now();
        {
            BridgeSampleCache cache(paths, paths.music / "Vellumtide");
            auto samples = cache.loadManifest();
            auto metadata = cache.loadLocalMetadata();
            cache.mirrorLibrary(samples, metadata);
        }
        peerStart = std::min(peerStart, msSince(t0));

        t0 = Clock::now();
        BridgeViewModel model(dependencies(paths));
        modelStart = std::min(modelStart, msSince(t0));

        BridgeSampleCache peer(paths, model.cacheURL());
        const auto metadata = peer.loadLocalMetadata();
        t0 = Clock::now();
        peer.saveLocalMetadata(metadata);
        peerRename = std::min(peerRename, msSince(t0));

        SampleItem target = model.samples()[round];
        t0 = Clock::now();
        model.renameSample(target, "Bench " + std::to_string(round));
        modelRename = std::min(modelRename, msSince(t0));
        if (model.statusMessage() != "Renamed Bench " + std::to_string(round))
            std::printf("unexpected status: %s\n", model.statusMessage().c_str());
    }
    std::printf(
        "controller start-up, 10000 samples: %.1f ms (peer: library load + mirror %.1f ms, ratio %.2f)\n",
        modelStart, peerStart, modelStart / peerStart);
    std::printf(
        "rename on 10000 samples: %.1f ms (peer: metadata save alone %.1f ms, ratio %.2f; goal < 100 ms)\n",
        modelRename, peerRename, modelRename / peerRename);
    return 0;
}
