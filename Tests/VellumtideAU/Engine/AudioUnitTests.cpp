#include "Tests/VellumtideAU/Engine/UnitHarness.h"

#include <gtest/gtest.h>

namespace {

using namespace vt::au;
using vt::test::TemporaryFolder;
using vt::test::UnitHarness;

constexpr float step = 0.001f;

// Left value of a ramp pad started at `start`, at frame t of the output (rate 1, gain 1).
float ramp(std::size_t t, std::size_t start) {
    return static_cast<float>(t - start + 1) * step;
}

struct AudioUnitTest : ::testing::Test {
    TemporaryFolder folder;
    UnitHarness host;

    void loadPads(std::vector<VellumtidePadAssignment> assignments) {
        host.unit->applyPadKit(VellumtidePadKitState{std::move(assignments)});
    }
};

TEST_F(AudioUnitTest, BusesFormatsAndCapabilities) {
    auto& unit = *host.unit;
    ASSERT_NE(unit.outputBusses(), nullptr);
    EXPECT_EQ(unit.outputBusses()->count(), 1u);
    EXPECT_EQ(unit.outputBusses()->busType(), BusType::output);
    EXPECT_EQ(&(*unit.outputBusses())[0], &unit.bus());
    EXPECT_EQ(unit.inputBusses(), nullptr);
    EXPECT_EQ(unit.channelCapabilities(), (std::vector<int>{0, 1, 0, 2}));
    EXPECT_EQ(unit.bus().format(), AudioFormat::standard(44100, 2));
    EXPECT_EQ(unit.bus().maximumChannelCount(), 2u);
    EXPECT_EQ(unit.bus().supportedChannelCounts(), (std::vector<std::uint32_t>{1, 2}));

    EXPECT_TRUE(unit.shouldChangeToFormat(AudioFormat::standard(48000, 1), unit.bus()));
    EXPECT_FALSE(unit.shouldChangeToFormat(AudioFormat::standard(48000, 3), unit.bus()));
    AudioUnitBus stranger(AudioFormat::standard(48000, 2));
    EXPECT_FALSE(unit.shouldChangeToFormat(AudioFormat::standard(48000, 2), stranger));
    EXPECT_THROW(unit.bus().setFormat(AudioFormat::standard(48000, 3)), AudioUnitError);
    EXPECT_THROW(unit.bus().setFormat(AudioFormat::standard(0, 2)), AudioUnitError);
    unit.bus().setFormat(AudioFormat::standard(48000, 1));
    EXPECT_EQ(unit.bus().format().sampleRate, 48000);
    EXPECT_THROW(AudioUnitBus(AudioFormat::standard(44100, 0)), AudioUnitError);
}

TEST_F(AudioUnitTest, FormatChangeAndDeallocationDropVoicesOnly) {
    loadPads({host.padFor(folder, 0, 1000)});
    host.unit->allocateRenderResources();
    host.noteOn(0, 36);
    host.render(16);
    ASSERT_EQ(host.unit->voiceSnapshot().size(), 1u);
    host.unit->bus().setFormat(AudioFormat::standard(48000, 2)); // accepted while allocated
    EXPECT_TRUE(host.unit->voiceSnapshot().empty());
    EXPECT_FALSE(host.unit->renderResourcesAllocated());
    EXPECT_NE(host.unit->loadedPad(0), nullptr);
    EXPECT_EQ(host.unit->padKitState().assignments.size(), 1u);

    host.unit->allocateRenderResources();
    host.noteOn(static_cast<std::int64_t>(host.sampleTime), 36);
    host.render(16);
    host.unit->deallocateRenderResources();
    EXPECT_TRUE(host.unit->voiceSnapshot().empty());
    EXPECT_NE(host.unit->loadedPad(0), nullptr);
}

TEST_F(AudioUnitTest, DocumentStateCarriesTheKitUnderItsKey) {
    auto& unit = *host.unit;
    auto empty = unit.fullState();
    ASSERT_TRUE(empty);
    ASSERT_EQ(empty->size(), 1u);
    EXPECT_EQ(std::get<std::string>(empty->at("VellumtidePadKit")), R"({"assignments":[]})");

    auto a = host.padFor(folder, 0, 500);
    auto b = host.padFor(folder, 0, 600);
    // Edited by hand to hold two assignments on slot 0: the first one wins.
    StateDictionary edited{{"VellumtidePadKit", VellumtidePadKitState{{a, b}}.toJsonText()}, {"other", 3.5}};
    auto generationBeforeRestore = unit.kitGeneration();
    unit.setFullStateForDocument(edited);
    EXPECT_EQ(unit.kitGeneration(), generationBeforeRestore + 1); // a window can see the restore
    EXPECT_EQ(unit.padKitState(), (VellumtidePadKitState{{a}}));
    auto saved = unit.fullStateForDocument();
    EXPECT_EQ(std::get<double>(saved->at("other")), 3.5); // the base's keys travel along
    EXPECT_EQ(VellumtidePadKitState::fromJsonText(std::get<std::string>(saved->at("VellumtidePadKit"))),
              unit.padKitState());

    host.noteOn(0, 36);
    host.render(8);
    auto before = unit.padKitState();
    for (StateDictionary ignored : {StateDictionary{}, StateDictionary{{"other", true}},
                                    StateDictionary{{"VellumtidePadKit", std::int64_t(4)}},
                                    StateDictionary{{"VellumtidePadKit", std::string("not a kit")}}}) {
        unit.setFullState(ignored);
        EXPECT_EQ(unit.padKitState(), before);
        EXPECT_EQ(unit.voiceSnapshot().size(), 1u);
    }
    unit.setFullState(std::nullopt);
    EXPECT_EQ(unit.padKitState(), before);

    unit.setFullState(StateDictionary{{"VellumtidePadKit", std::string(R"({"assignments":[]})")}});
    EXPECT_EQ(unit.padKitState(), VellumtidePadKitState::empty);
    EXPECT_TRUE(unit.voiceSnapshot().empty());
}

TEST_F(AudioUnitTest, NotesMapToSlotsOnEveryChannelAndOnlyNoteOnsStartVoices) {
    loadPads({host.padFor(folder, 0, 100), host.padFor(folder, 15, 100)});
    host.noteOn(0, 35);
    host.noteOn(0, 52);
    host.noteOn(0, 36, 0);         // velocity 0
    host.noteOn(0, 51, 100, 0x8F); // note-off
    host.noteOn(0, 40);            // slot 4 has no pad
    host.noteOn(0, 36, 127, 0xB0); // control change
    host.render(4);
    EXPECT_TRUE(host.unit->voiceSnapshot().empty());

    host.noteOn(4, 36, 127, 0x93);
    host.noteOn(4, 51, 127, 0x9F);
    host.render(4);
    auto voices = host.unit->voiceSnapshot();
    ASSERT_EQ(voices.size(), 2u);
    EXPECT_EQ(voices[0].slot, 0);
    EXPECT_EQ(voices[1].slot, 15);

    host.noteOn(8, 36, 100, 0x80); // a note-off does not shorten a sounding pad
    host.render(4);
    EXPECT_EQ(host.unit->voiceSnapshot().size(), 2u);
}

TEST_F(AudioUnitTest, VoicesStartSampleAccuratelyAndSumUnclipped) {
    loadPads({host.padFor(folder, 0, 100), host.padFor(folder, 1, 100, 44100, 2, 1.5f)});
    host.noteOn(5, 36);
    host.noteOn(5, 36); // same pad twice: double level, no retrigger
    host.noteOn(9, 37);
    auto out = host.render(16);
    for (std::size_t t = 0; t < 5; ++t)
        EXPECT_EQ(out[0][t], 0.0f) << t;
    for (std::size_t t = 5; t < 9; ++t) {
        EXPECT_FLOAT_EQ(out[0][t], 2 * ramp(t, 5)) << t;
        EXPECT_FLOAT_EQ(out[1][t], -2 * ramp(t, 5)) << t;
    }
    for (std::size_t t = 9; t < 16; ++t)
        EXPECT_FLOAT_EQ(out[0][t], 2 * ramp(t, 5) + 1.5f * ramp(t, 9)) << t;
    EXPECT_EQ(host.unit->voiceSnapshot()[2].gain, 1.5f);

    // Velocity scales by 1/127; a negative volume never reaches a voice (normalised to 0).
    host.noteOn(static_cast<std::int64_t>(host.sampleTime), 36, 127);
    host.render(1);
    EXPECT_EQ(host.unit->voiceSnapshot().back().gain, 1.0f);
    host.noteOn(static_cast<std::int64_t>(host.sampleTime), 36, 64);
    host.render(1);
    EXPECT_FLOAT_EQ(host.unit->voiceSnapshot().back().gain, 64.0f / 127.0f);
}

TEST_F(AudioUnitTest, EventTimesAreClampedSortedStablyAndImmediateStartsAtZero) {
    loadPads({host.padFor(folder, 0, 100), host.padFor(folder, 1, 100), host.padFor(folder, 2, 100)});
    host.render(32);                           // the buffer now starts at sample time 32
    host.noteOn(10, 36);                       // before the buffer: frame 0
    host.noteOn(32 + 40, 37);                  // beyond its end: next buffer's frame 0
    host.noteOn(eventSampleTimeImmediate, 38); // immediate: frame 0
    auto out = host.render(16);
    auto voices = host.unit->voiceSnapshot();
    ASSERT_EQ(voices.size(), 3u);
    EXPECT_EQ(voices[0].slot, 0); // list order kept at equal offsets
    EXPECT_EQ(voices[1].slot, 2);
    EXPECT_EQ(voices[2].slot, 1); // started at the end, not yet advanced
    EXPECT_EQ(voices[2].position, 0.0);
    EXPECT_FLOAT_EQ(out[0][0], 2 * step);
    EXPECT_FLOAT_EQ(out[0][15], 2 * ramp(15, 0));
    auto next = host.render(4);
    EXPECT_FLOAT_EQ(next[0][0], 2 * ramp(16, 0) + ramp(0, 0));

    // Out of order in the list: played in offset order, ties in list order.
    host.unit->deallocateRenderResources();
    auto start = static_cast<std::int64_t>(host.sampleTime);
    host.noteOn(start + 6, 38);
    host.noteOn(start + 2, 37);
    host.noteOn(start + 6, 36);
    host.noteOn(start + 2, 38);
    host.render(8);
    std::vector<std::int64_t> order;
    for (const auto& voice : host.unit->voiceSnapshot())
        order.push_back(voice.slot);
    EXPECT_EQ(order, (std::vector<std::int64_t>{1, 2, 2, 0}));
}

TEST_F(AudioUnitTest, OtherEventKindsAndShortMessagesAreSkipped) {
    loadPads({host.padFor(folder, 0, 100)});
    RenderEvent sysex;
    sysex.eventType = RenderEventType::midiSysEx;
    sysex.length = 3;
    sysex.data[0] = 0x90, sysex.data[1] = 36, sysex.data[2] = 100;
    host.add(sysex);
    RenderEvent parameter = sysex;
    parameter.eventType = RenderEventType::parameter;
    host.add(parameter);
    RenderEvent shortMessage = sysex;
    shortMessage.eventType = RenderEventType::midi;
    shortMessage.length = 2;
    host.add(shortMessage);
    host.render(8);
    EXPECT_TRUE(host.unit->voiceSnapshot().empty());
}

TEST_F(AudioUnitTest, VoiceCapRemovesTheOldest) {
    loadPads({host.padFor(folder, 0, 1000), host.padFor(folder, 1, 1000)});
    host.noteOn(0, 37);
    for (int index = 0; index < 40; ++index)
        host.noteOn(0, 36);
    host.render(4);
    auto voices = host.unit->voiceSnapshot();
    ASSERT_EQ(voices.size(), 40u);
    for (const auto& voice : voices)
        EXPECT_EQ(voice.slot, 0); // the slot-1 voice was the oldest
}

TEST_F(AudioUnitTest, PitchAndPadRateSetTheRateAndTheLastFramePlaysOnce) {
    host.unit->bus().setFormat(AudioFormat::standard(44100, 2));
    loadPads({host.padFor(folder, 0, 10, 44100, 2, 1, 12), host.padFor(folder, 1, 10, 22050)});
    host.noteOn(0, 36);
    host.noteOn(0, 37);
    host.render(1);
    auto voices = host.unit->voiceSnapshot();
    EXPECT_EQ(voices[0].rateRatio, 2.0);
    EXPECT_EQ(voices[1].rateRatio, 0.5);

    // Rate 0.5: frame t reads position t/2, interpolating halfway on odd frames.
    host.unit->deallocateRenderResources();
    loadPads({host.padFor(folder, 1, 10, 22050)});
    host.noteOn(static_cast<std::int64_t>(host.sampleTime), 37);
    auto out = host.render(24);
    EXPECT_FLOAT_EQ(out[0][0], 1 * step);
    EXPECT_FLOAT_EQ(out[0][1], 1.5f * step);
    EXPECT_FLOAT_EQ(out[0][18], 10 * step); // position 9: the last frame, interpolated with itself
    EXPECT_FLOAT_EQ(out[0][19], 10 * step); // position 9.5 still holds frame 9
    EXPECT_EQ(out[0][20], 0.0f);            // position 10: gone
    EXPECT_TRUE(host.unit->voiceSnapshot().empty());
}

TEST_F(AudioUnitTest, LayoutsMonoInterleavedAndSixteenBitOutput) {
    loadPads({host.padFor(folder, 0, 100)});
    host.unit->bus().setFormat({44100, 2, CommonFormat::float32, true});
    std::vector<float> interleaved(16, 7.0f);
    std::vector<AudioBuffer> one{{2, 64, interleaved.data()}};
    host.noteOn(static_cast<std::int64_t>(host.sampleTime) + 1, 36);
    host.renderInto(one, 8);
    EXPECT_EQ(interleaved[0], 0.0f);
    EXPECT_EQ(interleaved[1], 0.0f);
    EXPECT_FLOAT_EQ(interleaved[2], step);
    EXPECT_FLOAT_EQ(interleaved[3], -step);
    EXPECT_FLOAT_EQ(interleaved[14], 7 * step);

    // Mono, interleaved or not, gets half the sum; a stereo format with one buffer does too.
    auto left = host.padFor(folder, 1, 100);
    vt::test::writeFloatWav(left.filePath, 44100,
                            {std::vector<float>(100, 0.5f), std::vector<float>(100, 0.25f)});
    for (AudioFormat format : {AudioFormat{44100, 1, CommonFormat::float32, true},
                               AudioFormat::standard(44100, 1), AudioFormat::standard(44100, 2)}) {
        host.unit->deallocateRenderResources();
        host.unit->bus().setFormat(format);
        loadPads({left});
        std::vector<float> mono(4, 1.0f);
        std::vector<AudioBuffer> buffers{{1, 16, mono.data()}};
        host.noteOn(static_cast<std::int64_t>(host.sampleTime), 37);
        host.renderInto(buffers, 4);
        EXPECT_EQ(mono, std::vector<float>(4, 0.375f));
    }

    host.unit->deallocateRenderResources();
    host.unit->bus().setFormat({44100, 2, CommonFormat::int16, false});
    std::vector<std::int16_t> l(8, 5), r(8, 5);
    std::vector<AudioBuffer> ints{{1, 16, l.data()}, {1, 16, r.data()}};
    host.noteOn(static_cast<std::int64_t>(host.sampleTime), 37);
    host.renderInto(ints, 8);
    EXPECT_EQ(l, std::vector<std::int16_t>(8, 0));
    EXPECT_EQ(r, std::vector<std::int16_t>(8, 0));
    EXPECT_EQ(host.unit->voiceSnapshot().size(), 1u); // started but not advancing
    EXPECT_EQ(host.unit->voiceSnapshot()[0].position, 0.0);
}

TEST_F(AudioUnitTest, MixerStaysWithinEachBufferByteSize) {
    loadPads({host.padFor(folder, 0, 100)});
    // Buffers shorter than the frame count: a guard value right after each must survive.
    std::vector<float> left(9, 0), right(5, 0), interleaved(9, 0);
    std::vector<AudioBuffer> buffers{{1, 8 * 4, left.data()}, {1, 4 * 4, right.data()}};
    host.noteOn(static_cast<std::int64_t>(host.sampleTime), 36);
    left[8] = right[4] = 42;
    host.renderInto(buffers, 16);
    EXPECT_EQ(left[8], 42.0f);
    EXPECT_EQ(right[4], 42.0f);
    EXPECT_FLOAT_EQ(left[7], 8 * step);

    host.unit->bus().setFormat({44100, 2, CommonFormat::float32, true});
    std::vector<AudioBuffer> packed{{2, 7 * 4, interleaved.data()}};
    interleaved[7] = interleaved[8] = 42;
    host.renderInto(packed, 16);
    EXPECT_EQ(interleaved[7], 42.0f);
    EXPECT_NE(interleaved[5], 0.0f);
    std::vector<AudioBuffer> missing{{1, 64, nullptr}};
    host.renderInto(missing, 16); // no destination: nothing written, nothing crashes
}

TEST_F(AudioUnitTest, ABlockOutlivingItsUnitRendersSilence) {
    loadPads({host.padFor(folder, 0, 100)});
    host.noteOn(0, 36);
    host.render(4);
    host.unit.reset();
    auto out = host.render(8);
    EXPECT_EQ(out[0], std::vector<float>(8, 0.0f));
    EXPECT_EQ(out[1], std::vector<float>(8, 0.0f));
}

} // namespace
