#include "VellumtideAU/Engine/AudioUnitBase.h"

#include <algorithm>
#include <cmath>

namespace vt::au {

bool AudioFormat::isValid() const {
    return std::isfinite(sampleRate) && sampleRate > 0 && channelCount >= 1;
}

AudioUnitBus::AudioUnitBus(const AudioFormat& format) : maximumChannels(format.channelCount) {
    if (!format.isValid())
        throw AudioUnitError("The bus format is not valid.");
    storeFormat(format);
}

AudioFormat AudioUnitBus::format() const {
    return {sampleRate.load(std::memory_order_acquire), channelCount.load(std::memory_order_acquire),
            commonFormat.load(std::memory_order_acquire), interleaved.load(std::memory_order_acquire)};
}

void AudioUnitBus::storeFormat(const AudioFormat& format) {
    sampleRate.store(format.sampleRate, std::memory_order_release);
    channelCount.store(format.channelCount, std::memory_order_release);
    commonFormat.store(format.commonFormat, std::memory_order_release);
    interleaved.store(format.interleaved, std::memory_order_release);
}

void AudioUnitBus::setFormat(const AudioFormat& format) {
    if (!format.isValid())
        throw AudioUnitError("The bus format is not valid.");
    if (AudioUnitBase* owner = ownerUnit(); owner && !owner->shouldChangeToFormat(format, *this))
        throw AudioUnitError("The audio unit does not accept this format.");
    storeFormat(format);
}

AudioUnitBase* AudioUnitBus::ownerUnit() const {
    return array ? &array->ownerAudioUnit() : nullptr;
}

AudioUnitBusArray::AudioUnitBusArray(AudioUnitBase& owner, BusType type,
                                     std::vector<std::shared_ptr<AudioUnitBus>> buses)
    : owner(owner), type(type), buses(std::move(buses)) {
    for (auto& bus : this->buses)
        bus->array = this;
}

AudioUnitBusArray::~AudioUnitBusArray() {
    for (auto& bus : buses)
        if (bus->array == this)
            bus->array = nullptr;
}

AudioUnitBase::AudioUnitBase(const ComponentDescription& description, std::uint32_t options)
    : description(description), options(options) {}

AudioUnitBase::~AudioUnitBase() = default;

bool AudioUnitBase::shouldChangeToFormat(const AudioFormat& format, const AudioUnitBus&) {
    return format.isValid() && !renderResourcesAllocated();
}

void AudioUnitBase::allocateRenderResources() {
    if (AudioUnitBusArray* outputs = outputBusses()) {
        for (std::size_t index = 0; index < outputs->count(); ++index) {
            AudioFormat format = (*outputs)[index].format();
            if (!format.isValid() || format.channelCount > (*outputs)[index].maximumChannelCount())
                throw AudioUnitError("The output format is not supported.");
        }
    }
    allocated = true;
}

void AudioUnitBase::deallocateRenderResources() {
    allocated = false;
}

std::optional<StateDictionary> AudioUnitBase::fullState() const {
    std::lock_guard lock(stateMutex);
    return baseState;
}

void AudioUnitBase::setFullState(const std::optional<StateDictionary>& state) {
    std::lock_guard lock(stateMutex);
    baseState = state;
}

std::optional<StateDictionary> AudioUnitBase::fullStateForDocument() const {
    return AudioUnitBase::fullState();
}

void AudioUnitBase::setFullStateForDocument(const std::optional<StateDictionary>& state) {
    AudioUnitBase::setFullState(state);
}

} // namespace vt::au
