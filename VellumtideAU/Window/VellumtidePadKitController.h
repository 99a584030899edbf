#pragma once
// The window's model of the pad kit: the kit it shows and edits and the selected pad. It turns
// library samples and chops into pad assignments, keeps the kit in the plug-in's settings and
// hands every change to the live unit through the unit reference. Main thread only.

#include "Platform/Core/SettingsStore.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"
#include "VellumtideAU/Engine/VellumtidePadKitState.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginRecords.h"

#include <QObject>
#include <memory>
#include <optional>

class VellumtidePadKitController final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* settingsKey = "VellumtideAU.padKitState";
    static constexpr float defaultVolume = 0.86f;

    // Reads the stored kit (normalised; the empty kit when none can be read), selects pad 0 and
    // hands the kit to the unit the reference holds now; a unit that already has pads keeps
    // them, and they become the window's (and the stored) kit.
    VellumtidePadKitController(std::shared_ptr<VellumtideAudioUnitReference> audioUnitReference,
                               std::shared_ptr<vt::SettingsStore> settings, QObject* parent = nullptr);

    const VellumtidePadKitState& state() const { return kit; }
    void setState(VellumtidePadKitState state);
    std::int64_t selectedSlot() const { return selected; }
    void setSelectedSlot(std::int64_t slot);
    const std::shared_ptr<VellumtideAudioUnitReference>& audioUnitReference() const { return reference; }

    // Writes the normalised kit's JSON text under settingsKey; nothing when it cannot be encoded.
    void persist();
    // Put an available sample or chop on the selected pad, keeping that pad's volume and pitch,
    // and select the next pad. Unavailable ones are ignored.
    void load(const VellumtidePluginSample& sample);
    void load(const VellumtidePluginChop& chop, const VellumtidePluginSample& sample);
    // Copies the selected pad's volume and pitch into the assignment, when that pad has one.
    void carryPadTuning(VellumtidePadAssignment& assignment) const;
    // Stores the assignment (or nothing) on the selected pad, persists, applies to the unit and,
    // with advance, selects the next pad (15 wraps to 0).
    void setAssignment(std::optional<VellumtidePadAssignment> assignment, bool advance);
    // Volume clamped to 0...1.5, pitch to -24...24 (not a number: the lower bound); nothing for
    // a pad without an assignment.
    void setVolume(double volume, std::int64_t slot);
    void setPitch(double pitchSemitones, std::int64_t slot);

    // "<sample title> 03" for chop index 2.
    static std::string chopPadTitle(const VellumtidePluginChop& chop, const VellumtidePluginSample& sample);
    // The chop's stretch of the sample's overview, resampled to 18...64 points.
    static std::vector<float> chopPeaks(const VellumtidePluginChop& chop,
                                        const VellumtidePluginSample& sample);

signals:
    // Emitted on every write, also of an equal value.
    void stateChanged();
    void selectedSlotChanged();

private:
    static VellumtidePadKitState storedKit(const vt::SettingsStore& settings);
    void storeTunedAssignment(VellumtidePadAssignment assignment);

    std::shared_ptr<VellumtideAudioUnitReference> reference;
    std::shared_ptr<vt::SettingsStore> settings;
    VellumtidePadKitState kit;
    std::int64_t selected = 0;
};
