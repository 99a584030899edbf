#include "VellumtideAU/Window/VellumtidePreviewPlayers.h"

#include "Platform/Audio/Player/PlayerSupport.h"

namespace {

constexpr const char* applicationName = "Vellumtide";

class PulseAudioPreviewPlayerFactory final : public VellumtidePreviewPlayerFactory {
public:
    std::unique_ptr<vt::AudioPlayer> open(const std::filesystem::path& file, double rate) override {
        if (rate == 1.0)
            return plain.open(file);
        const vt::AudioData data = vt::player::decodeForPlayback(file);
        return vt::makePulseAudioPlayer(data.sampleRate * rate, data.channels, applicationName);
    }

private:
    vt::PulseAudioPlayerFactory plain{applicationName};
};

} // namespace

std::shared_ptr<VellumtidePreviewPlayerFactory> makePulseAudioPreviewPlayerFactory() {
    return std::make_shared<PulseAudioPreviewPlayerFactory>();
}
