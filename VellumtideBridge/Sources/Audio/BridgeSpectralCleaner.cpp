#include "VellumtideBridge/Sources/Audio/BridgeSpectralCleaner.h"

#include "Platform/Audio/Fft.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

using RenderError = BridgeSampleRenderer::RenderError;

constexpr std::size_t shortestChannel = 512;
constexpr float magnitudeFloor = 0.000001f;
constexpr float lowCutCorner = 28.0f;
constexpr float lowestLowCut = 0.15f;

float clampUnit(float value) {
    return std::clamp(value, -1.0f, 1.0f);
}

std::vector<float> hannWindow(std::size_t size) {
    std::vector<float> window(size);
    const auto last = static_cast<float>(size - 1);
    for (std::size_t i = 0; i < size; ++i)
        window[i] = 0.5f - 0.5f * std::cos(6.2831853f * static_cast<float>(i) / last);
    return window;
}

float magnitudeOfBin(const std::vector<float>& real, const std::vector<float>& imag, std::size_t k,
                     std::size_t half) {
    if (k == 0)
        return std::fabs(real[0]);
    if (k == half)
        return std::fabs(imag[0]);
    return std::sqrt(real[k] * real[k] + imag[k] * imag[k]);
}

// The per-frame working arrays of one channel, allocated once.
struct ChannelWork {
    std::size_t size;
    std::size_t half;
    std::vector<float> window;
    vt::RealFft fft;
    std::vector<float> frame;
    std::vector<float> real;
    std::vector<float> imag;

    explicit ChannelWork(std::size_t n)
        : size(n), half(n / 2), window(hannWindow(n)), fft(static_cast<int>(n)), frame(n), real(n / 2),
          imag(n / 2) {}

    // Windows the samples of the frame at start (zero-padded to the transform size) and
    // transforms them into real and imag.
    void transform(const std::vector<float>& x, std::size_t start) {
        const std::size_t length = std::min(start + size, x.size()) - start;
        for (std::size_t i = 0; i < length; ++i)
            frame[i] = x[start + i] * window[i];
        std::fill(frame.begin() + static_cast<std::ptrdiff_t>(length), frame.end(), 0.0f);
        fft.forward(frame.data(), real.data(), imag.data());
    }
};

float frameRms(const std::vector<float>& x, std::size_t start, std::size_t size) {
    const std::size_t end = std::min(start + size, x.size());
    if (end <= start)
        return 0;
    float sum = 0;
    for (std::size_t i = start; i < end; ++i)
        sum += x[i] * x[i];
    return std::sqrt(sum / static_cast<float>(end - start));
}

struct LevelStatistics {
    float quiet;
    float median;
    float loud;
};

LevelStatistics levelStatistics(std::vector<float> rms) {
    std::sort(rms.begin(), rms.end());
    const float quiet = std::max(1.8f * rms.front(), BridgeSpectralCleaner::percentile(rms, 0.24));
    const float median = std::max(BridgeSpectralCleaner::percentile(rms, 0.5), magnitudeFloor);
    const float loud = std::max(BridgeSpectralCleaner::percentile(rms, 0.86), 4.5f * median);
    return {quiet, median, loud};
}

std::vector<float> noiseProfile(const std::vector<float>& x, double rate, ChannelWork& work,
                                const std::vector<std::size_t>& starts, const std::vector<float>& rms,
                                const LevelStatistics& levels) {
    const std::size_t n = x.size();
    const auto edge = static_cast<std::size_t>(std::floor(rate * 0.45));
    const std::size_t lateEdge = n > edge ? n - edge : 0;
    std::vector<float> profile(work.half + 1, 0.0f);
    std::size_t count = 0;
    for (std::size_t f = 0; f < starts.size(); ++f) {
        const bool isEdge = starts[f] < edge || starts[f] > lateEdge;
        if (rms[f] <= levels.quiet || (isEdge && rms[f] <= 1.35f * levels.median)) {
            work.transform(x, starts[f]);
            BridgeSpectralCleaner::accumulateMagnitude(work.real, work.imag, profile);
            ++count;
        }
    }
    if (count > 0) {
        for (float& value : profile)
            value /= static_cast<float>(count);
    }
    BridgeSpectralCleaner::smoothProfile(profile);
    BridgeSpectralCleaner::smoothProfile(profile);
    return profile;
}

