#include "Platform/Audio/AudioFile.h"

#include "Platform/Audio/AudioDecoder.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace vt {

namespace {

// The decoder for a file: the direct readers for WAV, AIFF (which refuse a PCM form they cannot
// read rather than hand it on) and FLAC, FFmpeg for everything else (compressed formats, A-law and
// µ-law, special files).
std::unique_ptr<detail::AudioDecoder> openDecoder(const std::filesystem::path& path) {
    struct stat info {};
    // What FFmpeg could not open either: a missing or unreachable file, or a folder.
    if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        throw AudioFileError("The file " + detail::quotedName(path) + " could not be opened as audio.");
    if (S_ISREG(info.st_mode)) {
        detail::FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!file)
            throw AudioFileError("The file " + detail::quotedName(path) + " could not be opened as audio.");
        if (auto pcm = detail::openPcmDecoder(path, file))
            return pcm;
        if (auto flac = detail::openFlacDecoder(path, file))
            return flac;
    }
    return detail::openFfmpegDecoder(path);
}

} // namespace

struct AudioFileReader::State {
    std::unique_ptr<detail::AudioDecoder> decoder;
    int64_t framesOut = 0;
};

AudioFileReader::AudioFileReader(const std::filesystem::path& path) : state(std::make_unique<State>()) {
    state->decoder = openDecoder(path);
}

AudioFileReader::~AudioFileReader() = default;

double AudioFileReader::sampleRate() const {
    return state->decoder->sampleRate();
}

int AudioFileReader::channelCount() const {
    return state->decoder->channelCount();
}

int64_t AudioFileReader::framesRead() const {
    return state->framesOut;
}

std::optional<int64_t> AudioFileReader::estimatedFrameCount() const {
    return state->decoder->estimatedFrameCount();
}

size_t AudioFileReader::read(std::vector<std::vector<float>>& channels, size_t n) {
    for (auto& channel : channels)
        channel.clear();
    return readAppending(channels, n);
}

size_t AudioFileReader::readAppending(std::vector<std::vector<float>>& channels, size_t n) {
    const size_t done = state->decoder->readAppending(channels, n);
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
            throw AudioFileError("The file " + detail::quotedName(path) + " is too long to read.");
    }
    return data;
}

} // namespace vt
