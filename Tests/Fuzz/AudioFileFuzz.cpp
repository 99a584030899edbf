// The audio file reader on arbitrary bytes: a file opens and decodes or is refused with an
// AudioFileError; decoded audio has equal-length, finite channels at a sane rate. Where the WAV and
// AIFF reader takes or refuses the file, the reader reads those samples or fails with that text:
// such a file never reaches another decoder.

#include "Platform/Audio/AudioDecoder.h"
#include "Platform/Audio/AudioFile.h"
#include "Tests/Fuzz/FuzzCheck.h"

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace {

constexpr std::int64_t enoughFrames = 48000 * 60; // the fuzzer's time is better spent elsewhere

std::filesystem::path scratchFile() {
    const auto folder = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                            : std::filesystem::temp_directory_path();
    return folder / ("vellumtide-fuzz-audio-" + std::to_string(::getpid()));
}

void checkReader(const std::filesystem::path& path) {
    try {
        vt::AudioFileReader reader(path);
        vt::fuzz::check(reader.sampleRate() > 0 && std::isfinite(reader.sampleRate()), "a positive rate");
        vt::fuzz::check(reader.channelCount() > 0, "at least one channel");
        std::vector<std::vector<float>> block;
        std::int64_t frames = 0;
        while (const std::size_t got = reader.read(block, 4096)) {
            vt::fuzz::check(block.size() == static_cast<std::size_t>(reader.channelCount()), "every channel");
            for (const auto& channel : block) {
                vt::fuzz::check(channel.size() == got, "equal-length channels");
                for (float sample : channel)
                    vt::fuzz::check(std::isfinite(sample), "finite samples");
            }
            frames += static_cast<std::int64_t>(got);
            if (frames > enoughFrames)
                break;
        }
    } catch (const vt::AudioFileError&) {
    }
}

// A decoder's or reader's rate, channels and samples as bytes, or its error text.
template <typename Source> std::string decoded(Source& source) {
    std::string out = std::to_string(source.sampleRate()) + "/" + std::to_string(source.channelCount()) + ":";
    std::vector<std::vector<float>> channels;
    try {
        for (std::int64_t frames = 0; frames <= enoughFrames;) {
            const std::size_t got = source.readAppending(channels, 4096);
            if (got == 0)
                break;
            frames += static_cast<std::int64_t>(got);
        }
    } catch (const vt::AudioFileError& error) {
        return error.what();
    }
    for (const auto& channel : channels)
        out.append(reinterpret_cast<const char*>(channel.data()), channel.size() * sizeof(float));
    return out;
}

void checkWavAndAiffStayDirect(const std::filesystem::path& path) {
    vt::detail::FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string direct;
    try {
        auto decoder = vt::detail::openPcmDecoder(path, file);
        if (!decoder)
            return;
        direct = decoded(*decoder);
    } catch (const vt::AudioFileError& error) {
        direct = error.what();
    }
    std::string viaReader;
    try {
        vt::AudioFileReader reader(path);
        viaReader = decoded(reader);
    } catch (const vt::AudioFileError& error) {
        viaReader = error.what();
    }
    vt::fuzz::check(viaReader == direct, "a WAV or AIFF file is read or refused by the direct reader alone");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    static const std::filesystem::path path = scratchFile();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    checkReader(path);
    checkWavAndAiffStayDirect(path);
    std::filesystem::remove(path);
    return 0;
}
