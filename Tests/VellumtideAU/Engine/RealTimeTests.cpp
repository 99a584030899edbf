// What the render thread must never do: allocate or free memory (pad audio included), open or
// read files, sleep, or wait for a lock. The render passes run inside the render-thread guard,
// which counts each of these; its own test shows it catches each kind of fault.

#include "Tests/Support/Patience.h"
#include "Tests/VellumtideAU/Engine/RenderThreadGuard.h"
#include "Tests/VellumtideAU/Engine/UnitHarness.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

// Reaches the unit's render lock, to hold it while a pass runs.
struct VellumtideAudioUnitTestProbe {
    static std::mutex& renderLock(VellumtideAudioUnit& unit) { return unit.renderLock; }
};

namespace {

using namespace vt::au;
using vt::test::TemporaryFolder;
using vt::test::UnitHarness;

using vt::test::RenderThreadGuard;
using vt::test::RenderThreadViolations;

// A harness whose passes run inside the render-thread guard; `alsoInside` runs there too, just
// before the block (a deliberately faulty render pass).
struct GuardedHarness : UnitHarness {
    std::vector<std::vector<float>> channels = std::vector<std::vector<float>>(2, std::vector<float>(256));
    std::vector<AudioBuffer> buffers{{1, 1024, channels[0].data()}, {1, 1024, channels[1].data()}};
    RenderThreadViolations violations;

