#include "Platform/Audio/FfmpegLibrary.h"

#include <dlfcn.h>
#include <mutex>

namespace vt::detail {

namespace {

#define VT_SONAME(name, major) ("lib" name ".so." AV_STRINGIFY(major))

// Opens a library by soname and keeps it for the life of the process.
void* openLibrary(const char* soname) {
    return ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
}

template <typename Function> bool resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

bool load(FfmpegLibrary& f) {
    void* util = openLibrary(VT_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR));
    void* codec = util ? openLibrary(VT_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR)) : nullptr;
    void* format = codec ? openLibrary(VT_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR)) : nullptr;
    if (format == nullptr)
        return false;
    return resolve(util, "av_log_set_level", f.logSetLevel) && resolve(util, "av_dict_set", f.dictSet) &&
           resolve(util, "av_dict_free", f.dictFree) && resolve(util, "av_frame_alloc", f.frameAlloc) &&
           resolve(util, "av_frame_free", f.frameFree) && resolve(util, "av_frame_unref", f.frameUnref) &&
           resolve(util, "av_get_packed_sample_fmt", f.packedSampleFormat) &&
           resolve(util, "av_sample_fmt_is_planar", f.sampleFormatIsPlanar) &&
           resolve(util, "av_rescale_q", f.rescaleQ) && resolve(util, "av_rescale", f.rescale) &&
           resolve(codec, "avcodec_alloc_context3", f.codecAllocContext) &&
           resolve(codec, "avcodec_free_context", f.codecFreeContext) &&
           resolve(codec, "avcodec_parameters_to_context", f.codecParametersToContext) &&
           resolve(codec, "avcodec_open2", f.codecOpen) &&
           resolve(codec, "avcodec_receive_frame", f.codecReceiveFrame) &&
           resolve(codec, "avcodec_send_packet", f.codecSendPacket) &&
           resolve(codec, "av_packet_alloc", f.packetAlloc) &&
           resolve(codec, "av_packet_free", f.packetFree) &&
           resolve(codec, "av_packet_unref", f.packetUnref) &&
           resolve(format, "avformat_open_input", f.formatOpenInput) &&
           resolve(format, "avformat_find_stream_info", f.formatFindStreamInfo) &&
           resolve(format, "av_find_best_stream", f.findBestStream) &&
           resolve(format, "av_read_frame", f.readFrame) &&
           resolve(format, "avformat_close_input", f.formatCloseInput);
}

} // namespace

const FfmpegLibrary* ffmpegLibrary() {
    static FfmpegLibrary library{};
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] {
        loaded = load(library);
        if (loaded)
            library.logSetLevel(AV_LOG_QUIET);
    });
    return loaded ? &library : nullptr;
}

} // namespace vt::detail
