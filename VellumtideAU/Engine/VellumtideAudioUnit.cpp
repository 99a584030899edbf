#include "VellumtideAU/Engine/VellumtideAudioUnit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace vt::au;

namespace {

constexpr std::size_t retiredPadCapacity = 2 * VellumtideAudioUnit::maximumVoiceCount + 8;

} // namespace

std::shared_ptr<VellumtideAudioUnit> VellumtideAudioUnit::create(const ComponentDescription& description,
                                                                 std::uint32_t options) {
    return std::make_shared<VellumtideAudioUnit>(Token{}, description, options);
}

VellumtideAudioUnit::VellumtideAudioUnit(Token, const ComponentDescription& description,
                                         std::uint32_t options)
    : AudioUnitBase(description, options) {
    AudioFormat defaultFormat = AudioFormat::standard(44100, 2);
    outputBus = std::make_shared<AudioUnitBus>(defaultFormat);
    outputBus->setMaximumChannelCount(2);
    outputBus->setSupportedChannelCounts({1, 2});
    outputBusArray = std::make_unique<AudioUnitBusArray>(
        *this, BusType::output, std::vector<std::shared_ptr<AudioUnitBus>>{outputBus});
    // The render thread appends and retires without allocating.
    voices.reserve(maximumVoiceCount + 1);
    retiredPads.reserve(retiredPadCapacity);
}

VellumtideAudioUnit::~VellumtideAudioUnit() = default;

bool VellumtideAudioUnit::shouldChangeToFormat(const AudioFormat& format, const AudioUnitBus& bus) {
    if (&bus != outputBus.get())
        return false;
    if (format.channelCount != 1 && format.channelCount != 2)
        return false;
    if (!renderResourcesAllocated())
        return true;
    auto dropped = takeVoices();
    AudioUnitBase::deallocateRenderResources();
    return true;
}

void VellumtideAudioUnit::deallocateRenderResources() {
    auto dropped = takeVoices();
    AudioUnitBase::deallocateRenderResources();
}

std::vector<VellumtidePadVoice> VellumtideAudioUnit::takeVoices() {
    std::vector<VellumtidePadVoice> taken;
    taken.reserve(maximumVoiceCount + 1);
    std::vector<std::shared_ptr<const VellumtideLoadedPad>> retired;
    retired.reserve(retiredPadCapacity);
    {
        std::lock_guard lock(renderLock);
        std::move(voices.begin(), voices.end(), std::back_inserter(taken));
        voices.clear();
        retiredPads.swap(retired);
    }
    // The retired pads go with `retired` here, outside the lock; the voices with the caller.
    return taken;
}

// MARK: document state

std::optional<StateDictionary> VellumtideAudioUnit::fullState() const {
    return encodedStateDictionary(AudioUnitBase::fullState());
}

void VellumtideAudioUnit::setFullState(const std::optional<StateDictionary>& dictionary) {
    AudioUnitBase::setFullState(dictionary);
    decodeStateDictionary(dictionary);
}

std::optional<StateDictionary> VellumtideAudioUnit::fullStateForDocument() const {
    return encodedStateDictionary(AudioUnitBase::fullStateForDocument());
}

void VellumtideAudioUnit::setFullStateForDocument(const std::optional<StateDictionary>& dictionary) {
    AudioUnitBase::setFullStateForDocument(dictionary);
    decodeStateDictionary(dictionary);
}

std::optional<StateDictionary>
VellumtideAudioUnit::encodedStateDictionary(std::optional<StateDictionary> base) const {
    std::string text;
    try {
        text = padKitState().normalized().toJsonText();
    } catch (const std::exception&) {
        return base;
    }
    StateDictionary result = base ? std::move(*base) : StateDictionary{};
    result[stateKey] = std::move(text);
    return result;
}

void VellumtideAudioUnit::decodeStateDictionary(const std::optional<StateDictionary>& dictionary) {
    if (!dictionary || dictionary->empty())
        return;
    auto found = dictionary->find(stateKey);
    if (found == dictionary->end())
        return;
    const auto* text = std::get_if<std::string>(&found->second);
    if (!text)
        return;
    std::optional<VellumtidePadKitState> kit;
    try {
        kit = VellumtidePadKitState::fromJsonText(*text);
    } catch (const std::exception&) {
        return;
    }
    applyPadKit(*kit);
}

// MARK: pad loading

