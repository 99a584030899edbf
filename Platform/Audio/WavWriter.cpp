#include "Platform/Audio/WavWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sndfile.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace vt {

namespace {

constexpr uint64_t wavHeaderAllowance = 4096;
constexpr size_t blockFrames = 8192;

// The reason a libsndfile call failed: the system's error it left behind, if any.
int systemErrorAfter(int savedErrno) {
    return savedErrno != 0 ? savedErrno : EIO;
}

} // namespace

WavWriterError WavWriterError::about(const std::filesystem::path& file, int systemError) {
    std::string text = "The audio file \"" + file.filename().string() + "\" could not be written";
    if (systemError != 0)
        text += ": " + std::generic_category().message(systemError);
    return WavWriterError(text + ".");
}

bool fitsInFloatWav(uint64_t frames, uint64_t channels) {
    constexpr uint64_t limit = 0xFFFFFFFFull - wavHeaderAllowance;
    if (channels == 0)
        return true;
    return frames <= limit / (channels * sizeof(float));
}

WavWriter::WavWriter(const std::filesystem::path& file, double sampleRate, int channels,
                     const std::filesystem::path& shownAs)
    : channelCount(channels), path(shownAs.empty() ? file : shownAs) {
    if (channels < 1 || !std::isfinite(sampleRate) || sampleRate < 1 || sampleRate > 0x7FFFFFFF)
        throw WavWriterError::about(path);
    descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0)
        throw WavWriterError::about(path, errno);
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(sampleRate));
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE;
    errno = 0;
    handle = sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE);
    if (handle == nullptr) {
        const int reason = systemErrorAfter(errno);
        ::close(descriptor);
        descriptor = -1;
        throw WavWriterError::about(path, reason);
    }
}

WavWriter::~WavWriter() {
    if (handle != nullptr)
        sf_close(static_cast<SNDFILE*>(handle));
    if (descriptor >= 0)
        ::close(descriptor);
}

void WavWriter::write(const std::vector<std::vector<float>>& channels, size_t offset, size_t count) {
    if (handle == nullptr || channels.size() != static_cast<size_t>(channelCount))
        throw WavWriterError::about(path);
    for (const auto& channel : channels) {
        if (offset > channel.size() || count > channel.size() - offset)
            throw WavWriterError::about(path);
    }
    if (!fitsInFloatWav(framesWritten + count, static_cast<uint64_t>(channelCount)))
        throw WavWriterError::about(path);
    const auto width = static_cast<size_t>(channelCount);
    interleaved.resize(std::min(count, blockFrames) * width);
    for (size_t done = 0; done < count;) {
        const size_t take = std::min(blockFrames, count - done);
        for (size_t c = 0; c < width; ++c) {
            const float* source = channels[c].data() + offset + done;
            for (size_t i = 0; i < take; ++i)
                interleaved[i * width + c] = source[i];
        }
        errno = 0;
        const sf_count_t written =
            sf_writef_float(static_cast<SNDFILE*>(handle), interleaved.data(), static_cast<sf_count_t>(take));
        if (written != static_cast<sf_count_t>(take))
            throw WavWriterError::about(path, systemErrorAfter(errno));
        done += take;
    }
    framesWritten += count;
    startWriteback();
}

void WavWriter::startWriteback() {
    // What libsndfile has handed to the system so far starts on its way to the disk, so the flush
    // at close() waits for the last part only. Only a hint: the flush still covers everything.
    constexpr off_t stride = off_t{1} << 20;
    const off_t written = ::lseek(descriptor, 0, SEEK_CUR);
    if (written - writebackStart >= stride) {
        ::sync_file_range(descriptor, writebackStart, written - writebackStart, SYNC_FILE_RANGE_WRITE);
        writebackStart = written;
    }
}

void WavWriter::close() {
    if (handle == nullptr)
        throw WavWriterError::about(path);
    errno = 0;
    const int closed = sf_close(static_cast<SNDFILE*>(handle));
    int reason = closed != 0 ? systemErrorAfter(errno) : 0;
    handle = nullptr;
    if (::fsync(descriptor) != 0 && reason == 0)
        reason = errno;
    if (::close(descriptor) != 0 && reason == 0)
        reason = errno;
    descriptor = -1;
    if (reason != 0)
        throw WavWriterError::about(path, reason);
}

void writeFloatWav(const std::filesystem::path& path, double sampleRate,
                   const std::vector<std::vector<float>>& channels) {
    WavWriter writer(path, sampleRate, static_cast<int>(channels.size()));
    writer.write(channels);
    writer.close();
}

} // namespace vt
