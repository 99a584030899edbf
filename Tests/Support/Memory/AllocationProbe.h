#pragma once
// Watches the sizes of the allocations a test binary makes through operator new: the largest
// single request, and, on demand, a refusal (std::bad_alloc) of every request above a size, as
// an exhausted memory would refuse it. Linking this library replaces the binary's operator new.

#include <cstddef>
#include <optional>

namespace vt::test {

class AllocationProbe {
public:
    // Watches from now until destruction; with failAbove, larger requests throw std::bad_alloc.
    explicit AllocationProbe(std::optional<std::size_t> failAbove = std::nullopt);
    ~AllocationProbe();
    AllocationProbe(const AllocationProbe&) = delete;
    AllocationProbe& operator=(const AllocationProbe&) = delete;

    // The largest single request seen so far (refused ones included).
    std::size_t largest() const;
    // How many requests were refused.
    std::size_t refused() const;
};

} // namespace vt::test
