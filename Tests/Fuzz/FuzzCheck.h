#pragma once
// The oracle of a fuzz target: a broken expectation reports what it expected and aborts, which
// the fuzzer records as a crash with its input.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace vt::fuzz {

inline void check(bool holds, const char* expectation) {
    if (holds)
        return;
    std::fprintf(stderr, "fuzz oracle broken: %s\n", expectation);
    std::abort();
}

inline std::string_view text(const unsigned char* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace vt::fuzz
