#include "VellumtideAU/Engine/VellumtidePadKitState.h"

#include <algorithm>
#include <cmath>
#include <set>

using vt::json::Json;
using vt::json::JsonError;

const VellumtidePadKitState VellumtidePadKitState::empty{};

std::optional<VellumtidePadAssignment::SourceKind>
VellumtidePadAssignment::sourceKindFromRawValue(std::string_view rawValue) {
    if (rawValue == "sample")
        return SourceKind::sample;
    if (rawValue == "chop")
        return SourceKind::chop;
    if (rawValue == "file")
        return SourceKind::file;
    return std::nullopt;
}

std::string VellumtidePadAssignment::rawValue(SourceKind kind) {
    switch (kind) {
    case SourceKind::sample:
        return "sample";
    case SourceKind::chop:
        return "chop";
    case SourceKind::file:
        return "file";
    }
    return "file";
}

VellumtidePadAssignment::VellumtidePadAssignment(vt::Uuid id, std::int64_t slot, std::string title,
                                                 SourceKind sourceKind, std::optional<vt::Uuid> sourceID,
                                                 std::optional<vt::Uuid> parentSampleID, std::string filePath,
                                                 double duration, std::vector<float> peaks, float volume,
                                                 double pitchSemitones)
    : id(id), slot(slot), title(std::move(title)), sourceKind(sourceKind), sourceID(sourceID),
      parentSampleID(parentSampleID), filePath(std::move(filePath)), duration(duration),
      peaks(std::move(peaks)), volume(volume), pitchSemitones(pitchSemitones) {}

VellumtidePadAssignment VellumtidePadAssignment::fromJson(const Json& value) {
    vt::json::ObjectReader reader(value);
    auto kind = sourceKindFromRawValue(reader.requireString("sourceKind"));
    if (!kind)
        throw JsonError("Unknown pad source kind");
    return VellumtidePadAssignment(
        reader.requireUuid("id"), reader.requireInt("slot"), reader.requireString("title"), *kind,
        reader.optionalUuid("sourceID"), reader.optionalUuid("parentSampleID"),
        reader.requireString("filePath"), reader.requireDouble("duration"), reader.requireFloats("peaks"),
        vt::json::toFloat(reader.require("volume")), reader.requireDouble("pitchSemitones"));
}

VellumtideKitJson VellumtidePadAssignment::toJson() const {
    auto number = [](auto value) { return vt::json::number(value).template get<double>(); };
    VellumtideKitJson object = VellumtideKitJson::object();
    object["id"] = id.string();
    object["slot"] = slot;
    object["title"] = title;
    object["sourceKind"] = rawValue(sourceKind);
    if (sourceID)
        object["sourceID"] = sourceID->string();
    if (parentSampleID)
        object["parentSampleID"] = parentSampleID->string();
    object["filePath"] = filePath;
    object["duration"] = number(duration);
    VellumtideKitJson peakArray = VellumtideKitJson::array();
    for (float peak : peaks)
        peakArray.push_back(number(peak));
    object["peaks"] = std::move(peakArray);
    object["volume"] = number(volume);
    object["pitchSemitones"] = number(pitchSemitones);
    return object;
}

std::optional<VellumtidePadAssignment> VellumtidePadKitState::assignment(std::int64_t slot) const {
    for (const auto& candidate : assignments)
        if (candidate.slot == slot)
            return candidate;
    return std::nullopt;
}

namespace {

float clampedVolume(float volume) {
    if (std::isnan(volume) || volume < 0)
        return 0;
    return std::min(volume, 1.5f);
}

double clampedPitch(double pitch) {
    if (std::isnan(pitch) || pitch < -24)
        return -24;
    return std::min(pitch, 24.0);
}

template <typename T> T finiteOrZero(T value) {
    return std::isfinite(value) ? value : T(0);
}

} // namespace

VellumtidePadKitState VellumtidePadKitState::normalized() const {
    std::set<std::int64_t> seen;
    VellumtidePadKitState result;
    for (const auto& assignment : assignments) {
        if (assignment.slot < 0 || assignment.slot >= slotCount || !seen.insert(assignment.slot).second)
            continue;
        VellumtidePadAssignment clamped = assignment;
        clamped.volume = clampedVolume(clamped.volume);
        clamped.pitchSemitones = clampedPitch(clamped.pitchSemitones);
        clamped.duration = finiteOrZero(clamped.duration);
        for (float& peak : clamped.peaks)
            peak = finiteOrZero(peak);
        result.assignments.push_back(std::move(clamped));
    }
    std::stable_sort(result.assignments.begin(), result.assignments.end(),
                     [](const auto& a, const auto& b) { return a.slot < b.slot; });
    return result;
}

VellumtidePadKitState
VellumtidePadKitState::replacing(std::int64_t slot, std::optional<VellumtidePadAssignment> assignment) const {
    VellumtidePadKitState result;
    for (const auto& existing : assignments)
        if (existing.slot != slot)
            result.assignments.push_back(existing);
    if (assignment) {
        assignment->slot = slot;
        result.assignments.push_back(std::move(*assignment));
    }
    return result.normalized();
}

VellumtidePadKitState VellumtidePadKitState::fromJson(const Json& value) {
    vt::json::ObjectReader reader(value);
    VellumtidePadKitState kit;
    for (const auto& element : vt::json::requireArray(reader.require("assignments")))
        kit.assignments.push_back(VellumtidePadAssignment::fromJson(element));
    return kit;
}

VellumtidePadKitState VellumtidePadKitState::fromJsonText(std::string_view text) {
    return fromJson(vt::json::parse(text));
}

VellumtideKitJson VellumtidePadKitState::toJson() const {
    VellumtideKitJson array = VellumtideKitJson::array();
    for (const auto& assignment : assignments)
        array.push_back(assignment.toJson());
    VellumtideKitJson object = VellumtideKitJson::object();
    object["assignments"] = std::move(array);
    return object;
}

std::string VellumtidePadKitState::toJsonText() const {
    return toJson().dump(-1, ' ', false, VellumtideKitJson::error_handler_t::replace);
}

std::size_t std::hash<VellumtidePadAssignment>::operator()(const VellumtidePadAssignment& a) const noexcept {
    std::size_t value = std::hash<vt::Uuid>{}(a.id);
    auto mix = [&value](std::size_t part) {
        value ^= part + 0x9e3779b97f4a7c15ULL + (value << 6) + (value >> 2);
    };
    mix(std::hash<std::int64_t>{}(a.slot));
    mix(std::hash<std::string>{}(a.title));
    mix(static_cast<std::size_t>(a.sourceKind));
    mix(a.sourceID ? std::hash<vt::Uuid>{}(*a.sourceID) : 1);
    mix(a.parentSampleID ? std::hash<vt::Uuid>{}(*a.parentSampleID) : 2);
    mix(std::hash<std::string>{}(a.filePath));
    mix(std::hash<double>{}(a.duration));
    for (float peak : a.peaks)
        mix(std::hash<float>{}(peak));
    mix(std::hash<float>{}(a.volume));
    mix(std::hash<double>{}(a.pitchSemitones));
    return value;
}
