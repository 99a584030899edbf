// The player contract run against the PulseAudio player and the test sound server. Skips when
// the test services did not start a server (VT_TEST_PULSE unset).

#include "Tests/Platform/Audio/Player/AudioPlayerContract.h"
#include "Tests/Platform/Audio/Player/ScopedEnvironment.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"

#include <cstdlib>
#include <pulse/pulseaudio.h>
#include <vector>

namespace vt::test {
namespace {

// Asks the server to kill every sink input, through a blocking client of its own.
void killAllSinkInputs() {
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "vellumtide-contract-tests");
    auto runUntil = [loop](auto done) {
        for (int turn = 0; turn < 2000 && !done(); ++turn)
            pa_mainloop_iterate(loop, 1, nullptr);
    };
    auto wait = [&](pa_operation* operation) {
        if (!operation)
            return;
        runUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        pa_operation_unref(operation);
    };
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        runUntil([context] {
            auto state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (pa_context_get_state(context) == PA_CONTEXT_READY) {
            std::vector<std::uint32_t> inputs;
            wait(pa_context_get_sink_input_info_list(
                context,
                [](pa_context*, const pa_sink_input_info* info, int end, void* found) {
                    if (!end && info)
                        static_cast<std::vector<std::uint32_t>*>(found)->push_back(info->index);
                },
                &inputs));
            for (std::uint32_t index : inputs)
                wait(pa_context_kill_sink_input(context, index, nullptr, nullptr));
        }
        pa_context_disconnect(context);
    }
    pa_context_unref(context);
    pa_mainloop_free(loop);
}

class PulseBackend {
public:
    PulseBackend() { testApplication(); }
    bool available() const { return std::getenv("VT_TEST_PULSE") != nullptr; }
    std::string unavailableReason() const {
        return "no PulseAudio test server (source scripts/test-services.sh; vt_start_pulse; set "
               "VT_TEST_PULSE)";
    }
    std::unique_ptr<AudioPlayer> open(const std::filesystem::path& file) { return players.open(file); }

    void letTimePass(std::chrono::milliseconds span) {
        turnLoopUntil([] { return false; }, span);
    }
    template <typename Done> bool waitUntil(Done done, std::chrono::milliseconds limit) {
        return turnLoopUntil(done, limit);
    }
    // Points the players at a server that does not exist; the client's cookie goes into the
    // temporary folder, never into a home folder.
    template <typename Body> void withoutServer(Body body) {
        ScopedEnvironment server("PULSE_SERVER", "unix:" + (folder / "no-server").string());
        ScopedEnvironment cookie("PULSE_COOKIE", (folder / "cookie").string());
        body();
    }
    // The server kills every playing stream (sound tests run one at a time, so all are ours).
    void dropStreams() { killAllSinkInputs(); }

private:
    TemporaryFolder folder;
    PulseAudioPlayerFactory players;
};

INSTANTIATE_TYPED_TEST_SUITE_P(PulseAudio, AudioPlayerContract, PulseBackend);

} // namespace
} // namespace vt::test
