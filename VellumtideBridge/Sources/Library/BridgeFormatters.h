#pragma once
// The text forms in which the desktop program shows times, lengths, byte counts and dates.
// Numbers never follow the locale (the decimal separator is always a full stop); only the two
// shared date formatters follow the user's locale and time zone.

#include "Platform/Core/DateStyles.h"

#include <cstdint>
#include <string>

struct BridgeSampleEdit;

namespace BridgeFormatters {

// "%d:%02d" of the rounded seconds; "0:00" for negative or non-finite values.
std::string duration(double seconds);
// Decimal file-size text: "Zero KB", "1 byte", "999 bytes", "2 KB", "1.2 MB", "1.23 GB".
std::string bytes(std::int64_t byteCount);
// "%.1fs" below ten seconds, else minutes and seconds; "0.0s" for negative or non-finite values.
std::string previewTime(double seconds);
// previewTime of both joined by " / ".
std::string playback(double seconds, double total);
// "%.3fs"; "0.000s" for negative or non-finite values.
std::string preciseTime(double seconds);
// The kept range of the sanitised edit: "0.000s - 2.500s".
std::string editRange(const BridgeSampleEdit& edit, double duration);

// Medium date and short time: a sample's recording date in its row.
const vt::DateStyleFormatter& sampleDate();
// Medium time only: the time of day in the sync status text.
const vt::DateStyleFormatter& shortTime();

} // namespace BridgeFormatters
