#pragma once
// Generated audio for tests and benchmarks: deterministic signals and float WAV files written
// through libsndfile (AAC m4a files: M4aFixture.h).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace vt::test {

using Channels = std::vector<std::vector<float>>;

// A sine of the given frequency and amplitude, starting at phase 0.
std::vector<float> sineWave(double frequency, double sampleRate, size_t frames, double amplitude = 0.5);
// A band-limited sawtooth: harmonics 1 … harmonics at 1/k amplitude, scaled to the amplitude.
std::vector<float> sawWave(double frequency, double sampleRate, size_t frames, int harmonics = 8,
                           double amplitude = 0.5);
// Uniform noise in −amplitude … amplitude from a fixed-seed generator.
std::vector<float> noise(size_t frames, double amplitude, uint32_t seed = 1);
// Decaying noise bursts (clicks) of 30 ms at the given tempo, starting at 0, over silence.
std::vector<float> clickTrack(double bpm, double sampleRate, size_t frames, double amplitude = 0.8);
// Short hits (decaying noise of 40 ms) at the given times in seconds.
std::vector<float> hitsAt(const std::vector<double>& times, double sampleRate, size_t frames,
                          double amplitude = 0.8);

// The same signal on each of the given number of channels.
Channels replicate(const std::vector<float>& signal, int channels);

// Writes a 32-bit float WAV file (creating its folder).
void writeWav(const std::filesystem::path& path, double sampleRate, const Channels& channels);

// frames = round(seconds × rate)
size_t framesFor(double seconds, double sampleRate);

} // namespace vt::test
