// The audio file reader on arbitrary bytes: a file opens and decodes or is refused with an
// AudioFileError; decoded audio has equal-length, finite channels at a sane rate.

#include "Platform/Audio/AudioFile.h"
#include "Tests/Fuzz/FuzzCheck.h"

#include <cmath>
#include <fstream>
#include <unistd.h>

namespace {

std::filesystem::path scratchFile() {
    const auto folder = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                            : std::filesystem::temp_directory_path();
    return folder / ("vellumtide-fuzz-audio-" + std::to_string(::getpid()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    static const std::filesystem::path path = scratchFile();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
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
            if (frames > 48000 * 60)
                break; // long enough: the fuzzer's time is better spent elsewhere
        }
    } catch (const vt::AudioFileError&) {
    }
    std::filesystem::remove(path);
    return 0;
}
