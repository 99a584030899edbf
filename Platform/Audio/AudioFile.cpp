#include "Platform/Audio/AudioFile.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <string>
#include <sys/mman.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
}

namespace vt {

namespace {

std::string quotedName(const std::filesystem::path& path) {
    return "\"" + path.filename().string() + "\"";
}

void silenceLibraryLogging() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// A sample as float; one that is not finite, or too large for a float (a double sample of 1e300
// would turn into an infinity), reads as 0.
float finiteOrZero(double value) {
    return std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max()
               ? static_cast<float>(value)
               : 0.0f;
}

// Appends samples [from, from + count) of every channel of a decoded frame, converted to float.
template <typename T>
void appendSamples(const AVFrame& frame, bool planar, double scale, double offset, size_t from, size_t count,
                   std::vector<std::vector<float>>& out) {
    const size_t channels = out.size();
    for (size_t c = 0; c < channels; ++c) {
        std::vector<float>& target = out[c];
        const size_t base = target.size();
        target.resize(base + count);
        float* destination = target.data() + base;
        const T* source =
            reinterpret_cast<const T*>(planar ? frame.extended_data[c] : frame.extended_data[0]);
        const size_t stride = planar ? 1 : channels;
        const size_t first = (planar ? 0 : c) + from * stride;
        for (size_t i = 0; i < count; ++i) {
            const double value = static_cast<double>(source[first + i * stride]);
            destination[i] = finiteOrZero((value - offset) * scale);
        }
    }
}

bool isReadableFormat(int format) {
    switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(format))) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S64:
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_DBL:
        return true;
    default:
        return false;
    }
}

// Appends part of a frame whose format isReadableFormat() accepted; out holds one array per channel.
void appendFrame(const AVFrame& frame, size_t from, size_t count, std::vector<std::vector<float>>& out) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        return appendSamples<uint8_t>(frame, planar, 1.0 / 128.0, 128.0, from, count, out);
    case AV_SAMPLE_FMT_S16:
        return appendSamples<int16_t>(frame, planar, 1.0 / 32768.0, 0.0, from, count, out);
    case AV_SAMPLE_FMT_S32:
        return appendSamples<int32_t>(frame, planar, 1.0 / 2147483648.0, 0.0, from, count, out);
    case AV_SAMPLE_FMT_S64:
        return appendSamples<int64_t>(frame, planar, 1.0 / 9223372036854775808.0, 0.0, from, count, out);
    case AV_SAMPLE_FMT_FLT:
        return appendSamples<float>(frame, planar, 1.0, 0.0, from, count, out);
    case AV_SAMPLE_FMT_DBL:
        return appendSamples<double>(frame, planar, 1.0, 0.0, from, count, out);
    default:
        return;
    }
}

} // namespace

struct AudioFileReader::State {
    std::filesystem::path path;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;
    double rate = 0;
    int channels = 0;
    bool haveFormat = false;
    bool inputEnded = false;
    bool decoderEnded = false;
    int64_t decodedFrames = 0;
    int64_t framesOut = 0;
    int rejectedPackets = 0;
    // The decoded frame being handed out: frames [frameOffset, frameLength) are still pending.
    bool haveFrame = false;
    size_t frameLength = 0;
    size_t frameOffset = 0;

    ~State() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    [[noreturn]] void fail(const std::string& what) const { throw AudioFileError(what); }

