#pragma once
// Catches what a render thread must never do. Linked into a test binary, it interposes the C
// library's allocation, file, sleep and mutex functions (and counts operator new and delete where
// a sanitizer owns the C library's allocator); whatever a thread does inside RenderThreadGuard::
// during() is counted.

#include <cstddef>
#include <ostream>
#include <utility>

namespace vt::test {

// What a guarded region did that a render thread must not.
struct RenderThreadViolations {
    std::size_t allocations = 0;    // malloc, calloc, realloc, the aligned forms, operator new
    std::size_t releases = 0;       // free, operator delete
    std::size_t fileOpens = 0;      // open, openat, fopen
    std::size_t fileReads = 0;      // read
    std::size_t sleeps = 0;         // nanosleep, clock_nanosleep, usleep
    std::size_t lockCalls = 0;      // pthread_mutex_lock, which may wait whether or not it had to
    std::size_t contendedLocks = 0; // of those, the ones that found the mutex held and waited

    bool any() const {
        return allocations || releases || fileOpens || fileReads || sleeps || lockCalls || contendedLocks;
    }
    RenderThreadViolations& operator+=(const RenderThreadViolations& other) {
        allocations += other.allocations;
        releases += other.releases;
        fileOpens += other.fileOpens;
        fileReads += other.fileReads;
        sleeps += other.sleeps;
        lockCalls += other.lockCalls;
        contendedLocks += other.contendedLocks;
        return *this;
    }
    bool operator==(const RenderThreadViolations&) const = default;
};

std::ostream& operator<<(std::ostream& stream, const RenderThreadViolations& violations);

class RenderThreadGuard {
public:
    // False where a sanitizer's runtime owns malloc and the other interposed functions: there only
    // operator new and delete are counted, and the file, sleep and lock checks see nothing.
    static bool interposesLibc();
    // Why the checks are partial in this build, for a test's skip message.
    static const char* partialReason();

    // Runs the work on the calling thread, marked as a render thread, and returns what it did.
    template <typename Work> static RenderThreadViolations during(Work&& work) {
        enter();
        std::forward<Work>(work)();
        return leave();
    }

private:
    static void enter();
    static RenderThreadViolations leave();
};

} // namespace vt::test
