#include "Tests/VellumtideAU/Window/WindowTestSupport.h"

#include "Tests/VellumtideAU/Engine/WavFixtures.h"

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

} // namespace vt::test
