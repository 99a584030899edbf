#pragma once
// Fakes and fixtures for the plug-in window tests: a recording launcher and URL opener, the fake
// preview players, a refresh timer fired by hand, and services built on a
// temporary home with a library folder the tests write.

#include "Platform/Audio/Player/AudioPlayer.h"
#include "Platform/Desktop/DesktopServices.h"
#include "Tests/Support/Audio/FakeAudioPlayer.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginLibrary.h"
#include "VellumtideAU/Window/VellumtideWindowServices.h"

#include <QUrl>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vt::test {

class FakeLauncher final : public vt::ProcessLauncher {
public:
    struct Launch {
        std::filesystem::path program;
        std::vector<std::string> arguments;
    };
    bool startDetached(const std::filesystem::path& program,
                       const std::vector<std::string>& arguments) override {
        launches.push_back({program, arguments});
        return succeeds;
    }
    std::vector<Launch> launches;
    bool succeeds = true;
};

class FakeUrlOpener final : public vt::UrlOpener {
public:
    bool openUrl(const QUrl& url) override {
        urls.push_back(url);
        return true;
    }
    bool revealFolder(const std::filesystem::path&) override { return false; }
    std::vector<QUrl> urls;
};

// The window's preview players: the tests' fake player on the fixture's virtual clock.
class FakePlayerFactory final : public VellumtidePreviewPlayerFactory {
public:
    explicit FakePlayerFactory(std::shared_ptr<vt::Scheduler> scheduler) : sound(std::move(scheduler)) {}
    std::unique_ptr<vt::AudioPlayer> open(const std::filesystem::path& file, double rate) override {
        return sound.open(file, rate);
    }
    // The most recently opened player's playback.
    const FakePlayback& last() const { return sound.last(); }
    FakeAudioPlayerFactory sound;
};

class ManualRefreshTimer final : public RefreshTimer {
public:
    void start(std::chrono::milliseconds, std::function<void()> onTick) override {
        tick = std::move(onTick);
        active = true;
    }
    void stop() override { active = false; }
    bool isActive() const override { return active; }
    std::function<void()> tick;
    bool active = false;
};

// Services over fakes and a temporary home "ann" whose library folder is Music/Vellumtide.
struct WindowFixture {
    WindowFixture();

    TemporaryFolder temp;
    std::filesystem::path home = temp / "homes" / "ann";
    std::filesystem::path libraryFolder = home / "Music" / "Vellumtide";
    std::filesystem::path bundle = temp / "prefix" / "lib" / "lv2" / "vellumtide.lv2";
    std::filesystem::path bridgeExecutable = temp / "prefix" / "bin" / "vellumtide-bridge";
    double now = 1'700'000'000;
    VellumtideProcessState process;
    std::shared_ptr<vt::MemorySettingsStore> settings = std::make_shared<vt::MemorySettingsStore>();
    std::shared_ptr<vt::VirtualScheduler> scheduler = std::make_shared<vt::VirtualScheduler>();
    std::shared_ptr<FakeLauncher> launcher = std::make_shared<FakeLauncher>();
    std::shared_ptr<FakeUrlOpener> urlOpener = std::make_shared<FakeUrlOpener>();
    std::shared_ptr<FakePlayerFactory> players = std::make_shared<FakePlayerFactory>(scheduler);
    VellumtideWindowServices services;

    // A float WAV of a decaying tone (0.1 s at 44.1 kHz) at the path.
    static void writeSound(const std::filesystem::path& path);
    // Writes "library.json" and, when given, "bridge-metadata.json".
    void writeLibrary(const nlohmann::json& manifest, const nlohmann::json& metadata = nullptr) const;
    // A library of count samples in file order, titled "Sample 1"... with audio files of a few
    // bytes; every tenth sample has three chops with their files. Returns the samples' ids.
    std::vector<std::string> writeLargeLibrary(std::size_t count) const;
    // The path of a sample's raw file or a chop's rendered file in the library folder.
    std::filesystem::path samplePath(const std::string& fileName) const {
        return libraryFolder / "Samples" / fileName;
    }
    std::filesystem::path chopPath(const std::string& sampleID, const std::string& chopID) const {
        return libraryFolder / "Chops" / (sampleID + "-chop-" + chopID + ".wav");
    }
};

// Runs the event loop until what the library's background read found is published.
void waitForLibrary(const VellumtidePluginLibrary& library);

// An overview of a struck sound: a fast rise, then a decay with some ripple.
std::vector<float> decayingPeaks(std::size_t count);
// One "library.json" element of ten seconds at 44.1 kHz.
nlohmann::json manifestSample(const std::string& id, const std::string& title, const std::string& fileName,
                              const std::string& createdAt, std::vector<float> peaks = decayingPeaks(120));
nlohmann::json chopJson(const std::string& id, int index, double start, double end);
// The overrides of an edited, analysed sample (120 BPM, C minor) with two chops of 1–2.5 s and
// 2.5–4 s.
nlohmann::json editedAnalysedOverrides(bool isFavorite, const std::string& chopOneID,
                                       const std::string& chopTwoID);

} // namespace vt::test
