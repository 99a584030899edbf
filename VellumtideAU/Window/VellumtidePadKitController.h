#pragma once
// The window's model of the pad kit: the kit it shows and edits and the selected pad. It turns
// library samples and chops into pad assignments, keeps the kit in the plug-in's settings and
// hands every change to the live unit through the unit reference. A kit installed in the unit
// underneath it (a host restoring its document) is taken over once a second while the window is
// shown and before every edit, so an edit never pushes a stale kit back. Main thread only.

#include "Platform/Core/SettingsStore.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"
#include "VellumtideAU/Engine/VellumtidePadKitState.h"
#include "VellumtideAU/LibraryReader/RefreshTimer.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginRecords.h"

#include <QObject>
#include <memory>
#include <optional>

class VellumtidePadKitController final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* settingsKey = "VellumtideAU.padKitState";
    static constexpr float defaultVolume = 0.86f;
    static constexpr std::chrono::milliseconds unitCheckInterval{1000};

    // Reads the stored kit (normalised; the empty kit when none can be read), selects pad 0 and
    // hands the kit to the unit the reference holds now; a unit that already has pads keeps
    // them, and they become the window's (and the stored) kit. Without a timer the unit checks
    // run on a QTimer.
    VellumtidePadKitController(std::shared_ptr<VellumtideAudioUnitReference> audioUnitReference,
                               std::shared_ptr<vt::SettingsStore> settings,
                               std::unique_ptr<RefreshTimer> unitCheckTimer = nullptr,
                               QObject* parent = nullptr);
    ~VellumtidePadKitController() override;

    const VellumtidePadKitState& state() const { return kit; }
    void setState(VellumtidePadKitState state);
    std::int64_t selectedSlot() const { return selected; }
    void setSelectedSlot(std::int64_t slot);
    const std::shared_ptr<VellumtideAudioUnitReference>& audioUnitReference() const { return reference; }

    // Writes the normalised kit's JSON text under settingsKey; nothing when it cannot be encoded.
    void persist();

    // Takes over the unit's kit (publishing and storing it) when the unit installed another one
    // since this controller last saw or applied its kit; a new unit that has no kit yet gets the
    // window's. Returns true when the unit's kit was taken over.
    bool reconcileWithUnit();
    // What the window does each time it is shown: the reconciliation above; then, unless the
    // unit's kit was taken, a unit kit with pads that differs wins, and otherwise the window's kit
    // goes to the unit again.
    void reconcileOnShow();
    // Runs reconcileWithUnit() every unitCheckInterval until stopWatchingUnit().
    void startWatchingUnit();
    void stopWatchingUnit();
    bool isWatchingUnit() const;
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
    // Hands the kit to the unit and remembers the stamp of that installation as seen.
    void applyToUnit();
    // Publishes and stores the unit's kit when it differs from the window's.
    void adopt(VellumtidePadKitState unitKit);
    void keepUnitPadsOrApply();

    std::shared_ptr<VellumtideAudioUnitReference> reference;
    std::shared_ptr<vt::SettingsStore> settings;
    std::unique_ptr<RefreshTimer> unitCheckTimer;
    VellumtidePadKitState kit;
    std::int64_t selected = 0;
    // The unit's kit this controller last took over or installed itself.
    std::optional<VellumtideAudioUnitReference::KitStamp> seenUnitKit;
};
