// The desktop program's controller on large libraries, each figure against a peer in the same
// run: the first start at 10,000 samples (until idle, the mirror copied) against `cp -a` of the
// same files followed by `sync`; a restart until idle against the system's Python loading both
// files with json.load (each a process of its own, with its peak memory); the memory per sample
// above the empty program at 10,000 and 50,000 samples (the resident size of the child at idle);
// the peak memory of a sync, a restart and an up-to-date sync of a phone listing 50,000 samples,
// against the size of that list; the longest stall of the main thread while the watch loop syncs
// an unchanged library of 10,000 and of 50,000 samples in the background; and the analysis time per sample at
// 100 and 1,000 samples. The libraries are made the way the program makes them: small WAV files, peaks taken
// from the audio, and both JSON files written by the library folder.
//
// The same executable is the child: `bench-large-library child <home>` starts the controller on
// that home folder, waits until it is idle and prints "IDLE <resident KB> <peak KB>";
// `bench-large-library analyse <home>` then also times one forced analysis of every sample;
// `bench-large-library sync <home> <port>` then also syncs the phone at 127.0.0.1:<port> and prints
// "SYNCED <ms> <peak KB since idle> <status>"; `bench-large-library watch <home> <port>` then finds
// the phone at 127.0.0.1:<port> and lets the watch loop sync it in the background, printing
// "WATCHED <longest stall ms> <syncs>": the longest the main thread went without a turn of its
// event loop while those syncs ran; `bench-large-library make <home> <count>` only makes a library
// (for profiling the child); `bench-large-library stalls` takes only the watch figures.

#include "Platform/Async/Scheduler.h"
#include "Platform/Async/Spawn.h"
#include "Tests/Support/FakePhone/FakePhone.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "bench/Support/ControllerBenchSupport.h"
#include "bench/Support/SystemPython.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

using vt::bench::Clock;
using vt::bench::msSince;
using vt::bench::NoBrowsers;

constexpr int sampleRate = 44100;
constexpr double soundSeconds = 0.25;
constexpr int peakCount = 64;

// MARK: The library

