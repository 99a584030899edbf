#pragma once
// WAV fixtures for the engine and host tests: 32-bit float files written with libsndfile, so the
// samples the engine reads back are exactly the ones written.

#include <filesystem>
#include <vector>

namespace vt::test {

// Channels of equal length, one list per channel.
void writeFloatWav(const std::filesystem::path& path, double sampleRate,
                   const std::vector<std::vector<float>>& channels);

// A ramp of the given length: frame i holds (i + 1) * step on the first channel and -(i + 1) * step
// on the second, so every frame and channel is told apart.
std::vector<std::vector<float>> rampChannels(std::size_t frames, std::size_t channelCount,
                                             float step = 0.001f);

} // namespace vt::test
