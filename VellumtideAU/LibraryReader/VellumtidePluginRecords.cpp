#include "VellumtideAU/LibraryReader/VellumtidePluginRecords.h"

#include "Platform/Core/NumberFormat.h"

#include <cmath>
#include <limits>

namespace {

constexpr double shortestKeptLength = 0.05;
constexpr double tolerance = 0.001;

// A clamp that sends a value that is not a number, or one below zero, to zero.
double nonNegative(double value) {
    return std::isnan(value) || value < 0 ? 0 : value;
}

// A whole-numbered double as decimal text, however large.
std::string wholeNumberText(double value) {
    if (auto integer = vt::roundedInteger(value))
        return vt::formatInteger(*integer);
    return vt::formatFixed(value, 0);
}

// Splits a non-negative, finite time into whole minutes and the seconds left over (0 <= r < 60).
// The minutes come from the exact remainder so the two always agree.
void splitMinutes(double seconds, double& minutes, double& remainder) {
    remainder = std::fmod(seconds, 60.0);
    minutes = std::round((seconds - remainder) / 60.0);
}

} // namespace

VellumtidePluginEdit VellumtidePluginEdit::sanitized(double duration) const {
    const double kept = std::isnan(duration) ? shortestKeptLength : std::max(duration, shortestKeptLength);
    VellumtidePluginEdit result = *this;
    result.startTime = std::min(nonNegative(startTime), kept - shortestKeptLength);
    double keptLength = kept - result.startTime;
    if (endTime) {
        const double earliestEnd = result.startTime + shortestKeptLength;
        const double end =
            std::isnan(*endTime) ? earliestEnd : std::min(kept, std::max(*endTime, earliestEnd));
        if (end >= kept - tolerance) {
            result.endTime.reset();
        } else {
            result.endTime = end;
            keptLength = end - result.startTime;
        }
    }
    result.fadeIn = std::min(nonNegative(fadeIn), keptLength / 2);
    result.fadeOut = std::min(nonNegative(fadeOut), keptLength / 2);
    return result;
}

double VellumtidePluginEdit::effectiveEnd(double duration) const {
    return std::fmin(duration, std::fmax(endTime.value_or(duration), startTime + shortestKeptLength));
}

double VellumtidePluginEdit::editedDuration(double duration) const {
    return std::fmax(effectiveEnd(duration) - startTime, 0.0);
}

bool VellumtidePluginEdit::isActive(double duration) const {
    const VellumtidePluginEdit clamped = sanitized(duration);
    return clamped.startTime > tolerance || clamped.endTime.has_value() || clamped.fadeIn > tolerance ||
           clamped.fadeOut > tolerance || clamped.normalize || clamped.denoise;
}

bool VellumtidePluginEdit::isNeutral() const {
    return startTime <= tolerance && !endTime && fadeIn <= tolerance && fadeOut <= tolerance && !normalize &&
           !denoise;
}

std::string VellumtidePluginChop::titleForIndex(std::int64_t index) {
    if (index == std::numeric_limits<std::int64_t>::max())
        return "Chop 9223372036854775808";
    // Like "%02d": the width counts a minus sign, so a negative number is never zero-padded.
    const std::int64_t number = index + 1;
    return "Chop " + vt::formatInteger(number, number < 0 ? 0 : 2);
}

std::string VellumtidePluginChop::rangeLabel() const {
    return preciseDuration(startTime) + "-" + preciseDuration(endTime);
}

std::string VellumtidePluginChop::preciseDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0)
        return "0.00s";
    if (seconds < 10)
        return vt::formatFixed(seconds, 2) + "s";
    // Rounded to tenths before the split, so 59.96 s reads 1:00.0 rather than 0:60.0.
    double minutes = 0;
    double remainder = 0;
    splitMinutes(seconds, minutes, remainder);
    auto tenths = static_cast<int>(std::round(remainder * 10));
    if (tenths >= 600) {
        tenths -= 600;
        minutes += 1;
    }
    return wholeNumberText(minutes) + ":" + vt::formatInteger(tenths / 10, 2) + "." +
           vt::formatInteger(tenths % 10);
}

std::string VellumtidePluginSample::durationText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0)
        return "0:00";
    double minutes = 0;
    double remainder = 0;
    splitMinutes(std::round(seconds), minutes, remainder);
    return wholeNumberText(minutes) + ":" + vt::formatInteger(static_cast<std::int64_t>(remainder), 2);
}

std::string VellumtidePluginSample::shortDuration(double seconds) {
    if (!std::isfinite(seconds) || !(seconds > 0))
        return "0 ms";
    if (seconds < 1)
        return wholeNumberText(std::round(seconds * 1000)) + " ms";
    return vt::formatFixed(seconds, 1) + " s";
}

