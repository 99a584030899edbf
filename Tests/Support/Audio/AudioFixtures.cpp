#include "Tests/Support/Audio/AudioFixtures.h"

#include "Platform/Audio/WavWriter.h"

#include <cmath>
#include <numbers>

namespace vt::test {

size_t framesFor(double seconds, double sampleRate) {
    return static_cast<size_t>(std::llround(seconds * sampleRate));
}

std::vector<float> sineWave(double frequency, double sampleRate, size_t frames, double amplitude) {
    std::vector<float> out(frames);
    const double step = 2.0 * std::numbers::pi * frequency / sampleRate;
    for (size_t i = 0; i < frames; ++i)
        out[i] = static_cast<float>(amplitude * std::sin(step * static_cast<double>(i)));
    return out;
}

std::vector<float> sawWave(double frequency, double sampleRate, size_t frames, int harmonics,
                           double amplitude) {
    std::vector<float> out(frames);
    double norm = 0;
    for (int k = 1; k <= harmonics; ++k)
        norm += 1.0 / k;
    const double step = 2.0 * std::numbers::pi * frequency / sampleRate;
    for (size_t i = 0; i < frames; ++i) {
        double value = 0;
        for (int k = 1; k <= harmonics && frequency * k < sampleRate / 2; ++k)
            value += std::sin(step * k * static_cast<double>(i)) / k;
        out[i] = static_cast<float>(amplitude * value / norm);
    }
    return out;
}

std::vector<float> noise(size_t frames, double amplitude, uint32_t seed) {
    std::vector<float> out(frames);
    uint32_t state = seed == 0 ? 1 : seed;
    for (size_t i = 0; i < frames; ++i) {
        state = state * 1664525u + 1013904223u;
        const double unit = static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
        out[i] = static_cast<float>(amplitude * (2.0 * unit - 1.0));
    }
    return out;
}

namespace {

void addBurst(std::vector<float>& out, size_t start, double sampleRate, double length, double amplitude,
              uint32_t seed) {
    const size_t count = framesFor(length, sampleRate);
    const std::vector<float> burst = noise(count, 1.0, seed);
    for (size_t i = 0; i < count && start + i < out.size(); ++i) {
        const double decay = std::exp(-6.0 * static_cast<double>(i) / static_cast<double>(count));
        out[start + i] += static_cast<float>(amplitude * decay * burst[i]);
    }
}

} // namespace

std::vector<float> clickTrack(double bpm, double sampleRate, size_t frames, double amplitude) {
    std::vector<float> out(frames, 0.0f);
    const double period = 60.0 / bpm * sampleRate;
    uint32_t seed = 7;
    for (double at = 0; at < static_cast<double>(frames); at += period)
        addBurst(out, static_cast<size_t>(std::llround(at)), sampleRate, 0.03, amplitude, seed++);
    return out;
}

std::vector<float> hitsAt(const std::vector<double>& times, double sampleRate, size_t frames,
                          double amplitude) {
    std::vector<float> out(frames, 0.0f);
    uint32_t seed = 11;
    for (const double time : times)
        addBurst(out, framesFor(time, sampleRate), sampleRate, 0.04, amplitude, seed++);
    return out;
}

Channels replicate(const std::vector<float>& signal, int channels) {
    return Channels(static_cast<size_t>(channels), signal);
}

void writeWav(const std::filesystem::path& path, double sampleRate, const Channels& channels) {
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    writeFloatWav(path, sampleRate, channels);
}

} // namespace vt::test
