// Everything that may touch a unit at once: the render thread, kit applications from the host and
// the window, document-state reads and writes, format changes and reference calls. Run under
// ThreadSanitizer in CI.

#include "Tests/VellumtideAU/Engine/UnitHarness.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace vt::au;
using vt::test::TemporaryFolder;
using vt::test::UnitHarness;

TEST(EngineStress, RenderKitStateAndReferenceCallsRunTogether) {
    TemporaryFolder folder;
    UnitHarness host;
    VellumtideAudioUnitReference reference;
    reference.set(host.unit);
    std::vector<VellumtidePadAssignment> pads;
    for (int slot = 0; slot < 16; ++slot)
        pads.push_back(
            host.padFor(folder, slot, 200 + 37 * slot, slot % 2 ? 48000 : 44100, slot % 3 ? 2 : 1));
    VellumtidePadKitState full{pads};
    VellumtidePadKitState half{{pads[1], pads[3], pads[8]}};
    host.unit->applyPadKit(full);
    host.unit->allocateRenderResources();

    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::thread render([&] {
        UnitHarness& h = host;
        int note = 0;
        while (!stop) {
            for (int index = 0; index < 6; ++index)
                h.noteOn(static_cast<std::int64_t>(h.sampleTime) + index * 10, 36 + (note++ % 16));
            auto out = h.render(64);
            ++blocks;
            std::this_thread::sleep_for(std::chrono::microseconds(100)); // a host renders periodically
        }
    });
    std::atomic<int> changes{0};
    reference.setUnitChangeHandler([&] {
        ++changes;
        reference.hasUnit();
    });
    std::thread window([&] {
        for (int round = 0; round < 300; ++round) {
            if (auto current = reference.currentState())
                reference.apply(round % 2 ? half : current->replacing(round % 16, pads[(round * 5) % 16]));
            if (host.unit->padKitSnapshot()->assignments.empty() &&
                !reference.padLoadFailure(round % 16).empty())
                ADD_FAILURE() << "a kit without assignments has no load failures";
        }
    });
    // The plug-in's owner drops and restores the window's access now and then.
    std::thread owner([&] {
        for (int round = 0; round < 100; ++round) {
            reference.set(round % 2 ? host.unit : nullptr);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        reference.set(host.unit);
    });
    std::thread hostState([&] {
        for (int round = 0; round < 300; ++round) {
            auto saved = host.unit->fullStateForDocument();
            ASSERT_TRUE(saved);
            host.unit->setFullState(round % 3 ? saved
                                              : StateDictionary{{"VellumtidePadKit", full.toJsonText()}});
            if (round % 25 == 0) {
                host.unit->deallocateRenderResources();
                host.unit->bus().setFormat(AudioFormat::standard(round % 2 ? 48000 : 44100, 2));
                host.unit->allocateRenderResources();
            }
        }
    });
    window.join();
    owner.join();
    hostState.join();
    reference.setUnitChangeHandler(nullptr);
    EXPECT_EQ(changes.load(), 101);
    stop = true;
    render.join();
    EXPECT_GT(blocks.load(), 0);
    EXPECT_LE(host.unit->voiceSnapshot().size(), VellumtideAudioUnit::maximumVoiceCount);
    EXPECT_EQ(host.unit->padKitState(), host.unit->padKitState().normalized());
}

} // namespace
