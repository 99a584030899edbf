#include "Tests/VellumtideAU/LV2/LilvHost.h"

#include <cmath>
#include <cstring>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <stdexcept>

namespace vt::test {

namespace {

std::mutex workMutex;

} // namespace

UridMap::UridMap() {
    mapFeatureData = {this, [](LV2_URID_Map_Handle self, const char* uri) {
                          return static_cast<UridMap*>(self)->map(uri);
                      }};
    unmapFeatureData = {this, [](LV2_URID_Unmap_Handle self, LV2_URID urid) {
                            return static_cast<UridMap*>(self)->unmap(urid);
                        }};
}

LV2_URID UridMap::map(const char* uri) {
    std::lock_guard lock(mutex);
    auto [it, inserted] = ids.try_emplace(uri, static_cast<LV2_URID>(ids.size() + 1));
    if (inserted)
        uris.push_back(std::make_unique<std::string>(uri));
    return it->second;
}

const char* UridMap::unmap(LV2_URID urid) {
    std::lock_guard lock(mutex);
    return urid >= 1 && urid <= uris.size() ? uris[urid - 1]->c_str() : nullptr;
}

LilvHost::LilvHost() : world(lilv_world_new()) {
    lilv_world_load_all(world);
}

LilvHost::~LilvHost() {
    lilv_world_free(world);
}

const LilvPlugin* LilvHost::plugin(const std::string& uri) const {
    LilvNode* node = lilv_new_uri(world, uri.c_str());
    const LilvPlugin* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
    lilv_node_free(node);
    return found;
}

HostedPlugin::HostedPlugin(LilvHost& host, const std::string& uri, double sampleRate,
                           std::uint32_t maximumBlock, bool connectSecondOutput)
    : host(host), plugin(host.plugin(uri)), maximumBlock(maximumBlock) {
    if (!plugin)
        return;
    scheduleData = {this, scheduleWork};
    featureStore = {{LV2_URID__map, &host.urids.mapFeatureData},
                    {LV2_URID__unmap, &host.urids.unmapFeatureData},
                    {LV2_WORKER__schedule, &scheduleData}};
    for (auto& feature : featureStore)
        features.push_back(&feature);
    features.push_back(nullptr);
    instance = lilv_plugin_instantiate(plugin, sampleRate, features.data());
    if (!instance)
        return;
    worker = static_cast<const LV2_Worker_Interface*>(
        lilv_instance_get_extension_data(instance, LV2_WORKER__interface));

    LilvWorld* world = host.world;
    LilvNode* audio = lilv_new_uri(world, LV2_CORE__AudioPort);
    LilvNode* control = lilv_new_uri(world, LV2_CORE__ControlPort);
    LilvNode* atom = lilv_new_uri(world, LV2_ATOM__AtomPort);
    LilvNode* input = lilv_new_uri(world, LV2_CORE__InputPort);
    std::uint32_t portCount = lilv_plugin_get_num_ports(plugin);
    controls.assign(portCount, 0);
    std::vector<float> defaults(portCount, 0);
    lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
    audioOutputs.reserve(portCount);
    audioInputs.reserve(portCount);
    atomOutputs.reserve(portCount);
    sequenceStorage.assign(8192, 0);
    sequence = reinterpret_cast<LV2_Atom_Sequence*>(sequenceStorage.data());
    for (std::uint32_t index = 0; index < portCount; ++index) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
        bool isInput = lilv_port_is_a(plugin, port, input);
        void* data = nullptr;
        if (lilv_port_is_a(plugin, port, audio)) {
            auto& buffers = isInput ? audioInputs : audioOutputs;
            buffers.emplace_back(maximumBlock, 0.0f);
            bool skip = !isInput && buffers.size() == 2 && !connectSecondOutput;
            data = skip ? nullptr : buffers.back().data();
        } else if (lilv_port_is_a(plugin, port, control)) {
            controls[index] = std::isnan(defaults[index]) ? 0 : defaults[index];
            controlIndex[lilv_node_as_string(lilv_port_get_symbol(plugin, port))] = index;
            data = &controls[index];
        } else if (lilv_port_is_a(plugin, port, atom)) {
            if (isInput) {
                data = sequence;
            } else {
                atomOutputs.emplace_back(8192, 0);
                data = atomOutputs.back().data();
            }
        }
        lilv_instance_connect_port(instance, index, data);
    }
    for (LilvNode* node : {audio, control, atom, input})
        lilv_node_free(node);
    sequence->atom.type = host.urids.map(LV2_ATOM__Sequence);
    sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
    sequence->body.unit = 0;
    lilv_instance_activate(instance);
}

