#include "Tests/VellumtideAU/Engine/WavFixtures.h"

#include <sndfile.h>
#include <stdexcept>

namespace vt::test {

void writeFloatWav(const std::filesystem::path& path, double sampleRate,
                   const std::vector<std::vector<float>>& channels) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = static_cast<int>(channels.size());
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("Cannot write fixture " + path.string());
    std::size_t frames = channels.empty() ? 0 : channels[0].size();
    std::vector<float> interleaved(frames * channels.size());
    for (std::size_t frame = 0; frame < frames; ++frame)
        for (std::size_t channel = 0; channel < channels.size(); ++channel)
            interleaved[frame * channels.size() + channel] = channels[channel][frame];
    sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(frames));
    sf_close(file);
}

std::vector<std::vector<float>> rampChannels(std::size_t frames, std::size_t channelCount, float step) {
    std::vector<std::vector<float>> channels(channelCount, std::vector<float>(frames));
    for (std::size_t channel = 0; channel < channelCount; ++channel)
        for (std::size_t frame = 0; frame < frames; ++frame)
            channels[channel][frame] = static_cast<float>(frame + 1) * step *
                                       (channel % 2 == 0 ? 1.0f : -1.0f) *
                                       static_cast<float>(channel / 2 + 1);
    return channels;
}

} // namespace vt::test
