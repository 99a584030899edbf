#pragma once
// Reading audio files into 32-bit float samples, one array per channel, at the file's own sample
// rate: WAV, AIFF and FLAC directly, every other format FFmpeg can decode through FFmpeg (whose
// libraries load when the first such file is opened).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace vt {

// Decoded audio: planar float samples at the file's own rate.
struct AudioData {
    double sampleRate = 0;
    std::vector<std::vector<float>> channels;
    size_t frameCount() const { return channels.empty() ? 0 : channels.front().size(); }
};

// A file that cannot be opened, holds no audio, or cannot be decoded. what() is user-facing.
class AudioFileError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

// Reads a file's best audio stream in blocks. Encoder priming and padding are trimmed,
// non-finite samples read as 0. The rate and channel count are those of the decoded frames.
class AudioFileReader {
public:
    // Opens the file and decodes its first frame. Throws AudioFileError.
    explicit AudioFileReader(const std::filesystem::path& path);
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    double sampleRate() const;
    int channelCount() const;
    // The container's guess of the length in frames; the decoded count may differ.
    std::optional<int64_t> estimatedFrameCount() const;
    // Reads up to n frames per channel. channels is resized to channelCount() arrays of the
    // returned length. Returns 0 at the end. Throws AudioFileError on a read failure.
    size_t read(std::vector<std::vector<float>>& channels, size_t n);
    // Like read(), but appends to the arrays already in channels instead of replacing them.
    size_t readAppending(std::vector<std::vector<float>>& channels, size_t n);
    // Frames handed out by read() so far.
    int64_t framesRead() const;

private:
    struct State;
    std::unique_ptr<State> state;
};

// Reserves room for frames samples in a channel array. Long arrays are backed by huge pages where
// the kernel allows it: the first touch of a large buffer then costs far fewer page faults.
void reserveChannel(std::vector<float>& channel, size_t frames);

// Reads the whole file's best audio stream to planar 32-bit float at its own rate. Throws
// AudioFileError; with maxFrames, also when the file holds more frames than that.
AudioData readAudioFile(const std::filesystem::path& path, std::optional<size_t> maxFrames = std::nullopt);

} // namespace vt