template <typename T> void put(std::string& bytes, T value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// A short 16-bit mono WAV (a decaying tone with a click every 125 ms) and its peaks.
std::string makeSound(int index, std::vector<float>& peaks) {
    const int frames = static_cast<int>(sampleRate * soundSeconds);
    std::vector<float> signal(frames);
    const double frequency = 110.0 * std::pow(2.0, (index % 24) / 12.0);
    for (int f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / sampleRate;
        const double sinceClick = std::fmod(t, 0.125);
        signal[f] = static_cast<float>(0.6 * std::exp(-sinceClick * 30) * std::sin(2 * M_PI * frequency * t));
    }
    peaks.assign(peakCount, 0.0f);
    for (int f = 0; f < frames; ++f) {
        float& peak = peaks[static_cast<std::size_t>(f) * peakCount / frames];
        peak = std::max(peak, std::fabs(signal[f]));
    }
    std::string bytes = "RIFF";
    put<std::uint32_t>(bytes, 36 + frames * 2);
    bytes += "WAVEfmt ";
    put<std::uint32_t>(bytes, 16);
    put<std::uint16_t>(bytes, 1);
    put<std::uint16_t>(bytes, 1);
    put<std::uint32_t>(bytes, sampleRate);
    put<std::uint32_t>(bytes, sampleRate * 2);
    put<std::uint16_t>(bytes, 2);
    put<std::uint16_t>(bytes, 16);
    bytes += "data";
    put<std::uint32_t>(bytes, frames * 2);
    for (float value : signal)
        put<std::int16_t>(bytes, static_cast<std::int16_t>(std::lround(value * 32767)));
    return bytes;
}

// The analysis the program would store for a sample it has analysed.
BridgeSampleAnalysis storedAnalysis(const SampleItem& sample, int index) {
    BridgeSampleAnalysis analysis;
    analysis.bpm = 120;
    analysis.bpmConfidence = 0.82;
    analysis.rootNote = "A";
    analysis.rootConfidence = 0.64;
    analysis.musicalKey = "A minor";
    analysis.keyConfidence = 0.41;
    analysis.analyzedAt = vt::Date{1.71e9 + index};
    analysis.sourceFingerprint = BridgeViewModel::analysisFingerprint(sample, BridgeSampleEdit{});
    return analysis;
}

// A library of count samples under home: with their audio files or only the two JSON files, and
// with every analysis stored (a library at rest) or none (all to be analysed).
void makeLibrary(const fs::path& home, int count, bool withFiles, bool analysed) {
    vt::Paths paths = vt::Paths::underRoot(home);
    BridgeSampleCache cache(paths, paths.music / "Vellumtide");
    std::vector<SampleItem> samples;
    BridgeMetadataMap overlay;
    samples.reserve(count);
    for (int i = 0; i < count; ++i) {
        SampleItem sample;
        sample.id = vt::Uuid::random();
        sample.title = "Take " + std::to_string(i + 1);
        sample.createdAt = vt::Date{1.7e9 + i * 37.0};
        sample.fileName = "Take " + std::to_string(i + 1) + ".wav";
        std::vector<float> peaks;
        const std::string sound = makeSound(i, peaks);
        sample.peaks = std::move(peaks);
        sample.duration = soundSeconds;
        sample.sampleRate = sampleRate;
        sample.channelCount = 1;
        sample.byteCount = static_cast<std::int64_t>(sound.size());
        sample.isFavorite = i % 9 == 0;
        if (withFiles)
            std::ofstream(*cache.sampleURL(sample), std::ios::binary) << sound;
        BridgeSampleMetadata entry;
        if (i % 5 == 0)
            entry.titleOverride = "Renamed take " + std::to_string(i + 1);
        if (analysed)
            entry.analysis = storedAnalysis(sample, i);
        if (!entry.isEmpty())
            overlay[sample.id] = std::move(entry);
        samples.push_back(std::move(sample));
    }
    cache.saveManifest(samples);
    cache.saveLocalMetadata(overlay);
    // The mirror is the program's to make.
    std::error_code ignored;
    fs::remove_all(cache.auMirrorRootURL(), ignored);
}

// A phone's list of count samples with peakCount waveform values each (as a phone measures them:
// any float in 0...1), and their files already in the library under home, each analysed, as after
// an earlier sync whose list was lost: a sync then takes the whole list at once.
std::vector<SampleItem> makePhoneLibrary(const fs::path& home, int count, int peaksEach) {
    vt::Paths paths = vt::Paths::underRoot(home);
    BridgeSampleCache cache(paths, paths.music / "Vellumtide");
    std::mt19937 random(7);
    std::uniform_real_distribution<float> level(0.0f, 1.0f);
    const std::string sound(64, 'a');
    std::vector<SampleItem> samples;
    BridgeMetadataMap overlay;
    samples.reserve(count);
    for (int i = 0; i < count; ++i) {
        SampleItem sample;
        sample.id = vt::Uuid::random();
        sample.title = "Phone take " + std::to_string(i + 1);
        sample.createdAt = vt::Date{1.7e9 + i * 37.0};
        sample.fileName = "Phone take " + std::to_string(i + 1) + ".m4a";
        std::vector<float> peaks(peaksEach);
        for (float& peak : peaks)
            peak = level(random);
        sample.peaks = std::move(peaks);
        sample.duration = 2.5;
        sample.sampleRate = 48000;
        sample.channelCount = 2;
        sample.byteCount = static_cast<std::int64_t>(sound.size());
        std::ofstream(*cache.sampleURL(sample), std::ios::binary) << sound;
        BridgeSampleMetadata entry;
        entry.analysis = storedAnalysis(sample, i);
        overlay[sample.id] = std::move(entry);
        samples.push_back(std::move(sample));
    }
    cache.saveLocalMetadata(overlay);
    std::error_code ignored;
    fs::remove_all(cache.auMirrorRootURL(), ignored);
    return samples;
}

// MARK: The child

constexpr const char* phoneID = "BENCH-PHONE";
constexpr const char* phoneToken = "bench-token";

// The process's peak resident size in KB (VmHWM), and a fresh start of it.
long peakKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

BridgeViewModel::Dependencies childDependencies(const fs::path& home) {
    auto deps = vt::bench::quietDependencies(vt::Paths::underRoot(home), std::make_shared<vt::QtScheduler>());
    deps.audio = BridgeAudioServices::standard();
    return deps;
}

// Idle: the display list built, the mirror pass and every save done, no task waiting to start.
bool isIdle(BridgeViewModel& model) {
    return vt::detail::pendingSpawns().load() == 0 && probe(model).libraryWriter.isIdle() &&
           model.analyzingSampleIDs().empty();
}

void turnUntilIdle(BridgeViewModel& model) {
    // Two quiet looks in a row: a finished step may queue the next one.
    for (int quiet = 0; quiet < 2;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        quiet = isIdle(model) ? quiet + 1 : 0;
    }
}

// Syncs the phone at 127.0.0.1:port as the user would (the typed address, a stored token).
void syncChild(BridgeViewModel& model, int port) {
    resetPeak();
    bool finished = false;
    model.setManualAddress("127.0.0.1:" + std::to_string(port));
    auto t0 = Clock::now();
    vt::spawnStarted([](BridgeViewModel& m, bool& flag) -> QCoro::Task<> {
        co_await m.syncManualAddress();
        flag = true;
    }(model, finished));
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    turnUntilIdle(model);
    std::printf("SYNCED %.0f %ld %s\n", msSince(t0), peakKilobytes(), model.statusMessage().c_str());
    std::fflush(stdout);
}

constexpr int watchedSyncs = 4;

// Finds the phone at 127.0.0.1:port and lets the watch loop sync it watchedSyncs times, while a
// 1 ms timer on the main thread notes the longest gap between two of its turns.
void watchChild(BridgeViewModel& model, int port) {
    const VellumtideDevice phone{"bench|phone", "Bench Phone",
                                 VellumtideEndpoint::hostPort("127.0.0.1", port), "127.0.0.1", std::nullopt};
    QEventLoop loop;
    double longest = 0;
    int syncs = 0;
    bool wasSyncing = false;
    auto last = Clock::now();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        const bool syncing = probe(model).isWatchSyncing;
        if (wasSyncing && !syncing && ++syncs == watchedSyncs)
            loop.quit();
        wasSyncing = syncing;
    });
    ticker.start();
    model.merge({phone});
    loop.exec();
    std::printf("WATCHED %.1f %d %s\n", longest, syncs, model.watchMessage().c_str());
    std::fflush(stdout);
}

