// The plug-in's read of a library of 10,000 samples (every tenth with three chops), as the
// desktop program's own writer writes it: both files read, decoded and merged, every audio file
// checked. The peer is the system Python's json module loading the same two files, timed inside
// its own process.

#include "Tests/VellumtideAU/Window/WindowTestSupport.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginLibrary.h"
#include "bench/Support/BridgeWrittenLibrary.h"
#include "bench/Support/SystemPython.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::size_t sampleCount = 10'000;
constexpr int runs = 7;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds Python takes to load both files, as its own process reports them; 0 without Python.
double pythonLoad(const std::filesystem::path& folder) {
    if (vt::bench::systemPython3().empty())
        return 0;
    const std::string command = "'" + vt::bench::systemPython3() +
                                "' -c 'import json, sys, time\n"
                                "start = time.perf_counter()\n"
                                "json.load(open(sys.argv[1]))\n"
                                "json.load(open(sys.argv[2]))\n"
                                "print((time.perf_counter() - start) * 1000)' '" +
                                (folder / "library.json").string() + "' '" +
                                (folder / "bridge-metadata.json").string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return 0;
    double milliseconds = 0;
    if (std::fscanf(pipe, "%lf", &milliseconds) != 1)
        milliseconds = 0;
    ::pclose(pipe);
    return milliseconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    vt::test::WindowFixture fixture;
    vt::bench::writeBridgeLibrary(fixture, sampleCount);
    const auto bytes = std::filesystem::file_size(fixture.libraryFolder / "library.json") +
                       std::filesystem::file_size(fixture.libraryFolder / "bridge-metadata.json");

    VellumtidePluginLibrary library(fixture.services.libraryEnvironment);
    std::vector<double> ours, python;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        library.refresh();
        ours.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        python.push_back(pythonLoad(fixture.libraryFolder));
    }
    const double read = median(ours);
    const double peer = median(python);
    std::printf("plug-in library read, %zu samples (%.1f MB in both files), median of %d: %.3f ms "
                "(goal: faster than the peer)\n",
                library.samples().size(), double(bytes) / 1e6, runs, read);
    std::printf("peer: python3 json.load of both files, in its own process: %.3f ms; peer / ours %.2f\n",
                peer, read > 0 ? peer / read : 0.0);
    std::printf("BENCH plugin_read_ms_10k=%.3f python_load_ms_10k=%.3f plugin_read_speed_vs_python=%.3f\n",
                read, peer, read > 0 ? peer / read : 0.0);
    return library.samples().size() == sampleCount && peer > 0 ? 0 : 1;
}
