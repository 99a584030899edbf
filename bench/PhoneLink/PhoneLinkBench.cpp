// Phone-link figures on loopback:
//  1. download of a 200 MB sample from the fake phone, streamed into a temporary beside the file
//     as it arrives, against `curl -o` of the same URL from the same server (neither flushes to
//     disk); the flush and rename that put our file in place are timed apart, and the peak memory
//     growth of the download is taken from the resident set;
//  2. wall time of a sweep of two /24 networks with a fake phone on each, against the 0.45 s probe
//     time-out.
// Ends with one BENCH line.

#include "Platform/Async/Scheduler.h"
#include "Tests/Support/FakePhone/FakePhone.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideLANScanner.h"

#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <net/if.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using vt::test::FakePhone;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t sampleBytes = 200ull * 1000 * 1000;
constexpr int rounds = 5;

double secondsSince(const QElapsedTimer& watch) {
    return watch.nsecsElapsed() / 1e9;
}

// The resident set now, in KiB (VmRSS of /proc/self/status).
long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

// Samples the resident set every millisecond while it lives; the largest value seen.
class ResidentPeak {
public:
    ResidentPeak()
        : sampler([this] {
              while (!stopping) {
                  peak = std::max(peak.load(), residentKiB());
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~ResidentPeak() { stop(); }
    long stop() {
        stopping = true;
        if (sampler.joinable())
            sampler.join();
        return peak = std::max(peak.load(), residentKiB());
    }

private:
    std::atomic<bool> stopping{false};
    std::atomic<long> peak{0};
    std::thread sampler;
};

struct OurDownload {
    double receive = 0; // request until the whole body is in the temporary (no flush)
    double commit = 0;  // fsync of the temporary and its rename onto the file
    double peakGrowthMiB = 0;
};

[[noreturn]] void failBench(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

OurDownload ourDownload(VellumtideHTTPClient& client, const FakePhone& phone, const fs::path& target) {
    const long before = residentKiB();
    ResidentPeak peak;
    QElapsedTimer watch;
    watch.start();
    auto file = std::make_shared<VellumtideDownloadFile>(target);
    auto outcome = vt::test::runTask<std::uint64_t>(
        [&] {
            return client.receive("/samples/big.wav", phone.endpoint(), 8.0,
                                  {{"X-Vellumtide-Token", "token-1"}}, file);
        },
        std::chrono::seconds(120));
    OurDownload timing;
    timing.receive = secondsSince(watch);
    timing.peakGrowthMiB = (peak.stop() - before) / 1024.0;
    if (!outcome.value || *outcome.value != sampleBytes)
        failBench("download failed: " + vt::test::errorText(outcome.error));
    watch.restart();
    file->commit();
    timing.commit = secondsSince(watch);
    if (fs::file_size(target) != sampleBytes)
        failBench("downloaded file has the wrong size");
    return timing;
}

double curlDownload(const FakePhone& phone, const fs::path& target) {
    QElapsedTimer watch;
    watch.start();
    QProcess curl;
    const QString url = QString("http://%1:%2/samples/big.wav")
                            .arg(QString::fromStdString(phone.address()))
                            .arg(phone.port());
    curl.start("curl", {"-s", "-f", "-H", "X-Vellumtide-Token: token-1", "-o",
                        QString::fromStdString(target.string()), url});
    curl.waitForFinished(120000);
    const double seconds = secondsSince(watch);
    if (curl.exitCode() != 0 || fs::file_size(target) != sampleBytes)
        failBench("curl failed");
    return seconds;
}

struct DownloadFigures {
    double timeRatioToCurl = 0;
    double peakGrowthMiB = 0;
    double fsyncSeconds = 0;
};

// Best of several rounds, ours and curl's taking turns into fresh files.
DownloadFigures benchDownload() {
    FakePhone phone;
    phone.setGeneratedFile("big.wav", sampleBytes);
    vt::QtScheduler scheduler;
    VellumtideHTTPClient client(scheduler);
    const auto folder = fs::temp_directory_path() / ("vt-phone-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    OurDownload best{1e9, 1e9, 0};
    double theirs = 1e9;
    for (int round = 0; round < rounds; ++round) {
        fs::remove(folder / "ours.wav");
        fs::remove(folder / "curl.wav");
        const OurDownload ours = ourDownload(client, phone, folder / "ours.wav");
        best.receive = std::min(best.receive, ours.receive);
        best.commit = std::min(best.commit, ours.commit);
        best.peakGrowthMiB = std::max(best.peakGrowthMiB, ours.peakGrowthMiB);
        theirs = std::min(theirs, curlDownload(phone, folder / "curl.wav"));
    }
    fs::remove_all(folder);
    const double megabytes = sampleBytes / 1e6;
    std::printf("download 200 MB streamed to a file (best of %d): ours %.3f s (%.0f MB/s), curl -o %.3f s "
                "(%.0f MB/s), time ratio ours/curl %.3f\n",
                rounds, best.receive, megabytes / best.receive, theirs, megabytes / theirs,
                best.receive / theirs);
    std::printf("  then the flush and rename that put the file in place: %.3f s (curl -o flushes nothing)\n",
                best.commit);
    std::printf("  peak resident growth during a download (worst round): %.1f MB = %.3f x the body\n",
                best.peakGrowthMiB, best.peakGrowthMiB * 1024 * 1024 / sampleBytes);
    return {best.receive / theirs, best.peakGrowthMiB, best.commit};
}

// Two /24 networks with a phone on each, swept at once; returns the best wall time.
double benchSweep() {
    const std::string prefix = vt::test::uniqueLoopbackPrefix();
    const std::string neighbour = vt::test::neighbourLoopbackPrefix(prefix);
    FakePhone first(prefix + ".5");
    FakePhone second(neighbour + ".200", first.port());
    second.setIdentity(std::string("SECOND"), std::string("Other Phone"));
    const vt::net::FixedInterfaceSource source(std::vector<vt::net::InterfaceAddress>{
        {"bench0", IFF_UP, vt::net::SocketAddress::numeric(prefix + ".9", 0)},
        {"bench1", IFF_UP, vt::net::SocketAddress::numeric(neighbour + ".9", 0)}});
    vt::QtScheduler scheduler;
    VellumtideLANScanner scanner(scheduler, source, first.port());
    double best = 1e9;
    std::size_t found = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer watch;
        watch.start();
        auto outcome = vt::test::runTask<std::vector<VellumtideDevice>>([&] { return scanner.scan(); });
        best = std::min(best, watch.nsecsElapsed() / 1e9);
        found = outcome.value ? outcome.value->size() : 0;
    }
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    std::printf("sweep of %s.1-254 and %s.1-254 with 2 fake phones (best of 3): %.3f s, %zu found, "
                "%zu probes in flight (open-file limit %llu); ratio to the 0.45 s probe time-out %.3f\n",
                prefix.c_str(), neighbour.c_str(), best, found,
                VellumtideLANScanner::probesInFlight(static_cast<std::size_t>(limit.rlim_cur)),
                static_cast<unsigned long long>(limit.rlim_cur), best / VellumtideLANScanner::probeTimeout);
    return best;
}

} // namespace

int main() {
    vt::test::testApplication();
    const DownloadFigures download = benchDownload();
    const double sweepSeconds = benchSweep();
    std::printf("BENCH download_time_ratio_to_curl=%.3f download_peak_growth_mb=%.1f download_fsync_s=%.3f "
                "sweep_two_24_s=%.3f sweep_ratio_to_probe_timeout=%.3f\n",
                download.timeRatioToCurl, download.peakGrowthMiB, download.fsyncSeconds, sweepSeconds,
                sweepSeconds / VellumtideLANScanner::probeTimeout);
    return 0;
}
