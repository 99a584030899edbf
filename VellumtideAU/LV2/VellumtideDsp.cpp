// The LV2 entry of the pad instrument: run() drives the unit's render block with a running
// sample time, activate/deactivate allocate and release its render resources, and the state
// extension carries the kit's JSON text, its pad file paths in the host's portable form when the
// host maps paths (state:mapPath).

#include "VellumtideAU/Engine/VellumtideAudioUnit.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"
#include "VellumtideAU/LV2/VellumtideLV2.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace vt::au;

// 'aumu' 'Vltd' 'Kstw', as the unit's component description.
constexpr ComponentDescription componentDescription{0x61756d75, 0x566c7464, 0x4b737477, 0};

struct Instance {
    LV2_URID midiEvent = 0;
    LV2_URID atomString = 0;
    LV2_URID padKitProperty = 0;

    std::shared_ptr<VellumtideAudioUnit> unit;
    // Shared with the window, which may hold it past cleanup.
    std::shared_ptr<VellumtideAudioUnitReference> reference =
        std::make_shared<VellumtideAudioUnitReference>();
    RenderBlock renderBlock;

    const LV2_Atom_Sequence* midiIn = nullptr;
    float* outputs[2] = {nullptr, nullptr};
    std::int64_t sampleTime = 0;
    std::vector<RenderEvent> events = std::vector<RenderEvent>(VellumtideAudioUnit::eventCapacity);
    std::array<AudioBuffer, 2> buffers{};
};

Instance* instanceOf(LV2_Handle handle) {
    return static_cast<Instance*>(handle);
}

template <typename Data> const Data* findFeature(const LV2_Feature* const* features, const char* uri) {
    for (auto feature = features; feature && *feature; ++feature)
        if (std::strcmp((*feature)->URI, uri) == 0)
            return static_cast<const Data*>((*feature)->data);
    return nullptr;
}

const LV2_URID_Map* findMap(const LV2_Feature* const* features) {
    return findFeature<LV2_URID_Map>(features, LV2_URID__map);
}

// A path the host mapped, as text, handed back to the host to free; none when it gave none.
std::optional<std::string> takeMappedPath(char* mapped, const LV2_Feature* const* features) {
    if (!mapped)
        return std::nullopt;
    std::string path(mapped);
    if (auto* freePath = findFeature<LV2_State_Free_Path>(features, LV2_STATE__freePath))
        freePath->free_path(freePath->handle, mapped);
    else
        std::free(mapped);
    return path;
}

// Pad file paths as the host stores them (often relative to the session), when it maps paths;
// a path it cannot map stays absolute.
VellumtideAudioUnit::FilePathMapping storedPaths(const LV2_Feature* const* features) {
    auto* mapPath = findFeature<LV2_State_Map_Path>(features, LV2_STATE__mapPath);
    if (!mapPath)
        return nullptr;
    return [mapPath, features](const std::string& path) {
        if (path.empty())
            return path;
        return takeMappedPath(mapPath->abstract_path(mapPath->handle, path.c_str()), features).value_or(path);
    };
}

// Stored pad file paths back to absolute ones. An absolute path (as every state saved without
// path mapping holds) is used as it stands.
VellumtideAudioUnit::FilePathMapping livePaths(const LV2_Feature* const* features) {
    auto* mapPath = findFeature<LV2_State_Map_Path>(features, LV2_STATE__mapPath);
    if (!mapPath)
        return nullptr;
    return [mapPath, features](const std::string& path) {
        if (path.empty() || path.front() == '/')
            return path;
        return takeMappedPath(mapPath->absolute_path(mapPath->handle, path.c_str()), features).value_or(path);
    };
}

LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*,
                       const LV2_Feature* const* features) {
    const LV2_URID_Map* map = findMap(features);
    if (!map)
        return nullptr;
    try {
        auto instance = std::make_unique<Instance>();
        instance->midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
        instance->atomString = map->map(map->handle, LV2_ATOM__String);
        instance->padKitProperty = map->map(map->handle, vt::lv2::padKitPropertyURI);
        instance->unit = VellumtideAudioUnit::create(componentDescription);
        instance->unit->bus().setFormat(AudioFormat::standard(sampleRate, 2));
        instance->reference->set(instance->unit);
        instance->renderBlock = instance->unit->internalRenderBlock();
        return instance.release();
    } catch (const std::exception&) {
        return nullptr;
    }
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    Instance* instance = instanceOf(handle);
    switch (port) {
    case vt::lv2::midiInPort:
        instance->midiIn = static_cast<const LV2_Atom_Sequence*>(data);
        break;
    case vt::lv2::leftOutPort:
        instance->outputs[0] = static_cast<float*>(data);
        break;
    case vt::lv2::rightOutPort:
        instance->outputs[1] = static_cast<float*>(data);
        break;
    default:
        break;
    }
}

