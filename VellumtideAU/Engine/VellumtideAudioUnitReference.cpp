#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"

#include "VellumtideAU/Engine/VellumtideAudioUnit.h"

#include <utility>

VellumtideAudioUnitReference::~VellumtideAudioUnitReference() = default;

void VellumtideAudioUnitReference::set(const std::shared_ptr<VellumtideAudioUnit>& unit) {
    {
        std::lock_guard guard(lock);
        currentUnit = unit;
        ++currentUnitNumber;
    }
    std::lock_guard guard(handlerLock);
    if (unitChangeHandler)
        unitChangeHandler();
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

std::optional<VellumtideAudioUnitReference::KitStamp> VellumtideAudioUnitReference::kitStamp() const {
    std::shared_ptr<VellumtideAudioUnit> current;
    std::uint64_t number = 0;
    {
        std::lock_guard guard(lock);
        current = currentUnit.lock();
        number = currentUnitNumber;
    }
    if (!current)
        return std::nullopt;
    return KitStamp{number, current->kitGeneration()};
}

bool VellumtideAudioUnitReference::hasUnit() const {
    return unit() != nullptr;
}

std::string VellumtideAudioUnitReference::padLoadFailure(std::int64_t slot) const {
    auto current = unit();
    return current ? current->padLoadFailure(slot) : std::string();
}

void VellumtideAudioUnitReference::setUnitChangeHandler(UnitChangeHandler handler) {
    UnitChangeHandler previous;
    {
        std::lock_guard guard(handlerLock);
        previous = std::exchange(unitChangeHandler, std::move(handler));
    }
    // The old handler (and what it captured) is released outside the lock.
}
