#pragma once
// How the plug-in window reaches whichever unit the host currently has: a weak pointer under a
// lock of its own, never held while the unit's render lock is taken.

#include "VellumtideAU/Engine/VellumtidePadKitState.h"

#include <memory>
#include <mutex>
#include <optional>

class VellumtideAudioUnit;

class VellumtideAudioUnitReference {
public:
    VellumtideAudioUnitReference() = default;
    VellumtideAudioUnitReference(const VellumtideAudioUnitReference&) = delete;
    VellumtideAudioUnitReference& operator=(const VellumtideAudioUnitReference&) = delete;

    // Stores the unit weakly; a later unit replaces an earlier one.
    void set(const std::shared_ptr<VellumtideAudioUnit>& unit);
    // The current unit's kit, or none when there is no unit (never set, or released by the host).
    std::optional<VellumtidePadKitState> currentState() const;
    // Hands the kit to the current unit on the calling thread; nothing without a unit.
    void apply(const VellumtidePadKitState& kit) const;

private:
    std::shared_ptr<VellumtideAudioUnit> unit() const;

    mutable std::mutex lock;
    std::weak_ptr<VellumtideAudioUnit> currentUnit;
};