int runChild(const fs::path& home, bool analyse, int syncPort, bool watch = false) {
    auto deps = childDependencies(home);
    BridgePairingStore(*deps.settings).setToken(phoneID, phoneToken);
    BridgeViewModel model(std::move(deps));
    turnUntilIdle(model);
    std::printf("IDLE %ld %ld\n", residentKilobytes(), peakKilobytes());
    std::fflush(stdout);
    if (syncPort > 0 && watch)
        watchChild(model, syncPort);
    else if (syncPort > 0)
        syncChild(model, syncPort);
    if (analyse) {
        std::set<vt::Uuid> all;
        for (const auto& sample : probe(model).librarySamples)
            all.insert(sample.id);
        bool finished = false;
        auto t0 = Clock::now();
        vt::spawnStarted([](BridgeViewModel& m, std::set<vt::Uuid> ids, bool& flag) -> QCoro::Task<> {
            co_await m.analyzeSamplesIfNeeded(probe(m).librarySamples, std::move(ids), true);
            flag = true;
        }(model, std::move(all), finished));
        while (!finished)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        turnUntilIdle(model);
        std::printf("ANALYSIS %.3f\n", msSince(t0));
        std::fflush(stdout);
    }
    // The figures are out; the teardown is no part of them.
    _exit(0);
}

// MARK: The parent

struct ChildRun {
    double idleMs = 0;
    long residentKB = 0;
    long peakKB = 0;
    double analysisMs = 0;
    double syncMs = 0;
    long syncPeakKB = 0;
    std::string syncStatus;
};

// Starts a process and gives its standard output, line by line, to onLine; returns the wall
// time from the start until onLine returned true (or the process ended). With peakKB, also the
// process's peak resident size.
double runProcess(const std::vector<std::string>& arguments,
                  const std::function<bool(const std::string&)>& onLine = nullptr, long* peakKB = nullptr) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    auto t0 = Clock::now();
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror(argv[0]);
        return -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    double elapsed = -1;
    FILE* output = fdopen(pipeEnds[0], "r");
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, output)) {
        const bool reached = onLine && onLine(buffer);
        if (elapsed < 0 && reached)
            elapsed = msSince(t0);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    if (peakKB)
        *peakKB = usage.ru_maxrss;
    if (elapsed < 0)
        elapsed = msSince(t0);
    std::fclose(output);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "%s ended with status %d\n", arguments.front().c_str(), status);
    return elapsed;
}

