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
    installed = std::make_shared<const InstalledKit>();
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

namespace {

// The kit with each file path passed through the mapping; none for no mapping.
VellumtidePadKitState withMappedPaths(const VellumtidePadKitState& kit,
                                      const VellumtideAudioUnit::FilePathMapping& mapping) {
    VellumtidePadKitState mapped = kit;
    for (auto& assignment : mapped.assignments)
        assignment.filePath = mapping(assignment.filePath);
    return mapped;
}

} // namespace

std::optional<StateDictionary> VellumtideAudioUnit::fullState() const {
    return encodedStateDictionary(AudioUnitBase::fullState(), nullptr);
}

void VellumtideAudioUnit::setFullState(const std::optional<StateDictionary>& dictionary) {
    AudioUnitBase::setFullState(dictionary);
    decodeStateDictionary(dictionary, nullptr);
}

std::optional<StateDictionary> VellumtideAudioUnit::fullStateForDocument() const {
    return encodedStateDictionary(AudioUnitBase::fullStateForDocument(), nullptr);
}

void VellumtideAudioUnit::setFullStateForDocument(const std::optional<StateDictionary>& dictionary) {
    setFullStateForDocument(dictionary, nullptr);
}

std::optional<StateDictionary>
VellumtideAudioUnit::fullStateForDocument(const FilePathMapping& toStored) const {
    return encodedStateDictionary(AudioUnitBase::fullStateForDocument(), toStored);
}

void VellumtideAudioUnit::setFullStateForDocument(const std::optional<StateDictionary>& dictionary,
                                                  const FilePathMapping& toLive) {
    AudioUnitBase::setFullStateForDocument(dictionary);
    decodeStateDictionary(dictionary, toLive);
}

// Encodes the installed kit (normalised when installed) with no lock held: however large the
// kit, the render thread never waits for this.
std::optional<StateDictionary>
VellumtideAudioUnit::encodedStateDictionary(std::optional<StateDictionary> base,
                                            const FilePathMapping& toStored) const {
    std::string text;
    try {
        auto current = installedKit();
        text = toStored ? withMappedPaths(current->kit, toStored).toJsonText() : current->kit.toJsonText();
    } catch (const std::exception&) {
        return base;
    }
    StateDictionary result = base ? std::move(*base) : StateDictionary{};
    result[stateKey] = std::move(text);
    return result;
}

