#pragma once
// Locale-dependent date and time texts in the common "short", "medium" styles, through ICU.

#include "Platform/Core/Dates.h"

#include <string>

namespace vt {

enum class DateStyle { none, shortStyle, mediumStyle, longStyle };

// A reusable formatter for one locale and time zone ("" means the process defaults).
class DateStyleFormatter {
public:
    DateStyleFormatter(DateStyle dateStyle, DateStyle timeStyle, std::string locale = {},
                       std::string timeZone = {});
    ~DateStyleFormatter();
    DateStyleFormatter(const DateStyleFormatter&) = delete;
    DateStyleFormatter& operator=(const DateStyleFormatter&) = delete;

    std::string format(Date date) const; // UTF-8

private:
    struct Impl;
    Impl* impl;
};

} // namespace vt