std::string self;

ChildRun runController(const fs::path& home, bool analyse = false, int syncPort = 0) {
    ChildRun run;
    std::vector<std::string> arguments = {self, analyse ? "analyse" : "child", home.string()};
    if (syncPort > 0)
        arguments = {self, "sync", home.string(), std::to_string(syncPort)};
    run.idleMs = runProcess(arguments, [&](const std::string& line) {
        if (line.rfind("IDLE ", 0) == 0)
            std::sscanf(line.c_str() + 5, "%ld %ld", &run.residentKB, &run.peakKB);
        if (line.rfind("ANALYSIS ", 0) == 0)
            run.analysisMs = std::atof(line.c_str() + 9);
        if (line.rfind("SYNCED ", 0) == 0) {
            int consumed = 0;
            std::sscanf(line.c_str() + 7, "%lf %ld %n", &run.syncMs, &run.syncPeakKB, &consumed);
            run.syncStatus = line.substr(7 + consumed);
            while (!run.syncStatus.empty() && run.syncStatus.back() == '\n')
                run.syncStatus.pop_back();
        }
        return line.rfind("IDLE ", 0) == 0;
    });
    return run;
}

double mebibytes(double kilobytes) {
    return kilobytes / 1024.0;
}

void syncDisks() {
    runProcess({"sync"});
}

fs::path libraryRoot(const fs::path& home) {
    return vt::Paths::underRoot(home).music / "Vellumtide";
}

fs::path mirrorRoot(const fs::path& home) {
    return vt::Paths::underRoot(home).home / BridgeSampleCache::mirrorRelativePath;
}

void removeFolder(const fs::path& folder) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// The longest stall of the main thread while the watch loop syncs the phone at port into the
// library under home, which already holds the phone's list and files.
double watchStall(const fs::path& home, int port) {
    double longest = -1;
    std::string watchText;
    runProcess({self, "watch", home.string(), std::to_string(port)}, [&](const std::string& line) {
        if (line.rfind("WATCHED ", 0) == 0) {
            int consumed = 0;
            std::sscanf(line.c_str() + 8, "%lf %*d %n", &longest, &consumed);
            watchText = line.substr(8 + consumed);
            while (!watchText.empty() && watchText.back() == '\n')
                watchText.pop_back();
        }
        return line.rfind("IDLE ", 0) == 0;
    });
    if (watchText != "Background sync on")
        std::fprintf(stderr, "the watched syncs ended with \"%s\"\n", watchText.c_str());
    return longest;
}

constexpr const char* phoneName = "Bench Phone";
constexpr int phonePeaks = 266;

// A phone listing count samples, their files in a library under base that one sync brought up to
// date: the longest stall of the main thread while the watch loop syncs it again.
double watchStallAt(const fs::path& base, vt::test::FakePhone& phone, int count) {
    const fs::path home = base / ("watch-" + std::to_string(count));
    phone.setLibrary(makePhoneLibrary(home, count, phonePeaks));
    runController(home, false, phone.port());
    const double longest = watchStall(home, phone.port());
    removeFolder(home);
    return longest;
}

double analysisPerSample(const fs::path& base, int count) {
    const fs::path home = base / ("analyse-" + std::to_string(count));
    makeLibrary(home, count, true, true);
    ChildRun run = runController(home, true);
    removeFolder(home);
    return run.analysisMs / count;
}

} // namespace

