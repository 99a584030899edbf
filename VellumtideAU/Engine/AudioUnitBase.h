#pragma once
// A small, format-neutral audio-unit base: formats, buses and bus arrays, channel capabilities,
// render resources, a state dictionary, buffer lists, a realtime event list and the render-block
// signature. Plug-in formats (LV2) adapt a unit built on it; tests drive it directly.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace vt::au {

// A failure of unit or bus construction or of a format change.
class AudioUnitError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class CommonFormat { float32, int16 };

// A stream format: sample rate, channel count, sample type and layout.
struct AudioFormat {
    double sampleRate = 44100;
    std::uint32_t channelCount = 2;
    CommonFormat commonFormat = CommonFormat::float32;
    bool interleaved = false;

    // 32-bit float, not interleaved.
    static AudioFormat standard(double sampleRate, std::uint32_t channelCount) {
        return {sampleRate, channelCount, CommonFormat::float32, false};
    }
    bool isValid() const; // finite rate above 0 and at least one channel
    std::uint32_t bytesPerSample() const { return commonFormat == CommonFormat::float32 ? 4 : 2; }

    bool operator==(const AudioFormat&) const = default;
};

class AudioUnitBase;
class AudioUnitBusArray;

enum class BusType { input, output };

// One bus with its format. Buses are compared by identity. The format may be read on the render
// thread while another thread changes it between render passes, so its fields are atomic.
class AudioUnitBus {
public:
    explicit AudioUnitBus(const AudioFormat& format); // throws AudioUnitError for an invalid format
    AudioUnitBus(const AudioUnitBus&) = delete;
    AudioUnitBus& operator=(const AudioUnitBus&) = delete;

    AudioFormat format() const;
    // Asks the owning unit (shouldChangeToFormat) first; throws AudioUnitError when refused.
    void setFormat(const AudioFormat& format);

    std::uint32_t maximumChannelCount() const { return maximumChannels; }
    void setMaximumChannelCount(std::uint32_t count) { maximumChannels = count; }
    const std::vector<std::uint32_t>& supportedChannelCounts() const { return supportedCounts; }
    void setSupportedChannelCounts(std::vector<std::uint32_t> counts) { supportedCounts = std::move(counts); }

    AudioUnitBase* ownerUnit() const;

private:
    friend class AudioUnitBusArray;
    void storeFormat(const AudioFormat& format);

    std::atomic<double> sampleRate;
    std::atomic<std::uint32_t> channelCount;
    std::atomic<CommonFormat> commonFormat;
    std::atomic<bool> interleaved;
    std::uint32_t maximumChannels;
    std::vector<std::uint32_t> supportedCounts;
    AudioUnitBusArray* array = nullptr;
};

// The buses of one direction of a unit, owned by that unit.
class AudioUnitBusArray {
public:
    AudioUnitBusArray(AudioUnitBase& owner, BusType type, std::vector<std::shared_ptr<AudioUnitBus>> buses);
    ~AudioUnitBusArray();
    AudioUnitBusArray(const AudioUnitBusArray&) = delete;
    AudioUnitBusArray& operator=(const AudioUnitBusArray&) = delete;

    BusType busType() const { return type; }
    AudioUnitBase& ownerAudioUnit() const { return owner; }
    std::size_t count() const { return buses.size(); }
    AudioUnitBus& operator[](std::size_t index) const { return *buses.at(index); }

private:
    AudioUnitBase& owner;
    BusType type;
    std::vector<std::shared_ptr<AudioUnitBus>> buses;
};

// One value of a state dictionary.
using StateValue = std::variant<bool, std::int64_t, double, std::string, std::vector<std::uint8_t>>;
// The unit's saved state: keys to values, as a host stores it in a document or preset.
using StateDictionary = std::map<std::string, StateValue>;

// One buffer of a buffer list: its channel count (for interleaved data), byte size and data.
struct AudioBuffer {
    std::uint32_t numberChannels = 1;
    std::uint32_t dataByteSize = 0;
    void* data = nullptr;
};
using AudioBufferList = std::span<AudioBuffer>;

struct AudioTimeStamp {
    double sampleTime = 0;
};

enum class RenderEventType { parameter, parameterRamp, midi, midiSysEx, midiEventList };

// A sample time meaning "now": the event applies at the start of the buffer.
inline constexpr std::int64_t eventSampleTimeImmediate = static_cast<std::int64_t>(0xffffffff00000000ULL);

// One event of the realtime event list, linked to the next one. MIDI events carry up to three
// bytes inline; system-exclusive events point at their bytes; parameter events an address and value.
struct RenderEvent {
    const RenderEvent* next = nullptr;
    std::int64_t eventSampleTime = 0;
    RenderEventType eventType = RenderEventType::midi;
    std::uint8_t cable = 0;
    std::uint16_t length = 0;
    std::uint8_t data[3] = {0, 0, 0};
    const std::uint8_t* bytes = nullptr; // system-exclusive payload
    std::uint64_t parameterAddress = 0;
    float value = 0;
    std::uint32_t rampDurationSampleFrames = 0;
};

using RenderActionFlags = std::uint32_t;
using RenderPullInputBlock = std::function<int(RenderActionFlags*, const AudioTimeStamp*, std::uint32_t,
                                               std::int64_t, AudioBufferList)>;
// Called on the host's render thread once per buffer; returns a status, 0 for no error.
using RenderBlock =
    std::function<int(RenderActionFlags* actionFlags, const AudioTimeStamp* timestamp,
                      std::uint32_t frameCount, std::int64_t outputBusNumber, AudioBufferList outputData,
                      const RenderEvent* realtimeEventListHead, const RenderPullInputBlock* pullInputBlock)>;

struct ComponentDescription {
    std::uint32_t componentType = 0;
    std::uint32_t componentSubType = 0;
    std::uint32_t componentManufacturer = 0;
    std::uint32_t componentFlags = 0;
};

// The base every unit derives from; the defaults declare nothing and accept any valid format.
class AudioUnitBase {
public:
    AudioUnitBase(const ComponentDescription& description, std::uint32_t options);
    virtual ~AudioUnitBase();
    AudioUnitBase(const AudioUnitBase&) = delete;
    AudioUnitBase& operator=(const AudioUnitBase&) = delete;

    const ComponentDescription& componentDescription() const { return description; }
    std::uint32_t instantiationOptions() const { return options; }

    virtual AudioUnitBusArray* inputBusses() { return nullptr; }
    virtual AudioUnitBusArray* outputBusses() { return nullptr; }
    // Pairs of input and output channel counts; empty means any.
    virtual std::vector<int> channelCapabilities() const { return {}; }
    virtual bool shouldChangeToFormat(const AudioFormat& format, const AudioUnitBus& bus);

    // Checks that every output bus format suits the unit, then marks the resources allocated.
    virtual void allocateRenderResources(); // throws AudioUnitError
    virtual void deallocateRenderResources();
    bool renderResourcesAllocated() const { return allocated.load(); }

    // The dictionary last written, none before the first write.
    virtual std::optional<StateDictionary> fullState() const;
    virtual void setFullState(const std::optional<StateDictionary>& state);
    virtual std::optional<StateDictionary> fullStateForDocument() const;
    virtual void setFullStateForDocument(const std::optional<StateDictionary>& state);

    virtual RenderBlock internalRenderBlock() = 0;

private:
    ComponentDescription description;
    std::uint32_t options;
    std::atomic<bool> allocated{false};
    mutable std::mutex stateMutex;
    std::optional<StateDictionary> baseState;
};

} // namespace vt::au
