// Phone-link figures:
//  1. download of a 200 MB sample from the fake phone into a folder, as the sync stores it
//     (streamed into a temporary, flushed to disk, renamed onto the file) by phonelink_fetch, a
//     process running our HTTP client, against `curl -o` followed by `sync FILE`, both run as
//     processes. The phone listens in a network namespace of the bench's own and the downloads
//     run in a second one, joined by a veth pair; where the machine does not allow that, both
//     sides use loopback (the output says which). The peak memory growth of a download and the
//     time of its flush and rename are taken from an in-process download apart;
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
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <net/if.h>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using vt::test::FakePhone;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t sampleBytes = 200ull * 1000 * 1000;
constexpr int rounds = 7;
constexpr const char* token = "token-1";

double secondsSince(const QElapsedTimer& watch) {
    return watch.nsecsElapsed() / 1e9;
}

[[noreturn]] void failBench(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

// Runs a program to its end (two minutes at most); true when it exited with 0.
bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Two network namespaces of the bench's own joined by a veth pair: the phone listens in one, the
// downloads run in the other, so the bytes cross a network device as a phone's would. The
// calling thread moves between them; the processes it starts run where it is.
class NamespacePair {
public:
    static constexpr const char* phoneAddress = "10.231.77.1";

    // Nothing when the machine does not allow it (no ip command, no right to make namespaces).
    static std::unique_ptr<NamespacePair> create() {
        std::unique_ptr<NamespacePair> pair(new NamespacePair);
        const QString phone = pair->phone, computer = pair->computer;
        pair->home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const bool made =
            pair->home >= 0 && run("ip", {"netns", "add", phone}) && run("ip", {"netns", "add", computer}) &&
            run("ip", {"-n", phone, "link", "add", "vtphone0", "type", "veth", "peer", "name", "vtcomputer0",
                       "netns", computer}) &&
            run("ip", {"-n", phone, "addr", "add", QString(phoneAddress) + "/30", "dev", "vtphone0"}) &&
            run("ip", {"-n", computer, "addr", "add", "10.231.77.2/30", "dev", "vtcomputer0"}) &&
            run("ip", {"-n", phone, "link", "set", "vtphone0", "up"}) &&
            run("ip", {"-n", computer, "link", "set", "vtcomputer0", "up"}) &&
            run("ip", {"-n", phone, "link", "set", "lo", "up"}) &&
            run("ip", {"-n", computer, "link", "set", "lo", "up"});
        return made ? std::move(pair) : nullptr;
    }
    ~NamespacePair() {
        if (home >= 0) {
            ::setns(home, CLONE_NEWNET);
            ::close(home);
        }
        // Also at exit after a failure, when no event loop may be left: a plain shell command.
        for (const QString& name : {phone, computer}) // the veth pair goes with them
            std::system(("ip netns del " + name.toStdString() + " 2>/dev/null").c_str());
    }

    void enterPhone() { enter("/run/netns/" + phone.toStdString()); }
    void enterComputer() { enter("/run/netns/" + computer.toStdString()); }

private:
    NamespacePair() = default;
    static void enter(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0)
            failBench("cannot enter " + path);
        ::close(fd);
    }

    QString phone = QString("vt-bench-phone-%1").arg(getpid());
    QString computer = QString("vt-bench-computer-%1").arg(getpid());
    int home = -1;
};

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

struct InProcessDownload {
    double commit = 0; // fsync of the temporary and its rename onto the file
    double peakGrowthMiB = 0;
};

// Our client in this process: the memory a download takes, and its flush and rename timed apart.
InProcessDownload inProcessDownload(VellumtideHTTPClient& client, const FakePhone& phone,
                                    const fs::path& target) {
    const long before = residentKiB();
    ResidentPeak peak;
    auto file = std::make_shared<VellumtideDownloadFile>(target);
    auto outcome = vt::test::runTask<std::uint64_t>(
        [&] {
            return client.receive("/samples/big.wav", phone.endpoint(), 8.0, {{"X-Vellumtide-Token", token}},
                                  file);
        },
        std::chrono::seconds(120));
    InProcessDownload figures;
    figures.peakGrowthMiB = (peak.stop() - before) / 1024.0;
    if (!outcome.value || *outcome.value != sampleBytes)
        failBench("download failed: " + vt::test::errorText(outcome.error));
    QElapsedTimer watch;
    watch.start();
    file->commit();
    figures.commit = secondsSince(watch);
    if (fs::file_size(target) != sampleBytes)
        failBench("downloaded file has the wrong size");
    return figures;
}

// phonelink_fetch: the whole download as the sync makes it, flush and rename included.
double ourDownload(const FakePhone& phone, const fs::path& target) {
    const QString fetch = QCoreApplication::applicationDirPath() + "/phonelink_fetch";
    QElapsedTimer watch;
    watch.start();
    const bool fetched = run(fetch, {QString::fromStdString(phone.address()), QString::number(phone.port()),
                                     "/samples/big.wav", token, QString::fromStdString(target.string())});
    const double seconds = secondsSince(watch);
    if (!fetched || fs::file_size(target) != sampleBytes)
        failBench("phonelink_fetch failed");
    return seconds;
}

