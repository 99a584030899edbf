#include "Tests/VellumtideAU/Window/WindowTestSupport.h"

#include "Tests/Support/Patience.h"
#include "Tests/VellumtideAU/Engine/WavFixtures.h"

#include <QCoreApplication>
#include <chrono>
#include <cmath>

namespace vt::test {

WindowFixture::WindowFixture() {
    services.settings = settings;
    services.scheduler = scheduler;
    services.secondsSince1970 = [this] { return now; };
    services.launcher = launcher;
    services.urlOpener = urlOpener;
    services.players = players;
    services.libraryEnvironment.homesFolder = temp / "homes";
    services.libraryEnvironment.home = home;
    services.libraryEnvironment.accountHome = home;
    services.libraryEnvironment.musicFolder = home / "Music";
    services.makeRefreshTimer = [] { return std::make_unique<ManualRefreshTimer>(); };
    services.bundlePath = bundle;
    services.pathVariable = (temp / "empty-path").string();
    services.processState = &process;
    std::filesystem::create_directories(bundle);
    writeFile(bridgeExecutable, "#!/bin/sh\n");
    std::filesystem::permissions(bridgeExecutable, std::filesystem::perms::owner_all);
}

void WindowFixture::writeSound(const std::filesystem::path& path) {
    std::vector<float> tone(4410);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * std::exp(-float(i) / 900.0f) * std::sin(float(i) * 0.06f);
    std::filesystem::create_directories(path.parent_path());
    writeFloatWav(path, 44100, {tone, tone});
}

void WindowFixture::writeLibrary(const nlohmann::json& manifest, const nlohmann::json& metadata) const {
    writeFile(libraryFolder / "library.json", manifest.dump(2));
    std::filesystem::remove(libraryFolder / "bridge-metadata.json");
    if (!metadata.is_null())
        writeFile(libraryFolder / "bridge-metadata.json", metadata.dump(2));
}

namespace {

std::string numberedID(std::size_t group, std::size_t number) {
    char text[64];
    std::snprintf(text, sizeof text, "%08zX-0000-4000-8000-%012zX", group, number);
    return text;
}

} // namespace

std::vector<std::string> WindowFixture::writeLargeLibrary(std::size_t count) const {
    std::vector<std::string> ids;
    auto manifest = nlohmann::json::array();
    auto metadata = nlohmann::json::object();
    const auto peaks = decayingPeaks(120);
    // One playable sound, linked under every name: the fake player decodes what it opens. A file
    // takes only so many links, so a large library links a few copies.
    std::filesystem::path sound;
    std::size_t links = 0;
    const auto linkSound = [&](const std::filesystem::path& path) {
        if (links++ % 30'000 == 0) {
            sound = libraryFolder / ("sound-" + std::to_string(links / 30'000) + ".wav");
            writeSound(sound);
        }
        std::filesystem::create_directories(path.parent_path());
        std::filesystem::remove(path);
        std::filesystem::create_hard_link(sound, path);
    };
    for (std::size_t index = 0; index < count; ++index) {
        const std::string id = numberedID(1, index);
        const std::string fileName = "sample-" + std::to_string(index) + ".wav";
        // One date for all: the list keeps the file's order.
        auto record = manifestSample(id, "Sample " + std::to_string(index + 1), fileName,
                                     "2024-01-01T00:00:00Z", peaks);
        manifest.push_back(std::move(record));
        linkSound(samplePath(fileName));
        if (index % 10 == 0) {
            auto chops = nlohmann::json::array();
            for (int chop = 0; chop < 3; ++chop) {
                const std::string chopID = numberedID(2 + std::size_t(chop), index);
                chops.push_back(chopJson(chopID, chop, chop * 2.0, chop * 2.0 + 2));
                linkSound(chopPath(id, chopID));
            }
            metadata[id] = {{"chops", chops}};
        }
        ids.push_back(id);
    }
    writeLibrary(manifest, metadata);
    return ids;
}

void waitForLibrary(const VellumtidePluginLibrary& library) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (library.isReading() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

std::vector<float> decayingPeaks(std::size_t count) {
    std::vector<float> peaks(count);
    for (std::size_t i = 0; i < count; ++i) {
        double t = double(i) / double(count);
        peaks[i] =
            float(std::min(1.0, t * 30) * std::exp(-t * 3.5) * (0.8 + 0.2 * std::sin(double(i) * 0.9)));
    }
    return peaks;
}

nlohmann::json manifestSample(const std::string& id, const std::string& title, const std::string& fileName,
                              const std::string& createdAt, std::vector<float> peaks) {
    return nlohmann::json{
        {"id", id},       {"title", title},      {"createdAt", createdAt}, {"fileName", fileName},
        {"duration", 10}, {"sampleRate", 44100}, {"channelCount", 2},      {"byteCount", 529200},
        {"peaks", peaks}};
}

nlohmann::json chopJson(const std::string& id, int index, double start, double end) {
    return nlohmann::json{
        {"id", id}, {"index", index}, {"startTime", start}, {"endTime", end}, {"strength", 0.8}};
}

nlohmann::json editedAnalysedOverrides(bool isFavorite, const std::string& chopOneID,
                                       const std::string& chopTwoID) {
    return {
        {"favoriteOverride", isFavorite},
        {"edit", {{"startTime", 1}, {"fadeIn", 0.25}, {"normalize", true}}},
        {"analysis",
         {{"bpm", 120},
          {"bpmConfidence", 0.9},
          {"rootNote", "C"},
          {"rootConfidence", 0.9},
          {"musicalKey", "C minor"},
          {"keyConfidence", 0.9}}},
        {"chops", nlohmann::json::array({chopJson(chopOneID, 0, 1, 2.5), chopJson(chopTwoID, 1, 2.5, 4)})}};
}

} // namespace vt::test
