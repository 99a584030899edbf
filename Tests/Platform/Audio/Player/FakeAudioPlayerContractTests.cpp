// The player contract run against the tests' fake player on virtual time.

#include "Tests/Platform/Audio/Player/AudioPlayerContract.h"
#include "Tests/Support/Audio/FakeAudioPlayer.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"

namespace vt::test {
namespace {

class FakeBackend {
public:
    FakeBackend() { testApplication(); }
    bool available() const { return true; }
    std::string unavailableReason() const { return {}; }
    std::unique_ptr<AudioPlayer> open(const std::filesystem::path& file) { return players.open(file); }

    void letTimePass(std::chrono::milliseconds span) {
        waitUntil([] { return false; }, span);
    }
    // Moves virtual time on in 5 ms steps, running what each step makes due.
    template <typename Done> bool waitUntil(Done done, std::chrono::milliseconds limit) {
        for (auto passed = 0ms; !done() && passed < limit; passed += 5ms)
            scheduler->advanceBy(5ms);
        return done();
    }
    template <typename Body> void withoutServer(Body body) {
        players.setServerReachable(false);
        body();
        players.setServerReachable(true);
    }
    void dropStreams() { players.failPlayingStreams(); }

private:
    std::shared_ptr<VirtualScheduler> scheduler = std::make_shared<VirtualScheduler>();
    FakeAudioPlayerFactory players{scheduler};
};

INSTANTIATE_TYPED_TEST_SUITE_P(Fake, AudioPlayerContract, FakeBackend);

} // namespace
} // namespace vt::test
