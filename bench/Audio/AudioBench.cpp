// Times the audio processing on one generated minute of stereo audio (a click track with a melody
// over a noise floor) against command-line peers run on the same file in the same run: an edit
// render with trim and fades of a 16-bit, a 24-bit (both 44.1 kHz, as a recorder writes them) and
// a float (48 kHz, as our writer writes it) file, and one with denoise, against sox (each a process
// that leaves its file on disk: ours flushes it, sox is followed by sync FILE), chop detection
// against aubioonset, analysis against aubiotrack plus aubiopitch. Then measures the peak memory of
// a ten-minute stereo denoise render in a fresh child process.

#include "Platform/Audio/WavWriter.h"
#include "Tests/Support/Audio/AudioFixtures.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleAnalyzer.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"
#include "bench/Audio/RenderEdits.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <sndfile.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000;
constexpr double recorderRate = 44100;
constexpr int repetitions = 7;
constexpr int longMinutes = 10;

// One minute of a stereo test signal: clicks at 120 BPM with quieter eighth notes, a C major
// melody of half-second notes and a faint noise floor that differs between the channels.
vt::test::Channels makeMinute(double sampleRate) {
    const size_t frames = vt::test::framesFor(60, sampleRate);
    const int scale[] = {60, 62, 64, 65, 67, 69, 71, 72};
    const size_t noteFrames = vt::test::framesFor(0.5, sampleRate);
    std::vector<float> melody;
    melody.reserve(frames);
    for (size_t note = 0; melody.size() < frames; ++note) {
        const double frequency = 440.0 * std::pow(2.0, (scale[note % 8] - 69) / 12.0);
        const auto tone =
            vt::test::sineWave(frequency, sampleRate, std::min(noteFrames, frames - melody.size()), 0.12);
        melody.insert(melody.end(), tone.begin(), tone.end());
    }
    std::vector<float> clicks = vt::test::clickTrack(120, sampleRate, frames, 0.6);
    const auto eighths = vt::test::clickTrack(240, sampleRate, frames, 0.2);
    for (size_t i = 0; i < frames; ++i)
        clicks[i] += eighths[i];
    vt::test::Channels channels;
    for (uint32_t seed : {3u, 5u}) {
        std::vector<float> channel = vt::test::noise(frames, 0.01, seed);
        for (size_t i = 0; i < frames; ++i)
            channel[i] += clicks[i] + melody[i];
        channels.push_back(std::move(channel));
    }
    return channels;
}

// A minute as a recorder writes it: integer PCM of the given libsndfile subformat.
void writePcmWav(const fs::path& path, double sampleRate, const vt::test::Channels& channels, int subformat) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = static_cast<int>(channels.size());
    info.format = SF_FORMAT_WAV | subformat;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::vector<float> interleaved;
    for (size_t i = 0; i < channels.front().size(); ++i)
        for (const auto& channel : channels)
            interleaved.push_back(channel[i]);
    sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(channels.front().size()));
    sf_close(file);
}

// The same minute written again and again into one file, without holding it all.
void writeRepeated(const fs::path& path, const vt::test::Channels& minute, int times) {
    vt::WavWriter writer(path, rate, static_cast<int>(minute.size()));
    for (int i = 0; i < times; ++i)
        writer.write(minute);
    writer.close();
}

struct ChildRun {
    bool succeeded = false;
    long peakKilobytes = 0;
};

// Runs a program with its output discarded and waits for it; the usage is that child's own.
ChildRun runQuietly(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return {};
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return {};
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, usage.ru_maxrss};
}