void VellumtideAudioUnit::applyPadKit(const VellumtidePadKitState& kit) {
    std::uint64_t ticket = ++applyTickets;
    std::lock_guard serial(applyMutex);
    if (ticket < installedTicket)
        return; // a later call has already installed its kit
    VellumtidePadKitState normalized = kit.normalized();

    LoadedPadTable previous;
    {
        std::lock_guard lock(renderLock);
        previous = loadedPads;
    }
    LoadedPadTable next;
    for (const auto& assignment : normalized.assignments) {
        const auto& earlier = previous[static_cast<std::size_t>(assignment.slot)];
        auto identity = VellumtideFileIdentity::ofRegularFile(assignment.filePath);
        bool unchanged = earlier && earlier->assignment.filePath == assignment.filePath && identity &&
                         *identity == earlier->fileIdentity;
        next[static_cast<std::size_t>(assignment.slot)] =
            unchanged ? VellumtideLoadedPad::reusing(assignment, *earlier)
                      : VellumtideLoadedPad::load(assignment);
    }

    std::vector<VellumtidePadVoice> cut;
    cut.reserve(maximumVoiceCount + 1);
    std::vector<std::shared_ptr<const VellumtideLoadedPad>> retired;
    retired.reserve(retiredPadCapacity);
    {
        std::lock_guard lock(renderLock);
        state.assignments.swap(normalized.assignments);
        loadedPads.swap(next);
        std::size_t kept = 0;
        for (auto& voice : voices) {
            if (loadedPads[static_cast<std::size_t>(voice.slot)])
                voices[kept++] = std::move(voice);
            else
                cut.push_back(std::move(voice));
        }
        voices.resize(kept);
        retiredPads.swap(retired);
        installedTicket = ticket;
    }
    installedKitGeneration.fetch_add(1, std::memory_order_acq_rel);
    // The previous kit and pad table, the cut voices and the retired pads are released here,
    // outside the lock.
}

VellumtidePadKitState VellumtideAudioUnit::padKitState() const {
    std::lock_guard lock(renderLock);
    return state;
}

std::shared_ptr<const VellumtideLoadedPad> VellumtideAudioUnit::loadedPad(std::int64_t slot) const {
    if (slot < 0 || slot >= VellumtidePadKitState::slotCount)
        return nullptr;
    std::lock_guard lock(renderLock);
    return loadedPads[static_cast<std::size_t>(slot)];
}

std::vector<VellumtidePadVoice> VellumtideAudioUnit::voiceSnapshot() const {
    std::lock_guard lock(renderLock);
    return voices;
}

// MARK: rendering

RenderBlock VellumtideAudioUnit::internalRenderBlock() {
    std::weak_ptr<VellumtideAudioUnit> weakUnit = weak_from_this();
    auto scratch = std::make_shared<std::vector<VellumtideMIDIEvent>>();
    scratch->reserve(eventCapacity);
    return [weakUnit, scratch](RenderActionFlags*, const AudioTimeStamp* timestamp, std::uint32_t frameCount,
                               std::int64_t, AudioBufferList output, const RenderEvent* events,
                               const RenderPullInputBlock*) -> int {
        auto unit = weakUnit.lock();
        if (!unit) {
            clear(output);
            return 0;
        }
        return unit->render(timestamp, frameCount, output, events, *scratch);
    };
}

void VellumtideAudioUnit::clear(AudioBufferList output) {
    for (auto& buffer : output)
        if (buffer.data)
            std::memset(buffer.data, 0, buffer.dataByteSize);
}

void VellumtideAudioUnit::midiEvents(const RenderEvent* head, const AudioTimeStamp* timestamp,
                                     std::uint32_t frameCount, std::vector<VellumtideMIDIEvent>& into) {
    into.clear();
    double bufferStart = timestamp ? timestamp->sampleTime : 0;
    for (const RenderEvent* event = head; event; event = event->next) {
        if (event->eventType != RenderEventType::midi || event->length < 3)
            continue;
        if (into.size() == into.capacity())
            break; // no allocation on the render thread
        std::int64_t offset = 0;
        if (event->eventSampleTime != eventSampleTimeImmediate) {
            double relative = static_cast<double>(event->eventSampleTime) - bufferStart;
            if (!(relative < frameCount))
                relative = frameCount;
            if (relative < 0)
                relative = 0;
            offset = static_cast<std::int64_t>(relative);
        }
        into.push_back({offset, event->data[0], event->data[1], event->data[2]});
    }
    // Stable insertion sort by offset: hosts send events in order, so this is linear in practice,
    // and unlike std::stable_sort it never asks for a temporary buffer.
    for (std::size_t index = 1; index < into.size(); ++index) {
        VellumtideMIDIEvent event = into[index];
        std::size_t place = index;
        while (place > 0 && into[place - 1].offset > event.offset) {
            into[place] = into[place - 1];
            --place;
        }
        into[place] = event;
    }
}

