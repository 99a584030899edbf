#pragma once
// Hearing what was played: a recording of the test PulseAudio server's null sink through its
// monitor (parecord), and a measure of how long and at what pitch it was loud. For tests that
// run with the services of scripts/test-services.sh (VT_TEST_PULSE set).

#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace vt::test {

constexpr double monitorRate = 48000;

// parecord on the null sink's monitor, ended with SIGINT so the WAV header is finalised.
class MonitorRecording {
public:
    explicit MonitorRecording(std::filesystem::path file) : file(std::move(file)) {
        process.start("parecord",
                      {"-d", "vt_null.monitor", "--latency-msec=20", "--file-format=wav", "--format=s16le",
                       "--rate=48000", "--channels=2", QString::fromStdString(this->file.string())});
        process.waitForStarted(5000);
        waitUntilRecording();
    }
    ~MonitorRecording() {
        if (process.state() != QProcess::NotRunning)
            finish();
    }
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;

    // Stops the recording; left-channel samples, -1...1.
    std::vector<double> finish() {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        process.waitForFinished(5000);
        std::ifstream in(file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<double> left;
        auto data = bytes.find("data");
        if (data == std::string::npos)
            return left;
        for (size_t i = data + 8; i + 4 <= bytes.size(); i += 4) {
            int16_t value;
            std::memcpy(&value, bytes.data() + i, 2);
            left.push_back(value / 32768.0);
        }
        return left;
    }

private:
    // parecord takes a moment to connect; the monitor then delivers continuously (silence
    // included), so the file grows once the recording runs.
    void waitUntilRecording() {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::error_code error;
        while (std::chrono::steady_clock::now() < limit) {
            auto size = std::filesystem::file_size(file, error);
            if (!error && size > 8192)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::filesystem::path file;
    QProcess process;
};

// Seconds of the recording whose 10 ms blocks are loud, and the zero-crossing frequency there.
struct Loudness {
    double seconds = 0;
    double frequency = 0;
};

inline Loudness measureLoudness(const std::vector<double>& samples, double threshold = 0.1) {
    Loudness result;
    size_t block = 480, loudBlocks = 0, crossings = 0;
    for (size_t start = 0; start + block <= samples.size(); start += block) {
        double energy = 0;
        for (size_t i = start; i < start + block; ++i)
            energy += samples[i] * samples[i];
        if (std::sqrt(energy / block) < threshold)
            continue;
        ++loudBlocks;
        // From the block's first sample, so the crossing at each block boundary counts too.
        for (size_t i = std::max<size_t>(start, 1); i < start + block; ++i)
            if ((samples[i - 1] < 0) != (samples[i] < 0))
                ++crossings;
    }
    result.seconds = loudBlocks * block / monitorRate;
    result.frequency = result.seconds > 0 ? crossings / 2.0 / result.seconds : 0;
    return result;
}

} // namespace vt::test