// The median wall time in seconds of a few runs of each job, the jobs taking turns so that a
// change in the machine's load falls on all of them; nothing for a job whose run failed.
std::vector<std::optional<double>> interleavedMedians(const std::vector<std::function<bool()>>& jobs) {
    std::vector<std::vector<double>> times(jobs.size());
    std::vector<bool> failed(jobs.size(), false);
    for (int run = 0; run < repetitions; ++run) {
        for (std::size_t job = 0; job < jobs.size(); ++job) {
            if (failed[job])
                continue;
            const auto start = std::chrono::steady_clock::now();
            failed[job] = !jobs[job]();
            times[job].push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    std::vector<std::optional<double>> medians(jobs.size());
    for (std::size_t job = 0; job < jobs.size(); ++job) {
        if (failed[job])
            continue;
        std::sort(times[job].begin(), times[job].end());
        medians[job] = times[job][times[job].size() / 2];
    }
    return medians;
}

std::optional<double> medianSeconds(const std::function<bool()>& work) {
    return interleavedMedians({work}).front();
}

// Runs the commands one after the other; true when all of them succeeded.
std::function<bool()> commandsJob(std::vector<std::vector<std::string>> commands) {
    return [commands = std::move(commands)] {
        return std::all_of(commands.begin(), commands.end(),
                           [](const auto& command) { return runQuietly(command).succeeded; });
    };
}

std::optional<double> peerSeconds(const std::vector<std::vector<std::string>>& commands) {
    return medianSeconds(commandsJob(commands));
}

// One line per job: seconds per minute of audio for both and how many times faster ours is (the
// peer's time over ours; 0 when the peer is not available).
double report(const char* job, double ours, std::optional<double> peer, const char* peerName) {
    if (!peer) {
        std::printf("%-24s ours %7.3f s/min   %s: not available\n", job, ours, peerName);
        return 0;
    }
    std::printf("%-24s ours %7.3f s/min   %s %7.3f s/min   peer/ours %6.2f\n", job, ours, peerName, *peer,
                *peer / ours);
    return *peer / ours;
}

// What the closing BENCH line reports.
struct Figures {
    double trim16Speed = 0;    // 16-bit input, both as processes
    double trim24Speed = 0;    // 24-bit input, both as processes
    double trimFloatSpeed = 0; // float input, both as processes
    double trimInAppSpeed = 0; // float input, ours in this process
    double startSeconds = 0;   // a process of ours that does nothing
    double denoiseSpeed = 0;
    double denoisePeakRatio = 0;
};

void renderJob(const fs::path& input, const fs::path& output, const BridgeSampleEdit& edit) {
    BridgeSampleRenderer::renderSynchronously(input, output, edit);
}

// Our render as a process of its own, like the peer's: the render program beside this one.
fs::path renderProgram() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "audio_bench_render";
}

bool renderProcess(const char* option, const fs::path& input, const fs::path& output) {
    if (runQuietly({renderProgram().string(), option, input.string(), output.string()}).succeeded)
        return true;
    std::fprintf(stderr, "our render (%s) failed\n", option);
    std::exit(1);
}

struct TrimInput {
    const char* label;
    fs::path file;
    double* speed;          // as processes
    double* inProcessSpeed; // ours in this process, where reported
};

// Both renders end with the file on disk: ours flushes it before the rename that puts it in place,
// and the peer's command is followed by sync on its output. Each is timed as a process; ours also
// inside this process, as the program renders (its libraries already loaded), against the same
// peer, and the start-up of the render process doing nothing is timed apart. The render process
// is a program of the renderer alone, as sox is a program of its effects.
void timeRenders(const fs::path& folder, Figures& figures) {
    const fs::path input = folder / "minute.wav";
    const std::string in = input.string(), out = (folder / "peer.wav").string(),
                      profile = (folder / "noise.prof").string();

    const TrimInput trims[] = {{"16-bit 44.1 kHz", folder / "minute-16.wav", &figures.trim16Speed, nullptr},
                               {"24-bit 44.1 kHz", folder / "minute-24.wav", &figures.trim24Speed, nullptr},
                               {"float 48 kHz", input, &figures.trimFloatSpeed, &figures.trimInAppSpeed}};
    for (const TrimInput& trim : trims) {
        const auto times =
            interleavedMedians({commandsJob({{"sox", trim.file.string(), "-e", "floating-point", "-b", "32",
                                              out, "trim", "1", "=59", "fade", "t", "0.5", "-0", "0.5"},
                                             {"sync", out}}),
                                [&] { return renderProcess("--trimmed", trim.file, folder / "trim.wav"); },
                                [&] { return renderJob(trim.file, folder / "trim.wav", trimEdit()), true; }});
        std::printf("render trim + fades, %s:\n", trim.label);
        *trim.speed = report("  as processes", *times[1], times[0], "sox trim fade + sync");
        const double inProcess = report("  ours in-process", *times[2], times[0], "sox trim fade + sync");
        if (trim.inProcessSpeed != nullptr)
            *trim.inProcessSpeed = inProcess;
    }
    const auto starts =
        interleavedMedians({[] {
                                return runQuietly({renderProgram().string(), "--start-only"}).succeeded;
                            },
                            [] {
                                return runQuietly({"sox", "--version"}).succeeded;
                            }});
    figures.startSeconds = starts[0].value_or(0);
    std::printf("%-24s the render process only starting and ending: %.3f s (sox --version: %.3f s)\n", "",
                figures.startSeconds, starts[1].value_or(0));

    const auto profiling = peerSeconds({{"sox", in, "-n", "trim", "0", "1", "noiseprof", profile}});
    std::vector<std::function<bool()>> denoises{
        [&] { return renderProcess("--denoised", input, folder / "clean.wav"); }};
    if (profiling)
        denoises.push_back(commandsJob({{"sox", in, out, "noisered", profile, "0.21"}, {"sync", out}}));
    const auto denoised = interleavedMedians(denoises);
    figures.denoiseSpeed =
        report("render denoise", *denoised[0], profiling ? denoised[1] : std::nullopt, "sox noisered + sync");
    if (profiling)
        std::printf("%-24s sox noiseprof of the first second: %.3f s (not in the ratio)\n", "", *profiling);
}

void timeJobs(const fs::path& folder, Figures& figures) {
    const fs::path input = folder / "minute.wav";
    const std::string in = input.string();
    timeRenders(folder, figures);

    std::size_t chopCount = 0;
    const double oursChops = *medianSeconds([&] {
        chopCount = BridgeSampleRenderer::detectChopsSynchronously(input, 0.65).size();
        return true;
    });
    report("chop detection", oursChops, peerSeconds({{"aubioonset", "-i", in}}), "aubioonset");

    BridgeSampleAnalysis analysis;
    const double oursAnalysis = *medianSeconds([&] {
        analysis = BridgeSampleAnalyzer::analyzeSynchronously(input, vt::SystemWallClock());
        return true;
    });
    report("analysis", oursAnalysis, peerSeconds({{"aubiotrack", "-i", in}, {"aubiopitch", "-i", in}}),
           "aubiotrack+pitch");
    std::printf("%-24s %zu chops; tempo %.0f (%.2f), root %s (%.2f), key %s (%.2f)\n", "results:", chopCount,
                analysis.bpm.value_or(0), analysis.bpmConfidence, analysis.rootNote.value_or("-").c_str(),
                analysis.rootConfidence, analysis.musicalKey.value_or("-").c_str(), analysis.keyConfidence);
}

void measurePeakMemory(const fs::path& folder, const vt::test::Channels& minute, Figures& figures) {
    const fs::path input = folder / "long.wav";
    writeRepeated(input, minute, longMinutes);
    const double selectionMegabytes = static_cast<double>(minute.front().size()) * longMinutes *
                                      static_cast<double>(minute.size()) * 4 / 1e6;
    const auto start = std::chrono::steady_clock::now();
    const ChildRun run = runQuietly(
        {renderProgram().string(), "--denoised", input.string(), (folder / "long-out.wav").string()});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!run.succeeded) {
        std::printf("peak memory: the ten-minute render failed\n");
        return;
    }
    const double peakMegabytes = static_cast<double>(run.peakKilobytes) * 1024 / 1e6;
    figures.denoisePeakRatio = peakMegabytes / selectionMegabytes;
    std::printf(
        "%d-minute stereo denoise render: %.1f s, peak RSS %.0f MB = %.2f x the selection (%.0f MB)\n",
        longMinutes, seconds, peakMegabytes, peakMegabytes / selectionMegabytes, selectionMegabytes);
    fs::remove(input);
    fs::remove(folder / "long-out.wav");
}

} // namespace

