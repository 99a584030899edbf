// The pad instrument through a real LV2 host (lilv):
// - render cost: 256-frame blocks with 40 voices sounding, in nanoseconds per output frame, against
//   drumkv1 with 16 loaded pads playing the same MIDI in the same run (the instrument a user would
//   pick instead; it runs envelopes and a filter on every voice, where ours plays each pad at one
//   gain, so the work differs and the output says so);
// - saving while playing: the worst run() of 128-frame blocks at 48 kHz, paced like a host, while
//   another thread saves the state of a 12.8 MB kit over and over, against the same instance's
//   worst run() with no save running and against the block's deadline.

#include "Tests/Support/TemporaryFolder.h"
#include "Tests/VellumtideAU/Engine/WavFixtures.h"
#include "Tests/VellumtideAU/LV2/LilvHost.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"
#include "VellumtideAU/LV2/VellumtideLV2.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double sampleRate = 44100;
constexpr std::uint32_t blockFrames = 256;
constexpr int voiceCount = 40;
constexpr int blocksPerRound = 160; // about 0.93 s, shorter than the pads
constexpr int rounds = 7;
const char* drumkv1URI = "http://drumkv1.sourceforge.net/lv2";
const char* drumkv1SampleFile = "http://drumkv1.sourceforge.net/lv2#P101_SAMPLE_FILE";

std::vector<std::string> writePads(const vt::test::TemporaryFolder& folder) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.2f, 0.2f);
    std::vector<std::string> paths;
    for (int slot = 0; slot < 16; ++slot) {
        std::size_t frames = static_cast<std::size_t>(sampleRate * 2);
        std::vector<std::vector<float>> channels(2, std::vector<float>(frames));
        for (std::size_t frame = 0; frame < frames; ++frame) {
            float tone = 0.3f * static_cast<float>(std::sin(frame * 0.01 * (slot + 1)));
            channels[0][frame] = tone + noise(random);
            channels[1][frame] = tone - noise(random);
        }
        auto path = folder / ("pad" + std::to_string(slot) + ".wav");
        vt::test::writeFloatWav(path, sampleRate, channels);
        paths.push_back(path.string());
    }
    return paths;
}

// Median over rounds of the time per output frame; each round starts 40 voices in its first block.
double measure(vt::test::HostedPlugin& plugin) {
    std::vector<double> perFrame;
    for (int round = 0; round < rounds; ++round) {
        for (int voice = 0; voice < voiceCount; ++voice)
            plugin.noteOn(static_cast<std::uint32_t>(voice * 6), 36 + voice % 16, 100);
        auto start = std::chrono::steady_clock::now();
        for (int block = 0; block < blocksPerRound; ++block)
            plugin.run(blockFrames);
        std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
        perFrame.push_back(elapsed.count() / (double(blocksPerRound) * blockFrames));
        // Silence between rounds so every round starts from the same state.
        for (int block = 0; block < 400; ++block)
            plugin.run(blockFrames);
    }
    std::sort(perFrame.begin(), perFrame.end());
    return perFrame[perFrame.size() / 2];
}

// The kit's pads with enough waveform peaks that the saved kit is about 12.8 MB of text.
VellumtidePadKitState largeKit(const std::vector<std::string>& paths) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> level(0.0f, 1.0f);
    VellumtidePadKitState kit;
    for (int slot = 0; slot < 16; ++slot) {
        std::vector<float> peaks(75'500);
        for (float& value : peaks)
            value = level(random);
        kit.assignments.emplace_back(vt::Uuid::random(), slot, "Pad",
                                     VellumtidePadAssignment::SourceKind::file, std::nullopt, std::nullopt,
                                     paths[slot], 2.0, std::move(peaks), 0.86f, 0.0);
    }
    return kit;
}

struct RunTimes {
    double worstMs = 0;
    double p999Ms = 0;
    double meanMs = 0;
};

