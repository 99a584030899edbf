#include "Platform/Core/DateStyles.h"
#include "Platform/Core/Dates.h"
#include "Platform/Core/NumberFormat.h"
#include "Platform/Core/Uuid.h"

#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vt;

TEST(Uuid, ParsesEitherCaseAndWritesUpperCase) {
    auto uuid = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(uuid);
    EXPECT_EQ(uuid->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(Uuid::parse(uuid->string()), uuid);
    EXPECT_FALSE(Uuid::parse("E621E1F8C36C495A93FC0C247A3E6E5F"));
    EXPECT_FALSE(Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5"));
    EXPECT_FALSE(Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5G"));
    EXPECT_FALSE(Uuid::parse("{621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
    EXPECT_NE(Uuid::random(), Uuid::random());
    EXPECT_EQ(Uuid::random().string()[14], '4');
}

TEST(Dates, Iso8601RoundTripsWholeSecondsInUtc) {
    Date date{1709622489.75};
    EXPECT_EQ(formatISO8601(date), "2024-03-05T07:08:09Z");
    EXPECT_EQ(parseISO8601("2024-03-05T07:08:09Z"), Date{1709622489});
    EXPECT_EQ(parseISO8601("2024-03-05T09:08:09+02:00"), Date{1709622489});
    EXPECT_EQ(parseISO8601("2024-03-05T02:38:09-0430"), Date{1709622489});
    EXPECT_EQ(formatISO8601(Date{-1}), "1969-12-31T23:59:59Z");
    EXPECT_FALSE(parseISO8601("2024-02-30T00:00:00Z"));
    EXPECT_FALSE(parseISO8601("2024-03-05T07:08:09.5Z"));
    EXPECT_FALSE(parseISO8601("2024-03-05 07:08:09Z"));
    EXPECT_FALSE(parseISO8601("2024-03-05T07:08:09"));
}

TEST(Dates, OffsetsThatLeaveTheFourDigitYearsAreRefused) {
    EXPECT_FALSE(parseISO8601("0000-01-01T00:00:00+01:00"));
    EXPECT_FALSE(parseISO8601("0000-12-31T23:59:59Z"));
    EXPECT_FALSE(parseISO8601("0001-01-01T00:00:00+00:01"));
    EXPECT_EQ(parseISO8601("0001-01-01T00:00:00Z"), earliestISO8601Date());
    EXPECT_EQ(parseISO8601("0001-01-01T01:00:00+01:00"), earliestISO8601Date());
    EXPECT_FALSE(parseISO8601("9999-12-31T23:59:59-00:01"));
    EXPECT_FALSE(parseISO8601("9999-12-31T23:00:00-01:00"));
    EXPECT_EQ(parseISO8601("9999-12-31T23:59:59Z"), latestISO8601Date());
    EXPECT_EQ(parseISO8601("9999-12-31T22:59:59-01:00"), latestISO8601Date());
}

// Whatever is written reads back: every text the writer makes parses to the instant written
// (whole seconds), over the whole range and past both ends.
TEST(Dates, EveryWrittenDateReadsBack) {
    const double first = earliestISO8601Date().secondsSince1970;
    const double last = latestISO8601Date().secondsSince1970;
    EXPECT_EQ(formatISO8601(Date{first}), "0001-01-01T00:00:00Z");
    EXPECT_EQ(formatISO8601(Date{last + 0.999}), "9999-12-31T23:59:59Z");
    std::vector<double> instants = {first, first + 1, last, last + 0.999, 0, -1, 951782400, 4107542400};
    for (double step = first; step <= last; step += 86400.0 * 365.2425 * 37 + 3607.5)
        instants.push_back(step);
    for (double instant : instants) {
        std::string text = formatISO8601(Date{instant});
        auto read = parseISO8601(text);
        ASSERT_TRUE(read) << text;
        EXPECT_EQ(read->secondsSince1970, std::floor(instant)) << text;
    }
    // Instants no text can hold are written as the nearest end, never as a text nothing reads.
    for (double outside : {first - 1, first - 3.2e10, last + 1, last + 3.2e10, -1e300, 1e300, std::nan("")}) {
        std::string text = formatISO8601(Date{outside});
        EXPECT_TRUE(parseISO8601(text)) << text;
    }
}

TEST(Dates, ReferenceSecondsCountFrom2001) {
    EXPECT_EQ(formatISO8601(dateFromReferenceSeconds(0)), "2001-01-01T00:00:00Z");
    EXPECT_DOUBLE_EQ(referenceSeconds(Date{978307260.5}), 60.5);
}

TEST(NumberFormat, IgnoresTheProcessLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(formatFixed(0.5, 3), "0.500");
    EXPECT_EQ(formatFixed(1.23456, 3), "1.235");
    EXPECT_EQ(formatFixed(-0.04, 1), "-0.0");
    EXPECT_EQ(formatInteger(7, 2), "07");
    EXPECT_EQ(formatInteger(-7, 3), "-007");
    EXPECT_EQ(formatInteger(100, 2), "100");
    EXPECT_EQ(formatShortest(44100), "44100");
    EXPECT_EQ(formatShortest(0.1), "0.1");
    if (previous)
        std::setlocale(LC_NUMERIC, "C");
}

TEST(NumberFormat, RoundedIntegerRoundsHalfAwayAndRefusesOverflow) {
    EXPECT_EQ(roundedInteger(2.5), 3);
    EXPECT_EQ(roundedInteger(-2.5), -3);
    EXPECT_EQ(roundedInteger(1e19), std::nullopt);
    EXPECT_EQ(roundedInteger(NAN), std::nullopt);
}

TEST(DateStyles, MediumDateAndShortTimeFollowTheLocale) {
    DateStyleFormatter english(DateStyle::mediumStyle, DateStyle::shortStyle, "en_US", "UTC");
    std::string text = english.format(Date{1709622489});
    EXPECT_NE(text.find("Mar 5, 2024"), std::string::npos) << text;
    EXPECT_NE(text.find("7:08"), std::string::npos) << text;
    DateStyleFormatter timeOnly(DateStyle::none, DateStyle::mediumStyle, "en_GB", "UTC");
    EXPECT_EQ(timeOnly.format(Date{1709622489}), "07:08:09");
}
