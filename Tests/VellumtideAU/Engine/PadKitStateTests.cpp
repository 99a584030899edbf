#include "VellumtideAU/Engine/VellumtidePadKitState.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using Kind = VellumtidePadAssignment::SourceKind;
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

VellumtidePadAssignment pad(std::int64_t slot, std::string title = "Pad", float volume = 0.86f,
                            double pitch = 0) {
    return VellumtidePadAssignment(vt::Uuid::random(), slot, std::move(title), Kind::sample,
                                   vt::Uuid::random(), std::nullopt, "/tmp/" + std::to_string(slot) + ".wav",
                                   1.5, {0.25f, 0.5f}, volume, pitch);
}

std::vector<std::int64_t> slots(const VellumtidePadKitState& kit) {
    std::vector<std::int64_t> result;
    for (const auto& assignment : kit.assignments)
        result.push_back(assignment.slot);
    return result;
}

TEST(PadKitState, NormalisationKeepsFirstOfSlotDropsOutOfRangeAndSorts) {
    auto first = pad(3, "first");
    VellumtidePadKitState kit{{pad(7), first, pad(-1), pad(3, "second"), pad(2), pad(16), pad(11)}};
    auto normal = kit.normalized();
    EXPECT_EQ(slots(normal), (std::vector<std::int64_t>{2, 3, 7, 11}));
    EXPECT_EQ(*normal.assignment(3), first);
    EXPECT_EQ(kit.assignments.size(), 7u); // the kit itself is unchanged
    EXPECT_EQ((VellumtidePadKitState{{pad(-1), pad(16)}}).normalized(), VellumtidePadKitState::empty);

    // Same assignments in another order: unequal before normalising, equal after.
    auto a = pad(1);
    auto b = pad(5);
    VellumtidePadKitState ab{{a, b}};
    VellumtidePadKitState ba{{b, a}};
    EXPECT_NE(ab, ba);
    EXPECT_EQ(ab.normalized(), ba.normalized());
}

TEST(PadKitState, NormalisationClampsVolumePitchAndNonFiniteDisplayData) {
    VellumtidePadKitState kit{
        {pad(0, "", -0.5f, 30), pad(1, "", 2.0f, -30), pad(2, "", nan, std::nan("")), pad(3, "", 1.2f, 7.5)}};
    kit.assignments[3].duration = std::numeric_limits<double>::infinity();
    kit.assignments[3].peaks = {0.5f, nan, -std::numeric_limits<float>::infinity()};
    auto normal = kit.normalized();
    EXPECT_EQ(normal.assignments[0].volume, 0.0f);
    EXPECT_EQ(normal.assignments[0].pitchSemitones, 24.0);
    EXPECT_EQ(normal.assignments[1].volume, 1.5f);
    EXPECT_EQ(normal.assignments[1].pitchSemitones, -24.0);
    EXPECT_EQ(normal.assignments[2].volume, 0.0f);
    EXPECT_EQ(normal.assignments[2].pitchSemitones, -24.0);
    EXPECT_EQ(normal.assignments[3].volume, 1.2f);
    EXPECT_EQ(normal.assignments[3].pitchSemitones, 7.5);
    // A kit with a non-finite duration or peak could otherwise never be written.
    EXPECT_EQ(normal.assignments[3].duration, 0.0);
    EXPECT_EQ(normal.assignments[3].peaks, (std::vector<float>{0.5f, 0.0f, 0.0f}));
    EXPECT_THROW(kit.toJsonText(), vt::json::JsonError);
    EXPECT_NO_THROW(normal.toJsonText());
}

TEST(PadKitState, ReplacingRemovesEverySlotEntryAndMovesTheNewOne) {
    VellumtidePadKitState kit{{pad(2), pad(4), pad(9)}};
    EXPECT_EQ(slots(kit.replacing(4, std::nullopt)), (std::vector<std::int64_t>{2, 9}));

    auto moved = pad(9, "moved");
    auto replaced = kit.replacing(4, moved);
    EXPECT_EQ(slots(replaced), (std::vector<std::int64_t>{2, 4, 9}));
    EXPECT_EQ(replaced.assignment(4)->title, "moved");
    EXPECT_EQ(replaced.assignment(9)->id, kit.assignments[2].id);

    VellumtidePadKitState doubled{{pad(4, "a"), pad(4, "b"), pad(1)}};
    EXPECT_EQ(slots(doubled.replacing(4, std::nullopt)), (std::vector<std::int64_t>{1}));
    EXPECT_EQ(kit.replacing(20, pad(3)), kit.normalized()); // out of range: nothing removed or added
}

