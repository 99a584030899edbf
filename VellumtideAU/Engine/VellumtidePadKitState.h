#pragma once
// The pad kit: what each of the 16 pads plays, its normalisation, its edits and its JSON form
// (the same text in the host's document and in the window's settings).

#include "Platform/Core/Json.h"
#include "Platform/Core/Uuid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// JSON that keeps its keys in insertion order, for the fixed key order of the written form.
using VellumtideKitJson = nlohmann::ordered_json;

// One pad's sound: the file it plays with its display data, volume and pitch.
struct VellumtidePadAssignment {
    enum class SourceKind { sample, chop, file };

    static std::optional<SourceKind>
    sourceKindFromRawValue(std::string_view rawValue); // exact, case-sensitive
    static std::string rawValue(SourceKind kind);

    VellumtidePadAssignment(vt::Uuid id, std::int64_t slot, std::string title, SourceKind sourceKind,
                            std::optional<vt::Uuid> sourceID, std::optional<vt::Uuid> parentSampleID,
                            std::string filePath, double duration, std::vector<float> peaks,
                            float volume = 0.86f, double pitchSemitones = 0);

    vt::Uuid id;
    std::int64_t slot;
    std::string title;
    SourceKind sourceKind;
    std::optional<vt::Uuid> sourceID;
    std::optional<vt::Uuid> parentSampleID;
    std::string filePath;
    double duration;
    std::vector<float> peaks;
    float volume;
    double pitchSemitones;

    // Every key but "sourceID" and "parentSampleID" is required; throws vt::json::JsonError.
    static VellumtidePadAssignment fromJson(const vt::json::Json& value);
    // Keys in their fixed order; absent UUIDs are left out; throws for a non-finite number.
    VellumtideKitJson toJson() const;

    bool operator==(const VellumtidePadAssignment&) const = default;
};

// The kit: the assignments of the pads that have one.
struct VellumtidePadKitState {
    static constexpr std::int64_t slotCount = 16;
    static const VellumtidePadKitState empty;

    std::vector<VellumtidePadAssignment> assignments;

    // The first assignment of the slot in list order.
    std::optional<VellumtidePadAssignment> assignment(std::int64_t slot) const;
    // Slots 0...15 only, first of a slot wins, ascending slots, volume 0...1.5, pitch -24...24;
    // a duration or peak that is not finite becomes 0 so the kit can always be written.
    VellumtidePadKitState normalized() const;
    // Every assignment of the slot removed, the given one (moved to that slot) added, normalised.
    VellumtidePadKitState replacing(std::int64_t slot,
                                    std::optional<VellumtidePadAssignment> assignment) const;

    // The whole kit or an exception (vt::json::JsonError); no partial result.
    static VellumtidePadKitState fromJson(const vt::json::Json& value);
    static VellumtidePadKitState fromJsonText(std::string_view text);
    VellumtideKitJson toJson() const;
    std::string toJsonText() const; // compact; throws vt::json::JsonError for non-finite numbers

    bool operator==(const VellumtidePadKitState&) const = default;
};

// Hashing over all eleven fields, for sets of assignments.
template <> struct std::hash<VellumtidePadAssignment> {
    std::size_t operator()(const VellumtidePadAssignment& assignment) const noexcept;
};
