#include "VellumtideAU/Window/VellumtidePreviewPlayers.h"

#include "Platform/Audio/AudioFile.h"

namespace {

constexpr const char* applicationName = "Vellumtide";

class PulseAudioPreviewPlayerFactory final : public VellumtidePreviewPlayerFactory {
public:
    std::unique_ptr<vt::AudioPlayer> open(const std::filesystem::path& file, double rate) override {
        if (rate == 1.0)
            return plain.open(file);
        vt::AudioData data;
        try {
            data = vt::readAudioFile(file);
        } catch (const vt::AudioFileError& error) {
            throw vt::AudioPlayerError(error.what());
        }
        return vt::makePulseAudioPlayer(data.sampleRate * rate, data.channels, applicationName);
    }

private:
    vt::PulseAudioPlayerFactory plain{applicationName};
};

} // namespace

std::shared_ptr<VellumtidePreviewPlayerFactory> makePulseAudioPreviewPlayerFactory() {
    return std::make_shared<PulseAudioPreviewPlayerFactory>();
}