std::string VellumtidePluginSample::byteCountText(std::int64_t byteCount) {
    if (byteCount == 0)
        return "Zero KB";
    const std::string sign = byteCount < 0 ? "-" : "";
    // The magnitude of the most negative count does not fit a signed 64-bit value.
    const std::uint64_t magnitude = byteCount < 0 ? std::uint64_t(0) - static_cast<std::uint64_t>(byteCount)
                                                  : static_cast<std::uint64_t>(byteCount);
    if (magnitude == 1)
        return sign + "1 byte";
    if (magnitude < 1000)
        return sign + vt::formatInteger(static_cast<std::int64_t>(magnitude)) + " bytes";

    // The largest unit of 1000 not above the count; 0 decimals for KB, 1 for MB, 2 above, rounded
    // half up; a result that rounds to 1000 of a unit moves to the next unit.
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    constexpr int lastUnit = 5;
    int unit = 0;
    unsigned __int128 divisor = 1000;
    while (unit < lastUnit && magnitude >= divisor * 1000) {
        divisor *= 1000;
        ++unit;
    }
    for (;;) {
        const int decimals = unit == 0 ? 0 : unit == 1 ? 1 : 2;
        const unsigned scale = decimals == 0 ? 1 : decimals == 1 ? 10 : 100;
        const unsigned __int128 scaled =
            (magnitude * static_cast<unsigned __int128>(scale) * 2 + divisor) / (divisor * 2);
        if (scaled >= 1000u * scale && unit < lastUnit) {
            divisor *= 1000;
            ++unit;
            continue;
        }
        std::string text = vt::formatInteger(static_cast<std::int64_t>(scaled / scale));
        std::string fraction =
            decimals > 0 ? vt::formatInteger(static_cast<std::int64_t>(scaled % scale), decimals) : "";
        while (!fraction.empty() && fraction.back() == '0')
            fraction.pop_back();
        if (!fraction.empty())
            text += "." + fraction;
        return sign + text + " " + units[unit];
    }
}

std::string VellumtidePluginSample::subtitle() const {
    return durationText(duration) + "  " + wholeNumberText(std::trunc(sampleRate / 1000)) + " kHz  " +
           byteCountText(byteCount);
}

std::optional<std::string> VellumtidePluginSample::editSummary() const {
    if (!isEdited)
        return std::nullopt;
    const VellumtidePluginEdit kept = edit.sanitized(originalDuration);
    std::vector<std::string> parts;
    if (kept.startTime > tolerance || kept.endTime)
        parts.push_back(durationText(kept.startTime) + "-" +
                        durationText(kept.effectiveEnd(originalDuration)));
    if (kept.fadeIn > tolerance)
        parts.push_back("FI " + shortDuration(kept.fadeIn));
    if (kept.fadeOut > tolerance)
        parts.push_back("FO " + shortDuration(kept.fadeOut));
    if (kept.normalize)
        parts.push_back("Norm");
    if (parts.empty())
        return "Edited";
    std::string text = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i)
        text += "  " + parts[i];
    return text;
}

// Hashing: every field that equality compares. Equal doubles (0 and -0) hash alike.
namespace {

void mix(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

void mixDouble(std::size_t& seed, double value) {
    mix(seed, std::hash<double>{}(value == 0 ? 0.0 : value));
}

template <typename T> void mixOptional(std::size_t& seed, const std::optional<T>& value) {
    mix(seed, value.has_value());
    if (value)
        mix(seed, std::hash<T>{}(*value));
}

} // namespace

std::size_t std::hash<VellumtidePluginEdit>::operator()(const VellumtidePluginEdit& edit) const noexcept {
    std::size_t seed = 0;
    mixDouble(seed, edit.startTime);
    mix(seed, edit.endTime.has_value());
    if (edit.endTime)
        mixDouble(seed, *edit.endTime);
    mixDouble(seed, edit.fadeIn);
    mixDouble(seed, edit.fadeOut);
    mix(seed, edit.normalize);
    mix(seed, edit.denoise);
    return seed;
}

std::size_t std::hash<VellumtidePluginChop>::operator()(const VellumtidePluginChop& chop) const noexcept {
    std::size_t seed = std::hash<vt::Uuid>{}(chop.id);
    mix(seed, std::hash<std::int64_t>{}(chop.index));
    mix(seed, std::hash<std::string>{}(chop.title));
    mixDouble(seed, chop.startTime);
    mixDouble(seed, chop.endTime);
    mixDouble(seed, chop.duration);
    mixDouble(seed, chop.strength);
    mix(seed, std::filesystem::hash_value(chop.audioURL));
    mix(seed, chop.isAvailable);
    return seed;
}

std::size_t
std::hash<VellumtidePluginSample>::operator()(const VellumtidePluginSample& sample) const noexcept {
    std::size_t seed = std::hash<vt::Uuid>{}(sample.id);
    mix(seed, std::hash<std::string>{}(sample.title));
    mixDouble(seed, sample.createdAt.secondsSince1970);
    mixDouble(seed, sample.originalDuration);
    mixDouble(seed, sample.duration);
    mixDouble(seed, sample.sampleRate);
    mix(seed, std::hash<std::int64_t>{}(sample.byteCount));
    for (float peak : sample.peaks)
        mixDouble(seed, peak);
    mix(seed, std::filesystem::hash_value(sample.audioURL));
    mix(seed, sample.isAvailable);
    mix(seed, sample.isFavorite);
    mix(seed, sample.isEdited);
    mix(seed, std::hash<VellumtidePluginEdit>{}(sample.edit));
    mixOptional(seed, sample.tempoLabel);
    mixOptional(seed, sample.rootLabel);
    mixOptional(seed, sample.keyLabel);
    for (const auto& chop : sample.chops)
        mix(seed, std::hash<VellumtidePluginChop>{}(chop));
    return seed;
}
