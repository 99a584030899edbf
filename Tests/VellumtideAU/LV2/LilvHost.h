#pragma once
// A small LV2 host over lilv for the plug-in tests and the benchmark: URID map, a synchronous
// worker, an atom sequence of MIDI and patch messages, every port connected, state to and from
// a folder.

#include <cstdint>
#include <filesystem>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vt::test {

// URIs to numbers and back, from 1, safe to call from any thread.
class UridMap {
public:
    UridMap();
    LV2_URID map(const char* uri);
    const char* unmap(LV2_URID urid);

    LV2_URID_Map mapFeatureData;
    LV2_URID_Unmap unmapFeatureData;

private:
    std::mutex mutex;
    std::map<std::string, LV2_URID> ids;
    std::vector<std::unique_ptr<std::string>> uris;
};

// One lilv world (reading LV2_PATH) with the features a host offers.
class LilvHost {
public:
    LilvHost();
    ~LilvHost();
    LilvHost(const LilvHost&) = delete;
    LilvHost& operator=(const LilvHost&) = delete;

    // The plug-in with the URI, or nullptr when no bundle on LV2_PATH declares it.
    const LilvPlugin* plugin(const std::string& uri) const;

    LilvWorld* world = nullptr;
    UridMap urids;
};

// One instance with all ports connected; the right (second) audio output may be left unconnected.
class HostedPlugin {
public:
    HostedPlugin(LilvHost& host, const std::string& uri, double sampleRate, std::uint32_t maximumBlock,
                 bool connectSecondOutput = true);
    ~HostedPlugin();
    HostedPlugin(const HostedPlugin&) = delete;
    HostedPlugin& operator=(const HostedPlugin&) = delete;

    bool valid() const { return instance != nullptr; }

    // Events for the next run, at frames within it, in any order the test wants.
    void midi(std::uint32_t frame, std::vector<std::uint8_t> bytes);
    void noteOn(std::uint32_t frame, int note, int velocity = 127, int channel = 0) {
        midi(frame, {static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(note),
                     static_cast<std::uint8_t>(velocity)});
    }
    // A patch:Set of a path-valued property (how some samplers take their files).
    void setPathProperty(std::uint32_t frame, const std::string& propertyURI, const std::string& path);
    void setControl(const std::string& symbol, float value);

    // Runs one block (worker requests are served right after it); the events are consumed.
    void run(std::uint32_t frames);
    const std::vector<float>& output(std::size_t index) const { return audioOutputs.at(index); }
    std::size_t outputCount() const { return audioOutputs.size(); }

    // Saves the instance's state into a folder as state.ttl, with links in it to the files the state
    // names from elsewhere; restores one into this instance.
    void saveState(const std::filesystem::path& folder);
    // Takes the instance's state as a host does when it saves a session, keeping it nowhere; may
    // run on another thread while run() goes on.
    void captureState();
    bool restoreState(const std::filesystem::path& folder);
    const void* extensionData(const char* uri) const;
    LV2_Handle handle() const;

    LilvInstance* instance = nullptr;

private:
    void appendEvent(std::uint32_t frame, LV2_URID type, const void* body, std::uint32_t size);
    void serveWorker();
    static LV2_Worker_Status scheduleWork(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data);
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data);

    LilvHost& host;
    const LilvPlugin* plugin = nullptr;
    std::uint32_t maximumBlock;
    std::vector<std::uint64_t> sequenceStorage; // 8-byte aligned atom storage
    std::vector<std::vector<std::uint64_t>> atomOutputs;
    std::vector<std::vector<float>> audioOutputs;
    std::vector<std::vector<float>> audioInputs;
    std::map<std::string, std::uint32_t> controlIndex;
    std::vector<float> controls;
    LV2_Atom_Sequence* sequence = nullptr;
    LV2_Worker_Schedule scheduleData{};
    const LV2_Worker_Interface* worker = nullptr;
    std::vector<std::vector<std::uint8_t>> workRequests;
    std::vector<std::vector<std::uint8_t>> workResponses;
    std::vector<LV2_Feature> featureStore;
    std::vector<const LV2_Feature*> features;
};

} // namespace vt::test
