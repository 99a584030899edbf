#pragma once
// The pad instrument: no input, one output bus, note-ons 36 to 51 start one-shot voices of the
// kit's 16 pads, mixed with linear interpolation; the kit travels in the document state.

#include "VellumtideAU/Engine/AudioUnitBase.h"
#include "VellumtideAU/Engine/VellumtideLoadedPad.h"
#include "VellumtideAU/Engine/VellumtidePadKitState.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One sounding pad; gain and rate are fixed at the note-on.
struct VellumtidePadVoice {
    std::int64_t slot = 0;
    std::shared_ptr<const VellumtideLoadedPad> pad;
    double position = 0;
    double rateRatio = 1;
    float gain = 1;
};

// One three-byte MIDI message of the current buffer at its frame offset.
struct VellumtideMIDIEvent {
    std::int64_t offset = 0;
    std::uint8_t status = 0;
    std::uint8_t note = 0;
    std::uint8_t velocity = 0;
};

class VellumtideAudioUnit final : public vt::au::AudioUnitBase,
                                  public std::enable_shared_from_this<VellumtideAudioUnit> {
    struct Token {};

public:
    static constexpr std::size_t maximumVoiceCount = 40;
    static constexpr int firstNote = 36;
    // MIDI events of one buffer beyond this many are ignored; the space is allocated up front.
    static constexpr std::size_t eventCapacity = 4096;
    static constexpr const char* stateKey = "VellumtidePadKit";

    using LoadedPadTable =
        std::array<std::shared_ptr<const VellumtideLoadedPad>, VellumtidePadKitState::slotCount>;
    // Turns a pad file path into the form a document stores, or back (a host's path mapping).
    using FilePathMapping = std::function<std::string(const std::string&)>;

    // Throws vt::au::AudioUnitError when the base or the bus cannot be made.
    static std::shared_ptr<VellumtideAudioUnit> create(const vt::au::ComponentDescription& description,
                                                       std::uint32_t options = 0);
    VellumtideAudioUnit(Token, const vt::au::ComponentDescription& description, std::uint32_t options);
    ~VellumtideAudioUnit() override;

    vt::au::AudioUnitBusArray* outputBusses() override { return outputBusArray.get(); }
    std::vector<int> channelCapabilities() const override { return {0, 1, 0, 2}; }
    bool shouldChangeToFormat(const vt::au::AudioFormat& format, const vt::au::AudioUnitBus& bus) override;
    void deallocateRenderResources() override;

    std::optional<vt::au::StateDictionary> fullState() const override;
    void setFullState(const std::optional<vt::au::StateDictionary>& state) override;
    std::optional<vt::au::StateDictionary> fullStateForDocument() const override;
    void setFullStateForDocument(const std::optional<vt::au::StateDictionary>& state) override;
    // The document state with each pad's file path as `toStored` gives it, and its restoring with
    // each stored path as `toLive` gives it back; the unit's own kit always holds live paths.
    std::optional<vt::au::StateDictionary> fullStateForDocument(const FilePathMapping& toStored) const;
    void setFullStateForDocument(const std::optional<vt::au::StateDictionary>& state,
                                 const FilePathMapping& toLive);

    // A new block on every call; it holds the unit weakly and owns its event scratch space.
    // One block is called by one render thread at a time. The block never waits for a lock: when
    // another thread is swapping pads or dropping voices at that moment, the pass writes silence,
    // its voices hold their place and its note-ons sound at the first frame of the next pass.
    vt::au::RenderBlock internalRenderBlock() override;

    // Normalises the kit, reads the files that changed (blocking the caller, never the render
    // thread) and swaps in the kit and its pads; calls on several threads are serialised so the
    // latest call's kit is the one installed.
    void applyPadKit(const VellumtidePadKitState& kit);
    VellumtidePadKitState padKitState() const;
    // The installed kit itself, shared and never changed: no copy, no wait for the render thread.
    std::shared_ptr<const VellumtidePadKitState> padKitSnapshot() const;
    // Why the slot's file did not load at the last installation ("\"kick.wav\" is longer than 10
    // minutes and was not loaded."), or empty when it loaded or the slot has no assignment.
    std::string padLoadFailure(std::int64_t slot) const;
    // Grows by one with every kit installed, whether by a kit application or a state restore, so a
    // window can tell that the kit changed underneath it.
    std::uint64_t kitGeneration() const { return installedKitGeneration.load(std::memory_order_acquire); }

    // Copies for inspection, taken under the render lock (never held long enough to matter).
    std::shared_ptr<const VellumtideLoadedPad> loadedPad(std::int64_t slot) const;
    std::vector<VellumtidePadVoice> voiceSnapshot() const;

    vt::au::AudioUnitBus& bus() const { return *outputBus; }

private:
    friend struct VellumtideAudioUnitTestProbe; // tests hold the render lock to meet a missed pass

    // The render block's own space: this pass's events, led by those a missed pass carried over.
    struct RenderScratch {
        std::vector<VellumtideMIDIEvent> events;
        std::size_t carried = 0;
    };
    // A kit as installed, with why each slot's file did not load; replaced whole, never changed.
    struct InstalledKit {
        VellumtidePadKitState kit;
        std::array<std::string, VellumtidePadKitState::slotCount> loadFailures;
    };

    int render(const vt::au::AudioTimeStamp* timestamp, std::uint32_t frameCount,
               vt::au::AudioBufferList output, const vt::au::RenderEvent* events, RenderScratch& scratch);
    static void midiEvents(const vt::au::RenderEvent* head, const vt::au::AudioTimeStamp* timestamp,
                           std::uint32_t frameCount, RenderScratch& into);
    static void carryOver(RenderScratch& scratch);
    void playEvents(vt::au::AudioBufferList output, std::uint32_t frameCount,
                    const std::vector<VellumtideMIDIEvent>& events, const vt::au::AudioFormat& format);
    void startVoice(std::int64_t slot, std::uint8_t velocity);
    void renderVoices(vt::au::AudioBufferList output, std::uint32_t startFrame, std::uint32_t frameCount,
                      std::uint32_t channelCount, bool isInterleaved);
    void removeVoice(std::size_t index);
    static void clear(vt::au::AudioBufferList output);

    // Empties the voice list under the render lock; the voices are released by the caller.
    std::vector<VellumtidePadVoice> takeVoices();
    std::shared_ptr<const InstalledKit> installedKit() const;
    std::optional<vt::au::StateDictionary> encodedStateDictionary(std::optional<vt::au::StateDictionary> base,
                                                                  const FilePathMapping& toStored) const;
    void decodeStateDictionary(const std::optional<vt::au::StateDictionary>& dictionary,
                               const FilePathMapping& toLive);

    std::shared_ptr<vt::au::AudioUnitBus> outputBus;
    std::unique_ptr<vt::au::AudioUnitBusArray> outputBusArray;

    // Guards loadedPads, voices and retiredPads. The render pass holds it throughout but only ever
    // tries it; every other holder keeps it for a table copy or swap, never while allocating,
    // freeing, reading files or encoding.
    mutable std::mutex renderLock;
    LoadedPadTable loadedPads;
    std::vector<VellumtidePadVoice> voices;
    // Pads no longer in the table that ended voices still held, kept so the render thread never
    // frees them; released by the next kit application, format change or deallocation.
    std::vector<std::shared_ptr<const VellumtideLoadedPad>> retiredPads;

    // Guards only the pointer to the installed kit (always normalised); never taken by the render
    // thread, and held only to copy or swap the pointer, so a state save copies nothing under it.
    mutable std::mutex kitLock;
    std::shared_ptr<const InstalledKit> installed;

    // Serialises kit applications; never taken by the render thread.
    std::mutex applyMutex;
    std::atomic<std::uint64_t> applyTickets{0};
    std::uint64_t installedTicket = 0; // under applyMutex
    std::atomic<std::uint64_t> installedKitGeneration{0};
};