TEST(PadKitState, JsonFormIsCompactOrderedAndLeavesAbsentIdentifiersOut) {
    EXPECT_EQ(VellumtidePadKitState::empty.toJsonText(), R"({"assignments":[]})");
    EXPECT_EQ(VellumtidePadKitState::fromJsonText(R"({"assignments":[]})"), VellumtidePadKitState::empty);

    auto id = *vt::Uuid::parse("0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9");
    VellumtidePadAssignment chop(id, 5, "Kick \"1\"", Kind::chop, std::nullopt, std::nullopt, "/m/a.wav",
                                 0.25, {0.5f, 0.1f}, 0.86f, -3);
    EXPECT_EQ(VellumtidePadKitState{{chop}}.toJsonText(),
              R"({"assignments":[{"id":"0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9","slot":5,"title":"Kick \"1\"",)"
              R"("sourceKind":"chop","filePath":"/m/a.wav","duration":0.25,"peaks":[0.5,0.1],"volume":0.86,)"
              R"("pitchSemitones":-3.0}]})");

    auto withIds = chop;
    withIds.sourceID = vt::Uuid::random();
    withIds.parentSampleID = vt::Uuid::random();
    VellumtidePadKitState kit{{withIds, pad(0)}};
    EXPECT_EQ(VellumtidePadKitState::fromJsonText(kit.toJsonText()), kit);
}

TEST(PadKitState, ReadingIsStrictAndAllOrNothing) {
    std::string good =
        R"({"id":"0a1b2c3d-4e5f-4061-8293-a4b5c6d7e8f9","slot":1,"title":"t","sourceKind":"file",)"
        R"("sourceID":null,"filePath":"/f","duration":2,"peaks":[],"volume":1,"pitchSemitones":0,)"
        R"("extra":true})";
    auto kit = VellumtidePadKitState::fromJsonText(R"({"assignments":[)" + good + "]}");
    ASSERT_EQ(kit.assignments.size(), 1u);
    EXPECT_EQ(kit.assignments[0].sourceKind, Kind::file);
    EXPECT_FALSE(kit.assignments[0].sourceID);
    EXPECT_FALSE(kit.assignments[0].parentSampleID);

    auto unreadable = [&](const std::string& from, const std::string& to) {
        std::string broken = good;
        broken.replace(broken.find(from), from.size(), to);
        return R"({"assignments":[)" + good + "," + broken + "]}";
    };
    EXPECT_THROW(VellumtidePadKitState::fromJsonText(unreadable("\"file\"", "\"Sample\"")),
                 vt::json::JsonError);
    EXPECT_THROW(VellumtidePadKitState::fromJsonText(unreadable("\"slot\":1", "\"slot\":1.5")),
                 vt::json::JsonError);
    EXPECT_THROW(VellumtidePadKitState::fromJsonText(unreadable("\"title\":\"t\",", "")),
                 vt::json::JsonError);
    EXPECT_THROW(VellumtidePadKitState::fromJsonText(unreadable("\"volume\":1", "\"volume\":\"1\"")),
                 vt::json::JsonError);
    EXPECT_THROW(VellumtidePadKitState::fromJsonText(unreadable("\"peaks\":[]", "\"peaks\":null")),
                 vt::json::JsonError);
    EXPECT_THROW(VellumtidePadKitState::fromJsonText(R"({"pads":[]})"), vt::json::JsonError);
    EXPECT_FALSE(VellumtidePadAssignment::sourceKindFromRawValue("Chop"));
    EXPECT_EQ(VellumtidePadAssignment::sourceKindFromRawValue("chop"), Kind::chop);
}

} // namespace