    void open() {
        silenceLibraryLogging();
        AVDictionary* options = nullptr;
        // Only local files: a playlist-like file must never make the decoder reach the network.
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        // WAV packets of up to 256 KiB instead of 4 KiB: a sixty-fourth of the per-packet work, the
        // same samples (packets stay whole blocks; other formats ignore the option).
        av_dict_set(&options, "max_size", "262144", 0);
        const std::string url = "file:" + std::filesystem::absolute(path).string();
        const int opened = avformat_open_input(&format, url.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (opened < 0)
            fail("The file " + quotedName(path) + " could not be opened as audio.");
        if (avformat_find_stream_info(format, nullptr) < 0)
            fail("The file " + quotedName(path) + " could not be read as audio.");
        const AVCodec* decoder = nullptr;
        streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (streamIndex < 0 || decoder == nullptr)
            fail("The file " + quotedName(path) + " holds no audio that can be decoded.");
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            if (static_cast<int>(i) != streamIndex)
                format->streams[i]->discard = AVDISCARD_ALL;
        }
        AVStream* stream = format->streams[streamIndex];
        codec = avcodec_alloc_context3(decoder);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (codec == nullptr || packet == nullptr || frame == nullptr)
            throw std::bad_alloc();
        if (avcodec_parameters_to_context(codec, stream->codecpar) < 0)
            fail("The audio of " + quotedName(path) + " could not be decoded.");
        codec->pkt_timebase = stream->time_base;
        if (avcodec_open2(codec, decoder, nullptr) < 0)
            fail("The audio of " + quotedName(path) + " could not be decoded.");
        rate = stream->codecpar->sample_rate;
        channels = stream->codecpar->ch_layout.nb_channels;
        decodeNext();
        if (rate <= 0 || channels <= 0)
            fail("The audio of " + quotedName(path) + " could not be decoded.");
    }

    // Makes the decoded frame the pending one, checking that its layout stays the same.
    void acceptFrame() {
        const int frameChannels = frame->ch_layout.nb_channels;
        if (!haveFormat) {
            haveFormat = true;
            rate = frame->sample_rate > 0 ? frame->sample_rate : rate;
            channels = frameChannels;
        } else if (frameChannels != channels || (frame->sample_rate > 0 && frame->sample_rate != rate)) {
            fail("The audio of " + quotedName(path) + " changes its format part-way and cannot be read.");
        }
        if (channels <= 0 || !isReadableFormat(frame->format))
            fail("The audio of " + quotedName(path) + " has a sample format that cannot be read.");
        frameLength = framesDeclaredByPacket();
        frameOffset = 0;
        haveFrame = true;
        decodedFrames += static_cast<int64_t>(frameLength);
    }

    // Hands out frames [frameOffset, frameOffset + count) of the pending frame.
    void takeFrames(size_t count, std::vector<std::vector<float>>& out) {
        appendFrame(*frame, frameOffset, count, out);
        frameOffset += count;
        if (frameOffset == frameLength) {
            av_frame_unref(frame);
            haveFrame = false;
        }
    }

    // The decoded frame's length, shortened to its packet's declared duration: the last packet
    // of an AAC stream declares only the samples before the encoder's end padding.
    size_t framesDeclaredByPacket() const {
        const auto decoded = static_cast<size_t>(frame->nb_samples);
        const AVStream* stream = format->streams[streamIndex];
        const auto rateAsInt = static_cast<int>(std::lround(rate));
        if (frame->pkt_duration <= 0 || rateAsInt <= 0)
            return decoded;
        const int64_t declared =
            av_rescale_q(frame->pkt_duration, stream->time_base, AVRational{1, rateAsInt});
        return declared > 0 && static_cast<size_t>(declared) < decoded ? static_cast<size_t>(declared)
                                                                       : decoded;
    }

    // Decodes the next non-empty frame and makes it pending. Returns false at the end of the stream.
    bool decodeNext() {
        while (!decoderEnded) {
            const int received = avcodec_receive_frame(codec, frame);
            if (received == 0) {
                if (frame->nb_samples <= 0) {
                    av_frame_unref(frame);
                    continue;
                }
                acceptFrame();
                return true;
            }
            if (received == AVERROR_EOF) {
                decoderEnded = true;
                break;
            }
            if (received != AVERROR(EAGAIN))
                fail("The audio of " + quotedName(path) + " could not be decoded.");
            feedDecoder();
        }
        if (decodedFrames == 0 && rejectedPackets > 0)
            fail("The audio of " + quotedName(path) + " could not be decoded.");
        return false;
    }

