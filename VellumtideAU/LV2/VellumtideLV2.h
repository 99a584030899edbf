#pragma once
// The identifiers of the LV2 bundle and the private, versioned interface through which the
// plug-in window (given the instance by the host) reaches the unit: only its reference.

#include <cstdint>

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

struct UnitAccessInterface {
    std::uint32_t version; // unitAccessVersion
    // The reference of an instance (the LV2 handle); it lives as long as the instance.
    VellumtideAudioUnitReference* (*unitReference)(void* instance);
};

} // namespace vt::lv2
