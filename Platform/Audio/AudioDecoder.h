#pragma once
// The decoders behind AudioFileReader: direct readers for WAV, AIFF and FLAC, FFmpeg for compressed
// formats and A-law/µ-law. Internal to Platform/Audio and its tests.

#include "Platform/Audio/AudioFile.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace vt::detail {

// One way of decoding a file's audio to planar float at its own rate.
class AudioDecoder {
public:
    virtual ~AudioDecoder() = default;
    virtual double sampleRate() const = 0;
    virtual int channelCount() const = 0;
    virtual std::optional<int64_t> estimatedFrameCount() const = 0;
    // Appends up to n frames to each of channelCount() arrays (resizing channels to that count);
    // returns how many, 0 at the end. Throws AudioFileError.
    virtual size_t readAppending(std::vector<std::vector<float>>& channels, size_t n) = 0;
};

// An open file descriptor, closed with its owner.
class FileHandle {
public:
    explicit FileHandle(int descriptor = -1) : fd(descriptor) {}
    FileHandle(FileHandle&& other) noexcept : fd(other.fd) { other.fd = -1; }
    FileHandle& operator=(FileHandle&&) = delete;
    ~FileHandle() {
        if (fd >= 0)
            ::close(fd);
    }
    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }

private:
    int fd;
};

// FFmpeg's decoding of any file it can read, its libraries loaded on first use. Throws AudioFileError.
std::unique_ptr<AudioDecoder> openFfmpegDecoder(const std::filesystem::path& path);

// The direct decoding of the open regular file as WAV or AIFF, or nullptr when it is neither or
// holds compressed, A-law or µ-law audio (the caller then tries the others). Throws AudioFileError
// for uncompressed audio in a form it cannot read or a damaged header: such a file is never handed
// on, so no other decoder reads it as other values. On success the decoder takes the handle.
std::unique_ptr<AudioDecoder> openPcmDecoder(const std::filesystem::path& path, FileHandle& file);
// The direct decoding of the open regular file as FLAC, or nullptr when it is not a FLAC file this
// reader takes (the caller then uses FFmpeg). On success the decoder takes the handle.
std::unique_ptr<AudioDecoder> openFlacDecoder(const std::filesystem::path& path, FileHandle& file);

// The file's name in quotes, as the error texts show it.
inline std::string quotedName(const std::filesystem::path& path) {
    return "\"" + path.filename().string() + "\"";
}

// A sample as float; one that is not finite, or too large for a float (a double sample of 1e300
// would turn into an infinity), reads as 0.
inline float finiteOrZero(double value) {
    return std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max()
               ? static_cast<float>(value)
               : 0.0f;
}

} // namespace vt::detail
