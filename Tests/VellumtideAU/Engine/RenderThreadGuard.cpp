#include "Tests/VellumtideAU/Engine/RenderThreadGuard.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <new>
#include <pthread.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VT_GUARD_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VT_GUARD_SANITIZED 1
#endif
#endif

namespace {

// Counted per thread, only while the thread is marked: a plain thread-local of the executable,
// which takes no allocation and no lock to reach.
thread_local bool guarded = false;
thread_local vt::test::RenderThreadViolations counted;

inline void note(std::size_t vt::test::RenderThreadViolations::*field) {
    if (guarded)
        ++(counted.*field);
}

} // namespace

namespace vt::test {

std::ostream& operator<<(std::ostream& stream, const RenderThreadViolations& v) {
    return stream << "allocations " << v.allocations << ", releases " << v.releases << ", file opens "
                  << v.fileOpens << ", file reads " << v.fileReads << ", sleeps " << v.sleeps
                  << ", lock calls " << v.lockCalls << " (" << v.contendedLocks << " contended)";
}

void RenderThreadGuard::enter() {
    counted = {};
    guarded = true;
}

RenderThreadViolations RenderThreadGuard::leave() {
    guarded = false;
    return counted;
}

#ifdef VT_GUARD_SANITIZED

bool RenderThreadGuard::interposesLibc() {
    return false;
}

const char* RenderThreadGuard::partialReason() {
    return "this is a sanitizer build: its runtime owns malloc, the file and sleep calls and the mutexes, "
           "so only operator new and delete are counted here; the normal build checks everything";
}

#else

bool RenderThreadGuard::interposesLibc() {
    return true;
}

const char* RenderThreadGuard::partialReason() {
    return "";
}

#endif

} // namespace vt::test

#ifdef VT_GUARD_SANITIZED

// The sanitizer keeps malloc: count the C++ allocation functions, which may be replaced.
namespace {

void* allocate(std::size_t size, std::size_t alignment, bool nothrow) {
    note(&vt::test::RenderThreadViolations::allocations);
    size = size == 0 ? 1 : size;
    void* memory = alignment <= alignof(std::max_align_t)
                       ? std::malloc(size)
                       : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    if (!memory && !nothrow)
        throw std::bad_alloc();
    return memory;
}

void release(void* memory) noexcept {
    if (memory)
        note(&vt::test::RenderThreadViolations::releases);
    std::free(memory);
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size, 0, false);
}
void* operator new[](std::size_t size) {
    return allocate(size, 0, false);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, 0, true);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, 0, true);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment), false);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment), false);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(alignment), true);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(alignment), true);
}
void operator delete(void* memory) noexcept {
    release(memory);
}
void operator delete[](void* memory) noexcept {
    release(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    release(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    release(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    release(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
    release(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
    release(memory);
}
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    release(memory);
}

#else

// The C library's own allocator entry points, which never come back here.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* memory);
}

namespace {

using Field = std::size_t vt::test::RenderThreadViolations::*;
constexpr Field allocations = &vt::test::RenderThreadViolations::allocations;
constexpr Field releases = &vt::test::RenderThreadViolations::releases;
constexpr Field fileOpens = &vt::test::RenderThreadViolations::fileOpens;
constexpr Field fileReads = &vt::test::RenderThreadViolations::fileReads;
constexpr Field sleeps = &vt::test::RenderThreadViolations::sleeps;
constexpr Field lockCalls = &vt::test::RenderThreadViolations::lockCalls;
constexpr Field contendedLocks = &vt::test::RenderThreadViolations::contendedLocks;

// The next definition of a function after this executable's (the C library's), looked up once.
// A plain atomic, not a function-local static, whose guard could itself take a lock.
template <typename Function> Function following(std::atomic<void*>& cache, const char* name) {
    void* found = cache.load(std::memory_order_acquire);
    if (!found) {
        found = ::dlsym(RTLD_NEXT, name);
        cache.store(found, std::memory_order_release);
    }
    return reinterpret_cast<Function>(found);
}

#define VT_FOLLOWING(name)                                                                                   \
    static std::atomic<void*> name##Cache{nullptr};                                                          \
    auto next = following<decltype(&::name)>(name##Cache, #name)

bool isPowerOfTwo(std::size_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

mode_t modeArgument(int flags, va_list arguments) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(arguments, int))
                                                                 : 0;
}

} // namespace

extern "C" {

void* malloc(std::size_t size) noexcept {
    note(allocations);
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    note(allocations);
    return __libc_calloc(count, size);
}

void* realloc(void* memory, std::size_t size) noexcept {
    note(allocations);
    return __libc_realloc(memory, size);
}

void free(void* memory) noexcept {
    if (memory)
        note(releases);
    __libc_free(memory);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    note(allocations);
    return __libc_memalign(alignment, size);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
    note(allocations);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept {
    note(allocations);
    if (!isPowerOfTwo(alignment) || alignment % sizeof(void*) != 0)
        return EINVAL;
    void* memory = __libc_memalign(alignment, size);
    if (!memory)
        return ENOMEM;
    *result = memory;
    return 0;
}

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    note(fileOpens);
    VT_FOLLOWING(open);
    return next(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    note(fileOpens);
    VT_FOLLOWING(open64);
    return next(path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    note(fileOpens);
    VT_FOLLOWING(openat);
    return next(folder, path, flags, mode);
}

int openat64(int folder, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    note(fileOpens);
    VT_FOLLOWING(openat64);
    return next(folder, path, flags, mode);
}

FILE* fopen(const char* path, const char* mode) {
    note(fileOpens);
    VT_FOLLOWING(fopen);
    return next(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    note(fileOpens);
    VT_FOLLOWING(fopen64);
    return next(path, mode);
}

ssize_t read(int descriptor, void* buffer, std::size_t count) {
    note(fileReads);
    VT_FOLLOWING(read);
    return next(descriptor, buffer, count);
}

int nanosleep(const struct timespec* duration, struct timespec* remaining) {
    note(sleeps);
    VT_FOLLOWING(nanosleep);
    return next(duration, remaining);
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec* duration, struct timespec* remaining) {
    note(sleeps);
    VT_FOLLOWING(clock_nanosleep);
    return next(clock, flags, duration, remaining);
}

int usleep(useconds_t microseconds) {
    note(sleeps);
    VT_FOLLOWING(usleep);
    return next(microseconds);
}

// A blocking lock on a guarded thread is counted whether or not it waited; one that finds the
// mutex held (its try fails) is counted as contended too, then waits as asked.
int pthread_mutex_lock(pthread_mutex_t* mutex) noexcept {
    VT_FOLLOWING(pthread_mutex_lock);
    if (!guarded)
        return next(mutex);
    note(lockCalls);
    static std::atomic<void*> tryLockCache{nullptr};
    int tried = following<decltype(&::pthread_mutex_trylock)>(tryLockCache, "pthread_mutex_trylock")(mutex);
    if (tried != EBUSY)
        return tried;
    note(contendedLocks);
    return next(mutex);
}

} // extern "C"

#endif