    void pass(std::uint32_t frames = 256, const std::function<void()>& alsoInside = {}) {
        const RenderEvent* head = linkedEvents();
        AudioTimeStamp stamp{sampleTime};
        auto found = RenderThreadGuard::during([&] {
            if (alsoInside)
                alsoInside();
            block(nullptr, &stamp, frames, 0, AudioBufferList(buffers.data(), buffers.size()), head, nullptr);
        });
        violations += found;
        events.clear();
        sampleTime += frames;
    }
    void noteOnNow(int note, std::int64_t offset = 0) {
        noteOn(static_cast<std::int64_t>(sampleTime) + offset, note);
    }
};

TEST(RenderThread, DoesNothingForbiddenWhileVoicesStartEndAndOutliveTheirPads) {
    TemporaryFolder folder;
    GuardedHarness host;
    std::vector<VellumtidePadAssignment> pads;
    for (int slot = 0; slot < 16; ++slot)
        pads.push_back(host.padFor(folder, slot, 300 + 50 * slot, slot % 2 ? 22050 : 44100, 1 + slot % 2));
    host.unit->applyPadKit({pads});
    host.unit->allocateRenderResources();

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
    EXPECT_FALSE(host.violations.any()) << host.violations;

    // The pad that outlived its slot is freed by the next kit application, off the render thread.
    EXPECT_FALSE(oldPad.expired());
    host.unit->applyPadKit(kit);
    EXPECT_TRUE(oldPad.expired());
}

TEST(RenderThread, ABlockWhoseUnitIsGoneOnlyWritesSilence) {
    GuardedHarness host;
    host.unit.reset();
    host.channels[0].assign(256, 1.0f);
    host.pass();
    EXPECT_EQ(host.channels[0], std::vector<float>(256, 0.0f));
    EXPECT_FALSE(host.violations.any()) << host.violations;
}

// Another thread holds the render lock (as a kit swap does for a moment): the pass does not wait.
// It writes silence, its voice holds its place and its note-on sounds at the next pass's start.
TEST(RenderThread, APassThatFindsTheLockHeldWaitsForNothingAndLosesNoNote) {
    TemporaryFolder folder;
    GuardedHarness host;
    auto pad = host.padFor(folder, 0, 1000);
    host.unit->applyPadKit({{pad, host.padFor(folder, 1, 1000)}});
    host.noteOnNow(36);
    host.pass(100);
    ASSERT_EQ(host.unit->voiceSnapshot().size(), 1u);
    auto ramp = vt::test::rampChannels(1000, 2);

    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    std::thread swapper([&] {
        std::lock_guard lock(VellumtideAudioUnitTestProbe::renderLock(*host.unit));
        holding = true;
        while (!release)
            std::this_thread::yield();
    });
    while (!holding)
        std::this_thread::yield();
    host.noteOnNow(37, 50);
    // The pass runs on a render thread of its own: a pass that waited for the lock would not end
    // while the lock is held, and the test fails after a bounded wait instead of hanging.
    auto rendering = std::async(std::launch::async, [&] { host.pass(100); });
    const bool endedWhileHeld = rendering.wait_for(vt::test::patience) == std::future_status::ready;
    release = true;
    swapper.join();
    rendering.get();
    ASSERT_TRUE(endedWhileHeld) << "the pass waited for the render lock";
    EXPECT_EQ(host.channels[0], std::vector<float>(256, 0.0f));
    EXPECT_FALSE(host.violations.any()) << host.violations;

    host.pass(100);
    // Slot 0's voice goes on from frame 100 of its pad; slot 1's note-on sounds from frame 0.
    for (std::size_t t = 0; t < 100; ++t)
        ASSERT_FLOAT_EQ(host.channels[0][t], ramp[0][100 + t] + ramp[0][t]) << t;
    EXPECT_EQ(host.unit->voiceSnapshot().size(), 2u);
}

// A state save copies and encodes the kit without the render lock, so however large the kit, the
// render thread never finds the lock held by a save: here the saves finish while the lock is held.
TEST(RenderThread, StateSavesAndKitReadsNeverTakeTheRenderLock) {
    TemporaryFolder folder;
    GuardedHarness host;
    auto pad = host.padFor(folder, 3, 100);
    pad.peaks.assign(200'000, 0.25f);
    host.unit->applyPadKit({{pad}});
    std::unique_lock held(VellumtideAudioUnitTestProbe::renderLock(*host.unit));
    auto saving = std::async(std::launch::async, [&] {
        auto saved = host.unit->fullStateForDocument();
        auto restoredKit =
            VellumtidePadKitState::fromJsonText(std::get<std::string>(saved->at("VellumtidePadKit")));
        return restoredKit == host.unit->padKitState() &&
               host.unit->padKitSnapshot()->assignments.size() == 1 && host.unit->padLoadFailure(3).empty();
    });
    bool finished = saving.wait_for(vt::test::patience) == std::future_status::ready;
    held.unlock();
    EXPECT_TRUE(finished) << "a state save waited for the render lock";
    EXPECT_TRUE(saving.get());
}

// Keeps the compiler from dropping an allocation paired with its release.
template <typename Pointer> Pointer escaped(Pointer pointer) {
    asm volatile("" : : "r"(pointer) : "memory");
    return pointer;
}

// Each fault an earlier render pass could hide (it counted only operator new and delete), run
// inside a guarded pass of the real render block: the guard must report it.
TEST(RenderThreadGuard, CatchesEachKindOfFaultInsideARenderPass) {
    TemporaryFolder folder;
    auto file = folder / "data.bin";
    vt::test::writeFile(file, std::string(64, 'x'));
    std::mutex heldElsewhere;
    char buffer[16];

    struct Mutant {
        const char* name;
        bool needsLibc;
        std::function<void()> fault;
        std::size_t RenderThreadViolations::*caught;
    };
    std::vector<Mutant> mutants{
        {"operator new", false, [] { delete escaped(new int(1)); }, &RenderThreadViolations::allocations},
        {"malloc", true, [] { std::free(escaped(std::malloc(64))); }, &RenderThreadViolations::allocations},
        {"free", true, [] { std::free(escaped(std::malloc(64))); }, &RenderThreadViolations::releases},
        {"calloc", true, [] { std::free(escaped(std::calloc(8, 8))); }, &RenderThreadViolations::allocations},
        {"realloc", true, [] { std::free(escaped(std::realloc(nullptr, 8))); },
         &RenderThreadViolations::allocations},
        {"fopen", true,
         [&] {
             if (FILE* f = std::fopen(file.c_str(), "rb"))
                 std::fclose(f);
         },
         &RenderThreadViolations::fileOpens},
        {"open and read", true,
         [&] {
             int fd = ::open(file.c_str(), O_RDONLY);
             if (fd >= 0) {
                 [[maybe_unused]] auto got = ::read(fd, buffer, sizeof buffer);
                 ::close(fd);
             }
         },
         &RenderThreadViolations::fileReads},
        {"1 ms sleep", true, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); },
         &RenderThreadViolations::sleeps},
        {"usleep", true, [] { ::usleep(1000); }, &RenderThreadViolations::sleeps},
        {"lock", true, [&] { std::lock_guard lock(heldElsewhere); }, &RenderThreadViolations::lockCalls},
    };
    for (const auto& mutant : mutants) {
        if (mutant.needsLibc && !RenderThreadGuard::interposesLibc())
            continue;
        GuardedHarness host;
        host.pass(64, mutant.fault);
        EXPECT_GE(host.violations.*mutant.caught, 1u)
            << mutant.name << " went unnoticed: " << host.violations;
    }

    // A lock that another thread holds: the pass waits, and the wait is counted as contended.
    if (!RenderThreadGuard::interposesLibc())
        GTEST_SKIP() << RenderThreadGuard::partialReason();
    // The owner lets go only well after the pass has come to the lock, however slowly each thread
    // is scheduled.
    std::atomic<bool> holding{false}, locking{false};
    std::thread owner([&] {
        std::lock_guard lock(heldElsewhere);
        holding = true;
        while (!locking)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    });
    while (!holding)
        std::this_thread::yield();
    GuardedHarness host;
    host.pass(64, [&] {
        locking = true;
        std::lock_guard lock(heldElsewhere);
    });
    owner.join();
    EXPECT_EQ(host.violations.contendedLocks, 1u) << host.violations;
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
    // 17 million frames of mono float audio (under 10 minutes): 68 MB once decoded, more than the
    // cap leaves and more than fits in the address space a spare malloc arena has reserved.
    auto large = host.padFor(folder, 1, 17'000'000, 44100, 1);
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
