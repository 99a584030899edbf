#include "Tests/Support/Audio/AudioFixtures.h"

#include "Platform/Audio/WavWriter.h"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

namespace vt::test {

size_t framesFor(double seconds, double sampleRate) {
    return static_cast<size_t>(std::llround(seconds * sampleRate));
}

std::vector<float> sineWave(double frequency, double sampleRate, size_t frames, double amplitude) {
    std::vector<float> out(frames);
    const double step = 2.0 * std::numbers::pi * frequency / sampleRate;
    for (size_t i = 0; i < frames; ++i)
        out[i] = static_cast<float>(amplitude * std::sin(step * static_cast<double>(i)));
    return out;
}

std::vector<float> sawWave(double frequency, double sampleRate, size_t frames, int harmonics,
                           double amplitude) {
    std::vector<float> out(frames);
    double norm = 0;
    for (int k = 1; k <= harmonics; ++k)
        norm += 1.0 / k;
    const double step = 2.0 * std::numbers::pi * frequency / sampleRate;
    for (size_t i = 0; i < frames; ++i) {
        double value = 0;
        for (int k = 1; k <= harmonics && frequency * k < sampleRate / 2; ++k)
            value += std::sin(step * k * static_cast<double>(i)) / k;
        out[i] = static_cast<float>(amplitude * value / norm);
    }
    return out;
}

std::vector<float> noise(size_t frames, double amplitude, uint32_t seed) {
    std::vector<float> out(frames);
    uint32_t state = seed == 0 ? 1 : seed;
    for (size_t i = 0; i < frames; ++i) {
        state = state * 1664525u + 1013904223u;
        const double unit = static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
        out[i] = static_cast<float>(amplitude * (2.0 * unit - 1.0));
    }
    return out;
}

namespace {

void addBurst(std::vector<float>& out, size_t start, double sampleRate, double length, double amplitude,
              uint32_t seed) {
    const size_t count = framesFor(length, sampleRate);
    const std::vector<float> burst = noise(count, 1.0, seed);
    for (size_t i = 0; i < count && start + i < out.size(); ++i) {
        const double decay = std::exp(-6.0 * static_cast<double>(i) / static_cast<double>(count));
        out[start + i] += static_cast<float>(amplitude * decay * burst[i]);
    }
}

} // namespace

std::vector<float> clickTrack(double bpm, double sampleRate, size_t frames, double amplitude) {
    std::vector<float> out(frames, 0.0f);
    const double period = 60.0 / bpm * sampleRate;
    uint32_t seed = 7;
    for (double at = 0; at < static_cast<double>(frames); at += period)
        addBurst(out, static_cast<size_t>(std::llround(at)), sampleRate, 0.03, amplitude, seed++);
    return out;
}

std::vector<float> hitsAt(const std::vector<double>& times, double sampleRate, size_t frames,
                          double amplitude) {
    std::vector<float> out(frames, 0.0f);
    uint32_t seed = 11;
    for (const double time : times)
        addBurst(out, framesFor(time, sampleRate), sampleRate, 0.04, amplitude, seed++);
    return out;
}

Channels replicate(const std::vector<float>& signal, int channels) {
    return Channels(static_cast<size_t>(channels), signal);
}

void writeWav(const std::filesystem::path& path, double sampleRate, const Channels& channels) {
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    writeFloatWav(path, sampleRate, channels);
}

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
