#pragma once
// How the plug-in window reaches whichever unit the host currently has: a weak pointer under a
// lock of its own, never held while the unit's render lock is taken.
//
// Use from the window (another loaded module than the one that made the unit):
// - Hold the reference through the std::shared_ptr the plug-in hands out; it stays valid after the
//   unit has gone, and then reads as "no unit".
// - currentState() reads the unit's kit; apply() hands it a new kit and returns once the kit's
//   files are read and the kit is installed (it blocks the calling thread meanwhile).
// - setUnitChangeHandler() tells the window when the unit goes away or another one takes its place.
// The operations are virtual so that a caller in another module always runs the code of the
// module that owns the unit: pads are made and freed by that module alone, and nothing of the
// window's module stays behind in the unit when the window's module is unloaded.

#include "VellumtideAU/Engine/VellumtidePadKitState.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class VellumtideAudioUnit;

class VellumtideAudioUnitReference {
public:
    using UnitChangeHandler = std::function<void()>;

    // Which kit a unit holds, without copying it: the unit (numbered by the reference, from 1)
    // and how many kits that unit has installed so far (0: none yet, restored or applied).
    struct KitStamp {
        std::uint64_t unit = 0;
        std::uint64_t generation = 0;
        bool operator==(const KitStamp&) const = default;
    };

    VellumtideAudioUnitReference() = default;
    virtual ~VellumtideAudioUnitReference();
    VellumtideAudioUnitReference(const VellumtideAudioUnitReference&) = delete;
    VellumtideAudioUnitReference& operator=(const VellumtideAudioUnitReference&) = delete;

    // Stores the unit weakly; a later unit replaces an earlier one. The owner of a unit calls
    // set(nullptr) when it lets the unit go. Every call runs the unit-change handler afterwards.
    virtual void set(const std::shared_ptr<VellumtideAudioUnit>& unit);
    // The current unit's kit, or none when there is no unit (never set, or released by the host).
    virtual std::optional<VellumtidePadKitState> currentState() const;
    // Hands the kit to the current unit on the calling thread; nothing without a unit.
    virtual void apply(const VellumtidePadKitState& kit) const;
    // The current unit's kit stamp, or none without a unit. Read it before currentState(): a kit
    // installed between the two reads then shows as a new stamp at the next read.
    virtual std::optional<KitStamp> kitStamp() const;
    // True while a unit is reachable.
    virtual bool hasUnit() const;
    // Why the current unit's pad on the slot did not load (see VellumtideAudioUnit::padLoadFailure);
    // empty without a unit.
    virtual std::string padLoadFailure(std::int64_t slot) const;

    // Called, with no argument, after each set(): the unit went away (the host released the
    // plug-in instance) or another unit took its place; currentState() tells which. It runs on
    // the thread that called set(), which need not be the window's: post the news to your own
    // thread and return. The handler may call currentState(), apply() and hasUnit(), but not
    // setUnitChangeHandler(). Replacing or clearing the handler (an empty function) waits for a
    // running call to finish, so once it returns the old handler is never called again: clear it
    // before the object it captures, or the module its code lives in, goes away.
    virtual void setUnitChangeHandler(UnitChangeHandler handler);

private:
    std::shared_ptr<VellumtideAudioUnit> unit() const;

    mutable std::mutex lock;
    std::weak_ptr<VellumtideAudioUnit> currentUnit;
    std::uint64_t currentUnitNumber = 0; // under lock; grows with every set()
    // Guards the handler and is held while it runs; never taken by the unit or the render thread.
    std::mutex handlerLock;
    UnitChangeHandler unitChangeHandler;
};
