#pragma once
// Tempo, root-note and key estimates of one audio file, each with a confidence of 0 to 0.99.
// Stateless: analyzeSynchronously does the work; analyze runs it on the low-priority pool and is
// awaited from the main thread.

#include "Platform/Core/Dates.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <array>
#include <filesystem>
#include <optional>
#include <qcoro/qcorotask.h>
#include <string>
#include <utility>
#include <vector>

struct BridgeSampleAnalyzer {
    BridgeSampleAnalyzer() = delete;

    static const std::array<const char*, 12> noteNames;
    static const std::array<double, 12> majorProfile;
    static const std::array<double, 12> minorProfile;

    using Estimate = std::optional<std::pair<std::string, double>>;
    struct TonalContent {
        Estimate root;
        Estimate key;
    };
    struct MonoAudio {
        std::vector<float> samples;
        double sampleRate = 1;
    };

    // The analysis of the file's first 90 s; sourceFingerprint stays absent and analyzedAt is
    // the clock's time when the work began. Throws vt::AudioFileError when the file cannot be
    // opened or read.
    static BridgeSampleAnalysis analyzeSynchronously(const std::filesystem::path& path,
                                                     const vt::WallClock& clock);
    static QCoro::Task<BridgeSampleAnalysis> analyze(std::filesystem::path path);

    // The mean of all channels over at most maxDuration seconds, its DC offset removed.
    static MonoAudio loadMonoAudio(const std::filesystem::path& path, double maxDuration);
    // Tempo estimate of a mono signal: (BPM, confidence), or nothing when there is no clear beat.
    static std::optional<std::pair<double, double>> detectTempo(const std::vector<float>& samples,
                                                                double sampleRate);
    static TonalContent detectTonalContent(const std::vector<float>& samples, double sampleRate);
    static Estimate detectKey(const std::array<double, 12>& chroma);
    // Pearson correlation of the chroma with the profile turned so that its tonic lies on root.
    static double correlation(const std::array<double, 12>& chroma, const std::array<double, 12>& profile,
                              int root);
    // The signal averaged over blocks of about 12 kHz, with its new rate.
    static MonoAudio decimate(MonoAudio audio);
};
