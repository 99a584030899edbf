#include "VellumtideAU/Engine/VellumtideLoadedPad.h"

#include "Platform/Audio/AudioFile.h"

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

std::shared_ptr<const VellumtideLoadedPad>
VellumtideLoadedPad::load(const VellumtidePadAssignment& assignment) {
    // Only regular files: opening a FIFO or a device would block the host or never end.
    auto identity = VellumtideFileIdentity::ofRegularFile(assignment.filePath);
    if (!identity)
        return nullptr;
    try {
        // One frame more than allowed tells a file that is too long from one that fits exactly.
        vt::AudioData data = vt::readAudioFile(assignment.filePath, maximumFrameCount + 1);
        std::size_t frames = data.frameCount();
        if (frames < 1 || frames > maximumFrameCount || data.channels.empty() ||
            !std::isfinite(data.sampleRate) || data.sampleRate <= 0)
            return nullptr;
        auto audio = std::make_shared<Audio>();
        audio->left = std::move(data.channels[0]);
        if (data.channels.size() >= 2)
            audio->right = std::move(data.channels[1]);
        if (audio->left.size() != frames || (!audio->right.empty() && audio->right.size() != frames))
            return nullptr;
        return std::shared_ptr<const VellumtideLoadedPad>(
            new VellumtideLoadedPad(assignment, data.sampleRate, *identity, std::move(audio)));
    } catch (const std::bad_alloc&) {
        return nullptr; // too large to hold: the pad stays silent instead of taking the host down
    } catch (const std::length_error&) {
        return nullptr;
    } catch (const std::exception&) {
        return nullptr; // unreadable, unsupported or damaged
    }
}

std::shared_ptr<const VellumtideLoadedPad>
VellumtideLoadedPad::reusing(const VellumtidePadAssignment& assignment, const VellumtideLoadedPad& earlier) {
    return std::shared_ptr<const VellumtideLoadedPad>(
        new VellumtideLoadedPad(assignment, earlier.sampleRate, earlier.fileIdentity, earlier.audio));
}
