// Direct reading of FLAC files through libFLAC. Only files with a sound stream header and the usual
// metadata are read this way; where libFLAC and FFmpeg could part (a damaged frame, a change of
// format, an early end), reading goes on through FFmpeg from the frames already handed out: up to
// there both decoders give the same samples of a lossless stream.

#include "Platform/Audio/AudioDecoder.h"

#include <FLAC/stream_decoder.h>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace vt::detail {

namespace {

uint32_t be16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]);
}
uint32_t be24(const uint8_t* p) {
    return be16(p) << 8 | static_cast<uint32_t>(p[2]);
}

struct FlacStream {
    unsigned maxBlock = 0;
    int rate = 0;
    int channels = 0;
    int bits = 0;
    int64_t frames = 0;
};

// The stream header, when FFmpeg takes it as FLAC's and libFLAC's samples scale to FFmpeg's alike:
// a known length, 8 to 24 bits.
std::optional<FlacStream> streamInfo(const uint8_t* block) {
    const uint32_t minBlock = be16(block);
    const uint32_t maxBlock = be16(block + 2);
    FlacStream stream;
    stream.maxBlock = maxBlock;
    stream.rate = static_cast<int>(be24(block + 10) >> 4);
    stream.channels = static_cast<int>((block[12] >> 1) & 7) + 1;
    stream.bits = static_cast<int>(((block[12] & 1) << 4) | (block[13] >> 4)) + 1;
    stream.frames = static_cast<int64_t>(block[13] & 0x0F) << 32 |
                    static_cast<int64_t>(be16(block + 14)) << 16 | be16(block + 16);
    if (minBlock < 16 || maxBlock < minBlock || stream.rate < 1 || stream.rate > 655350 || stream.bits < 8 ||
        stream.bits > 24 || stream.frames < 1)
        return std::nullopt;
    return stream;
}

// The stream of a FLAC file read directly: a stream header first, then only metadata both readers
// take alike (no picture or cue sheet, which FFmpeg parses and may refuse), then audio.
std::optional<FlacStream> directStream(int fd, int64_t fileSize) {
    uint8_t head[42];
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head) || head[0] != 'f' ||
        head[1] != 'L' || head[2] != 'a' || head[3] != 'C' || (head[4] & 0x7F) != 0 || be24(head + 5) != 34)
        return std::nullopt;
    auto stream = streamInfo(head + 8);
    if (!stream)
        return std::nullopt;
    bool last = (head[4] & 0x80) != 0;
    int64_t position = 42;
    for (int blocks = 0; !last; ++blocks) {
        uint8_t header[4];
        if (blocks > 1000 || ::pread(fd, header, sizeof header, position) != 4)
            return std::nullopt;
        last = (header[0] & 0x80) != 0;
        const int type = header[0] & 0x7F;
        if (type == 0 || type > 4) // another stream header, a cue sheet, a picture or a reserved type
            return std::nullopt;
        position += 4 + be24(header + 1);
    }
    if (position >= fileSize)
        return std::nullopt;
    return stream;
}

// Reads through libFLAC to the end of the stream, as FFmpeg does. A frame that libFLAC reports as
// damaged, that changes the stream's format or that FFmpeg would refuse (longer than the header's
// largest block), or an end short of the stated length, hands the reading to FFmpeg from the frames
// already given out.
class FlacFileDecoder final : public AudioDecoder {
public:
    FlacFileDecoder(const std::filesystem::path& path, FileHandle& file, const FlacStream& stream)
        : path(path), file(std::move(file)), stream(stream), decoder(FLAC__stream_decoder_new()),
          scale(1.0f / static_cast<float>(1 << (stream.bits - 1))) {}

    ~FlacFileDecoder() override {
        if (decoder != nullptr)
            FLAC__stream_decoder_delete(decoder);
    }

    // Reads the metadata and decodes the first frame, as FFmpeg does on opening (its rate and
    // channels are the first frame's); false when that gives a doubt (FFmpeg is then left to read
    // the whole file).
    bool start() {
        return decoder != nullptr &&
               FLAC__stream_decoder_init_stream(decoder, readBytes, nullptr, nullptr, nullptr, nullptr,
                                                takeFrame, nullptr, noteError,
                                                this) == FLAC__STREAM_DECODER_INIT_STATUS_OK &&
               (decodeFrame() || !doubt);
    }

    double sampleRate() const override { return stream.rate; }
    int channelCount() const override { return stream.channels; }
    std::optional<int64_t> estimatedFrameCount() const override { return stream.frames; }