// curl -o, then sync FILE to put the file on disk as ours does.
double curlDownload(const FakePhone& phone, const fs::path& target) {
    const QString url = QString("http://%1:%2/samples/big.wav")
                            .arg(QString::fromStdString(phone.address()))
                            .arg(phone.port());
    const QString file = QString::fromStdString(target.string());
    QElapsedTimer watch;
    watch.start();
    const bool fetched =
        run("curl", {"-s", "-f", "-H", QString("X-Vellumtide-Token: ") + token, "-o", file, url}) &&
        run("sync", {file});
    const double seconds = secondsSince(watch);
    if (!fetched || fs::file_size(target) != sampleBytes)
        failBench("curl failed");
    return seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct DownloadFigures {
    double timeRatioToCurlSync = 0;
    double peakGrowthMiB = 0;
    double fsyncSeconds = 0;
    bool overVeth = false;
};

// The in-process figures: the worst memory growth and the best flush and rename of two rounds.
void measureInProcess(const FakePhone& phone, const fs::path& folder, DownloadFigures& figures) {
    vt::QtScheduler scheduler;
    VellumtideHTTPClient client(scheduler);
    figures.fsyncSeconds = 1e9;
    for (int round = 0; round < 2; ++round) {
        fs::remove(folder / "in-process.wav");
        const InProcessDownload download = inProcessDownload(client, phone, folder / "in-process.wav");
        figures.fsyncSeconds = std::min(figures.fsyncSeconds, download.commit);
        figures.peakGrowthMiB = std::max(figures.peakGrowthMiB, download.peakGrowthMiB);
    }
    fs::remove(folder / "in-process.wav");
}

// The namespaces of the download, removed at the end of it, or at exit when the bench fails.
std::unique_ptr<NamespacePair> namespaces;

DownloadFigures benchDownload() {
    namespaces = NamespacePair::create();
    if (namespaces)
        namespaces->enterPhone();
    auto phone = std::make_unique<FakePhone>(namespaces ? NamespacePair::phoneAddress : "127.0.0.1");
    if (namespaces)
        namespaces->enterComputer();
    phone->setGeneratedFile("big.wav", sampleBytes);
    std::printf("download of 200 MB from the fake phone %s\n",
                namespaces ? "over a veth pair between two network namespaces of the bench's own"
                           : "over loopback (network namespaces are not available here)");
    const auto folder = fs::temp_directory_path() / ("vt-phone-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    DownloadFigures figures;
    figures.overVeth = namespaces != nullptr;
    measureInProcess(*phone, folder, figures);

    // Ours and curl's take turns into fresh files; the medians make the ratio.
    std::vector<double> ours, theirs;
    for (int round = 0; round < rounds; ++round) {
        fs::remove(folder / "ours.wav");
        fs::remove(folder / "curl.wav");
        ours.push_back(ourDownload(*phone, folder / "ours.wav"));
        theirs.push_back(curlDownload(*phone, folder / "curl.wav"));
    }
    fs::remove_all(folder);
    phone.reset();
    namespaces.reset();
    const double megabytes = sampleBytes / 1e6;
    const double oursBest = *std::min_element(ours.begin(), ours.end());
    const double theirsBest = *std::min_element(theirs.begin(), theirs.end());
    figures.timeRatioToCurlSync = median(ours) / median(theirs); // steadier than the best of a few
    std::printf(
        "  into a file on disk, flushed, each a process (%d rounds; best, median): phonelink_fetch %.3f s "
        "(%.0f MB/s), %.3f s; curl -o then sync FILE %.3f s (%.0f MB/s), %.3f s; time ratio ours/curl of "
        "the medians %.3f (of the best %.3f)\n",
        rounds, oursBest, megabytes / oursBest, median(ours), theirsBest, megabytes / theirsBest,
        median(theirs), figures.timeRatioToCurlSync, oursBest / theirsBest);
    std::printf(
        "  of ours, the flush and rename that put the file in place: %.3f s (in-process, best of 2)\n",
        figures.fsyncSeconds);
    std::printf(
        "  peak resident growth during an in-process download (worst of 2): %.1f MB = %.3f x the body\n",
        figures.peakGrowthMiB, figures.peakGrowthMiB * 1024 * 1024 / sampleBytes);
    return figures;
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
    std::printf(
        "BENCH download_time_ratio_to_curl_sync=%.3f download_over_veth=%d download_peak_growth_mb=%.1f "
        "download_fsync_s=%.3f sweep_two_24_s=%.3f sweep_ratio_to_probe_timeout=%.3f\n",
        download.timeRatioToCurlSync, download.overVeth ? 1 : 0, download.peakGrowthMiB,
        download.fsyncSeconds, sweepSeconds, sweepSeconds / VellumtideLANScanner::probeTimeout);
    return 0;
}
