#include "VellumtideAU/Engine/VellumtideLoadedPad.h"

#include "Platform/Audio/AudioFile.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

std::optional<VellumtideFileIdentity>
VellumtideFileIdentity::ofRegularFile(const std::filesystem::path& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return VellumtideFileIdentity{
        static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
        static_cast<std::int64_t>(info.st_size), static_cast<std::int64_t>(info.st_mtim.tv_sec),
        static_cast<std::int64_t>(info.st_mtim.tv_nsec)};
}

VellumtideLoadedPad::VellumtideLoadedPad(VellumtidePadAssignment assignment, double sampleRate,
                                         VellumtideFileIdentity identity, std::shared_ptr<const Audio> audio)
    : assignment(std::move(assignment)), sampleRate(sampleRate), fileIdentity(identity),
      audio(std::move(audio)) {}

namespace {

constexpr std::size_t decodeBlockFrames = 65536;

std::string quoted(const std::string& path) {
    return "\"" + std::filesystem::path(path).filename().string() + "\"";
}

VellumtidePadLoad failed(const std::string& path, const char* reason) {
    return {nullptr, quoted(path) + reason};
}

// The most frames a pad may hold at the given rate.
std::uint64_t frameLimit(double sampleRate) {
    double frames = std::floor(VellumtideLoadedPad::maximumDuration * sampleRate);
    return frames >= double(VellumtideLoadedPad::maximumFrameCount) ? VellumtideLoadedPad::maximumFrameCount
                                                                    : static_cast<std::uint64_t>(frames);
}

void append(std::vector<float>& channel, const std::vector<float>& block) {
    channel.insert(channel.end(), block.begin(), block.end());
}

} // namespace

VellumtidePadLoad VellumtideLoadedPad::load(const VellumtidePadAssignment& assignment) {
    const std::string& path = assignment.filePath;
    // Only regular files: opening a FIFO or a device would block the host or never end.
    auto identity = VellumtideFileIdentity::ofRegularFile(path);
    if (!identity) {
        std::error_code error;
        bool exists = !path.empty() && std::filesystem::exists(path, error);
        return failed(path, exists ? " is not an audio file." : " could not be found.");
    }
    try {
        vt::AudioFileReader reader(path);
        double rate = reader.sampleRate();
        if (!std::isfinite(rate) || rate <= 0 || reader.channelCount() < 1)
            return failed(path, " could not be read as audio.");
        std::uint64_t limit = frameLimit(rate);
        auto estimate = reader.estimatedFrameCount();
        if (estimate && static_cast<std::uint64_t>(*estimate) > limit)
            return failed(path, tooLongText);

        auto audio = std::make_shared<Audio>();
        bool stereo = reader.channelCount() >= 2;
        if (estimate && *estimate > 0) {
            auto room = std::min<std::uint64_t>(static_cast<std::uint64_t>(*estimate) + 4096, limit);
            vt::reserveChannel(audio->left, room);
            if (stereo)
                vt::reserveChannel(audio->right, room);
        }
        std::vector<std::vector<float>> block;
        while (std::size_t frames = reader.read(block, decodeBlockFrames)) {
            if (audio->left.size() + frames > limit)
                return failed(path, tooLongText);
            append(audio->left, block[0]);
            if (stereo)
                append(audio->right, block[1]);
        }
        if (audio->left.empty())
            return failed(path, " holds no audio.");
        return {std::shared_ptr<const VellumtideLoadedPad>(
                    new VellumtideLoadedPad(assignment, rate, *identity, std::move(audio))),
                {}};
    } catch (const std::bad_alloc&) {
        return failed(path, " is too large to load."); // the pad stays silent; the host goes on
    } catch (const std::length_error&) {
        return failed(path, " is too large to load.");
    } catch (const std::exception&) {
        return failed(path, " could not be read as audio."); // unreadable, unsupported or damaged
    }
}

std::shared_ptr<const VellumtideLoadedPad>
VellumtideLoadedPad::reusing(const VellumtidePadAssignment& assignment, const VellumtideLoadedPad& earlier) {
    return std::shared_ptr<const VellumtideLoadedPad>(
        new VellumtideLoadedPad(assignment, earlier.sampleRate, earlier.fileIdentity, earlier.audio));
}