HostedPlugin::~HostedPlugin() {
    if (instance) {
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
}

void HostedPlugin::appendEvent(std::uint32_t frame, LV2_URID type, const void* body, std::uint32_t size) {
    std::vector<std::uint64_t> storage((sizeof(LV2_Atom_Event) + size + 7) / 8 + 1, 0);
    auto* event = reinterpret_cast<LV2_Atom_Event*>(storage.data());
    event->time.frames = frame;
    event->body.type = type;
    event->body.size = size;
    std::memcpy(event + 1, body, size);
    std::uint32_t capacity = static_cast<std::uint32_t>(sequenceStorage.size() * 8 - sizeof(LV2_Atom));
    if (!lv2_atom_sequence_append_event(sequence, capacity, event))
        throw std::runtime_error("The event sequence is full");
}

void HostedPlugin::midi(std::uint32_t frame, std::vector<std::uint8_t> bytes) {
    appendEvent(frame, host.urids.map(LV2_MIDI__MidiEvent), bytes.data(),
                static_cast<std::uint32_t>(bytes.size()));
}

void HostedPlugin::setPathProperty(std::uint32_t frame, const std::string& propertyURI,
                                   const std::string& path) {
    std::vector<std::uint8_t> buffer(path.size() + 1024);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &host.urids.mapFeatureData);
    lv2_atom_forge_set_buffer(&forge, buffer.data(), buffer.size());
    LV2_Atom_Forge_Frame object;
    auto* atom = reinterpret_cast<LV2_Atom*>(
        lv2_atom_forge_object(&forge, &object, 0, host.urids.map(LV2_PATCH__Set)));
    lv2_atom_forge_key(&forge, host.urids.map(LV2_PATCH__property));
    lv2_atom_forge_urid(&forge, host.urids.map(propertyURI.c_str()));
    lv2_atom_forge_key(&forge, host.urids.map(LV2_PATCH__value));
    lv2_atom_forge_path(&forge, path.c_str(), static_cast<std::uint32_t>(path.size()));
    lv2_atom_forge_pop(&forge, &object);
    appendEvent(frame, atom->type, atom + 1, atom->size);
}

void HostedPlugin::setControl(const std::string& symbol, float value) {
    controls.at(controlIndex.at(symbol)) = value;
}

void HostedPlugin::run(std::uint32_t frames) {
    if (frames > maximumBlock)
        throw std::runtime_error("Block larger than the buffers");
    for (auto& output : atomOutputs) {
        auto* chunk = reinterpret_cast<LV2_Atom*>(output.data());
        chunk->type = host.urids.map(LV2_ATOM__Chunk);
        chunk->size = static_cast<std::uint32_t>(output.size() * 8 - sizeof(LV2_Atom));
    }
    lilv_instance_run(instance, frames);
    sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
    serveWorker();
}

LV2_Worker_Status HostedPlugin::scheduleWork(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                             const void* data) {
    auto* self = static_cast<HostedPlugin*>(handle);
    std::lock_guard lock(workMutex);
    auto bytes = static_cast<const std::uint8_t*>(data);
    self->workRequests.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status HostedPlugin::respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
    auto* self = static_cast<HostedPlugin*>(handle);
    auto bytes = static_cast<const std::uint8_t*>(data);
    self->workResponses.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

void HostedPlugin::serveWorker() {
    if (!worker)
        return;
    std::vector<std::vector<std::uint8_t>> requests;
    {
        std::lock_guard lock(workMutex);
        requests.swap(workRequests);
    }
    LV2_Handle pluginHandle = lilv_instance_get_handle(instance);
    for (auto& request : requests)
        worker->work(pluginHandle, respond, this, static_cast<uint32_t>(request.size()), request.data());
    for (auto& response : workResponses)
        worker->work_response(pluginHandle, static_cast<uint32_t>(response.size()), response.data());
    workResponses.clear();
    if (worker->end_run)
        worker->end_run(pluginHandle);
}

void HostedPlugin::saveState(const std::filesystem::path& folder) {
    std::string dir = folder.string();
    // As jalv does: files from outside the folder are linked into it, so the folder stands alone.
    LilvState* state = lilv_state_new_from_instance(
        plugin, instance, &host.urids.mapFeatureData, nullptr, dir.c_str(), dir.c_str(), dir.c_str(),
        [](const char*, void*, uint32_t*, uint32_t*) -> const void* { return nullptr; }, nullptr,
        LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features.data());
    if (!state)
        throw std::runtime_error("The plug-in state could not be read");
    int failed = lilv_state_save(host.world, &host.urids.mapFeatureData, &host.urids.unmapFeatureData, state,
                                 nullptr, dir.c_str(), "state.ttl");
    lilv_state_free(state);
    if (failed)
        throw std::runtime_error("The plug-in state could not be saved");
}

void HostedPlugin::captureState() {
    LilvState* state = lilv_state_new_from_instance(
        plugin, instance, &host.urids.mapFeatureData, nullptr, nullptr, nullptr, nullptr,
        [](const char*, void*, uint32_t*, uint32_t*) -> const void* { return nullptr; }, nullptr,
        LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features.data());
    if (!state)
        throw std::runtime_error("The plug-in state could not be read");
    lilv_state_free(state);
}

bool HostedPlugin::restoreState(const std::filesystem::path& folder) {
    std::string file = (folder / "state.ttl").string();
    LilvState* state =
        lilv_state_new_from_file(host.world, &host.urids.mapFeatureData, nullptr, file.c_str());
    if (!state)
        return false;
    lilv_state_restore(state, instance, nullptr, nullptr, 0, features.data());
    lilv_state_free(state);
    return true;
}

const void* HostedPlugin::extensionData(const char* uri) const {
    return lilv_instance_get_extension_data(instance, uri);
}

LV2_Handle HostedPlugin::handle() const {
    return lilv_instance_get_handle(instance);
}

} // namespace vt::test
