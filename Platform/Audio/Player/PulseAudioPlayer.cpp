// The PulseAudio side of the preview player: one threaded main loop, context and playback
// stream per player. The file is decoded whole at open; the stream's write callback copies
// float frames out of it (with the gain applied and the loop count honoured) and drains the
// stream after the last pass. Callbacks reach the main thread through the shared handler
// delivery, so nothing of a stopped player is ever delivered.

#include "Platform/Audio/Player/PlayerSupport.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <pulse/pulseaudio.h>
#include <vector>

namespace vt {
namespace {

// How long a connection or stream start may take before play() gives up.
constexpr pa_usec_t startTimeout = 3 * PA_USEC_PER_SEC;
// Buffer the server keeps ahead of the listener: short, so position and stop feel immediate.
constexpr pa_usec_t targetLatency = 40 * PA_USEC_PER_MSEC;

struct Decoded {
    double sampleRate = 0;
    int channelCount = 0;
    std::vector<float> interleaved;
    size_t frames = 0;
};

Decoded interleave(double sampleRate, const std::vector<std::vector<float>>& channels) {
    player::checkPlayable(sampleRate, channels);
    Decoded decoded;
    decoded.sampleRate = sampleRate;
    decoded.channelCount = static_cast<int>(channels.size());
    decoded.frames = channels.front().size();
    decoded.interleaved.resize(decoded.frames * decoded.channelCount);
    for (size_t frame = 0; frame < decoded.frames; ++frame)
        for (int channel = 0; channel < decoded.channelCount; ++channel)
            decoded.interleaved[frame * decoded.channelCount + channel] = channels[channel][frame];
    return decoded;
}

class PulseAudioPlayer final : public AudioPlayer {
public:
    PulseAudioPlayer(Decoded decoded, std::string applicationName)
        : audio(std::move(decoded)), appName(std::move(applicationName)),
          handlers(std::make_shared<player::Handlers>()) {}

    ~PulseAudioPlayer() override {
        stop();
        if (loop) {
            pa_threaded_mainloop_lock(loop);
            if (context) {
                pa_context_set_state_callback(context, nullptr, nullptr);
                pa_context_disconnect(context);
                pa_context_unref(context);
                context = nullptr;
            }
            pa_threaded_mainloop_unlock(loop);
            pa_threaded_mainloop_stop(loop);
            pa_threaded_mainloop_free(loop);
        }
    }

    double duration() const override { return audio.frames / audio.sampleRate; }

    double currentTime() const override {
        if (!playing.load() || !loop)
            return 0;
        pa_threaded_mainloop_lock(loop);
        pa_usec_t played = 0;
        bool known = stream && pa_stream_get_time(stream, &played) == 0;
        std::uint64_t written = framesWritten;
        pa_threaded_mainloop_unlock(loop);
        if (!known || audio.frames == 0)
            return 0;
        // The server's clock runs on past the last frame written (while the stream drains after
        // the last pass, or runs dry): the time stays where the sound is, never wrapping into a
        // pass that was not written.
        auto playedFrames = std::min<std::uint64_t>(
            written, static_cast<std::uint64_t>(std::floor(double(played) * audio.sampleRate / 1e6)));
        if (playedFrames == 0)
            return 0;
        // Each pass writes the whole sound: the end of one reads as its end, not the next's start.
        return double((playedFrames - 1) % audio.frames + 1) / audio.sampleRate;
    }

    bool isPlaying() const override { return playing.load(); }

    void setVolume(float value) override {
        gain.store(std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f));
    }
    float volume() const override { return gain.load(); }

    void setNumberOfLoops(int value) override { loops.store(value < 0 ? -1 : value); }
    int numberOfLoops() const override { return loops.load(); }

    bool prepareToPlay() override {
        if (context && pa_context_get_state(context) == PA_CONTEXT_READY)
            return true;
        if (!loop) {
            loop = pa_threaded_mainloop_new();
            if (!loop || pa_threaded_mainloop_start(loop) < 0)
                return false;
        }
        pa_threaded_mainloop_lock(loop);
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
        context =
            pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), appName.c_str(), properties);
        pa_proplist_free(properties);
        bool ready = false;
        if (context) {
            pa_context_set_state_callback(context, &PulseAudioPlayer::contextChanged, this);
            if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0)
                ready = waitUntil([this] {
                            auto state = pa_context_get_state(context);
                            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
                        }) &&
                        pa_context_get_state(context) == PA_CONTEXT_READY;
        }
        pa_threaded_mainloop_unlock(loop);
        return ready;
    }

    bool play() override {
        stop();
        if (!prepareToPlay())
            return false;
        pa_threaded_mainloop_lock(loop);
        bool started = openStream();
        pa_threaded_mainloop_unlock(loop);
        if (!started) {
            stop();
            return false;
        }
        playing.store(true);
        return true;
    }

    void stop() override {
        handlers->invalidate();
        playing.store(false);
        if (!loop)
            return;
        pa_threaded_mainloop_lock(loop);
        closeStream();
        pa_threaded_mainloop_unlock(loop);
    }

    void setFinishHandler(FinishHandler handler) override { handlers->setFinish(std::move(handler)); }
    void setErrorHandler(ErrorHandler handler) override { handlers->setError(std::move(handler)); }