int VellumtideAudioUnit::render(const AudioTimeStamp* timestamp, std::uint32_t frameCount,
                                AudioBufferList output, const RenderEvent* events,
                                std::vector<VellumtideMIDIEvent>& scratch) {
    clear(output);
    AudioFormat format = outputBus->format();
    bool isFloat = format.commonFormat == CommonFormat::float32;
    midiEvents(events, timestamp, frameCount, scratch);

    std::lock_guard lock(renderLock);
    std::uint32_t cursor = 0;
    for (const auto& event : scratch) {
        auto eventFrame = static_cast<std::uint32_t>(std::clamp<std::int64_t>(event.offset, 0, frameCount));
        if (eventFrame > cursor && isFloat)
            renderVoices(output, cursor, eventFrame - cursor, format.channelCount, format.interleaved);
        cursor = std::max(cursor, eventFrame);
        bool noteOn = (event.status >> 4) == 0x9;
        int slot = event.note - firstNote;
        if (noteOn && slot >= 0 && slot < VellumtidePadKitState::slotCount && event.velocity != 0)
            startVoice(slot, event.velocity);
    }
    if (frameCount > cursor && isFloat)
        renderVoices(output, cursor, frameCount - cursor, format.channelCount, format.interleaved);
    return 0;
}

void VellumtideAudioUnit::startVoice(std::int64_t slot, std::uint8_t velocity) {
    const auto& pad = loadedPads[static_cast<std::size_t>(slot)];
    if (!pad)
        return;
    double outputRate = outputBus->format().sampleRate;
    double rate =
        std::pow(2.0, pad->assignment.pitchSemitones / 12.0) * pad->sampleRate / std::max(outputRate, 1.0);
    float gain = static_cast<float>(velocity) / 127.0f * std::max(pad->assignment.volume, 0.0f);
    voices.push_back({slot, pad, 0.0, rate, gain});
    while (voices.size() > maximumVoiceCount)
        removeVoice(0);
}

void VellumtideAudioUnit::removeVoice(std::size_t index) {
    auto slot = static_cast<std::size_t>(voices[index].slot);
    auto pad = std::move(voices[index].pad);
    voices.erase(voices.begin() + static_cast<std::ptrdiff_t>(index));
    // A pad still in the table survives this release. Any other pad may be held by nothing else,
    // so it waits in retiredPads to be freed off the render thread (the capacity covers every
    // voice that can outlive its pad between two collections).
    if (pad && pad != loadedPads[slot])
        retiredPads.push_back(std::move(pad));
}

void VellumtideAudioUnit::renderVoices(AudioBufferList output, std::uint32_t startFrame,
                                       std::uint32_t frameCount, std::uint32_t channelCount,
                                       bool isInterleaved) {
    if (frameCount < 1 || voices.empty() || (channelCount != 1 && channelCount != 2))
        return;
    // Destinations, each with the number of floats its byte size allows; nothing is written past it.
    float* first = nullptr;
    float* second = nullptr;
    std::size_t firstCapacity = 0;
    std::size_t secondCapacity = 0;
    bool monoDestination = false;
    if (isInterleaved) {
        if (!output.empty()) {
            first = static_cast<float*>(output[0].data);
            firstCapacity = output[0].dataByteSize / sizeof(float);
        }
        monoDestination = channelCount == 1;
    } else {
        std::size_t count = std::min<std::size_t>(output.size(), channelCount);
        if (count >= 1) {
            first = static_cast<float*>(output[0].data);
            firstCapacity = output[0].dataByteSize / sizeof(float);
        }
        if (count >= 2) {
            second = static_cast<float*>(output[1].data);
            secondCapacity = output[1].dataByteSize / sizeof(float);
        }
        monoDestination = count == 1;
    }
    if (!first)
        return;

    for (std::size_t t = startFrame; t < std::size_t(startFrame) + frameCount; ++t) {
        float leftMix = 0;
        float rightMix = 0;
        for (std::size_t i = 0; i < voices.size();) {
            VellumtidePadVoice& voice = voices[i];
            const VellumtideLoadedPad& pad = *voice.pad;
            std::size_t n = pad.frameCount();
            if (!(voice.position < static_cast<double>(n))) {
                removeVoice(i);
                continue;
            }
            auto k = static_cast<std::size_t>(voice.position);
            std::size_t k2 = std::min(k + 1, n - 1);
            auto f = static_cast<float>(voice.position - static_cast<double>(k));
            const auto& left = pad.left();
            const auto& right = pad.right();
            leftMix += (left[k] + (left[k2] - left[k]) * f) * voice.gain;
            rightMix += (right[k] + (right[k2] - right[k]) * f) * voice.gain;
            voice.position += voice.rateRatio;
            if (!(voice.position < static_cast<double>(n)))
                removeVoice(i);
            else
                ++i;
        }
        if (isInterleaved && monoDestination) {
            if (t < firstCapacity)
                first[t] += (leftMix + rightMix) * 0.5f;
        } else if (isInterleaved) {
            if (2 * t + 1 < firstCapacity) {
                first[2 * t] += leftMix;
                first[2 * t + 1] += rightMix;
            }
        } else if (monoDestination) {
            if (t < firstCapacity)
                first[t] += (leftMix + rightMix) * 0.5f;
        } else {
            if (t < firstCapacity)
                first[t] += leftMix;
            if (second && t < secondCapacity)
                second[t] += rightMix;
        }
    }
}
