#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <locale>

namespace {

// Switches the process to a comma-decimal locale for one test (C++ and, when installed, C).
class CommaDecimalLocale {
public:
    CommaDecimalLocale() : previousCpp(std::locale::global(std::locale(std::locale::classic(), new Comma))) {
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    }
    ~CommaDecimalLocale() {
        std::locale::global(previousCpp);
        std::setlocale(LC_NUMERIC, "C");
    }

private:
    struct Comma : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return '.'; }
        std::string do_grouping() const override { return "\3"; }
    };
    std::locale previousCpp;
};

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

} // namespace

using namespace BridgeFormatters;

TEST(Formatters, TimesUnderACommaDecimalLocale) {
    CommaDecimalLocale locale;
    EXPECT_EQ(duration(59.4), "0:59");
    EXPECT_EQ(duration(59.5), "1:00");
    EXPECT_EQ(duration(0), "0:00");
    EXPECT_EQ(duration(-3), "0:00");
    EXPECT_EQ(duration(3725), "62:05");
    EXPECT_EQ(duration(notANumber), "0:00");
    EXPECT_EQ(duration(inf), "0:00");
    EXPECT_EQ(duration(1e300), "--:--");

    EXPECT_EQ(previewTime(0), "0.0s");
    EXPECT_EQ(previewTime(9.94), "9.9s");
    EXPECT_EQ(previewTime(9.96), "10.0s");
    EXPECT_EQ(previewTime(10), "0:10");
    EXPECT_EQ(previewTime(75.5), "1:16");
    EXPECT_EQ(previewTime(notANumber), "0.0s");
    EXPECT_EQ(previewTime(-1), "0.0s");

    EXPECT_EQ(preciseTime(1.23456), "1.235s");
    EXPECT_EQ(preciseTime(-0.5), "0.000s");
    EXPECT_EQ(preciseTime(inf), "0.000s");
    EXPECT_EQ(playback(3.2, 12), "3.2s / 0:12");

    EXPECT_EQ(editRange(BridgeSampleEdit{}, 2.5), "0.000s - 2.500s");
    EXPECT_EQ(editRange(BridgeSampleEdit{3, std::nullopt}, 2), "1.950s - 2.000s");
    EXPECT_EQ(editRange(BridgeSampleEdit{0.5, 1.25}, 4), "0.500s - 1.250s");
}

TEST(Formatters, ByteCountsInDecimalUnits) {
    CommaDecimalLocale locale;
    EXPECT_EQ(bytes(0), "Zero KB");
    EXPECT_EQ(bytes(1), "1 byte");
    EXPECT_EQ(bytes(2), "2 bytes");
    EXPECT_EQ(bytes(999), "999 bytes");
    EXPECT_EQ(bytes(1000), "1 KB");
    EXPECT_EQ(bytes(1499), "1 KB");
    EXPECT_EQ(bytes(1500), "2 KB");
    EXPECT_EQ(bytes(999'499), "999 KB");
    EXPECT_EQ(bytes(999'500), "1 MB"); // rounding up to 1000 KB moves to the next unit
    EXPECT_EQ(bytes(1'000'000), "1 MB");
    EXPECT_EQ(bytes(1'234'567), "1.2 MB");
    EXPECT_EQ(bytes(1'250'000), "1.3 MB");
    EXPECT_EQ(bytes(999'960'000), "1 GB");
    EXPECT_EQ(bytes(1'234'567'890), "1.23 GB");
    EXPECT_EQ(bytes(1'500'000'000), "1.5 GB");
    EXPECT_EQ(bytes(2'005'000'000'000), "2.01 TB");
    EXPECT_EQ(bytes(std::numeric_limits<std::int64_t>::max()), "9.22 EB");
    EXPECT_EQ(bytes(-1), "-1 byte");
    EXPECT_EQ(bytes(-1'234'567), "-1.2 MB");
    EXPECT_EQ(bytes(std::numeric_limits<std::int64_t>::min()), "-9.22 EB");
}

TEST(Formatters, SampleSubtitle) {
    CommaDecimalLocale locale;
    SampleItem sample;
    sample.duration = 61.2;
    sample.sampleRate = 44100;
    sample.byteCount = 1'234'567;
    EXPECT_EQ(sample.subtitle(), "1:01  44 kHz  1.2 MB");
    sample.sampleRate = 22050;
    EXPECT_EQ(sample.subtitle(), "1:01  22 kHz  1.2 MB");
    sample.sampleRate = notANumber;
    sample.duration = -1;
    sample.byteCount = 0;
    EXPECT_EQ(sample.subtitle(), "0:00  -- kHz  Zero KB");
    sample.sampleRate = 1e300;
    EXPECT_EQ(sample.subtitle(), "0:00  -- kHz  Zero KB");
}

TEST(Formatters, SharedDateFormattersAreMadeOnce) {
    EXPECT_EQ(&sampleDate(), &sampleDate());
    EXPECT_EQ(&shortTime(), &shortTime());
    EXPECT_FALSE(sampleDate().format(vt::Date{1709622489}).empty());
    EXPECT_FALSE(shortTime().format(vt::Date{1709622489}).empty());
}
