#pragma once
// What every preview player shares, whatever it plays through: the whole-file decode with its
// check that the sound can be played, and the delivery of the finish and error handlers to the
// main thread, where a stop or a new start drops every delivery still on its way.

#include "Platform/Audio/AudioFile.h"
#include "Platform/Audio/Player/AudioPlayer.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vt::player {

// Decodes the whole file (at most 30 minutes at 192 kHz). Throws AudioPlayerError.
AudioData decodeForPlayback(const std::filesystem::path& file);
// Throws AudioPlayerError unless there are 1 to 32 channels of equal length at a playable rate.
void checkPlayable(double sampleRate, const std::vector<std::vector<float>>& channels);

// A player's finish and error handlers. Deliveries run on the main thread through queued calls
// that carry the generation they were queued in.
class Handlers : public std::enable_shared_from_this<Handlers> {
public:
    void setFinish(AudioPlayer::FinishHandler handler);
    void setError(AudioPlayer::ErrorHandler handler);
    // A stop or a new start: every delivery queued before is dropped.
    void invalidate() { generation.fetch_add(1); }
    // Queue a call of the handler; nothing runs when the handlers are gone by then.
    void deliverFinish(bool successfully);
    void deliverError(std::string description);

private:
    template <typename Handler, typename... Arguments>
    void deliver(Handler Handlers::*member, Arguments... arguments);

    std::mutex mutex;
    AudioPlayer::FinishHandler finish;
    AudioPlayer::ErrorHandler error;
    std::atomic<std::uint64_t> generation{0};
};

} // namespace vt::player
