// Phone-link figures on loopback:
//  1. download of a 200 MB sample from the fake phone (request, read to the end, write the file)
//     against `curl -o` of the same URL from the same server, and the library's fsync'd save apart;
//  2. wall time of a sweep of two /24 networks with a fake phone on each, against the 0.45 s probe
//     time-out.

#include "Platform/Async/Scheduler.h"
#include "Platform/Core/AtomicFile.h"
#include "Tests/Support/FakePhone/FakePhone.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideLANScanner.h"

#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <net/if.h>
#include <sys/resource.h>
#include <unistd.h>

using vt::test::FakePhone;

namespace {

constexpr std::uint64_t sampleBytes = 200ull * 1000 * 1000;

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Timing {
    double receive = 0;     // request until the body is in memory
    double plainWrite = 0;  // then written to a file as curl -o does (no fsync)
    double atomicWrite = 0; // or as the library saves it (temporary name, fsync, rename)
};

double secondsSince(const QElapsedTimer& watch) {
    return watch.nsecsElapsed() / 1e9;
}

void writePlainly(const std::filesystem::path& target, const std::string& bytes) {
    std::FILE* file = std::fopen(target.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
        std::fprintf(stderr, "plain write failed\n");
        std::exit(1);
    }
}

Timing ourDownload(VellumtideHTTPClient& client, const FakePhone& phone,
                   const std::filesystem::path& target) {
    QElapsedTimer watch;
    watch.start();
    auto outcome = vt::test::runTask<std::string>(
        [&] {
            return client.get("/samples/big.wav", phone.endpoint(), 8.0, {{"X-Vellumtide-Token", "token-1"}});
        },
        std::chrono::seconds(120));
    if (!outcome.value || outcome.value->size() != sampleBytes) {
        std::fprintf(stderr, "download failed: %s\n", vt::test::errorText(outcome.error).c_str());
        std::exit(1);
    }
    Timing timing;
    timing.receive = secondsSince(watch);
    watch.restart();
    writePlainly(target, *outcome.value);
    timing.plainWrite = secondsSince(watch);
    watch.restart();
    vt::writeFileAtomically(target, *outcome.value);
    timing.atomicWrite = secondsSince(watch);
    return timing;
}

double curlDownload(const FakePhone& phone, const std::filesystem::path& target) {
    QElapsedTimer watch;
    watch.start();
    QProcess curl;
    const QString url = QString("http://%1:%2/samples/big.wav")
                            .arg(QString::fromStdString(phone.address()))
                            .arg(phone.port());
    curl.start("curl", {"-s", "-f", "-H", "X-Vellumtide-Token: token-1", "-o",
                        QString::fromStdString(target.string()), url});
    curl.waitForFinished(120000);
    const double seconds = watch.nsecsElapsed() / 1e9;
    if (curl.exitCode() != 0 || std::filesystem::file_size(target) != sampleBytes) {
        std::fprintf(stderr, "curl failed\n");
        std::exit(1);
    }
    return seconds;
}

void benchDownload() {
    FakePhone phone;
    phone.setGeneratedFile("big.wav", sampleBytes);
    vt::QtScheduler scheduler;
    VellumtideHTTPClient client(scheduler);
    const auto folder =
        std::filesystem::temp_directory_path() / ("vt-phone-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const long baseline = peakResidentKiB();
    Timing best{1e9, 1e9, 1e9};
    double theirs = 1e9, oursLikeCurl = 1e9;
    constexpr int rounds = 3;
    for (int round = 0; round < rounds; ++round) {
        const Timing timing = ourDownload(client, phone, folder / "ours.wav");
        best.receive = std::min(best.receive, timing.receive);
        best.plainWrite = std::min(best.plainWrite, timing.plainWrite);
        best.atomicWrite = std::min(best.atomicWrite, timing.atomicWrite);
        oursLikeCurl = std::min(oursLikeCurl, timing.receive + timing.plainWrite);
        theirs = std::min(theirs, curlDownload(phone, folder / "curl.wav"));
    }
    const long peak = peakResidentKiB();
    std::filesystem::remove_all(folder);
    const double megabytes = sampleBytes / 1e6;
    std::printf(
        "download 200 MB to a file (best of %d): ours %.3f s (%.0f MB/s), curl -o %.3f s (%.0f MB/s), "
        "time ratio ours/curl %.3f\n",
        rounds, oursLikeCurl, megabytes / oursLikeCurl, theirs, megabytes / theirs, oursLikeCurl / theirs);
    std::printf(
        "  receiving into memory alone %.3f s (ratio to curl %.3f); the library's own save (temporary "
        "name, fsync, rename) instead of the plain write takes %.3f s, an fsync curl -o does not do\n",
        best.receive, best.receive / theirs, best.atomicWrite);
    std::printf("download peak memory growth %.1f MB = %.2f x the body\n", (peak - baseline) / 1024.0,
                (peak - baseline) * 1024.0 / sampleBytes);
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
    benchDownload();
    const double sweepSeconds = benchSweep();
    std::printf("BENCH sweep_two_24_s=%.3f sweep_ratio_to_probe_timeout=%.3f\n", sweepSeconds,
                sweepSeconds / VellumtideLANScanner::probeTimeout);
    return 0;
}
