// What the render thread must never do: allocate or free memory (pad audio included) and read
// files. Every allocation and release made while a render block runs is counted through the
// global operator new and delete of this test binary.

#include "Tests/VellumtideAU/Engine/UnitHarness.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>
#include <sys/resource.h>
#include <unistd.h>

namespace {

thread_local bool insideRenderPass = false;
std::size_t renderAllocations = 0;
std::size_t renderReleases = 0;

void* tryAllocate(std::size_t size, std::size_t alignment = 0) noexcept {
    if (insideRenderPass)
        ++renderAllocations;
    size = size == 0 ? 1 : size;
    if (alignment <= alignof(std::max_align_t))
        return std::malloc(size);
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void* allocate(std::size_t size, std::size_t alignment = 0) {
    if (void* memory = tryAllocate(size, alignment))
        return memory;
    throw std::bad_alloc();
}

void release(void* memory) noexcept {
    if (memory && insideRenderPass)
        ++renderReleases;
    std::free(memory);
}

} // namespace

// Every form of the global allocation functions, so that each pairs with its own release.
void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return tryAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return tryAllocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return tryAllocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return tryAllocate(size, static_cast<std::size_t>(alignment));
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

namespace {

using namespace vt::au;
using vt::test::TemporaryFolder;
using vt::test::UnitHarness;

// A harness whose passes count what the render block allocates and frees.
struct CountingHarness : UnitHarness {
    std::vector<std::vector<float>> channels = std::vector<std::vector<float>>(2, std::vector<float>(256));
    std::vector<AudioBuffer> buffers{{1, 1024, channels[0].data()}, {1, 1024, channels[1].data()}};

    void pass(std::uint32_t frames = 256) {
        const RenderEvent* head = linkedEvents();
        AudioTimeStamp stamp{sampleTime};
        insideRenderPass = true;
        block(nullptr, &stamp, frames, 0, AudioBufferList(buffers.data(), buffers.size()), head, nullptr);
        insideRenderPass = false;
        events.clear();
        sampleTime += frames;
    }
    void noteOnNow(int note, std::int64_t offset = 0) {
        noteOn(static_cast<std::int64_t>(sampleTime) + offset, note);
    }
};

TEST(RenderThread, AllocatesAndFreesNothingWhileVoicesStartEndAndOutliveTheirPads) {
    TemporaryFolder folder;
    CountingHarness host;
    std::vector<VellumtidePadAssignment> pads;
    for (int slot = 0; slot < 16; ++slot)
        pads.push_back(host.padFor(folder, slot, 300 + 50 * slot, slot % 2 ? 22050 : 44100, 1 + slot % 2));
    host.unit->applyPadKit({pads});
    host.unit->allocateRenderResources();
    renderAllocations = renderReleases = 0;

    // Many events out of order, other kinds among them, and more voices than the cap.
    for (int index = 0; index < 60; ++index)
        host.noteOnNow(36 + index % 16, (index * 37) % 256);
    host.noteOn(eventSampleTimeImmediate, 40);
    RenderEvent sysex;
    sysex.eventType = RenderEventType::midiSysEx;
    sysex.length = 3;
    host.add(sysex);
    host.pass();
    EXPECT_EQ(host.unit->voiceSnapshot().size(), VellumtideAudioUnit::maximumVoiceCount);

    // Slot 0 gets another file while its voice sounds: the old pad is then held by that voice
    // alone, and the voice ends on the render thread.
    host.unit->applyPadKit({{}});
    host.unit->applyPadKit({pads});
    host.noteOnNow(36);
    host.pass(8);
    std::weak_ptr<const VellumtideLoadedPad> oldPad = host.unit->loadedPad(0);
    auto replacement = host.padFor(folder, 0, 40);
    auto kit = VellumtidePadKitState{pads}.replacing(0, replacement);
    host.unit->applyPadKit(kit);
    ASSERT_FALSE(oldPad.expired()); // still sounding
    // 40 more note-ons push every older voice out through the cap, then the rest play out.
    for (int index = 0; index < 40; ++index)
        host.noteOnNow(37 + index % 15);
    host.pass();
    for (int block = 0; block < 8; ++block)
        host.pass();
    EXPECT_TRUE(host.unit->voiceSnapshot().empty());
    EXPECT_EQ(renderAllocations, 0u);
    EXPECT_EQ(renderReleases, 0u);

    // The pad that outlived its slot is freed by the next kit application, off the render thread.
    EXPECT_FALSE(oldPad.expired());
    host.unit->applyPadKit(kit);
    EXPECT_TRUE(oldPad.expired());
}

TEST(RenderThread, ABlockWhoseUnitIsGoneOnlyWritesSilence) {
    CountingHarness host;
    host.unit.reset();
    renderAllocations = renderReleases = 0;
    host.channels[0].assign(256, 1.0f);
    host.pass();
    EXPECT_EQ(host.channels[0], std::vector<float>(256, 0.0f));
    EXPECT_EQ(renderAllocations, 0u);
    EXPECT_EQ(renderReleases, 0u);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

// A pad whose audio does not fit in the memory the host can have leaves its slot silent; the
// host (a child process with a capped address space here) keeps running.
TEST(PadLoading, APadTooLargeToHoldFailsToLoadWithoutTakingTheHostDown) {
    if (sanitized)
        GTEST_SKIP() << "a sanitizer reserves more address space than the cap allows";
    TemporaryFolder folder;
    UnitHarness host;
    // Eight million frames of stereo float audio: 64 MB once decoded, more than the cap leaves.
    auto large = host.padFor(folder, 1, 8'000'000, 44100, 2);
    auto small = host.padFor(folder, 2, 100);
    EXPECT_EXIT(
        {
            rlimit cap{};
            getrlimit(RLIMIT_AS, &cap);
            long pages = 0;
            if (FILE* status = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(status, "%ld", &pages) != 1)
                    pages = 0;
                std::fclose(status);
            }
            cap.rlim_cur =
                static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (48 << 20);
            setrlimit(RLIMIT_AS, &cap);
            host.unit->applyPadKit({{large, small}});
            bool silentSlot = host.unit->loadedPad(1) == nullptr;
            bool otherSlotLoaded = host.unit->loadedPad(2) != nullptr;
            std::_Exit(silentSlot && otherSlotLoaded && host.unit->padKitState().assignments.size() == 2 ? 0
                                                                                                         : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