    void feedDecoder() {
        if (inputEnded) {
            decoderEnded = true;
            return;
        }
        const int readResult = av_read_frame(format, packet);
        if (readResult == AVERROR_EOF) {
            inputEnded = true;
            avcodec_send_packet(codec, nullptr);
            return;
        }
        if (readResult < 0)
            fail("The file " + quotedName(path) + " could not be read.");
        if (packet->stream_index == streamIndex) {
            const int sent = avcodec_send_packet(codec, packet);
            // A damaged packet is skipped, as players do; a file of nothing else fails above.
            if (sent == AVERROR_INVALIDDATA)
                ++rejectedPackets;
            else if (sent < 0 && sent != AVERROR(EAGAIN))
                fail("The audio of " + quotedName(path) + " could not be decoded.");
        }
        av_packet_unref(packet);
    }

    size_t pendingFrames() const { return haveFrame ? frameLength - frameOffset : 0; }
};

AudioFileReader::AudioFileReader(const std::filesystem::path& path) : state(std::make_unique<State>()) {
    state->path = path;
    state->open();
}

AudioFileReader::~AudioFileReader() = default;

double AudioFileReader::sampleRate() const {
    return state->rate;
}

int AudioFileReader::channelCount() const {
    return state->channels;
}

int64_t AudioFileReader::framesRead() const {
    return state->framesOut;
}

std::optional<int64_t> AudioFileReader::estimatedFrameCount() const {
    const AVStream* stream = state->format->streams[state->streamIndex];
    const auto rate = static_cast<int>(std::lround(state->rate));
    if (rate <= 0)
        return std::nullopt;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate});
    if (state->format->duration != AV_NOPTS_VALUE && state->format->duration > 0)
        return av_rescale(state->format->duration, rate, AV_TIME_BASE);
    return std::nullopt;
}

size_t AudioFileReader::read(std::vector<std::vector<float>>& channels, size_t n) {
    for (auto& channel : channels)
        channel.clear();
    return readAppending(channels, n);
}

size_t AudioFileReader::readAppending(std::vector<std::vector<float>>& channels, size_t n) {
    const auto channelCount = static_cast<size_t>(state->channels);
    channels.resize(channelCount);
    size_t done = 0;
    while (done < n) {
        if (state->pendingFrames() == 0 && !state->decodeNext())
            break;
        const size_t take = std::min(n - done, state->pendingFrames());
        state->takeFrames(take, channels);
        done += take;
    }
    state->framesOut += static_cast<int64_t>(done);
    return done;
}

void reserveChannel(std::vector<float>& channel, size_t frames) {
    channel.reserve(frames);
    constexpr std::uintptr_t hugePage = std::uintptr_t{1} << 21;
    const auto first = reinterpret_cast<std::uintptr_t>(channel.data());
    const std::uintptr_t begin = (first + hugePage - 1) & ~(hugePage - 1);
    const std::uintptr_t end = (first + channel.capacity() * sizeof(float)) & ~(hugePage - 1);
    // Only whole huge pages inside the array; a refusal changes nothing but speed.
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

AudioData readAudioFile(const std::filesystem::path& path, std::optional<size_t> maxFrames) {
    AudioFileReader reader(path);
    AudioData data;
    data.sampleRate = reader.sampleRate();
    data.channels.resize(static_cast<size_t>(reader.channelCount()));
    // Reserve the container's guess (with a little room) so the arrays rarely need to grow.
    if (const auto estimate = reader.estimatedFrameCount(); estimate && *estimate > 0) {
        auto reserve = static_cast<size_t>(*estimate) + 4096;
        if (maxFrames)
            reserve = std::min(reserve, *maxFrames + 1);
        for (auto& channel : data.channels)
            reserveChannel(channel, reserve);
    }
    constexpr size_t blockFrames = 65536;
    while (reader.readAppending(data.channels, blockFrames) > 0) {
        if (maxFrames && data.frameCount() > *maxFrames)
            throw AudioFileError("The file " + quotedName(path) + " is too long to read.");
    }
    return data;
}

} // namespace vt
