#pragma once
// How long a test waits for what it expects to happen: far beyond what a machine with every core
// busy, or a sanitizer build, takes, so only a hang or a lost event ever reaches it. A passing
// test never waits this long; a time a test measures goes into a benchmark instead.

#include <chrono>

namespace vt::test {

inline constexpr std::chrono::seconds patience{60};
// The same for Qt's waits, which take milliseconds as an int.
inline constexpr int patienceMilliseconds = int(std::chrono::milliseconds(patience).count());

} // namespace vt::test
