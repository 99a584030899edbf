#pragma once
// A pad's audio decoded whole into memory, shared by the unit's pad table and the voices that
// play it; never changed after construction.

#include "VellumtideAU/Engine/VellumtidePadKitState.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What tells one version of a file from another: a file re-rendered in place changes at least
// its modification time.
struct VellumtideFileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;

    // The identity of a regular file at the path (symbolic links followed), or none for a missing
    // file or anything else (folder, FIFO, device).
    static std::optional<VellumtideFileIdentity> ofRegularFile(const std::filesystem::path& path);

    bool operator==(const VellumtideFileIdentity&) const = default;
};

class VellumtideLoadedPad;

// What reading one pad's file gave: the pad, or a short text saying why there is none.
struct VellumtidePadLoad {
    std::shared_ptr<const VellumtideLoadedPad> pad;
    std::string failure; // empty when the pad loaded
};

class VellumtideLoadedPad final {
public:
    // The longest pad, in frames (the largest 32-bit frame count).
    static constexpr std::uint64_t maximumFrameCount = 4294967295ULL;
    // The longest pad, in seconds of audio at the file's own rate.
    static constexpr double maximumDuration = 600;

    // Reads the assignment's file, decoding straight into the pad's own channels (one decoded copy
    // at most). No pad for a missing or non-regular file, an unreadable or empty one, one longer
    // than maximumDuration or maximumFrameCount (refused from its header before decoding when the
    // header tells, else as soon as the decoded audio passes the limit), or one too large to hold.
    static VellumtidePadLoad load(const VellumtidePadAssignment& assignment);
    // The end of the failure text of a file over the limit (after its quoted name).
    static constexpr const char* tooLongText = " is longer than 10 minutes and was not loaded.";
    // A pad for a new assignment sharing the audio of an earlier pad (no file is read).
    static std::shared_ptr<const VellumtideLoadedPad> reusing(const VellumtidePadAssignment& assignment,
                                                              const VellumtideLoadedPad& earlier);

    const VellumtidePadAssignment assignment;
    const double sampleRate;
    const VellumtideFileIdentity fileIdentity;

    // Both channels have frameCount() values, at least one; a mono file's right equals its left.
    const std::vector<float>& left() const { return audio->left; }
    const std::vector<float>& right() const { return audio->right.empty() ? audio->left : audio->right; }
    std::size_t frameCount() const { return audio->left.size(); }

private:
    struct Audio {
        std::vector<float> left;
        std::vector<float> right; // empty for a mono file
    };

    VellumtideLoadedPad(VellumtidePadAssignment assignment, double sampleRate,
                        VellumtideFileIdentity identity, std::shared_ptr<const Audio> audio);

    std::shared_ptr<const Audio> audio;
};
