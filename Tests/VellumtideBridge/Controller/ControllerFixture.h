#pragma once
// A controller on a temporary home with every outside service faked: in-memory settings, a
// virtual clock, no network, scripted audio work, the fake player on the virtual clock, a scripted
// chooser and alert.

#include "Platform/Async/Completion.h"
#include "Platform/Async/Scheduler.h"
#include "Tests/Support/Audio/FakeAudioPlayer.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>

namespace vt::test {

class FakeBrowser final : public net::DnsSdBrowser {
public:
    void setStateHandler(StateHandler handler) override { state = std::move(handler); }
    void setResultsHandler(ResultsHandler handler) override { results = std::move(handler); }
    void start() override { started = true; }
    void cancel() override {
        cancelled = true;
        ++*cancels;
    }
    StateHandler state;
    ResultsHandler results;
    bool started = false;
    bool cancelled = false;
    std::shared_ptr<int> cancels = std::make_shared<int>(0); // shared with the factory
};

class FakeBrowserFactory final : public net::DnsSdBrowserFactory {
public:
    std::unique_ptr<net::DnsSdBrowser> makeBrowser(const std::string&) override {
        auto browser = std::make_unique<FakeBrowser>();
        browser->cancels = cancels;
        last = browser.get();
        ++made;
        return browser;
    }
    FakeBrowser* last = nullptr; // owned by the controller: gone once it drops the browser
    int made = 0;
    std::shared_ptr<int> cancels = std::make_shared<int>(0); // browsers cancelled so far
};

class ScriptedChooser final : public FolderChooser {
public:
    QCoro::Task<std::optional<std::filesystem::path>> chooseFolder(FolderChoice choice) override {
        lastChoice = choice;
        std::optional<std::filesystem::path> chosen = answer; // (a member would be moved from)
        co_return chosen;
    }
    std::optional<std::filesystem::path> answer;
    FolderChoice lastChoice;
};

// Holds each alert open until the test answers it.
class ScriptedAlerts final : public AlertPresenter {
public:
    QCoro::Task<int> present(AlertRequest request) override {
        requests.push_back(request);
        Completion<int> answer;
        pending.push_back(answer);
        co_return co_await answer;
    }
    void answer(int button) {
        auto next = pending.front();
        pending.pop_front();
        next.resolve(button);
    }
    std::vector<AlertRequest> requests;
    std::deque<Completion<int>> pending;
};

class RecordingDesktop final : public UrlOpener, public WindowActivator, public Clipboard {
public:
    bool openUrl(const QUrl& url) override {
        opened.push_back(url);
        return true;
    }
    bool revealFolder(const std::filesystem::path& folder) override {
        revealed.push_back(folder);
        return true;
    }
    void activate() override { ++activations; }
    void setText(const QString& text) override { clipboard = text; }
    std::optional<QString> text() const override { return pasteboardText; }
    std::optional<QString> pasteboardText; // what text() offers
    std::vector<QUrl> opened;
    std::vector<std::filesystem::path> revealed;
    int activations = 0;
    QString clipboard;
};

class FixedWallClock final : public WallClock {
public:
    Date now() const override { return Date{1'700'000'000}; }
};

// A silent mono float WAV of the given length that the players can open.
void writeSound(const std::filesystem::path& path, double seconds);

// Audio work that writes small files and can be held at a gate or made to fail.
struct ScriptedAudio {
    int renders = 0;
    int detections = 0;
    int analyses = 0;
    std::optional<int> failRenderAt; // the n-th render (1-based) throws
    bool failDetection = false;
    bool failAnalysis = false;
    std::vector<BridgeSampleChop> chopsToFind;
    std::optional<Completion<bool>> renderGate;
    std::optional<Completion<bool>> analysisGate;
    BridgeSampleAnalysis result;
    double renderedSeconds = 1.0; // the length of every rendered file

    BridgeAudioServices services() {
        BridgeAudioServices audio;
        audio.render = [this](std::filesystem::path, std::filesystem::path output,
                              BridgeSampleEdit) -> QCoro::Task<void> {
            int n = ++renders;
            if (renderGate) {
                auto gate = *renderGate;
                co_await gate;
            }
            if (failRenderAt && n == *failRenderAt)
                throw std::runtime_error("The sample audio could not be read.");
            writeSound(output, renderedSeconds);
        };
        audio.detectChops = [this](std::filesystem::path,
                                   double) -> QCoro::Task<std::vector<BridgeSampleChop>> {
            ++detections;
            if (failDetection)
                throw std::runtime_error("The sample audio could not be read.");
            // A copy: g++ 12 moves from a member named in co_return, which would empty it.
            std::vector<BridgeSampleChop> found = chopsToFind;
            co_return found;
        };
        audio.analyze = [this](std::filesystem::path) -> QCoro::Task<BridgeSampleAnalysis> {
            // Kept in the frame: the controller that holds this closure may be gone on resuming.
            ScriptedAudio* self = this;
            ++self->analyses;
            if (self->analysisGate) {
                auto gate = *self->analysisGate;
                co_await gate;
            }
            if (self->failAnalysis)
                throw std::runtime_error("The sample audio could not be read.");
            BridgeSampleAnalysis analysis = self->result; // a copy, as above
            co_return analysis;
        };
        return audio;
    }
};

SampleItem makeSample(const std::string& title, double createdAt, const std::string& fileName = {});
BridgeSampleChop makeChop(std::int64_t index, double start, double end);

class ControllerTest : public ::testing::Test {
protected:
    ControllerTest();
    ~ControllerTest() override;

    // Writes "library.json", an empty "bridge-metadata.json" (and the raw files) into the default
    // library folder.
    void seedLibrary(const std::vector<SampleItem>& samples, bool withFiles = true);
    // Replaces a seeded sample's raw file by a sound the players can open.
    void makePlayable(const SampleItem& sample, double seconds = 1.0);
    BridgeViewModel& start();
    void settle(); // runs posted work, timers due now and the library writes under way
    // Turns the loop until the library writes the operations queued have ended and their
    // follow-ups (status texts, display list) have run.
    void settleWrites();
    // Turns the real loop (sockets) and the virtual timers due now until done() holds.
    bool turnUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = patience);
    // Lets real time pass (the sound server's) with the virtual clock in step, 40 ms at a time.
    bool playInStep(const std::function<bool()>& done, std::chrono::milliseconds limit);
    template <typename T> T await(QCoro::Task<T> task) {
        auto outcome = runTask<T>([&]() -> QCoro::Task<T> { co_return co_await std::move(task); });
        EXPECT_TRUE(outcome.finished);
        return std::move(*outcome.value);
    }
    void awaitVoid(QCoro::Task<> task);
    // Records every change notification from now on.
    void record();
    std::filesystem::path libraryRoot() const;

    TemporaryFolder folder;
    Paths paths;
    std::shared_ptr<MemorySettingsStore> settings = std::make_shared<MemorySettingsStore>();
    std::shared_ptr<VirtualScheduler> scheduler = std::make_shared<VirtualScheduler>();
    std::shared_ptr<FakeBrowserFactory> browsers = std::make_shared<FakeBrowserFactory>();
    std::shared_ptr<FakeAudioPlayerFactory> players = std::make_shared<FakeAudioPlayerFactory>(scheduler);
    std::shared_ptr<AudioPlayerFactory> realPlayers; // when set, start() plays through it instead
    // When set, the free space start() reports to the controller.
    std::function<std::optional<std::uint64_t>(const std::filesystem::path&)> freeSpace;
    std::shared_ptr<ScriptedChooser> chooser = std::make_shared<ScriptedChooser>();
    std::shared_ptr<ScriptedAlerts> alerts = std::make_shared<ScriptedAlerts>();
    std::shared_ptr<RecordingDesktop> desktop = std::make_shared<RecordingDesktop>();
    std::shared_ptr<net::ServiceAddressBook> addressBook = std::make_shared<net::ServiceAddressBook>();
    // No interface at all unless a test hands in made-up ones (never the machine's own).
    std::shared_ptr<const net::InterfaceSource> interfaces =
        std::make_shared<net::FixedInterfaceSource>(std::vector<net::InterfaceAddress>{});
    std::optional<BridgeAudioServices> realAudio; // used instead of the scripted audio when set
    ScriptedAudio audio;
    std::unique_ptr<BridgeViewModel> model;
    std::vector<BridgeViewModel::Field> changes;
};

} // namespace vt::test