private:
    // Waits on the loop's condition (lock held) until done() or the start time-out.
    template <typename Done> bool waitUntil(Done done) {
        timedOut = false;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        pa_time_event* timer =
            pa_context_rttime_new(context, pa_rtclock_now() + startTimeout, &PulseAudioPlayer::timeUp, this);
        while (!done() && !timedOut)
            pa_threaded_mainloop_wait(loop);
        if (timer)
            api->time_free(timer);
        return !timedOut || done();
    }

    bool openStream() {
        pa_sample_spec spec;
        spec.format = PA_SAMPLE_FLOAT32LE;
        spec.rate = static_cast<std::uint32_t>(std::lround(audio.sampleRate));
        spec.channels = static_cast<std::uint8_t>(audio.channelCount);
        if (!pa_sample_spec_valid(&spec))
            return false;
        pa_channel_map map;
        if (!pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT))
            pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_AUX);
        stream = pa_stream_new(context, "Preview", &spec, &map);
        if (!stream)
            return false;
        position = 0;
        framesWritten = 0;
        writingDone = false;
        pa_stream_set_state_callback(stream, &PulseAudioPlayer::streamChanged, this);
        pa_stream_set_write_callback(stream, &PulseAudioPlayer::writeRequested, this);
        pa_buffer_attr attributes;
        attributes.maxlength = std::uint32_t(-1);
        attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(targetLatency, &spec));
        attributes.prebuf = std::uint32_t(-1);
        attributes.minreq = std::uint32_t(-1);
        attributes.fragsize = std::uint32_t(-1);
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                    PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_playback(stream, nullptr, &attributes, flags, nullptr, nullptr) < 0)
            return false;
        bool ready = waitUntil([this] {
            auto state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        return ready && pa_stream_get_state(stream) == PA_STREAM_READY;
    }

    void closeStream() {
        if (drainOperation) {
            // A drain of this stream must never report for the next one.
            if (pa_operation_get_state(drainOperation) == PA_OPERATION_RUNNING)
                pa_operation_cancel(drainOperation);
            pa_operation_unref(drainOperation);
            drainOperation = nullptr;
        }
        if (!stream)
            return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
        position = 0;
    }

    // Fills the server's request from the decoded frames (loop lock held, on the loop thread).
    void fill(size_t bytes) {
        const size_t channels = audio.channelCount;
        size_t wanted = bytes / (sizeof(float) * channels);
        if (wanted == 0 || writingDone)
            return;
        scratch.resize(wanted * channels);
        float level = gain.load();
        size_t produced = 0;
        while (produced < wanted) {
            if (position >= audio.frames) {
                int remaining = loops.load();
                if (remaining == 0 || audio.frames == 0) {
                    writingDone = true;
                    break;
                }
                if (remaining > 0)
                    loops.compare_exchange_strong(remaining, remaining - 1);
                position = 0;
            }
            size_t count = std::min(wanted - produced, audio.frames - position);
            const float* source = audio.interleaved.data() + position * channels;
            float* target = scratch.data() + produced * channels;
            for (size_t i = 0; i < count * channels; ++i)
                target[i] = source[i] * level;
            produced += count;
            position += count;
        }
        if (produced > 0) {
            pa_stream_write(stream, scratch.data(), produced * channels * sizeof(float), nullptr, 0,
                            PA_SEEK_RELATIVE);
            framesWritten += produced;
        }
        if (writingDone) {
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            drainOperation = pa_stream_drain(stream, &PulseAudioPlayer::drained, this);
        }
    }

    static void contextChanged(pa_context* context, void* self) {
        auto* player = static_cast<PulseAudioPlayer*>(self);
        auto state = pa_context_get_state(context);
        if (!PA_CONTEXT_IS_GOOD(state) && player->playing.exchange(false))
            player->handlers->deliverError(std::string("The sound server closed the connection: ") +
                                           pa_strerror(pa_context_errno(context)));
        pa_threaded_mainloop_signal(player->loop, 0);
    }

    static void streamChanged(pa_stream* stream, void* self) {
        auto* player = static_cast<PulseAudioPlayer*>(self);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) && player->playing.exchange(false))
            player->handlers->deliverError(std::string("The sound output failed: ") +
                                           pa_strerror(pa_context_errno(player->context)));
        pa_threaded_mainloop_signal(player->loop, 0);
    }

    static void writeRequested(pa_stream*, size_t bytes, void* self) {
        static_cast<PulseAudioPlayer*>(self)->fill(bytes);
    }

    static void drained(pa_stream* stream, int success, void* self) {
        auto* player = static_cast<PulseAudioPlayer*>(self);
        if (stream != player->stream || !player->writingDone)
            return;
        if (player->playing.exchange(false))
            player->handlers->deliverFinish(success != 0);
    }

    static void timeUp(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto* player = static_cast<PulseAudioPlayer*>(self);
        player->timedOut = true;
        pa_threaded_mainloop_signal(player->loop, 0);
    }

    const Decoded audio;
    const std::string appName;
    std::shared_ptr<player::Handlers> handlers;
    std::atomic<float> gain{1.0f};
    std::atomic<int> loops{0};
    std::atomic<bool> playing{false};

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_operation* drainOperation = nullptr;
    // Guarded by the loop's lock.
    size_t position = 0;
    std::uint64_t framesWritten = 0;
    bool writingDone = false;
    bool timedOut = false;
    std::vector<float> scratch;
};

} // namespace

PulseAudioPlayerFactory::PulseAudioPlayerFactory(std::string applicationName)
    : applicationName(std::move(applicationName)) {}

std::unique_ptr<AudioPlayer> PulseAudioPlayerFactory::open(const std::filesystem::path& file) {
    const AudioData data = player::decodeForPlayback(file);
    return std::make_unique<PulseAudioPlayer>(interleave(data.sampleRate, data.channels), applicationName);
}

std::unique_ptr<AudioPlayer> makePulseAudioPlayer(double sampleRate,
                                                  const std::vector<std::vector<float>>& channels,
                                                  std::string applicationName) {
    return std::make_unique<PulseAudioPlayer>(interleave(sampleRate, channels), std::move(applicationName));
}

} // namespace vt
