#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"

#include "Platform/Async/Background.h"
#include "Platform/Core/AtomicFile.h"
#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"

#include <QElapsedTimer>

namespace vt::test {

SampleItem makeSample(const std::string& title, double createdAt, const std::string& fileName) {
    SampleItem sample;
    sample.id = Uuid::random();
    sample.title = title;
    sample.createdAt = Date{createdAt};
    sample.fileName = fileName.empty() ? title + ".wav" : fileName;
    sample.duration = 2.0;
    sample.sampleRate = 48000;
    sample.channelCount = 1;
    sample.byteCount = 4;
    return sample;
}

void writeSound(const std::filesystem::path& path, double seconds) {
    writeWav(path, 8000, {std::vector<float>(framesFor(seconds, 8000), 0.0f)});
}

BridgeSampleChop makeChop(std::int64_t index, double start, double end) {
    BridgeSampleChop chop;
    chop.id = Uuid::random();
    chop.index = index;
    chop.startTime = start;
    chop.endTime = end;
    chop.strength = 0.5;
    return chop;
}

ControllerTest::ControllerTest() : paths(Paths::underRoot(folder.path())) {
    testApplication();
}

ControllerTest::~ControllerTest() {
    model.reset();
    // The controller's loops, debounces and requests end here rather than stay suspended.
    scheduler->shutDown();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::filesystem::path ControllerTest::libraryRoot() const {
    return paths.music / "Vellumtide";
}

void ControllerTest::seedLibrary(const std::vector<SampleItem>& samples, bool withFiles) {
    BridgeSampleCache cache(paths, libraryRoot());
    cache.saveManifest(samples);
    // A library the program has used always has both files.
    cache.saveLocalMetadata({});
    if (withFiles)
        for (const auto& sample : samples)
            writeFile(libraryRoot() / "Samples" / sample.fileName, "RIFF");
}

void ControllerTest::makePlayable(const SampleItem& sample, double seconds) {
    writeSound(libraryRoot() / "Samples" / sample.fileName, seconds);
}

BridgeViewModel& ControllerTest::start() {
    BridgeViewModel::Dependencies deps;
    deps.paths = paths;
    deps.settings = settings;
    deps.scheduler = scheduler;
    deps.wallClock = std::make_shared<FixedWallClock>();
    deps.browserFactory = browsers;
    deps.addressBook = addressBook;
    deps.interfaces = interfaces;
    deps.audioPlayers = realPlayers ? realPlayers : players;
    deps.folderChooser = chooser;
    deps.alerts = alerts;
    deps.urlOpener = desktop;
    deps.clipboard = desktop;
    deps.windowActivator = desktop;
    deps.freeSpace = freeSpace;
    deps.audio = realAudio ? *realAudio : audio.services();
    model = std::make_unique<BridgeViewModel>(std::move(deps));
    return *model;
}

bool ControllerTest::playInStep(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer watch;
    watch.start();
    while (!done() && watch.elapsed() < limit.count()) {
        turnLoopUntil([] { return false; }, std::chrono::milliseconds(40));
        scheduler->advanceBy(std::chrono::milliseconds(40));
        settle();
    }
    return done();
}

void ControllerTest::settle() {
    for (int i = 0; i < 5; ++i)
        scheduler->runReady();
    if (model)
        settleWrites();
}

void ControllerTest::settleWrites() {
    // Quiet means: no library pass queued or running and no file work left on the pool, a few
    // rounds in a row (a finished step may start the next one).
    for (int round = 0, quiet = 0; round < 200 && quiet < 3; ++round) {
        userInitiatedPool().waitForDone(5000);
        turnUntil([&] { return probe(*model).libraryWriter.isIdle(); });
        drainPostedEvents();
        const bool idle =
            probe(*model).libraryWriter.isIdle() && userInitiatedPool().activeThreadCount() == 0;
        quiet = idle ? quiet + 1 : 0;
    }
}

bool ControllerTest::turnUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    return turnLoopUntil(
        [&] {
            scheduler->runReady();
            return done();
        },
        limit);
}

void ControllerTest::awaitVoid(QCoro::Task<> task) {
    auto outcome = runTask<bool>([&]() -> QCoro::Task<bool> {
        co_await std::move(task);
        co_return true;
    });
    EXPECT_TRUE(outcome.finished);
}

void ControllerTest::record() {
    changes.clear();
    QObject::connect(model.get(), &BridgeViewModel::changed, model.get(),
                     [this](BridgeViewModel::Field field) { changes.push_back(field); });
}

} // namespace vt::test
