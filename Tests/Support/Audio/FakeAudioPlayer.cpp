#include "Tests/Support/Audio/FakeAudioPlayer.h"

#include "Platform/Audio/Player/PlayerSupport.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace vt::test {

class FakeAudioPlayer final : public AudioPlayer {
public:
    using Server = FakeAudioPlayerFactory::Server;

    FakeAudioPlayer(std::shared_ptr<Server> server, std::shared_ptr<FakePlayback> playback)
        : server(std::move(server)), playback(std::move(playback)),
          handlers(std::make_shared<player::Handlers>()) {
        this->server->players.insert(this);
    }
    ~FakeAudioPlayer() override {
        halt();
        server->players.erase(this);
    }

    double duration() const override { return playback->duration; }
    double currentTime() const override {
        if (!playback->playing)
            return 0;
        const double elapsed = std::chrono::duration<double>(now() - passStart).count();
        return std::clamp(elapsed, 0.0, playback->duration);
    }
    bool isPlaying() const override { return playback->playing; }

    void setVolume(float value) override {
        playback->volume = std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f);
    }
    float volume() const override { return playback->volume; }
    void setNumberOfLoops(int value) override { playback->loops = value < 0 ? -1 : value; }
    int numberOfLoops() const override { return playback->loops; }

    bool prepareToPlay() override { return server->reachable; }
    bool play() override {
        halt();
        if (!server->reachable)
            return false;
        playback->playing = true;
        ++playback->plays;
        startPass();
        return true;
    }
    void stop() override {
        ++playback->stops;
        halt();
    }

    void setFinishHandler(FinishHandler handler) override { handlers->setFinish(std::move(handler)); }
    void setErrorHandler(ErrorHandler handler) override { handlers->setError(std::move(handler)); }

    // The stream was dropped by the server: playback ends and the error is reported.
    void failStream(const std::string& reason) {
        if (!playback->playing)
            return;
        cancelPassEnd();
        playback->playing = false;
        handlers->deliverError("The sound output failed: " + reason);
    }

private:
    Nanoseconds now() const { return server->scheduler->clock().now(); }

    // Stops without a trace: nothing on its way is delivered any more.
    void halt() {
        handlers->invalidate();
        cancelPassEnd();
        playback->playing = false;
    }

    void cancelPassEnd() {
        if (passEnd)
            server->scheduler->cancel(*passEnd);
        passEnd.reset();
    }

    void startPass() {
        passStart = now();
        passEnd = server->scheduler->schedule(secondsToNanoseconds(playback->duration), [this] {
            passEnd.reset();
            endOfPass();
        });
    }

    // Another pass while loops remain (a sound of no length has none), else the finish.
    void endOfPass() {
        if (playback->loops != 0 && playback->duration > 0) {
            if (playback->loops > 0)
                --playback->loops;
            startPass();
            return;
        }
        playback->playing = false;
        handlers->deliverFinish(true);
    }

    std::shared_ptr<Server> server;
    std::shared_ptr<FakePlayback> playback;
    std::shared_ptr<player::Handlers> handlers;
    Nanoseconds passStart{0};
    std::optional<Scheduler::TimerId> passEnd;
};

FakeAudioPlayerFactory::FakeAudioPlayerFactory(std::shared_ptr<Scheduler> scheduler)
    : server(std::make_shared<Server>()) {
    server->scheduler = std::move(scheduler);
}

FakeAudioPlayerFactory::~FakeAudioPlayerFactory() = default;

std::unique_ptr<AudioPlayer> FakeAudioPlayerFactory::open(const std::filesystem::path& file) {
    return open(file, 1.0);
}

std::unique_ptr<AudioPlayer> FakeAudioPlayerFactory::open(const std::filesystem::path& file, double rate) {
    const AudioData data = player::decodeForPlayback(file);
    player::checkPlayable(data.sampleRate * rate, data.channels);
    auto playback = std::make_shared<FakePlayback>();
    playback->file = file;
    playback->rate = rate;
    playback->duration = double(data.frameCount()) / (data.sampleRate * rate);
    opened.push_back(playback);
    return std::make_unique<FakeAudioPlayer>(server, playback);
}

void FakeAudioPlayerFactory::setServerReachable(bool reachable) {
    server->reachable = reachable;
}

void FakeAudioPlayerFactory::failPlayingStreams(const std::string& reason) {
    const std::set<FakeAudioPlayer*> players = server->players;
    for (FakeAudioPlayer* player : players)
        player->failStream(reason);
}

} // namespace vt::test
