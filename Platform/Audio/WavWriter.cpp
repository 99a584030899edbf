#include "Platform/Audio/WavWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sndfile.h>
#include <string>
#include <unistd.h>

namespace vt {

namespace {

constexpr uint64_t wavHeaderAllowance = 4096;
constexpr size_t blockFrames = 8192;

std::string failureText(const std::filesystem::path& path) {
    return "The audio file \"" + path.filename().string() + "\" could not be written.";
}

} // namespace

bool fitsInFloatWav(uint64_t frames, uint64_t channels) {
    constexpr uint64_t limit = 0xFFFFFFFFull - wavHeaderAllowance;
    if (channels == 0)
        return true;
    return frames <= limit / (channels * sizeof(float));
}

WavWriter::WavWriter(const std::filesystem::path& path, double sampleRate, int channels)
    : channelCount(channels), path(path) {
    if (channels < 1 || !std::isfinite(sampleRate) || sampleRate < 1 || sampleRate > 0x7FFFFFFF)
        throw WavWriterError(failureText(path));
    descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0)
        throw WavWriterError(failureText(path));
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(sampleRate));
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE;
    file = sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
        ::close(descriptor);
        descriptor = -1;
        throw WavWriterError(failureText(path));
    }
}

WavWriter::~WavWriter() {
    if (file != nullptr)
        sf_close(static_cast<SNDFILE*>(file));
    if (descriptor >= 0)
        ::close(descriptor);
}

void WavWriter::write(const std::vector<std::vector<float>>& channels, size_t offset, size_t count) {
    if (file == nullptr || channels.size() != static_cast<size_t>(channelCount))
        throw WavWriterError(failureText(path));
    for (const auto& channel : channels) {
        if (offset > channel.size() || count > channel.size() - offset)
            throw WavWriterError(failureText(path));
    }
    if (!fitsInFloatWav(framesWritten + count, static_cast<uint64_t>(channelCount)))
        throw WavWriterError(failureText(path));
    const auto width = static_cast<size_t>(channelCount);
    interleaved.resize(std::min(count, blockFrames) * width);
    for (size_t done = 0; done < count;) {
        const size_t take = std::min(blockFrames, count - done);
        for (size_t c = 0; c < width; ++c) {
            const float* source = channels[c].data() + offset + done;
            for (size_t i = 0; i < take; ++i)
                interleaved[i * width + c] = source[i];
        }
        const sf_count_t written =
            sf_writef_float(static_cast<SNDFILE*>(file), interleaved.data(), static_cast<sf_count_t>(take));
        if (written != static_cast<sf_count_t>(take))
            throw WavWriterError(failureText(path));
        done += take;
    }
    framesWritten += count;
}

void WavWriter::close() {
    if (file == nullptr)
        throw WavWriterError(failureText(path));
    const int closed = sf_close(static_cast<SNDFILE*>(file));
    file = nullptr;
    const bool synced = ::fsync(descriptor) == 0;
    const bool descriptorClosed = ::close(descriptor) == 0;
    descriptor = -1;
    if (closed != 0 || !synced || !descriptorClosed)
        throw WavWriterError(failureText(path));
}

void writeFloatWav(const std::filesystem::path& path, double sampleRate,
                   const std::vector<std::vector<float>>& channels) {
    WavWriter writer(path, sampleRate, static_cast<int>(channels.size()));
    writer.write(channels);
    writer.close();
}

} // namespace vt
