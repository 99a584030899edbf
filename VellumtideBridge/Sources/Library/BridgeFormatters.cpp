#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"

#include "Platform/Core/NumberFormat.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <algorithm>
#include <cmath>

namespace BridgeFormatters {

namespace {

// Shown where a finite value is too large for a whole number of seconds.
constexpr const char* unrepresentableTime = "--:--";

std::string minutesAndSeconds(double seconds) {
    auto total = vt::roundedInteger(seconds);
    if (!total)
        return unrepresentableTime;
    return vt::formatInteger(*total / 60) + ":" + vt::formatInteger(*total % 60, 2);
}

bool isUsableTime(double seconds) {
    return std::isfinite(seconds) && seconds >= 0;
}

// Byte counts in the decimal units of a file browser. The unit is the largest power of 1000
// not above the count; the value is rounded half away from zero to 0 decimals for KB, 1 for MB
// and 2 for GB and above, then trailing zeros after the point are dropped ("1 MB", "1.5 MB").
// When rounding reaches 1000 of a unit the next unit is used ("1 MB", never "1000 KB").
std::string scaledBytes(unsigned __int128 magnitude) {
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    constexpr int unitCount = 6;
    int unit = 0;
    unsigned __int128 divisor = 1000;
    while (unit + 1 < unitCount && magnitude >= divisor * 1000) {
        divisor *= 1000;
        ++unit;
    }
    for (;;) {
        int decimals = unit == 0 ? 0 : unit == 1 ? 1 : 2;
        unsigned __int128 scale = decimals == 0 ? 1 : decimals == 1 ? 10 : 100;
        unsigned __int128 scaled = (magnitude * scale * 2 + divisor) / (divisor * 2); // half up
        if (scaled >= 1000 * scale && unit + 1 < unitCount) {
            divisor *= 1000;
            ++unit;
            continue;
        }
        auto whole = static_cast<std::int64_t>(scaled / scale);
        auto fraction = static_cast<std::int64_t>(scaled % scale);
        std::string text = vt::formatInteger(whole);
        if (decimals > 0 && fraction != 0) {
            std::string digits = vt::formatInteger(fraction, decimals);
            while (!digits.empty() && digits.back() == '0')
                digits.pop_back();
            text += "." + digits;
        }
        return text + " " + units[unit];
    }
}

} // namespace

std::string duration(double seconds) {
    if (!isUsableTime(seconds))
        return "0:00";
    return minutesAndSeconds(seconds);
}

std::string bytes(std::int64_t byteCount) {
    if (byteCount == 0)
        return "Zero KB";
    bool negative = byteCount < 0;
    // The magnitude of the most negative count does not fit int64, so work unsigned.
    unsigned __int128 magnitude = negative ? static_cast<unsigned __int128>(-(byteCount + 1)) + 1
                                           : static_cast<unsigned __int128>(byteCount);
    std::string sign = negative ? "-" : "";
    if (magnitude == 1)
        return sign + "1 byte";
    if (magnitude < 1000)
        return sign + vt::formatInteger(static_cast<std::int64_t>(magnitude)) + " bytes";
    return sign + scaledBytes(magnitude);
}

std::string previewTime(double seconds) {
    if (!isUsableTime(seconds))
        return "0.0s";
    if (seconds < 10)
        return vt::formatFixed(seconds, 1) + "s";
    return minutesAndSeconds(seconds);
}

std::string playback(double seconds, double total) {
    return previewTime(seconds) + " / " + previewTime(total);
}

std::string preciseTime(double seconds) {
    if (!isUsableTime(seconds))
        return "0.000s";
    return vt::formatFixed(seconds, 3) + "s";
}

std::string editRange(const BridgeSampleEdit& edit, double duration) {
    BridgeSampleEdit kept = edit.sanitized(duration);
    double end = std::min(duration, std::max(kept.startTime + 0.05, kept.endTime.value_or(duration)));
    return preciseTime(kept.startTime) + " - " + preciseTime(end);
}

const vt::DateStyleFormatter& sampleDate() {
    static const vt::DateStyleFormatter formatter(vt::DateStyle::mediumStyle, vt::DateStyle::shortStyle);
    return formatter;
}

const vt::DateStyleFormatter& shortTime() {
    static const vt::DateStyleFormatter formatter(vt::DateStyle::none, vt::DateStyle::mediumStyle);
    return formatter;
}

} // namespace BridgeFormatters

std::string SampleItem::subtitle() const {
    // A rate with no whole kHz figure (non-finite or beyond 64 bits) shows "--".
    std::string kilohertz = "--";
    if (std::isfinite(sampleRate)) {
        double whole = std::trunc(sampleRate / 1000);
        if (whole < 9223372036854775808.0 && whole >= -9223372036854775808.0)
            kilohertz = vt::formatInteger(static_cast<std::int64_t>(whole));
    }
    return BridgeFormatters::duration(duration) + "  " + kilohertz + " kHz  " +
           BridgeFormatters::bytes(byteCount);
}