int main(int argc, char** argv) {
    self = fs::canonical("/proc/self/exe").string();
    if (argc == 4 && std::strcmp(argv[1], "make") == 0) {
        makeLibrary(argv[2], std::atoi(argv[3]), true, true);
        return 0;
    }
    if (argc == 3 && (std::strcmp(argv[1], "child") == 0 || std::strcmp(argv[1], "analyse") == 0)) {
        QCoreApplication application(argc, argv);
        return runChild(argv[2], std::strcmp(argv[1], "analyse") == 0, 0);
    }
    if (argc == 4 && (std::strcmp(argv[1], "sync") == 0 || std::strcmp(argv[1], "watch") == 0)) {
        QCoreApplication application(argc, argv);
        return runChild(argv[2], false, std::atoi(argv[3]), std::strcmp(argv[1], "watch") == 0);
    }
    const std::string python = vt::bench::systemPython3();

    std::string pattern = (fs::temp_directory_path() / "vellumtide-large.XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path base = pattern;
    constexpr int large = 10'000;
    constexpr int huge = 50'000;
    constexpr int rounds = 3;
    vt::test::FakePhone phone;
    phone.setIdentity(phoneID, phoneName);
    phone.setToken(phoneToken);

    if (argc == 2 && std::strcmp(argv[1], "stalls") == 0) {
        const double stall10k = watchStallAt(base, phone, large);
        const double stall50k = watchStallAt(base, phone, huge);
        removeFolder(base);
        std::printf("BENCH watch_tick_stall_ms_max_10k=%.1f watch_tick_stall_ms_max_50k=%.1f\n", stall10k,
                    stall50k);
        return 0;
    }

    // The empty program: the baseline of the memory figures.
    const fs::path emptyHome = base / "empty";
    fs::create_directories(emptyHome);
    long emptyKB = 1L << 40;
    for (int round = 0; round < rounds; ++round)
        emptyKB = std::min(emptyKB, runController(emptyHome).residentKB);

    // First start at 10,000 samples against cp -a + sync of the same files, alternating.
    const fs::path home = base / "large";
    makeLibrary(home, large, true, true);
    const fs::path peerCopy = base / "cp-copy";
    double firstStart = 1e12, copyPeer = 1e12;
    for (int round = 0; round < rounds; ++round) {
        removeFolder(peerCopy);
        removeFolder(mirrorRoot(home));
        syncDisks();
        const std::string copy =
            "cp -a '" + libraryRoot(home).string() + "' '" + peerCopy.string() + "' && sync";
        copyPeer = std::min(copyPeer, runProcess({"sh", "-c", copy}));
        syncDisks();
        firstStart = std::min(firstStart, runController(home).idleMs);
    }
    removeFolder(peerCopy);

    // Restart at 10,000 samples against Python reading both files, each with its peak memory.
    syncDisks();
    double restart = 1e12, pythonPeer = 1e12;
    long largeKB = 1L << 40, restartPeakKB = 1L << 40, pythonPeakKB = 1L << 40;
    const std::string load = "import json, sys\nfor name in sys.argv[1:]:\n    json.load(open(name))\n";
    for (int round = 0; round < rounds; ++round) {
        long peak = 0;
        if (!python.empty()) {
            pythonPeer = std::min(
                pythonPeer, runProcess({python, "-c", load, (libraryRoot(home) / "library.json").string(),
                                        (libraryRoot(home) / "bridge-metadata.json").string()},
                                       nullptr, &peak));
            pythonPeakKB = std::min(pythonPeakKB, peak);
        }
        ChildRun run = runController(home);
        restart = std::min(restart, run.idleMs);
        largeKB = std::min(largeKB, run.residentKB);
        restartPeakKB = std::min(restartPeakKB, run.peakKB);
    }
    const auto manifestBytes = fs::file_size(libraryRoot(home) / "library.json");
    const auto metadataBytes = fs::file_size(libraryRoot(home) / "bridge-metadata.json");
    removeFolder(home);

    // Memory at 50,000 samples (the two JSON files only; the files add nothing to memory).
    const fs::path hugeHome = base / "huge";
    makeLibrary(hugeHome, huge, false, true);
    long hugeKB = 1L << 40;
    for (int round = 0; round < 2; ++round)
        hugeKB = std::min(hugeKB, runController(hugeHome).residentKB);
    removeFolder(hugeHome);

    // A phone listing 50,000 samples: the sync that takes the list, a restart, an up-to-date sync.
    const fs::path phoneHome = base / "phone";
    phone.setLibrary(makePhoneLibrary(phoneHome, huge, phonePeaks));
    const double listMiB = phone.libraryJsonSize() / 1048576.0;
    const ChildRun firstSync = runController(phoneHome, false, phone.port());
    const ChildRun restartHuge = runController(phoneHome);
    const ChildRun upToDate = runController(phoneHome, false, phone.port());
    // The watch loop over that unchanged library, and over one of 10,000 samples.
    const double stall50k = watchStall(phoneHome, phone.port());
    removeFolder(phoneHome);
    const double stall10k = watchStallAt(base, phone, large);

    // Analysis per sample, the real analyser on every sample of the library, forced.
    const double analysis100 = analysisPerSample(base, 100);
    const double analysis1000 = analysisPerSample(base, 1000);
    removeFolder(base);

    const double perSample10k = static_cast<double>(largeKB - emptyKB) / large;
    const double perSample50k = static_cast<double>(hugeKB - emptyKB) / huge;
    std::printf(
        "library of %d samples: %.0f KB WAV files, library.json %.1f MB, bridge-metadata.json %.1f MB\n",
        large, sampleRate * soundSeconds * 2 / 1024, manifestBytes / 1e6, metadataBytes / 1e6);
    std::printf("first start until idle (mirror copied): %.0f ms; cp -a + sync of the same files: %.0f ms "
                "(ratio %.2f, goal <= 1.3)\n",
                firstStart, copyPeer, firstStart / copyPeer);
    std::printf("restart until idle: %.0f ms, peak %.1f MiB; python3 json.load of both files: %.0f ms, peak "
                "%.1f MiB (ratio %.2f, goal <= 1.0; memory ratio %.2f, goal <= 1.0)\n",
                restart, mebibytes(restartPeakKB), pythonPeer, mebibytes(pythonPeakKB), restart / pythonPeer,
                static_cast<double>(restartPeakKB) / pythonPeakKB);
    std::printf(
        "a phone listing %d samples (%.1f MiB list): sync %.0f ms, peak %.0f MiB (\"%s\"); restart %.0f "
        "ms, peak %.0f MiB; up-to-date sync %.0f ms, peak %.0f MiB (\"%s\"); goal <= 400 MB each\n",
        huge, listMiB, firstSync.syncMs, mebibytes(firstSync.syncPeakKB), firstSync.syncStatus.c_str(),
        restartHuge.idleMs, mebibytes(restartHuge.peakKB), upToDate.syncMs, mebibytes(upToDate.syncPeakKB),
        upToDate.syncStatus.c_str());
    std::printf("peak memory per MiB of the list: sync %.2f, restart %.2f, up-to-date sync %.2f\n",
                mebibytes(firstSync.syncPeakKB) / listMiB, mebibytes(restartHuge.peakKB) / listMiB,
                mebibytes(upToDate.syncPeakKB) / listMiB);
    std::printf("resident size: empty program %ld KB, %d samples %ld KB, %d samples %ld KB\n", emptyKB, large,
                largeKB, huge, hugeKB);
    std::printf("memory per sample above the empty program: %.2f KB at %d, %.2f KB at %d (goal <= 3)\n",
                perSample10k, large, perSample50k, huge);
    std::printf("longest stall of the main thread while the watch loop syncs an unchanged library: %.1f ms "
                "at %d samples, %.1f ms at %d (goal <= 16 each)\n",
                stall10k, large, stall50k, huge);
    std::printf("analysis per sample: %.2f ms at 100 samples, %.2f ms at 1,000 (ratio %.2f, goal <= 1.1)\n",
                analysis100, analysis1000, analysis1000 / analysis100);
    std::printf(
        "BENCH analysis_per_sample_ratio_1000_to_100=%.2f mirror_first_copy_ratio_to_cp=%.2f "
        "restart_idle_ratio_to_python_10k=%.2f memory_kb_per_sample_10k=%.2f memory_kb_per_sample_50k=%.2f "
        "first_start_ms_10k=%.0f restart_idle_ms_10k=%.0f analysis_ms_per_sample_1000=%.2f "
        "restart_peak_mib_10k=%.1f python_peak_mib_10k=%.1f restart_memory_ratio_to_python_10k=%.2f "
        "list_mib_50k=%.1f sync_peak_mb_50k=%.0f restart_peak_mb_50k=%.0f uptodate_sync_peak_mb_50k=%.0f "
        "sync_ms_50k=%.0f restart_ms_50k=%.0f uptodate_sync_ms_50k=%.0f watch_tick_stall_ms_max_10k=%.1f "
        "watch_tick_stall_ms_max_50k=%.1f\n",
        analysis1000 / analysis100, firstStart / copyPeer, restart / pythonPeer, perSample10k, perSample50k,
        firstStart, restart, analysis1000, mebibytes(restartPeakKB), mebibytes(pythonPeakKB),
        static_cast<double>(restartPeakKB) / pythonPeakKB, listMiB, firstSync.syncPeakKB / 1000.0,
        restartHuge.peakKB / 1000.0, upToDate.syncPeakKB / 1000.0, firstSync.syncMs, restartHuge.idleMs,
        upToDate.syncMs, stall10k, stall50k);
    return 0;
}