void activate(LV2_Handle handle) {
    try {
        instanceOf(handle)->unit->allocateRenderResources();
    } catch (const std::exception&) {
        // The unit renders regardless; a refused format only leaves it unallocated.
    }
}

void deactivate(LV2_Handle handle) {
    instanceOf(handle)->unit->deallocateRenderResources();
}

// Turns the atom sequence into the unit's realtime event list, in the preallocated space.
const RenderEvent* gatherEvents(Instance& instance) {
    if (!instance.midiIn)
        return nullptr;
    RenderEvent* previous = nullptr;
    RenderEvent* head = nullptr;
    std::size_t used = 0;
    LV2_ATOM_SEQUENCE_FOREACH(instance.midiIn, atomEvent) {
        if (used == instance.events.size())
            break;
        if (atomEvent->body.type != instance.midiEvent || atomEvent->body.size == 0)
            continue;
        const auto* bytes = static_cast<const std::uint8_t*>(LV2_ATOM_BODY_CONST(&atomEvent->body));
        RenderEvent& event = instance.events[used++];
        event = RenderEvent{};
        event.eventSampleTime = instance.sampleTime + atomEvent->time.frames;
        event.length = static_cast<std::uint16_t>(std::min<std::uint32_t>(atomEvent->body.size, 0xffff));
        if (bytes[0] == 0xF0) {
            event.eventType = RenderEventType::midiSysEx;
            event.bytes = bytes;
        } else {
            event.eventType = RenderEventType::midi;
            std::memcpy(event.data, bytes, std::min<std::size_t>(event.length, 3));
        }
        if (previous)
            previous->next = &event;
        else
            head = &event;
        previous = &event;
    }
    return head;
}

void run(LV2_Handle handle, uint32_t frameCount) {
    Instance& instance = *instanceOf(handle);
    if (!instance.outputs[0])
        return;
    // With the right output unconnected the unit sees one buffer and mixes half the sum into it.
    std::size_t bufferCount = instance.outputs[1] ? 2 : 1;
    for (std::size_t index = 0; index < bufferCount; ++index)
        instance.buffers[index] =
            AudioBuffer{1, frameCount * std::uint32_t(sizeof(float)), instance.outputs[index]};
    AudioTimeStamp timestamp{static_cast<double>(instance.sampleTime)};
    const RenderEvent* events = gatherEvents(instance);
    instance.renderBlock(nullptr, &timestamp, frameCount, 0,
                         AudioBufferList(instance.buffers.data(), bufferCount), events, nullptr);
    instance.sampleTime += frameCount;
}

// The window is told that the unit goes away before it does; a window call that is under way
// keeps the unit alive until it returns.
void cleanup(LV2_Handle handle) {
    std::unique_ptr<Instance> instance(instanceOf(handle));
    instance->renderBlock = nullptr;
    instance->reference->set(nullptr);
    instance->unit.reset();
}

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle stateHandle,
                      uint32_t, const LV2_Feature* const* features) {
    Instance& instance = *instanceOf(handle);
    auto dictionary = instance.unit->fullStateForDocument(storedPaths(features));
    if (!dictionary)
        return LV2_STATE_SUCCESS;
    auto found = dictionary->find(VellumtideAudioUnit::stateKey);
    const auto* text = found == dictionary->end() ? nullptr : std::get_if<std::string>(&found->second);
    if (!text)
        return LV2_STATE_SUCCESS; // the kit could not be encoded: nothing is stored
    return store(stateHandle, instance.padKitProperty, text->c_str(), text->size() + 1, instance.atomString,
                 LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle stateHandle, uint32_t, const LV2_Feature* const* features) {
    Instance& instance = *instanceOf(handle);
    std::size_t size = 0;
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    const void* value = retrieve(stateHandle, instance.padKitProperty, &size, &type, &flags);
    StateDictionary dictionary;
    // A missing property or one that is not a string restores nothing.
    if (value && type == instance.atomString) {
        const char* characters = static_cast<const char*>(value);
        dictionary[VellumtideAudioUnit::stateKey] = std::string(characters, strnlen(characters, size));
    }
    instance.unit->setFullStateForDocument(dictionary, livePaths(features));
    return LV2_STATE_SUCCESS;
}

std::shared_ptr<VellumtideAudioUnitReference> unitReference(void* handle) {
    return instanceOf(handle)->reference;
}

const LV2_State_Interface stateInterface{save, restore};
const vt::lv2::UnitAccessInterface unitAccess{vt::lv2::unitAccessVersion, unitReference};

const void* extensionData(const char* uri) {
    if (std::strcmp(uri, LV2_STATE__interface) == 0)
        return &stateInterface;
    if (std::strcmp(uri, vt::lv2::unitAccessURI) == 0)
        return &unitAccess;
    return nullptr;
}

const LV2_Descriptor descriptor{vt::lv2::pluginURI, instantiate, connectPort,  activate, run,
                                deactivate,         cleanup,     extensionData};

} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