void VellumtideAudioUnit::decodeStateDictionary(const std::optional<StateDictionary>& dictionary,
                                                const FilePathMapping& toLive) {
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
        if (toLive)
            kit = withMappedPaths(*kit, toLive);
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
    auto installing = std::make_shared<InstalledKit>();
    installing->kit = kit.normalized();

    LoadedPadTable previous;
    {
        std::lock_guard lock(renderLock);
        previous = loadedPads;
    }
    LoadedPadTable next;
    for (const auto& assignment : installing->kit.assignments) {
        auto slot = static_cast<std::size_t>(assignment.slot);
        const auto& earlier = previous[slot];
        auto identity = VellumtideFileIdentity::ofRegularFile(assignment.filePath);
        bool unchanged = earlier && earlier->assignment.filePath == assignment.filePath && identity &&
                         *identity == earlier->fileIdentity;
        if (unchanged) {
            next[slot] = VellumtideLoadedPad::reusing(assignment, *earlier);
            continue;
        }
        auto loaded = VellumtideLoadedPad::load(assignment);
        next[slot] = std::move(loaded.pad);
        installing->loadFailures[slot] = std::move(loaded.failure);
    }

    std::vector<VellumtidePadVoice> cut;
    cut.reserve(maximumVoiceCount + 1);
    std::vector<std::shared_ptr<const VellumtideLoadedPad>> retired;
    retired.reserve(retiredPadCapacity);
    {
        std::lock_guard lock(renderLock);
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
    std::shared_ptr<const InstalledKit> replaced = std::move(installing);
    {
        std::lock_guard lock(kitLock);
        installed.swap(replaced);
    }
    installedKitGeneration.fetch_add(1, std::memory_order_acq_rel);
    // The previous kit and pad table, the cut voices and the retired pads are released here,
    // outside every lock.
}

std::shared_ptr<const VellumtideAudioUnit::InstalledKit> VellumtideAudioUnit::installedKit() const {
    std::lock_guard lock(kitLock);
    return installed;
}

VellumtidePadKitState VellumtideAudioUnit::padKitState() const {
    return installedKit()->kit;
}

std::shared_ptr<const VellumtidePadKitState> VellumtideAudioUnit::padKitSnapshot() const {
    auto current = installedKit();
    return {current, &current->kit};
}

std::string VellumtideAudioUnit::padLoadFailure(std::int64_t slot) const {
    if (slot < 0 || slot >= VellumtidePadKitState::slotCount)
        return {};
    return installedKit()->loadFailures[static_cast<std::size_t>(slot)];
}

std::shared_ptr<const VellumtideLoadedPad> VellumtideAudioUnit::loadedPad(std::int64_t slot) const {
    if (slot < 0 || slot >= VellumtidePadKitState::slotCount)
        return nullptr;
    std::lock_guard lock(renderLock);
    return loadedPads[static_cast<std::size_t>(slot)];
}

std::vector<VellumtidePadVoice> VellumtideAudioUnit::voiceSnapshot() const {
    std::vector<VellumtidePadVoice> copy;
    copy.reserve(maximumVoiceCount + 1); // no allocation while the lock is held
    std::lock_guard lock(renderLock);
    copy.assign(voices.begin(), voices.end());
    return copy;
}

// MARK: rendering

RenderBlock VellumtideAudioUnit::internalRenderBlock() {
    std::weak_ptr<VellumtideAudioUnit> weakUnit = weak_from_this();
    auto scratch = std::make_shared<RenderScratch>();
    scratch->events.reserve(eventCapacity);
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
                                     std::uint32_t frameCount, RenderScratch& scratch) {
    auto& into = scratch.events;
    into.resize(scratch.carried); // events a missed pass carried over lead, at frame 0
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
    scratch.carried = 0;
}

// Keeps the note-ons of a pass that could not play them, for the first frame of the next pass.
void VellumtideAudioUnit::carryOver(RenderScratch& scratch) {
    std::size_t kept = 0;
    for (const auto& event : scratch.events) {
        if ((event.status >> 4) != 0x9 || event.velocity == 0)
            continue;
        scratch.events[kept] = event;
        scratch.events[kept++].offset = 0;
    }
    scratch.events.resize(kept);
    scratch.carried = kept;
}

int VellumtideAudioUnit::render(const AudioTimeStamp* timestamp, std::uint32_t frameCount,
                                AudioBufferList output, const RenderEvent* events, RenderScratch& scratch) {
    clear(output);
    AudioFormat format = outputBus->format();
    midiEvents(events, timestamp, frameCount, scratch);

    // Another thread holds the lock only for a swap or a copy of a few pointers. Rather than wait
    // for it, this pass stays silent and its voices keep their place: every voice still plays all
    // of its audio, in order, one pass later, and no note-on is lost. (Rendering the voices from a
    // copy instead would let the copy and the swapped-in table disagree about which voices exist.)
    std::unique_lock lock(renderLock, std::try_to_lock);
    if (!lock.owns_lock()) {
        carryOver(scratch);
        return 0;
    }
    playEvents(output, frameCount, scratch.events, format);
    return 0;
}

void VellumtideAudioUnit::playEvents(AudioBufferList output, std::uint32_t frameCount,
                                     const std::vector<VellumtideMIDIEvent>& events,
                                     const AudioFormat& format) {
    bool isFloat = format.commonFormat == CommonFormat::float32;
    std::uint32_t cursor = 0;
    for (const auto& event : events) {
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