// The summed squared window over every frame covering position j, in frame order; first is the
// earliest frame that may still cover it.
float windowWeight(std::size_t j, std::size_t first, const std::vector<std::size_t>& starts,
                   const std::vector<float>& window) {
    float weight = 0;
    for (std::size_t f = first; f < starts.size() && starts[f] <= j; ++f)
        weight += window[j - starts[f]] * window[j - starts[f]];
    return weight;
}

// The overlap-added output of the frames, written back over the channel as soon as no later frame
// covers a position (no later frame reads it either): only one frame's span is ever held apart.
class OverlapAdder {
public:
    OverlapAdder(std::vector<float>& channel, const std::vector<std::size_t>& starts,
                 const std::vector<float>& window)
        : x(channel), starts(starts), window(window), sum(window.size(), 0.0f) {}

    // Adds frame f's windowed output; frames come in order.
    void add(std::size_t f, const std::vector<float>& frame) {
        settleBefore(starts[f]);
        const std::size_t length = std::min(window.size(), x.size() - starts[f]);
        for (std::size_t i = 0; i < length; ++i)
            sum[i] += window[i] * frame[i];
    }
    void finish() { settleBefore(x.size()); }

private:
    // Writes the finished positions [settledUpTo, end) back, divided by their window weight.
    void settleBefore(std::size_t end) {
        const std::size_t count = end - settledUpTo;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t j = settledUpTo + i;
            while (firstCovering < starts.size() && starts[firstCovering] + window.size() <= j)
                ++firstCovering;
            const float weight = windowWeight(j, firstCovering, starts, window);
            x[j] = weight > magnitudeFloor ? sum[i] / weight : sum[i];
        }
        std::copy(sum.begin() + static_cast<std::ptrdiff_t>(std::min(count, sum.size())), sum.end(),
                  sum.begin());
        std::fill(sum.end() - static_cast<std::ptrdiff_t>(std::min(count, sum.size())), sum.end(), 0.0f);
        settledUpTo = end;
    }

    std::vector<float>& x;
    const std::vector<std::size_t>& starts;
    const std::vector<float>& window;
    std::vector<float> sum; // positions settledUpTo … settledUpTo + window size
    std::size_t settledUpTo = 0;
    std::size_t firstCovering = 0;
};

void denoiseChannel(std::vector<float>& x, double rate) {
    const std::size_t n = x.size();
    const std::size_t size = rate >= 44000 ? 2048 : 1024;
    const std::size_t half = size / 2;
    ChannelWork work(size);
    const auto starts = BridgeSpectralCleaner::frameStarts(n, size, size / 4);
    std::vector<float> rms(starts.size());
    for (std::size_t f = 0; f < starts.size(); ++f)
        rms[f] = frameRms(x, starts[f], size);
    const LevelStatistics levels = levelStatistics(rms);
    const std::vector<float> profile = noiseProfile(x, rate, work, starts, rms, levels);

    const auto binRate = static_cast<float>(std::max(rate, 1.0));
    std::vector<float> previous(half + 1, 1.0f);
    std::vector<float> gains(half + 1);
    OverlapAdder output(x, starts, work.window);
    for (std::size_t f = 0; f < starts.size(); ++f) {
        work.transform(x, starts[f]);
        const bool loud = rms[f] >= levels.loud;
        const float floor = loud ? 0.18f : 0.08f;
        const float over = loud ? 0.9656f : 1.42f;
        for (std::size_t k = 0; k <= half; ++k) {
            const float m = magnitudeOfBin(work.real, work.imag, k, half);
            float gain = floor;
            if (m > magnitudeFloor) {
                const float raw = (m - over * profile[k]) / m;
                gain = raw >= 1.0f ? 1.0f : std::max(raw, floor);
            }
            const float frequency = binRate * static_cast<float>(k) / static_cast<float>(size);
            if (frequency < lowCutCorner)
                gain *= std::max(frequency / lowCutCorner, lowestLowCut);
            gain = std::min(gain, 1.0f);
            const float p = previous[k];
            const float a = p < gain ? 0.48f : 0.82f;
            gains[k] = p * a + gain * (1.0f - a);
        }
        BridgeSpectralCleaner::smoothProfile(gains);
        previous = gains;
        work.real[0] *= gains[0];
        work.imag[0] *= gains[half];
        for (std::size_t k = 1; k < half; ++k) {
            work.real[k] *= gains[k];
            work.imag[k] *= gains[k];
        }
        work.fft.inverse(work.real.data(), work.imag.data(), work.frame.data());
        output.add(f, work.frame);
    }
    output.finish();
}

