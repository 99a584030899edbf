// Chop detection of BridgeSampleRenderer: a 10 ms level envelope read from the file in blocks,
// onsets picked on its novelty, and chops that tile the sample from its first audible moment.

#include "Platform/Core/Uuid.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

using RenderError = BridgeSampleRenderer::RenderError;

constexpr double shortestSample = 0.08;
constexpr double shortestChop = 0.075;
constexpr double onsetLead = 0.012;
constexpr std::size_t maximumOnsets = 63;

// Sensitivity-dependent thresholds, s clamped to 0…1.
struct ChopThresholds {
    float activityLevel;
    double noveltyPercentile;
    float levelGate;
    double minimumSpacing;

    explicit ChopThresholds(double s)
        : activityLevel(std::max(0.055f - 0.03f * static_cast<float>(s), 0.018f)),
          noveltyPercentile(0.94 - 0.24 * s),
          levelGate(std::max(0.06f - 0.035f * static_cast<float>(s), 0.022f)),
          minimumSpacing(std::max(0.22 - 0.13 * s, 0.055)) {}
};

struct Onset {
    double time;
    double strength;
};

// Builds the envelope one hop at a time from blocks of any length.
class EnvelopeBuilder {
public:
    explicit EnvelopeBuilder(std::size_t hop) : hop(hop) {}

    void add(const std::vector<std::vector<float>>& channels, std::size_t frames) {
        for (std::size_t i = 0; i < frames; ++i) {
            float framePeak = 0;
            for (const auto& channel : channels)
                framePeak = std::max(framePeak, std::fabs(channel[i]));
            blockPeak = std::max(blockPeak, framePeak);
            blockSquares += framePeak * framePeak;
            if (++blockFrames == hop)
                finishBlock();
        }
    }

    std::vector<float> finish() {
        if (blockFrames > 0)
            finishBlock();
        return std::move(envelope);
    }

private:
    void finishBlock() {
        const float rms = std::sqrt(blockSquares / static_cast<float>(blockFrames));
        envelope.push_back(std::min(0.72f * blockPeak + 1.28f * rms, 1.0f));
        blockPeak = 0;
        blockSquares = 0;
        blockFrames = 0;
    }

    std::size_t hop;
    std::size_t blockFrames = 0;
    float blockPeak = 0;
    float blockSquares = 0;
    std::vector<float> envelope;
};

std::vector<float> smoothedEnvelope(const std::vector<float>& envelope, float maximum) {
    const std::size_t n = envelope.size();
    std::vector<float> normalised(n);
    for (std::size_t i = 0; i < n; ++i)
        normalised[i] = std::min(envelope[i] / maximum, 1.0f);
    std::vector<float> smoothed(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = i >= 2 ? i - 2 : 0;
        const std::size_t to = std::min(i + 2, n - 1);
        float sum = 0;
        for (std::size_t j = from; j <= to; ++j)
            sum += normalised[j];
        smoothed[i] = sum / static_cast<float>(to - from + 1);
    }
    return smoothed;
}

std::vector<float> noveltyOf(const std::vector<float>& sm) {
    std::vector<float> novelty(sm.size(), 0.0f);
    for (std::size_t i = 1; i < sm.size(); ++i) {
        const float reference = std::max(0.92f * sm[i - 1], 0.62f * sm[i >= 4 ? i - 4 : 0]);
        novelty[i] = std::max(0.0f, sm[i] - reference);
    }
    return novelty;
}

std::vector<Onset> pickOnsets(const std::vector<float>& novelty, const std::vector<float>& sm,
                              float threshold, float peakNovelty, double hop, const ChopThresholds& limits) {
    std::vector<Onset> onsets;
    double last = -limits.minimumSpacing;
    for (std::size_t i = 1; i + 1 < novelty.size(); ++i) {
        const double at = hop * static_cast<double>(i);
        const bool isPeak = novelty[i - 1] <= novelty[i] && novelty[i + 1] < novelty[i];
        if (isPeak && novelty[i] >= threshold && sm[i] >= limits.levelGate &&
            at - last >= limits.minimumSpacing) {
            onsets.push_back({std::max(at - onsetLead, 0.0), static_cast<double>(novelty[i] / peakNovelty)});
            last = at;
            if (onsets.size() == maximumOnsets)
                break;
        }
    }
    return onsets;
}

} // namespace

