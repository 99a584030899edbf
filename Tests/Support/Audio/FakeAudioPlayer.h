#pragma once
// A stand-in for the PulseAudio preview player that makes no sound. It decodes the file as the
// real player does (so open errors and durations are the real ones) and plays on a scheduler's
// clock, usually the tests' virtual one, ending, looping, stopping and failing as the real
// player does; the player contract suite holds the two to the same behaviour.

#include "Platform/Async/Scheduler.h"
#include "Platform/Audio/Player/AudioPlayer.h"

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vt::test {

// What one fake player is doing, for the tests to read.
struct FakePlayback {
    std::filesystem::path file;
    double rate = 1; // the decoded sound plays at rate × its sample rate
    double duration = 0;
    float volume = 1;
    int loops = 0;
    bool playing = false;
    int plays = 0; // play() calls that started playback
    int stops = 0; // stop() calls
};

class FakeAudioPlayer;

class FakeAudioPlayerFactory final : public AudioPlayerFactory {
public:
    explicit FakeAudioPlayerFactory(std::shared_ptr<Scheduler> scheduler);
    ~FakeAudioPlayerFactory() override;

    std::unique_ptr<AudioPlayer> open(const std::filesystem::path& file) override;
    std::unique_ptr<AudioPlayer> open(const std::filesystem::path& file, double rate);

    // False: prepareToPlay() and play() fail, as with no sound server to reach.
    void setServerReachable(bool reachable);
    // The server drops every playing stream: each player stops and reports the error once.
    void failPlayingStreams(const std::string& reason = "Entity killed");

    std::size_t openedCount() const { return opened.size(); }
    // The most recently opened player's playback (it outlives the player).
    FakePlayback& last() const { return *opened.back(); }
    std::vector<std::shared_ptr<FakePlayback>> opened;

    struct Server {
        std::shared_ptr<Scheduler> scheduler;
        bool reachable = true;
        std::set<FakeAudioPlayer*> players;
    };

private:
    std::shared_ptr<Server> server;
};

} // namespace vt::test
