#pragma once
// FFmpeg's decoding functions, loaded from the system's libraries the first time a compressed file
// is opened, so a program (or a host holding the plug-in) that only ever reads PCM files never
// maps them. Internal to Platform/Audio.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
}

namespace vt::detail {

// The functions the decoder calls, resolved from the libraries of the major versions it was built
// against (the structures it reads are those of that version).
struct FfmpegLibrary {
    decltype(&av_log_set_level) logSetLevel;
    decltype(&av_dict_set) dictSet;
    decltype(&av_dict_free) dictFree;
    decltype(&av_frame_alloc) frameAlloc;
    decltype(&av_frame_free) frameFree;
    decltype(&av_frame_unref) frameUnref;
    decltype(&av_get_packed_sample_fmt) packedSampleFormat;
    decltype(&av_sample_fmt_is_planar) sampleFormatIsPlanar;
    decltype(&av_rescale_q) rescaleQ;
    decltype(&av_rescale) rescale;
    decltype(&avcodec_alloc_context3) codecAllocContext;
    decltype(&avcodec_free_context) codecFreeContext;
    decltype(&avcodec_parameters_to_context) codecParametersToContext;
    decltype(&avcodec_open2) codecOpen;
    decltype(&avcodec_receive_frame) codecReceiveFrame;
    decltype(&avcodec_send_packet) codecSendPacket;
    decltype(&av_packet_alloc) packetAlloc;
    decltype(&av_packet_free) packetFree;
    decltype(&av_packet_unref) packetUnref;
    decltype(&avformat_open_input) formatOpenInput;
    decltype(&avformat_find_stream_info) formatFindStreamInfo;
    decltype(&av_find_best_stream) findBestStream;
    decltype(&av_read_frame) readFrame;
    decltype(&avformat_close_input) formatCloseInput;
};

// The loaded functions, or nullptr when the libraries are missing or lack one of them. Loads once
// per process (thread-safe); the libraries stay loaded until the process ends.
const FfmpegLibrary* ffmpegLibrary();

} // namespace vt::detail