int main() {
    std::string pattern = (fs::temp_directory_path() / "vt-audio-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;
    const vt::test::Channels minute = makeMinute(rate);
    vt::writeFloatWav(folder / "minute.wav", rate, minute);
    const vt::test::Channels recorded = makeMinute(recorderRate);
    writePcmWav(folder / "minute-16.wav", recorderRate, recorded, SF_FORMAT_PCM_16);
    writePcmWav(folder / "minute-24.wav", recorderRate, recorded, SF_FORMAT_PCM_24);
    std::printf("one minute of stereo audio; median of %d runs each\n", repetitions);
    Figures figures;
    timeJobs(folder, figures);
    measurePeakMemory(folder, minute, figures);
    fs::remove_all(folder);
    std::printf("BENCH render_trim_16bit_speed_vs_sox_sync=%.3f render_trim_24bit_speed_vs_sox_sync=%.3f "
                "render_trim_float_speed_vs_sox_sync=%.3f render_trim_in_process_speed_vs_sox_sync=%.3f "
                "process_start_s=%.3f render_denoise_speed_vs_sox_sync=%.3f render_denoise_peak_ratio=%.3f\n",
                figures.trim16Speed, figures.trim24Speed, figures.trimFloatSpeed, figures.trimInAppSpeed,
                figures.startSeconds, figures.denoiseSpeed, figures.denoisePeakRatio);
    return 0;
}
