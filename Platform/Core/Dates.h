#pragma once
// A point in time as seconds since 1970-01-01 UTC, with the two JSON date forms: ISO 8601
// internet date-time text (whole seconds, UTC) and seconds since 2001-01-01 00:00:00 UTC.

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace vt {

struct Date {
    double secondsSince1970 = 0;
    auto operator<=>(const Date&) const = default;
};

inline constexpr double referenceDateOffset = 978307200.0; // 2001-01-01 in Unix seconds

inline Date dateFromReferenceSeconds(double seconds) {
    return Date{seconds + referenceDateOffset};
}
inline double referenceSeconds(Date date) {
    return date.secondsSince1970 - referenceDateOffset;
}

// The first and last whole seconds the text form can hold (years 0001 to 9999, in UTC).
Date earliestISO8601Date();
Date latestISO8601Date();

// "2024-03-05T07:08:09Z": whole seconds (fractions dropped towards the past), always UTC. A date
// outside the years 0001 to 9999 is written as the nearest of the two ends, so that every text
// written here reads back.
std::string formatISO8601(Date date);
// "YYYY-MM-DDTHH:MM:SS" followed by "Z" or an offset "+HH:MM" / "-HH:MM" / "+HHMM"; no fraction.
// Refuses an instant that, in UTC, falls outside the years 0001 to 9999.
std::optional<Date> parseISO8601(std::string_view text);

// The wall clock, injected so that tests control "now".
class WallClock {
public:
    virtual ~WallClock() = default;
    virtual Date now() const = 0;
};

class SystemWallClock final : public WallClock {
public:
    Date now() const override;
};

} // namespace vt