    size_t readAppending(std::vector<std::vector<float>>& out, size_t n) override {
        if (ffmpeg)
            return ffmpeg->readAppending(out, n);
        out.resize(static_cast<size_t>(stream.channels));
        size_t done = 0;
        while (done < n) {
            if (pendingOffset == pendingLength() && !decodeFrame()) {
                if (!doubt)
                    break;
                continueWithFfmpeg();
                return done + ffmpeg->readAppending(out, n - done);
            }
            const size_t take = std::min(n - done, pendingLength() - pendingOffset);
            for (size_t c = 0; c < out.size(); ++c)
                out[c].insert(out[c].end(), pending[c].begin() + static_cast<std::ptrdiff_t>(pendingOffset),
                              pending[c].begin() + static_cast<std::ptrdiff_t>(pendingOffset + take));
            pendingOffset += take;
            delivered += static_cast<int64_t>(take);
            done += take;
        }
        return done;
    }

private:
    std::filesystem::path path;
    FileHandle file;
    FlacStream stream;
    FLAC__StreamDecoder* decoder;
    float scale; // FFmpeg's scaling of this width to −1…1, a power of two
    bool doubt = false;
    int64_t decoded = 0;                     // frames decoded by libFLAC
    int64_t delivered = 0;                   // frames handed out
    std::vector<std::vector<float>> pending; // the last decoded frame, planar
    size_t pendingOffset = 0;
    std::unique_ptr<AudioDecoder> ffmpeg;

    size_t pendingLength() const { return pending.empty() ? 0 : pending.front().size(); }

    // Decodes the next frame into pending; false at the end of the stream or on a doubt.
    bool decodeFrame() {
        for (auto& channel : pending)
            channel.clear();
        pendingOffset = 0;
        while (!doubt && pendingLength() == 0) {
            // A stream that ends short of its stated length was cut off inside a frame, which
            // FFmpeg may still partly read.
            if (FLAC__stream_decoder_get_state(decoder) == FLAC__STREAM_DECODER_END_OF_STREAM) {
                doubt = decoded != stream.frames;
                return false;
            }
            if (!FLAC__stream_decoder_process_single(decoder))
                doubt = true;
        }
        return !doubt;
    }

    static FLAC__StreamDecoderReadStatus readBytes(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                                   size_t* bytes, void* self) {
        auto& me = *static_cast<FlacFileDecoder*>(self);
        ssize_t got;
        do
            got = ::read(me.file.get(), buffer, *bytes);
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            me.doubt = true;
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        *bytes = static_cast<size_t>(got);
        return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                        : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }

    static FLAC__StreamDecoderWriteStatus takeFrame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                    const FLAC__int32* const buffer[], void* self) {
        auto& me = *static_cast<FlacFileDecoder*>(self);
        const FLAC__FrameHeader& header = frame->header;
        if (static_cast<int>(header.channels) != me.stream.channels ||
            static_cast<int>(header.sample_rate) != me.stream.rate ||
            static_cast<int>(header.bits_per_sample) != me.stream.bits ||
            header.blocksize > me.stream.maxBlock) {
            me.doubt = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        me.pending.resize(header.channels);
        for (unsigned c = 0; c < header.channels; ++c) {
            std::vector<float>& target = me.pending[c];
            target.resize(header.blocksize);
            for (unsigned i = 0; i < header.blocksize; ++i)
                target[i] = static_cast<float>(buffer[c][i]) * me.scale;
        }
        me.decoded += header.blocksize;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void noteError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* self) {
        static_cast<FlacFileDecoder*>(self)->doubt = true;
    }

    // Opens the file through FFmpeg and passes over the frames already handed out.
    void continueWithFfmpeg() {
        ffmpeg = openFfmpegDecoder(path);
        if (ffmpeg->sampleRate() != stream.rate || ffmpeg->channelCount() != stream.channels)
            throw AudioFileError("The audio of " + quotedName(path) +
                                 " changes its format part-way and cannot be read.");
        std::vector<std::vector<float>> skipped;
        for (int64_t left = delivered; left > 0;) {
            for (auto& channel : skipped)
                channel.clear();
            const size_t got =
                ffmpeg->readAppending(skipped, static_cast<size_t>(std::min<int64_t>(left, 65536)));
            if (got == 0)
                break;
            left -= static_cast<int64_t>(got);
        }
    }
};

} // namespace

std::unique_ptr<AudioDecoder> openFlacDecoder(const std::filesystem::path& path, FileHandle& file) {
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        return nullptr;
    const auto stream = directStream(file.get(), info.st_size);
    if (!stream)
        return nullptr;
    FileHandle own(::dup(file.get()));
    if (!own)
        return nullptr;
    auto decoder = std::make_unique<FlacFileDecoder>(path, own, *stream);
    if (!decoder->start())
        return nullptr;
    return decoder;
}

} // namespace vt::detail
