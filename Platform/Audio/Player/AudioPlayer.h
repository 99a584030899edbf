#pragma once
// Previews of sound files: a player opened on a whole decoded file, with volume, loop count,
// position and a logical playing flag, and callbacks on the main thread when playback ends or
// the sound output fails.

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vt {

// A file that cannot be opened for playback; what() is user-facing.
class AudioPlayerError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

class AudioPlayer {
public:
    // Called on the main thread. The finish handler gets whether the file played to its end.
    using FinishHandler = std::function<void(bool successfully)>;
    using ErrorHandler = std::function<void(const std::string& description)>;

    virtual ~AudioPlayer() = default;

    virtual double duration() const = 0;
    // Seconds into the file; 0 before play() and after playback ended or stopped.
    virtual double currentTime() const = 0;
    // True from a successful play() until stop() or the natural end.
    virtual bool isPlaying() const = 0;

    virtual void setVolume(float volume) = 0; // linear gain, clamped to 0...1
    virtual float volume() const = 0;
    // -1: repeat until stopped; 0: play once; n > 0: n further passes. Applies while playing.
    virtual void setNumberOfLoops(int loops) = 0;
    virtual int numberOfLoops() const = 0;

    // Prepares the output; false when no sound server is reachable.
    virtual bool prepareToPlay() = 0;
    // Starts from the beginning; false when playback cannot start (no sound server).
    virtual bool play() = 0;
    // Stops at once. No handler runs afterwards, even one already on its way.
    virtual void stop() = 0;

    virtual void setFinishHandler(FinishHandler handler) = 0;
    virtual void setErrorHandler(ErrorHandler handler) = 0;
};

class AudioPlayerFactory {
public:
    virtual ~AudioPlayerFactory() = default;
    // Decodes the whole file. Throws AudioPlayerError when it cannot be read.
    virtual std::unique_ptr<AudioPlayer> open(const std::filesystem::path& file) = 0;
};

// Plays through a PulseAudio stream (PipeWire's pulse server works too) on a thread of its own.
// The server is found as libpulse finds it ($PULSE_SERVER, $XDG_RUNTIME_DIR); nothing is spawned.
class PulseAudioPlayerFactory final : public AudioPlayerFactory {
public:
    explicit PulseAudioPlayerFactory(std::string applicationName = "Vellumtide Bridge");
    std::unique_ptr<AudioPlayer> open(const std::filesystem::path& file) override;

private:
    std::string applicationName;
};

// A player on sound already in memory (planar float channels at the given rate), played through
// PulseAudio like the factory's players. Throws AudioPlayerError for a format it cannot play.
std::unique_ptr<AudioPlayer> makePulseAudioPlayer(double sampleRate,
                                                  const std::vector<std::vector<float>>& channels,
                                                  std::string applicationName = "Vellumtide Bridge");

} // namespace vt
