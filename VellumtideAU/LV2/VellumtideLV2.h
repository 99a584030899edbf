#pragma once
// The identifiers of the LV2 bundle and the private, versioned interface through which the
// plug-in window reaches the unit: only its VellumtideAudioUnitReference.
//
// How the window (an LV2 UI in this bundle) gets there:
// 1. Its .ttl lists lv2:requiredFeature <http://lv2plug.in/ns/ext/instance-access> and
//    <http://lv2plug.in/ns/ext/data-access>. At instantiate the host passes the plug-in
//    instance's LV2_Handle (instance-access) and an LV2_Extension_Data_Feature (data-access).
// 2. data_access(unitAccessURI) gives a UnitAccessInterface; check `version` first.
// 3. unitReference(handle) gives a shared reference that stays valid for as long as the window
//    holds it, also after the host has cleaned up the instance; it then reads as "no unit". (The
//    DSP module, where the reference's code lives, is never unloaded once loaded.)
// 4. The reference's setUnitChangeHandler() is called when the instance lets its unit go
//    (cleanup), on the host's thread: post to the window's thread there, and clear the handler
//    in the UI's own cleanup.

#include <cstdint>
#include <memory>

class VellumtideAudioUnitReference;

namespace vt::lv2 {

inline constexpr const char* pluginURI = "urn:kestrelworks:vellumtide:pad-sampler";
// The document-state property holding the kit's JSON text (an atom:String).
inline constexpr const char* padKitPropertyURI = "urn:kestrelworks:vellumtide:state#VellumtidePadKit";
// extension_data() of this URI returns a UnitAccessInterface.
inline constexpr const char* unitAccessURI = "urn:kestrelworks:vellumtide:unit-access#v1";
inline constexpr std::uint32_t unitAccessVersion = 1;

// Ports of the DSP module, in index order.
enum Port : std::uint32_t { midiInPort = 0, leftOutPort = 1, rightOutPort = 2 };

// Both sides are built from this tree with the same compiler, so C++ types may cross it.
struct UnitAccessInterface {
    std::uint32_t version; // unitAccessVersion
    // The reference of an instance (its LV2_Handle); never null for a live instance.
    std::shared_ptr<VellumtideAudioUnitReference> (*unitReference)(void* instance);
};

} // namespace vt::lv2
