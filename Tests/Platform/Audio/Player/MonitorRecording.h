#pragma once
// Hearing what was played: a recording of the test PulseAudio server's null sink through its
// monitor (parecord), and a measure of how long and at what pitch it was loud. For tests that
// run with the services of scripts/test-services.sh (VT_TEST_PULSE set).

#include "Tests/Support/Patience.h"

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
#include <optional>
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
        process.waitForStarted(patienceMilliseconds);
        waitUntilRecorded(8192.0 / bytesPerSecond);
        began = std::chrono::steady_clock::now();
        recordedAtStart = recordedSeconds();
    }
    ~MonitorRecording() {
        if (process.state() != QProcess::NotRunning)
            finish();
    }
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;

    // Stops the recording once it holds everything played until now, and 0.3 s more for the sound
    // still in the server's buffers (however late the recorder runs); left-channel samples, -1...1.
    std::vector<double> finish() {
        const std::chrono::duration<double> since = std::chrono::steady_clock::now() - began;
        waitUntilRecorded(recordedAtStart + since.count() + 0.3);
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        process.waitForFinished(patienceMilliseconds);
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
    static constexpr double bytesPerSecond = monitorRate * 2 * 2; // 16-bit stereo

    // The seconds of sound in the file so far.
    double recordedSeconds() const {
        std::error_code error;
        const auto size = std::filesystem::file_size(file, error);
        return error ? 0 : double(size) / bytesPerSecond;
    }
    // parecord takes a moment to connect; the monitor then delivers continuously (silence
    // included), so the file grows at the pace of the clock once the recording runs.
    void waitUntilRecorded(double seconds) const {
        const auto limit = std::chrono::steady_clock::now() + patience;
        while (recordedSeconds() < seconds && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    std::filesystem::path file;
    QProcess process;
    std::chrono::steady_clock::time_point began;
    double recordedAtStart = 0;
};

// Seconds of the recording whose 10 ms blocks are loud, and the frequency there: from the usual
// distance between zero crossings, which a gap in the sound (a server that fell behind on a busy
// machine) does not shift.
struct Loudness {
    double seconds = 0;
    double frequency = 0;
};

inline Loudness measureLoudness(const std::vector<double>& samples, double threshold = 0.1) {
    Loudness result;
    size_t block = 480, loudBlocks = 0;
    std::vector<size_t> halfPeriods; // samples between neighbouring crossings within loud blocks
    for (size_t start = 0; start + block <= samples.size(); start += block) {
        double energy = 0;
        for (size_t i = start; i < start + block; ++i)
            energy += samples[i] * samples[i];
        if (std::sqrt(energy / block) < threshold)
            continue;
        ++loudBlocks;
        std::optional<size_t> lastCrossing;
        for (size_t i = std::max<size_t>(start, 1); i < start + block; ++i) {
            if ((samples[i - 1] < 0) == (samples[i] < 0))
                continue;
            if (lastCrossing)
                halfPeriods.push_back(i - *lastCrossing);
            lastCrossing = i;
        }
    }
    result.seconds = loudBlocks * block / monitorRate;
    if (!halfPeriods.empty()) {
        std::nth_element(halfPeriods.begin(), halfPeriods.begin() + halfPeriods.size() / 2,
                         halfPeriods.end());
        result.frequency = monitorRate / (2.0 * halfPeriods[halfPeriods.size() / 2]);
    }
    return result;
}

} // namespace vt::test
