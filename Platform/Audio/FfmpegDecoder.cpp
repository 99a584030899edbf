// Decoding through FFmpeg: the file's best audio stream, frame by frame, converted to planar float.

#include "Platform/Audio/AudioDecoder.h"
#include "Platform/Audio/FfmpegLibrary.h"

#include <algorithm>
#include <new>

namespace vt::detail {

namespace {

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

class FfmpegDecoder final : public AudioDecoder {
public:
    FfmpegDecoder(const FfmpegLibrary& library, const std::filesystem::path& path)
        : av(library), path(path) {}

    ~FfmpegDecoder() override {
        av.frameFree(&frame);
        av.packetFree(&packet);
        av.codecFreeContext(&codec);
        av.formatCloseInput(&format);
    }

    double sampleRate() const override { return rate; }
    int channelCount() const override { return channels; }

    std::optional<int64_t> estimatedFrameCount() const override {
        const AVStream* stream = format->streams[streamIndex];
        const auto rateAsInt = static_cast<int>(std::lround(rate));
        if (rateAsInt <= 0)
            return std::nullopt;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            return av.rescaleQ(stream->duration, stream->time_base, AVRational{1, rateAsInt});
        if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
            return av.rescale(format->duration, rateAsInt, AV_TIME_BASE);
        return std::nullopt;
    }

    size_t readAppending(std::vector<std::vector<float>>& out, size_t n) override {
        out.resize(static_cast<size_t>(channels));
        size_t done = 0;
        while (done < n) {
            if (pendingFrames() == 0 && !decodeNext())
                break;
            const size_t take = std::min(n - done, pendingFrames());
            takeFrames(take, out);
            done += take;
        }
        return done;
    }

    // Opens the file and decodes its first frame. Throws AudioFileError (the destructor frees what
    // was made before).
    void open() {
        AVDictionary* options = nullptr;
        // Only local files: a playlist-like file must never make the decoder reach the network.
        av.dictSet(&options, "protocol_whitelist", "file", 0);
        // WAV packets of up to 256 KiB instead of 4 KiB: a sixty-fourth of the per-packet work, the
        // same samples (packets stay whole blocks; other formats ignore the option).
        av.dictSet(&options, "max_size", "262144", 0);
        const std::string url = "file:" + std::filesystem::absolute(path).string();
        const int opened = av.formatOpenInput(&format, url.c_str(), nullptr, &options);
        av.dictFree(&options);
        if (opened < 0)
            fail("The file " + quotedName(path) + " could not be opened as audio.");
        if (av.formatFindStreamInfo(format, nullptr) < 0)
            fail("The file " + quotedName(path) + " could not be read as audio.");
        const AVCodec* decoder = nullptr;
        streamIndex = av.findBestStream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (streamIndex < 0 || decoder == nullptr)
            fail("The file " + quotedName(path) + " holds no audio that can be decoded.");
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            if (static_cast<int>(i) != streamIndex)
                format->streams[i]->discard = AVDISCARD_ALL;
        }
        AVStream* stream = format->streams[streamIndex];
        codec = av.codecAllocContext(decoder);
        packet = av.packetAlloc();
        frame = av.frameAlloc();
        if (codec == nullptr || packet == nullptr || frame == nullptr)
            throw std::bad_alloc();
        if (av.codecParametersToContext(codec, stream->codecpar) < 0)
            fail("The audio of " + quotedName(path) + " could not be decoded.");
        codec->pkt_timebase = stream->time_base;
        if (av.codecOpen(codec, decoder, nullptr) < 0)
            fail("The audio of " + quotedName(path) + " could not be decoded.");
        rate = stream->codecpar->sample_rate;
        channels = stream->codecpar->ch_layout.nb_channels;
        decodeNext();
        if (rate <= 0 || channels <= 0)
            fail("The audio of " + quotedName(path) + " could not be decoded.");
    }

private:
    [[noreturn]] void fail(const std::string& what) const { throw AudioFileError(what); }