std::vector<BridgeSampleChop> BridgeSampleRenderer::makeChops(const std::vector<float>& envelope,
                                                              double duration, double hopDuration,
                                                              double sensitivity) {
    const std::size_t n = envelope.size();
    if (n < 4)
        return {};
    const float maximum = *std::max_element(envelope.begin(), envelope.end());
    const double s = std::isnan(sensitivity) ? 0.0 : std::clamp(sensitivity, 0.0, 1.0);
    if (!(maximum > 0.006f))
        return {};
    const ChopThresholds limits(s);
    const std::vector<float> sm = smoothedEnvelope(envelope, maximum);
    const auto active = std::find_if(sm.begin(), sm.end(), [&](float v) { return v > limits.activityLevel; });
    const std::size_t firstActive = active == sm.end() ? 0 : static_cast<std::size_t>(active - sm.begin());
    const std::vector<float> novelty = noveltyOf(sm);

    std::vector<float> positive;
    positive.reserve(n);
    for (const float value : novelty) {
        if (value > 0.001f)
            positive.push_back(value);
    }
    if (positive.empty())
        return {};
    std::sort(positive.begin(), positive.end());
    const float peakNovelty = positive.back();
    if (peakNovelty <= 0.012f)
        return {};
    const auto index = static_cast<std::size_t>(
        std::floor(limits.noveltyPercentile * static_cast<double>(positive.size() - 1)));
    const float threshold = std::max(positive[std::min(index, positive.size() - 1)], 0.022f);

    const std::vector<Onset> onsets = pickOnsets(novelty, sm, threshold, peakNovelty, hopDuration, limits);
    if (onsets.empty())
        return {};
    std::vector<Onset> boundaries{
        {std::max(hopDuration * static_cast<double>(firstActive) - onsetLead, 0.0), 1.0}};
    for (const Onset& onset : onsets) {
        if (onset.time - boundaries.back().time >= shortestChop)
            boundaries.push_back(onset);
    }
    if (boundaries.size() < 2)
        return {};
    std::vector<BridgeSampleChop> chops;
    for (std::size_t k = 0; k < boundaries.size(); ++k) {
        const double start = boundaries[k].time;
        const double next = k + 1 < boundaries.size() ? boundaries[k + 1].time : duration;
        const double end = std::min(std::max(start + shortestChop, next), duration);
        if (end - start >= shortestChop) {
            chops.push_back(BridgeSampleChop{vt::Uuid::random(), static_cast<std::int64_t>(chops.size()),
                                             start, end, boundaries[k].strength});
        }
    }
    return chops;
}

std::vector<BridgeSampleChop>
BridgeSampleRenderer::detectChopsSynchronously(const std::filesystem::path& inputPath, double sensitivity) {
    vt::AudioFileReader reader(inputPath);
    const double rate = std::max(reader.sampleRate(), 1.0);
    const auto hop = static_cast<std::size_t>(std::max(std::round(rate * 0.01), 128.0));
    try {
        EnvelopeBuilder builder(hop);
        std::vector<std::vector<float>> block;
        std::int64_t length = 0;
        while (const std::size_t got = reader.read(block, hop * 256)) {
            length += static_cast<std::int64_t>(got);
            if (length > maximumFrames)
                throw RenderError(RenderError::Code::unsupportedLength);
            builder.add(block, got);
        }
        const double duration = static_cast<double>(length) / rate;
        if (duration < shortestSample || reader.channelCount() < 1)
            return {};
        return makeChops(builder.finish(), duration, static_cast<double>(hop) / rate, sensitivity);
    } catch (const std::bad_alloc&) {
        throw RenderError(RenderError::Code::unreadableAudio);
    }
}
