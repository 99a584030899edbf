#include "Tests/Support/Audio/M4aFixture.h"

#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

namespace vt::test {

namespace {

[[noreturn]] void encoderFailure(const std::string& step) {
    throw std::runtime_error("m4a fixture: " + step + " failed");
}

struct Encoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    AVStream* stream = nullptr;
    ~Encoder() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format != nullptr) {
            if (format->pb != nullptr)
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }
    void drain() {
        while (avcodec_receive_packet(codec, packet) == 0) {
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            if (av_interleaved_write_frame(format, packet) < 0)
                encoderFailure("writing a packet");
        }
    }
};

} // namespace

void writeM4a(const std::filesystem::path& path, int sampleRate, const Channels& channels) {
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    av_log_set_level(AV_LOG_QUIET);
    Encoder e;
    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    if (aac == nullptr)
        encoderFailure("finding the AAC encoder");
    if (avformat_alloc_output_context2(&e.format, nullptr, "ipod", path.c_str()) < 0)
        encoderFailure("creating the container");
    e.codec = avcodec_alloc_context3(aac);
    e.codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    e.codec->sample_rate = sampleRate;
    av_channel_layout_default(&e.codec->ch_layout, static_cast<int>(channels.size()));
    e.codec->bit_rate = 160000;
    e.codec->time_base = AVRational{1, sampleRate};
    if (e.format->oformat->flags & AVFMT_GLOBALHEADER)
        e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(e.codec, aac, nullptr) < 0)
        encoderFailure("opening the encoder");
    e.stream = avformat_new_stream(e.format, nullptr);
    e.stream->time_base = e.codec->time_base;
    avcodec_parameters_from_context(e.stream->codecpar, e.codec);
    if (avio_open(&e.format->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        encoderFailure("opening the file");
    if (avformat_write_header(e.format, nullptr) < 0)
        encoderFailure("writing the header");
    e.frame = av_frame_alloc();
    e.packet = av_packet_alloc();
    const size_t total = channels.empty() ? 0 : channels.front().size();
    const int frameSize = e.codec->frame_size > 0 ? e.codec->frame_size : 1024;
    for (size_t at = 0; at < total; at += static_cast<size_t>(frameSize)) {
        const int count = static_cast<int>(std::min<size_t>(frameSize, total - at));
        e.frame->nb_samples = count;
        e.frame->format = e.codec->sample_fmt;
        e.frame->sample_rate = sampleRate;
        av_channel_layout_copy(&e.frame->ch_layout, &e.codec->ch_layout);
        if (av_frame_get_buffer(e.frame, 0) < 0)
            encoderFailure("allocating a frame");
        for (size_t c = 0; c < channels.size(); ++c) {
            auto* target = reinterpret_cast<float*>(e.frame->data[c]);
            for (int i = 0; i < count; ++i)
                target[i] = channels[c][at + static_cast<size_t>(i)];
        }
        e.frame->pts = static_cast<int64_t>(at);
        if (avcodec_send_frame(e.codec, e.frame) < 0)
            encoderFailure("encoding");
        av_frame_unref(e.frame);
        e.drain();
    }
    avcodec_send_frame(e.codec, nullptr);
    e.drain();
    if (av_write_trailer(e.format) < 0)
        encoderFailure("writing the trailer");
}

} // namespace vt::test
