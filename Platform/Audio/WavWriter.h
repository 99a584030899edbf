#pragma once
// Writing 32-bit float WAV files through libsndfile, checking every write and the close.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace vt {

// A WAV file that cannot be created, written or closed. what() is user-facing.
class WavWriterError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
    // 'The audio file "X.wav" could not be written: <the system's reason>.' (no reason when
    // systemError is 0).
    static WavWriterError about(const std::filesystem::path& file, int systemError = 0);
};

// True when a 32-bit float WAV of that many frames and channels stays within the format's
// 4 GiB size field.
bool fitsInFloatWav(uint64_t frames, uint64_t channels);

// Writes planar float samples to a 32-bit float, little-endian WAV file. The data is flushed to
// disk on close(); a writer destroyed without close() leaves an incomplete file behind.
class WavWriter {
public:
    // Creates (or truncates) file. Error texts name shownAs when given (the file the user knows,
    // while a temporary is written), else file, with the system's reason. Throws WavWriterError.
    WavWriter(const std::filesystem::path& file, double sampleRate, int channels,
              const std::filesystem::path& shownAs = {});
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Appends frames [offset, offset + count) of every channel. Throws WavWriterError.
    void write(const std::vector<std::vector<float>>& channels, size_t offset, size_t count);
    void write(const std::vector<std::vector<float>>& channels) {
        write(channels, 0, channels.empty() ? 0 : channels.front().size());
    }
    // Finishes the header, flushes to disk and closes. Throws WavWriterError.
    void close();

private:
    void startWriteback();

    void* handle = nullptr;
    int descriptor = -1;
    int64_t writebackStart = 0;
    int channelCount = 0;
    uint64_t framesWritten = 0;
    std::filesystem::path path;
    std::vector<float> interleaved;
};

// Writes a whole file in one go (used for fixtures and small outputs). Throws WavWriterError.
void writeFloatWav(const std::filesystem::path& path, double sampleRate,
                   const std::vector<std::vector<float>>& channels);

} // namespace vt
