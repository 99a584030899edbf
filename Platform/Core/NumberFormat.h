#pragma once
// Number texts that never depend on the C or user locale: the decimal separator is a full stop.

#include <cstdint>
#include <optional>
#include <string>

namespace vt {

// The value with exactly `decimals` digits after the point, like printf "%.Nf" in the C locale.
// Non-finite values give "nan", "inf" or "-inf".
std::string formatFixed(double value, int decimals);
// A decimal integer, zero-padded to at least `width` digits (like "%0Nd").
std::string formatInteger(std::int64_t value, int width = 0);
// The shortest text that reads back as the same double ("0.1", "44100", "1e+300").
std::string formatShortest(double value);

// Rounds half away from zero and converts to a 64-bit integer; nothing when the value is not
// finite or the result does not fit.
std::optional<std::int64_t> roundedInteger(double value);

} // namespace vt