    const FfmpegLibrary& av;
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
    int rejectedPackets = 0;
    // The decoded frame being handed out: frames [frameOffset, frameLength) are still pending.
    bool haveFrame = false;
    size_t frameLength = 0;
    size_t frameOffset = 0;

    bool isReadableFormat(int sampleFormat) const {
        switch (av.packedSampleFormat(static_cast<AVSampleFormat>(sampleFormat))) {
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
    void appendFrame(size_t from, size_t count, std::vector<std::vector<float>>& out) const {
        const auto sampleFormat = static_cast<AVSampleFormat>(frame->format);
        const bool planar = av.sampleFormatIsPlanar(sampleFormat);
        switch (av.packedSampleFormat(sampleFormat)) {
        case AV_SAMPLE_FMT_U8:
            return appendSamples<uint8_t>(*frame, planar, 1.0 / 128.0, 128.0, from, count, out);
        case AV_SAMPLE_FMT_S16:
            return appendSamples<int16_t>(*frame, planar, 1.0 / 32768.0, 0.0, from, count, out);
        case AV_SAMPLE_FMT_S32:
            return appendSamples<int32_t>(*frame, planar, 1.0 / 2147483648.0, 0.0, from, count, out);
        case AV_SAMPLE_FMT_S64:
            return appendSamples<int64_t>(*frame, planar, 1.0 / 9223372036854775808.0, 0.0, from, count, out);
        case AV_SAMPLE_FMT_FLT:
            return appendSamples<float>(*frame, planar, 1.0, 0.0, from, count, out);
        case AV_SAMPLE_FMT_DBL:
            return appendSamples<double>(*frame, planar, 1.0, 0.0, from, count, out);
        default:
            return;
        }
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
        appendFrame(frameOffset, count, out);
        frameOffset += count;
        if (frameOffset == frameLength) {
            av.frameUnref(frame);
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
            av.rescaleQ(frame->pkt_duration, stream->time_base, AVRational{1, rateAsInt});
        return declared > 0 && static_cast<size_t>(declared) < decoded ? static_cast<size_t>(declared)
                                                                       : decoded;
    }

    // Decodes the next non-empty frame and makes it pending. Returns false at the end of the stream.
    bool decodeNext() {
        while (!decoderEnded) {
            const int received = av.codecReceiveFrame(codec, frame);
            if (received == 0) {
                if (frame->nb_samples <= 0) {
                    av.frameUnref(frame);
                    continue;
                }
                acceptFrame();
                return true;
            }
            if (received == AVERROR_EOF) {
                decoderEnded = true;
                break;
            }
            // The rest of a packet that holds no whole frame (an odd byte after the last frame of a
            // PCM file) is skipped like a damaged packet.
            if (received == AVERROR_INVALIDDATA) {
                ++rejectedPackets;
                continue;
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
        const int readResult = av.readFrame(format, packet);
        if (readResult == AVERROR_EOF) {
            inputEnded = true;
            av.codecSendPacket(codec, nullptr);
            return;
        }
        if (readResult < 0)
            fail("The file " + quotedName(path) + " could not be read.");
        if (packet->stream_index == streamIndex) {
            const int sent = av.codecSendPacket(codec, packet);
            // A damaged packet is skipped, as players do; a file of nothing else fails above.
            if (sent == AVERROR_INVALIDDATA)
                ++rejectedPackets;
            else if (sent < 0 && sent != AVERROR(EAGAIN))
                fail("The audio of " + quotedName(path) + " could not be decoded.");
        }
        av.packetUnref(packet);
    }

    size_t pendingFrames() const { return haveFrame ? frameLength - frameOffset : 0; }
};

} // namespace

std::unique_ptr<AudioDecoder> openFfmpegDecoder(const std::filesystem::path& path) {
    const FfmpegLibrary* library = ffmpegLibrary();
    // Without FFmpeg on the system only the directly read formats open.
    if (library == nullptr)
        throw AudioFileError("The file " + quotedName(path) + " could not be opened as audio.");
    auto decoder = std::make_unique<FfmpegDecoder>(*library, path);
    decoder->open();
    return decoder;
}

} // namespace vt::detail
