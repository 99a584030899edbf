#include "Platform/Core/DateStyles.h"

#include <memory>
#include <mutex>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace vt {

namespace {

icu::DateFormat::EStyle icuStyle(DateStyle style) {
    switch (style) {
    case DateStyle::none:
        return icu::DateFormat::kNone;
    case DateStyle::shortStyle:
        return icu::DateFormat::kShort;
    case DateStyle::mediumStyle:
        return icu::DateFormat::kMedium;
    case DateStyle::longStyle:
        return icu::DateFormat::kLong;
    }
    return icu::DateFormat::kNone;
}

} // namespace

struct DateStyleFormatter::Impl {
    std::unique_ptr<icu::DateFormat> format;
    std::mutex lock; // ICU formatters are not safe for concurrent use
};

DateStyleFormatter::DateStyleFormatter(DateStyle dateStyle, DateStyle timeStyle, std::string locale,
                                       std::string timeZone)
    : impl(new Impl) {
    icu::Locale icuLocale = locale.empty() ? icu::Locale::getDefault() : icu::Locale(locale.c_str());
    impl->format.reset(
        icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle), icuLocale));
    if (impl->format && !timeZone.empty())
        impl->format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZone)));
}

DateStyleFormatter::~DateStyleFormatter() {
    delete impl;
}

std::string DateStyleFormatter::format(Date date) const {
    if (!impl->format)
        return {};
    std::lock_guard guard(impl->lock);
    icu::UnicodeString text;
    impl->format->format(static_cast<UDate>(date.secondsSince1970 * 1000.0), text);
    std::string utf8;
    text.toUTF8String(utf8);
    return utf8;
}

} // namespace vt