// Runs blocks at the pace of their deadline, retriggering 40 voices now and then, and times each
// run() call.
RunTimes pacedRuns(vt::test::HostedPlugin& plugin, int blocks, std::uint32_t frames, double rate) {
    using clock = std::chrono::steady_clock;
    auto period = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(frames / rate));
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(blocks));
    auto next = clock::now();
    for (int block = 0; block < blocks; ++block) {
        if (block % 200 == 0)
            for (int voice = 0; voice < voiceCount; ++voice)
                plugin.noteOn(static_cast<std::uint32_t>(voice * 3) % frames, 36 + voice % 16, 100);
        auto start = clock::now();
        plugin.run(frames);
        times.push_back(std::chrono::duration<double, std::milli>(clock::now() - start).count());
        next += period;
        std::this_thread::sleep_until(next);
    }
    RunTimes result;
    for (double time : times)
        result.meanMs += time / static_cast<double>(times.size());
    std::sort(times.begin(), times.end());
    result.worstMs = times.back();
    result.p999Ms = times[times.size() * 999 / 1000];
    return result;
}

struct SaveStall {
    RunTimes quiet;
    RunTimes saving;
    int saves = 0;
    double deadlineMs = 0;
    double kitMegabytes = 0;
};

SaveStall measureSaveStall(vt::test::LilvHost& host, const std::vector<std::string>& paths) {
    constexpr double rate = 48000;
    constexpr std::uint32_t frames = 128;
    constexpr int blocks = 3000; // 8 s of audio each way
    SaveStall result;
    result.deadlineMs = 1000.0 * frames / rate;
    vt::test::HostedPlugin plugin(host, vt::lv2::pluginURI, rate, frames);
    auto* access =
        static_cast<const vt::lv2::UnitAccessInterface*>(plugin.extensionData(vt::lv2::unitAccessURI));
    auto kit = largeKit(paths);
    result.kitMegabytes = static_cast<double>(kit.toJsonText().size()) / 1e6;
    access->unitReference(plugin.handle())->apply(kit);

    result.quiet = pacedRuns(plugin, blocks, frames, rate);
    std::atomic<bool> stop{false};
    std::atomic<int> saves{0};
    std::thread saver([&] {
        while (!stop) {
            plugin.captureState();
            ++saves;
        }
    });
    result.saving = pacedRuns(plugin, blocks, frames, rate);
    stop = true;
    saver.join();
    result.saves = saves.load();
    return result;
}

void printSaveStall(const SaveStall& stall) {
    std::printf(
        "saving a %.1f MB kit %d times while playing (128-frame blocks at 48 kHz, deadline %.3f ms):\n",
        stall.kitMegabytes, stall.saves, stall.deadlineMs);
    std::printf("  run() while saving: worst %.3f ms, 99.9%% %.3f ms, mean %.4f ms\n", stall.saving.worstMs,
                stall.saving.p999Ms, stall.saving.meanMs);
    std::printf("  run() with no save: worst %.3f ms, 99.9%% %.3f ms, mean %.4f ms\n", stall.quiet.worstMs,
                stall.quiet.p999Ms, stall.quiet.meanMs);
    std::printf(
        "  ratio worst while saving / worst with no save: %.2f; worst while saving / deadline: %.3f\n",
        stall.saving.worstMs / stall.quiet.worstMs, stall.saving.worstMs / stall.deadlineMs);
}

double peak(const vt::test::HostedPlugin& plugin) {
    float value = 0;
    for (std::size_t index = 0; index < plugin.outputCount(); ++index)
        for (float sample : plugin.output(index))
            value = std::max(value, std::fabs(sample));
    return value;
}