// A transform that cannot be set up leaves the channel as it is; nothing has been written by then.
void denoiseChannelUnlessUntransformable(std::vector<float>& x, double rate) {
    try {
        denoiseChannel(x, rate);
    } catch (const vt::FftError&) {
    }
}

} // namespace

std::vector<std::size_t> BridgeSpectralCleaner::frameStarts(std::size_t sampleCount, std::size_t fftSize,
                                                            std::size_t hopSize) {
    if (fftSize >= sampleCount || hopSize == 0)
        return {0};
    std::vector<std::size_t> starts{0};
    for (std::size_t next = hopSize; next + fftSize < sampleCount; next += hopSize)
        starts.push_back(next);
    if (starts.back() != sampleCount - fftSize)
        starts.push_back(sampleCount - fftSize);
    return starts;
}

float BridgeSpectralCleaner::percentile(const std::vector<float>& sorted, double fraction) {
    if (sorted.empty())
        return 0;
    const double clamped = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    const auto index = static_cast<std::size_t>(std::floor(clamped * static_cast<double>(sorted.size() - 1)));
    return sorted[std::min(index, sorted.size() - 1)];
}

void BridgeSpectralCleaner::accumulateMagnitude(const std::vector<float>& real,
                                                const std::vector<float>& imag,
                                                std::vector<float>& accumulator) {
    const std::size_t half = real.size();
    if (accumulator.size() != half + 1 || imag.size() != half || half == 0)
        return;
    accumulator[0] += std::fabs(real[0]);
    accumulator[half] += std::fabs(imag[0]);
    for (std::size_t k = 1; k < half; ++k)
        accumulator[k] += std::sqrt(real[k] * real[k] + imag[k] * imag[k]);
}

void BridgeSpectralCleaner::smoothProfile(std::vector<float>& values) {
    if (values.size() < 5)
        return;
    float before = values[0];
    for (std::size_t i = 1; i + 1 < values.size(); ++i) {
        const float current = values[i];
        values[i] = 0.22f * before + 0.56f * current + 0.22f * values[i + 1];
        before = current;
    }
}

vt::AudioData BridgeSpectralCleaner::denoise(const vt::AudioData& buffer) {
    vt::AudioData result;
    try {
        result = buffer;
    } catch (const std::bad_alloc&) {
        throw RenderError(RenderError::Code::unreadableAudio);
    }
    denoiseInPlace(result);
    return result;
}

void BridgeSpectralCleaner::denoiseInPlace(vt::AudioData& buffer) {
    if (buffer.channels.empty() || buffer.frameCount() == 0)
        throw RenderError(RenderError::Code::unreadableAudio);
    try {
        const double rate = std::max(buffer.sampleRate, 1.0);
        for (auto& channel : buffer.channels) {
            if (channel.size() >= shortestChannel)
                denoiseChannelUnlessUntransformable(channel, rate);
            for (float& sample : channel)
                sample = clampUnit(sample);
        }
    } catch (const std::bad_alloc&) {
        throw RenderError(RenderError::Code::unreadableAudio);
    }
}
