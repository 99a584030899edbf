#include "Platform/Core/Dates.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace vt {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp + (mp < 10 ? 3 : -9);
    y += m <= 2;
}

bool readDigits(std::string_view text, size_t at, size_t count, int& value) {
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool isValidDay(int year, int month, int day) {
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= lengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Parses "Z", "+HH:MM", "-HH:MM", "+HHMM" or "-HHMM" into seconds east of UTC.
std::optional<int> parseOffset(std::string_view zone) {
    if (zone == "Z")
        return 0;
    if (zone.size() != 6 && zone.size() != 5)
        return std::nullopt;
    if (zone[0] != '+' && zone[0] != '-')
        return std::nullopt;
    int hours = 0, minutes = 0;
    size_t minuteAt = zone.size() == 6 ? 4 : 3;
    if (zone.size() == 6 && zone[3] != ':')
        return std::nullopt;
    if (!readDigits(zone, 1, 2, hours) || !readDigits(zone, minuteAt, 2, minutes) || hours > 23 ||
        minutes > 59)
        return std::nullopt;
    int seconds = hours * 3600 + minutes * 60;
    return zone[0] == '-' ? -seconds : seconds;
}

// The instants the four-digit year form can hold: 0001-01-01T00:00:00Z to 9999-12-31T23:59:59Z.
const long long earliestSeconds = daysFromCivil(1, 1, 1) * 86400;
const long long latestSeconds = daysFromCivil(9999, 12, 31) * 86400 + 86399;

} // namespace

Date earliestISO8601Date() {
    return Date{static_cast<double>(earliestSeconds)};
}

Date latestISO8601Date() {
    return Date{static_cast<double>(latestSeconds)};
}

std::string formatISO8601(Date date) {
    double whole = std::isfinite(date.secondsSince1970) ? std::floor(date.secondsSince1970) : 0;
    whole = std::clamp(whole, static_cast<double>(earliestSeconds), static_cast<double>(latestSeconds));
    long long seconds = static_cast<long long>(whole);
    long long days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    long long secondOfDay = seconds - days * 86400;
    long long year;
    unsigned month, day;
    civilFromDays(days, year, month, day);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", year, month, day,
                  secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    return buffer;
}

std::optional<Date> parseISO8601(std::string_view text) {
    int year, month, day, hour, minute, second;
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != 't') ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    if (!readDigits(text, 0, 4, year) || !readDigits(text, 5, 2, month) || !readDigits(text, 8, 2, day) ||
        !readDigits(text, 11, 2, hour) || !readDigits(text, 14, 2, minute) ||
        !readDigits(text, 17, 2, second))
        return std::nullopt;
    if (!isValidDay(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    auto offset = parseOffset(text.substr(19));
    if (!offset)
        return std::nullopt;
    long long days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    long long seconds = days * 86400 + hour * 3600 + minute * 60 + second - *offset;
    // An offset can carry the instant out of the years the text form can hold; such a date could
    // never be written back.
    if (seconds < earliestSeconds || seconds > latestSeconds)
        return std::nullopt;
    return Date{static_cast<double>(seconds)};
}

Date SystemWallClock::now() const {
    using namespace std::chrono;
    return Date{duration<double>(system_clock::now().time_since_epoch()).count()};
}

} // namespace vt
