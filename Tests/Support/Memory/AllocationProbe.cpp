#include "Tests/Support/Memory/AllocationProbe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> watching{false};
std::atomic<std::size_t> largestRequest{0};
std::atomic<std::size_t> refusedRequests{0};
std::atomic<std::size_t> refusalThreshold{0}; // 0: refuse nothing

} // namespace

// The replaceable form that every other form of new (arrays, nothrow) ends in by default, with
// the two releases that pair with it (a sanitizer's own operator delete would not accept memory
// from malloc).
void* operator new(std::size_t size) {
    if (watching.load(std::memory_order_relaxed)) {
        std::size_t seen = largestRequest.load(std::memory_order_relaxed);
        while (size > seen && !largestRequest.compare_exchange_weak(seen, size))
            ;
        const std::size_t threshold = refusalThreshold.load(std::memory_order_relaxed);
        if (threshold != 0 && size > threshold) {
            ++refusedRequests;
            throw std::bad_alloc();
        }
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

// The nothrow form too: a sanitizer replaces it with its own, whose memory the releases above
// would not match (libraries such as the fast JSON reader use it).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

namespace vt::test {

AllocationProbe::AllocationProbe(std::optional<std::size_t> failAbove) {
    largestRequest = 0;
    refusedRequests = 0;
    refusalThreshold = failAbove.value_or(0);
    watching = true;
}

AllocationProbe::~AllocationProbe() {
    watching = false;
    refusalThreshold = 0;
}

std::size_t AllocationProbe::largest() const {
    return largestRequest.load();
}

std::size_t AllocationProbe::refused() const {
    return refusedRequests.load();
}

} // namespace vt::test
