#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"

#include "VellumtideAU/Engine/VellumtideAudioUnit.h"

void VellumtideAudioUnitReference::set(const std::shared_ptr<VellumtideAudioUnit>& unit) {
    std::lock_guard guard(lock);
    currentUnit = unit;
}

std::shared_ptr<VellumtideAudioUnit> VellumtideAudioUnitReference::unit() const {
    std::lock_guard guard(lock);
    return currentUnit.lock();
}

std::optional<VellumtidePadKitState> VellumtideAudioUnitReference::currentState() const {
    auto current = unit(); // the reference lock is released before the unit is touched
    if (!current)
        return std::nullopt;
    return current->padKitState();
}

void VellumtideAudioUnitReference::apply(const VellumtidePadKitState& kit) const {
    if (auto current = unit())
        current->applyPadKit(kit);
}
