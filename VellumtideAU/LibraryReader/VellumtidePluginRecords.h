#pragma once
// The plug-in's read-only view of one library sample, one of its chops and its non-destructive
// edit, with the edit rules and the display texts the window shows.

#include "Platform/Core/Dates.h"
#include "Platform/Core/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A non-destructive edit: the kept range, fades and the two switches. Values are used as read;
// sanitized() clamps them to one recording.
struct VellumtidePluginEdit {
    double startTime = 0;
    std::optional<double> endTime;
    double fadeIn = 0;
    double fadeOut = 0;
    bool normalize = false;
    bool denoise = false;

    // A copy clamped to a recording of the given length (at least 0.05 s kept).
    VellumtidePluginEdit sanitized(double duration) const;
    // min(duration, max(end or duration, start + 0.05)) on the values as they stand.
    double effectiveEnd(double duration) const;
    // max(effectiveEnd - start, 0) on the values as they stand.
    double editedDuration(double duration) const;
    // True when the edit, sanitised for the duration, changes the sound at all.
    bool isActive(double duration) const;
    // True when the values as they stand change nothing.
    bool isNeutral() const;

    bool operator==(const VellumtidePluginEdit&) const = default;
};

// One chop of a sample, cut from the raw recording and rendered to its own file.
struct VellumtidePluginChop {
    vt::Uuid id;
    std::int64_t index = 0;
    std::string title;
    double startTime = 0;
    double endTime = 0;
    double duration = 0;
    double strength = 0;
    std::filesystem::path audioURL;
    bool isAvailable = false;

    // "Chop 01" for index 0.
    static std::string titleForIndex(std::int64_t index);
    // "1.00s-2.50s".
    std::string rangeLabel() const;
    // "%.2fs" below ten seconds, else minutes and tenths of seconds ("1:05.0").
    static std::string preciseDuration(double seconds);

    bool operator==(const VellumtidePluginChop&) const = default;
};

// One sample as the window lists it, merged from the library list and the desktop program's
// local overrides.
struct VellumtidePluginSample {
    vt::Uuid id;
    std::string title;
    vt::Date createdAt;
    double originalDuration = 0;
    double duration = 0;
    double sampleRate = 0;
    std::int64_t byteCount = 0;
    std::vector<float> peaks;
    std::filesystem::path audioURL;
    bool isAvailable = false;
    bool isFavorite = false;
    bool isEdited = false;
    VellumtidePluginEdit edit;
    std::optional<std::string> tempoLabel;
    std::optional<std::string> rootLabel;
    std::optional<std::string> keyLabel;
    std::vector<VellumtidePluginChop> chops;

    // "0:03  44 kHz  529 KB".
    std::string subtitle() const;
    // The kept range, fades and "Norm" of an edited sample; nothing when not edited.
    std::optional<std::string> editSummary() const;
    // "%d:%02d" of the rounded seconds; "0:00" for negative or non-finite values.
    static std::string durationText(double seconds);
    // "250 ms" below a second, else "2.5 s"; "0 ms" for values not above 0.
    static std::string shortDuration(double seconds);
    // Decimal file-size text: "Zero KB", "1 byte", "999 bytes", "529 KB", "1.2 MB", "1.23 GB".
    static std::string byteCountText(std::int64_t byteCount);

    bool operator==(const VellumtidePluginSample&) const = default;
};

template <> struct std::hash<VellumtidePluginEdit> {
    std::size_t operator()(const VellumtidePluginEdit& edit) const noexcept;
};
template <> struct std::hash<VellumtidePluginChop> {
    std::size_t operator()(const VellumtidePluginChop& chop) const noexcept;
};
template <> struct std::hash<VellumtidePluginSample> {
    std::size_t operator()(const VellumtidePluginSample& sample) const noexcept;
};
