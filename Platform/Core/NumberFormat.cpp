#include "Platform/Core/NumberFormat.h"

#include <charconv>
#include <cmath>

namespace vt {

namespace {

std::string nonFiniteText(double value) {
    if (std::isnan(value))
        return "nan";
    return value < 0 ? "-inf" : "inf";
}

} // namespace

std::string formatFixed(double value, int decimals) {
    if (!std::isfinite(value))
        return nonFiniteText(value);
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::string formatInteger(std::int64_t value, int width) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string digits(buffer, result.ptr);
    bool negative = value < 0;
    std::string body = negative ? digits.substr(1) : digits;
    if (static_cast<int>(body.size()) < width)
        body.insert(0, static_cast<size_t>(width) - body.size(), '0');
    return negative ? "-" + body : body;
}

std::string formatShortest(double value) {
    if (!std::isfinite(value))
        return nonFiniteText(value);
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::optional<std::int64_t> roundedInteger(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    double rounded = std::round(value);
    // 2^63 is exactly representable; anything at or above it does not fit.
    if (rounded >= 9223372036854775808.0 || rounded < -9223372036854775808.0)
        return std::nullopt;
    return static_cast<std::int64_t>(rounded);
}

} // namespace vt