// drumkv1's render cost per output frame with the same pads and MIDI; 0 when it is not installed.
double drumkv1Cost(vt::test::LilvHost& host, const std::vector<std::string>& paths) {
    vt::test::HostedPlugin drumkv1(host, drumkv1URI, sampleRate, blockFrames);
    if (!drumkv1.valid()) {
        std::printf("drumkv1: not installed (package drumkv1-lv2); no ratio\n");
        return 0;
    }
    // drumkv1 loads a file into the element its GEN1_SAMPLE control selects, through patch:Set.
    for (int slot = 0; slot < 16; ++slot) {
        drumkv1.setControl("GEN1_SAMPLE", static_cast<float>(36 + slot));
        drumkv1.run(blockFrames);
        drumkv1.setPathProperty(0, drumkv1SampleFile, paths[slot]);
        drumkv1.run(blockFrames);
        drumkv1.run(blockFrames);
    }
    int loaded = 0;
    for (int slot = 0; slot < 16; ++slot) {
        for (int block = 0; block < 200; ++block)
            drumkv1.run(blockFrames);
        drumkv1.noteOn(0, 36 + slot);
        drumkv1.run(blockFrames);
        loaded += peak(drumkv1) > 0.01 ? 1 : 0;
    }
    for (int block = 0; block < 400; ++block)
        drumkv1.run(blockFrames);
    double theirs = measure(drumkv1);
    std::printf("drumkv1:    %.2f ns per output frame (same MIDI, %d of 16 pads sounding)\n", theirs, loaded);
    return theirs;
}

} // namespace

int main() {
    ::setenv("LV2_PATH", VELLUMTIDE_LV2_DIR ":/usr/lib/lv2", 0);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0); // drumkv1 starts a Qt application of its own
    vt::test::TemporaryFolder folder;
    // drumkv1 keeps settings under the home folder: give it a throw-away one.
    std::filesystem::create_directories(folder / "home");
    ::setenv("HOME", (folder / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder / "home" / ".config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
    auto paths = writePads(folder);
    vt::test::LilvHost host;

    vt::test::HostedPlugin vellumtide(host, vt::lv2::pluginURI, sampleRate, blockFrames);
    if (!vellumtide.valid()) {
        std::fprintf(stderr, "The Vellumtide bundle is not on LV2_PATH\n");
        return 1;
    }
    auto* access =
        static_cast<const vt::lv2::UnitAccessInterface*>(vellumtide.extensionData(vt::lv2::unitAccessURI));
    VellumtidePadKitState kit;
    for (int slot = 0; slot < 16; ++slot)
        kit.assignments.emplace_back(vt::Uuid::random(), slot, "Pad",
                                     VellumtidePadAssignment::SourceKind::file, std::nullopt, std::nullopt,
                                     paths[slot], 2.0, std::vector<float>{}, 0.86f, 0.0);
    access->unitReference(vellumtide.handle())->apply(kit);
    double ours = measure(vellumtide);
    vellumtide.noteOn(0, 36);
    vellumtide.run(blockFrames);
    std::printf("vellumtide: %.2f ns per output frame (256-frame blocks, 40 voices), peak %.3f\n", ours,
                peak(vellumtide));
    std::fflush(stdout);

    SaveStall stall = measureSaveStall(host, paths);
    printSaveStall(stall);
    std::fflush(stdout);

    double theirs = drumkv1Cost(host, paths);
    if (theirs > 0) {
        std::printf("ratio vellumtide / drumkv1: %.3f\n", ours / theirs);
        std::printf("note: the work differs: drumkv1 runs envelopes and a filter on every voice, ours plays "
                    "each pad at one gain with linear interpolation; drumkv1 is the instrument a user would "
                    "pick instead\n");
    }
    std::printf(
        "BENCH run_worst_ms_during_saves=%.3f run_worst_ms_without_saves=%.3f block_deadline_ms=%.3f "
        "saves=%d kit_mb=%.1f render_ns_per_frame=%.2f drumkv1_ns_per_frame=%.2f peer_work_differs=1\n",
        stall.saving.worstMs, stall.quiet.worstMs, stall.deadlineMs, stall.saves, stall.kitMegabytes, ours,
        theirs);
    return 0;
}
