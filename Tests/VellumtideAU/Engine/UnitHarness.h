#pragma once
// Drives a VellumtideAudioUnit the way a host does: an event list, a time stamp that runs on,
// and output buffers of chosen layout.

#include "Tests/Support/TemporaryFolder.h"
#include "Tests/VellumtideAU/Engine/WavFixtures.h"
#include "VellumtideAU/Engine/VellumtideAudioUnit.h"

#include <deque>
#include <vector>

namespace vt::test {

struct UnitHarness {
    std::shared_ptr<VellumtideAudioUnit> unit = VellumtideAudioUnit::create({});
    au::RenderBlock block = unit->internalRenderBlock();
    double sampleTime = 0;
    std::deque<au::RenderEvent> events; // stable addresses for the links

    au::RenderEvent& add(au::RenderEvent event) {
        events.push_back(event);
        return events.back();
    }
    // A note-on at an absolute sample time (or eventSampleTimeImmediate).
    void noteOn(std::int64_t time, int note, int velocity = 127, int status = 0x90) {
        au::RenderEvent event;
        event.eventSampleTime = time;
        event.length = 3;
        event.data[0] = static_cast<std::uint8_t>(status);
        event.data[1] = static_cast<std::uint8_t>(note);
        event.data[2] = static_cast<std::uint8_t>(velocity);
        add(event);
    }
    const au::RenderEvent* linkedEvents() {
        for (std::size_t index = 0; index + 1 < events.size(); ++index)
            events[index].next = &events[index + 1];
        return events.empty() ? nullptr : &events.front();
    }

    // One pass into the given buffers; the events are consumed and the time runs on.
    void renderInto(std::vector<au::AudioBuffer>& buffers, std::uint32_t frames) {
        au::AudioTimeStamp stamp{sampleTime};
        block(nullptr, &stamp, frames, 0, au::AudioBufferList(buffers.data(), buffers.size()), linkedEvents(),
              nullptr);
        events.clear();
        sampleTime += frames;
    }
    // Non-interleaved stereo output; returns {left, right}.
    std::vector<std::vector<float>> render(std::uint32_t frames) {
        std::vector<std::vector<float>> channels(2, std::vector<float>(frames, 99.0f));
        std::vector<au::AudioBuffer> buffers;
        for (auto& channel : channels)
            buffers.push_back({1, frames * 4, channel.data()});
        renderInto(buffers, frames);
        return channels;
    }

    // Writes a fixture per slot and applies a kit that plays them at the given volume and pitch.
    VellumtidePadAssignment padFor(const TemporaryFolder& folder, std::int64_t slot, std::size_t frames,
                                   double rate = 44100, std::size_t channelCount = 2, float volume = 1,
                                   double pitch = 0) {
        auto path = folder / ("pad" + std::to_string(slot) + "-" + std::to_string(frames) + ".wav");
        writeFloatWav(path, rate, rampChannels(frames, channelCount));
        return VellumtidePadAssignment(Uuid::random(), slot, "Pad",
                                       VellumtidePadAssignment::SourceKind::sample, std::nullopt,
                                       std::nullopt, path.string(), frames / rate, {}, volume, pitch);
    }
};

} // namespace vt::test
