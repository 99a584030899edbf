#pragma once
// The window's preview players: a whole file played once, at a playback rate that changes speed
// and pitch together (as a pad sounds in the instrument).

#include "Platform/Audio/Player/AudioPlayer.h"

#include <filesystem>
#include <memory>

class VellumtidePreviewPlayerFactory {
public:
    virtual ~VellumtidePreviewPlayerFactory() = default;
    // Decodes the whole file; throws vt::AudioPlayerError when it cannot be read.
    virtual std::unique_ptr<vt::AudioPlayer> open(const std::filesystem::path& file, double rate) = 0;
};

// PulseAudio players; a rate other than 1 plays the decoded samples at the scaled sample rate.
std::shared_ptr<VellumtidePreviewPlayerFactory> makePulseAudioPreviewPlayerFactory();
